#pragma once

#include "Model/Json.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonParseError>
#include <QJsonValue>

#include <expected>
#include <functional>

// Walks the members of a JSON object, or the elements of an array, without building the
// tree of the whole text, so that a large store file is decoded a piece at a time and each
// piece's tree is gone before the next is parsed. Only the structure around the pieces is
// checked here; each piece is then parsed by the platform's parser (value()), which reports
// anything wrong inside it. Offsets count from the start of `text`.
namespace JsonScan {

// The parser's own wording: "<description> at offset <n>".
QString error(QJsonParseError::ParseError code, qsizetype offset);

struct Member
{
    QString key;
    qsizetype keyBegin; // the key's opening quote
    qsizetype valueBegin;
    qsizetype valueEnd;
};

using Result = std::expected<void, QString>;

// Each member of the object at `begin` in order; `member` may stop the walk with an error.
// A repeated key is handed over only at its last place, the member the platform's reader
// keeps: an earlier member of that key is only parsed, as that reader parses it and lets it
// go. With `document`, the object is the whole text (a byte-order mark and white space around
// it allowed, nothing else). Elements are handed over as [begin, end).
Result members(QByteArrayView text, qsizetype begin, bool document,
               const std::function<Result(const Member &)> &member);
Result elements(QByteArrayView text, qsizetype begin,
                const std::function<Result(qsizetype, qsizetype)> &element);

// The value in text[begin, end), parsed on its own.
Json::Decoded<QJsonValue> value(QByteArrayView text, qsizetype begin, qsizetype end);

// Where the value starting at `at` ends; the end of the text when it never does.
qsizetype valueEnd(QByteArrayView text, qsizetype at);
qsizetype skipSpace(QByteArrayView text, qsizetype at);

} // namespace JsonScan
