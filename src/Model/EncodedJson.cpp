#include "Model/EncodedJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace EncodedJson {

QByteArray text(const QJsonValue &value)
{
    // Objects and arrays are written inline exactly as they are written as a document; other
    // values through a one-element array without its brackets.
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    const QByteArray one = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact);
    return one.sliced(1, one.size() - 2);
}

QByteArray keyText(const QString &key)
{
    // The writer's own escaping of the key: a one-member object of null, without its braces
    // and value.
    const QByteArray one
        = QJsonDocument(QJsonObject { { key, QJsonValue::Null } }).toJson(QJsonDocument::Compact);
    return one.sliced(1, one.size() - 2 - 4);
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
        } else if (QChar::isSurrogate(c)) {
            escape(c);
        } else {
            units[n++] = char(0xE0 | (c >> 12));
            units[n++] = char(0x80 | ((c >> 6) & 0x3F));
            units[n++] = char(0x80 | (c & 0x3F));
        }
        out(units, nullptr, n);
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

qsizetype writtenStringEnd(QByteArrayView text, qsizetype at, bool &escaped)
{
    escaped = false;
    while (at < text.size()) {
        const uchar c = uchar(text[at]);
        if (c == '"')
            return at;
        if (c < 0x20)
            return -1;
        if (c < 0x80 && c != '\\') {
            ++at;
            continue;
        }
        if (c >= 0x80) {
            const qsizetype n = utf8Length(text, at);
            if (n == 0)
                return -1;
            at += n;
            continue;
        }
        // An escape, as the writer makes them: short forms, and \u00xx for the other
        // control characters (an unpaired surrogate is left to the platform's parser).
        escaped = true;
        if (at + 1 >= text.size())
            return -1;
        const char e = text[at + 1];
        if (e == '"' || e == '\\' || e == 'b' || e == 'f' || e == 'n' || e == 'r' || e == 't') {
            at += 2;
            continue;
        }
        if (e != 'u' || at + 6 > text.size() || text[at + 2] != '0' || text[at + 3] != '0')
            return -1;
        const int high = hexValue(text[at + 4]);
        const int low = hexValue(text[at + 5]);
        if (high < 0 || high > 1 || low < 0 || shortEscape(char16_t(high * 16 + low)))
            return -1;
        at += 6;
    }
    return -1;
}

QString writtenString(QByteArrayView text, bool escaped)
{
    if (!escaped)
        return QString::fromUtf8(text);
    QByteArray plain;
    plain.reserve(text.size());
    for (qsizetype at = 0; at < text.size(); ++at) {
        if (text[at] != '\\') {
            plain += text[at];
            continue;
        }
        switch (text[++at]) {
        case 'b':
            plain += '\b';
            break;
        case 'f':
            plain += '\f';
            break;
        case 'n':
            plain += '\n';
            break;
        case 'r':
            plain += '\r';
            break;
        case 't':
            plain += '\t';
            break;
        case 'u':
            plain += char(hexValue(text[at + 3]) * 16 + hexValue(text[at + 4]));
            at += 4;
            break;
        default: // `"` and `\`
            plain += text[at];
            break;
        }
    }
    return QString::fromUtf8(plain);
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
