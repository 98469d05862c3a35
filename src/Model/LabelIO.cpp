#include "Model/LabelIO.h"

#include "Model/LabelFileDecoder.h"
#include "Model/StoreFile.h"
#include "Platform/Text.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QXmlStreamReader>

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>

#include <limits>

namespace {

constexpr qint64 kMaxIndex = std::numeric_limits<qint64>::max();

// The next index after `index`, without wrapping past the largest one.
qint64 successor(qint64 index)
{
    return index == kMaxIndex ? kMaxIndex : index + 1;
}

bool isHorizontalSpace(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QStringView trimHorizontal(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isHorizontalSpace(text.at(begin)))
        ++begin;
    while (end > begin && isHorizontalSpace(text.at(end - 1)))
        --end;
    return text.sliced(begin, end - begin);
}

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

// Characters an XML 1.0 document cannot hold, even as references.
bool isXmlCarriable(QChar c, bool pairedSurrogate)
{
    const char16_t u = c.unicode();
    if (u < 0x20)
        return u == 0x09 || u == 0x0A || u == 0x0D;
    if (c.isSurrogate())
        return pairedSurrogate;
    return u != 0xFFFE && u != 0xFFFF;
}

// Escapes `text` for an attribute value. Tabs and line breaks go as character references,
// which a reader keeps (a literal one it would turn into a space); what XML cannot hold at
// all becomes U+FFFD, and `changed` is set.
QString escape(const QString &text, bool *changed = nullptr)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        bool paired = false;
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            paired = true;
        else if (c.isLowSurrogate() && i > 0 && text.at(i - 1).isHighSurrogate())
            paired = true;
        if (!isXmlCarriable(c, paired)) {
            out += QChar::ReplacementCharacter;
            if (changed)
                *changed = true;
            continue;
        }
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\t':
            out += QLatin1String("&#9;");
            break;
        case '\n':
            out += QLatin1String("&#10;");
            break;
        case '\r':
            out += QLatin1String("&#13;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

// A label as one spreadsheet cell: a tab or line break would split its row.
QString asCell(const QString &label, qsizetype *changed)
{
    QString cell = label;
    bool replaced = false;
    for (QChar &c : cell) {
        if (c == u'\t' || isLineBreak(c)) {
            c = u' ';
            replaced = true;
        }
    }
    if (replaced && changed)
        ++*changed;
    return cell;
}

void appendPorts(QStringList &lines, const QList<Port> &ports, qsizetype *changed)
{
    if (ports.isEmpty()) {
        lines.append(QString());
        return;
    }
    for (const Port &port : ports) {
        bool replaced = false;
        lines.append(Text::format(QStringLiteral("    <port number=\"%1\" name=\"%2\"/>"),
                                  qint64(port.index) + 1, escape(port.label, &replaced)));
        if (replaced && changed)
            ++*changed;
    }
}

using LabelImport::maxLineLength;
// A label file is read and decoded this many bytes at a time.
constexpr qsizetype decodeChunk = 256 * 1024;

// Where a reader puts what it finds. Names of ports past the last port number are counted,
// not kept, so a file of any length yields at most maxPortNumber labels per side.
struct Collected
{
    ParsedLabels parsed;
    LabelImport::Notes notes;

    // Whether the row gave anything: a name, or one counted as skipped.
    bool store(QMap<qint64, QString> &map, qint64 index, QStringView text)
    {
        if (text.isEmpty())
            return false;
        if (index >= LabelImport::maxPortNumber) { // keys are 0-based
            ++notes.skipped;
            return true;
        }
        const auto it = map.find(index);
        if (it == map.end()) {
            map.insert(index, text.toString());
        } else {
            ++notes.replaced;
            *it = text.toString();
        }
        return true;
    }

    ParsedLabels take(LabelImport::Notes *notesOut)
    {
        if (notesOut)
            *notesOut = notes;
        return std::move(parsed);
    }
};

class Cells
{
public:
    explicit Cells(QStringView line)
        : m_rest(line)
        , m_separator(line.contains(u'\t') ? u'\t' : u',')
        , m_split(line.contains(m_separator))
    { }

    std::optional<QStringView> next()
    {
        if (m_done)
            return std::nullopt;
        if (!m_split) {
            m_done = true;
            return m_rest;
        }
        const qsizetype at = m_rest.indexOf(m_separator);
        const QStringView cell = at < 0 ? m_rest : m_rest.first(at);
        if (at < 0)
            m_done = true;
        else
            m_rest = m_rest.sliced(at + 1);
        return trimHorizontal(cell);
    }

private:
    QStringView m_rest;
    QChar m_separator;
    bool m_split;
    bool m_done = false;
};

// Reads delimited text line by line, given in pieces of any size; the row rules are
// parseDelimited()'s.
class DelimitedReader
{
public:
    explicit DelimitedReader(DelimitedTarget target)
        : m_target(target)
    { }

    // Text that follows what came before.
    void feed(QStringView piece);
    // The text ended: reads its last line.
    ParsedLabels finish(LabelImport::Notes *notes);
    // The number of the line being read, 1-based.
    qint64 lineNumber() const { return m_lineNumber; }

private:
    void extend(QStringView part);
    void endLine(QStringView part);
    void line(QStringView raw);

    DelimitedTarget m_target;
    Collected m_out;
    qint64 m_nextSource = 0;
    qint64 m_nextDest = 0;
    QString m_line; // the unfinished line of the last piece, at most maxLineLength long
    bool m_lineCut = false;
    bool m_afterCR = false;
    qint64 m_lineNumber = 1;
};

void DelimitedReader::feed(QStringView piece)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i < piece.size(); ++i) {
        const QChar c = piece.at(i);
        if (!isLineBreak(c))
            continue;
        // A carriage return and line feed end one line, also across pieces.
        const bool secondHalf = c == u'\n' && m_afterCR && i == start && m_line.isEmpty();
        m_afterCR = c == u'\r';
        if (!secondHalf)
            endLine(piece.sliced(start, i - start));
        start = i + 1;
    }
    if (start < piece.size()) {
        m_afterCR = false;
        extend(piece.sliced(start));
    }
}

