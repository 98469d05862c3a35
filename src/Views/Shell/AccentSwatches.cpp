#include "Views/Shell/AccentSwatches.h"

#include "Platform/Gui/Symbols.h"
#include "Theme/Theme.h"
#include "Views/Shell/RouterEditorModel.h"

#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPainter>

namespace {

constexpr int swatchSpacing = 12; // between the circles; the rings may come closer
constexpr int rowInset = 4; // above and below the circles

} // namespace

AccentSwatch::AccentSwatch(std::optional<double> hue, const QColor &color, QWidget *parent)
    : QAbstractButton(parent)
    , m_hue(hue)
    , m_color(color)
{
    setFixedSize(sizeHint());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    if (isAuto()) {
        setToolTip(QStringLiteral("Default for this router type"));
        setAccessibleName(QStringLiteral("Default for this router type"));
    } else {
        setAccessibleName(QStringLiteral("Hue %1").arg(qRound(*hue * 360)));
    }
}

void AccentSwatch::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

void AccentSwatch::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

QSize AccentSwatch::sizeHint() const
{
    const int side = diameter + 2 * ringGap;
    return { side, side };
}

void AccentSwatch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    const QRectF circle = bounds.adjusted(ringGap, ringGap, -ringGap, -ringGap);

    // A soft top-to-bottom shade, lighter above, as the icon tints are drawn.
    QLinearGradient fill(circle.topLeft(), circle.bottomLeft());
    fill.setColorAt(0, m_color.lighter(118));
    fill.setColorAt(1, m_color);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawEllipse(circle);
    if (isDown()) {
        painter.setBrush(QColor(0, 0, 0, 40));
        painter.drawEllipse(circle);
    }

    if (isAuto()) {
        const int glyph = 12;
        const QPixmap sparkles
            = Symbols::pixmap(QStringLiteral("sparkles"), glyph, Qt::white, devicePixelRatioF());
        const QPointF corner = circle.center() - QPointF(glyph / 2.0, glyph / 2.0);
        painter.drawPixmap(corner, sparkles);
    }

    // The rings are stroked inside their border, which lies `ringGap` outside the circle: the
    // keyboard's outermost, the selection's inside it when both are there.
    painter.setBrush(Qt::NoBrush);
    const auto ring = [&](const QColor &color, qreal width, qreal inset) {
        painter.setPen(QPen(color, width));
        const qreal at = inset + width / 2;
        painter.drawEllipse(bounds.adjusted(at, at, -at, -at));
    };
    const bool focused = hasFocus();
    if (focused)
        ring(Theme::focusRing(), 2, 0);
    if (m_selected)
        ring(Theme::label(), focused ? 1.5 : 2, focused ? 2 : 0);
}

AccentSwatches::AccentSwatches(QWidget *parent)
    : QScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(true);
    setFocusPolicy(Qt::NoFocus); // the swatches take the keyboard; the row only scrolls
    viewport()->setAutoFillBackground(false);

    auto *row = new QWidget;
    row->setAutoFillBackground(false);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, rowInset - AccentSwatch::ringGap, 0,
                               rowInset - AccentSwatch::ringGap);
    layout->setSpacing(swatchSpacing - 2 * AccentSwatch::ringGap);

    auto add = [this, layout](std::optional<double> hue, const QColor &color) {
        auto *swatch = new AccentSwatch(hue, color);
        connect(swatch, &QAbstractButton::clicked, this, [this, hue] {
            setSelection(hue);
            emit selectionEdited();
        });
        layout->addWidget(swatch);
        m_swatches.append(swatch);
    };
    add(std::nullopt, Theme::accent());
    for (const double hue : RouterEditorModel::accentHues())
        add(hue, colorOfHue(hue));
    layout->addStretch();
    setWidget(row);
    // The row sits on its panel: neither the viewport nor the row paints a background.
    row->setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setFixedHeight(row->sizeHint().height());
    updateRings();
}

QColor AccentSwatches::colorOfHue(double hue)
{
    RouterConnection probe;
    probe.accentHue = hue;
    return probe.tint();
}

void AccentSwatches::setSelection(std::optional<double> hue)
{
    if (m_selection == hue)
        return;
    m_selection = hue;
    updateRings();
}

void AccentSwatches::setVendorTint(const QColor &tint)
{
    m_swatches.first()->setColor(tint);
}

void AccentSwatches::updateRings()
{
    // A hue is selected only when it matches exactly; a stored hue that is not offered
    // leaves every swatch unringed.
    for (AccentSwatch *swatch : std::as_const(m_swatches))
        swatch->setSelected(swatch->hue() == m_selection);
}
