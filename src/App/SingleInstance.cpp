#include "App/SingleInstance.h"
#include "Platform/Text.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

const QByteArray showRequest = QByteArrayLiteral("show\n");
const QByteArray shownReply = QByteArrayLiteral("shown\n");

void warn(const QString &line)
{
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

SingleInstance::SingleInstance(const QString &folder, QObject *parent,
                               std::chrono::milliseconds requestTimeout)
    : QObject(parent)
    , m_folder(QDir(folder).absolutePath())
    , m_lock(QDir(m_folder).filePath(QStringLiteral("instance.lock")))
    , m_requestTimeout(requestTimeout)
{
    // Only a live process keeps the lock: a crashed one's is taken over however new it is.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName(const QString &folder)
{
    // The folder's path is hashed to keep the socket path short; the user id keeps users of
    // one machine apart even where they share a temporary folder.
    const QByteArray path = QDir(folder).absolutePath().toUtf8();
    const QByteArray hash = QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex();
    return Text::format(QStringLiteral("quorvel-%1-%2"), ::getuid(),
                        QString::fromLatin1(hash.left(20)));
}

SingleInstance::Role SingleInstance::claim()
{
    QDir().mkpath(m_folder);
    // Opening a FIFO there would wait for a writer forever, and no folder or device is ever
    // a lock: asking an instance that isn't running would only say it can't be reached.
    const QFileInfo info(m_lock.fileName());
    if ((info.exists() || info.isSymLink()) && !info.isFile())
        return block(info.isDir() ? QStringLiteral("is a folder, not a lock file")
                                  : QStringLiteral("is not a regular file, so not a lock file"));
    if (m_lock.tryLock(0)) {
        listen();
        return Role::primary;
    }
    if (m_lock.error() == QLockFile::LockFailedError) {
        // A live instance's lock names its process; one launched at the same moment may
        // not have written it yet. Anything else there would never be taken over.
        qint64 pid = 0;
        QString host;
        QString application;
        if (!m_lock.getLockInfo(&pid, &host, &application) && !m_lock.tryLock(100)
            && !m_lock.getLockInfo(&pid, &host, &application))
            return block(QStringLiteral("isn't a lock file Quorvel can read"));
        if (m_lock.isLocked()) {
            listen();
            return Role::primary;
        }
        return Role::secondary;
    }
    warn(QStringLiteral("Quorvel: can't create %1; another instance could run at the same time.")
             .arg(QDir::toNativeSeparators(m_lock.fileName())));
    return Role::primary;
}

SingleInstance::Role SingleInstance::block(const QString &what)
{
    m_problem = QStringLiteral("Quorvel can't start: “%1” %2. Move it away and start Quorvel "
                               "again.")
                    .arg(QDir::toNativeSeparators(m_lock.fileName()), what);
    return Role::blocked;
}

void SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = serverName(m_folder);
    // We hold the lock, so a socket left under this name belongs to a process that is gone.
    QLocalServer::removeServer(name);
    if (!m_server->listen(name)) {
        warn(QStringLiteral("Quorvel: can't listen for later launches (%1).")
                 .arg(m_server->errorString()));
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::answer);
}

void SingleInstance::answer()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        // Any local process of the user may connect: one that holds connections open must
        // not pile them up.
        if (m_connections >= maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto *idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        idle->start(m_requestTimeout);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, idle] {
            // Only the one short request is understood; anything longer is cut off.
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > showRequest.size())
                    socket->abort();
                return;
            }
            idle->stop();
            if (socket->readLine(showRequest.size() + 1) == showRequest) {
                emit showRequested();
                socket->write(shownReply);
                socket->flush();
            }
            socket->disconnectFromServer();
        });
    }
}

std::expected<void, QString> SingleInstance::askToShow(std::chrono::milliseconds timeout)
{
    const auto failure = [](const QString &why) {
        return std::unexpected(
            QStringLiteral("Quorvel is already running, but it could not be reached (%1).")
                .arg(why));
    };
    QLocalSocket socket;
    socket.connectToServer(serverName(m_folder));
    if (!socket.waitForConnected(int(timeout.count())))
        return failure(socket.errorString());
    socket.write(showRequest);
    if (!socket.waitForBytesWritten(int(timeout.count())))
        return failure(socket.errorString());
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(int(timeout.count())))
            return failure(socket.state() == QLocalSocket::ConnectedState
                               ? QStringLiteral("it did not answer")
                               : socket.errorString());
    }
    if (socket.readLine(shownReply.size() + 1) != shownReply)
        return failure(QStringLiteral("it answered something else"));
    return {};
}
