#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <chrono>
#include <expected>

class QLocalServer;

// One running instance per user and data folder, so that two processes never rewrite the
// same store files. The first launch holds a lock file in the data folder (taking over the
// stale lock of a crashed process) and listens on a local socket named after the user and
// the folder; a later launch finds the lock held and asks the running instance, through that
// socket, to show its main window. Nothing here writes a store file.
class SingleInstance final : public QObject
{
    Q_OBJECT

public:
    enum class Role {
        primary, // this process holds the lock (or could not make one; see claim())
        secondary, // another live process holds it
        blocked, // something that is no lock stands at the lock's path; see problem()
    };

    // At most this many later launches are answered at a time; more are closed at once.
    static constexpr int maxConnections = 8;

    // `folder` is the data folder the stores write into. A later launch that does not send
    // its request within `requestTimeout` of connecting is closed.
    explicit SingleInstance(const QString &folder, QObject *parent = nullptr,
                            std::chrono::milliseconds requestTimeout = std::chrono::seconds(1));
    ~SingleInstance() override;

    // Takes the lock and starts listening, or finds another instance holding it. When the
    // lock cannot be made at all (a folder that cannot be written), the process runs as the
    // primary with a warning on standard error: its stores cannot write there either. When
    // the lock's path holds something else (a folder, a FIFO, a file that names no process),
    // no instance can be told apart from another, and the launch stops with problem().
    Role claim();
    // Why claim() gave blocked: an operator-facing sentence.
    QString problem() const { return m_problem; }

    // From a secondary: asks the running instance to show and raise its main window, and
    // waits for its answer. The error is an operator-facing sentence.
    std::expected<void, QString> askToShow(std::chrono::milliseconds timeout
                                           = std::chrono::seconds(5));

    // The local socket's name: per user and per data folder.
    static QString serverName(const QString &folder);
    QString lockPath() const { return m_lock.fileName(); }

signals:
    // A later launch asked for the main window.
    void showRequested();

private:
    void listen();
    void answer();
    Role block(const QString &what); // sets problem() to say what stands at the lock's path

    QString m_folder;
    QString m_problem;
    QLockFile m_lock;
    std::chrono::milliseconds m_requestTimeout;
    QLocalServer *m_server = nullptr;
    int m_connections = 0;
};