void DelimitedReader::extend(QStringView part)
{
    const qsizetype room = maxLineLength - m_line.size();
    if (part.size() > room)
        m_lineCut = true;
    m_line += part.first(qMin(part.size(), room));
}

void DelimitedReader::endLine(QStringView part)
{
    if (m_line.isEmpty() && !m_lineCut) {
        if (part.size() > maxLineLength)
            m_lineCut = true;
        line(part.first(qMin(part.size(), maxLineLength)));
    } else {
        extend(part);
        line(m_line);
        m_line.clear();
    }
    if (m_lineCut) {
        LabelImport::Notes &notes = m_out.notes;
        if (notes.cutLines++ == 0)
            notes.firstCutLine = m_lineNumber;
        m_lineCut = false;
    }
    ++m_lineNumber;
}

ParsedLabels DelimitedReader::finish(LabelImport::Notes *notes)
{
    if (!m_line.isEmpty() || m_lineCut)
        endLine({});
    return m_out.take(notes);
}

bool isSpaceSeparator(QChar c)
{
    return c.category() == QChar::Separator_Space;
}

void DelimitedReader::line(QStringView raw)
{
    if (trimHorizontal(raw).isEmpty())
        return;
    // Tabs at the ends stay: they separate cells, so an exported row whose last label is
    // empty keeps its number rather than falling to the row counters.
    qsizetype begin = 0;
    qsizetype end = raw.size();
    while (isSpaceSeparator(raw.at(begin)))
        ++begin;
    while (isSpaceSeparator(raw.at(end - 1)))
        --end;
    const QStringView line = raw.sliced(begin, end - begin);
    ParsedLabels &parsed = m_out.parsed;
    Cells cells(line);
    // A row that gives nothing is counted with why, for the operator.
    const auto gave = [this](bool any, bool unnumbered = false) {
        if (!any)
            ++(unnumbered ? m_out.notes.unnumberedRows : m_out.notes.emptyRows);
    };

    if (m_target == DelimitedTarget::both) {
        const QStringView first = *cells.next();
        const std::optional<QStringView> second = cells.next();
        const std::optional<QStringView> third = second ? cells.next() : std::nullopt;
        const std::optional<qint64> numbered = third ? LabelImport::number(first) : std::nullopt;
        if (!second) {
            gave(m_out.store(parsed.sources, m_nextSource, first));
            m_nextSource = successor(m_nextSource);
        } else if (numbered) {
            const bool source
                = *numbered >= 1 && m_out.store(parsed.sources, *numbered - 1, *second);
            const bool dest
                = *numbered >= 1 && m_out.store(parsed.destinations, *numbered - 1, *third);
            gave(source || dest, *numbered < 1);
        } else {
            const bool source = m_out.store(parsed.sources, m_nextSource, first);
            gave(m_out.store(parsed.destinations, m_nextDest, *second) || source);
            m_nextSource = successor(m_nextSource);
            m_nextDest = successor(m_nextDest);
        }
        return;
    }

    const bool sources = m_target == DelimitedTarget::sources;
    QMap<qint64, QString> &map = sources ? parsed.sources : parsed.destinations;
    qint64 &counter = sources ? m_nextSource : m_nextDest;
    // Empty cells before the first name are columns left of the names: a spreadsheet column
    // copied with an empty one before it.
    std::optional<QStringView> first = cells.next();
    while (first && first->isEmpty())
        first = cells.next();
    if (!first) { // only separators
        gave(false);
        return;
    }
    const std::optional<QStringView> second = cells.next();
    const std::optional<qint64> numbered = second ? LabelImport::number(*first) : std::nullopt;
    if (numbered) {
        if (*numbered >= 1) {
            QString joined = second->toString();
            while (const std::optional<QStringView> cell = cells.next()) {
                joined += QLatin1Char(' ');
                joined += *cell;
            }
            gave(m_out.store(map, *numbered - 1, trimHorizontal(joined)));
        } else {
            gave(false, true);
        }
    } else {
        gave(m_out.store(map, counter, *first));
        counter = successor(counter);
    }
}

} // namespace

