#pragma once

// Menus driven the way the operator drives them: a right-click pops the menu up, and a click
// on an item's rectangle chooses it. A menu handed to the test and triggered by hand skips the
// very path on which a menu's owner can be deleted under it.

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPointer>
#include <QtTest>

namespace PopupMenus {

// The menu that is popped up now, or null.
inline QMenu *shownMenu()
{
    return qobject_cast<QMenu *>(QApplication::activePopupWidget());
}

// Right-clicks `widget` at `position` and answers the context menu that popped up.
inline QMenu *rightClick(QWidget *widget, QPoint position)
{
    QTest::mouseClick(widget, Qt::RightButton, {}, position);
    // The window turns the click into a context menu request; QTest hands widgets the mouse
    // events directly, so send that request as the window would.
    QContextMenuEvent request(QContextMenuEvent::Mouse, position, widget->mapToGlobal(position));
    QApplication::sendEvent(widget, &request);
    if (!QTest::qWaitFor([] { return shownMenu() && shownMenu()->isVisible(); }, 2000))
        return nullptr;
    return shownMenu();
}

// Asks `focused` for its context menu as the menu key does: the window sends the request to
// the focus widget at the middle of its input cursor rectangle, whatever the mouse is over.
inline QMenu *keyboardMenu(QWidget *focused)
{
    const QPoint at = focused->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
    QContextMenuEvent request(QContextMenuEvent::Keyboard, at, focused->mapToGlobal(at));
    QApplication::sendEvent(focused, &request);
    if (!QTest::qWaitFor([] { return shownMenu() && shownMenu()->isVisible(); }, 2000))
        return nullptr;
    return shownMenu();
}

inline QAction *item(const QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

// Clicks the item titled `text` on its rectangle. The menu and `owner` (the widget the menu
// was opened on) must both live through the click: whatever the item rebuilds goes later.
inline bool choose(QMenu *menu, const QString &text, QWidget *owner = nullptr)
{
    QAction *action = menu ? item(menu, text) : nullptr;
    if (!action)
        return false;
    const QPointer<QMenu> alive(menu);
    const QPointer<QWidget> ownerAlive(owner);
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    const bool survived = alive && (!owner || ownerAlive);
    // The menu and whatever was rebuilt under it go now, as the event loop would see to.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return survived;
}

} // namespace PopupMenus
