#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

// A router's icon: its vendor's symbol in the router's colour on a rounded tile of the same
// colour at low opacity.
class VendorTile final : public QWidget
{
    Q_OBJECT

public:
    // `side` is the tile's edge, `glyph` the symbol's size, both in points.
    VendorTile(const QString &symbol, const QColor &tint, int side = 28, int glyph = 17,
               QWidget *parent = nullptr);

    void setSymbol(const QString &symbol, const QColor &tint);
    QColor tint() const { return m_tint; }
    QString symbol() const { return m_symbol; }

    QSize sizeHint() const override { return { m_side, m_side }; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    QColor m_tint;
    int m_side;
    int m_glyph;
};
