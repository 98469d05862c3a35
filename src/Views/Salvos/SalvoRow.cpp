#include "Views/Salvos/SalvoRow.h"

#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"
#include "Theme/Controls.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"
#include "Views/Salvos/PillButton.h"
#include "Views/Salvos/SalvoViews.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

using Theme::TextStyle;
using namespace SalvoViews;

namespace {

// The texts of the labels shown in `widget`, depth first, as a screen reader reads them; a
// part named for the ear (a count beside a symbol) is read by that name.
QStringList shownTexts(const QWidget *widget)
{
    if (!widget->accessibleName().isEmpty())
        return { widget->accessibleName() };
    QStringList texts;
    if (auto *label = qobject_cast<const QLabel *>(widget); label && !label->text().isEmpty())
        texts.append(Text::spoken(label->text()));
    else if (auto *elided = qobject_cast<const ElidedLabel *>(widget);
             elided && !elided->text().isEmpty())
        texts.append(spokenName(elided->text()));
    for (const QObject *child : widget->children()) {
        if (auto *w = qobject_cast<const QWidget *>(child); w && !w->isHidden())
            texts.append(shownTexts(w));
    }
    return texts;
}

// The row as one element: its labels read together, the actions of its buttons and header.
class SalvoRowAccessible final : public QAccessibleWidget
{
public:
    static constexpr const char *fire = "Fire";
    static constexpr const char *preview = "Preview Changes";
    static constexpr const char *collapse = "Collapse";

    explicit SalvoRowAccessible(SalvoRow *row)
        : QAccessibleWidget(row, QAccessible::ListItem)
    { }

    SalvoRow *row() const { return static_cast<SalvoRow *>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            return row()->spokenSummary();
        case QAccessible::Description:
            return row()->spokenPreview();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = row()->isExpanded();
        state.collapsed = !row()->isExpanded();
        return state;
    }

    // The children are read as part of the row, not one by one.
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    QStringList actionNames() const override
    {
        return QStringList { QString::fromLatin1(fire),
                             QString::fromLatin1(row()->isExpanded() ? collapse : preview) }
        + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &name) override
    {
        if (name == QLatin1String(fire))
            emit row()->fireRequested();
        else if (name == QLatin1String(preview) || name == QLatin1String(collapse))
            emit row()->toggleRequested();
        else
            QAccessibleWidget::doAction(name);
    }
};

QAccessibleInterface *salvoRowAccessible(const QString &key, QObject *object)
{
    if (key == QLatin1String("SalvoRow") && object && object->isWidgetType())
        return new SalvoRowAccessible(static_cast<SalvoRow *>(object));
    return nullptr;
}

} // namespace

