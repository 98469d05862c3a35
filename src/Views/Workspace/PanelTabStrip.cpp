#include "Views/Workspace/PanelTabStrip.h"

#include "Controllers/RouterController.h"
#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"
#include "Theme/Controls.h"
#include "Theme/Motion.h"
#include "Theme/PaintedText.h"
#include "Theme/Theme.h"
#include "Views/Panels/PanelSheetKit.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVariantAnimation>
#include <QWheelEvent>

#include <cmath>

namespace {

constexpr int tabVerticalPadding = 3;
constexpr int underlineHeight = 2;

// One tab: its label in the callout font, strong and underlined in the router colour while
// active. Checked mirrors the controller's active panel; a click never toggles it by itself.
class PanelTab final : public QAbstractButton
{
public:
    PanelTab(std::optional<SubPanel> panel, const QString &label, QColor tint, QWidget *parent)
        : QAbstractButton(parent)
        , m_panel(std::move(panel))
        , m_tint(tint)
        , m_fade(new Motion::SpringAnimation(Motion::standardSpring, this))
    {
        setText(shownName(label));
        setCheckable(true);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        setAttribute(Qt::WA_Hover);
        // The underline fades on the selection spring; the label's colour follows it.
        connect(m_fade, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
            m_underline = std::clamp(value.toReal(), 0.0, 1.0);
            update();
        });
    }

    std::optional<QUuid> panelID() const
    {
        return m_panel ? std::optional<QUuid>(m_panel->id) : std::nullopt;
    }
    const std::optional<SubPanel> &panel() const { return m_panel; }

    void setActive(bool active, bool animated)
    {
        if (active != isChecked()) {
            setChecked(active);
            updateGeometry(); // the label's weight, and so its width, changes
            if (QAccessible::isActive()) {
                QAccessible::State selection;
                selection.selected = true;
                QAccessibleStateChangeEvent event(this, selection);
                QAccessible::updateAccessibility(&event);
            }
        }
        const qreal target = active ? 1.0 : 0.0;
        m_fade->stop();
        if (!animated || !isVisible()) {
            m_underline = target;
            update();
            return;
        }
        m_fade->setStartValue(m_underline);
        m_fade->setEndValue(target);
        m_fade->start();
    }

    QSize sizeHint() const override
    {
        // At the width of its label in the weight it shows, so the gaps between tabs are even;
        // within maximumWidth(), the room the strip gives it, past which the label is cut.
        return { std::min(labelWidth(isChecked()) + 1, maximumWidth()),
                 QFontMetrics(labelFont(isChecked())).height() + 2 * tabVerticalPadding };
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void nextCheckState() override { }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const bool active = isChecked();
        const QFont font = labelFont(active);
        const QFontMetrics metrics(font);
        const int textWidth = std::min(labelWidth(active), width());
        const int left = (width() - textWidth) / 2;

        QColor color = Motion::blend(Theme::secondaryLabel(), Theme::label(), m_underline);
        if (!active && underMouse())
            color = Theme::withAlpha(Theme::label(), 0.8);
        painter.setFont(font);
        painter.setPen(color);
        PaintedText::draw(painter,
                          QRectF(left, tabVerticalPadding, width() - left, metrics.height()),
                          Qt::AlignLeft | Qt::AlignTop, text());

        if (m_underline > 0) {
            const QRectF bar(left, height() - underlineHeight, textWidth, underlineHeight);
            QPainterPath capsule;
            capsule.addRoundedRect(bar, underlineHeight / 2.0, underlineHeight / 2.0);
            painter.fillPath(capsule, Theme::withAlpha(m_tint, m_tint.alphaF() * m_underline));
        }
        if (hasFocus() && m_keyboardFocus) {
            painter.setPen(QPen(Theme::withAlpha(m_tint, 0.6), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(rect()).adjusted(-0.5, 0.5, 0.5, -0.5), 4, 4);
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
    static QFont labelFont(bool strong)
    {
        return Theme::font(Theme::TextStyle::callout, strong ? QFont::DemiBold : QFont::Normal);
    }
    int labelWidth(bool strong) const
    {
        // Rounded up: a width a fraction short of the text would cut its last letter.
        return int(std::ceil(QFontMetricsF(labelFont(strong)).horizontalAdvance(text())));
    }

    std::optional<SubPanel> m_panel;
    QColor m_tint;
    QVariantAnimation *m_fade;
    qreal m_underline = 0;
    bool m_keyboardFocus = false;
};

// The one-point divider between "All" and the panels.
class Divider final : public QWidget
{
public:
    explicit Divider(QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(1, 14);
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), Theme::separator()); }
};

PanelTab *asTab(QAbstractButton *button)
{
    return static_cast<PanelTab *>(button);
}

// What a screen reader meets: the strip is a page-tab list whose children are its tabs in
// the order shown, then "New panel", whatever holds them on screen (the scrolling part); each
// tab is a page tab, selected while active. A tab is not a check box, though it keeps its
// active state as the button's checked one.
class StripElement final : public QAccessibleWidget
{
public:
    explicit StripElement(PanelTabStrip *strip)
        : QAccessibleWidget(strip, QAccessible::PageTabList)
    { }

