#include "Views/Salvos/SalvoSheet.h"

#include "Platform/Gui/Symbols.h"
#include "Theme/Controls.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

using Theme::TextStyle;

namespace {

quint64 crosspointKey(int level, int destination)
{
    return (quint64(quint32(level)) << 32) | quint32(destination);
}

const QString openQuote = QStringLiteral("\u201C");
const QString closeQuote = QStringLiteral("\u201D");

QString quoted(const QString &name)
{
    return openQuote + name + closeQuote;
}

QColor indigo()
{
    return QColor(0x58, 0x56, 0xd6);
}

QString trimmed(const QString &text)
{
    // QString::trimmed() drops white space and line breaks at both ends.
    return text.trimmed();
}

std::optional<SubPanel> panelWithId(const RouterController &controller,
                                    const std::optional<QUuid> &id)
{
    if (!id)
        return std::nullopt;
    for (const SubPanel &panel : controller.panels()) {
        if (panel.id == *id)
            return panel;
    }
    return std::nullopt;
}

void colorize(QWidget *widget, const QColor &color)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::WindowText, color);
    pal.setColor(QPalette::Text, color);
    widget->setPalette(pal);
}

QLabel *textLabel(const QString &text, const QFont &font, const QColor &color = {})
{
    QLabel *label = plainLabel(text);
    label->setFont(font);
    if (color.isValid())
        colorize(label, color);
    return label;
}

QLabel *wrappedLabel(const QString &text, const QFont &font, const QColor &color = {})
{
    QLabel *label = textLabel(text, font, color);
    label->setWordWrap(true);
    return label;
}

QLabel *symbolLabel(const QString &symbol, int size, const QColor &color)
{
    auto *label = new QLabel;
    label->setPixmap(Symbols::pixmap(symbol, size, color, label->devicePixelRatioF()));
    label->setFixedSize(size, size);
    return label;
}

// A symbol followed by a text, both in one colour: "lock.fill 2", "checkmark Active".
QWidget *symbolText(const QString &symbol, const QString &text, const QFont &font,
                    const QColor &color)
{
    auto *box = new QWidget;
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(3);
    const int size = QFontMetrics(font).ascent();
    row->addWidget(symbolLabel(symbol, size, color), 0, Qt::AlignVCenter);
    row->addWidget(textLabel(text, font, color), 0, Qt::AlignVCenter);
    return box;
}

// A button drawn in the system's capsule and circle shapes: "prominent" is filled with the
// tint, "bordered" a light wash of it with the tint as text colour.
class PillButton final : public QPushButton
{
public:
    enum class Look { prominent, bordered };
    enum class Size { small, regular };

    PillButton(Look look, bool circular, Size size = Size::small, QWidget *parent = nullptr)
        : QPushButton(parent)
        , m_look(look)
        , m_circular(circular)
        , m_height(size == Size::small ? 22 : 28)
    {
        setCursor(Qt::PointingHandCursor);
        setAttribute(Qt::WA_Hover);
        setFont(Theme::font(TextStyle::callout, QFont::Medium));
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        setAutoDefault(false);
    }

    void setTint(const QColor &tint)
    {
        m_tint = tint;
        update();
    }
    void setLook(Look look)
    {
        m_look = look;
        update();
    }
    void setSymbol(const QString &symbol)
    {
        m_symbol = symbol;
        updateGeometry();
        update();
    }
    // Drawn literally; the button's own text (for accessibility and menus) is escaped.
    void setLabel(const QString &label)
    {
        m_label = shownName(label);
        setText(escapedMnemonic(label));
        updateGeometry();
        update();
    }
    QString label() const { return m_label; }

    QSize sizeHint() const override
    {
        if (m_circular)
            return { m_height + 2, m_height + 2 };
        int width = 2 * padding() + labelWidth();
        if (!m_symbol.isEmpty())
            width += iconSize() + (m_label.isEmpty() ? 0 : 5);
        return { width, m_height };
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled())
            painter.setOpacity(0.42);
        const QColor tint = m_tint.isValid() ? m_tint : Theme::accent();
        QColor fill = m_look == Look::prominent ? tint : Theme::withAlpha(tint, 0.16);
        if (isDown())
            fill = m_look == Look::prominent ? tint.darker(118) : Theme::withAlpha(tint, 0.3);
        else if (underMouse() && isEnabled())
            fill = m_look == Look::prominent ? tint.lighter(108) : Theme::withAlpha(tint, 0.22);
        const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath shape;
        const qreal radius = box.height() / 2;
        shape.addRoundedRect(box, radius, radius);
        painter.fillPath(shape, fill);
        if (hasFocus() && focusPolicy() != Qt::NoFocus) {
            painter.setPen(QPen(Theme::withAlpha(Theme::accent(), 0.6), 1.5));
            painter.drawPath(shape);
        }

        const QColor ink = m_look == Look::prominent ? QColor(Qt::white) : tint.darker(112);
        const int icon = iconSize();
        const int textWidth = labelWidth();
        const int content = (m_symbol.isEmpty() ? 0 : icon) + textWidth
            + (!m_symbol.isEmpty() && !m_label.isEmpty() ? 5 : 0);
        int x = (width() - content) / 2;
        if (!m_symbol.isEmpty()) {
            const QPixmap pixmap
                = Symbols::pixmap(m_symbol, icon, ink, painter.device()->devicePixelRatioF());
            painter.drawPixmap(QRect(x, (height() - icon) / 2, icon, icon), pixmap);
            x += icon + 5;
        }
        if (!m_label.isEmpty()) {
            painter.setPen(ink);
            painter.setFont(font());
            painter.drawText(QRect(x, 0, textWidth + 1, height()),
                             Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                             fontMetrics().elidedText(m_label, Qt::ElideRight, textWidth));
        }
    }

