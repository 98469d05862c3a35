#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QString>

#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

// Why a change a store was asked to make was not saved.
struct StoreFailure
{
    enum class Kind {
        notWritten, // the change stands for this session; the file couldn't be written
        refused, // the change was not made: the file could not hold it
    };
    Kind kind = Kind::notWritten;
    QString reason; // the system's description, or why the change was refused
    QString file; // the file's name, "salvos.json"

    bool operator==(const StoreFailure &) const = default;

    // What the operator is told where the edit was made: `done` says what stands for this
    // session ("Salvo “A” was captured"), `notDone` what was not made ("Salvo “A” wasn't
    // captured"). "<done>, but the salvos file couldn't be written, so the change is lost when
    // Quorvel quits. <Reason>." or "<notDone>. <Reason>."
    QString message(const QString &done, const QString &notDone) const;
};

// The outcome of a store change: none when it was saved. `firstFailure` keeps the first failure of
// several writes made for one edit.
using StoreOutcome = std::optional<StoreFailure>;
inline StoreOutcome firstFailure(const StoreOutcome &a, const StoreOutcome &b)
{
    return a ? a : b;
}

// The file mechanics every JSON store of the application shares (labels, salvos, panels and
// saved routers). A store owns one StoreFile for its whole life and calls it from the UI
// thread only:
//
//   StoreFile file(path);                  // path from StoreFile::defaultPath("labels.json")
//   auto bytes = file.read();              // once, at creation
//   missing  -> start empty, print nothing
//   error    -> file.moveAside(); print "<Store>: unreadable …"; start empty
//   bytes    -> decode (StoreFile::parseJson + the store's own reader); on failure as "error"
//   ...
//   file.save(bytes, "<Store>")            // after every change; prints a failure
//
// Writes are whole-file and atomic (a temporary file renamed over the target), so the file is
// always either its old or its new content. A file that could not be moved aside is never
// overwritten: write() refuses until the aside copy exists, so the only copy of the operator's
// data survives. Nor is a file that changed since it was read or written (a hand edit, a
// restore, a sync tool): write() first keeps it as a numbered copy beside it, "<path>.outside",
// "<path>.outside-1" …, or refuses when that copy cannot be made.
class StoreFile final
{
public:
    // An unreadable file found at load: its name, where its copy is kept (none when it could
    // not be moved aside and stays in place), and why it could not be read.
    struct Rescue
    {
        QString fileName;
        std::optional<QString> copyPath;
        QString reason;
    };

    // The version of the file someone else left, kept before a write replaced it.
    struct Kept
    {
        QString fileName;
        QString copyPath;
    };

    // Files larger than this are not read: they are treated as unreadable and moved aside.
    static constexpr qint64 defaultMaxSize = 64 * 1024 * 1024;
    // Unreadable copies kept beside one file before the file is kept in place instead.
    static constexpr int maxAsideCopies = 999;

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
    std::expected<std::optional<QByteArray>, QString> read();
    // The same checks, and the file opened for reading instead of read (null when no file
    // exists), for a reader that takes it a piece at a time.
    std::expected<std::unique_ptr<QFile>, QString> open();

    // Moves the unreadable file to the first free name of "<path>.corrupt", "<path>.corrupt-1",
    // "<path>.corrupt-2" …, so that every unreadable version is kept; when a move fails it is
    // copied under that name instead. Returns the path of the copy, or none when nothing
    // worked; then write() refuses to replace the file, the only copy of its data.
    std::optional<QString> moveAside();
    // The unreadable file found by load(), if any.
    const std::optional<Rescue> &rescue() const { return m_rescue; }

    // Called with each outside version kept, once its copy exists.
    void setOnKept(std::function<void(const Kept &)> onKept) { m_onKept = std::move(onKept); }