QString rawValue(DelimitedTarget target)
{
    switch (target) {
    case DelimitedTarget::sources:
        return QStringLiteral("sources");
    case DelimitedTarget::destinations:
        return QStringLiteral("destinations");
    case DelimitedTarget::both:
        return QStringLiteral("both");
    }
    return {};
}

std::optional<DelimitedTarget> delimitedTargetFromRawValue(const QString &raw)
{
    for (DelimitedTarget target : allDelimitedTargets()) {
        if (rawValue(target) == raw)
            return target;
    }
    return std::nullopt;
}

QList<DelimitedTarget> allDelimitedTargets()
{
    return { DelimitedTarget::sources, DelimitedTarget::destinations, DelimitedTarget::both };
}

// MARK: Export

QString LabelExport::xml(const RouterState &state, qsizetype *changed)
{
    if (changed)
        *changed = 0;
    QStringList lines {
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"),
        QStringLiteral("<routerLabels device=\"%1\">").arg(escape(state.deviceName)),
        QStringLiteral("  <sources>")
    };
    appendPorts(lines, state.sources, changed);
    lines.append(QStringLiteral("  </sources>"));
    lines.append(QStringLiteral("  <destinations>"));
    appendPorts(lines, state.destinations, changed);
    lines.append(QStringLiteral("  </destinations>"));
    lines.append(QStringLiteral("</routerLabels>"));
    return lines.join(QLatin1Char('\n'));
}

