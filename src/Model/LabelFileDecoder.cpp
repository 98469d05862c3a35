#include "Model/LabelFileDecoder.h"

#include <QStringDecoder>

#include <utility>

QString LabelFileDecoder::decode(QByteArrayView more, bool last)
{
    if (m_fault != Fault::none)
        return {};
    m_pending += more;
    if (m_encoding == Encoding::unknown) {
        if (m_pending.size() < 3 && !last)
            return {};
        const QByteArrayView start(m_pending);
        const bool little = start.startsWith("\xFF\xFE");
        if (little || start.startsWith("\xFE\xFF")) {
            m_encoding = little ? Encoding::utf16le : Encoding::utf16be;
            m_pending.remove(0, 2);
            // The mark is gone already: any later one is a character.
            m_utf16 = QStringDecoder(little ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
                                     QStringDecoder::Flag::ConvertInitialBom);
        } else {
            m_encoding = Encoding::utf8;
            if (start.startsWith("\xEF\xBB\xBF"))
                m_pending.remove(0, 3);
        }
    }
    const QByteArray bytes = std::exchange(m_pending, {});
    QString text
        = m_encoding == Encoding::utf8 ? decodeUtf8(bytes, last) : decodeUtf16(bytes, last);
    if (m_fault == Fault::none) {
        const qsizetype nul = text.indexOf(QChar(0));
        if (nul >= 0) {
            m_fault = Fault::nul;
            text.truncate(nul);
        }
    }
    return text;
}

QString LabelFileDecoder::decodeUtf8(QByteArrayView bytes, bool last)
{
    qsizetype end = bytes.size();
    // Each piece ends where a character starts, so the pieces decode as the whole would.
    if (!last) {
        for (int back = 1; back <= 4 && back <= bytes.size(); ++back) {
            if ((uchar(bytes.at(bytes.size() - back)) & 0xC0) != 0x80) {
                end = bytes.size() - back;
                break;
            }
        }
    }
    m_pending = bytes.sliced(end).toByteArray();
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringConverter::Flag::Stateless
                               | QStringConverter::Flag::ConvertInvalidToNull
                               | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes.first(end));
    if (decoder.hasError()) {
        // A bad sequence reads as NUL; a character cut off at the very end as U+FFFD.
        m_fault = Fault::invalid;
        const qsizetype nul = text.indexOf(QChar(0));
        text.truncate(nul >= 0 ? nul : qMax<qsizetype>(0, text.size() - 1));
    }
    return text;
}

QString LabelFileDecoder::decodeUtf16(QByteArrayView bytes, bool last)
{
    m_utf16Bytes += bytes.size();
    // The decoder carries a byte cut off at a piece's end; a high surrogate there waits here.
    QString text = std::exchange(m_highSurrogate, {}) + m_utf16.decode(bytes);
    if (!last && !text.isEmpty() && text.back().isHighSurrogate()) {
        m_highSurrogate = text.back();
        text.chop(1);
    }
    // The decoder passes unpaired surrogates through.
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text.at(at);
        const bool paired
            = c.isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate();
        if (paired) {
            ++at;
        } else if (c.isSurrogate()) {
            m_fault = Fault::invalid;
            text.truncate(at);
            return text;
        }
    }
    if (last && m_utf16Bytes % 2 != 0)
        m_fault = Fault::invalid; // the file ends inside a character
    return text;
}

std::optional<QString> LabelFileDecoder::error(qint64 line) const
{
    switch (m_fault) {
    case Fault::none:
        return std::nullopt;
    case Fault::nul:
        return QStringLiteral("Line %1 holds a NUL character, so the file isn't text.").arg(line);
    case Fault::invalid:
        break;
    }
    if (m_encoding == Encoding::utf8)
        return QStringLiteral("Line %1 isn't valid UTF-8 text. Save the file as UTF-8, or as "
                              "Unicode (UTF-16) text.")
            .arg(line);
    return QStringLiteral("Line %1 isn't valid UTF-16 text.").arg(line);
}
