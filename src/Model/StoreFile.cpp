#include "Model/StoreFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

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

std::expected<std::unique_ptr<QFile>, QString> StoreFile::open() const
{
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

std::expected<std::optional<QByteArray>, QString> StoreFile::read() const
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

QString StoreFile::moveAside()
{
    const QString aside = m_path + QStringLiteral(".corrupt");
    QFile::remove(aside);
    if (QFile::rename(m_path, aside)) {
        m_keepInPlace = false;
        return QFileInfo(aside).fileName();
    }
    // The usual name is blocked (a folder, a file that cannot be removed): keep the data
    // under another free name rather than let the next save overwrite it.
    for (int n = 1; n <= 99; ++n) {
        const QString candidate = aside + QLatin1Char('-') + QString::number(n);
        if (QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink())
            continue;
        if (QFile::rename(m_path, candidate) || QFile::copy(m_path, candidate)) {
            m_keepInPlace = false;
            return QFileInfo(candidate).fileName();
        }
        break;
    }
    m_keepInPlace = QFileInfo::exists(m_path);
    return QFileInfo(aside).fileName();
}

std::optional<QString> StoreFile::write(const QByteArray &bytes)
{
    if (m_keepInPlace) {
        // Retry the move first: whatever blocked it may have gone.
        moveAside();
        if (m_keepInPlace)
            return QStringLiteral("The unreadable file “%1” couldn't be moved aside, so it was "
                                  "kept in place.")
                .arg(fileName());
    }
    // What read() would refuse is never written: the next launch would move the file aside
    // and lose everything in it. The file keeps its last readable content.
    if (bytes.size() > m_maxSize)
        return QStringLiteral("The content (%1 bytes) is larger than the %2 the file may hold.")
            .arg(bytes.size())
            .arg(sizeText(m_maxSize));
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("Couldn't create the folder “%1”.").arg(folder);
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(bytes) != bytes.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

std::optional<QString> StoreFile::write(const QJsonDocument &document)
{
    return write(document.toJson(QJsonDocument::Compact));
}

std::expected<QJsonDocument, QString> StoreFile::parseJson(const QByteArray &bytes)
{
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return std::unexpected(
            QStringLiteral("%1 at offset %2").arg(error.errorString()).arg(error.offset));
    return document;
}

void StoreFile::printLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}
