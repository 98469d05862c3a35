#include "Model/EncodedJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>
#include <limits>

namespace EncodedJson {

namespace {

// The platform's writer puts U+FEFF down as its UTF-8, which its reader drops at the start of
// a string. Those three bytes are that character wherever they stand, and only strings hold
// it, so each becomes its escape.
QByteArray escapedMarks(QByteArray text)
{
    constexpr QByteArrayView mark = "\xEF\xBB\xBF";
    qsizetype at = text.indexOf(mark);
    if (at < 0)
        return text;
    QByteArray escaped;
    escaped.reserve(text.size() + 16);
    qsizetype from = 0;
    for (; at >= 0; at = text.indexOf(mark, from)) {
        escaped.append(text.constData() + from, at - from);
        escaped += "\\ufeff";
        from = at + mark.size();
    }
    escaped.append(text.constData() + from, text.size() - from);
    return escaped;
}

} // namespace

QByteArray text(const QJsonValue &value)
{
    // Objects and arrays are written inline exactly as they are written as a document; other
    // values through a one-element array without its brackets.
    if (value.isObject())
        return escapedMarks(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isArray())
        return escapedMarks(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    const QByteArray one = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact);
    return escapedMarks(one.sliced(1, one.size() - 2));
}

QByteArray keyText(const QString &key)
{
    // The writer's own escaping of the key: a one-member object of null, without its braces
    // and value.
    const QByteArray one
        = QJsonDocument(QJsonObject { { key, QJsonValue::Null } }).toJson(QJsonDocument::Compact);
    return escapedMarks(one.sliced(1, one.size() - 2 - 4));
}

namespace {

constexpr char kHex[] = "0123456789abcdef";

char shortEscape(char16_t c)
{
    switch (c) {
    case u'"':
        return '"';
    case u'\\':
        return '\\';
    case u'\b':
        return 'b';
    case u'\f':
        return 'f';
    case u'\n':
        return 'n';
    case u'\r':
        return 'r';
    case u'\t':
        return 't';
    default:
        return 0;
    }
}

// Calls `out` with the writer's bytes of `text`, a run at a time.
template<typename Out> void writeString(QStringView text, Out &&out)
{
    const char16_t *at = text.utf16();
    const char16_t *const end = at + text.size();
    while (at < end) {
        const char16_t *run = at;
        while (at < end && *at >= 0x20 && *at < 0x80 && *at != u'"' && *at != u'\\')
            ++at;
        if (at > run) // plain ASCII, one byte a unit
            out(nullptr, run, at - run);
        if (at == end)
            break;
        char units[12];
        qsizetype n = 0;
        const char16_t c = *at++;
        const auto escape = [&](char16_t u) {
            units[n++] = '\\';
            units[n++] = 'u';
            for (int shift = 12; shift >= 0; shift -= 4)
                units[n++] = kHex[(u >> shift) & 0xF];
        };
        if (c < 0x80) {
            if (const char e = shortEscape(c)) {
                units[n++] = '\\';
                units[n++] = e;
            } else {
                escape(c);
            }
        } else if (c < 0x800) {
            units[n++] = char(0xC0 | (c >> 6));
            units[n++] = char(0x80 | (c & 0x3F));
        } else if (QChar::isHighSurrogate(c) && at < end && QChar::isLowSurrogate(*at)) {
            const char32_t u = QChar::surrogateToUcs4(c, *at++);
            units[n++] = char(0xF0 | (u >> 18));
            units[n++] = char(0x80 | ((u >> 12) & 0x3F));
            units[n++] = char(0x80 | ((u >> 6) & 0x3F));
            units[n++] = char(0x80 | (u & 0x3F));
        } else if (QChar::isSurrogate(c) || c == 0xFEFF) {
            escape(c);
        } else {
            units[n++] = char(0xE0 | (c >> 12));
            units[n++] = char(0x80 | ((c >> 6) & 0x3F));
            units[n++] = char(0x80 | (c & 0x3F));
        }
        out(units, nullptr, n);
    }
}

// The unit a short escape stands for.
char16_t unescaped(char e)
{
    switch (e) {
    case 'b':
        return u'\b';
    case 'f':
        return u'\f';
    case 'n':
        return u'\n';
    case 'r':
        return u'\r';
    case 't':
        return u'\t';
    default: // `"` and `\`
        return char16_t(e);
    }
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1; // the writer's hex digits are lower case
}

// The length of the UTF-8 sequence at `at` when it is one the writer writes (the shortest
// form of a character that is not a surrogate); 0 otherwise.
qsizetype utf8Length(QByteArrayView text, qsizetype at)
{
    const auto byte = [&](qsizetype i) {
        return i < text.size() ? uchar(text[i]) : 0u;
    };
    const auto follows = [&](qsizetype i, uchar low = 0x80, uchar high = 0xBF) {
        return byte(i) >= low && byte(i) <= high;
    };
    const uchar lead = byte(at);
    if (lead >= 0xC2 && lead <= 0xDF)
        return follows(at + 1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const bool second = lead == 0xE0 ? follows(at + 1, 0xA0)
            : lead == 0xED               ? follows(at + 1, 0x80, 0x9F)
                                         : follows(at + 1);
        return second && follows(at + 2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const bool second = lead == 0xF0 ? follows(at + 1, 0x90)
            : lead == 0xF4               ? follows(at + 1, 0x80, 0x8F)
                                         : follows(at + 1);
        return second && follows(at + 2) && follows(at + 3) ? 4 : 0;
    }
    return 0;
}

// The unit of the \uxxxx escape at `at`, in the writer's lower-case hex; -1 when there is
// none.
int escapedUnit(QByteArrayView text, qsizetype at)
{
    if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u')
        return -1;
    int unit = 0;
    for (qsizetype i = at + 2; i < at + 6; ++i) {
        const int digit = hexValue(text[i]);
        if (digit < 0)
            return -1;
        unit = unit << 4 | digit;
    }
    return unit;
}

} // namespace

void appendString(QByteArray &bytes, QStringView text)
{
    writeString(text, [&bytes](const char *units, const char16_t *ascii, qsizetype n) {
        if (units) {
            bytes.append(units, n);
            return;
        }
        const qsizetype at = bytes.size();
        bytes.resize(at + n);
        char *into = bytes.data() + at;
        for (qsizetype i = 0; i < n; ++i)
            into[i] = char(ascii[i]);
    });
}

qsizetype stringSize(QStringView text)
{
    qsizetype size = 0;
    writeString(text, [&size](const char *, const char16_t *, qsizetype n) { size += n; });
    return size;
}

bool Reader::literal(QByteArrayView literal)
{
    if (!m_text.sliced(m_at).startsWith(literal))
        return false;
    m_at += literal.size();
    return true;
}

bool Reader::string(String *found)
{
    if (m_at >= m_text.size() || m_text[m_at] != '"')
        return false;
    String text;
    text.begin = m_at + 1;
    qsizetype pairEnd = -1; // past an escaped high surrogate
    for (qsizetype at = text.begin; at < m_text.size();) {
        const uchar c = uchar(m_text[at]);
        if (c == '"') {
            text.end = at;
            m_at = at + 1;
            *found = text;
            return true;
        }
        if (c < 0x20)
            return false;
        if (c < 0x80 && c != '\\') {
            ++at;
            continue;
        }
        text.ascii = false;
        if (c >= 0x80) {
            // U+FEFF is escaped by the writer.
            const qsizetype n = utf8Length(m_text, at);
            if (n == 0 || m_text.sliced(at).startsWith("\xEF\xBB\xBF"))
                return false;
            at += n;
            continue;
        }
        // An escape as the writer makes them: the short forms, \u00xx for the other control
        // characters, \udxxx for an unpaired surrogate and \ufeff.
        text.escaped = true;
        if (at + 1 >= m_text.size())
            return false;
        if (QByteArrayView("\"\\bfnrt").contains(m_text[at + 1])) {
            at += 2;
            continue;
        }
        const int unit = escapedUnit(m_text, at);
        if (unit < 0)
            return false;
        // Two escapes that pair are written as the character they make.
        const bool lone = QChar::isHighSurrogate(char32_t(unit))
            || (QChar::isLowSurrogate(char32_t(unit)) && pairEnd != at);
        if (QChar::isHighSurrogate(char32_t(unit)))
            pairEnd = at + 6;
        if (!(unit < 0x20 && !shortEscape(char16_t(unit))) && !lone && unit != 0xFEFF)
            return false;
        at += 6;
    }
    return false;
}

bool Reader::uuid(QUuid &id)
{
    const QByteArrayView text
        = m_text.sliced(m_at).first(std::min<qsizetype>(38, m_text.size() - m_at));
    if (text.size() != 38 || text.front() != '"' || text.back() != '"')
        return false;
    for (qsizetype i = 1; i < 37; ++i) {
        const char c = text[i];
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    id = QUuid::fromString(QLatin1StringView(text.sliced(1, 36)));
    m_at += 38;
    return true;
}

bool Reader::integer(int &value)
{
    const auto isDigit = [this](qsizetype at) {
        return at < m_text.size() && m_text[at] >= '0' && m_text[at] <= '9';
    };
    const bool negative = m_at < m_text.size() && m_text[m_at] == '-';
    const qsizetype digits = m_at + (negative ? 1 : 0);
    if (!isDigit(digits) || (m_text[digits] == '0' && (negative || isDigit(digits + 1))))
        return false;
    qint64 number = 0;
    qsizetype at = digits;
    for (; isDigit(at); ++at) {
        number = number * 10 + (m_text[at] - '0');
        if (number > qint64(std::numeric_limits<int>::max()) + 1)
            return false;
    }
    number = negative ? -number : number;
    if (number > std::numeric_limits<int>::max())
        return false;
    value = int(number);
    m_at = at;
    return true;
}

bool Reader::number(double &value)
{
    qsizetype at = m_at;
    while (at < m_text.size() && QByteArrayView("0123456789+-.eE").contains(m_text[at]))
        ++at;
    const QByteArrayView text = m_text.sliced(m_at, at - m_at);
    bool ok = false;
    double d = 0;
    if (!text.contains('.') && !text.contains('e') && !text.contains('E'))
        d = double(text.toLongLong(&ok));
    if (!ok)
        d = text.toDouble(&ok);
    // Read as the parser reads it; only the writer's own text of that double is its form.
    if (!ok || !std::isfinite(d) || EncodedJson::text(QJsonValue(d)) != text)
        return false;
    value = d;
    m_at = at;
    return true;
}

QString writtenString(QByteArrayView text, bool escaped)
{
    // The mark is kept wherever it stands (the writer escapes it, a hand-made file may not).
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    if (!escaped)
        return utf8.decode(text);
    QString string(text.size(), Qt::Uninitialized); // a unit a byte at most
    QChar *end = string.data();
    qsizetype run = 0;
    for (qsizetype at = 0; at < text.size(); ++at) {
        if (text[at] != '\\')
            continue;
        // Between escapes lie whole characters.
        end = utf8.appendToBuffer(end, text.sliced(run, at - run));
        const char e = text[at + 1];
        *end++ = QChar(e == 'u' ? char16_t(escapedUnit(text, at)) : unescaped(e));
        run = at + (e == 'u' ? 6 : 2);
        at = run - 1;
    }
    end = utf8.appendToBuffer(end, text.sliced(run));
    string.truncate(end - string.constData());
    string.squeeze();
    return string;
}

void releaseIfMostlyReplaced(const QList<QByteArray *> &texts, QByteArray &backing)
{
    qsizetype viewed = 0;
    for (const QByteArray *text : texts)
        viewed += isViewOf(*text, backing) ? text->size() : 0;
    if (viewed >= backing.size() / 2)
        return;
    for (QByteArray *text : texts) {
        if (isViewOf(*text, backing))
            *text = QByteArray(text->constData(), text->size());
    }
    backing = QByteArray();
}

} // namespace EncodedJson
