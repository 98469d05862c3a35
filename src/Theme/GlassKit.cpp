#include "Theme/GlassKit.h"

#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"
#include "Theme/Theme.h"

#include <QAbstractButton>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSettings>
#include <QTextLayout>
#include <QTimer>

#include <cmath>

namespace GlassKit {

namespace {

const QString cellSizeKey = QStringLiteral("matrixCellSize");

QSettings userDefaults()
{
    return QSettings(QStringLiteral("Quorvel"), QStringLiteral("Quorvel"));
}

} // namespace

QColor levelTint(const RouterState &state, int levelIndex)
{
    for (const RouterLevel &level : state.levels) {
        if (level.index != levelIndex)
            continue;
        switch (level.kind) {
        case LevelKind::video:
            return Theme::blue();
        case LevelKind::audio:
            return Theme::green();
        case LevelKind::data:
            return Theme::orange();
        case LevelKind::multi:
            return Theme::purple();
        }
    }
    return Theme::accent();
}

MatrixCellSize &MatrixCellSize::shared()
{
    static MatrixCellSize instance(cellSizeKey);
    return instance;
}

MatrixCellSize::MatrixCellSize(const QString &settingsKey, double fallback, QObject *parent)
    : QObject(parent)
    , m_key(settingsKey)
    , m_value(fallback)
{
    if (m_key.isEmpty())
        return;
    bool ok = false;
    const double stored = userDefaults().value(m_key).toDouble(&ok);
    // A value that is not a number reads as the default, as a missing one does.
    if (ok && std::isfinite(stored))
        m_value = stored;
}

void MatrixCellSize::setValue(double value)
{
    if (!std::isfinite(value) || value == m_value)
        return;
    m_value = value;
    if (!m_key.isEmpty())
        userDefaults().setValue(m_key, value);
    emit valueChanged(value);
}

// --- Floating panels ---------------------------------------------------------------------

QColor floatingPanelFill()
{
    // Strong enough that cells and list text scrolling under a floating bar never compete
    // with its labels, with a trace of the wash left so it still reads as glass.
    return Theme::withAlpha(Theme::controlBackground(), 0.95);
}

void paintFloatingPanel(QPainter &painter, const QRectF &bounds, std::optional<qreal> cornerRadius)
{
    if (bounds.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const auto pathIn = [&](const QRectF &rect) {
        const qreal radius
            = cornerRadius ? std::min(*cornerRadius, rect.height() / 2) : rect.height() / 2;
        QPainterPath path;
        path.addRoundedRect(rect, radius, radius);
        return path;
    };
    // A faint shadow lifts the panel off the content scrolling under it.
    painter.fillPath(pathIn(bounds.translated(0, 1)), QColor(0, 0, 0, 14));
    painter.fillPath(pathIn(bounds), floatingPanelFill());
    // Stroked half a point in, so the 1-point line lies inside the edge.
    const QRectF outline = bounds.adjusted(0.5, 0.5, -0.5, -0.5);
    const QColor separator = Theme::separator();
    painter.setPen(QPen(Theme::withAlpha(separator, 0.6 * separator.alphaF()), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(pathIn(outline));
    painter.restore();
}

QStringList wrappedLines(const QString &text, const QFont &font, qreal width, int maxLines)
{
    QStringList lines;
    if (text.isEmpty() || maxLines < 1 || width <= 0)
        return lines;
    QString laidOut = text;
    laidOut.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    laidOut.replace(QLatin1Char('\n'), QChar::LineSeparator);
    laidOut.replace(QLatin1Char('\r'), QChar::LineSeparator);

    QTextLayout layout(laidOut, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    const QFontMetricsF metrics(font);
    while (lines.size() < maxLines) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        const int start = line.textStart();
        if (lines.size() == maxLines - 1) {
            QString rest = laidOut.mid(start);
            const bool more = line.textStart() + line.textLength() < laidOut.size();
            if (more) {
                rest.replace(QChar::LineSeparator, QLatin1Char(' '));
                lines.append(metrics.elidedText(rest.trimmed(), Qt::ElideRight, width));
                break;
            }
        }
        QString piece = laidOut.mid(start, line.textLength());
        piece.remove(QChar::LineSeparator);
        while (!piece.isEmpty() && piece.back().isSpace())
            piece.chop(1);
        lines.append(piece);
    }
    layout.endLayout();
    return lines;
}

// --- ErrorBanner ---------------------------------------------------------------------------

namespace {
constexpr int bannerHorizontalInset = 14;
constexpr int bannerVerticalInset = 9;
constexpr int bannerIconGap = 6;
constexpr int bannerMaxLines = 2;
} // namespace

ErrorBanner::ErrorBanner(const QString &message, QWidget *parent,
                         std::chrono::milliseconds dismissDelay)
    : QWidget(parent)
    , m_message(message)
    , m_wait(new QTimer(this))
{
    setFont(Theme::font(Theme::TextStyle::callout, QFont::Medium));
    setAccessibleName(Text::spoken(message));
    setCursor(Qt::PointingHandCursor);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    m_wait->setObjectName(QStringLiteral("dismissWait"));
    m_wait->setSingleShot(true);
    m_wait->setTimerType(Qt::PreciseTimer);
    m_wait->setInterval(dismissDelay);
    connect(m_wait, &QTimer::timeout, this, &ErrorBanner::dismiss);
}

void ErrorBanner::setMessage(const QString &message)
{
    if (message == m_message)
        return;
    m_message = message;
    setAccessibleName(Text::spoken(message));
    if (isVisible())
        m_wait->start();
    updateGeometry();
    update();
}

int ErrorBanner::iconSize() const
{
    return QFontMetrics(font()).ascent();
}

QStringList ErrorBanner::linesFor(int width) const
{
    const int textWidth = width - 2 * bannerHorizontalInset - iconSize() - bannerIconGap;
    return wrappedLines(m_message, font(), std::max(textWidth, 1), bannerMaxLines);
}

QStringList ErrorBanner::lines() const
{
    return linesFor(width());
}

QSize ErrorBanner::sizeHint() const
{
    const QFontMetrics metrics(font());
    int widest = 0;
    for (const QString &line : wrappedLines(m_message, font(), 1e6, bannerMaxLines))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    const int width = 2 * bannerHorizontalInset + iconSize() + bannerIconGap + widest + 1;
    return { width, heightForWidth(width) };
}

QSize ErrorBanner::minimumSizeHint() const
{
    const int width = 2 * bannerHorizontalInset + iconSize() + bannerIconGap
        + QFontMetrics(font()).horizontalAdvance(QStringLiteral("Error…"));
    return { width, heightForWidth(width) };
}

int ErrorBanner::heightForWidth(int width) const
{
    const int lineCount = std::max<int>(1, int(linesFor(width).size()));
    return 2 * bannerVerticalInset + lineCount * QFontMetrics(font()).lineSpacing();
}

void ErrorBanner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor red = Theme::red();
    const QRectF bounds = QRectF(rect());
    const qreal radius = bounds.height() / 2;
    QPainterPath capsule;
    capsule.addRoundedRect(bounds, radius, radius);
    // The banner floats over the header and its controls: the window colour under the red
    // wash keeps whatever lies behind from showing through the message.
    QColor backing = Theme::windowBackground();
    backing.setAlpha(255);
    painter.fillPath(capsule, backing);
    painter.fillPath(capsule, Theme::withAlpha(red, 0.15));
    painter.setPen(QPen(Theme::withAlpha(red, 0.4), 1));
    const QRectF outline = bounds.adjusted(0.5, 0.5, -0.5, -0.5);
    painter.drawRoundedRect(outline, outline.height() / 2, outline.height() / 2);

    const QFontMetricsF metrics(font());
    const QStringList textLines = lines();
    const qreal textHeight = std::max<qsizetype>(1, textLines.size()) * metrics.lineSpacing();
    qreal y = (height() - textHeight) / 2;

    const int icon = iconSize();
    const QPixmap triangle = Symbols::pixmap(QStringLiteral("exclamationmark.triangle.fill"), icon,
                                             red, devicePixelRatioF());
    const qreal iconTop = y + (metrics.lineSpacing() - icon) / 2;
    painter.drawPixmap(QPointF(bannerHorizontalInset, iconTop), triangle);

    painter.setPen(red);
    painter.setFont(font());
    const qreal x = bannerHorizontalInset + icon + bannerIconGap;
    for (const QString &line : textLines) {
        painter.drawText(QPointF(x, y + metrics.ascent()), line);
        y += metrics.lineSpacing();
    }
}

void ErrorBanner::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        dismiss();
    QWidget::mouseReleaseEvent(event);
}

void ErrorBanner::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_wait->start();
}

void ErrorBanner::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_wait->stop();
}

