#include "Views/List/DestinationListView.h"

#include "Controllers/RouterController.h"
#include "Platform/Gui/Symbols.h"
#include "Theme/Controls.h"
#include "Theme/GlassKit.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"
#include "Views/List/ListMetrics.h"
#include "Views/List/PortRowsModel.h"
#include "Views/List/RowAnimator.h"
#include "Views/List/RowDelegate.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyleHints>
#include <QTimer>
#include <QVBoxLayout>

#include <functional>
#include <utility>

namespace DestinationList {

// The scrolling rows of a pane. Taps are reported by port index; the list selection and
// current index are not used, since selection lives in the controller.
class PortListView final : public QListView
{
public:
    struct Handlers
    {
        std::function<void(int port)> tap;
        std::function<void(int port)> doubleTap;
        std::function<void(int port)> badgeTap; // only where the model offers it
        std::function<void(QWidget *owner, int port, QPoint globalPos)> contextMenu;
    };

    PortListView(PortRowsModel *model, QColor tint, Handlers handlers, QWidget *parent)
        : QListView(parent)
        , m_model(model)
        , m_handlers(std::move(handlers))
    {
        setModel(model);
        setItemDelegate(new RowDelegate(tint, m_animator, this));
        setUniformItemSizes(true);
        setSelectionMode(NoSelection);
        setEditTriggers(NoEditTriggers);
        setVerticalScrollMode(ScrollPerPixel);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setFrameShape(QFrame::NoFrame);
        // Return belongs to the control bar's Take; the list is driven by the pointer.
        setFocusPolicy(Qt::NoFocus);
        setMouseTracking(true);
        viewport()->setAttribute(Qt::WA_Hover);
        viewport()->setAutoFillBackground(false);
        setAutoFillBackground(false);
        setViewportMargins(0, kListInset - kRowGap / 2, 0, 0);
        // A slim indicator in place of the style's trough, as the cards are small.
        const QColor handle = Theme::withAlpha(Theme::label(), 0.22);
        verticalScrollBar()->setStyleSheet(
            QStringLiteral("QScrollBar:vertical { background: transparent; width: 10px;"
                           " margin: 4px 2px 4px 0; }"
                           "QScrollBar::handle:vertical { background: %1; border-radius: 3px;"
                           " min-height: 28px; margin: 0 1px; }"
                           "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
                           "QScrollBar::add-page, QScrollBar::sub-page { background: none; }")
                .arg(handle.name(QColor::HexArgb)));

        m_tapTimer.setSingleShot(true);
        QObject::connect(&m_tapTimer, &QTimer::timeout, this, [this] {
            if (m_pendingTap && m_handlers.tap)
                m_handlers.tap(*m_pendingTap);
            m_pendingTap.reset();
        });
    }

    void setBottomClearance(int clearance)
    {
        m_clearance = std::max(0, clearance);
        updateGeometries();
    }

    // Fades the rows in, as after a panel change.
    void appear()
    {
        if (isVisible())
            m_animator.appear();
    }

protected:
    void updateGeometries() override
    {
        QListView::updateGeometries();
        // Room below the last row, inside the scrolled content, so the floating control bar
        // can be scrolled clear of it.
        const int content = contentsSize().height() + kListInset - kRowGap / 2 + m_clearance;
        verticalScrollBar()->setRange(0, std::max(0, content - viewport()->height()));
        verticalScrollBar()->setPageStep(viewport()->height());
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton) {
            QListView::mousePressEvent(event);
            return;
        }
        m_pressed = hit(event->position().toPoint());
        event->accept();
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        // Hover tracking only; a drag never selects.
        if (!(event->buttons() & Qt::LeftButton))
            QListView::mouseMoveEvent(event);
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton) {
            QListView::mouseReleaseEvent(event);
            return;
        }
        const Hit released = hit(event->position().toPoint());
        const Hit pressed = std::exchange(m_pressed, {});
        event->accept();
        if (!released.port || released.port != pressed.port)
            return;
        if (released.onBadge) {
            if (m_handlers.badgeTap)
                m_handlers.badgeTap(*released.port);
            return;
        }
        // A single tap waits for a possible second one, so a rename never routes first.
        m_pendingTap = released.port;
        m_tapTimer.start(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    }

    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton) {
            QListView::mouseDoubleClickEvent(event);
            return;
        }
        event->accept();
        const Hit target = hit(event->position().toPoint());
        m_pressed = target;
        if (!target.port)
            return;
        if (target.onBadge) {
            // The badge has no double tap: the second press is a press like any other.
            return;
        }
        m_tapTimer.stop();
        m_pendingTap.reset();
        m_pressed = {};
        if (m_handlers.doubleTap)
            m_handlers.doubleTap(*target.port);
    }

    void contextMenuEvent(QContextMenuEvent *event) override
    {
        const Hit target = hit(event->pos());
        if (target.port && m_handlers.contextMenu)
            m_handlers.contextMenu(this, *target.port, event->globalPos());
        event->accept();
    }

