#pragma once

#include "Support/LiveFeedChecker.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <QDialog>
class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

// What the updater asks of the application about how it presents updates.
class UpdaterUserDriverDelegate
{
public:
    virtual ~UpdaterUserDriverDelegate() = default;
    // Whether reminders of scheduled checks may be shown gently (without stealing focus).
    virtual bool supportsGentleScheduledUpdateReminders() const { return false; }
};

// Our updater: an action that checks for updates and an observable state telling whether a
// check may start. A user-initiated check reads the update feed and reports, in a window of
// its own, that this build is current, that a newer one is live (with a link to get it), or
// that the feed could not be reached. It installs nothing itself.
class Updater final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)

public:
    enum class Outcome { upToDate, updateAvailable, unreachable };

    struct Options
    {
        QUrl feedUrl = LiveFeedChecker::feedURL();
        int timeoutMs = LiveFeedChecker::defaultTimeoutMs;
        QString installedVersion; // empty: the info dictionary's short version
        QUrl downloadPage;        // empty: the product's web site
    };

    // With `startingUpdater` the updater starts at once; otherwise call startUpdater().
    Updater(bool startingUpdater, const UpdaterUserDriverDelegate *userDriverDelegate,
            Options options, QObject *parent = nullptr);
    Updater(bool startingUpdater, const UpdaterUserDriverDelegate *userDriverDelegate,
            QObject *parent = nullptr);
    ~Updater() override;

    void startUpdater();

    // False until the updater has started and while a check runs.
    bool canCheckForUpdates() const;
    // A user-initiated check. While one runs, a second call only brings its window forward.
    void checkForUpdates();

    const UpdaterUserDriverDelegate *userDriverDelegate() const { return m_delegate; }

    // The check's window, while it exists.
    QDialog *window() const { return m_window; }

signals:
    void canCheckForUpdatesChanged();
    void checkFinished(Updater::Outcome outcome);

private:
    void showChecking();
    void showOutcome(const LiveFeedChecker::Phase &phase);
    void setChecking(bool checking);

    const UpdaterUserDriverDelegate *m_delegate = nullptr;
    Options m_options;
    bool m_started = false;
    bool m_checking = false;
    LiveFeedChecker *m_checker = nullptr;
    QPointer<QDialog> m_window;
    QLabel *m_title = nullptr;
    QLabel *m_message = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_primary = nullptr;
    QPushButton *m_secondary = nullptr;
};