    // Creates the folder (with missing intermediate folders) and replaces the file atomically.
    // Returns the error text on failure (the system's reason, "No space left on device"),
    // std::nullopt on success. A write that fails part way leaves the old file as it was.
    std::optional<QString> write(const QByteArray &bytes);
    // Content handed over a piece at a time: `pieces(put)` calls put() with each piece in
    // order, `size` bytes in all, so that a large store never joins its text into one more
    // copy. Written as write() writes.
    using Put = std::function<void(QByteArrayView)>;
    using Pieces = std::function<void(const Put &)>;
    std::optional<QString> write(qsizetype size, const Pieces &pieces);
    // Why content of `size` bytes is never written, as read() would refuse the file.
    std::optional<QString> refusal(qsizetype size) const;
    // write(), printing "<store>: save failed — <reason>" when it fails; content larger than
    // the file may hold is a refusal. A kept outside version is printed too.
    StoreOutcome save(const QByteArray &bytes, const QString &store);
    StoreOutcome save(qsizetype size, const Pieces &pieces, const QString &store);

    // Decodes JSON text with the error as the parser describes it.
    static std::expected<QJsonDocument, QString> parseJson(const QByteArray &bytes);

    // "16 MB" for whole mebibytes, else "1000 bytes".
    static QString sizeText(qint64 bytes);

    // One diagnostic line on standard output (UTF-8, flushed at once).
    static void printLine(const QString &line);

    // The load step of a store: reads the file and hands the JSON document to `decode`
    // (returning std::expected<T, QString>). No file gives std::nullopt silently; a read,
    // parse or decode failure moves the file aside, records rescue(), prints
    // "<store>: unreadable <file> moved to <copy> — <error>" (or that the file was kept in
    // place) and gives std::nullopt.
    template<typename Decode>
    auto load(Decode &&decode, const QString &store)
        -> std::optional<typename std::invoke_result_t<Decode, const QJsonDocument &>::value_type>
    {
        using Decoded = std::invoke_result_t<Decode, const QJsonDocument &>;
        return loadText(
            [&decode](const QByteArray &bytes) -> Decoded {
                auto document = parseJson(bytes);
                if (!document)
                    return std::unexpected(document.error());
                return decode(*document);
            },
            store);
    }

    // The same with the file's bytes handed to `decode` as they were read, for a reader that
    // decodes them a piece at a time and may keep them.
    template<typename Decode>
    auto loadText(Decode &&decode, const QString &store)
        -> std::optional<typename std::invoke_result_t<Decode, const QByteArray &>::value_type>
    {
        const auto bytes = read();
        if (bytes && !*bytes)
            return std::nullopt;
        QString error;
        if (!bytes) {
            error = bytes.error();
        } else if (auto value = decode(**bytes); !value) {
            error = value.error();
        } else {
            return std::move(*value);
        }
        m_rescue = Rescue { fileName(), moveAside(), error };
        printLine(unreadableLine(store));
        return std::nullopt;
    }

private:
    // What the file was when this store last looked: read or wrote it. Size and modification
    // time tell a change at the cost of one look at its entry, where a digest would read the
    // whole file before each write; the birth time tells a file put in its place (a restore
    // that keeps the old time, or a sync tool's rename) whatever its size and time.
    struct Stamp
    {
        bool exists = false;
        bool regular = false;
        qint64 size = 0;
        QDateTime modified;
        QDateTime born;

        bool operator==(const Stamp &) const = default;
    };
    Stamp stamp() const;
    // The first free name of "<path><suffix>", "<path><suffix>-1" …, the file moved (or else
    // copied) there; none when it could be neither.
    std::optional<QString> keepAs(const QString &suffix, bool move) const;
    // Keeps a version someone else wrote since this store last looked; the error when it
    // can't, so that the version is not replaced.
    std::optional<QString> keepOutsideVersion();
    QString tooLarge() const;
    QString unreadableLine(const QString &store) const;

    QString m_path;
    qint64 m_maxSize;
    bool m_keepInPlace = false; // the unreadable file is still the only copy
    std::optional<Rescue> m_rescue;
    std::optional<Stamp> m_seen; // none until the file was first read or written
    std::function<void(const Kept &)> m_onKept;
    std::optional<Kept> m_justKept; // by the last write, for save() to print
};