    int childCount() const override { return int(members().size()); }
    QAccessibleInterface *child(int index) const override
    {
        const QList<QWidget *> list = members();
        return index >= 0 && index < list.size()
            ? QAccessible::queryAccessibleInterface(list[index])
            : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const QList<QWidget *> list = members();
        for (qsizetype i = 0; child && i < list.size(); ++i) {
            if (list.at(i) == child->object())
                return int(i);
        }
        return -1;
    }

private:
    QList<QWidget *> members() const
    {
        const auto *strip = static_cast<const PanelTabStrip *>(widget());
        QList<QWidget *> list;
        for (QAbstractButton *tab : strip->tabs())
            list.append(tab);
        list.append(strip->newButton());
        return list;
    }
};

class MemberElement final : public QAccessibleWidget
{
public:
    MemberElement(QAbstractButton *button, QAccessible::Role role)
        : QAccessibleWidget(button, role)
    { }

    QAccessibleInterface *parent() const override
    {
        for (QWidget *w = widget()->parentWidget(); w; w = w->parentWidget()) {
            if (auto *strip = qobject_cast<PanelTabStrip *>(w))
                return QAccessible::queryAccessibleInterface(strip);
        }
        return QAccessibleWidget::parent();
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        if (role() == QAccessible::PageTab) {
            state.selectable = true;
            state.selected = button()->isChecked();
        }
        return state;
    }
    QStringList actionNames() const override
    {
        if (role() == QAccessible::PageTab && asTab(button())->panel())
            return { pressAction(), showMenuAction() };
        return { pressAction() };
    }
    void doAction(const QString &name) override
    {
        if (!button()->isEnabled())
            return;
        if (name == pressAction())
            button()->click();
        else if (name == showMenuAction() && actionNames().contains(name))
            emit button()->customContextMenuRequested(button()->rect().center());
    }

private:
    QAbstractButton *button() const { return static_cast<QAbstractButton *>(widget()); }
};

QAccessibleInterface *stripAccessible(const QString &, QObject *object)
{
    if (auto *strip = qobject_cast<PanelTabStrip *>(object))
        return new StripElement(strip);
    if (auto *tab = dynamic_cast<PanelTab *>(object))
        return new MemberElement(tab, QAccessible::PageTab);
    if (auto *button = qobject_cast<QToolButton *>(object);
        button && button->objectName() == QLatin1String("newPanelButton"))
        return new MemberElement(button, QAccessible::Button);
    return nullptr;
}

} // namespace

namespace {

constexpr int captionSymbolSize = 9;
constexpr int captionSpacing = 4;

QFont captionFont()
{
    QFont font = Theme::font(Theme::TextStyle::caption, QFont::Bold);
    font.setPixelSize(9);
    return font;
}

QString captionText()
{
    return PanelTabStrip::tr("PANELS");
}

} // namespace

