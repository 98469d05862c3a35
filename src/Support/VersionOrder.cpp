#include "Support/VersionOrder.h"

#include <QStringList>

#include <optional>

namespace Versions {

namespace {

// A piece reads as a number only when it is an optional sign and ASCII digits that fit in a
// signed 64-bit integer; anything else ("beta", "2a", " 3", "١") is compared as text.
std::optional<qint64> wholeNumber(const QString &piece)
{
    int start = 0;
    if (piece.startsWith(QLatin1Char('+')) || piece.startsWith(QLatin1Char('-')))
        start = 1;
    if (piece.size() == start)
        return std::nullopt;
    for (int i = start; i < piece.size(); ++i) {
        const QChar c = piece.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    // toLongLong accepts a leading '+' and '-' and reports overflow through `ok`.
    const qint64 value = piece.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace

VersionOrder compare(const QString &a, const QString &b)
{
    const QStringList pa = a.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const QStringList pb = b.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const qsizetype n = std::max(pa.size(), pb.size());
    const QString zero = QStringLiteral("0");
    for (qsizetype i = 0; i < n; ++i) {
        const QString &x = i < pa.size() ? pa.at(i) : zero;
        const QString &y = i < pb.size() ? pb.at(i) : zero;
        const auto nx = wholeNumber(x);
        const auto ny = wholeNumber(y);
        if (nx && ny) {
            if (*nx != *ny)
                return *nx < *ny ? VersionOrder::ascending : VersionOrder::descending;
            continue;
        }
        if (x != y)
            return QString::compare(x, y, Qt::CaseSensitive) < 0 ? VersionOrder::ascending
                                                                 : VersionOrder::descending;
    }
    return VersionOrder::same;
}

} // namespace Versions