private:
    struct Hit
    {
        std::optional<int> port;
        bool onBadge = false;
    };

    Hit hit(const QPoint &pos) const
    {
        const QModelIndex index = indexAt(pos);
        if (!index.isValid())
            return {};
        const QRect item = visualRect(index);
        if (!rowRect(item).contains(pos))
            return {};
        Hit result;
        result.port = index.data(Role::PortIndexRole).toInt();
        result.onBadge = badgeRect(item).adjusted(-2, -6, 6, 2).contains(pos)
            && m_model->badgeIsTappable(index.row());
        return result;
    }

    PortRowsModel *m_model;
    RowAnimator m_animator { viewport(), [this](int port) {
                                const std::optional<int> row = m_model->rowOfPort(port);
                                return row ? visualRect(m_model->index(*row)) : QRect();
                            } };
    Handlers m_handlers;
    int m_clearance = GlassKit::defaultControlBarClearance;
    Hit m_pressed;
    std::optional<int> m_pendingTap;
    QTimer m_tapTimer;
};

struct HeaderAction
{
    QString label;
    QString symbol;
    std::function<void()> run;
};

namespace {

// A small bordered capsule button in the pane's tint: symbol and label, or the symbol alone.
class HeaderButton final : public QAbstractButton
{
public:
    HeaderButton(const HeaderAction &action, QColor tint, QWidget *parent)
        : QAbstractButton(parent)
        , m_symbol(action.symbol)
        , m_tint(tint)
    {
        setText(action.label);
        setAccessibleName(action.label);
        setFont(Theme::font(Theme::TextStyle::caption, QFont::DemiBold));
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
    }

    void setSymbolOnly(bool symbolOnly)
    {
        if (symbolOnly == m_symbolOnly)
            return;
        m_symbolOnly = symbolOnly;
        setToolTip(symbolOnly ? text() : QString());
        updateGeometry();
        update();
    }

    QSize sizeFor(bool symbolOnly) const
    {
        const int height = 22;
        if (symbolOnly)
            return { 30, height };
        return { 10 + kSymbol + 5 + fontMetrics().horizontalAdvance(text()) + 11, height };
    }

    QSize sizeHint() const override { return sizeFor(m_symbolOnly); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        qreal alpha = 0.14;
        if (isDown())
            alpha = 0.3;
        else if (underMouse())
            alpha = 0.2;
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::withAlpha(m_tint, alpha));
        painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);

        const QColor ink = m_tint.darker(112);
        const qreal dpr = devicePixelRatioF();
        const QPixmap symbol = Symbols::pixmap(m_symbol, kSymbol, ink, dpr);
        if (m_symbolOnly) {
            painter.drawPixmap(QPointF((width() - kSymbol) / 2.0, (height() - kSymbol) / 2.0),
                               symbol);
            return;
        }
        painter.drawPixmap(QPointF(10, (height() - kSymbol) / 2.0), symbol);
        painter.setPen(ink);
        painter.setFont(font());
        painter.drawText(QRectF(10 + kSymbol + 5, 0, width() - (10 + kSymbol + 5), height()),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    }

private:
    static constexpr int kSymbol = 12;
    QString m_symbol;
    QColor m_tint;
    bool m_symbolOnly = false;
};

