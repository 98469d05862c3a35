#pragma once

#include "Model/EncodedJson.h"
#include "Model/RouterModels.h"
#include "Model/StoreFile.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

// One router's user label overrides, keyed by the port's 0-based index in decimal.
// Every stored label is non-empty and trimmed.
struct PortLabels
{
    QMap<QString, QString> sources;
    QMap<QString, QString> destinations;

    bool isEmpty() const { return sources.isEmpty() && destinations.isEmpty(); }
    bool operator==(const PortLabels &) const = default;

    // Both members are always written and both are required when reading.
    QJsonObject toJson() const;
    static Json::Decoded<PortLabels> fromJson(const QJsonObject &object);
};

// Labels read from an import, keyed by 0-based port index. Indices are 64-bit because an
// imported file may name any number; only the store decides what is kept.
struct ParsedLabels
{
    QMap<qint64, QString> sources;
    QMap<qint64, QString> destinations;

    bool operator==(const ParsedLabels &) const = default;
};

// The user label overrides of every saved router, kept in labels.json. One instance per
// application, used on the UI thread only. Every change is written to disk before the
// operation returns; a failed write is printed and the change stays in memory. Operations
// that write return what became of the write, for callers that tell the operator, as
// SalvoStore's do: a change the file could not hold is undone.
class LabelStore final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QMap<QString, PortLabels> byConnection READ byConnection NOTIFY byConnectionChanged)

public:
    using Map = QMap<QString, PortLabels>;

    // `filePath` defaults to defaultURL(); the file is read once, here.
    explicit LabelStore(const QString &filePath = defaultURL(), QObject *parent = nullptr);

    // "Quorvel/labels.json" under the application-support folder.
    static QString defaultURL();
    // The decoded map; std::nullopt when there is no file or it was unreadable (then it has
    // been moved aside and the unreadable-file line printed).
    static std::optional<Map> load(const QString &filePath);

    QString url() const { return m_file.path(); }
    // The unreadable labels.json found at creation, if any.
    const std::optional<StoreFile::Rescue> &rescue() const { return m_file.rescue(); }
    // Keyed by the upper-case UUID text of each connection id. Decoded from the kept text of
    // every router on each call: for readers that need them all.
    Map byConnection() const;
    // The overrides of one router; two empty maps when it has none.
    PortLabels labels(const QUuid &connection) const;

    // One override to set (trimmed, non-empty) or to clear (no label, or a blank one).
    struct Edit
    {
        PortKind kind;
        int index;
        std::optional<QString> label;
    };

    using Failure = StoreOutcome;

    // Sets or clears one override. A negative index is ignored.
    Failure set(const std::optional<QString> &label, PortKind kind, int index,
                const QUuid &connection);
    // Applies the edits in order and writes once: the file is what as many set() calls write.
    Failure set(const QList<Edit> &edits, const QUuid &connection);
    // Adds or replaces the imported overrides; names empty after trimming are skipped.
    Failure merge(const ParsedLabels &parsed, const QUuid &connection);
    // Drops every override of the router.
    Failure removeAll(const QUuid &connection);
    Failure save();

signals:
    void byConnectionChanged();
    // A save found the file changed by someone else and kept that version as a copy.
    void outsideVersionKept(const StoreFile::Kept &kept);

private:
    // One router's member of labels.json as the writer gives it: `"key":{…}`. The labels are
    // kept only as this text and decoded when asked for, which costs a fraction of what the
    // maps would hold.
    struct RouterText
    {
        QByteArray text;
        qsizetype valueAt = 0; // where `{…}` starts
    };
    using Texts = QMap<QString, RouterText>;

    // Reads labels.json a router at a time into its texts; a router's text that is already
    // what the writer gives stays a view of the file's bytes (`backing`).
    static std::optional<Texts> load(StoreFile &file, QByteArray &backing);
    static PortLabels decode(const RouterText &text);
    Failure commit(const QString &key, const PortLabels &labels);

    StoreFile m_file;
    Texts m_texts; // labels.json as last written, per router
    QByteArray m_backing; // labels.json as read, while texts of it are kept
};
