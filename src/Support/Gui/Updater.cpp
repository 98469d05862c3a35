#include "Support/Gui/Updater.h"

#include "Platform/Gui/Symbols.h"
#include "Platform/InfoDictionary.h"
#include "Support/VersionOrder.h"
#include "Theme/Theme.h"

#include <QDesktopServices>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

Updater::Updater(bool startingUpdater, const UpdaterUserDriverDelegate *userDriverDelegate,
                 Options options, QObject *parent)
    : QObject(parent)
    , m_delegate(userDriverDelegate)
    , m_options(std::move(options))
{
    if (m_options.installedVersion.isEmpty())
        m_options.installedVersion = InfoDictionary::shortVersion();
    if (m_options.downloadPage.isEmpty())
        m_options.downloadPage = QUrl(InfoDictionary::webHost());
    if (startingUpdater)
        startUpdater();
}

Updater::Updater(bool startingUpdater, const UpdaterUserDriverDelegate *userDriverDelegate,
                 QObject *parent)
    : Updater(startingUpdater, userDriverDelegate, Options{}, parent)
{
}

Updater::~Updater()
{
    delete m_window;
}

void Updater::startUpdater()
{
    if (m_started)
        return;
    m_started = true;
    emit canCheckForUpdatesChanged();
}

bool Updater::canCheckForUpdates() const
{
    return m_started && !m_checking;
}

void Updater::setChecking(bool checking)
{
    if (m_checking == checking)
        return;
    const bool before = canCheckForUpdates();
    m_checking = checking;
    if (before != canCheckForUpdates())
        emit canCheckForUpdatesChanged();
}

void Updater::checkForUpdates()
{
    if (m_checking) {
        if (m_window) {
            m_window->raise();
            m_window->activateWindow();
        }
        return;
    }
    if (!m_started)
        return;
    setChecking(true);
    showChecking();

    m_checker = new LiveFeedChecker(m_options.feedUrl, m_options.timeoutMs, nullptr, this);
    connect(m_checker, &LiveFeedChecker::phaseChanged, this, [this] {
        LiveFeedChecker *checker = m_checker;
        m_checker = nullptr;
        const LiveFeedChecker::Phase phase = checker->phase();
        checker->deleteLater();
        setChecking(false);
        showOutcome(phase);
    });
    m_checker->check();
}

void Updater::showChecking()
{
    if (!m_window) {
        m_window = new QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        m_window->setObjectName(QStringLiteral("updaterWindow"));
        m_window->setAttribute(Qt::WA_DeleteOnClose);
        m_window->setWindowTitle(QStringLiteral("Software Update"));
        m_window->setWindowIcon(Symbols::applicationIcon());

        auto *icon = new QLabel;
        icon->setPixmap(Symbols::applicationIconPixmap(64, m_window->devicePixelRatioF()));
        icon->setAlignment(Qt::AlignTop);

        m_title = new QLabel;
        m_title->setTextFormat(Qt::PlainText);
        Theme::apply(m_title, Theme::TextStyle::headline, QFont::Bold);
        m_message = new QLabel;
        m_message->setTextFormat(Qt::PlainText);
        m_message->setWordWrap(true);
        Theme::apply(m_message, Theme::TextStyle::callout);
        m_progress = new QProgressBar;
        m_progress->setRange(0, 0);
        m_progress->setTextVisible(false);
        m_progress->setFixedHeight(6);

        m_primary = new QPushButton;
        m_primary->setDefault(true);
        m_secondary = new QPushButton;

        auto *buttons = new QHBoxLayout;
        buttons->addStretch();
        buttons->addWidget(m_secondary);
        buttons->addWidget(m_primary);

        auto *column = new QVBoxLayout;
        column->setSpacing(8);
        column->addWidget(m_title);
        column->addWidget(m_message);
        column->addWidget(m_progress);
        column->addStretch();
        column->addSpacing(8);
        column->addLayout(buttons);

        auto *row = new QHBoxLayout(m_window);
        row->setContentsMargins(20, 20, 20, 16);
        row->setSpacing(16);
        row->addWidget(icon);
        row->addLayout(column, 1);
        m_window->setFixedWidth(440);

        connect(m_window, &QDialog::finished, this, [this] {
            // Closing the window while checking abandons that check.
            if (m_checker) {
                m_checker->disconnect(this);
                m_checker->deleteLater();
                m_checker = nullptr;
                setChecking(false);
            }
        });
    }
    m_title->setText(QStringLiteral("Checking for updates\u2026"));
    m_message->setText(QStringLiteral("Reading the update feed."));
    m_progress->show();
    m_primary->hide();
    m_secondary->setText(QStringLiteral("Cancel"));
    m_secondary->show();
    m_secondary->disconnect();
    connect(m_secondary, &QPushButton::clicked, m_window, &QDialog::reject);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void Updater::showOutcome(const LiveFeedChecker::Phase &phase)
{
    Outcome outcome = Outcome::unreachable;
    if (phase.kind == LiveFeedChecker::Phase::live) {
        outcome = Versions::compare(m_options.installedVersion, phase.build.version)
                == VersionOrder::ascending
            ? Outcome::updateAvailable
            : Outcome::upToDate;
    }
    if (!m_window) {
        emit checkFinished(outcome);
        return;
    }
    m_progress->hide();
    m_primary->disconnect();
    m_secondary->disconnect();
    m_primary->show();
    m_primary->setText(QStringLiteral("OK"));
    connect(m_primary, &QPushButton::clicked, m_window, &QDialog::accept);
    m_secondary->hide();

    const QString host = m_options.downloadPage.host();
    switch (outcome) {
    case Outcome::upToDate:
        m_title->setText(QStringLiteral("Quorvel is up to date"));
        m_message->setText(QStringLiteral("Version %1 is the newest build on the update feed.")
                               .arg(m_options.installedVersion));
        break;
    case Outcome::updateAvailable:
        m_title->setText(QStringLiteral("Quorvel %1 is available").arg(phase.build.version));
        m_message->setText(QStringLiteral("You have version %1. The new build can be downloaded "
                                          "from %2.")
                               .arg(m_options.installedVersion, host));
        m_primary->setText(QStringLiteral("Open Download Page"));
        m_primary->disconnect();
        connect(m_primary, &QPushButton::clicked, m_window, [this] {
            QDesktopServices::openUrl(m_options.downloadPage);
            m_window->accept();
        });
        m_secondary->setText(QStringLiteral("Later"));
        m_secondary->show();
        connect(m_secondary, &QPushButton::clicked, m_window, &QDialog::reject);
        break;
    case Outcome::unreachable:
        m_title->setText(QStringLiteral("Couldn\u2019t check for updates"));
        m_message->setText(QStringLiteral("The update feed couldn\u2019t be reached. Check the "
                                          "network connection and try again later."));
        break;
    }
    emit checkFinished(outcome);
}
