#include "Support/AppcastLatestItem.h"

#include <QRegularExpression>
#include <QTimeZone>
#include <QXmlStreamReader>

namespace {

// Trims white space and line breaks at both ends.
QString trimmed(const QString &text)
{
    return text.trimmed();
}

int monthNumber(QStringView name)
{
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i) {
        if (name == QLatin1String(months[i]))
            return i + 1;
    }
    return 0;
}

bool isDayName(QStringView name)
{
    static const char *const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    for (const char *day : days) {
        if (name == QLatin1String(day))
            return true;
    }
    return false;
}

} // namespace

std::optional<QDateTime> AppcastLatestItem::parseRfc822(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^([A-Za-z]{3}), (\\d{2}) ([A-Za-z]{3}) (\\d{4}) (\\d{2}):(\\d{2}):(\\d{2}) ([+-])(\\d{2})(\\d{2})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch() || !isDayName(match.capturedView(1)))
        return std::nullopt;
    const int month = monthNumber(match.capturedView(3));
    const QDate date(match.captured(4).toInt(), month, match.captured(2).toInt());
    const QTime time(match.captured(5).toInt(), match.captured(6).toInt(),
                     match.captured(7).toInt());
    const int zoneHours = match.captured(9).toInt();
    const int zoneMinutes = match.captured(10).toInt();
    if (month == 0 || !date.isValid() || !time.isValid() || zoneHours > 23 || zoneMinutes > 59)
        return std::nullopt;
    int offset = zoneHours * 3600 + zoneMinutes * 60;
    if (match.captured(8) == QLatin1String("-"))
        offset = -offset;
    const QDateTime result(date, time, QTimeZone(offset));
    if (!result.isValid())
        return std::nullopt;
    return result.toUTC();
}

namespace {

// The delegate state of one read of a feed document.
struct FirstItemReader
{
    bool inItem = false;
    bool done = false;
    QString text;
    std::optional<QString> shortVersion;
    std::optional<QString> build;
    std::optional<QDateTime> pubDate;

    void handle(const QXmlStreamReader &reader, QXmlStreamReader::TokenType token)
    {
        switch (token) {
        case QXmlStreamReader::StartElement:
            if (reader.qualifiedName() == QLatin1String("item"))
                inItem = true;
            text.clear();
            break;
        case QXmlStreamReader::Characters:
            text += reader.text();
            break;
        case QXmlStreamReader::EndElement: {
            if (!inItem)
                break;
            const QStringView name = reader.qualifiedName();
            const QString value = trimmed(text);
            if (name == QLatin1String("sparkle:shortVersionString"))
                shortVersion = value;
            else if (name == QLatin1String("sparkle:version"))
                build = value;
            else if (name == QLatin1String("pubDate"))
                pubDate = AppcastLatestItem::parseRfc822(value);
            else if (name == QLatin1String("item"))
                done = true;
            break;
        }
        default:
            break;
        }
    }

    // The reader decodes each piece of data it is given as a whole and drops the piece on an
    // encoding error, losing the elements before the bad byte in that piece. The document is
    // therefore handed over in pieces, of one byte from `fineFrom` on. Returns where the last
    // piece began when an error stopped the read inside a piece of several bytes (a finer read
    // from there may see more), else -1. A parse error simply ends the read: whatever was
    // gathered before it counts.
    qsizetype read(const QByteArray &document, qsizetype fineFrom)
    {
        constexpr qsizetype coarsePiece = 4096;
        QXmlStreamReader reader;
        // Names are compared whole, prefix included: no namespace processing.
        reader.setNamespaceProcessing(false);
        qsizetype fed = 0;
        qsizetype pieceStart = 0;
        qsizetype pieceSize = 0;
        while (!done) {
            const QXmlStreamReader::TokenType token = reader.readNext();
            if (reader.error() == QXmlStreamReader::PrematureEndOfDocumentError) {
                if (fed >= document.size())
                    return -1;
                pieceStart = fed;
                pieceSize = fed < fineFrom ? qMin(coarsePiece, fineFrom - fed) : 1;
                reader.addData(document.mid(fed, pieceSize));
                fed += pieceSize;
                continue;
            }
            if (reader.hasError())
                return pieceSize > 1 ? pieceStart : -1;
            if (token == QXmlStreamReader::EndDocument)
                return -1;
            handle(reader, token);
        }
        return -1;
    }
};

} // namespace

std::optional<AppcastLatestItem::Item> AppcastLatestItem::parse(const QByteArray &document)
{
    FirstItemReader result;
    const qsizetype retryFrom = result.read(document, document.size());
    if (retryFrom >= 0) {
        result = FirstItemReader();
        result.read(document, retryFrom);
    }
    if (!result.shortVersion || result.shortVersion->isEmpty())
        return std::nullopt;
    return Item{*result.shortVersion, result.build.value_or(QString()), result.pubDate};
}
