#pragma once

#include "Views/List/DestinationListView.h"

#include <QLinearGradient>
#include <QRect>

// What the rows, their list and the pane headers share.
namespace DestinationList {

using Role = DestinationListView::RowRole;
using Badge = DestinationListView::RowBadge;

// Row geometry, shared by the painting and the hit testing.
inline constexpr int kRowGap = 6; // between rows
inline constexpr int kListInset = 10; // around the rows
inline constexpr int kBadgeWidth = 30;
inline constexpr int kBadgeHeight = 26;

// The row's own rectangle inside the item rectangle the list view hands out.
inline QRect rowRect(const QRect &item)
{
    return item.adjusted(kListInset, kRowGap / 2, -kListInset, -kRowGap / 2);
}

inline QRect badgeRect(const QRect &item)
{
    const QRect row = rowRect(item);
    return { row.left() + 10, row.center().y() - kBadgeHeight / 2 + 1, kBadgeWidth, kBadgeHeight };
}

inline QLinearGradient tintGradient(const QRectF &rect, const QColor &tint)
{
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, tint.lighter(118));
    gradient.setColorAt(1, tint);
    return gradient;
}

} // namespace DestinationList