// The pane's title row. Of its three forms (with count, without count, without title and
// with symbol-only buttons) it shows the first that fits its width.
class PaneHeader final : public QWidget
{
public:
    PaneHeader(const QString &title, QColor tint, bool subtitleIsPriority, QWidget *parent)
        : QWidget(parent)
        , m_tint(tint)
        , m_subtitleIsPriority(subtitleIsPriority)
    {
        m_title = plainLabel(title, this);
        m_title->setObjectName(QStringLiteral("title"));
        Theme::apply(m_title, Theme::TextStyle::headline);
        m_subtitle = new ElidedLabel(QString(), this);
        m_subtitle->setObjectName(QStringLiteral("subtitle"));
        Theme::applySecondary(m_subtitle, Theme::TextStyle::subheadline);
        m_subtitle->hide();
        m_count = plainLabel(QStringLiteral("0"), this);
        m_count->setObjectName(QStringLiteral("count"));
        m_count->setAlignment(Qt::AlignCenter);
        Theme::applySecondary(m_count, Theme::TextStyle::caption, QFont::DemiBold);
        m_count->setFont(Theme::monospacedDigits(m_count->font()));
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }

    void setSubtitle(const std::optional<QString> &subtitle)
    {
        const bool changed = subtitle.has_value() != m_subtitle->isVisibleTo(this)
            || subtitle.value_or(QString()) != m_subtitle->text();
        if (!changed)
            return;
        m_subtitle->setText(subtitle.value_or(QString()));
        m_subtitle->setVisible(subtitle.has_value());
        relayout();
    }

    void setCount(int count)
    {
        const QString text = QString::number(count);
        if (text == m_count->text())
            return;
        m_count->setText(text);
        relayout();
    }

    // Replaces the buttons only when their labels change, so a button is never rebuilt
    // under the pointer for nothing; the actions themselves are always refreshed.
    void setActions(const QList<HeaderAction> &actions)
    {
        QStringList labels;
        for (const HeaderAction &action : actions)
            labels.append(action.label);
        m_actions = actions;
        if (labels == m_labels)
            return;
        m_labels = labels;
        for (HeaderButton *button : std::as_const(m_buttons)) {
            // The button may be the one whose click got us here.
            button->hide();
            button->deleteLater();
        }
        m_buttons.clear();
        for (int i = 0; i < actions.size(); ++i) {
            auto *button = new HeaderButton(actions.at(i), m_tint, this);
            QObject::connect(button, &QAbstractButton::clicked, this, [this, i] {
                if (i >= m_actions.size() || !m_actions.at(i).run)
                    return;
                // Run a copy: the action can change the controller so that the headers are
                // refreshed, which replaces m_actions (and the function) while it runs.
                const std::function<void()> run = m_actions.at(i).run;
                run();
            });
            button->show();
            m_buttons.append(button);
        }
        relayout();
    }

    QSize sizeHint() const override { return { widthNeeded(Form::full), heightNeeded() }; }
    QSize minimumSizeHint() const override { return { 0, heightNeeded() }; }

protected:
    void resizeEvent(QResizeEvent *) override { relayout(); }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF dot(kSide, (height() - 9) / 2.0, 9, 9);
        painter.setPen(Qt::NoPen);
        painter.setBrush(tintGradient(dot, m_tint));
        painter.drawEllipse(dot);
        if (m_count->isVisibleTo(this)) {
            const QRectF capsule = QRectF(m_count->geometry()).adjusted(0.5, 0.5, -0.5, -0.5);
            painter.setBrush(Theme::quaternaryFill());
            painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
        }
    }

