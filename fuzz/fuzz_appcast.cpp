// The update feed is a web reply: any bytes may arrive, and the first item must still be
// read whatever follows it.

#include "FuzzSupport.h"
#include "Support/AppcastLatestItem.h"
#include "Support/VersionOrder.h"

namespace {

VersionOrder reversed(VersionOrder order)
{
    switch (order) {
    case VersionOrder::ascending:
        return VersionOrder::descending;
    case VersionOrder::descending:
        return VersionOrder::ascending;
    case VersionOrder::same:
        break;
    }
    return VersionOrder::same;
}

void checkItem(const AppcastLatestItem::Item &item)
{
    FUZZ_CHECK(!item.shortVersion.isEmpty());
    FUZZ_CHECK(item.shortVersion == item.shortVersion.trimmed());
    FUZZ_CHECK(item.build == item.build.trimmed());
    if (item.pubDate)
        FUZZ_CHECK(item.pubDate->isValid() && item.pubDate->timeSpec() == Qt::UTC);
}

void checkOrder(const QString &a, const QString &b)
{
    FUZZ_CHECK(Versions::compare(a, a) == VersionOrder::same);
    FUZZ_CHECK_MSG(Versions::compare(a, b) == reversed(Versions::compare(b, a)), a + QStringLiteral(" / ") + b);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    const auto item = AppcastLatestItem::parse(bytes);
    if (item) {
        checkItem(*item);
        checkOrder(item->shortVersion, QStringLiteral("1.0"));
        checkOrder(item->shortVersion, item->build);
    }
    FUZZ_CHECK(AppcastLatestItem::parse(bytes) == item);

    // Whatever follows a complete first item (more items, junk, a cut-off document) leaves
    // that item as the answer.
    static const QByteArray head = QByteArrayLiteral(
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\"><channel><item>"
        "<sparkle:shortVersionString> 9.8.7 </sparkle:shortVersionString>"
        "<sparkle:version>987</sparkle:version>"
        "<pubDate>Tue, 08 Dec 2026 10:00:00 +0000</pubDate></item>");
    const auto first = AppcastLatestItem::parse(head + bytes);
    FUZZ_CHECK_MSG(first && first->shortVersion == u"9.8.7" && first->build == u"987"
                       && first->pubDate,
                   QString::fromUtf8(bytes.left(200)));

    // The date reader on its own, on the raw text.
    const auto date = AppcastLatestItem::parseRfc822(QString::fromUtf8(bytes));
    if (date)
        FUZZ_CHECK(date->isValid());
    return 0;
}
