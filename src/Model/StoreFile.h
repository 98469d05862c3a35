#pragma once

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QString>

#include <expected>
#include <memory>
#include <optional>
#include <type_traits>

// The file mechanics every JSON store of the application shares (labels, salvos, panels and
// saved routers). A store owns one StoreFile for its whole life and calls it from the UI
// thread only:
//
//   StoreFile file(path);                  // path from StoreFile::defaultPath("labels.json")
//   auto bytes = file.read();              // once, at creation
//   missing  -> start empty, print nothing
//   error    -> file.moveAside(); print "<Store>: unreadable …" with the aside name; start empty
//   bytes    -> decode (StoreFile::parseJson + the store's own reader); on failure as "error"
//   ...
//   if (auto failure = file.write(json))   // after every change
//       StoreFile::printLine("<Store>: save failed — " + *failure);
//
// Writes are whole-file and atomic (a temporary file renamed over the target), so the file is
// always either its old or its new content. A file that could not be moved aside is never
// overwritten: write() refuses until the aside copy exists, so the only copy of the operator's
// data survives.
class StoreFile final
{
public:
    // Files larger than this are not read: they are treated as unreadable and moved aside.
    static constexpr qint64 defaultMaxSize = 64 * 1024 * 1024;

    explicit StoreFile(QString path, qint64 maxSize = defaultMaxSize);

    // "Quorvel/<fileName>" under the application-support folder (created when missing), or
    // under the temporary folder when that folder cannot be obtained.
    static QString defaultPath(const QString &fileName);

    QString path() const { return m_path; }
    // The last path component ("labels.json"), as console lines name the file.
    QString fileName() const;

    // The whole file; std::nullopt when no file exists; an error text (the platform's
    // description) when it exists but cannot be read, is not a regular file (a FIFO would
    // block the read forever) or is larger than the size limit.
    std::expected<std::optional<QByteArray>, QString> read() const;
    // The same checks, and the file opened for reading instead of read (null when no file
    // exists), for a reader that takes it a piece at a time.
    std::expected<std::unique_ptr<QFile>, QString> open() const;

    // Moves the unreadable file to "<path>.corrupt", replacing an earlier such copy. When that
    // fails it falls back to the first free "<path>.corrupt-N" name, then to a copy under such
    // a name. Returns the file name of the aside copy (last component; the intended name when
    // every attempt failed). After a complete failure write() refuses to replace the file.
    QString moveAside();

    // Creates the folder (with missing intermediate folders) and replaces the file atomically.
    // Returns the error text on failure, std::nullopt on success.
    std::optional<QString> write(const QByteArray &bytes);
    std::optional<QString> write(const QJsonDocument &document);

    // Decodes JSON text with the error as the parser describes it.
    static std::expected<QJsonDocument, QString> parseJson(const QByteArray &bytes);

    // "16 MB" for whole mebibytes, else "1000 bytes".
    static QString sizeText(qint64 bytes);

    // One diagnostic line on standard output (UTF-8, flushed at once).
    static void printLine(const QString &line);

    // The load step of a store: reads the file and hands the JSON document to `decode`
    // (returning std::expected<T, QString>). No file gives std::nullopt silently; a read,
    // parse or decode failure moves the file aside, calls `unreadable(asideFileName, error)`
    // (where the store prints its line) and gives std::nullopt.
    template<typename Decode, typename Unreadable>
    auto load(Decode &&decode, Unreadable &&unreadable)
        -> std::optional<typename std::invoke_result_t<Decode, const QJsonDocument &>::value_type>
    {
        const auto bytes = read();
        if (bytes && !*bytes)
            return std::nullopt;
        QString error;
        if (!bytes) {
            error = bytes.error();
        } else if (auto document = parseJson(**bytes); !document) {
            error = document.error();
        } else if (auto value = decode(*document); !value) {
            error = value.error();
        } else {
            return std::move(*value);
        }
        unreadable(moveAside(), error);
        return std::nullopt;
    }

private:
    QString tooLarge() const;

    QString m_path;
    qint64 m_maxSize;
    bool m_keepInPlace = false; // the unreadable file is still the only copy
};