PanelTabStrip::PanelTabStrip(RouterController &controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
{
    static const bool readable = [] {
        QAccessible::installFactory(stripAccessible);
        return true;
    }();
    Q_UNUSED(readable);
    setAccessibleName(tr("Panels"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 0, 16, 0);
    row->setSpacing(10);

    // "PANELS" with its symbol: a caption for the eye only, so painted into a gap of the row
    // rather than shown by widgets that a screen reader would read.
    const QSize caption(captionSymbolSize + captionSpacing
                            + QFontMetrics(captionFont()).horizontalAdvance(captionText()) + 1,
                        QFontMetrics(captionFont()).height());
    // A spacer gets no layout spacing of its own: the gap to "All" is part of it.
    m_caption = new QSpacerItem(caption.width() + row->spacing(), caption.height(),
                                QSizePolicy::Fixed, QSizePolicy::Fixed);
    row->addItem(m_caption);

    const QColor tint = controller.connection().tint();
    m_allTab = new PanelTab(std::nullopt, tr("All"), tint, this);
    m_allTab->setAccessibleName(tr("Full Router, all ports"));
    connect(m_allTab, &QAbstractButton::clicked, this,
            [this] { m_controller.setActivePanelID(std::nullopt); });
    row->addWidget(m_allTab, 0, Qt::AlignVCenter);
    row->addWidget(new Divider(this), 0, Qt::AlignVCenter);

    m_scroll = new QScrollArea(this);
    m_scroll->setFocusPolicy(Qt::NoFocus); // the tabs take the focus, not their track
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidgetResizable(true);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_scroll->viewport()->installEventFilter(this);
    m_scroll->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto *content = new QWidget(m_scroll);
    m_tabRow = new QHBoxLayout(content);
    m_tabRow->setContentsMargins(0, 4, 0, 4);
    m_tabRow->setSpacing(12);

    m_newButton = new QToolButton(content);
    m_newButton->setObjectName(QStringLiteral("newPanelButton"));
    m_newButton->setAutoRaise(true);
    m_newButton->setIcon(Symbols::icon(QStringLiteral("plus"), Theme::secondaryLabel()));
    const int plusSize = int(Theme::pointSize(Theme::TextStyle::caption));
    m_newButton->setIconSize(QSize(plusSize, plusSize));
    m_newButton->setAccessibleName(tr("New panel"));
    m_newButton->setToolTip(tr("New panel"));
    connect(m_newButton, &QToolButton::clicked, this, &PanelTabStrip::newRequested);
    m_tabRow->addWidget(m_newButton, 0, Qt::AlignVCenter);
    m_tabRow->addStretch(1);
    m_scroll->setWidget(content);
    content->setAutoFillBackground(false); // setWidget() turns it on; the strip is see-through
    row->addWidget(m_scroll, 1);

    m_scrolling = new Motion::SpringAnimation(Motion::standardSpring, this);
    connect(m_scrolling, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_scroll->horizontalScrollBar()->setValue(value.toInt());
    });

    connect(&controller, &RouterController::panelsChanged, this, &PanelTabStrip::rebuildTabs);
    connect(&controller, &RouterController::activePanelIDChanged, this, [this] {
        showActive();
        if (m_controller.activePanelID())
            scrollToActive(true);
    });
    rebuildTabs();
}

QString PanelTabStrip::helpText(const SubPanel &panel)
{
    return Text::format(tr("%1 in \u00d7 %2 out"), panel.sourceIndices.size(),
                        panel.destinationIndices.size());
}

QAbstractButton *PanelTabStrip::tab(const std::optional<QUuid> &panelID) const
{
    if (!panelID)
        return m_allTab;
    for (QAbstractButton *button : m_panelTabs)
        if (asTab(button)->panelID() == panelID)
            return button;
    return nullptr;
}

QList<QAbstractButton *> PanelTabStrip::tabs() const
{
    return QList<QAbstractButton *> { m_allTab } + m_panelTabs;
}

QAbstractButton *PanelTabStrip::newButton() const
{
    return m_newButton;
}

QMenu *PanelTabStrip::contextMenu(const SubPanel &panel, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->addAction(Symbols::icon(QStringLiteral("pencil")), tr("Edit Panel\u2026"), this,
                    [this, panel] { emit editRequested(panel); });
    menu->addAction(Symbols::icon(QStringLiteral("plus.square.on.square")), tr("Duplicate"), this,
                    [this, panel] {
                        PanelSheet::tellNotSaved(m_controller.duplicatePanel(panel), panel.name,
                                                 QStringLiteral("duplicated"), window());
                    });
    menu->addSeparator();
    menu->addAction(Symbols::icon(QStringLiteral("trash"), Theme::red()), tr("Delete\u2026"), this,
                    [this, panel] { emit deleteRequested(panel); });
    return menu;
}

void PanelTabStrip::rebuildTabs()
{
    // A tab's own click or menu can change the panels: the old tabs go once control returns
    // to the event loop, not while one of them is still handling its event.
    for (QAbstractButton *old : std::as_const(m_panelTabs)) {
        m_tabRow->removeWidget(old);
        old->hide();
        old->deleteLater();
    }
    m_panelTabs.clear();
    const QColor tint = m_controller.connection().tint();
    QWidget *content = m_scroll->widget();
    int position = 0;
    for (const SubPanel &panel : m_controller.panels()) {
        auto *tab = new PanelTab(panel, panel.name, tint, content);
        tab->setAccessibleName(spokenName(panel.name));
        tab->setAccessibleDescription(tr("Shows only this panel's ports"));
        tab->setToolTip(helpText(panel)); // digits and fixed words only: safe as tool tip
        tab->setContextMenuPolicy(Qt::CustomContextMenu);
        const QUuid id = panel.id;
        connect(tab, &QAbstractButton::clicked, this,
                [this, id] { m_controller.setActivePanelID(id); });
        // The menu belongs to the strip, which outlives the tabs its items may rebuild.
        connect(tab, &QWidget::customContextMenuRequested, this,
                [this, tab, panel](const QPoint &position) {
                    QMenu *menu = contextMenu(panel, this);
                    menu->setAttribute(Qt::WA_DeleteOnClose);
                    menu->popup(tab->mapToGlobal(position));
                });
        m_tabRow->insertWidget(position++, tab, 0, Qt::AlignVCenter);
        m_panelTabs.append(tab);
    }
    boundTabs();
    content->adjustSize();
    m_scroll->setFixedHeight(content->sizeHint().height());
    showActive();
}

void PanelTabStrip::boundTabs()
{
    // However long its name, a tab is never wider than the visible part of the scrolling row
    // less "+", so an absurd name still leaves room to see where it ends. The bound follows
    // the viewport's width only, which the tabs' widths never change: no layout asks for
    // another.
    const int room = std::max(
        m_scroll->viewport()->width() - m_newButton->sizeHint().width() - m_tabRow->spacing(), 1);
    for (QAbstractButton *tab : std::as_const(m_panelTabs)) {
        if (tab->maximumWidth() != room)
            tab->setMaximumWidth(room);
    }
}

void PanelTabStrip::showActive()
{
    const std::optional<QUuid> active = m_controller.activePanelID();
    asTab(m_allTab)->setActive(!active, true);
    for (QAbstractButton *button : m_panelTabs) {
        auto *tab = asTab(button);
        tab->setActive(active && tab->panelID() == active, true);
    }
}

void PanelTabStrip::scrollToActive(bool animated)
{
    // Wait for the layout, so a tab added a moment ago has its place.
    QTimer::singleShot(0, this, [this, animated] {
        QAbstractButton *button = tab(m_controller.activePanelID());
        if (!button || button == m_allTab)
            return;
        QScrollBar *bar = m_scroll->horizontalScrollBar();
        const int centre = button->geometry().center().x();
        const int target = std::clamp(centre - m_scroll->viewport()->width() / 2, bar->minimum(),
                                      bar->maximum());
        m_scrolling->stop();
        if (!animated || !isVisible() || target == bar->value()) {
            bar->setValue(target);
            return;
        }
        m_scrolling->setStartValue(bar->value());
        m_scrolling->setEndValue(target);
        m_scrolling->start();
    });
}

void PanelTabStrip::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect gap = m_caption->geometry();
    const QFont font = captionFont();
    const int textHeight = QFontMetrics(font).height();
    const int top = gap.top() + (gap.height() - textHeight) / 2;
    painter.drawPixmap(gap.left(), gap.top() + (gap.height() - captionSymbolSize) / 2,
                       Symbols::pixmap(QStringLiteral("rectangle.grid.1x2"), captionSymbolSize,
                                       Theme::secondaryLabel(), devicePixelRatioF()));
    painter.setFont(font);
    painter.setPen(Theme::secondaryLabel());
    const int textLeft = gap.left() + captionSymbolSize + captionSpacing;
    PaintedText::draw(painter, QRectF(textLeft, top, gap.right() + 1 - textLeft, textHeight),
                      Qt::AlignLeft | Qt::AlignVCenter, captionText());
}

void PanelTabStrip::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_controller.activePanelID())
        scrollToActive(false);
}

bool PanelTabStrip::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_scroll->viewport() && event->type() == QEvent::Resize)
        boundTabs();
    // A plain mouse wheel scrolls the tabs sideways; there is nothing to scroll vertically.
    if (watched == m_scroll->viewport() && event->type() == QEvent::Wheel) {
        auto *wheel = static_cast<QWheelEvent *>(event);
        const QPoint delta
            = wheel->pixelDelta().isNull() ? wheel->angleDelta() / 4 : wheel->pixelDelta();
        const int step = std::abs(delta.x()) > std::abs(delta.y()) ? delta.x() : delta.y();
        QScrollBar *bar = m_scroll->horizontalScrollBar();
        m_scrolling->stop();
        bar->setValue(bar->value() - step);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
