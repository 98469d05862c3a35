#include "Model/StoreFile.h"
#include "Platform/Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>

StoreFile::StoreFile(QString path, qint64 maxSize)
    : m_path(std::move(path))
    , m_maxSize(maxSize)
{ }

QString StoreFile::defaultPath(const QString &fileName)
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty() || !QDir().mkpath(base))
        base = QDir::tempPath();
    return QDir(base).filePath(QStringLiteral("Quorvel/") + fileName);
}

QString StoreFile::fileName() const
{
    return QFileInfo(m_path).fileName();
}

StoreFile::Stamp StoreFile::stamp() const
{
    const QFileInfo info(m_path);
    if (!info.exists())
        return {};
    return { true, info.isFile(), info.size(), info.lastModified(), info.birthTime() };
}

std::expected<std::unique_ptr<QFile>, QString> StoreFile::open()
{
    // Before reading: a change made meanwhile is then told as one, not taken for ours.
    m_seen = stamp();
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink())
        return nullptr;
    // Opening a FIFO waits for a writer that may never come, and a device may never end.
    if (info.exists() && !info.isFile())
        return std::unexpected(QStringLiteral("It is not a regular file."));
    auto file = std::make_unique<QFile>(m_path);
    if (!file->open(QIODevice::ReadOnly))
        return std::unexpected(file->errorString());
    if (file->size() > m_maxSize)
        return std::unexpected(tooLarge());
    return file;
}

std::expected<std::optional<QByteArray>, QString> StoreFile::read()
{
    auto file = open();
    if (!file)
        return std::unexpected(file.error());
    if (!*file)
        return std::optional<QByteArray>();
    // A regular file is read as it is: asking for the limit would allocate the whole limit.
    QByteArray bytes = (*file)->readAll();
    if (bytes.size() > m_maxSize) // it grew since
        return std::unexpected(tooLarge());
    if ((*file)->error() != QFileDevice::NoError)
        return std::unexpected((*file)->errorString());
    return std::optional<QByteArray>(std::move(bytes));
}

QString StoreFile::tooLarge() const
{
    return QStringLiteral("The file is larger than %1.").arg(sizeText(m_maxSize));
}

QString StoreFile::sizeText(qint64 bytes)
{
    constexpr qint64 mebibyte = 1024 * 1024;
    return bytes % mebibyte == 0 ? QStringLiteral("%1 MB").arg(bytes / mebibyte)
                                 : QStringLiteral("%1 bytes").arg(bytes);
}

std::optional<QString> StoreFile::keepAs(const QString &suffix, bool move) const
{
    const QString base = m_path + suffix;
    for (int n = 0; n <= maxAsideCopies; ++n) {
        const QString candidate = n == 0 ? base : base + QLatin1Char('-') + QString::number(n);
        if (QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink())
            continue;
        if ((move && QFile::rename(m_path, candidate)) || QFile::copy(m_path, candidate))
            return candidate;
        break; // a free name that can't be made: the folder refuses, not the name
    }
    return std::nullopt;
}

std::optional<QString> StoreFile::moveAside()
{
    // Every unreadable version is kept: an earlier copy may hold what the operator needs.
    if (std::optional<QString> copy = keepAs(QStringLiteral(".corrupt"), true)) {
        m_keepInPlace = false;
        m_seen = stamp();
        return copy;
    }
    // Rather than let the next save overwrite the only copy of the operator's data.
    m_keepInPlace = QFileInfo::exists(m_path);
    return std::nullopt;
}

std::optional<QString> StoreFile::keepOutsideVersion()
{
    const Stamp now = stamp();
    // A file deleted, or one that isn't a file (a FIFO would block the copy), holds nothing
    // to keep.
    if (!m_seen || now == *m_seen || !now.regular)
        return std::nullopt;
    const std::optional<QString> copy = keepAs(QStringLiteral(".outside"), false);
    if (!copy)
        return QStringLiteral("“%1” was changed outside Quorvel, and that version couldn't be "
                              "kept as a copy, so it wasn't replaced.")
            .arg(Text::isolated(fileName()));
    m_seen = now;
    m_justKept = Kept { fileName(), *copy };
    if (m_onKept)
        m_onKept(*m_justKept);
    return std::nullopt;
}

QString StoreFile::unreadableLine(const QString &store) const
{
    const std::optional<QString> &copy = m_rescue->copyPath;
    const QString outcome = copy ? QStringLiteral("moved to ") + QFileInfo(*copy).fileName()
                                 : QStringLiteral("couldn't be moved aside and was kept in place");
    return store + QStringLiteral(": unreadable ") + fileName() + u' ' + outcome
        + QStringLiteral(" — ") + m_rescue->reason;
}

namespace {

// The system's reason for the last failed call, where Qt has only "Unknown error".
QString reasonOf(const QFileDevice &file, int systemError)
{
    if (file.error() != QFileDevice::NoError
        && file.errorString() != QLatin1String("Unknown error"))
        return file.errorString();
    return systemError != 0 ? qt_error_string(systemError) : file.errorString();
}

} // namespace

