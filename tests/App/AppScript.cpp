// Linked into the application runner beside the application's own main(): lets the
// whole-program test drive the running application through standard input and follow it
// on standard output, without anything for tests in the application itself.
//
// Commands, one per line:  take <row> <source> <destination> | minimize | quit
// Reports, one per line:   window <shown|minimized|hidden> | status <row> <state>
// where <state> is disconnected, connecting, connected or failed.

#include "App/ContentView.h"
#include "App/QuorvelApp.h"
#include "Controllers/ConnectionStore.h"

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

void report(const QString &line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

QString stateName(const ConnectionStatus &status)
{
    switch (status.kind()) {
    case ConnectionStatus::disconnected:
        return QStringLiteral("disconnected");
    case ConnectionStatus::connecting:
        return QStringLiteral("connecting");
    case ConnectionStatus::connected:
        return QStringLiteral("connected");
    case ConnectionStatus::failed:
        return QStringLiteral("failed");
    }
    return QStringLiteral("unknown");
}

class AppScript final : public QObject
{
public:
    AppScript()
        : m_input(STDIN_FILENO, QSocketNotifier::Read)
    {
        connect(&m_input, &QSocketNotifier::activated, this, &AppScript::readInput);
        connect(&m_watch, &QTimer::timeout, this, &AppScript::watch);
        m_watch.start(20);
        // The script ends with the event loop: the application's own teardown follows.
        connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
            m_watch.stop();
            m_input.setEnabled(false);
        });
    }

private:
    MainWindow *mainWindow() const
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *window = qobject_cast<MainWindow *>(widget))
                return window;
        }
        return nullptr;
    }

    void watch()
    {
        MainWindow *window = mainWindow();
        if (!window)
            return;
        const QString shown = !window->isVisible() ? QStringLiteral("hidden")
            : window->isMinimized()                ? QStringLiteral("minimized")
                                                   : QStringLiteral("shown");
        if (shown != m_shown)
            report(QStringLiteral("window ") + (m_shown = shown));
        ConnectionStore &store = window->content()->store();
        const QList<RouterConnection> routers = store.connections();
        m_states.resize(routers.size());
        for (qsizetype row = 0; row < routers.size(); ++row) {
            const QString state = stateName(store.controller(routers.at(row))->status());
            if (state != m_states.at(row)) {
                m_states[row] = state;
                report(QStringLiteral("status %1 %2").arg(row).arg(state));
            }
        }
    }

    void readInput()
    {
        char buffer[512];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            m_input.setEnabled(false);
            return;
        }
        m_pending.append(buffer, count);
        for (qsizetype end; (end = m_pending.indexOf('\n')) >= 0;) {
            const QByteArray line = m_pending.left(end).trimmed();
            m_pending.remove(0, end + 1);
            run(QString::fromUtf8(line).split(QLatin1Char(' '), Qt::SkipEmptyParts));
        }
    }

    void run(const QStringList &words)
    {
        MainWindow *window = mainWindow();
        if (words.isEmpty() || !window)
            return;
        if (words.first() == QLatin1String("take") && words.size() == 4) {
            ConnectionStore &store = window->content()->store();
            const int row = words.at(1).toInt();
            if (row >= 0 && row < store.connections().size())
                store.controller(store.connections().at(row))
                    ->take(words.at(2).toInt(), words.at(3).toInt());
        } else if (words.first() == QLatin1String("minimize")) {
            window->showMinimized();
        } else if (words.first() == QLatin1String("quit")) {
            // The menu item itself, as Ctrl+Q or a click on it triggers it.
            for (QAction *menu : window->menuBar()->actions()) {
                if (!menu->menu())
                    continue;
                for (QAction *item : menu->menu()->actions()) {
                    if (item->text() == QStringLiteral("Quit Quorvel"))
                        item->trigger();
                }
            }
        }
    }

    QSocketNotifier m_input;
    QTimer m_watch;
    QByteArray m_pending;
    QString m_shown;
    QStringList m_states;
};

void startScript()
{
    // Once the event loop runs, so that the application has built its window.
    QTimer::singleShot(0, qApp, [] {
        auto *script = new AppScript;
        script->setParent(qApp);
    });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startScript)