private:
    // A salvo's name can be of any length; past this width it ends in "…".
    static constexpr int maximumLabelWidth = 320;

    int padding() const { return m_height == 22 ? 10 : 14; }
    int labelWidth() const
    {
        return std::min(fontMetrics().horizontalAdvance(m_label), maximumLabelWidth);
    }
    int iconSize() const { return m_circular ? m_height - 9 : QFontMetrics(font()).ascent(); }

    Look m_look;
    bool m_circular;
    int m_height;
    QColor m_tint;
    QString m_symbol;
    QString m_label;
};

// A window-modal prompt for a name: heading, optional message, "Name" field, Cancel and Save.
class NamePrompt final : public QDialog
{
public:
    NamePrompt(const QString &title, const QString &message, const QString &name, QWidget *parent)
        : QDialog(parent)
    {
        setWindowTitle(title);
        setWindowModality(Qt::WindowModal);
        setAttribute(Qt::WA_DeleteOnClose);
        setFixedWidth(360);

        auto *column = new QVBoxLayout(this);
        column->setContentsMargins(20, 18, 20, 16);
        column->setSpacing(10);
        column->addWidget(textLabel(title, Theme::font(TextStyle::headline, QFont::DemiBold)));
        if (!message.isEmpty()) {
            QLabel *text = wrappedLabel(message, Theme::font(TextStyle::callout));
            text->setObjectName(QStringLiteral("promptMessage"));
            column->addWidget(text);
        }
        m_field = new QLineEdit(name);
        m_field->setObjectName(QStringLiteral("nameField"));
        m_field->setPlaceholderText(QStringLiteral("Name"));
        m_field->selectAll();
        column->addWidget(m_field);

        auto *buttons = new QHBoxLayout;
        buttons->setSpacing(8);
        buttons->addStretch();
        auto *cancel = new QPushButton(QStringLiteral("Cancel"));
        cancel->setObjectName(QStringLiteral("cancelButton"));
        cancel->setAutoDefault(false);
        cancel->setMinimumWidth(80);
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        buttons->addWidget(cancel);
        auto *save = new QPushButton(QStringLiteral("Save"));
        save->setObjectName(QStringLiteral("saveButton"));
        save->setDefault(true);
        save->setMinimumWidth(80);
        connect(save, &QPushButton::clicked, this, &QDialog::accept);
        buttons->addWidget(save);
        column->addLayout(buttons);
        m_field->setFocus();
    }

    QString text() const { return m_field->text(); }

private:
    QLineEdit *m_field = nullptr;
};