std::optional<QString> StoreFile::write(const QByteArray &bytes)
{
    return write(bytes.size(), [&bytes](const Put &put) { put(bytes); });
}

std::optional<QString> StoreFile::write(qsizetype size, const Pieces &pieces)
{
    if (m_keepInPlace) {
        // Retry the move first: whatever blocked it may have gone.
        if (const std::optional<QString> copy = moveAside(); copy && m_rescue)
            m_rescue->copyPath = copy;
        if (m_keepInPlace)
            return QStringLiteral("The unreadable file “%1” couldn't be moved aside, so it was "
                                  "kept in place.")
                .arg(Text::isolated(fileName()));
    }
    if (std::optional<QString> refused = refusal(size))
        return refused;
    if (std::optional<QString> kept = keepOutsideVersion())
        return kept;
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("Couldn't create the folder “%1”.").arg(Text::isolated(folder));
    QSaveFile file(m_path);
    // Unbuffered: a buffered write that fails only when commit() flushes it goes unnoticed,
    // and the old file is replaced by a short one (a full disk emptied the file).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    std::optional<QString> error;
    qint64 total = 0;
    const auto writeOut = [&](QByteArrayView bytes) {
        // A short write is no error yet; the next one says why (a full disk).
        for (qint64 done = 0; !error && done < bytes.size();) {
            errno = 0;
            const qint64 written = file.write(bytes.data() + done, bytes.size() - done);
            if (written <= 0)
                error = reasonOf(file, errno);
            else
                done += written;
        }
        total += bytes.size();
    };
    // Small pieces are gathered, so that each write hands the system a good share of the file.
    constexpr qsizetype chunk = 1 << 20;
    QByteArray gathered;
    pieces([&](QByteArrayView piece) {
        if (error)
            return;
        if (gathered.size() + piece.size() > chunk && !gathered.isEmpty()) {
            writeOut(gathered);
            gathered.resize(0);
        }
        if (piece.size() >= chunk) {
            writeOut(piece);
        } else {
            if (gathered.capacity() < chunk)
                gathered.reserve(chunk);
            gathered.append(piece);
        }
    });
    if (!error && !gathered.isEmpty())
        writeOut(gathered);
    if (!error && total != size)
        error = QStringLiteral("The content changed while it was written.");
    if (error) {
        file.cancelWriting();
        return error;
    }
    errno = 0;
    if (!file.commit())
        return reasonOf(file, errno);
    m_seen = stamp();
    return std::nullopt;
}

std::optional<QString> StoreFile::refusal(qsizetype size) const
{
    // What read() would refuse is never written: the next launch would move the file aside
    // and lose everything in it. The file keeps its last readable content.
    if (size <= m_maxSize)
        return std::nullopt;
    return Text::format(
        QStringLiteral("The content (%1 bytes) is larger than the %2 the file may hold."), size,
        sizeText(m_maxSize));
}

StoreOutcome StoreFile::save(const QByteArray &bytes, const QString &store)
{
    return save(
        bytes.size(), [&bytes](const Put &put) { put(bytes); }, store);
}

StoreOutcome StoreFile::save(qsizetype size, const Pieces &pieces, const QString &store)
{
    const std::optional<QString> failure = write(size, pieces);
    if (const std::optional<Kept> kept = std::exchange(m_justKept, std::nullopt))
        printLine(Text::format(QStringLiteral("%1: %2 was changed outside Quorvel; that version "
                                              "was kept as %3"),
                               store, kept->fileName, QFileInfo(kept->copyPath).fileName()));
    if (!failure)
        return std::nullopt;
    printLine(store + QStringLiteral(": save failed — ") + *failure);
    return StoreFailure { size > m_maxSize ? StoreFailure::Kind::refused
                                           : StoreFailure::Kind::notWritten,
                          *failure, fileName() };
}

std::expected<QJsonDocument, QString> StoreFile::parseJson(const QByteArray &bytes)
{
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return std::unexpected(
            Text::format(QStringLiteral("%1 at offset %2"), error.errorString(), error.offset));
    return document;
}

void StoreFile::printLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

QString StoreFailure::message(const QString &done, const QString &notDone) const
{
    QString because = reason.trimmed();
    if (!because.isEmpty() && !because.endsWith(u'.') && !because.endsWith(u'!')
        && !because.endsWith(u'?'))
        because += u'.';
    if (kind == Kind::refused)
        return QStringLiteral("%1. %2").arg(notDone, because);
    const QString what = QFileInfo(file).completeBaseName();
    return QStringLiteral("%1, but the %2 file couldn't be written, so the change is lost when "
                          "Quorvel quits. %3")
        .arg(done, what.isEmpty() ? QStringLiteral("data") : what, because);
}