QString LabelExport::tsv(const RouterState &state, qsizetype *changed)
{
    if (changed)
        *changed = 0;
    const qsizetype rows = qMax(state.sources.size(), state.destinations.size());
    QStringList lines;
    lines.reserve(rows);
    for (qsizetype r = 0; r < rows; ++r) {
        const QString source
            = r < state.sources.size() ? asCell(state.sources[r].label, changed) : QString();
        const QString destination = r < state.destinations.size()
            ? asCell(state.destinations[r].label, changed)
            : QString();
        lines.append(QString::number(r + 1) + QLatin1Char('\t') + source + QLatin1Char('\t')
                     + destination);
    }
    return lines.join(QLatin1Char('\n'));
}

// MARK: Delimited import

std::optional<qint64> LabelImport::number(QStringView text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate towards the negative side, which has room for the most negative value.
    qint64 value = 0;
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == lowest)
            return std::nullopt;
        value = -value;
    }
    return value;
}

QStringList LabelImport::splitCells(const QString &line)
{
    QStringList cells;
    Cells cursor(line);
    while (const std::optional<QStringView> cell = cursor.next())
        cells.append(cell->toString());
    return cells;
}

ParsedLabels LabelImport::parseDelimited(QStringView text, DelimitedTarget target, Notes *notes)
{
    DelimitedReader reader(target);
    reader.feed(text);
    return reader.finish(notes);
}

LabelImport::FileLabels LabelImport::parseDelimitedFile(QByteArrayView bytes,
                                                        DelimitedTarget target, Notes *notes)
{
    QBuffer buffer;
    buffer.setData(QByteArray::fromRawData(bytes.data(), bytes.size()));
    buffer.open(QIODevice::ReadOnly);
    return parseDelimitedFile(buffer, target, notes);
}

LabelImport::FileLabels LabelImport::parseDelimitedFile(QIODevice &file, DelimitedTarget target,
                                                        Notes *notes)
{
    DelimitedReader reader(target);
    LabelFileDecoder decoder;
    while (true) {
        const QByteArray more = file.read(decodeChunk);
        const bool atEnd = more.isEmpty();
        if (atEnd && !file.atEnd())
            return std::unexpected(
                QStringLiteral("It couldn't be read past line %1. %2")
                    .arg(QString::number(reader.lineNumber()), file.errorString()));
        reader.feed(decoder.decode(more, atEnd));
        // Nothing of a file that isn't text is imported: it would be garbage.
        if (const std::optional<QString> error = decoder.error(reader.lineNumber()))
            return std::unexpected(*error);
        if (atEnd)
            break;
    }
    return reader.finish(notes);
}

qsizetype LabelImport::cutLongLabels(ParsedLabels &labels)
{
    qsizetype cut = 0;
    for (QMap<qint64, QString> *side : { &labels.sources, &labels.destinations }) {
        for (QString &label : *side) {
            if (label.size() <= maxLabelLength)
                continue;
            qsizetype length = maxLabelLength;
            if (label.at(length - 1).isHighSurrogate())
                --length;
            label.truncate(length);
            ++cut;
        }
    }
    return cut;
}

std::expected<std::unique_ptr<QFile>, QString> LabelImport::openFile(const QString &path,
                                                                     qint64 maxSize)
{
    auto file = StoreFile(path, maxSize).open();
    if (file && !*file)
        return std::unexpected(QStringLiteral("The file doesn't exist."));
    return file;
}

// MARK: XML import

const QStringList LabelXMLDelegate::sourceContainers { "sources", "inputs", "sourcelist",
                                                       "inputlist" };
const QStringList LabelXMLDelegate::destContainers { "destinations", "outputs", "destinationlist",
                                                     "outputlist" };
const QStringList LabelXMLDelegate::sourceElements { "source", "input", "in", "src" };
const QStringList LabelXMLDelegate::destElements { "destination", "output", "out", "dst", "dest" };
const QStringList LabelXMLDelegate::portElements { "port", "label", "entry", "item",
                                                   "row",  "io",    "xpt" };
const QStringList LabelXMLDelegate::numberKeys {
    "index", "number", "id", "n", "num", "idx", "port"
};
const QStringList LabelXMLDelegate::nameKeys { "name", "label", "title", "text", "value", "alias" };