SalvoRow::SalvoRow(RouterController &controller, const Salvo &salvo, bool expanded, QWidget *parent)
    : QFrame(parent)
    , m_controller(controller)
    , m_salvo(salvo)
    , m_expanded(expanded)
    , m_clock(new QTimer(this))
{
    static const bool accessible = [] {
        QAccessible::installFactory(salvoRowAccessible);
        return true;
    }();
    Q_UNUSED(accessible);
    setObjectName(QStringLiteral("salvoRow"));
    setFocusPolicy(Qt::StrongFocus);
    setContextMenuPolicy(Qt::CustomContextMenu);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(12, 8, 12, 8);
    column->setSpacing(0); // the preview keeps its 6-point gap itself, so it grows in smoothly

    m_header = new QWidget;
    m_header->setObjectName(QStringLiteral("salvoRowHeader"));
    m_header->setCursor(Qt::PointingHandCursor);
    auto *line = new QHBoxLayout(m_header);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(12);
    m_icon = new QLabel;
    m_icon->setFixedWidth(26);
    m_icon->setAlignment(Qt::AlignCenter);
    line->addWidget(m_icon);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_name = new ElidedLabel(salvo.name);
    m_name->setFont(Theme::font(TextStyle::body, QFont::Medium));
    m_name->setObjectName(QStringLiteral("salvoName"));
    texts->addWidget(m_name);
    auto *status = new QWidget;
    status->setObjectName(QStringLiteral("statusLine"));
    m_status = new QHBoxLayout(status);
    m_status->setContentsMargins(0, 0, 0, 0);
    m_status->setSpacing(6);
    texts->addWidget(status);
    line->addLayout(texts, 1);
    line->addSpacing(12);

    auto *update = new PillButton(PillButton::Look::bordered, true);
    update->setObjectName(QStringLiteral("updateButton"));
    update->setSymbol(QStringLiteral("camera.viewfinder"));
    update->setTint(indigo());
    update->setAccessibleName(QStringLiteral("Update ") + spokenName(salvo.name)
                              + QStringLiteral(" from current routing"));
    connect(update, &QPushButton::clicked, this, &SalvoRow::updateRequested);
    m_update = update;
    line->addWidget(update);

    auto *fire = new PillButton(PillButton::Look::prominent, false);
    fire->setObjectName(QStringLiteral("fireButton"));
    fire->setLabel(QStringLiteral("Fire"));
    fire->setTint(controller.connection().tint());
    fire->setAccessibleName(QStringLiteral("Fire ") + spokenName(salvo.name));
    connect(fire, &QPushButton::clicked, this, &SalvoRow::fireRequested);
    m_fire = fire;
    line->addWidget(fire);
    column->addWidget(m_header);

    m_preview = new QWidget;
    m_preview->setObjectName(QStringLiteral("changePreview"));
    auto *preview = new QVBoxLayout(m_preview);
    preview->setContentsMargins(38, 6, 0, 0);
    preview->setSpacing(4);
    m_reveal = new Motion::RevealBox(m_preview, this);
    column->addWidget(m_reveal);

    m_clock->setInterval(60 * 1000);
    connect(m_clock, &QTimer::timeout, this, &SalvoRow::refresh);
    // A burst of routing changes (a salvo fired, a router's first picture) redraws once.
    const auto later = [this] {
        if (std::exchange(m_refreshQueued, true))
            return;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_refreshQueued = false;
                refresh();
            },
            Qt::QueuedConnection);
    };
    m_followRouting = connect(&controller, &RouterController::stateChanged, this, later);
    connect(&controller, &RouterController::statusChanged, this, later);
    connect(&controller, &RouterController::panelsChanged, this, later);
    refresh();
    m_reveal->setRevealed(m_expanded, false);
}

void SalvoRow::setSalvo(const Salvo &salvo)
{
    if (salvo == m_salvo)
        return;
    m_salvo = salvo;
    m_name->setText(salvo.name);
    m_update->setAccessibleName(QStringLiteral("Update ") + spokenName(salvo.name)
                                + QStringLiteral(" from current routing"));
    m_fire->setAccessibleName(QStringLiteral("Fire ") + spokenName(salvo.name));
    refresh();
    if (isVisible() && m_salvo.savedAt)
        m_clock->start();
}

void SalvoRow::setExpanded(bool expanded, bool animated)
{
    if (m_expanded == expanded)
        return;
    m_expanded = expanded;
    refresh(); // a closing preview keeps its lines until it is gone
    m_reveal->setRevealed(expanded, animated);
}

bool SalvoRow::onHeaderLine(QPoint pos) const
{
    if (!m_header->geometry().contains(pos))
        return false;
    // A button, even a disabled one whose clicks fall through to the row, is not the line.
    for (const QWidget *w = childAt(pos); w && w != this; w = w->parentWidget()) {
        if (qobject_cast<const QAbstractButton *>(w))
            return false;
    }
    return true;
}

void SalvoRow::mousePressEvent(QMouseEvent *event)
{
    // A press on a button never reaches here while the button is enabled; a release off a
    // pressed button does, so only a press seen here can begin a toggle.
    m_pressedOnLine
        = event->button() == Qt::LeftButton && onHeaderLine(event->position().toPoint());
    QFrame::mousePressEvent(event);
}

void SalvoRow::mouseReleaseEvent(QMouseEvent *event)
{
    // The whole header line toggles, except its buttons, which take their own clicks.
    if (event->button() == Qt::LeftButton && std::exchange(m_pressedOnLine, false)
        && onHeaderLine(event->position().toPoint())) {
        emit toggleRequested();
        event->accept();
        return;
    }
    QFrame::mouseReleaseEvent(event);
}

