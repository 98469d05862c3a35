#include "Views/Workspace/ControlBar.h"

#include "Controllers/RouterController.h"
#include "Platform/Gui/Symbols.h"
#include "Theme/Controls.h"
#include "Theme/GlassKit.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>
#include <QVariantAnimation>

#include <cmath>

#include <functional>

namespace {

constexpr int barMaximumWidth = 820;
constexpr int barInsetX = GlassKit::floatingPanelInsets.left();
constexpr int barInsetY = GlassKit::floatingPanelInsets.top();
constexpr int barCornerRadius = 22;
constexpr int rowSpacing = 14;
constexpr int stackSpacing = 10;
constexpr int controlHeight = 28;
constexpr int symbolSize = 14;

// Focus is drawn only once the operator moves it with the keyboard, not for the first
// control that happens to take it when the window opens.
bool showsFocusRing(const QWidget *widget)
{
    return widget->hasFocus() && widget->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

QString portLabel(const QList<Port> &ports, int position)
{
    if (position < 0 || position >= ports.size())
        return QStringLiteral("\u2014");
    return ports.at(position).label;
}

} // namespace

namespace ControlBarParts {

// A thin vertical rule between groups of controls.
class Divider final : public QWidget
{
public:
    Divider(int height, QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(1, height);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    QSize sizeHint() const override { return size(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Theme::withAlpha(Theme::label(), 0.16));
    }
};

// One line of plain text, aligned to the trailing edge, that ends in "…" only when it is given
// less than its full width. Its accessible name is its text.
class TextLine final : public QWidget
{
public:
    explicit TextLine(QWidget *parent)
        : QWidget(parent)
    {
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }

    QString text() const { return m_text; }
    void setText(QString text)
    {
        // Names come from routers and files: one line, and no more than a view can show.
        text = shownName(text);
        if (text == m_text)
            return;
        m_text = text;
        setAccessibleName(text);
        updateGeometry();
        update();
    }

    QSize sizeHint() const override
    {
        const QFontMetricsF metrics(font());
        return { int(std::ceil(metrics.horizontalAdvance(m_text))) + 1,
                 int(std::ceil(metrics.height())) };
    }
    QSize minimumSizeHint() const override { return { 0, sizeHint().height() }; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        const QString shown = width() >= sizeHint().width()
            ? m_text
            : fontMetrics().elidedText(m_text, Qt::ElideRight, width());
        painter.drawText(rect(), Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    }

private:
    QString m_text;
};

// A button drawn in one of the bar's styles: `glass` (a light capsule with a hairline, the
// foreground in a colour of choice), `prominent` (a capsule filled with the tint, white
// foreground). The text is drawn literally, never read as a
// mnemonic.
class GlassButton final : public QAbstractButton
{
public:
    enum class Style { glass, prominent };