void ErrorBanner::dismiss()
{
    m_wait->stop();
    emit dismissRequested();
}

// --- MatrixZoomControl ---------------------------------------------------------------------

namespace {

// A symbol on a 34-point square, hit-testable all over, without button chrome.
class PlainSymbolButton final : public QAbstractButton
{
public:
    PlainSymbolButton(const QString &symbol, const QString &name, QWidget *parent)
        : QAbstractButton(parent)
        , m_symbol(symbol)
    {
        setAccessibleName(name);
        setToolTip(name);
        setFocusPolicy(Qt::TabFocus);
        setFixedSize(34, 34);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        QColor color = isEnabled() ? Theme::label() : Theme::tertiaryLabel();
        if (isDown())
            color = Theme::withAlpha(color, color.alphaF() * 0.5);
        constexpr int glyph = 13; // the 13-point semibold row
        const QPixmap pixmap = Symbols::pixmap(m_symbol, glyph, color, devicePixelRatioF());
        painter.drawPixmap(QPointF((width() - glyph) / 2.0, (height() - glyph) / 2.0), pixmap);
        if (hasFocus() && m_keyboardFocus) {
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(QPen(Theme::focusRing(), 2));
            painter.drawRoundedRect(QRectF(rect()).adjusted(4, 4, -4, -4), 6, 6);
        }
    }

