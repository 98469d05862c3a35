#include "Views/List/RowDelegate.h"

#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"
#include "Theme/Controls.h"
#include "Theme/Motion.h"
#include "Theme/PaintedText.h"
#include "Theme/Theme.h"
#include "Views/List/ListMetrics.h"
#include "Views/List/PortRowsModel.h"
#include "Views/List/RowAnimator.h"

#include <QPainter>

#include <cmath>

namespace DestinationList {

namespace {

// One line, and no more of a huge label than a view can show.
QString oneLine(const QString &text)
{
    return shownName(text);
}

} // namespace

RowDelegate::RowDelegate(const PortRowsModel &model, QColor tint, RowAnimator &animator,
                         QObject *parent)
    : QStyledItemDelegate(parent)
    , m_model(model)
    , m_tint(tint)
    , m_animator(animator)
{ }

QSize RowDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    // Every row is laid out as if it had a detail line, so rows share one height and
    // the list can skip measuring them.
    const int text = QFontMetrics(titleFont()).height() + 1 + QFontMetrics(detailFont()).height();
    return { 0, std::max(kBadgeHeight, text) + 16 + kRowGap };
}

void RowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                        const QModelIndex &index) const
{
    const int port = index.data(Role::PortIndexRole).toInt();
    const qreal current
        = m_animator.value(port, RowAnimator::current, index.data(Role::CurrentRole).toBool());
    const qreal pending
        = m_animator.value(port, RowAnimator::pending, index.data(Role::PendingRole).toBool());
    const qreal hovering
        = m_animator.value(port, RowAnimator::hover, option.state & QStyle::State_MouseOver);
    const bool locked = index.data(Role::LockedRole).toBool();
    const QVariant detail = index.data(Role::DetailRole);
    const auto badge = Badge(index.data(Role::BadgeRole).toInt());
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const qreal shown = m_animator.appearance();
    painter->setOpacity(shown);

    // Fill: staged over focused over hovered, each fading as the one above comes in.
    const QRectF row = QRectF(rowRect(option.rect)).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal marked = std::max(current, pending);
    painter->setPen(Qt::NoPen);
    if (hovering * (1 - marked) > 0.01) {
        painter->setBrush(Theme::withAlpha(Theme::quaternaryFill(), 0.6 * hovering * (1 - marked)));
        painter->drawRoundedRect(row, 11, 11);
    }
    const qreal tintAlpha = 0.18 * pending + 0.12 * current * (1 - pending);
    if (tintAlpha > 0.005) {
        painter->setBrush(Theme::withAlpha(m_tint, tintAlpha));
        painter->drawRoundedRect(row, 11, 11);
    }
    if (pending > 0.01) {
        painter->setPen(QPen(Theme::withAlpha(m_tint, pending), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(row.adjusted(1, 1, -1, -1), 10, 10);
    }

    // The keyboard's row, while the list has the focus.
    if (option.state & QStyle::State_HasFocus) {
        painter->setPen(QPen(Theme::withAlpha(Theme::accent(), 0.7), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(row.adjusted(-1, -1, 1, 1), 12, 12);
        painter->setPen(Qt::NoPen);
    }

    // Number badge.
    const QRectF badgeBox = badgeRect(option.rect, badgeWidth(m_model.widestNumber()));
    painter->setPen(Qt::NoPen);
    painter->setBrush(Theme::quaternaryFill());
    painter->setOpacity(shown * (1 - current));
    painter->drawRoundedRect(badgeBox, 7, 7);
    painter->setBrush(tintGradient(badgeBox, m_tint));
    painter->setOpacity(shown * current);
    painter->drawRoundedRect(badgeBox, 7, 7);
    painter->setOpacity(shown);
    painter->setFont(badgeFont());
    painter->setPen(Motion::blend(Theme::secondaryLabel(), Qt::white, current));
    PaintedText::draw(*painter, badgeBox, Qt::AlignCenter,
                      QString::number(index.data(Role::NumberRole).toInt()));
    if (badge != Badge::none) {
        const QRectF mark(badgeBox.right() - 8 + 5, badgeBox.top() - 5 - 1, 13, 13);
        painter->setPen(Qt::NoPen);
        painter->setBrush(Theme::windowBackground());
        painter->drawEllipse(mark);
        const bool in = badge == Badge::remove;
        drawSymbol(painter,
                   in ? QStringLiteral("checkmark.circle.fill")
                      : QStringLiteral("plus.circle.fill"),
                   mark.adjusted(1, 1, -1, -1), in ? m_tint : Theme::secondaryLabel(), dpr);
    }

    // Trailing marks, right to left.
    qreal right = row.right() - 10;
    const qreal mid = row.center().y();
    if (current > 0.01 && detail.isNull()) {
        const qreal size = 12;
        painter->setOpacity(shown * current);
        drawSymbol(painter, QStringLiteral("checkmark"),
                   QRectF(right - size, mid - size / 2, size, size), m_tint, dpr);
        painter->setOpacity(shown);
        right -= size + 6;
    }
    if (locked) {
        const qreal size = 11;
        drawSymbol(painter, QStringLiteral("lock.fill"),
                   QRectF(right - size, mid - size / 2, size, size), Theme::orange(), dpr);
        right -= size + 6;
    }

    // Title over detail.
    const qreal left = badgeBox.right() + 11;
    const qreal width = std::max<qreal>(0, right - 4 - left);
    const QFontMetrics titleMetrics(titleFont());
    const QFontMetrics detailMetrics(detailFont());
    const QString title = oneLine(index.data(Qt::DisplayRole).toString());
    const int block = titleMetrics.height() + (detail.isNull() ? 0 : 1 + detailMetrics.height());
    qreal top = mid - block / 2.0;
    painter->setFont(titleFont());
    painter->setPen(option.palette.color(QPalette::WindowText));
    painter->drawText(QRectF(left, top, width, titleMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      PaintedText::elided(titleMetrics, title, Qt::ElideRight, int(width)));
    if (!detail.isNull()) {
        top += titleMetrics.height() + 1;
        painter->setFont(detailFont());
        painter->setPen(Theme::secondaryLabel());
        painter->drawText(QRectF(left, top, width, detailMetrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          PaintedText::elided(detailMetrics, oneLine(detail.toString()),
                                              Qt::ElideRight, int(width)));
    }
    painter->restore();
}

QFont RowDelegate::titleFont()
{
    return Theme::font(Theme::TextStyle::body, QFont::Medium);
}

QFont RowDelegate::detailFont()
{
    return Theme::font(Theme::TextStyle::caption);
}

void RowDelegate::drawSymbol(QPainter *painter, const QString &name, const QRectF &rect,
                             const QColor &color, qreal dpr) const
{
    const int size = int(std::round(rect.width()));
    const QString key = Text::format(QStringLiteral("%1|%2|%3|%4"), name, color.rgba(), size, dpr);
    auto cached = m_symbols.constFind(key);
    if (cached == m_symbols.cend())
        cached = m_symbols.insert(key, Symbols::pixmap(name, size, color, dpr));
    painter->drawPixmap(rect.topLeft(), *cached);
}

} // namespace DestinationList