private:
    enum class Form { full, withoutCount, compact };
    static constexpr int kSide = 16;
    static constexpr int kSpacing = 8;

    int heightNeeded() const
    {
        int content = std::max({ m_title->sizeHint().height(), m_subtitle->sizeHint().height(),
                                 countSize().height(), 22 });
        return 12 + content + 12;
    }

    QSize countSize() const
    {
        const QFontMetrics metrics(m_count->font());
        return { metrics.horizontalAdvance(m_count->text()) + 16, metrics.height() + 6 };
    }

    bool subtitleShown() const { return m_subtitle->isVisibleTo(this); }
    // A little over the advance, so that a fitting subtitle is never elided by rounding.
    int subtitleFullWidth() const { return m_subtitle->sizeHint().width() + 2; }

    // The subtitle's share: its whole text, or when it may truncate just enough to read.
    int subtitleWidth(Form form) const
    {
        const int full = subtitleFullWidth();
        if (m_subtitleIsPriority || form == Form::compact)
            return full;
        return std::min(full, 60);
    }

    int widthNeeded(Form form) const
    {
        int width = kSide + 9;
        if (form != Form::compact)
            width += kSpacing + m_title->sizeHint().width();
        if (subtitleShown())
            width += kSpacing + subtitleWidth(form);
        width += kSpacing + 4 + kSpacing; // around the flexible space
        for (const HeaderButton *button : m_buttons)
            width += button->sizeFor(form == Form::compact).width() + kSpacing;
        if (form == Form::full)
            width += countSize().width() + kSpacing;
        return width - kSpacing + kSide;
    }

    void relayout()
    {
        Form form = Form::compact;
        for (Form candidate : { Form::full, Form::withoutCount }) {
            if (widthNeeded(candidate) <= width()) {
                form = candidate;
                break;
            }
        }
        const int mid = height() / 2;
        const auto place = [mid](QWidget *widget, int x, QSize size) {
            widget->setGeometry(x, mid - size.height() / 2, size.width(), size.height());
        };

        // Right to left: count, buttons; then left to right: title, subtitle.
        int right = width() - kSide;
        m_count->setVisible(form == Form::full);
        if (form == Form::full) {
            const QSize size = countSize();
            right -= size.width();
            place(m_count, right, size);
            right -= kSpacing;
        }
        for (auto it = m_buttons.crbegin(); it != m_buttons.crend(); ++it) {
            (*it)->setSymbolOnly(form == Form::compact);
            const QSize size = (*it)->sizeHint();
            right -= size.width();
            place(*it, right, size);
            right -= kSpacing;
        }
        right -= 4 + kSpacing; // the flexible space keeps at least 4

        int left = kSide + 9 + kSpacing;
        m_title->setVisible(form != Form::compact);
        if (form != Form::compact) {
            const QSize size = m_title->sizeHint();
            place(m_title, left, size);
            left += size.width() + kSpacing;
        }
        if (subtitleShown()) {
            const QSize hint = m_subtitle->sizeHint();
            place(m_subtitle, left,
                  { std::max(0, std::min(subtitleFullWidth(), right - left)), hint.height() });
        }
        updateGeometry();
        update();
    }

    QColor m_tint;
    bool m_subtitleIsPriority;
    QLabel *m_title = nullptr;
    ElidedLabel *m_subtitle = nullptr;
    QLabel *m_count = nullptr;
    QList<HeaderButton *> m_buttons;
    QStringList m_labels;
    QList<HeaderAction> m_actions;
};

// The 1-point line under a pane's header.
class Divider final : public QWidget
{
public:
    explicit Divider(QWidget *parent)
        : QWidget(parent)
    {
        setFixedHeight(1);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        // The theme's separator is already a light one; used as it is it reads as a hairline.
        QPainter(this).fillRect(rect(), Theme::separator());
    }
};

} // namespace

