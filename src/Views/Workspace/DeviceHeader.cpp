#include "Views/Workspace/DeviceHeader.h"

#include "Controllers/RouterController.h"
#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"
#include "Theme/Controls.h"
#include "Theme/GlassKit.h"
#include "Theme/StatusDot.h"
#include "Theme/Theme.h"

#include <QEvent>
#include <QPainter>

#include <cmath>

namespace {

constexpr int maximumCapsuleWidth = 940;
constexpr int iconWidth = 28;
constexpr int fullSpacing = 14;
constexpr int compactSpacing = 10;
constexpr int fullSpacerMinimum = 16;
constexpr int compactSpacerMinimum = 8;
constexpr int dotLayoutSize = 9;
constexpr int titlesSpacing = 1;
// Below this the titles are not worth drawing; the compact row still keeps icon and dot.
constexpr int smallestTitlesWidth = 40;

QFont titleFont()
{
    return Theme::font(Theme::TextStyle::subheadline, QFont::DemiBold);
}

QFont specsFont()
{
    return Theme::font(Theme::TextStyle::caption);
}

// The width the two lines need to be drawn whole, rounded up so that wrapping, which
// measures in fractions of a pixel, never breaks them.
int titlesWidth(const QString &title, const QString &specs)
{
    const qreal widest = std::max(QFontMetricsF(titleFont()).horizontalAdvance(title),
                                  QFontMetricsF(specsFont()).horizontalAdvance(specs));
    return int(std::ceil(widest)) + 1;
}

int iconGlyphSize()
{
    return int(Theme::pointSize(Theme::TextStyle::title3));
}

} // namespace

