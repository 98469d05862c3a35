#pragma once

#include "Model/LabelStore.h"
#include "Model/RouterModels.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QHash>
#include <QIODevice>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <expected>
#include <memory>
#include <optional>

// Label exchange with other tools: "routerLabels" XML and tab-separated text out, tolerant
// XML and tab- or comma-separated text in. Nothing here talks to a router; imports become
// local overrides through LabelStore::merge().

// Which columns a delimited import fills.
enum class DelimitedTarget { sources, destinations, both };

QString rawValue(DelimitedTarget target);
std::optional<DelimitedTarget> delimitedTargetFromRawValue(const QString &raw);
QList<DelimitedTarget> allDelimitedTargets();

namespace LabelExport {

// The "routerLabels" document: ports numbered 1-based, labels and device name escaped,
// lines joined by "\n" without a final one. Tabs and line breaks in a name are written as
// character references so that they read back as they were; characters XML 1.0 cannot hold
// at all become U+FFFD, and `changed` (when given) counts the labels that had any.
QString xml(const RouterState &state, qsizetype *changed = nullptr);
// One "row\tsource\tdestination" line per list position. A tab or line break in a label
// would split its row, so each becomes a space; `changed` counts the labels that had any.
QString tsv(const RouterState &state, qsizetype *changed = nullptr);

} // namespace LabelExport

namespace LabelImport {

// Files larger than this are refused before they are read.
constexpr qint64 maxFileSize = 16 * 1024 * 1024;
// The highest port number any router protocol addresses. Readers keep no label of a port
// past it: a file of any length yields at most this many labels per side.
constexpr qint64 maxPortNumber = 65535;
// Longer imported labels are cut to this many characters.
constexpr qsizetype maxLabelLength = 1024;

// A delimited line is read this far at most: no row of labels comes near it, and a file of
// one endless line then costs no more than one of short ones.
constexpr qsizetype maxLineLength = 64 * maxLabelLength;

// What an import left out or shortened, for the operator; the labels it kept are sound.
struct Notes
{
    // Named ports past maxPortNumber, which are not kept.
    qsizetype skipped = 0;
    // Delimited lines longer than maxLineLength, read only that far, and the 1-based number
    // of the first of them.
    qsizetype cutLines = 0;
    qint64 firstCutLine = 0;
    // Labels longer than maxLabelLength, cut by cutLongLabels().
    qsizetype cutLabels = 0;
    // Delimited rows that gave no name: their name cells were empty, or their number was
    // below 1; and names a later row replaced by naming the same port again.
    qsizetype emptyRows = 0;
    qsizetype unnumberedRows = 0;
    qsizetype replaced = 0;
    // Where an XML document broke off, and the reader's reason; nothing after it was read.
    struct Break
    {
        qint64 line = 0;
        qint64 column = 0;
        QString reason;
    };
    std::optional<Break> brokenAt;

    bool isEmpty() const
    {
        return skipped == 0 && cutLines == 0 && cutLabels == 0 && emptyRows == 0
            && unnumberedRows == 0 && replaced == 0 && !brokenAt;
    }
};

// A file read to its labels, or refused with a sentence saying where and why (then nothing
// of it may be imported).
using FileLabels = std::expected<ParsedLabels, QString>;

// Rows of tab- (when the row has a tab) or comma-separated cells; see the row rules in the
// implementation. Unusable rows are skipped; what was left out is counted in `notes`.
ParsedLabels parseDelimited(QStringView text, DelimitedTarget target, Notes *notes = nullptr);
// The same over the bytes of a label file, read and decoded a piece at a time so that the
// whole text is never held at once: UTF-16 (little or big endian) after its byte-order mark,
// else UTF-8 (with or without one). A file that isn't valid text in its encoding, or that
// holds a NUL character, is refused.
FileLabels parseDelimitedFile(QIODevice &file, DelimitedTarget target, Notes *notes = nullptr);
FileLabels parseDelimitedFile(QByteArrayView bytes, DelimitedTarget target, Notes *notes = nullptr);
// One line to its cells, each trimmed of horizontal white space.
QStringList splitCells(const QString &line);
// The whole text is an optional sign and ASCII digits that fit 64 bits.
std::optional<qint64> number(QStringView text);

// Cuts labels longer than maxLabelLength, never inside a surrogate pair; returns how many.
qsizetype cutLongLabels(ParsedLabels &labels);

// Opens a label file for reading after checking its type and size; the error text is a
// sentence for the operator.
std::expected<std::unique_ptr<QFile>, QString> openFile(const QString &path,
                                                        qint64 maxSize = maxFileSize);

} // namespace LabelImport

// Collects port labels from an XML document of unknown dialect: containers name the side
// ("inputs", "destinations", …), port elements carry a 1-based number and a name as
// attributes or a name as text. Unnumbered ports take the next index of their side.
class LabelXMLDelegate final
{
public:
    static const QStringList sourceContainers;
    static const QStringList destContainers;
    static const QStringList sourceElements;
    static const QStringList destElements;
    static const QStringList portElements;
    static const QStringList numberKeys;
    static const QStringList nameKeys;

    // Parser events; names as written in the document, including any prefix.
    void startElement(QStringView name, const QHash<QString, QString> &attributes);
    void characters(QStringView text);
    void endElement(QStringView name);

    QMap<qint64, QString> sources() const { return m_sources; }
    QMap<qint64, QString> destinations() const { return m_destinations; }
    ParsedLabels labels() const { return { m_sources, m_destinations }; }
    // Named ports past LabelImport::maxPortNumber, which are not kept.
    qsizetype skipped() const { return m_skipped; }

    // Runs the platform's stream reader (namespace processing off) over `document` and keeps
    // whatever was collected before an error in the document, or before elements nested
    // deeper than any label document does; `notes` says where it broke off. A document that
    // declares a document type (whose entities could expand without bound) or that isn't
    // valid text in its encoding is refused.
    static LabelImport::FileLabels parse(const QByteArray &document,
                                         LabelImport::Notes *notes = nullptr);
    static LabelImport::FileLabels parse(QIODevice &document, LabelImport::Notes *notes = nullptr);

    // Attribute lookups: the first key of `keys` present among the (lower-cased) names.
    static std::optional<qint64> intValue(const QHash<QString, QString> &attributes,
                                          const QStringList &keys);
    static std::optional<QString> stringValue(const QHash<QString, QString> &attributes,
                                              const QStringList &keys);

private:
    enum class Role {
        sourceContainer,
        destContainer,
        sourceElement,
        destElement,
        portElement,
        other
    };
    static Role roleOf(QStringView name);

    QMap<qint64, QString> m_sources;
    QMap<qint64, QString> m_destinations;
    QList<PortKind> m_containerStack;
    std::optional<PortKind> m_pendingKind;
    std::optional<qint64> m_pendingIndex;
    std::optional<QString> m_pendingName;
    QString m_characters;
    qint64 m_autoSource = 0;
    qint64 m_autoDest = 0;
    qsizetype m_skipped = 0;
};
