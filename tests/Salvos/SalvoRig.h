#pragma once

#include "ControllerRig.h"
#include "PopupMenus.h"
#include "Theme/Controls.h"
#include "Views/Salvos/SalvoFireConfirmation.h"
#include "Views/Salvos/SalvoRow.h"
#include "Views/Salvos/SalvoSheet.h"
#include "Views/Salvos/SalvoStrip.h"
#include "Views/Salvos/SalvoViews.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

inline Salvo makeSalvo(const QString &name, QList<Route> routes,
                       std::optional<QUuid> panelID = std::nullopt)
{
    Salvo salvo;
    salvo.name = name;
    salvo.routes = std::move(routes);
    salvo.panelID = panelID;
    return salvo;
}

// Six sources and six destinations on one level (or more), with destination n fed by
// source n for n = 0…2 on every level.
inline RouterState routedState(int levels = 1)
{
    RouterState state = makeState(6, 6, levels);
    for (int l = 0; l < levels; ++l) {
        for (int d = 0; d < 3; ++d)
            state.routing[l].insert(d, d);
    }
    return state;
}

// A controller whose stores hold the given salvos and panels before it starts, connected to
// `state` unless told otherwise.
struct SalvoRig
{
    ControllerRig rig;

    RouterController &start(const QList<Salvo> &salvos, const QList<SubPanel> &panels = {},
                            const std::optional<RouterState> &state = routedState())
    {
        for (const SubPanel &panel : panels)
            rig.panels.upsert(panel, rig.connection.id);
        for (const Salvo &salvo : salvos)
            rig.salvos.add(salvo, rig.connection.id);
        RouterController &c = rig.make();
        if (state)
            rig.connectWith(*state);
        return c;
    }
    RouterController &controller() { return *rig.controller; }
    FakeRouterDriver &driver() { return *rig.drivers.last(); }
    int fires() const { return rig.usage->fires; }
};

// The texts of a widget's labels, depth first in creation order, joined by one space.
inline QString labelText(QWidget *widget)
{
    QStringList parts;
    if (auto *label = qobject_cast<QLabel *>(widget); label && !label->text().isEmpty())
        parts.append(label->text());
    for (QObject *child : widget->children()) {
        if (auto *w = qobject_cast<QWidget *>(child); w && !w->isHidden())
            if (const QString text = labelText(w); !text.isEmpty())
                parts.append(text);
    }
    return parts.join(QLatin1Char(' '));
}

// One text per widget placed in `widget`'s layout, in layout order.
inline QStringList layoutLines(QWidget *widget)
{
    QStringList lines;
    QLayout *layout = widget->layout();
    for (int i = 0; layout && i < layout->count(); ++i) {
        if (QWidget *item = layout->itemAt(i)->widget(); item && !item->isHidden())
            lines.append(labelText(item));
    }
    return lines;
}

template<typename T = QWidget> T *named(QObject *root, const char *name)
{
    return root->findChild<T *>(QString::fromLatin1(name));
}

// The open (visible) dialog of that object name among the application's widgets.
template<typename T = QDialog> T *openDialog(const char *name)
{
    for (QWidget *widget : QApplication::allWidgets()) {
        if (auto *dialog = qobject_cast<T *>(widget);
            dialog && dialog->isVisible() && dialog->objectName() == QLatin1String(name))
            return dialog;
    }
    return nullptr;
}

inline QAbstractButton *buttonTitled(QMessageBox *box, const QString &title)
{
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == title)
            return button;
    }
    return nullptr;
}

// Types `text` into the open name prompt and presses its Save (or Cancel).
inline void answerPrompt(QDialog *prompt, const std::optional<QString> &text, bool save = true)
{
    QVERIFY(prompt);
    auto *field = prompt->findChild<QLineEdit *>(QStringLiteral("nameField"));
    QVERIFY(field);
    if (text)
        field->setText(*text);
    auto *button = prompt->findChild<QPushButton *>(save ? QStringLiteral("saveButton")
                                                         : QStringLiteral("cancelButton"));
    QVERIFY(button);
    button->click();
    ControllerRig::settle();
}

// The open context menu's action of that text.
inline QAction *menuAction(const char *menuName, const QString &text)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *menu = qobject_cast<QMenu *>(widget);
        if (!menu || !menu->isVisible() || menu->objectName() != QLatin1String(menuName))
            continue;
        for (QAction *action : menu->actions()) {
            if (action->text() == text)
                return action;
        }
    }
    return nullptr;
}

// Clicks that item of the open context menu on its rectangle, as the operator does.
inline bool chooseMenuItem(const char *menuName, const QString &text)
{
    QAction *action = menuAction(menuName, text);
    return action && PopupMenus::choose(qobject_cast<QMenu *>(action->parent()), text);
}
