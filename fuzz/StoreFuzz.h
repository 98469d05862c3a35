#pragma once

#include "FuzzSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

// The store files are read from disk, so their targets go through the real file path: the
// input is written as the store's file, loaded, and then
//   unreadable -> the file must have been moved aside byte for byte (nothing is lost);
//   readable   -> a store opened on it and saved again must read back as the same content.
namespace StoreFuzz {

inline QString filePath(const QString &fileName)
{
    // One private folder per fuzzing process, on a memory file system when there is one.
    static QTemporaryDir folder(QDir(QFile::exists(QStringLiteral("/dev/shm"))
                                         ? QStringLiteral("/dev/shm")
                                         : QDir::tempPath())
                                    .filePath(QStringLiteral("quorvel-fuzz-XXXXXX")));
    FUZZ_CHECK(folder.isValid());
    return folder.filePath(fileName);
}

inline QByteArray contents(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// `load(path)` is the store's own loader; `reopenAndSave(path)` opens a store on the file
// and saves it.
template<typename Load, typename ReopenAndSave>
void checkFile(const QString &fileName, const uint8_t *data, size_t size, Load &&load,
               ReopenAndSave &&reopenAndSave)
{
    const QString path = filePath(fileName);
    const QString aside = path + QStringLiteral(".corrupt");
    QFile::remove(aside);
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(bytes) == bytes.size());
    }

    const auto first = load(path);
    if (!QFile::exists(path)) {
        FUZZ_CHECK_MSG(QFile::exists(aside), QStringLiteral("unreadable file vanished"));
        FUZZ_CHECK_MSG(contents(aside) == bytes, QStringLiteral("moved-aside copy differs"));
        return;
    }
    FUZZ_CHECK_MSG(first.has_value(), QStringLiteral("readable file gave no content"));
    FUZZ_CHECK(!QFile::exists(aside));

    reopenAndSave(path);
    const auto second = load(path);
    FUZZ_CHECK_MSG(QFile::exists(path) && second.has_value(),
                   QStringLiteral("a saved file is unreadable: ")
                       + QString::fromUtf8(contents(path).left(400)));
    FUZZ_CHECK_MSG(*second == *first,
                   QStringLiteral("content changed by a save: ")
                       + QString::fromUtf8(contents(path).left(400)));
}

// For a store that reads its file a piece at a time: it must take exactly the files, and
// give exactly the content, that decoding the whole document at once gives (`wholeDecode`
// of the parsed document), and a save must write what encoding that content at once writes
// (`wholeEncode`: the platform's writer, with U+FEFF escaped as the stores write it).
template<typename Load, typename Open, typename WholeDecode, typename WholeEncode>
void checkPiecewise(const QString &fileName, const uint8_t *data, size_t size, Load &&load,
                    Open &&open, WholeDecode &&wholeDecode, WholeEncode &&wholeEncode)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    const auto whole = error.error == QJsonParseError::NoError && document.isObject()
        ? wholeDecode(document.object())
        : std::nullopt;
    const QString path = filePath(fileName);
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(bytes) == bytes.size());
    }
    QFile::remove(path + QStringLiteral(".corrupt"));
    const auto piecewise = load(path);
    const bool readable = QFile::exists(path);
    FUZZ_CHECK_MSG(
        readable == whole.has_value(),
        QStringLiteral("read piecewise: %1, whole: %2")
            .arg(readable ? "readable" : "unreadable", whole ? "readable" : "unreadable"));
    if (!whole)
        return;
    FUZZ_CHECK_MSG(piecewise && *piecewise == *whole, QStringLiteral("content differs"));
    open(path); // opens a store on the file, changes nothing and saves
    FUZZ_CHECK_MSG(contents(path) == wholeEncode(*whole),
                   QStringLiteral("saved text differs: ") + QString::fromUtf8(contents(path)));
}

} // namespace StoreFuzz
