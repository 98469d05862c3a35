#pragma once

#include <QColor>
#include <QHash>
#include <QPixmap>
#include <QStyledItemDelegate>

namespace DestinationList {

class PortRowsModel;
class RowAnimator;

// Draws one row: number badge, title over detail, lock and check marks, fill and outline.
class RowDelegate final : public QStyledItemDelegate
{
public:
    RowDelegate(const PortRowsModel &model, QColor tint, RowAnimator &animator, QObject *parent);

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override;
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

private:
    static QFont titleFont();
    static QFont detailFont();

    // Symbols are rendered once per name, colour and size: a scrolling list repaints often.
    void drawSymbol(QPainter *painter, const QString &name, const QRectF &rect, const QColor &color,
                    qreal dpr) const;

    const PortRowsModel &m_model;
    QColor m_tint;
    RowAnimator &m_animator;
    mutable QHash<QString, QPixmap> m_symbols;
};

} // namespace DestinationList
