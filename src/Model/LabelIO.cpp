#include "Model/LabelIO.h"

#include "Model/StoreFile.h"

#include <QXmlStreamReader>

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

QString trimHorizontal(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isHorizontalSpace(text.at(begin)))
        ++begin;
    while (end > begin && isHorizontalSpace(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
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

QString escape(const QString &text)
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
        if (!isXmlCarriable(c, paired))
            continue;
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
        default:
            out += c;
        }
    }
    return out;
}

void appendPorts(QStringList &lines, const QList<Port> &ports)
{
    if (ports.isEmpty()) {
        lines.append(QString());
        return;
    }
    for (const Port &port : ports)
        lines.append(QStringLiteral("    <port number=\"%1\" name=\"%2\"/>")
                         .arg(qint64(port.index) + 1)
                         .arg(escape(port.label)));
}

void store(QMap<qint64, QString> &map, qint64 index, const QString &text)
{
    if (!text.isEmpty())
        map.insert(index, text);
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

QString LabelExport::xml(const RouterState &state)
{
    QStringList lines {
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"),
        QStringLiteral("<routerLabels device=\"%1\">").arg(escape(state.deviceName)),
        QStringLiteral("  <sources>")
    };
    appendPorts(lines, state.sources);
    lines.append(QStringLiteral("  </sources>"));
    lines.append(QStringLiteral("  <destinations>"));
    appendPorts(lines, state.destinations);
    lines.append(QStringLiteral("  </destinations>"));
    lines.append(QStringLiteral("</routerLabels>"));
    return lines.join(QLatin1Char('\n'));
}

QString LabelExport::tsv(const RouterState &state)
{
    const qsizetype rows = qMax(state.sources.size(), state.destinations.size());
    QStringList lines;
    lines.reserve(rows);
    for (qsizetype r = 0; r < rows; ++r) {
        const QString source = r < state.sources.size() ? state.sources[r].label : QString();
        const QString destination
            = r < state.destinations.size() ? state.destinations[r].label : QString();
        lines.append(QString::number(r + 1) + QLatin1Char('\t') + source + QLatin1Char('\t')
                     + destination);
    }
    return lines.join(QLatin1Char('\n'));
}

// MARK: Delimited import

std::optional<qint64> LabelImport::number(const QString &text)
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
    const QChar separator = line.contains(QLatin1Char('\t')) ? QLatin1Char('\t') : QLatin1Char(',');
    if (!line.contains(separator))
        return { line };
    QStringList cells = line.split(separator, Qt::KeepEmptyParts);
    for (QString &cell : cells)
        cell = trimHorizontal(cell);
    return cells;
}

ParsedLabels LabelImport::parseDelimited(const QString &text, DelimitedTarget target)
{
    ParsedLabels parsed;
    qint64 nextSource = 0;
    qint64 nextDest = 0;

    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isLineBreak(text.at(i)))
            continue;
        const QString line = trimHorizontal(text.mid(start, i - start));
        start = i + 1;
        if (line.isEmpty())
            continue;

        const QStringList cells = splitCells(line);
        const std::optional<qint64> numbered
            = cells.size() >= 2 ? number(cells.first()) : std::nullopt;

        if (target == DelimitedTarget::both) {
            if (cells.size() == 1) {
                store(parsed.sources, nextSource, cells.first());
                nextSource = successor(nextSource);
            } else if (cells.size() >= 3 && numbered) {
                if (*numbered >= 1) {
                    store(parsed.sources, *numbered - 1, cells[1]);
                    store(parsed.destinations, *numbered - 1, cells[2]);
                }
            } else {
                store(parsed.sources, nextSource, cells[0]);
                store(parsed.destinations, nextDest, cells[1]);
                nextSource = successor(nextSource);
                nextDest = successor(nextDest);
            }
            continue;
        }

        QMap<qint64, QString> &map
            = target == DelimitedTarget::sources ? parsed.sources : parsed.destinations;
        qint64 &counter = target == DelimitedTarget::sources ? nextSource : nextDest;
        if (cells.size() >= 2 && numbered) {
            if (*numbered >= 1)
                store(map, *numbered - 1, cells.mid(1).join(QLatin1Char(' ')));
        } else {
            store(map, counter, cells.first());
            counter = successor(counter);
        }
    }
    return parsed;
}