QString SalvoRow::spokenSummary() const
{
    QStringList parts { spokenName(m_salvo.name) };
    parts += shownTexts(m_header->findChild<QWidget *>(QStringLiteral("statusLine")));
    return parts.join(QStringLiteral(", "));
}

QString SalvoRow::spokenPreview() const
{
    return m_expanded ? shownTexts(m_preview).join(QStringLiteral(", ")) : QString();
}

void SalvoRow::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
            emit toggleRequested();
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QFrame::keyPressEvent(event);
}

void SalvoRow::focusInEvent(QFocusEvent *event)
{
    // The ring is for keyboard users, not for a click on the row.
    m_keyboardFocus = event->reason() == Qt::TabFocusReason
        || event->reason() == Qt::BacktabFocusReason || event->reason() == Qt::ShortcutFocusReason;
    QFrame::focusInEvent(event);
    update();
}

void SalvoRow::focusOutEvent(QFocusEvent *event)
{
    m_keyboardFocus = false;
    QFrame::focusOutEvent(event);
    update();
}

void SalvoRow::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    if (!hasFocus() || !m_keyboardFocus)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Theme::withAlpha(Theme::accent(), 0.7), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(2, 2, -2, -2), 6, 6);
}

void SalvoRow::showEvent(QShowEvent *event)
{
    QFrame::showEvent(event);
    if (m_salvo.savedAt) {
        refresh(); // the wording may have aged while hidden
        m_clock->start();
    }
}

void SalvoRow::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    m_clock->stop();
}

void SalvoRow::refresh()
{
    const RouterController::SalvoDiff diff = m_controller.diff(m_salvo);
    const bool active = SalvoViews::isActive(diff);

    const int iconSize = qRound(Theme::pointSize(TextStyle::title3) * 1.35);
    const QColor iconColor = active ? Theme::green() : m_controller.connection().tint();
    m_icon->setPixmap(Symbols::pixmap(active ? QStringLiteral("checkmark.circle.fill")
                                             : QStringLiteral("rectangle.stack.badge.play"),
                                      iconSize, iconColor, devicePixelRatioF()));
    m_icon->setProperty("symbol", active ? "checkmark.circle.fill" : "rectangle.stack.badge.play");

    m_update->setEnabled(!active);
    m_update->setToolTip(active ? QStringLiteral("Already matches the current routing")
                                : QStringLiteral("Update from current routing"));
    m_fire->setEnabled(SalvoViews::canFire(m_controller, diff));

    rebuildStatus(diff, active);
    rebuildPreview(diff, active);
}

void SalvoRow::rebuildStatus(const RouterController::SalvoDiff &diff, bool active)
{
    clearLayout(m_status);
    const QFont caption = Theme::font(TextStyle::caption);
    const QColor secondary = Theme::secondaryLabel();

    QWidget *state = nullptr;
    bool showLock = false;
    if (!m_controller.status().isConnected()) {
        state = textLabel(SalvoViews::counted(m_salvo.routes.size(), QStringLiteral("route")),
                          caption, secondary);
    } else if (active) {
        state = symbolText(QStringLiteral("checkmark"),
                           QStringLiteral("Active \u2014 matches current routing"), caption,
                           Theme::green());
    } else if (diff.changes.isEmpty() && diff.lockedDiffering > 0) {
        state
            = textLabel(QStringLiteral("Differs only on locked destinations"), caption, secondary);
        showLock = true;
    } else {
        state = textLabel(SalvoViews::counted(diff.changes.size(), QStringLiteral("change")),
                          caption, secondary);
        showLock = true;
    }
    state->setObjectName(QStringLiteral("statusState"));
    m_status->addWidget(state);

    if (showLock && !diff.lockedRoutes.isEmpty()) {
        const qsizetype locks = SalvoViews::lockedDestinations(diff).size();
        QWidget *lock = symbolText(QStringLiteral("lock.fill"), QString::number(locks), caption,
                                   Theme::orange());
        lock->setObjectName(QStringLiteral("statusLocks"));
        lock->setAccessibleName(SalvoViews::counted(locks, QStringLiteral("locked destination")));
        m_status->addWidget(lock);
    }
    if (m_salvo.savedAt) {
        const QString when = SalvoViews::relativeTime(ReferenceDate::toDateTime(*m_salvo.savedAt),
                                                      QDateTime::currentDateTimeUtc());
        QLabel *saved
            = textLabel(QStringLiteral("\u00B7 ") + when, caption, Theme::tertiaryLabel());
        saved->setObjectName(QStringLiteral("statusSaved"));
        saved->setAccessibleName(when); // the dot only parts it from the status for the eye
        m_status->addWidget(saved);
    }
    m_status->addStretch();
}