namespace {
qsizetype leadingSpace(QStringView text)
{
    qsizetype n = 0;
    while (n < text.size() && text.at(n).isSpace())
        ++n;
    return n;
}

QHash<QString, QString> lowerCased(const QHash<QString, QString> &attributes)
{
    QHash<QString, QString> lowered;
    for (auto it = attributes.constBegin(); it != attributes.constEnd(); ++it)
        lowered.insert(it.key().toLower(), it.value());
    return lowered;
}
} // namespace

std::optional<QString> LabelXMLDelegate::stringValue(const QHash<QString, QString> &attributes,
                                                     const QStringList &keys)
{
    const QHash<QString, QString> lowered = lowerCased(attributes);
    for (const QString &key : keys) {
        const auto it = lowered.constFind(key);
        if (it != lowered.constEnd())
            return *it;
    }
    return std::nullopt;
}

std::optional<qint64> LabelXMLDelegate::intValue(const QHash<QString, QString> &attributes,
                                                 const QStringList &keys)
{
    const std::optional<QString> text = stringValue(attributes, keys);
    if (!text)
        return std::nullopt;
    return LabelImport::number(trimHorizontal(*text));
}

LabelXMLDelegate::Role LabelXMLDelegate::roleOf(QStringView name)
{
    // Names are compared lower-cased; an ASCII name is lowered without a copy, since a
    // document may hold millions of elements.
    char16_t buffer[16];
    QString lowered;
    QStringView lower;
    bool ascii = name.size() <= qsizetype(std::size(buffer));
    for (qsizetype i = 0; ascii && i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        ascii = c < 0x80;
        buffer[i] = c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
    }
    if (ascii) {
        lower = QStringView(buffer, name.size());
    } else {
        lowered = name.toString().toLower();
        lower = lowered;
    }
    // The five lists, as plain views for a fast scan.
    static const auto roles = [] {
        QList<std::pair<std::u16string, Role>> all;
        const std::pair<const QStringList *, Role> lists[] {
            { &sourceContainers, Role::sourceContainer }, { &destContainers, Role::destContainer },
            { &sourceElements, Role::sourceElement },     { &destElements, Role::destElement },
            { &portElements, Role::portElement },
        };
        for (const auto &[list, role] : lists) {
            for (const QString &entry : *list)
                all.append({ entry.toStdU16String(), role });
        }
        return all;
    }();
    const std::u16string_view wanted(lower.utf16(), size_t(lower.size()));
    for (const auto &[entry, role] : roles) {
        if (entry == wanted)
            return role;
    }
    return Role::other;
}

void LabelXMLDelegate::startElement(QStringView name, const QHash<QString, QString> &attributes)
{
    m_characters.truncate(0); // keeps its room for the next text
    const Role role = roleOf(name);
    if (role == Role::sourceContainer || role == Role::destContainer) {
        m_containerStack.append(role == Role::sourceContainer ? PortKind::source
                                                              : PortKind::destination);
        return;
    }
    std::optional<PortKind> side;
    if (role == Role::sourceElement)
        side = PortKind::source;
    else if (role == Role::destElement)
        side = PortKind::destination;
    else if (role == Role::portElement && !m_containerStack.isEmpty())
        side = m_containerStack.last();
    m_pendingKind = side;
    if (!side)
        return;
    if (attributes.isEmpty()) {
        m_pendingIndex.reset();
        m_pendingName.reset();
        return;
    }
    m_pendingIndex = intValue(attributes, numberKeys);
    m_pendingName = stringValue(attributes, nameKeys);
}

void LabelXMLDelegate::characters(QStringView text)
{
    // The label is the text trimmed and cut to maxLabelLength, so leading white space and
    // anything past one character more than that changes nothing; a document of one
    // endless text then holds no copy of it.
    if (m_characters.isEmpty())
        text = text.sliced(leadingSpace(text));
    const qsizetype room = LabelImport::maxLabelLength + 1 - m_characters.size();
    if (room > 0)
        m_characters += text.first(qMin(room, text.size()));
}