// A titled, scrolling card of rows over one side of the router.
class Pane final : public QWidget
{
public:
    Pane(RouterController &controller, PortKind kind, const QString &title, QColor tint,
         bool subtitleIsPriority, PortListView::Handlers handlers, QWidget *parent)
        : QWidget(parent)
        , m_model(new PortRowsModel(controller, kind, this))
    {
        auto *column = new QVBoxLayout(this);
        column->setContentsMargins(1, 1, 1, 1);
        column->setSpacing(0);
        m_header = new PaneHeader(title, tint, subtitleIsPriority, this);
        column->addWidget(m_header);
        column->addWidget(new Divider(this));
        m_list = new PortListView(m_model, tint, std::move(handlers), this);
        m_list->setObjectName(kind == PortKind::source ? QStringLiteral("sources")
                                                       : QStringLiteral("destinations"));
        column->addWidget(m_list, 1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

    PortRowsModel &model() { return *m_model; }
    PaneHeader &header() { return *m_header; }
    void setClearance(int clearance) { m_list->setBottomClearance(clearance); }
    void appear() { m_list->appear(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath shape;
        shape.addRoundedRect(card, 18, 18);
        painter.fillPath(shape, Theme::withAlpha(Theme::controlBackground(), 0.72));
        painter.setPen(QPen(Theme::separator(), 1));
        painter.drawPath(shape);
    }

private:
    PortRowsModel *m_model;
    PaneHeader *m_header = nullptr;
    PortListView *m_list = nullptr;
};

namespace {

std::optional<int> inRange(const std::optional<int> &index, qsizetype count)
{
    return index && *index >= 0 && *index < count ? index : std::nullopt;
}

QString sourceSubtitle(const RouterController &controller)
{
    const RouterState &state = controller.state();
    if (controller.routingDirection() == RoutingDirection::sourceLed) {
        if (const auto source = inRange(controller.selectedSource(), state.sources.size()))
            return QStringLiteral("Sending ") + state.sources.at(*source).label;
        return QStringLiteral("Select a source");
    }
    const QList<int> targets = controller.xyTargets();
    if (targets.size() > 1)
        return QStringLiteral("\u2192 %1 destinations").arg(targets.size());
    if (targets.size() == 1) {
        if (const auto target = inRange(targets.first(), state.destinations.size()))
            return QStringLiteral("\u2192 ") + state.destinations.at(*target).label;
    }
    return QStringLiteral("Select a destination");
}

std::optional<QString> destinationSubtitle(const RouterController &controller)
{
    const RouterState &state = controller.state();
    if (controller.routingDirection() == RoutingDirection::destinationLed) {
        const qsizetype ganged = controller.selectedDestinations().size();
        if (ganged >= 2)
            return QStringLiteral("%1 selected").arg(ganged);
        return std::nullopt;
    }
    const auto source = inRange(controller.selectedSource(), state.sources.size());
    if (!source)
        return QStringLiteral("Pick a source first");
    int fed = 0;
    for (const Port &port : controller.visibleDestinations()) {
        if (state.source(port.index, controller.primaryLevel()) == *source)
            ++fed;
    }
    return QStringLiteral("%1 fed").arg(fed);
}

QList<HeaderAction> destinationHeaderActions(RouterController &controller)
{
    const HeaderAction done { QStringLiteral("Done"), QStringLiteral("checkmark"), [&controller] {
                                 controller._setMultiSelectMode(false);
                             } };
    if (controller.routingDirection() == RoutingDirection::destinationLed) {
        if (!controller.multiSelectMode()) {
            return { { QStringLiteral("Multiple"), QStringLiteral("checklist"), [&controller] {
                          controller.setTakeMode(TakeMode::confirm);
                          controller.setMultiSelectMode(true);
                      } } };
        }
        if (!controller.allGanged()) {
            return { { QStringLiteral("Select All"), QStringLiteral("checkmark.square.fill"),
                       [&controller] {
                           controller.selectAllInGang();
                       } },
                     done };
        }
        return { { QStringLiteral("Deselect All"), QStringLiteral("square.dashed"),
                   [&controller] {
                       controller.deselectAllInGang();
                   } },
                 done };
    }
    if (!controller.allDestinationsStaged()) {
        return { { QStringLiteral("Select All"), QStringLiteral("checkmark.square.fill"),
                   [&controller] {
                       controller.selectAllDestinations();
                   } } };
    }
    return { { QStringLiteral("Deselect All"), QStringLiteral("square.dashed"), [&controller] {
                  controller.clearPending();
              } } };
}

void popUpMenu(QWidget *owner, QPoint globalPos,
               const QList<std::tuple<QString, QString, std::function<void()>>> &items)
{
    auto *menu = new QMenu(owner);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const auto &[title, symbol, run] : items) {
        QAction *action = menu->addAction(Symbols::icon(symbol), title);
        QObject::connect(action, &QAction::triggered, menu, run);
    }
    menu->popup(globalPos);
}

} // namespace

} // namespace DestinationList

using namespace DestinationList;

DestinationListView::DestinationListView(RouterController &controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_clearance(GlassKit::defaultControlBarClearance)
{
    setObjectName(QStringLiteral("DestinationListView"));
    const auto sourceLed = [this] {
        return m_controller.routingDirection() == RoutingDirection::sourceLed;
    };

    PortListView::Handlers sourceHandlers;
    sourceHandlers.tap = [this, sourceLed](int index) {
        if (sourceLed())
            m_controller.focusSource(index);
        else
            m_controller.chooseSource(index);
    };
    sourceHandlers.doubleTap = [this](int index) {
        m_controller.beginRename(PortKind::source, index);
    };
    PortListView::Handlers destinationHandlers;
    destinationHandlers.tap = [this, sourceLed](int index) {
        if (sourceLed())
            m_controller.assignDestination(index);
        else
            m_controller.focusDestination(index);
    };
    destinationHandlers.doubleTap = [this](int index) {
        m_controller.beginRename(PortKind::destination, index);
    };
    destinationHandlers.badgeTap = [this](int index) {
        m_controller.toggleDestinationInGang(index);
    };

    sourceHandlers.contextMenu = [this](QWidget *owner, int index, QPoint at) {
        popUpMenu(
            owner, at,
            { { QStringLiteral("Rename Source\u2026"), QStringLiteral("pencil"), [this, index] {
                   m_controller.beginRename(PortKind::source, index);
               } } });
    };
    destinationHandlers.contextMenu = [this](QWidget *owner, int index, QPoint at) {
        const bool locked = m_controller.state().isLocked(index);
        const auto rename = [this, index] {
            m_controller.beginRename(PortKind::destination, index);
        };
        const auto lock = [this, index] {
            m_controller.toggleLock(index);
        };
        popUpMenu(
            owner, at,
            { { QStringLiteral("Rename Destination\u2026"), QStringLiteral("pencil"), rename },
              { locked ? QStringLiteral("Unlock") : QStringLiteral("Lock"),
                locked ? QStringLiteral("lock.open") : QStringLiteral("lock"), lock } });
    };

    m_sources = new Pane(controller, PortKind::source, QStringLiteral("Sources"), Theme::green(),
                         false, sourceHandlers, this);
    m_sources->setObjectName(QStringLiteral("sourcePane"));
    m_destinations = new Pane(controller, PortKind::destination, QStringLiteral("Destinations"),
                              Theme::orange(), true, destinationHandlers, this);
    m_destinations->setObjectName(QStringLiteral("destinationPane"));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 16, 16, 8);
    row->setSpacing(14);
    row->addWidget(m_sources, 1);
    row->addWidget(m_destinations, 1);

    setControlBarClearance(m_clearance);
    bind();
    refreshHeaders();
}

DestinationListView::~DestinationListView() = default;

void DestinationListView::bind()
{
    RouterController *c = &m_controller;
    PortRowsModel &sources = m_sources->model();
    PortRowsModel &destinations = m_destinations->model();

    connect(c, &RouterController::visiblePortsChanged, this, [this, &sources, &destinations] {
        sources.portsChanged();
        destinations.portsChanged();
        refreshHeaders();
    });
    connect(c, &RouterController::activePanelIDChanged, this, [this] {
        m_sources->appear();
        m_destinations->appear();
    });
    // Destination details and the subtitles show source and destination labels.
    connect(c, &RouterController::portLabelsChanged, this, [this, &destinations] {
        destinations.refreshAll();
        refreshHeaders();
    });
    connect(c, &RouterController::inputStatusChanged, this,
            [&sources](int input) { sources.refreshPort(input); });
    // A route touches its destination's row, and the source rows only when it is the route
    // of the selected destination (whose source is marked).
    connect(c, &RouterController::routeChanged, this,
            [this, &sources, &destinations](int level, int destination) {
                if (level != m_controller.primaryLevel())
                    return;
                destinations.refreshPort(destination);
                if (m_controller.selectedDestination() == destination)
                    sources.refreshAll();
                if (m_controller.routingDirection() == RoutingDirection::sourceLed)
                    m_headersStale = true;
            });
    connect(c, &RouterController::lockChanged, this, [this, &destinations](int destination) {
        destinations.refreshPort(destination);
        m_headersStale = true;
    });
    connect(c, &RouterController::stateChanged, this, [this] {
        if (std::exchange(m_headersStale, false))
            refreshHeaders();
    });

    const auto everything = [this, &sources, &destinations] {
        sources.refreshAll();
        destinations.refreshAll();
        refreshHeaders();
    };
    for (const auto signal :
         { &RouterController::routingDirectionChanged, &RouterController::takeModeChanged,
           &RouterController::primaryLevelChanged, &RouterController::selectedSourceChanged,
           &RouterController::selectedDestinationChanged,
           &RouterController::selectedDestinationsChanged, &RouterController::pendingSourceChanged,
           &RouterController::pendingDestinationChanged,
           &RouterController::pendingDestinationsChanged,
           &RouterController::multiSelectModeChanged }) {
        connect(c, signal, this, everything);
    }
}

void DestinationListView::refreshHeaders()
{
    PaneHeader &sources = m_sources->header();
    sources.setSubtitle(sourceSubtitle(m_controller));
    sources.setCount(int(m_controller.visibleSources().size()));
    PaneHeader &destinations = m_destinations->header();
    destinations.setSubtitle(destinationSubtitle(m_controller));
    destinations.setCount(int(m_controller.visibleDestinations().size()));
    destinations.setActions(destinationHeaderActions(m_controller));
}

void DestinationListView::setControlBarClearance(int clearance)
{
    m_clearance = std::max(0, clearance);
    m_sources->setClearance(m_clearance);
    m_destinations->setClearance(m_clearance);
}
