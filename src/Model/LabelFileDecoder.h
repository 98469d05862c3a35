#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <optional>

// Label file bytes to text, a piece at a time, by the byte-order mark: UTF-16 in either
// byte order after its mark, UTF-8 otherwise (its mark is dropped). Decoding stops at the
// first thing that isn't valid text in that encoding, or a NUL, which no text holds.
class LabelFileDecoder
{
public:
    // The text of `bytes`, which follow those of the calls before; the bytes of a character
    // that isn't complete wait for the next call, unless `last`. After an error the text
    // ends where it was found.
    QString decode(QByteArrayView bytes, bool last);
    // A sentence naming the fault, once there was one; `line` is where it was found.
    std::optional<QString> error(qint64 line) const;

private:
    enum class Encoding { unknown, utf8, utf16le, utf16be };
    QString decodeUtf8(QByteArrayView bytes, bool last);
    QString decodeUtf16(QByteArrayView bytes, bool last);

    Encoding m_encoding = Encoding::unknown;
    QByteArray m_pending; // before the encoding is known, and a UTF-8 character cut off
    QStringDecoder m_utf16;
    qint64 m_utf16Bytes = 0;
    QString m_highSurrogate;
    enum class Fault { none, invalid, nul } m_fault = Fault::none;
};