DeviceHeader::DeviceHeader(RouterController &controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_pill(new StatusPill(controller.status(), this))
    , m_dot(new StatusDot(controller.status(), this))
{
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    m_dot->hide();

    connect(&controller, &RouterController::statusChanged, this, [this] {
        m_pill->setStatus(m_controller.status());
        m_dot->setStatus(m_controller.status());
        refresh();
    });
    for (auto signal : { &RouterController::stateChanged, &RouterController::primaryLevelChanged,
                         &RouterController::panelsChanged, &RouterController::activePanelIDChanged,
                         &RouterController::visiblePortsChanged })
        connect(&controller, signal, this, &DeviceHeader::refresh);
    refresh();
}

void DeviceHeader::setAccessibilityTextSize(bool on)
{
    if (on == m_accessibilityTextSize)
        return;
    m_accessibilityTextSize = on;
    refresh();
}

QString DeviceHeader::title() const
{
    const QString &deviceName = m_controller.state().deviceName;
    return deviceName.isEmpty() ? m_controller.connection().vendor.displayName()
                                : shownName(deviceName);
}

QString DeviceHeader::specs() const
{
    const RouterState &state = m_controller.state();
    const QString level = m_controller.levelName(m_controller.primaryLevel());
    const qsizetype sources = state.sources.size();
    const qsizetype destinations = state.destinations.size();
    const std::optional<SubPanel> panel = m_controller.activePanel();
    if (!panel) {
        return Text::format(QStringLiteral("%1 in \u00d7 %2 out \u00b7 %3"), sources, destinations,
                            shownName(level));
    }
    return Text::format(QStringLiteral("%1 \u00b7 %2 of %3 in \u00d7 %4 of %5 out \u00b7 %6"),
                        shownName(panel->name), m_controller.visibleSources().size(), sources,
                        m_controller.visibleDestinations().size(), destinations, shownName(level));
}

QRect DeviceHeader::capsuleRect() const
{
    return layoutFor(width()).capsule;
}

QStringList DeviceHeader::specsLines() const
{
    return layoutFor(width()).specsLines;
}

int DeviceHeader::titlesHeight(int specsLineCount) const
{
    return QFontMetrics(titleFont()).height() + titlesSpacing
        + std::max(1, specsLineCount) * QFontMetrics(specsFont()).lineSpacing();
}

int DeviceHeader::fullRowWidth() const
{
    const int titles = titlesWidth(title(), specs());
    return iconWidth + fullSpacing + titles + fullSpacing + fullSpacerMinimum + fullSpacing
        + m_pill->sizeHint().width();
}

DeviceHeader::Layout DeviceHeader::layoutFor(int width) const
{
    const QMargins insets = GlassKit::floatingPanelInsets;
    const int horizontalInsets = insets.left() + insets.right();
    Layout layout;
    const int capsuleWidth = std::min(width, maximumCapsuleWidth);
    const int full = fullRowWidth();
    layout.compact = full + horizontalInsets > capsuleWidth;

    const QString titleText = title();
    const QString specsText = specs();
    const int spacing = layout.compact ? compactSpacing : fullSpacing;
    const int statusWidth = layout.compact ? dotLayoutSize : m_pill->sizeHint().width();
    const int statusHeight = layout.compact ? dotLayoutSize : m_pill->sizeHint().height();
    const int titlesWidthWanted = titlesWidth(titleText, specsText);
    int titlesWidth = titlesWidthWanted;
    if (layout.compact) {
        const int room = capsuleWidth - horizontalInsets - iconWidth - 3 * spacing
            - compactSpacerMinimum - statusWidth;
        titlesWidth = std::clamp(room, 0, titlesWidthWanted);
        layout.titleLines = GlassKit::wrappedLines(titleText, titleFont(), titlesWidth, 1);
        layout.specsLines = GlassKit::wrappedLines(specsText, specsFont(), titlesWidth,
                                                   m_accessibilityTextSize ? 3 : 1);
    } else {
        layout.titleLines = { titleText };
        layout.specsLines = { specsText };
    }

    const int textHeight = titlesHeight(int(layout.specsLines.size()));
    const int rowHeight = std::max(
        { textHeight, QFontMetrics(Theme::font(Theme::TextStyle::title3)).height(), statusHeight });
    const int capsuleHeight = rowHeight + insets.top() + insets.bottom();
    layout.capsule = QRect((width - capsuleWidth) / 2, 0, capsuleWidth, capsuleHeight);

    const int left = layout.capsule.left() + insets.left();
    const int top = insets.top();
    layout.icon = QRect(left, top, iconWidth, rowHeight);
    layout.titles = QRect(left + iconWidth + spacing, top + (rowHeight - textHeight) / 2,
                          titlesWidth, textHeight);
    const int statusRight = layout.capsule.right() + 1 - insets.right();
    layout.status = QRect(statusRight - statusWidth, top + (rowHeight - statusHeight) / 2,
                          statusWidth, statusHeight);
    return layout;
}

QSize DeviceHeader::sizeHint() const
{
    const QMargins insets = GlassKit::floatingPanelInsets;
    const int width
        = std::min(fullRowWidth() + insets.left() + insets.right(), maximumCapsuleWidth);
    return { width, heightForWidth(width) };
}

QSize DeviceHeader::minimumSizeHint() const
{
    const QMargins insets = GlassKit::floatingPanelInsets;
    const int width = insets.left() + insets.right() + iconWidth + 3 * compactSpacing
        + compactSpacerMinimum + dotLayoutSize + smallestTitlesWidth;
    return { width, heightForWidth(width) };
}

int DeviceHeader::heightForWidth(int width) const
{
    return layoutFor(width).capsule.height();
}

void DeviceHeader::refresh()
{
    setAccessibleName(Text::spoken(title()));
    setAccessibleDescription(Text::spoken(specs()));
    updateGeometry();
    placeStatus();
    update();
}

void DeviceHeader::placeStatus()
{
    const Layout layout = layoutFor(width());
    m_compact = layout.compact;
    m_pill->setVisible(!layout.compact);
    m_dot->setVisible(layout.compact);
    if (layout.compact) {
        QRect dot(QPoint(), m_dot->sizeHint());
        dot.moveCenter(layout.status.center());
        m_dot->setGeometry(dot);
    } else {
        m_pill->setGeometry(layout.status);
    }
}

void DeviceHeader::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeStatus();
}

void DeviceHeader::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange
        || event->type() == QEvent::StyleChange)
        refresh();
}

void DeviceHeader::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Layout layout = layoutFor(width());
    GlassKit::paintFloatingPanel(painter, QRectF(layout.capsule));

    const int glyph = iconGlyphSize();
    const QPixmap icon = Symbols::pixmap(m_controller.connection().vendor.systemImage(), glyph,
                                         m_controller.connection().tint(), devicePixelRatioF());
    painter.drawPixmap(QPointF(layout.icon.left() + (layout.icon.width() - glyph) / 2.0,
                               layout.icon.top() + (layout.icon.height() - glyph) / 2.0),
                       icon);

    if (layout.titles.width() <= 0)
        return;
    const QFontMetrics titleMetrics(titleFont());
    const QFontMetrics specsMetrics(specsFont());
    int y = layout.titles.top();
    painter.setFont(titleFont());
    painter.setPen(Theme::label());
    if (!layout.titleLines.isEmpty())
        painter.drawText(QPoint(layout.titles.left(), y + titleMetrics.ascent()),
                         layout.titleLines.first());
    y += titleMetrics.height() + titlesSpacing;
    painter.setFont(specsFont());
    painter.setPen(Theme::secondaryLabel());
    for (const QString &line : layout.specsLines) {
        painter.drawText(QPoint(layout.titles.left(), y + specsMetrics.ascent()), line);
        y += specsMetrics.lineSpacing();
    }
}