    void focusInEvent(QFocusEvent *event) override
    {
        // The ring is for keyboard users; a window handing out its first focus draws none.
        m_keyboardFocus
            = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
        QAbstractButton::focusInEvent(event);
    }

private:
    QString m_symbol;
    bool m_keyboardFocus = false;
};

} // namespace

MatrixZoomControl::MatrixZoomControl(bool embedded, MatrixCellSize &cellSize, double minCell,
                                     double maxCell, QWidget *parent)
    : QWidget(parent)
    , m_embedded(embedded)
    , m_cellSize(cellSize)
    , m_minCell(minCell)
    , m_maxCell(maxCell)
{
    setFont(Theme::font(Theme::TextStyle::body, QFont::DemiBold));
    auto *row = new QHBoxLayout(this);
    row->setSpacing(2);
    row->setContentsMargins(embedded ? QMargins() : floatingPanelInsets);

    m_smaller = new PlainSymbolButton(QStringLiteral("minus"), tr("Smaller cells"), this);
    // The grid symbol is painted into a gap of the row: a widget would be read aloud.
    const int gridSize = int(Theme::pointSize(Theme::TextStyle::caption));
    // A spacer gets no layout spacing of its own: the gaps beside it are part of it.
    m_grid = new QSpacerItem(gridSize + 2 * row->spacing(), gridSize, QSizePolicy::Fixed,
                             QSizePolicy::Fixed);
    m_larger = new PlainSymbolButton(QStringLiteral("plus"), tr("Larger cells"), this);
    row->addWidget(m_smaller, 0, Qt::AlignVCenter);
    row->addItem(m_grid);
    row->addWidget(m_larger, 0, Qt::AlignVCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    connect(m_smaller, &QAbstractButton::clicked, this, [this] { step(-matrixCellStep); });
    connect(m_larger, &QAbstractButton::clicked, this, [this] { step(matrixCellStep); });
    connect(&m_cellSize, &MatrixCellSize::valueChanged, this, &MatrixZoomControl::updateButtons);
    updateButtons();
}

void MatrixZoomControl::step(double delta)
{
    const double current = m_cellSize.value();
    const double next
        = delta < 0 ? std::max(m_minCell, current + delta) : std::min(m_maxCell, current + delta);
    m_cellSize.setValue(next);
}

void MatrixZoomControl::updateButtons()
{
    const double current = m_cellSize.value();
    m_smaller->setEnabled(current > m_minCell);
    m_larger->setEnabled(current < m_maxCell);
}

void MatrixZoomControl::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!m_embedded)
        paintFloatingPanel(painter, QRectF(rect()));
    const QRect gap = m_grid->geometry();
    const int size = std::min(gap.width(), gap.height());
    painter.drawPixmap(gap.left() + (gap.width() - size) / 2, gap.top() + (gap.height() - size) / 2,
                       Symbols::pixmap(QStringLiteral("square.grid.3x3"), size,
                                       Theme::secondaryLabel(), devicePixelRatioF()));
}

// --- RouterBackdrop ------------------------------------------------------------------------

RouterBackdrop::RouterBackdrop(const QColor &tint, QWidget *parent)
    : QWidget(parent)
    , m_tint(tint)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void RouterBackdrop::setTint(const QColor &tint)
{
    if (tint == m_tint)
        return;
    m_tint = tint;
    update();
}

void RouterBackdrop::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), Theme::windowBackground());
    if (!m_tint.isValid())
        return;
    // The wash runs from the top edge to the middle. Extra stops ease it out the way the
    // blurred gradient does, so it has no visible end.
    const qreal middle = height() / 2.0;
    QLinearGradient wash(0, 0, 0, middle);
    constexpr qreal peak = 0.16;
    for (int i = 0; i <= 8; ++i) {
        const qreal t = i / 8.0;
        const qreal eased = 1 - t * t * (3 - 2 * t);
        wash.setColorAt(t, Theme::withAlpha(m_tint, peak * eased));
    }
    painter.fillRect(QRectF(0, 0, width(), middle).intersected(QRectF(event->rect())), wash);
}

} // namespace GlassKit
