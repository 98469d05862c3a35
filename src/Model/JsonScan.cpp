#include "Model/JsonScan.h"

#include "Platform/Text.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

namespace JsonScan {

QString error(QJsonParseError::ParseError code, qsizetype offset)
{
    QJsonParseError parse;
    parse.error = code;
    return Text::format(QStringLiteral("%1 at offset %2"), parse.errorString(), offset);
}

qsizetype skipSpace(QByteArrayView text, qsizetype at)
{
    while (at < text.size()
           && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
        ++at;
    return at;
}

namespace {

// Past the closing quote of the string whose opening quote is at `at`.
qsizetype stringEnd(QByteArrayView text, qsizetype at)
{
    for (++at; at < text.size(); ++at) {
        if (text[at] == '\\')
            ++at;
        else if (text[at] == '"')
            return at + 1;
    }
    return text.size();
}

bool plainKey(QByteArrayView key)
{
    for (const char c : key) {
        if (c == '\\' || uchar(c) < 0x20 || uchar(c) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

qsizetype valueEnd(QByteArrayView text, qsizetype at)
{
    if (at >= text.size())
        return at;
    if (text[at] == '"')
        return stringEnd(text, at);
    if (text[at] == '{' || text[at] == '[') {
        qsizetype depth = 0;
        while (at < text.size()) {
            const char c = text[at];
            if (c == '"') {
                at = stringEnd(text, at);
                continue;
            }
            if (c == '{' || c == '[')
                ++depth;
            else if ((c == '}' || c == ']') && --depth == 0)
                return at + 1;
            ++at;
        }
        return at;
    }
    while (at < text.size() && !QByteArrayView(",}] \t\n\r").contains(text[at]))
        ++at;
    return at;
}

Json::Decoded<QJsonValue> value(QByteArrayView text, qsizetype begin, qsizetype end)
{
    const QByteArrayView piece = text.sliced(begin, end - begin);
    // Objects and arrays are parsed where they lie; anything else as the element of an array.
    const bool container = !piece.isEmpty() && (piece[0] == '{' || piece[0] == '[');
    const QByteArray source = container ? QByteArray::fromRawData(piece.data(), piece.size())
                                        : '[' + piece.toByteArray() + ']';
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(source, &parse);
    if (parse.error != QJsonParseError::NoError)
        return std::unexpected(error(parse.error, begin + parse.offset - (container ? 0 : 1)));
    if (!container)
        return document.array().at(0);
    return document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
}

namespace {

// Each member as it comes, a repeated key at each of its places.
Result eachMember(QByteArrayView text, qsizetype begin, bool document,
                  const std::function<Result(const Member &)> &member)
{
    qsizetype at = begin;
    if (document) {
        if (text.startsWith("\xEF\xBB\xBF"))
            at += 3;
        at = skipSpace(text, at);
        if (at >= text.size() || text[at] != '{') {
            // Another kind of document, or none: as the whole-text reader tells it.
            QJsonParseError parse;
            QJsonDocument::fromJson(text.toByteArray(), &parse);
            return std::unexpected(parse.error == QJsonParseError::NoError
                                       ? QStringLiteral("the top level is not an object")
                                       : error(parse.error, parse.offset));
        }
    }
    ++at; // the opening brace
    at = skipSpace(text, at);
    if (at < text.size() && text[at] == '}') {
        ++at;
    } else {
        while (true) {
            if (at >= text.size() || text[at] != '"')
                return std::unexpected(error(at >= text.size() ? QJsonParseError::UnterminatedObject
                                                               : QJsonParseError::IllegalValue,
                                             at));
            Member found;
            found.keyBegin = at;
            const qsizetype keyEnd = stringEnd(text, at);
            if (keyEnd > text.size() || text[keyEnd - 1] != '"' || keyEnd - at < 2)
                return std::unexpected(error(QJsonParseError::UnterminatedString, at));
            const QByteArrayView key = text.sliced(at + 1, keyEnd - at - 2);
            if (plainKey(key)) {
                found.key = QString::fromLatin1(key);
            } else {
                const auto decoded = value(text, at, keyEnd);
                if (!decoded)
                    return std::unexpected(decoded.error());
                found.key = decoded->toString();
            }
            at = skipSpace(text, keyEnd);
            if (at >= text.size() || text[at] != ':')
                return std::unexpected(error(QJsonParseError::MissingNameSeparator, at));
            found.valueBegin = skipSpace(text, at + 1);
            found.valueEnd = valueEnd(text, found.valueBegin);
            if (found.valueEnd == found.valueBegin)
                return std::unexpected(error(QJsonParseError::IllegalValue, found.valueBegin));
            if (const Result result = member(found); !result)
                return result;
            at = skipSpace(text, found.valueEnd);
            if (at < text.size() && text[at] == ',') {
                at = skipSpace(text, at + 1);
                if (at < text.size() && text[at] != '"')
                    return std::unexpected(error(QJsonParseError::MissingObject, at));
                continue;
            }
            if (at < text.size() && text[at] == '}') {
                ++at;
                break;
            }
            return std::unexpected(error(at >= text.size() ? QJsonParseError::UnterminatedObject
                                                           : QJsonParseError::MissingValueSeparator,
                                         at));
        }
    }
    if (document && skipSpace(text, at) < text.size())
        return std::unexpected(error(QJsonParseError::GarbageAtEnd, skipSpace(text, at)));
    return {};
}

} // namespace

Result members(QByteArrayView text, qsizetype begin, bool document,
               const std::function<Result(const Member &)> &member)
{
    QList<Member> found;
    QHash<QString, qsizetype> last;
    const Result walked = eachMember(text, begin, document, [&](const Member &next) {
        last.insert(next.key, found.size());
        found.append(next);
        return Result();
    });
    if (!walked)
        return walked;
    for (qsizetype i = 0; i < found.size(); ++i) {
        const Member &at = found.at(i);
        if (last.value(at.key) == i) {
            if (const Result result = member(at); !result)
                return result;
        } else if (const auto parsed = value(text, at.valueBegin, at.valueEnd); !parsed) {
            return std::unexpected(parsed.error()); // read, though not kept
        }
    }
    return {};
}

Result elements(QByteArrayView text, qsizetype begin,
                const std::function<Result(qsizetype, qsizetype)> &element)
{
    qsizetype at = skipSpace(text, begin + 1); // past the opening bracket
    if (at < text.size() && text[at] == ']')
        return {};
    while (true) {
        const qsizetype end = valueEnd(text, at);
        if (end == at)
            return std::unexpected(error(at >= text.size() ? QJsonParseError::UnterminatedArray
                                                           : QJsonParseError::IllegalValue,
                                         at));
        if (const Result result = element(at, end); !result)
            return result;
        at = skipSpace(text, end);
        if (at < text.size() && text[at] == ',') {
            at = skipSpace(text, at + 1);
            continue;
        }
        if (at < text.size() && text[at] == ']')
            return {};
        return std::unexpected(error(at >= text.size() ? QJsonParseError::UnterminatedArray
                                                       : QJsonParseError::MissingValueSeparator,
                                     at));
    }
}

} // namespace JsonScan
