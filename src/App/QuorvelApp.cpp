#include "App/QuorvelApp.h"

#include "App/ContentView.h"
#include "Support/Analytics.h"
#include "Support/LiveFeedChecker.h"
#include "Views/Shell/AboutView.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

MainWindow::MainWindow(ConnectionStore &store, Updater &updater,
                       RouterEditor::Options editorOptions, QWidget *parent)
    : QMainWindow(parent)
{
    setUnifiedTitleAndToolBarOnMac(true);
    m_content = new ContentView(store, std::move(editorOptions));
    setCentralWidget(m_content);
    setWindowTitle(m_content->title());
    connect(m_content, &ContentView::titleChanged, this,
            [this] { setWindowTitle(m_content->title()); });
    resize(1180, 760);

    QMenu *appMenu = menuBar()->addMenu(tr("&Quorvel"));
    m_about = appMenu->addAction(tr("About Quorvel"));
    m_about->setMenuRole(QAction::AboutRole);
    connect(m_about, &QAction::triggered, this, &MainWindow::aboutRequested);

    m_checkForUpdates = appMenu->addAction(tr("Check for Updates\u2026"));
    m_checkForUpdates->setMenuRole(QAction::ApplicationSpecificRole);
    // Enabled from the start, then following whether the updater can check.
    m_checkForUpdates->setEnabled(updater.canCheckForUpdates());
    connect(&updater, &Updater::canCheckForUpdatesChanged, m_checkForUpdates,
            [this, &updater] { m_checkForUpdates->setEnabled(updater.canCheckForUpdates()); });
    connect(m_checkForUpdates, &QAction::triggered, &updater, &Updater::checkForUpdates);

    appMenu->addSeparator();
    m_quit = appMenu->addAction(tr("Quit Quorvel"));
    m_quit->setMenuRole(QAction::QuitRole);
    // Ctrl+Q where the platform names no quit key (as the offscreen one doesn't).
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (quitKeys.isEmpty())
        quitKeys.append(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_quit->setShortcuts(quitKeys);
    connect(m_quit, &QAction::triggered, qApp, &QApplication::closeAllWindows);
    // The menu's shortcut belongs to this window, so a sheet over it or the About window
    // would swallow the key: it is taken wherever it lands.
    qApp->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()
        && m_quit->shortcuts().contains(
            QKeySequence(static_cast<QKeyEvent *>(event)->keyCombination()))) {
        m_quit->trigger();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

QuorvelApp::QuorvelApp(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    m_store = std::make_unique<ConnectionStore>(m_options.store);
    m_updaterDelegate = std::make_unique<GentleUpdaterDelegate>();
    m_analytics = m_options.analytics ? m_options.analytics : &Analytics::shared();
    m_analytics->setScreenSizeProvider([]() -> std::optional<QSizeF> {
        const QScreen *screen = QGuiApplication::primaryScreen();
        if (!screen)
            return std::nullopt;
        return QSizeF(screen->size());
    });
    m_analytics->start();
    m_updaterController
        = std::make_unique<Updater>(true, m_updaterDelegate.get(), m_options.updater);
}

QuorvelApp::~QuorvelApp()
{
    shutDown();
}

void QuorvelApp::shutDown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    delete m_aboutWindow;
    delete m_mainWindow;
    m_store->shutDown();
}

MainWindow *QuorvelApp::showMainWindow()
{
    if (!m_mainWindow) {
        m_mainWindow = new MainWindow(*m_store, *m_updaterController, m_options.editor);
        m_mainWindow->setAttribute(Qt::WA_DeleteOnClose, false);
        connect(m_mainWindow, &MainWindow::aboutRequested, this, &QuorvelApp::showAbout);
    }
    m_mainWindow->show();
    return m_mainWindow;
}

void QuorvelApp::raiseMainWindow()
{
    MainWindow *window = showMainWindow();
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
}

QWidget *QuorvelApp::showAbout()
{
    if (!m_aboutWindow) {
        auto *window = new QWidget(nullptr,
                                   Qt::Window | Qt::WindowCloseButtonHint | Qt::WindowTitleHint
                                       | Qt::CustomizeWindowHint);
        window->setObjectName(QStringLiteral("aboutWindow"));
        window->setWindowTitle(tr("About Quorvel"));
        window->setAttribute(Qt::WA_DeleteOnClose);
        auto *layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        // Each new About window starts checking the feed afresh.
        auto *feed = new LiveFeedChecker(m_options.updater.feedUrl, m_options.updater.timeoutMs);
        layout->addWidget(new AboutView([this] { checkForUpdates(); }, feed, m_analytics));
        window->adjustSize();
        // Like every other window: Esc and the platform's close key (Ctrl+W) close it.
        QList<QKeySequence> closeKeys = QKeySequence::keyBindings(QKeySequence::Close);
        for (const QKeySequence &keys :
             { QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::Key_Escape) }) {
            if (!closeKeys.contains(keys))
                closeKeys.append(keys);
        }
        for (const QKeySequence &keys : std::as_const(closeKeys))
            connect(new QShortcut(keys, window), &QShortcut::activated, window, &QWidget::close);
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            window->move(frame.topLeft());
        }
        m_aboutWindow = window;
    }
    m_aboutWindow->show();
    m_aboutWindow->raise();
    m_aboutWindow->activateWindow();
    return m_aboutWindow;
}

void QuorvelApp::checkForUpdates()
{
    m_updaterController->checkForUpdates();
}
