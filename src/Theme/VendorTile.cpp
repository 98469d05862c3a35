#include "Theme/VendorTile.h"

#include "Platform/Gui/Symbols.h"
#include "Theme/Theme.h"

#include <QPainter>
#include <QPainterPath>

VendorTile::VendorTile(const QString &symbol, const QColor &tint, int side, int glyph,
                       QWidget *parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_tint(tint)
    , m_side(side)
    , m_glyph(glyph)
{
    setFixedSize(side, side);
}

void VendorTile::setSymbol(const QString &symbol, const QColor &tint)
{
    if (symbol == m_symbol && tint == m_tint)
        return;
    m_symbol = symbol;
    m_tint = tint;
    update();
}

void VendorTile::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF tile(0, 0, m_side, m_side);
    // Corner radius a quarter of the edge, as the 28-point tile's 7.
    QPainterPath path;
    path.addRoundedRect(tile, m_side / 4.0, m_side / 4.0);
    painter.fillPath(path, Theme::withAlpha(m_tint, 0.15));

    const QPixmap glyph = Symbols::pixmap(m_symbol, m_glyph, m_tint, devicePixelRatioF());
    const QSizeF size = glyph.deviceIndependentSize();
    painter.drawPixmap(QPointF((m_side - size.width()) / 2, (m_side - size.height()) / 2), glyph);
}
