#include "Theme/SheetFit.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QPointer>
#include <QScreen>
#include <QWindow>

namespace SheetFit {

namespace {

// The main window under a chain of sheets.
QWidget *mainWindowOf(const QWidget *parent)
{
    QWidget *window = parent ? parent->window() : nullptr;
    while (window && qobject_cast<QDialog *>(window) && window->parentWidget())
        window = window->parentWidget()->window();
    return window;
}

QRect globalRect(const QWidget *widget)
{
    return { widget->mapToGlobal(QPoint()), widget->size() };
}

// Whether the operator's latest press was a key's rather than a pointer's: the keyboard's
// ring is drawn for keyboard users, and a window draws none for its first focus, which a
// sheet opened from the keyboard needs to show.
class LastPress final : public QObject
{
public:
    static bool wasKey()
    {
        static QPointer<LastPress> watcher;
        if (!watcher && QCoreApplication::instance())
            watcher = new LastPress;
        return watcher && watcher->m_key;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
            m_key = true;
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::TouchBegin:
        case QEvent::TabletPress:
            m_key = false;
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    LastPress()
        : QObject(QCoreApplication::instance())
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

    bool m_key = false;
};

class Fitter final : public QObject
{
public:
    Fitter(QDialog *sheet, QSize preferred)
        : QObject(sheet)
        , m_sheet(sheet)
        , m_preferred(preferred)
    {
        sheet->installEventFilter(this);
        fit();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (watched == m_sheet && type == QEvent::Show && LastPress::wasKey())
            m_sheet->setAttribute(Qt::WA_KeyboardFocusChange);
        if (watched == m_sheet && (type == QEvent::Show || type == QEvent::ParentChange))
            fit();
        else if (watched == m_host && (type == QEvent::Resize || type == QEvent::Move)
                 && m_sheet->isVisible())
            fit();
        return QObject::eventFilter(watched, event);
    }

private:
    void fit()
    {
        QWidget *host = mainWindowOf(m_sheet->parentWidget());
        if (host != m_host) {
            if (m_host)
                m_host->removeEventFilter(this);
            m_host = host;
            if (host)
                host->installEventFilter(this);
        }
        const QRect room = area(m_sheet->parentWidget());
        // The window manager's frame, once it has put one around the sheet, stays inside too.
        const QMargins frame
            = m_sheet->windowHandle() ? m_sheet->windowHandle()->frameMargins() : QMargins();
        const QSize size = m_preferred.boundedTo(room.size().shrunkBy(frame)).expandedTo({ 1, 1 });
        if (m_sheet->size() != size || m_sheet->minimumSize() != size)
            m_sheet->setFixedSize(size);
        if (room.isEmpty())
            return;
        const QSize outer = size.grownBy(frame);
        const QWidget *over = m_sheet->parentWidget() ? m_sheet->parentWidget()->window() : nullptr;
        const QPoint centre = over && over->isVisible() ? globalRect(over).center() : room.center();
        const int x = std::clamp(centre.x() - outer.width() / 2, room.left(),
                                 std::max(room.left(), room.right() + 1 - outer.width()));
        const int y = std::clamp(centre.y() - outer.height() / 2, room.top(),
                                 std::max(room.top(), room.bottom() + 1 - outer.height()));
        if (m_sheet->pos() != QPoint(x, y))
            m_sheet->move(x, y);
    }

    QDialog *m_sheet;
    QSize m_preferred;
    QPointer<QWidget> m_host;
};

// From the start: the key that opens the first sheet comes before the sheet.
void watchPresses()
{
    LastPress::wasKey();
}
Q_COREAPP_STARTUP_FUNCTION(watchPresses)

} // namespace

void apply(QDialog *sheet, QSize preferred)
{
    new Fitter(sheet, preferred);
}

QRect area(const QWidget *parent)
{
    const QWidget *host = mainWindowOf(parent);
    const QScreen *screen = host ? host->screen() : QGuiApplication::primaryScreen();
    QRect room = screen ? screen->availableGeometry() : QRect();
    if (!host || !host->isVisible())
        return room;
    // Below the menu bar and any tool bar: the part of the window the sheet belongs to.
    const auto *main = qobject_cast<const QMainWindow *>(host);
    const QRect content
        = main && main->centralWidget() ? globalRect(main->centralWidget()) : globalRect(host);
    return room.isEmpty() ? content : room.intersected(content);
}

} // namespace SheetFit