qsizetype LabelImport::bound(ParsedLabels &labels)
{
    qsizetype dropped = 0;
    for (QMap<qint64, QString> *side : { &labels.sources, &labels.destinations }) {
        // Keys are 0-based: port number maxPortNumber is the key maxPortNumber - 1.
        for (auto it = side->lowerBound(maxPortNumber); it != side->end(); ++dropped)
            it = side->erase(it);
        for (QString &label : *side) {
            if (label.size() <= maxLabelLength)
                continue;
            qsizetype length = maxLabelLength;
            if (label.at(length - 1).isHighSurrogate())
                --length;
            label.truncate(length);
        }
    }
    return dropped;
}

std::expected<QByteArray, QString> LabelImport::readFile(const QString &path, qint64 maxSize)
{
    const auto bytes = StoreFile(path, maxSize).read();
    if (!bytes)
        return std::unexpected(bytes.error());
    if (!*bytes)
        return std::unexpected(QStringLiteral("The file doesn't exist."));
    return **bytes;
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

void LabelXMLDelegate::startElement(const QString &name, const QHash<QString, QString> &attributes)
{
    m_characters.clear();
    const QString lower = name.toLower();
    if (sourceContainers.contains(lower)) {
        m_containerStack.append(PortKind::source);
        return;
    }
    if (destContainers.contains(lower)) {
        m_containerStack.append(PortKind::destination);
        return;
    }
    std::optional<PortKind> side;
    if (sourceElements.contains(lower))
        side = PortKind::source;
    else if (destElements.contains(lower))
        side = PortKind::destination;
    else if (portElements.contains(lower) && !m_containerStack.isEmpty())
        side = m_containerStack.last();
    m_pendingKind = side;
    if (!side)
        return;
    m_pendingIndex = intValue(attributes, numberKeys);
    m_pendingName = stringValue(attributes, nameKeys);
}

void LabelXMLDelegate::characters(const QString &text)
{
    m_characters += text;
}

void LabelXMLDelegate::endElement(const QString &name)
{
    const QString lower = name.toLower();
    if (sourceContainers.contains(lower) || destContainers.contains(lower)) {
        if (!m_containerStack.isEmpty())
            m_containerStack.removeLast();
        return;
    }
    if (!m_pendingKind)
        return;

    const QString fromName = m_pendingName ? m_pendingName->trimmed() : QString();
    const QString label = fromName.isEmpty() ? m_characters.trimmed() : fromName;
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
            (isSource ? m_sources : m_destinations).insert(*index, label);
            counter = qMax(counter, successor(*index));
        }
    }
    m_pendingKind.reset();
    m_pendingIndex.reset();
    m_pendingName.reset();
    m_characters.clear();
}

ParsedLabels LabelXMLDelegate::parse(const QByteArray &document)
{
    LabelXMLDelegate delegate;
    QXmlStreamReader reader(document);
    reader.setNamespaceProcessing(false);
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            QHash<QString, QString> attributes;
            for (const QXmlStreamAttribute &attribute : reader.attributes())
                attributes.insert(attribute.qualifiedName().toString(),
                                  attribute.value().toString());
            delegate.startElement(reader.qualifiedName().toString(), attributes);
            break;
        }
        case QXmlStreamReader::Characters:
            delegate.characters(reader.text().toString());
            break;
        case QXmlStreamReader::EndElement:
            delegate.endElement(reader.qualifiedName().toString());
            break;
        default:
            break;
        }
    }
    return delegate.labels();
}