void LabelXMLDelegate::endElement(QStringView name)
{
    const Role role = roleOf(name);
    if (role == Role::sourceContainer || role == Role::destContainer) {
        if (!m_containerStack.isEmpty())
            m_containerStack.removeLast();
        return;
    }
    if (!m_pendingKind)
        return;

    const QStringView fromName
        = m_pendingName ? QStringView(*m_pendingName).trimmed() : QStringView();
    const QStringView label = fromName.isEmpty() ? QStringView(m_characters).trimmed() : fromName;
    if (!label.isEmpty()) {
        const bool isSource = *m_pendingKind == PortKind::source;
        qint64 &counter = isSource ? m_autoSource : m_autoDest;
        std::optional<qint64> index;
        if (m_pendingIndex) {
            if (*m_pendingIndex >= 1)
                index = *m_pendingIndex - 1;
        } else {
            index = counter;
        }
        if (index) {
            if (*index < LabelImport::maxPortNumber)
                (isSource ? m_sources : m_destinations).insert(*index, label.toString());
            else
                ++m_skipped;
            counter = qMax(counter, successor(*index));
        }
    }
    m_pendingKind.reset();
    m_pendingIndex.reset();
    m_pendingName.reset();
    m_characters.truncate(0);
}

LabelImport::FileLabels LabelXMLDelegate::parse(const QByteArray &document,
                                                LabelImport::Notes *notes)
{
    QBuffer buffer;
    buffer.setData(document);
    buffer.open(QIODevice::ReadOnly);
    return parse(buffer, notes);
}

LabelImport::FileLabels LabelXMLDelegate::parse(QIODevice &device, LabelImport::Notes *notes)
{
    // Deeper nesting is read as a break in the document: the reader keeps every open element.
    constexpr int maxDepth = 256;
    LabelXMLDelegate delegate;
    // Read from a device, the reader decodes a piece at a time rather than the whole.
    QXmlStreamReader reader(&device);
    reader.setNamespaceProcessing(false);
    std::optional<LabelImport::Notes::Break> broken;
    int depth = 0;
    while (!reader.atEnd() && !broken) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            return std::unexpected(
                QStringLiteral("Line %1 declares a document type (DTD), which Quorvel doesn't "
                               "read in label files.")
                    .arg(reader.lineNumber()));
        case QXmlStreamReader::StartElement: {
            if (++depth > maxDepth) {
                broken = { reader.lineNumber(), reader.columnNumber(),
                           QStringLiteral("Elements are nested more than %1 deep.").arg(maxDepth) };
                break;
            }
            // Only the attributes a lookup can find are copied; an element may carry many.
            QHash<QString, QString> attributes;
            for (const QXmlStreamAttribute &attribute : reader.attributes()) {
                const QString name = attribute.qualifiedName().toString();
                const QString lower = name.toLower();
                if (numberKeys.contains(lower) || nameKeys.contains(lower))
                    attributes.insert(name, attribute.value().toString());
            }
            delegate.startElement(reader.qualifiedName(), attributes);
            break;
        }
        case QXmlStreamReader::Characters:
            delegate.characters(reader.text());
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            delegate.endElement(reader.qualifiedName());
            break;
        case QXmlStreamReader::Invalid:
            // Nothing of a document that isn't text is imported: it would be garbage. The
            // reader decodes ahead of what it parses, so the place is only a bound.
            if (reader.errorString()
                == QCoreApplication::translate("QXmlStream",
                                               "Encountered incorrectly encoded content."))
                return std::unexpected(Text::format(
                    QStringLiteral("The document isn't valid text in its "
                                   "encoding: the fault lies past line %1, column %2."),
                    reader.lineNumber(), reader.columnNumber()));
            broken = { reader.lineNumber(), reader.columnNumber(), reader.errorString() };
            break;
        default:
            break;
        }
    }
    if (notes) {
        *notes = {};
        notes->skipped = delegate.m_skipped;
        notes->brokenAt = broken;
    }
    return delegate.labels();
}
