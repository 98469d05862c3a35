#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// Reads the first `item` of an update-feed (appcast) document: its short version, build
// number and publication date. Everything after the first item, and everything the parser
// meets after an XML error, is ignored; what was gathered before an error still counts.
class AppcastLatestItem final
{
public:
    struct Item
    {
        QString shortVersion;
        QString build; // empty when the feed gives none
        std::optional<QDateTime> pubDate;

        bool operator==(const Item &) const = default;
    };

    // The first item, or nothing when it has no non-empty "sparkle:shortVersionString".
    static std::optional<Item> parse(const QByteArray &document);

    // An RFC 822 date in the exact form "EEE, dd MMM yyyy HH:mm:ss Z" (English day and month
    // names, numeric zone such as +0000); nothing for any other form.
    static std::optional<QDateTime> parseRfc822(const QString &text);
};