// setTextFormat covers only the main text; the informative text carries names too.
void setPlainMessage(QMessageBox *box, const QString &message)
{
    box->setInformativeText(message);
    for (QLabel *label : box->findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
    // Sentences read better on wider lines than the box picks by itself.
    if (auto *info = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        info->setMinimumWidth(320);
}

QMessageBox *alert(const QString &objectName, const QString &title, const QString &message,
                   QWidget *parent)
{
    auto *box = new QMessageBox(parent);
    box->setObjectName(objectName);
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText); // titles carry salvo names
    box->setText(title);
    setPlainMessage(box, message);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

// "Delete “name”?" or "Update “name”?" with its destructive button and Cancel. `act` runs
// only for the destructive button, and only while `context` lives.
QMessageBox *destructiveConfirmation(const QString &objectName, const QString &title,
                                     const QString &message, const QString &action, QWidget *parent,
                                     QObject *context, std::function<void()> act)
{
    QMessageBox *box = alert(objectName, title, message, parent);
    QPushButton *yes = box->addButton(action, QMessageBox::DestructiveRole);
    QPushButton *cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    QObject::connect(box, &QMessageBox::finished, context, [box, yes, act = std::move(act)] {
        if (box->clickedButton() == yes)
            act();
    });
    return box;
}

QString deleteTitle(const Salvo &salvo)
{
    return QStringLiteral("Delete ") + quoted(salvo.name) + QLatin1Char('?');
}

QString updateTitle(const Salvo &salvo)
{
    return QStringLiteral("Update ") + quoted(salvo.name) + QLatin1Char('?');
}

const QString deleteMessage = QStringLiteral("This salvo cannot be recovered.");
const QString updateMessage = QStringLiteral(
    "Replaces its saved snapshot with the current routing. The old snapshot cannot be "
    "recovered.");
const QString fullRouterNewMessage = QStringLiteral(
    "Captures every destination's current source on all levels. Saving with an existing name "
    "updates that salvo.");

// Opens `dialog` as the host's one open prompt. The host forgets it as soon as it closes
// (accepted and rejected come before finished), so closing handlers may open the next one.
void present(QObject *host, QPointer<QDialog> &slot, QDialog *dialog)
{
    slot = dialog;
    const auto forget = [&slot, dialog] {
        if (slot == dialog)
            slot.clear();
    };
    QObject::connect(dialog, &QDialog::accepted, host, forget);
    QObject::connect(dialog, &QDialog::rejected, host, forget);
    QObject::connect(dialog, &QDialog::finished, host, forget);
}

} // namespace

// --- Shared rules and texts ------------------------------------------------------------

namespace SalvoViews {

bool isActive(const RouterController::SalvoDiff &diff)
{
    return diff.changes.isEmpty() && diff.lockedDiffering == 0 && diff.alreadyMatching >= 1;
}

bool canFire(const RouterController &controller, const RouterController::SalvoDiff &diff)
{
    return controller.status().isConnected()
        && (!diff.changes.isEmpty() || diff.alreadyMatching >= 1);
}

QList<int> lockedDestinations(const RouterController::SalvoDiff &diff)
{
    QSet<int> unique;
    for (const Route &route : diff.lockedRoutes)
        unique.insert(route.destination);
    QList<int> sorted(unique.cbegin(), unique.cend());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

QString proposedName(const QList<Salvo> &visible)
{
    QSet<QString> taken;
    for (const Salvo &salvo : visible)
        taken.insert(salvo.name.toLower());
    qsizetype n = visible.size() + 1;
    while (taken.contains(QStringLiteral("salvo ") + QString::number(n)))
        ++n;
    return QStringLiteral("Salvo ") + QString::number(n);
}

void saveTypedName(RouterController &controller, const QString &typed,
                   const std::optional<QUuid> &scope)
{
    const QString name = trimmed(typed);
    if (name.isEmpty())
        return;
    for (const Salvo &salvo : controller.salvos()) {
        if (salvo.panelID == scope && salvo.name.compare(name, Qt::CaseInsensitive) == 0) {
            controller.saveSalvo(salvo.name, scope);
            return;
        }
    }
    controller.saveSalvo(name, scope);
}

QString counted(qsizetype count, const QString &noun)
{
    return QString::number(count) + QLatin1Char(' ') + noun
        + (count == 1 ? QString() : QStringLiteral("s"));
}

QString relativeTime(const QDateTime &then, const QDateTime &now)
{
    const qint64 delta = then.secsTo(now); // positive: in the past
    const qint64 seconds = qAbs(delta);
    const bool past = delta >= 0;
    if (seconds < 1)
        return QStringLiteral("now");

    struct Unit
    {
        qint64 length;
        const char *name;
        const char *lastNamed; // the one-unit phrase, when the language has one
        const char *nextNamed;
    };
    static const Unit units[] = {
        { 365 * 86400, "year", "last year", "next year" },
        { 30 * 86400, "month", "last month", "next month" },
        { 7 * 86400, "week", "last week", "next week" },
        { 86400, "day", "yesterday", "tomorrow" },
        { 3600, "hour", nullptr, nullptr },
        { 60, "minute", nullptr, nullptr },
        { 1, "second", nullptr, nullptr },
    };
    for (const Unit &unit : units) {
        const qint64 count = seconds / unit.length;
        if (count < 1)
            continue;
        if (count == 1 && unit.lastNamed)
            return QString::fromLatin1(past ? unit.lastNamed : unit.nextNamed);
        const QString amount = counted(count, QString::fromLatin1(unit.name));
        return past ? amount + QStringLiteral(" ago") : QStringLiteral("in ") + amount;
    }
    return QStringLiteral("now");
}

QString fireTitle(const Salvo &salvo)
{
    return QStringLiteral("Fire ") + quoted(salvo.name) + QLatin1Char('?');
}

std::optional<QString> fireButtonTitle(const RouterController::SalvoDiff &diff)
{
    if (!diff.changes.isEmpty())
        return QStringLiteral("Fire \u2014 ")
            + counted(diff.changes.size(), QStringLiteral("Change"));
    if (diff.alreadyMatching >= 1) {
        return QStringLiteral("Fire \u2014 Re-assert ")
            + counted(diff.alreadyMatching, QStringLiteral("Route"));
    }
    return std::nullopt;
}

QString fireMessage(const RouterController &controller, const Salvo &salvo)
{
    const RouterController::SalvoDiff diff = controller.diff(salvo);
    QStringList sentences;

    if (!diff.changes.isEmpty()) {
        QString sentence = QStringLiteral("Changes ")
            + counted(diff.changes.size(), QStringLiteral("crosspoint"));
        if (diff.alreadyMatching > 0)
            sentence += QStringLiteral(" (%1 already match)").arg(diff.alreadyMatching);
        sentences.append(sentence + QLatin1Char('.'));
    } else if (diff.alreadyMatching >= 1) {
        sentences.append(QStringLiteral("Routing already matches \u2014 firing re-asserts ")
                         + counted(diff.alreadyMatching, QStringLiteral("crosspoint"))
                         + QLatin1Char('.'));
    } else {
        sentences.append(
            QStringLiteral("Nothing to fire \u2014 no route in this salvo applies right now."));
    }

    const QList<int> locked = lockedDestinations(diff);
    if (!locked.isEmpty()) {
        QStringList names;
        for (int i = 0; i < std::min<qsizetype>(3, locked.size()); ++i)
            names.append(controller.destinationLabel(locked.at(i)));
        QString list = names.join(QStringLiteral(", "));
        if (locked.size() > 3)
            list += QStringLiteral(" +%1 more").arg(locked.size() - 3);
        sentences.append(QStringLiteral("Skipping ") + list + QStringLiteral(" (locked)."));
    }

    if (!diff.outOfRange.isEmpty()) {
        sentences.append(counted(diff.outOfRange.size(), QStringLiteral("out-of-range route"))
                         + QStringLiteral(" ignored."));
    }

    if (const auto own = panelWithId(controller, salvo.panelID)) {
        sentences.append(QStringLiteral("Changes only destinations captured from ")
                         + quoted(own->name) + QLatin1Char('.'));
    } else if (const auto active = controller.activePanel()) {
        sentences.append(QStringLiteral("Fires on the full router, including ports hidden by ")
                         + quoted(active->name) + QLatin1Char('.'));
    }
    return sentences.join(QLatin1Char(' '));
}

} // namespace SalvoViews

// --- Fire confirmation -----------------------------------------------------------------

SalvoFireConfirmation::SalvoFireConfirmation(RouterController &controller, const Salvo &salvo,
                                             QWidget *parent)
    : QMessageBox(parent)
    , m_controller(controller)
    , m_salvo(salvo)
    , m_alive(&controller)
{
    setObjectName(QStringLiteral("fireConfirmation"));
    setTextFormat(Qt::PlainText);
    setIconPixmap(Symbols::pixmap(QStringLiteral("rectangle.stack.badge.play"), 44,
                                  controller.connection().tint(), devicePixelRatioF()));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    m_fire = addButton(QStringLiteral("Fire"), QMessageBox::DestructiveRole);
    m_fire->setObjectName(QStringLiteral("fireButton"));
    QPushButton *cancel = addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    // Return must not fire a router by accident.
    setDefaultButton(cancel);
    setEscapeButton(cancel);

    connect(this, &QMessageBox::finished, this, [this] {
        const bool fire = clickedButton() == m_fire && m_alive;
        if (fire)
            m_controller.fireSalvo(m_salvo);
        emit concluded(fire);
    });
    // A controller that goes away takes the question with it, unanswered.
    connect(&controller, &QObject::destroyed, this, &QDialog::reject);
    // The counts and names follow the router while the question is up.
    connect(&controller, &RouterController::stateChanged, this, &SalvoFireConfirmation::refresh);
    connect(&controller, &RouterController::panelsChanged, this, &SalvoFireConfirmation::refresh);
    connect(&controller, &RouterController::activePanelIDChanged, this,
            &SalvoFireConfirmation::refresh);
    refresh();
}

void SalvoFireConfirmation::refresh()
{
    const QString title = SalvoViews::fireTitle(m_salvo);
    setWindowTitle(title);
    setText(title);
    setPlainMessage(this, SalvoViews::fireMessage(m_controller, m_salvo));
    const auto button = SalvoViews::fireButtonTitle(m_controller.diff(m_salvo));
    m_fire->setText(escapedMnemonic(button.value_or(QString())));
    m_fire->setVisible(button.has_value());
}

// --- Row -------------------------------------------------------------------------------

namespace {

// The texts of the labels shown in `widget`, depth first, as a screen reader reads them.
QStringList shownTexts(const QWidget *widget)
{
    QStringList texts;
    if (auto *label = qobject_cast<const QLabel *>(widget); label && !label->text().isEmpty())
        texts.append(label->text());
    else if (auto *elided = qobject_cast<const ElidedLabel *>(widget);
             elided && !elided->text().isEmpty())
        texts.append(shownName(elided->text()));
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
    auto *name = new ElidedLabel(salvo.name);
    name->setFont(Theme::font(TextStyle::body, QFont::Medium));
    name->setObjectName(QStringLiteral("salvoName"));
    texts->addWidget(name);
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
    update->setAccessibleName(QStringLiteral("Update ") + salvo.name
                              + QStringLiteral(" from current routing"));
    connect(update, &QPushButton::clicked, this, &SalvoRow::updateRequested);
    m_update = update;
    line->addWidget(update);

    auto *fire = new PillButton(PillButton::Look::prominent, false);
    fire->setObjectName(QStringLiteral("fireButton"));
    fire->setLabel(QStringLiteral("Fire"));
    fire->setTint(controller.connection().tint());
    fire->setAccessibleName(QStringLiteral("Fire ") + salvo.name);
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
    connect(&controller, &RouterController::stateChanged, this, later);
    connect(&controller, &RouterController::statusChanged, this, later);
    connect(&controller, &RouterController::panelsChanged, this, later);
    refresh();
    m_reveal->setRevealed(m_expanded, false);
}

void SalvoRow::setExpanded(bool expanded, bool animated)
{
    if (m_expanded == expanded)
        return;
    m_expanded = expanded;
    refresh(); // a closing preview keeps its lines until it is gone
    m_reveal->setRevealed(expanded, animated);
}

void SalvoRow::mouseReleaseEvent(QMouseEvent *event)
{
    // The whole header line toggles, except its buttons, which take their own clicks.
    if (event->button() == Qt::LeftButton
        && m_header->geometry().contains(event->position().toPoint())) {
        emit toggleRequested();
        event->accept();
        return;
    }
    QFrame::mouseReleaseEvent(event);
}

QString SalvoRow::spokenSummary() const
{
    QStringList parts { m_salvo.name };
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
        QWidget *lock = symbolText(QStringLiteral("lock.fill"),
                                   QString::number(SalvoViews::lockedDestinations(diff).size()),
                                   caption, Theme::orange());
        lock->setObjectName(QStringLiteral("statusLocks"));
        m_status->addWidget(lock);
    }
    if (m_salvo.savedAt) {
        const QString when = SalvoViews::relativeTime(ReferenceDate::toDateTime(*m_salvo.savedAt),
                                                      QDateTime::currentDateTimeUtc());
        QLabel *saved
            = textLabel(QStringLiteral("\u00B7 ") + when, caption, Theme::tertiaryLabel());
        saved->setObjectName(QStringLiteral("statusSaved"));
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

// --- Strip -----------------------------------------------------------------------------

SalvoStrip::SalvoStrip(RouterController &controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
{
    setObjectName(QStringLiteral("salvoStrip"));
    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);

    m_scroll = new QScrollArea;
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_scroll->viewport()->installEventFilter(this);
    outer->addWidget(m_scroll);

    auto *content = new QWidget;
    content->setAutoFillBackground(false);
    m_row = new QHBoxLayout(content);
    m_row->setContentsMargins(16, 2, 16, 2);
    m_row->setSpacing(8);

    m_emptyText = textLabel(QString(), Theme::font(TextStyle::caption), Theme::secondaryLabel());
    m_emptyText->setObjectName(QStringLiteral("noSalvosText"));
    m_row->addWidget(m_emptyText);

    auto *add = new PillButton(PillButton::Look::bordered, true);
    add->setObjectName(QStringLiteral("newSalvoButton"));
    add->setSymbol(QStringLiteral("plus"));
    add->setTint(Theme::secondaryLabel());
    connect(add, &QPushButton::clicked, this, &SalvoStrip::beginNew);
    m_new = add;
    m_row->addWidget(add);

    auto *manage = new PillButton(PillButton::Look::bordered, true);
    manage->setObjectName(QStringLiteral("manageSalvosButton"));
    manage->setSymbol(QStringLiteral("slider.horizontal.3"));
    manage->setTint(Theme::secondaryLabel());
    manage->setAccessibleName(QStringLiteral("Manage salvos"));
    manage->setToolTip(QStringLiteral("Manage salvos"));
    connect(manage, &QPushButton::clicked, this, &SalvoStrip::openManager);
    m_manage = manage;
    m_row->addWidget(manage);
    m_row->addStretch();
    m_scroll->setWidget(content);
    m_scroll->widget()->setAutoFillBackground(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    connect(&controller, &RouterController::salvosChanged, this, &SalvoStrip::rebuild);
    connect(&controller, &RouterController::panelsChanged, this, &SalvoStrip::rebuild);
    connect(&controller, &RouterController::activePanelIDChanged, this, &SalvoStrip::rebuild);
    // Routes and locks are noted as they come and the chips restyled once per change of
    // state, which the controller sends once per command or burst of router events.
    connect(&controller, &RouterController::routeChanged, this, [this](int level, int destination) {
        m_sawDetail = true;
        m_changedCrosspoints.insert(crosspointKey(level, destination));
    });
    connect(&controller, &RouterController::lockChanged, this, [this](int destination) {
        m_sawDetail = true;
        m_changedLocks.insert(destination);
    });
    connect(&controller, &RouterController::inputStatusChanged, this,
            [this] { m_sawDetail = true; });
    connect(&controller, &RouterController::portLabelsChanged, this,
            [this] { m_sawDetail = true; });
    connect(&controller, &RouterController::visiblePortsChanged, this,
            [this] { m_sawPortsChange = true; });
    connect(&controller, &RouterController::stateChanged, this, &SalvoStrip::stateChanged);
    connect(&controller, &RouterController::statusChanged, this, &SalvoStrip::restyle);
    rebuild();
}

QSize SalvoStrip::sizeHint() const
{
    const QMargins margins = contentsMargins();
    const QSize row = m_scroll->widget()->sizeHint();
    return { row.width() + margins.left() + margins.right(),
             row.height() + margins.top() + margins.bottom() };
}

bool SalvoStrip::eventFilter(QObject *watched, QEvent *event)
{
    // A vertical wheel scrolls the one-line strip sideways.
    if (watched == m_scroll->viewport() && event->type() == QEvent::Wheel) {
        const auto *wheel = static_cast<QWheelEvent *>(event);
        const QPoint delta = wheel->angleDelta();
        QScrollBar *bar = m_scroll->horizontalScrollBar();
        bar->setValue(bar->value() - (delta.x() != 0 ? delta.x() : delta.y()) / 2);
        return true;
    }
    if (event->type() == QEvent::ContextMenu) {
        if (auto *chip = qobject_cast<QPushButton *>(watched); chip && m_chips.contains(chip)) {
            const QUuid id = chip->property("salvoID").toUuid();
            for (const Salvo &salvo : m_controller.salvos()) {
                if (salvo.id == id)
                    chipMenu(salvo, static_cast<QContextMenuEvent *>(event)->globalPos());
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SalvoStrip::rebuild()
{
    for (QPushButton *chip : std::as_const(m_chips)) {
        m_row->removeWidget(chip);
        chip->hide();
        chip->deleteLater();
    }
    m_chips.clear();
    m_reach.clear();

    const QList<Salvo> salvos = m_controller.visibleSalvos();
    for (int i = 0; i < salvos.size(); ++i) {
        const Salvo salvo = salvos.at(i);
        ChipReach reach;
        reach.crosspoints.reserve(salvo.routes.size());
        for (const Route &route : salvo.routes) {
            reach.crosspoints.insert(crosspointKey(route.level, route.destination));
            reach.destinations.insert(route.destination);
        }
        m_reach.append(std::move(reach));
        auto *chip = new PillButton(PillButton::Look::bordered, false);
        chip->setObjectName(QStringLiteral("salvoChip"));
        chip->setLabel(salvo.name);
        chip->setProperty("salvoID", salvo.id);
        chip->setToolTip(QStringLiteral("Fire ") + quoted(shownName(salvo.name)));
        // A disabled button gets no context menu of its own; the filter opens it anyway.
        chip->installEventFilter(this);
        connect(chip, &QPushButton::clicked, this, [this, salvo] { fire(salvo); });
        m_row->insertWidget(i, chip);
        m_chips.append(chip);
    }

    const auto active = m_controller.activePanel();
    m_emptyText->setText(
        QStringLiteral("No salvos for ")
        + quoted(active ? elidedName(active->name, m_emptyText->font(), 240) : QString())
        + QStringLiteral(" yet"));
    m_emptyText->setVisible(salvos.isEmpty() && active);
    m_new->setAccessibleName(active ? QStringLiteral("New salvo in ") + shownName(active->name)
                                    : QStringLiteral("New salvo"));
    m_new->setToolTip(m_new->accessibleName());
    restyle();
}

void SalvoStrip::stateChanged()
{
    const QSet<quint64> crosspoints = std::exchange(m_changedCrosspoints, {});
    const QSet<int> locks = std::exchange(m_changedLocks, {});
    // A change without details (a new state, new ports) may touch any chip.
    const bool everything
        = std::exchange(m_sawPortsChange, false) || !std::exchange(m_sawDetail, false);
    if (everything) {
        restyle();
        return;
    }
    for (int i = 0; i < m_chips.size(); ++i) {
        const ChipReach &reach = m_reach.at(i);
        if (reach.crosspoints.intersects(crosspoints) || reach.destinations.intersects(locks))
            restyleChip(i);
    }
}

void SalvoStrip::restyle()
{
    for (int i = 0; i < m_chips.size(); ++i)
        restyleChip(i);
}

void SalvoStrip::restyleChip(int position)
{
    const QList<Salvo> &all = m_controller.salvos();
    auto *chip = static_cast<PillButton *>(m_chips.at(position));
    const QUuid id = chip->property("salvoID").toUuid();
    const auto it
        = std::find_if(all.cbegin(), all.cend(), [&id](const Salvo &s) { return s.id == id; });
    if (it == all.cend())
        return;
    const RouterController::SalvoDiff diff = m_controller.diff(*it);
    const bool active = SalvoViews::isActive(diff);
    chip->setSymbol(active ? QStringLiteral("checkmark") : QStringLiteral("play.fill"));
    chip->setLook(active ? PillButton::Look::prominent : PillButton::Look::bordered);
    chip->setTint(active ? Theme::green() : m_controller.connection().tint());
    chip->setProperty("active", active);
    chip->setEnabled(SalvoViews::canFire(m_controller, diff));
}

void SalvoStrip::fire(const Salvo &salvo)
{
    if (m_open)
        return;
    auto *confirmation = new SalvoFireConfirmation(m_controller, salvo, window());
    present(this, m_open, confirmation);
    confirmation->open();
}

void SalvoStrip::chipMenu(const Salvo &salvo, const QPoint &globalPos)
{
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("salvoChipMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(Symbols::icon(QStringLiteral("camera.viewfinder")),
                    QStringLiteral("Update from Current Routing\u2026"), this,
                    [this, salvo] { confirmUpdate(salvo); });
    menu->addSeparator();
    menu->addAction(Symbols::icon(QStringLiteral("trash"), Theme::red()),
                    QStringLiteral("Delete Salvo\u2026"), this,
                    [this, salvo] { confirmDelete(salvo); });
    menu->popup(globalPos);
}

void SalvoStrip::confirmDelete(const Salvo &salvo)
{
    if (m_open)
        return;
    QMessageBox *box = destructiveConfirmation(
        QStringLiteral("deleteConfirmation"), deleteTitle(salvo), deleteMessage,
        QStringLiteral("Delete"), window(), this,
        [controller = &m_controller, salvo] { controller->deleteSalvo(salvo); });
    present(this, m_open, box);
    box->open();
}

void SalvoStrip::confirmUpdate(const Salvo &salvo)
{
    if (m_open)
        return;
    QMessageBox *box = destructiveConfirmation(
        QStringLiteral("updateConfirmation"), updateTitle(salvo), updateMessage,
        QStringLiteral("Update"), window(), this,
        [controller = &m_controller, salvo] { controller->updateSalvo(salvo); });
    present(this, m_open, box);
    box->open();
}

void SalvoStrip::beginNew()
{
    if (m_open)
        return;
    const std::optional<QUuid> scope = m_controller.activePanelID();
    const QString name = SalvoViews::proposedName(m_controller.visibleSalvos());
    QString message = fullRouterNewMessage;
    if (const auto panel = panelWithId(m_controller, scope)) {
        message = QStringLiteral("Captures the current source for each of ") + quoted(panel->name)
            + QStringLiteral("'s destinations. Firing changes only those destinations. "
                             "Saving with a name already used on this panel updates that "
                             "salvo.");
    }
    auto *prompt = new NamePrompt(QStringLiteral("New Salvo"), message, name, window());
    prompt->setObjectName(QStringLiteral("newSalvoPrompt"));
    present(this, m_open, prompt);
    connect(prompt, &QDialog::accepted, this, [this, prompt, scope] {
        SalvoViews::saveTypedName(m_controller, prompt->text(), scope);
    });
    prompt->open();
}

// --- Manager sheet ---------------------------------------------------------------------

SalvoSheet::SalvoSheet(RouterController &controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
{
    setObjectName(QStringLiteral("salvoSheet"));
    setWindowTitle(QStringLiteral("Salvos"));
    setFixedSize(520, 560);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *top = new QHBoxLayout;
    top->setContentsMargins(20, 14, 16, 10);
    top->addWidget(
        textLabel(QStringLiteral("Salvos"), Theme::font(TextStyle::title3, QFont::DemiBold)));
    top->addStretch();
    auto *add = new QPushButton(Symbols::icon(QStringLiteral("plus")), QStringLiteral("New Salvo"));
    add->setObjectName(QStringLiteral("newSalvoToolbarButton"));
    add->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, &SalvoSheet::beginNew);
    top->addWidget(add);
    column->addLayout(top);
    column->addWidget(hairline());

    m_scroll = new QScrollArea;
    m_scroll->setObjectName(QStringLiteral("salvoList"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    column->addWidget(m_scroll, 1);

    column->addWidget(hairline());
    auto *bottom = new QHBoxLayout;
    bottom->setContentsMargins(20, 10, 20, 12);
    bottom->addStretch();
    auto *done = new QPushButton(QStringLiteral("Done"));
    done->setObjectName(QStringLiteral("doneButton"));
    done->setDefault(true);
    done->setMinimumWidth(84);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    bottom->addWidget(done);
    column->addLayout(bottom);

    connect(&controller, &RouterController::salvosChanged, this, &SalvoSheet::rebuild);
    connect(&controller, &RouterController::panelsChanged, this, &SalvoSheet::rebuild);
    connect(&controller, &RouterController::activePanelIDChanged, this, &SalvoSheet::rebuild);
    connect(&controller, &RouterController::statusChanged, this, &SalvoSheet::rebuild);
    rebuild();
}

bool SalvoSheet::eventFilter(QObject *watched, QEvent *event)
{
    // The list's delete command on a focused row only asks.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (auto *row = qobject_cast<SalvoRow *>(watched);
            row && (key == Qt::Key_Delete || key == Qt::Key_Backspace)) {
            confirmDelete(row->salvo());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SalvoSheet::rebuild()
{
    const int scrolled = m_scroll->verticalScrollBar()->value();
    if (QWidget *old = m_scroll->takeWidget()) {
        old->hide();
        old->setParent(nullptr);
        old->deleteLater();
    }

    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("salvoListContent"));
    auto *sections = new QVBoxLayout(content);
    sections->setContentsMargins(20, 14, 20, 16);
    sections->setSpacing(16);

    if (!m_controller.status().isConnected()) {
        auto *banner = new QFrame;
        banner->setObjectName(QStringLiteral("offlineBanner"));
        auto *line = new QHBoxLayout(banner);
        line->setContentsMargins(12, 8, 12, 8);
        line->addWidget(symbolText(QStringLiteral("bolt.slash.fill"),
                                   QStringLiteral("Offline \u2014 salvos can be edited but not "
                                                  "fired"),
                                   Theme::font(TextStyle::callout), Theme::orange()));
        line->addStretch();
        banner->setStyleSheet(
            QStringLiteral("QFrame#offlineBanner { background: %1; "
                           "border-radius: 8px; }")
                .arg(Theme::withAlpha(Theme::orange(), 0.1).name(QColor::HexArgb)));
        sections->addWidget(banner);
    }

    const auto active = m_controller.activePanel();
    const QList<Salvo> visible = m_controller.visibleSalvos();
    // A panel's name can be of any length: the header stays one line of the sheet.
    const QString scopeHeader = active
        ? elidedName(active->name, Theme::font(TextStyle::subheadline, QFont::DemiBold), 360)
            + QStringLiteral(" Salvos")
        : QStringLiteral("Full Router Salvos");
    if (visible.isEmpty() && active) {
        QWidget *scope = section(scopeHeader, {}, QString());
        scope->layout()->addWidget(emptyScope(shownName(active->name)));
        sections->addWidget(scope);
    } else {
        QString footer;
        if (!visible.isEmpty()) {
            footer = active ? QStringLiteral("Salvos here capture only this panel's destinations. "
                                             "Tap one to preview what firing it would change.")
                            : QStringLiteral("Tap a salvo to preview exactly what firing it "
                                             "would change.");
        }
        sections->addWidget(section(scopeHeader, visible, footer));
    }

    const QList<Salvo> fullRouter = m_controller.fullRouterSalvos();
    if (active && !fullRouter.isEmpty()) {
        sections->addWidget(section(QStringLiteral("Full Router"), fullRouter,
                                    QStringLiteral("These fire the whole router, not just this "
                                                   "panel.")));
    }

    if (!m_controller.salvos().isEmpty()) {
        auto *again = new QPushButton(
            Symbols::icon(QStringLiteral("plus.circle.fill"), m_controller.connection().tint()),
            QStringLiteral("New Salvo\u2026"));
        again->setObjectName(QStringLiteral("newSalvoRowButton"));
        again->setFlat(true);
        again->setAutoDefault(false);
        again->setCursor(Qt::PointingHandCursor);
        colorize(again, m_controller.connection().tint());
        QPalette pal = again->palette();
        pal.setColor(QPalette::ButtonText, m_controller.connection().tint());
        again->setPalette(pal);
        connect(again, &QPushButton::clicked, this, &SalvoSheet::beginNew);
        auto *row = new QHBoxLayout;
        row->addWidget(again);
        row->addStretch();
        sections->addLayout(row);
    }

    if (m_controller.salvos().isEmpty() && !active) {
        sections->addStretch(1);
        sections->addWidget(emptyState()); // it centres its own parts
        sections->addStretch(2);
    } else {
        sections->addStretch();
    }

    m_scroll->setWidget(content);
    m_scroll->verticalScrollBar()->setValue(scrolled);
}

QWidget *SalvoSheet::section(const QString &header, const QList<Salvo> &salvos,
                             const QString &footer)
{
    auto *box = new QWidget;
    box->setObjectName(QStringLiteral("salvoSection"));
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    QLabel *title = textLabel(header, Theme::font(TextStyle::subheadline, QFont::DemiBold),
                              Theme::secondaryLabel());
    title->setObjectName(QStringLiteral("sectionHeader"));
    column->addWidget(title);

    if (!salvos.isEmpty()) {
        auto *group = new QFrame;
        group->setObjectName(QStringLiteral("salvoGroup"));
        group->setStyleSheet(QStringLiteral("QFrame#salvoGroup { background: palette(base); "
                                            "border: 1px solid %1; border-radius: 8px; }")
                                 .arg(Theme::separator().name(QColor::HexArgb)));
        auto *rows = new QVBoxLayout(group);
        rows->setContentsMargins(1, 1, 1, 1);
        rows->setSpacing(0);
        for (int i = 0; i < salvos.size(); ++i) {
            const Salvo salvo = salvos.at(i);
            if (i > 0)
                rows->addWidget(hairline());
            auto *row = new SalvoRow(m_controller, salvo, m_expandedID == salvo.id);
            row->installEventFilter(this);
            connect(row, &SalvoRow::toggleRequested, this,
                    [this, salvo] { toggleExpansion(salvo); });
            connect(row, &SalvoRow::fireRequested, this, [this, salvo] { fire(salvo); });
            connect(row, &SalvoRow::updateRequested, this, [this, salvo] { confirmUpdate(salvo); });
            connect(row, &QWidget::customContextMenuRequested, this,
                    [this, row](const QPoint &pos) { rowMenu(row, row->mapToGlobal(pos)); });
            rows->addWidget(row);
        }
        column->addWidget(group);
    }
    if (!footer.isEmpty()) {
        QLabel *note
            = wrappedLabel(footer, Theme::font(TextStyle::caption), Theme::secondaryLabel());
        note->setObjectName(QStringLiteral("sectionFooter"));
        column->addWidget(note);
    }
    return box;
}

QWidget *SalvoSheet::emptyScope(const QString &panelName)
{
    auto *box = new QWidget;
    box->setObjectName(QStringLiteral("emptyScope"));
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 4, 0, 4);
    column->setSpacing(8);
    column->addWidget(
        textLabel(QStringLiteral("No salvos for ") + quoted(panelName) + QStringLiteral(" yet"),
                  Theme::font(TextStyle::callout), Theme::secondaryLabel()));
    auto *save = new PillButton(PillButton::Look::prominent, false, PillButton::Size::regular);
    save->setObjectName(QStringLiteral("saveCurrentRoutingButton"));
    save->setLabel(QStringLiteral("Save Current Routing"));
    save->setTint(m_controller.connection().tint());
    connect(save, &QPushButton::clicked, this, &SalvoSheet::beginNew);
    column->addWidget(save, 0, Qt::AlignLeft);
    return box;
}

QWidget *SalvoSheet::emptyState()
{
    auto *box = new QWidget;
    box->setObjectName(QStringLiteral("emptyState"));
    auto *column = new QVBoxLayout(box);
    column->setSpacing(8);
    column->addWidget(
        symbolLabel(QStringLiteral("rectangle.stack.badge.play"), 40, Theme::secondaryLabel()), 0,
        Qt::AlignHCenter);
    column->addWidget(
        textLabel(QStringLiteral("No Salvos"), Theme::font(TextStyle::title2, QFont::DemiBold)), 0,
        Qt::AlignHCenter);
    QLabel *description = wrappedLabel(
        QStringLiteral("Save the current routing as a snapshot you can fire anytime."),
        Theme::font(TextStyle::callout), Theme::secondaryLabel());
    column->addLayout(centredWrapped(description, 300));
    column->addSpacing(4);
    auto *save = new PillButton(PillButton::Look::prominent, false, PillButton::Size::regular);
    save->setObjectName(QStringLiteral("saveCurrentRoutingButton"));
    save->setLabel(QStringLiteral("Save Current Routing"));
    save->setTint(m_controller.connection().tint());
    connect(save, &QPushButton::clicked, this, &SalvoSheet::beginNew);
    column->addWidget(save, 0, Qt::AlignHCenter);
    return box;
}

void SalvoSheet::toggleExpansion(const Salvo &salvo)
{
    if (m_expandedID == salvo.id)
        m_expandedID.reset();
    else
        m_expandedID = salvo.id;
    for (SalvoRow *row : m_scroll->widget()->findChildren<SalvoRow *>())
        row->setExpanded(m_expandedID == row->salvo().id, true);
}

void SalvoSheet::rowMenu(SalvoRow *row, const QPoint &globalPos)
{
    const Salvo salvo = row->salvo();
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("salvoRowMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction *fireAction
        = menu->addAction(Symbols::icon(QStringLiteral("play.fill")), QStringLiteral("Fire\u2026"),
                          this, [this, salvo] { fire(salvo); });
    fireAction->setEnabled(m_controller.status().isConnected());
    menu->addAction(Symbols::icon(QStringLiteral("pencil")), QStringLiteral("Rename\u2026"), this,
                    [this, salvo] { beginRename(salvo); });
    menu->addAction(Symbols::icon(QStringLiteral("camera.viewfinder"), indigo()),
                    QStringLiteral("Update from Current Routing"), this,
                    [this, salvo] { confirmUpdate(salvo); });
    menu->addSeparator();
    menu->addAction(Symbols::icon(QStringLiteral("trash"), Theme::red()),
                    QStringLiteral("Delete\u2026"), this, [this, salvo] { confirmDelete(salvo); });
    menu->popup(globalPos);
}

QString SalvoSheet::newSalvoMessage() const
{
    const auto panel = panelWithId(m_controller, m_draftScope);
    if (!panel)
        return fullRouterNewMessage;
    QSet<int> present;
    for (const Port &port : m_controller.state().destinations)
        present.insert(port.index);
    qsizetype count = 0;
    for (int index : panel->destinationIndices)
        count += present.contains(index) ? 1 : 0;
    return QStringLiteral("Captures the current source for each of ") + quoted(panel->name)
        + QStringLiteral("'s %1 destinations, on all levels. Firing changes only those "
                         "destinations. Saving with a name already used on this panel "
                         "updates that salvo.")
              .arg(count);
}

void SalvoSheet::beginNew()
{
    if (m_open)
        return;
    m_draftScope = m_controller.activePanelID();
    const QString name = SalvoViews::proposedName(m_controller.visibleSalvos());
    auto *prompt = new NamePrompt(QStringLiteral("New Salvo"), newSalvoMessage(), name, this);
    prompt->setObjectName(QStringLiteral("newSalvoPrompt"));
    present(this, m_open, prompt);
    const std::optional<QUuid> scope = m_draftScope;
    connect(prompt, &QDialog::accepted, this, [this, prompt, scope] {
        SalvoViews::saveTypedName(m_controller, prompt->text(), scope);
    });
    prompt->open();
}

void SalvoSheet::beginRename(const Salvo &salvo)
{
    if (m_open)
        return;
    auto *prompt = new NamePrompt(QStringLiteral("Rename Salvo"), QString(), salvo.name, this);
    prompt->setObjectName(QStringLiteral("renamePrompt"));
    present(this, m_open, prompt);
    connect(prompt, &QDialog::accepted, this,
            [this, prompt, salvo] { commitRename(salvo, prompt->text()); });
    prompt->open();
}

void SalvoSheet::commitRename(const Salvo &salvo, const QString &draft)
{
    const QString name = trimmed(draft);
    if (name.isEmpty() || name == salvo.name)
        return;
    if (!m_controller.renameSalvo(salvo, name))
        showConflict(name);
}

void SalvoSheet::showConflict(const QString &name)
{
    if (m_open)
        return;
    QMessageBox *box = alert(
        QStringLiteral("renameConflict"), QStringLiteral("Name Already Used"),
        QStringLiteral("A salvo named ") + quoted(name) + QStringLiteral(" already exists."), this);
    QPushButton *ok = box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    present(this, m_open, box);
    box->open();
}

void SalvoSheet::fire(const Salvo &salvo)
{
    if (m_open)
        return;
    auto *confirmation = new SalvoFireConfirmation(m_controller, salvo, this);
    present(this, m_open, confirmation);
    connect(confirmation, &SalvoFireConfirmation::concluded, this, [this](bool fired) {
        if (fired)
            accept(); // a confirmed fire closes the manager
    });
    confirmation->open();
}

void SalvoSheet::confirmDelete(const Salvo &salvo)
{
    if (m_open)
        return;
    QMessageBox *box = destructiveConfirmation(
        QStringLiteral("deleteConfirmation"), deleteTitle(salvo), deleteMessage,
        QStringLiteral("Delete"), this, this,
        [controller = &m_controller, salvo] { controller->deleteSalvo(salvo); });
    present(this, m_open, box);
    box->open();
}

void SalvoSheet::confirmUpdate(const Salvo &salvo)
{
    if (m_open)
        return;
    QMessageBox *box = destructiveConfirmation(
        QStringLiteral("updateConfirmation"), updateTitle(salvo), updateMessage,
        QStringLiteral("Update"), this, this,
        [controller = &m_controller, salvo] { controller->updateSalvo(salvo); });
    present(this, m_open, box);
    box->open();
}