QWidget *SalvoRow::changeLine(const Route &route)
{
    // The caption size in the fixed-pitch family, so the columns of ports line up.
    const QFont caption = Theme::font(TextStyle::caption);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(QFontInfo(caption).pixelSize());

    auto *box = new QWidget;
    box->setObjectName(QStringLiteral("changeLine"));
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    const RouterState &state = m_controller.state();
    if (state.levels.size() >= 2)
        row->addWidget(
            textLabel(m_controller.levelName(route.level), mono, Theme::tertiaryLabel()));
    row->addWidget(
        textLabel(m_controller.destinationLabel(route.destination), mono, Theme::orange()));
    const int arrow = QFontMetrics(mono).ascent();
    row->addWidget(symbolLabel(QStringLiteral("arrow.left"), arrow, Theme::secondaryLabel()));
    row->addWidget(textLabel(m_controller.sourceLabel(route.source), mono, Theme::green()));
    if (const auto live = state.source(route.destination, route.level)) {
        row->addWidget(textLabel(QStringLiteral("was ") + m_controller.sourceLabel(*live), mono,
                                 Theme::tertiaryLabel()));
    }
    row->addStretch();
    return box;
}

void SalvoRow::rebuildPreview(const RouterController::SalvoDiff &diff, bool active)
{
    QLayout *lines = m_preview->layout();
    clearLayout(lines);
    if (!m_expanded && !m_reveal->isMoving() && !m_reveal->isVisible())
        return;

    constexpr int shownChanges = 12;
    const QFont caption = Theme::font(TextStyle::caption);
    const QColor secondary = Theme::secondaryLabel();
    lines->addWidget(hairline());
    if (active) {
        lines->addWidget(
            textLabel(QStringLiteral("Routing already matches this salvo."), caption, secondary));
    } else {
        for (int i = 0; i < std::min<qsizetype>(shownChanges, diff.changes.size()); ++i)
            lines->addWidget(changeLine(diff.changes.at(i)));
        if (diff.changes.size() > shownChanges) {
            lines->addWidget(
                textLabel(QStringLiteral("+%1 more").arg(diff.changes.size() - shownChanges),
                          caption, secondary));
        }
    }
    for (int destination : SalvoViews::lockedDestinations(diff)) {
        lines->addWidget(symbolText(QStringLiteral("lock.fill"),
                                    m_controller.destinationLabel(destination)
                                        + QStringLiteral(" \u2014 locked, will skip"),
                                    caption, Theme::orange()));
    }
    if (!diff.outOfRange.isEmpty()) {
        lines->addWidget(
            textLabel(SalvoViews::counted(diff.outOfRange.size(), QStringLiteral("route"))
                          + QStringLiteral(" won't fit this router and will be ignored."),
                      caption, secondary));
    }
    if (diff.alreadyMatching >= 1 && !active) {
        lines->addWidget(textLabel(QStringLiteral("%1 already match").arg(diff.alreadyMatching),
                                   caption, secondary));
    }
    if (const auto panel = panelWithId(m_controller, m_salvo.panelID)) {
        const QSet<int> onPanel(panel->destinationIndices.cbegin(),
                                panel->destinationIndices.cend());
        QSet<int> gone;
        for (const Route &route : m_salvo.routes) {
            if (!onPanel.contains(route.destination))
                gone.insert(route.destination);
        }
        if (!gone.isEmpty()) {
            lines->addWidget(
                textLabel(SalvoViews::counted(gone.size(), QStringLiteral("destination"))
                              + QStringLiteral(" no longer on this panel \u2014 "
                                               "still fires."),
                          caption, Theme::orange()));
        }
    }
}
