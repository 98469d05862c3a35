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

std::optional<AppcastLatestItem::Item> AppcastLatestItem::parse(const QByteArray &document)
{
    bool inItem = false;
    bool done = false;
    QString text;
    std::optional<QString> shortVersion;
    std::optional<QString> build;
    std::optional<QDateTime> pubDate;

    QXmlStreamReader reader(document);
    // Names are compared whole, prefix included: no namespace processing.
    reader.setNamespaceProcessing(false);
    while (!done && !reader.atEnd()) {
        switch (reader.readNext()) {
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
                pubDate = parseRfc822(value);
            else if (name == QLatin1String("item"))
                done = true;
            break;
        }
        default:
            break;
        }
    }
    // A parse error simply ends the loop: whatever was gathered before it counts.

    if (!shortVersion || shortVersion->isEmpty())
        return std::nullopt;
    return Item{*shortVersion, build.value_or(QString()), pubDate};
}
