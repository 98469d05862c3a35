#pragma once

#include "Theme/Theme.h"
#include "Views/List/DestinationListView.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QRect>

#include <algorithm>

// What the rows, their list and the pane headers share.
namespace DestinationList {

using Role = DestinationListView::RowRole;
using Badge = DestinationListView::RowBadge;

// Row geometry, shared by the painting and the hit testing.
inline constexpr int kRowGap = 6; // between rows
inline constexpr int kListInset = 10; // around the rows
inline constexpr int kBadgeWidth = 30; // at the least
inline constexpr int kBadgeHeight = 26;

inline QFont badgeFont()
{
    QFont font = Theme::font(Theme::TextStyle::body, QFont::Bold);
    font.setPixelSize(12);
    return font;
}

// The badge width of a pane whose largest port number is `widest`: every badge of the pane
// is as wide as the one that needs most, and 30 at the least.
inline int badgeWidth(int widest)
{
    const QFontMetrics metrics(badgeFont());
    int digit = 0;
    for (char c = '0'; c <= '9'; ++c)
        digit = std::max(digit, metrics.horizontalAdvance(QLatin1Char(c)));
    const int digits = int(QString::number(std::max(widest, 1)).size());
    return std::max(kBadgeWidth, digits * digit + 6);
}

// The row's own rectangle inside the item rectangle the list view hands out.
inline QRect rowRect(const QRect &item)
{
    return item.adjusted(kListInset, kRowGap / 2, -kListInset, -kRowGap / 2);
}

inline QRect badgeRect(const QRect &item, int width)
{
    const QRect row = rowRect(item);
    return { row.left() + 10, row.center().y() - kBadgeHeight / 2 + 1, width, kBadgeHeight };
}

inline QLinearGradient tintGradient(const QRectF &rect, const QColor &tint)
{
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, tint.lighter(118));
    gradient.setColorAt(1, tint);
    return gradient;
}

} // namespace DestinationList