    GlassButton(Style style, QWidget *parent)
        : QAbstractButton(parent)
        , m_style(style)
    {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    void setContent(const QString &text, const QString &symbol)
    {
        if (text == m_text && symbol == m_symbol)
            return;
        m_text = text;
        m_symbol = symbol;
        if (!text.isEmpty())
            setAccessibleName(text);
        updateGeometry();
        update();
    }

    // The foreground of a glass button; the fill of a prominent one.
    void setColor(const QColor &color)
    {
        if (color == m_color)
            return;
        m_color = color;
        update();
    }

    QSize sizeHint() const override
    {
        if (m_text.isEmpty())
            return { controlHeight, controlHeight };
        const int textWidth = fontMetrics().horizontalAdvance(m_text);
        const int symbolWidth = m_symbol.isEmpty() ? 0 : symbolSize + 6;
        return { 12 + symbolWidth + textWidth + 14, controlHeight };
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const qreal radius = frame.height() / 2;
        const bool enabled = isEnabled();
        const bool pressed = isDown();
        const bool hovered = enabled && underMouse();

        QColor foreground = m_color.isValid() ? m_color : Theme::label();
        switch (m_style) {
        case Style::glass: {
            QColor fill = Theme::withAlpha(Theme::label(), pressed ? 0.14 : hovered ? 0.09 : 0.05);
            painter.setPen(QPen(Theme::withAlpha(Theme::label(), 0.1), 1));
            painter.setBrush(fill);
            painter.drawRoundedRect(frame, radius, radius);
            break;
        }
        case Style::prominent: {
            QColor fill = m_color.isValid() ? m_color : Theme::accent();
            if (!enabled)
                fill = Theme::withAlpha(fill, 0.35);
            else if (pressed)
                fill = fill.darker(118);
            else if (hovered)
                fill = fill.lighter(108);
            painter.setPen(Qt::NoPen);
            painter.setBrush(fill);
            painter.drawRoundedRect(frame, radius, radius);
            foreground = Qt::white;
            break;
        }
        }
        if (!enabled && m_style != Style::prominent)
            foreground = Theme::withAlpha(foreground, 0.35);
        else if (!enabled)
            foreground = Theme::withAlpha(foreground, 0.8);

        if (showsFocusRing(this)) {
            painter.setPen(QPen(Theme::withAlpha(Theme::accent(), 0.5), 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(frame.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
        }

        const qreal dpr = devicePixelRatioF();
        const int textWidth = m_text.isEmpty() ? 0 : fontMetrics().horizontalAdvance(m_text);
        const int gap = (m_text.isEmpty() || m_symbol.isEmpty()) ? 0 : 6;
        const int symbolWidth = m_symbol.isEmpty() ? 0 : symbolSize;
        qreal x = (width() - (symbolWidth + gap + textWidth)) / 2.0;
        if (!m_symbol.isEmpty()) {
            const QPixmap glyph = Symbols::pixmap(m_symbol, symbolSize, foreground, dpr);
            painter.drawPixmap(QPointF(x, (height() - symbolSize) / 2.0), glyph);
            x += symbolSize + gap;
        }
        if (!m_text.isEmpty()) {
            painter.setPen(foreground);
            painter.setFont(font());
            painter.drawText(QRectF(x, 0, textWidth + 1, height()),
                             Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_text);
        }
    }

private:
    const Style m_style;
    QString m_text;
    QString m_symbol;
    QColor m_color;
};

// One segment of a SegmentedPicker.
class SegmentButton final : public QAbstractButton
{
public:
    SegmentButton(int value, const QString &text, const QString &symbol, QWidget *parent)
        : QAbstractButton(parent)
        , m_value(value)
        , m_text(text)
        , m_symbol(symbol)
    {
        setAccessibleName(text);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    int value() const { return m_value; }
    void setSelected(bool selected)
    {
        if (selected == m_selected)
            return;
        m_selected = selected;
        setAccessibleDescription(selected ? QStringLiteral("selected") : QString());
        update();
    }
    void setTint(const QColor &tint)
    {
        m_tint = tint;
        update();
    }

    QSize sizeHint() const override
    {
        const int textWidth = fontMetrics().horizontalAdvance(m_text);
        const int symbolWidth = m_symbol.isEmpty() ? 0 : symbolSize + 5;
        return { std::max(12 + symbolWidth + textWidth + 12, 36), controlHeight - 4 };
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF frame = QRectF(rect());
        const qreal radius = frame.height() / 2;
        QColor foreground = Theme::label();
        if (m_selected) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(isDown() ? m_tint.darker(115) : m_tint);
            painter.drawRoundedRect(frame, radius, radius);
            foreground = Qt::white;
        } else if (isDown() || underMouse()) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(Theme::withAlpha(Theme::label(), isDown() ? 0.1 : 0.05));
            painter.drawRoundedRect(frame, radius, radius);
        }
        if (!isEnabled())
            foreground = Theme::withAlpha(foreground, 0.4);
        if (showsFocusRing(this)) {
            painter.setPen(QPen(Theme::withAlpha(Theme::accent(), 0.55), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(frame.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
        }

        const int textWidth = fontMetrics().horizontalAdvance(m_text);
        const int symbolWidth = m_symbol.isEmpty() ? 0 : symbolSize + 5;
        qreal x = (width() - (symbolWidth + textWidth)) / 2.0;
        if (!m_symbol.isEmpty()) {
            painter.drawPixmap(
                QPointF(x, (height() - symbolSize) / 2.0),
                Symbols::pixmap(m_symbol, symbolSize, foreground, devicePixelRatioF()));
            x += symbolWidth;
        }
        painter.setPen(foreground);
        // A level name comes from the router: one line, drawn as it is.
        QString line = m_text;
        line.replace(QLatin1Char('\n'), QLatin1Char(' '));
        painter.drawText(QRectF(x, 0, textWidth + 1, height()),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line);
    }

private:
    const int m_value;
    const QString m_text;
    const QString m_symbol;
    QColor m_tint = Theme::accent();
    bool m_selected = false;
};

// A segmented picker: mutually exclusive values on a capsule track, the chosen one filled
// with the tint. It holds no choice of its own: a click reports the value through the chosen
// callback, and the owner sets the selection from its model.
class SegmentedPicker final : public QWidget
{
public:
    struct Segment
    {
        int value = 0;
        QString text;
        QString symbol;

        bool operator==(const Segment &) const = default;
    };

    SegmentedPicker(const QString &title, std::function<void(int)> chosen, QWidget *parent)
        : QWidget(parent)
        , m_chosen(std::move(chosen))
    {
        // The title serves accessibility only, as the picker shows no title.
        setAccessibleName(title);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        m_row = new QHBoxLayout(this);
        m_row->setContentsMargins(2, 2, 2, 2);
        m_row->setSpacing(0);
    }

    void setSegments(const QList<Segment> &segments)
    {
        if (segments == m_segments)
            return;
        m_segments = segments;
        // A segment's own click may bring new segments: the old ones go later.
        for (SegmentButton *old : std::as_const(m_buttons)) {
            m_row->removeWidget(old);
            old->hide();
            old->deleteLater();
        }
        m_buttons.clear();
        for (const Segment &segment : segments) {
            auto *button = new SegmentButton(segment.value, segment.text, segment.symbol, this);
            button->setTint(m_tint);
            button->setSelected(segment.value == m_selected);
            const int value = segment.value;
            connect(button, &QAbstractButton::clicked, this, [this, value] {
                if (m_chosen)
                    m_chosen(value);
            });
            m_row->addWidget(button);
            m_buttons.append(button);
        }
        updateGeometry();
    }

    void setSelected(std::optional<int> value)
    {
        m_selected = value;
        for (SegmentButton *button : std::as_const(m_buttons))
            button->setSelected(button->value() == value);
    }

    void setTint(const QColor &tint)
    {
        m_tint = tint;
        for (SegmentButton *button : std::as_const(m_buttons))
            button->setTint(tint);
    }

    QSize sizeHint() const override
    {
        QSize size = m_row->sizeHint();
        size.setHeight(controlHeight);
        return size;
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(Theme::withAlpha(Theme::label(), 0.07), 1));
        painter.setBrush(Theme::withAlpha(Theme::label(), 0.06));
        painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    }

private:
    std::function<void(int)> m_chosen;
    QHBoxLayout *m_row = nullptr;
    QList<Segment> m_segments;
    QList<SegmentButton *> m_buttons;
    std::optional<int> m_selected;
    QColor m_tint = Theme::accent();
};

} // namespace ControlBarParts

using namespace ControlBarParts;

namespace {

// The cell-size stepper, bare inside the bar, on the shared "matrixCellSize" default.
QWidget *makeZoomControl(QWidget *parent)
{
    using namespace GlassKit;
    auto *control = new MatrixZoomControl(true, MatrixCellSize::shared(), minimumMatrixCellSize,
                                          maximumMatrixCellSize, parent);
    control->setObjectName(QStringLiteral("zoomControl"));
    return control;
}

QList<SegmentedPicker::Segment> takeModeSegments()
{
    QList<SegmentedPicker::Segment> segments;
    for (const TakeMode mode : allCases<TakeMode>()) {
        const bool immediate = mode == TakeMode::immediate;
        segments.append(
            { int(mode), immediate ? QStringLiteral("Direct") : QStringLiteral("Take"),
              immediate ? QStringLiteral("bolt.fill") : QStringLiteral("checkmark.circle") });
    }
    return segments;
}

QList<SegmentedPicker::Segment> directionSegments()
{
    QList<SegmentedPicker::Segment> segments;
    for (const RoutingDirection direction : allCases<RoutingDirection>()) {
        segments.append({ int(direction),
                          direction == RoutingDirection::destinationLed
                              ? QStringLiteral("X-Y")
                              : QStringLiteral("1 \u2192 Many"),
                          QString() });
    }
    return segments;
}

} // namespace

// --- RoutingModeCluster --------------------------------------------------------------------

RoutingModeCluster::RoutingModeCluster(RouterController &controller, bool standalone,
                                       QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_standalone(standalone)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto *row = new QHBoxLayout(this);
    if (standalone)
        row->setContentsMargins(GlassKit::floatingPanelInsets);
    else
        row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);

    const QColor tint = controller.connection().tint();
    m_takeMode = new SegmentedPicker(
        QStringLiteral("Take"), [this](int value) { m_controller.setTakeMode(TakeMode(value)); },
        this);
    m_takeMode->setObjectName(QStringLiteral("takeModePicker"));
    m_takeMode->setFont(Theme::font(Theme::TextStyle::callout, QFont::Medium));
    m_takeMode->setTint(tint);
    m_takeMode->setSegments(takeModeSegments());
    row->addWidget(m_takeMode, 0, Qt::AlignVCenter);

    m_divider = new Divider(22, this);
    row->addWidget(m_divider, 0, Qt::AlignVCenter);

    // Every choice goes through setDirection(), which also ends gang selection and clears
    // what was staged; the picker never writes the direction itself.
    m_direction = new SegmentedPicker(
        QStringLiteral("Direction"),
        [this](int value) { m_controller.setDirection(RoutingDirection(value)); }, this);
    m_direction->setObjectName(QStringLiteral("directionPicker"));
    m_direction->setFont(Theme::font(Theme::TextStyle::callout, QFont::Medium));
    m_direction->setTint(tint);
    m_direction->setSegments(directionSegments());
    row->addWidget(m_direction, 0, Qt::AlignVCenter);

    connect(&controller, &RouterController::takeModeChanged, this, &RoutingModeCluster::refresh);
    connect(&controller, &RouterController::viewModeChanged, this, &RoutingModeCluster::refresh);
    connect(&controller, &RouterController::routingDirectionChanged, this,
            &RoutingModeCluster::refresh);
    refresh();
}

void RoutingModeCluster::refresh()
{
    const bool confirm = m_controller.takeMode() == TakeMode::confirm;
    m_takeMode->setSelected(int(m_controller.takeMode()));
    m_takeMode->setToolTip(confirm ? QStringLiteral("Stage a route, then press Take to cut it.")
                                   : QStringLiteral("Routes the moment you choose a source."));

    const bool list = m_controller.viewMode() == RouteViewMode::list;
    const bool sourceLed = m_controller.routingDirection() == RoutingDirection::sourceLed;
    m_direction->setSelected(int(m_controller.routingDirection()));
    m_direction->setToolTip(
        sourceLed ? QStringLiteral("Pick a source, then tap destinations to send it to each.")
                  : QStringLiteral("Pick a destination, then a source."));
    if (m_direction->isHidden() == list) {
        m_divider->setVisible(list);
        m_direction->setVisible(list);
        updateGeometry();
    }
}

QSize RoutingModeCluster::sizeHint() const
{
    return layout()->sizeHint();
}

void RoutingModeCluster::paintEvent(QPaintEvent *)
{
    if (!m_standalone)
        return;
    QPainter painter(this);
    GlassKit::paintFloatingPanel(painter, QRectF(rect()));
}

// --- ControlBar ----------------------------------------------------------------------------

ControlBar::ControlBar(RouterController &controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
{
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);

    m_frameAnimation = new Motion::SpringAnimation(Motion::standardSpring, this);
    connect(m_frameAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { setPaintedRect(value.toRectF()); });

    build();
    bind();
    refresh();
}

ControlBar::~ControlBar() = default;

bool ControlBar::hasContent(const RouterController &controller, bool compactWidth)
{
    return compactWidth || controller.state().levels.size() >= 2
        || controller.viewMode() == RouteViewMode::matrix
        || controller.takeMode() == TakeMode::confirm;
}

void ControlBar::build()
{
    const QColor tint = m_controller.connection().tint();

    m_levelPicker = new SegmentedPicker(
        QStringLiteral("Level"), [this](int level) { m_controller.setPrimaryLevel(level); }, this);
    m_levelPicker->setObjectName(QStringLiteral("levelPicker"));
    m_levelPicker->setFont(Theme::font(Theme::TextStyle::callout, QFont::Medium));
    m_levelPicker->setTint(tint);

    m_followButton = new GlassButton(GlassButton::Style::glass, this);
    m_followButton->setObjectName(QStringLiteral("followButton"));
    m_followButton->setFont(Theme::font(Theme::TextStyle::callout, QFont::Medium));
    connect(m_followButton, &QAbstractButton::clicked, this, [this] {
        if (m_controller.breakawayLevels().isEmpty())
            m_controller.setBreakawayLevels({ m_controller.primaryLevel() });
        else
            m_controller.setBreakawayLevels({});
    });

    m_zoomDivider = new Divider(26, this);
    m_zoom = makeZoomControl(this);
    m_takeDivider = new Divider(28, this);

    m_takeCluster = new QWidget(this);
    m_takeCluster->setObjectName(QStringLiteral("takeCluster"));
    auto *cluster = new QHBoxLayout(m_takeCluster);
    cluster->setContentsMargins(0, 0, 0, 0);
    cluster->setSpacing(stackSpacing);

    // The text block keeps its height but may give up width: its lines elide.
    auto *text = new QWidget(m_takeCluster);
    text->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto *lines = new QVBoxLayout(text);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(1);
    m_stagedSource = new TextLine(text);
    m_stagedSource->setObjectName(QStringLiteral("stagedSource"));
    Theme::apply(m_stagedSource, Theme::TextStyle::subheadline, QFont::DemiBold);
    m_stagedTargets = new TextLine(text);
    m_stagedTargets->setObjectName(QStringLiteral("stagedTargets"));
    Theme::applySecondary(m_stagedTargets, Theme::TextStyle::caption);
    m_emptyHint = new TextLine(text);
    m_emptyHint->setObjectName(QStringLiteral("emptyHint"));
    Theme::apply(m_emptyHint, Theme::TextStyle::caption);
    QPalette hintPalette = m_emptyHint->palette();
    hintPalette.setColor(QPalette::WindowText, Theme::orange());
    m_emptyHint->setPalette(hintPalette);
    for (TextLine *line : { m_stagedSource, m_stagedTargets, m_emptyHint })
        lines->addWidget(line);
    cluster->addWidget(text, 1);

    m_clearButton = new GlassButton(GlassButton::Style::glass, m_takeCluster);
    m_clearButton->setObjectName(QStringLiteral("clearButton"));
    m_clearButton->setContent(QString(), QStringLiteral("xmark"));
    m_clearButton->setAccessibleName(QStringLiteral("Clear staged route"));
    m_clearButton->setToolTip(QStringLiteral("Clear staged route"));
    connect(m_clearButton, &QAbstractButton::clicked, this,
            [this] { m_controller.clearPending(); });
    cluster->addWidget(m_clearButton);

    m_takeButton = new GlassButton(GlassButton::Style::prominent, m_takeCluster);
    m_takeButton->setObjectName(QStringLiteral("takeButton"));
    m_takeButton->setFont(Theme::font(Theme::TextStyle::callout, QFont::DemiBold));
    m_takeButton->setContent(QStringLiteral("Take"), QStringLiteral("checkmark"));
    m_takeButton->setColor(tint);
    connect(m_takeButton, &QAbstractButton::clicked, this, [this] { m_controller.confirmTake(); });
    cluster->addWidget(m_takeButton);

    // Return presses Take. The shortcut belongs to the button, so it is dead while the button
    // is disabled or off screen (no bar, or immediate take mode).
    auto *takeKey = new QShortcut(QKeySequence(Qt::Key_Return), m_takeButton);
    takeKey->setContext(Qt::WindowShortcut);
    connect(takeKey, &QShortcut::activated, this, [this] {
        if (m_takeButton->isEnabled() && m_takeButton->isVisible())
            m_takeButton->click();
    });
}

void ControlBar::bind()
{
    RouterController *controller = &m_controller;
    // Before refresh, so the Follow button already shows the narrowed breakaway set.
    connect(controller, &RouterController::primaryLevelChanged, this,
            &ControlBar::onPrimaryLevelChanged);
    for (auto signal :
         { &RouterController::stateChanged, &RouterController::viewModeChanged,
           &RouterController::routingDirectionChanged, &RouterController::primaryLevelChanged,
           &RouterController::breakawayLevelsChanged, &RouterController::pendingSourceChanged,
           &RouterController::selectedSourceChanged }) {
        connect(controller, signal, this, &ControlBar::refresh);
    }
    // A change of take mode or of the staged destinations moves the bar's edges on a spring.
    for (auto signal :
         { &RouterController::takeModeChanged, &RouterController::pendingDestinationChanged,
           &RouterController::pendingDestinationsChanged }) {
        connect(controller, signal, this, [this] {
            m_springNext = true;
            refresh();
            m_springNext = false;
        });
    }
}

void ControlBar::onPrimaryLevelChanged()
{
    // A breakaway follows the level the operator picks; Follow stays Follow.
    // Only while the picker is on screen: a reset elsewhere leaves the breakaway alone.
    const bool pickerShown = m_levelPicker->isVisible() && hasContent(m_controller, false)
        && m_controller.state().levels.size() >= 2;
    if (pickerShown && !m_controller.breakawayLevels().isEmpty())
        m_controller.setBreakawayLevels({ m_controller.primaryLevel() });
}

void ControlBar::refresh()
{
    refreshLevels();
    refreshFollow();
    refreshTakeCluster();
    applyPresence();
    updateGeometry();
    relayout();
}

void ControlBar::applyPresence()
{
    const bool present = hasContent(m_controller, false);
    if (!present && !isHidden()) {
        m_hiddenByBar = true;
        hide();
    } else if (present && m_hiddenByBar) {
        m_hiddenByBar = false;
        show();
    }
}

void ControlBar::refreshLevels()
{
    QList<SegmentedPicker::Segment> segments;
    for (const RouterLevel &level : m_controller.state().levels)
        segments.append({ level.index, level.name, QString() });
    m_levelPicker->setSegments(segments);
    m_levelPicker->setSelected(m_controller.primaryLevel());
}

void ControlBar::refreshFollow()
{
    if (m_controller.breakawayLevels().isEmpty()) {
        m_followButton->setContent(QStringLiteral("Follow"), QStringLiteral("link"));
        m_followButton->setColor(Theme::secondaryLabel());
    } else {
        m_followButton->setContent(QStringLiteral("Breakaway"), QStringLiteral("scissors"));
        m_followButton->setColor(
            GlassKit::levelTint(m_controller.state(), m_controller.primaryLevel()));
    }
}

void ControlBar::refreshTakeCluster()
{
    const std::optional<RouterController::PendingTake> take = m_controller.pendingTake();
    const RouterState &state = m_controller.state();
    if (take) {
        m_stagedSource->setText(portLabel(state.sources, take->source));
        m_stagedTargets->setText(targetText(take->destinations));
    } else {
        m_emptyHint->setText(emptyHint());
    }
    m_stagedSource->setVisible(take.has_value());
    m_stagedTargets->setVisible(take.has_value());
    m_emptyHint->setVisible(!take.has_value());
    m_clearButton->setEnabled(m_controller.hasStaging());
    m_takeButton->setEnabled(take.has_value());
    // The bar reads the cluster's ideal width at once, before any posted layout pass.
    QWidget *text = m_stagedSource->parentWidget();
    text->layout()->invalidate();
    text->updateGeometry();
    m_takeCluster->layout()->invalidate();
    m_takeCluster->updateGeometry();
}

QString ControlBar::targetText(const QList<int> &destinations) const
{
    if (destinations.size() == 1)
        return QStringLiteral("\u2192 ")
            + portLabel(m_controller.state().destinations, destinations.first());
    return QStringLiteral("\u2192 %1 destinations").arg(destinations.size());
}

QString ControlBar::emptyHint() const
{
    return m_controller.routingDirection() == RoutingDirection::sourceLed
        ? QStringLiteral("Tap destinations to stage")
        : QStringLiteral("Stage a route");
}

QList<ControlBar::Row> ControlBar::rowsOf(Arrangement arrangement) const
{
    const bool levels = m_controller.state().levels.size() >= 2;
    const bool matrix = m_controller.viewMode() == RouteViewMode::matrix;
    const bool confirm = m_controller.takeMode() == TakeMode::confirm;

    QList<Row> rows;
    const auto add = [&rows](Row row) {
        if (!row.items.isEmpty())
            rows.append(row);
    };
    switch (arrangement) {
    case Arrangement::singleRow: {
        Row row;
        if (levels)
            row.items << m_levelPicker << m_followButton;
        if (matrix)
            row.items << m_zoomDivider << m_zoom;
        if (confirm)
            row.items << m_takeDivider << m_takeCluster;
        add(row);
        break;
    }
    case Arrangement::twoRow: {
        Row first;
        if (levels)
            first.items << m_levelPicker << m_followButton;
        if (matrix)
            first.items << m_zoomDivider << m_zoom;
        add(first);
        if (confirm)
            add({ { m_takeCluster } });
        break;
    }
    case Arrangement::threeRow: {
        if (levels)
            add({ { m_followButton } });
        Row middle;
        if (levels)
            middle.items << m_levelPicker;
        if (matrix)
            middle.items << m_zoom;
        add(middle);
        if (confirm)
            add({ { m_takeCluster } });
        break;
    }
    }
    return rows;
}

QSize ControlBar::idealSize(const QList<Row> &rows) const
{
    QSize size;
    for (const Row &row : rows) {
        int width = 0;
        int height = 0;
        for (const QWidget *item : row.items) {
            const QSize hint = item->sizeHint();
            width += hint.width();
            height = std::max(height, hint.height());
        }
        width += rowSpacing * int(row.items.size() - 1);
        size.setWidth(std::max(size.width(), width));
        size.setHeight(size.height() + height);
    }
    if (rows.size() > 1)
        size.setHeight(size.height() + stackSpacing * int(rows.size() - 1));
    return size;
}

ControlBar::Placement ControlBar::placementFor(int width) const
{
    // The first arrangement whose ideal width fits wins; three rows when none does.
    const int available = std::min(width, barMaximumWidth) - 2 * barInsetX;
    Placement placement;
    for (Arrangement arrangement :
         { Arrangement::singleRow, Arrangement::twoRow, Arrangement::threeRow }) {
        placement.arrangement = arrangement;
        placement.rows = rowsOf(arrangement);
        placement.content = idealSize(placement.rows);
        if (placement.content.width() <= available)
            break;
    }
    return placement;
}

int ControlBar::heightForWidth(int width) const
{
    return placementFor(width).content.height() + 2 * barInsetY;
}

QSize ControlBar::sizeHint() const
{
    const Placement placement = placementFor(barMaximumWidth);
    return placement.content + QSize(2 * barInsetX, 2 * barInsetY);
}

QSize ControlBar::minimumSizeHint() const
{
    return { 0, heightForWidth(0) };
}

void ControlBar::relayout()
{
    const Placement placement = placementFor(width());
    const int available = std::max(0, std::min(width(), barMaximumWidth) - 2 * barInsetX);
    const int contentWidth = std::min(placement.content.width(), available);
    const int barWidth = contentWidth + 2 * barInsetX;
    m_barRect
        = QRect((width() - barWidth) / 2, 0, barWidth, placement.content.height() + 2 * barInsetY);

    QList<QWidget *> placed;
    int y = m_barRect.top() + barInsetY;
    for (const Row &row : placement.rows) {
        int rowWidth = rowSpacing * int(row.items.size() - 1);
        int rowHeight = 0;
        for (const QWidget *item : row.items) {
            rowWidth += item->sizeHint().width();
            rowHeight = std::max(rowHeight, item->sizeHint().height());
        }
        // Only the take cluster's text gives way when a row is too wide.
        const int excess = std::max(0, rowWidth - contentWidth);
        int x = m_barRect.left() + barInsetX + std::max(0, (contentWidth - rowWidth) / 2);
        for (QWidget *item : row.items) {
            QSize size = item->sizeHint();
            if (item == m_takeCluster && excess > 0)
                size.setWidth(std::max(item->minimumSizeHint().width(), size.width() - excess));
            item->setGeometry(x, y + (rowHeight - size.height()) / 2, size.width(), size.height());
            x += size.width() + rowSpacing;
            placed.append(item);
        }
        y += rowHeight + stackSpacing;
    }
    for (QWidget *part :
         { static_cast<QWidget *>(m_levelPicker), static_cast<QWidget *>(m_followButton),
           static_cast<QWidget *>(m_zoomDivider), m_zoom, static_cast<QWidget *>(m_takeDivider),
           m_takeCluster }) {
        part->setVisible(placed.contains(part));
    }
    moveFrame();
}

void ControlBar::moveFrame()
{
    const QRectF target(m_barRect);
    if (m_springNext && isVisible() && !m_paintedRect.isEmpty() && m_paintedRect != target) {
        // Only the sides travel: the height follows the layout at once.
        const QRectF start(m_paintedRect.left(), target.top(), m_paintedRect.width(),
                           target.height());
        m_frameAnimation->stop();
        m_frameAnimation->setStartValue(start);
        m_frameAnimation->setEndValue(target);
        m_frameAnimation->start();
        return;
    }
    if (m_frameAnimation->state() == QAbstractAnimation::Running) {
        // A layout pass during the spring keeps it going, towards the new frame.
        m_frameAnimation->setEndValue(target);
        return;
    }
    setPaintedRect(target);
}

void ControlBar::setPaintedRect(const QRectF &rect)
{
    m_paintedRect = rect;
    // Clicks beside the bar reach the routing content underneath.
    const QRect covered = rect.toAlignedRect().united(m_barRect);
    const QRegion next = covered.isEmpty() ? QRegion(0, 0, 1, 1) : QRegion(covered);
    const QRegion previous = mask();
    setMask(next);
    update();
    // What the old shape covered and the new one does not must be painted again by the
    // content under it. Updating the parent alone does not reach into the routing views
    // there, which left the old frames behind as trails, so each widget underneath is asked.
    QWidget *parent = parentWidget();
    if (!parent || !isVisible() || previous.isEmpty())
        return;
    const QRegion uncovered = previous.subtracted(next).translated(pos());
    if (uncovered.isEmpty())
        return;
    const QRect bounds = uncovered.boundingRect();
    parent->update(uncovered);
    for (QWidget *under : parent->findChildren<QWidget *>()) {
        if (under == this || isAncestorOf(under) || !under->isVisible())
            continue;
        const QPoint origin = under->mapTo(parent, QPoint());
        if (!QRect(origin, under->size()).intersects(bounds))
            continue;
        const QRegion local = uncovered.translated(-origin).intersected(under->rect());
        if (!local.isEmpty())
            under->update(local);
    }
}

void ControlBar::reportHeight()
{
    const int reported = isHidden() ? 0 : height();
    if (reported == m_reportedHeight)
        return;
    m_reportedHeight = reported;
    emit heightChanged(reported);
}

bool ControlBar::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    // A new parent drops the hidden state: an absent bar must stay hidden.
    if (event->type() == QEvent::ParentChange && !hasContent(m_controller, false)) {
        m_hiddenByBar = false;
        applyPresence();
    }
    return handled;
}

void ControlBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    GlassKit::paintFloatingPanel(painter, m_paintedRect, barCornerRadius);
}

void ControlBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    relayout();
    reportHeight();
}

void ControlBar::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    relayout();
    reportHeight();
}

void ControlBar::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    reportHeight();
}
