#pragma once

#include "Controllers/ConnectionStore.h"
#include "Support/Gui/Updater.h"
#include "Views/Shell/RouterEditor.h"

#include <QMainWindow>
#include <QObject>
#include <QPointer>

#include <memory>

class Analytics;
class ContentView;
class QAction;

// Asks the updater to remind gently of scheduled checks, without stealing focus.
class GentleUpdaterDelegate final : public UpdaterUserDriverDelegate
{
public:
    bool supportsGentleScheduledUpdateReminders() const override { return true; }
};

// What the application is built with. The defaults are the shipped application's; tests
// pass their own store files, drivers, analytics, feed and Bonjour browser.
struct QuorvelAppOptions
{
    ConnectionStore::Options store;
    Updater::Options updater;
    RouterEditor::Options editor;
    Analytics *analytics = nullptr; // null: Analytics::shared()
};

// The main window: the root view and the application menu.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow(ConnectionStore &store, Updater &updater, RouterEditor::Options editorOptions,
               QWidget *parent = nullptr);

    ContentView *content() const { return m_content; }
    QAction *aboutAction() const { return m_about; }
    QAction *checkForUpdatesAction() const { return m_checkForUpdates; }

signals:
    void aboutRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    ContentView *m_content = nullptr;
    QAction *m_quit = nullptr;
    QAction *m_about = nullptr;
    QAction *m_checkForUpdates = nullptr;
};

// The application: the one store of routers, the updater and the usage analytics, the main
// window and the single About window. Everything lives on the UI thread for the life of
// the process; shutDown() (also run on destruction) ends it in order once the event loop
// has returned.
class QuorvelApp final : public QObject
{
    Q_OBJECT

public:
    using Options = QuorvelAppOptions;

    // Start-up, in order: the store (loading or seeding the routers), the updater delegate,
    // the analytics launch event and heartbeat, then the updater, started at once.
    explicit QuorvelApp(Options options = {}, QObject *parent = nullptr);
    ~QuorvelApp() override;

    ConnectionStore &store() { return *m_store; }
    Updater &updater() { return *m_updaterController; }
    Analytics &analytics() { return *m_analytics; }

    // Builds (once) and shows the main window.
    MainWindow *showMainWindow();
    MainWindow *mainWindow() const { return m_mainWindow; }
    // Shows the main window, brought back from the dock and in front of other windows (a
    // later launch asks for this).
    void raiseMainWindow();

    // The application's teardown, once the event loop has returned: the windows go first
    // (their views hold controllers), then every router's driver is ended at once. The
    // serial queues are stopped after this, by the entry.
    void shutDown();

    // Shows the About window, building it when none is open; there is never a second one.
    QWidget *showAbout();
    QWidget *aboutWindow() const { return m_aboutWindow; }

    // The check-for-updates action handed to the About window.
    void checkForUpdates();

private:
    Options m_options;
    std::unique_ptr<ConnectionStore> m_store;
    std::unique_ptr<GentleUpdaterDelegate> m_updaterDelegate;
    Analytics *m_analytics = nullptr;
    std::unique_ptr<Updater> m_updaterController;
    QPointer<MainWindow> m_mainWindow;
    QPointer<QWidget> m_aboutWindow;
    bool m_shutDown = false;
};
