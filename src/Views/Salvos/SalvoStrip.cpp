#include "Views/Salvos/SalvoStrip.h"

#include "Platform/Gui/Symbols.h"
#include "Theme/Alerts.h"
#include "Theme/Controls.h"
#include "Theme/Theme.h"
#include "Views/Salvos/NamePrompt.h"
#include "Views/Salvos/PillButton.h"
#include "Views/Salvos/SalvoFireConfirmation.h"
#include "Views/Salvos/SalvoViews.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>

#include <algorithm>
#include <utility>

using Theme::TextStyle;
using namespace SalvoViews;

SalvoStrip::SalvoStrip(RouterController &controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_tracker(controller)
{
    setObjectName(QStringLiteral("salvoStrip"));
    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);

    m_scroll = new QScrollArea;
    m_scroll->setFocusPolicy(Qt::NoFocus); // the chips take the focus, not their track
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
    connect(&m_tracker, &SalvoTracker::compared, this, [this](const QList<int> &changed, bool all) {
        if (all) {
            restyle();
            return;
        }
        for (const int position : changed)
            restyleChip(position);
    });
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

void SalvoStrip::boundChips()
{
    // However long its salvo's name, a chip is never wider than the visible strip less its two
    // buttons, so the chip and the buttons can be seen together. The bound follows the
    // viewport's width only, which the chips' widths never change: no layout asks for another.
    const QMargins margins = m_row->contentsMargins();
    const int room = m_scroll->viewport()->width() - margins.left() - margins.right()
        - m_new->sizeHint().width() - m_manage->sizeHint().width() - 2 * m_row->spacing();
    for (QPushButton *chip : std::as_const(m_chips)) {
        if (chip->maximumWidth() != std::max(room, 1))
            chip->setMaximumWidth(std::max(room, 1));
    }
}

bool SalvoStrip::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_scroll->viewport() && event->type() == QEvent::Resize)
        boundChips();
    // A vertical wheel scrolls the one-line strip sideways.
    if (watched == m_scroll->viewport() && event->type() == QEvent::Wheel) {
        const auto *wheel = static_cast<QWheelEvent *>(event);
        const QPoint delta = wheel->angleDelta();
        QScrollBar *bar = m_scroll->horizontalScrollBar();
        bar->setValue(bar->value() - (delta.x() != 0 ? delta.x() : delta.y()) / 2);
        return true;
    }
    if (event->type() == QEvent::ContextMenu) {
        const auto *chip = qobject_cast<QPushButton *>(watched);
        if (const qsizetype position = chip ? m_chips.indexOf(chip) : -1; position >= 0) {
            chipMenu(m_shown.at(position), static_cast<QContextMenuEvent *>(event)->globalPos());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SalvoStrip::rebuild()
{
    const QList<Salvo> salvos = m_controller.visibleSalvos();
    // Saving or deleting one salvo of thousands keeps every other chip. The store keeps its
    // order, so the chips that stay are in order: those of salvos gone are taken out and new
    // ones put in their place. Any other change (another scope) lays the row anew.
    QHash<QUuid, qsizetype> listed;
    listed.reserve(salvos.size());
    for (qsizetype i = 0; i < salvos.size(); ++i)
        listed.insert(salvos.at(i).id, i);
    qsizetype last = -1;
    bool inOrder = true;
    QList<qsizetype> stay; // the chips kept, by their place in m_chips
    for (qsizetype i = 0; i < m_shown.size(); ++i) {
        const qsizetype at = listed.value(m_shown.at(i).id, -1);
        if (at < 0) {
            m_row->removeWidget(m_chips.at(i));
            m_chips.at(i)->hide();
            m_chips.at(i)->deleteLater();
            continue;
        }
        inOrder = inOrder && at > last;
        last = at;
        stay.append(i);
    }
    if (!inOrder) {
        for (const qsizetype i : std::as_const(stay)) {
            m_row->removeWidget(m_chips.at(i));
            m_chips.at(i)->hide();
            m_chips.at(i)->deleteLater();
        }
        stay.clear();
    }
    QList<QPushButton *> chips;
    QList<qint8> looks;
    chips.reserve(salvos.size());
    looks.reserve(salvos.size());
    for (qsizetype i = 0, kept = 0; i < salvos.size(); ++i) {
        const Salvo &salvo = salvos.at(i);
        if (kept < stay.size() && m_shown.at(stay.at(kept)).id == salvo.id) {
            const qsizetype from = stay.at(kept++);
            chips.append(m_chips.at(from));
            looks.append(m_looks.at(from));
            if (m_shown.at(from).name != salvo.name)
                showSalvo(chips.last(), salvo); // renamed
            continue;
        }
        chips.append(makeChip(salvo));
        looks.append(-1);
        m_row->insertWidget(int(i), chips.last());
    }
    m_chips = std::move(chips);
    m_looks = std::move(looks);
    m_shown = salvos;
    m_tracker.setSalvos(salvos);

    const auto active = m_controller.activePanel();
    // Only while it is shown does the label say anything: a reader that reaches hidden texts
    // would hear "No salvos for “” yet" with no panel at all.
    const bool empty = salvos.isEmpty() && active;
    m_emptyText->setText(empty ? QStringLiteral("No salvos for ")
                                 + quoted(elidedName(active->name, m_emptyText->font(), 240))
                                 + QStringLiteral(" yet")
                               : QString());
    m_emptyText->setVisible(empty);
    m_new->setAccessibleName(active ? QStringLiteral("New salvo in ") + spokenName(active->name)
                                    : QStringLiteral("New salvo"));
    m_new->setToolTip(m_new->accessibleName());
    boundChips();
    restyle();
}

QPushButton *SalvoStrip::makeChip(const Salvo &salvo)
{
    auto *chip = new PillButton(PillButton::Look::bordered, false);
    chip->setObjectName(QStringLiteral("salvoChip"));
    showSalvo(chip, salvo);
    // A disabled button gets no context menu of its own; the filter opens it anyway.
    chip->installEventFilter(this);
    // The chip fires its salvo as it is stored when clicked, renamed or updated since.
    connect(chip, &QPushButton::clicked, this, [this, chip] {
        if (const qsizetype position = m_chips.indexOf(chip); position >= 0)
            fire(m_shown.at(position));
    });
    return chip;
}

void SalvoStrip::showSalvo(QPushButton *chip, const Salvo &salvo)
{
    static_cast<PillButton *>(chip)->setLabel(salvo.name);
    chip->setToolTip(QStringLiteral("Fire ") + quoted(salvo.name));
}

void SalvoStrip::restyle()
{
    for (int i = 0; i < m_chips.size(); ++i)
        restyleChip(i);
}

void SalvoStrip::restyleChip(int position)
{
    auto *chip = static_cast<PillButton *>(m_chips.at(position));
    const SalvoMatcher::Counts &counts = m_tracker.counts(position);
    const bool active = counts.active();
    chip->setEnabled(m_controller.status().isConnected() && counts.sendsRoutes());
    // A new symbol lays the row out again: only a chip whose look changed pays for it.
    if (std::exchange(m_looks[position], qint8(active)) == qint8(active))
        return;
    chip->setSymbol(active ? QStringLiteral("checkmark") : QStringLiteral("play.fill"));
    // The checkmark, for the ear; otherwise the chip's tip ("Fire …") describes it.
    chip->setAccessibleDescription(active ? QStringLiteral("Active \u2014 matches current routing")
                                          : QString());
    chip->setLook(active ? PillButton::Look::prominent : PillButton::Look::bordered);
    chip->setTint(active ? Theme::green() : m_controller.connection().tint());
    chip->setProperty("active", active);
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
    QMessageBox *box = Alerts::destructiveConfirmation(
        QStringLiteral("deleteConfirmation"), deleteTitle(salvo), deleteMessage,
        QStringLiteral("Delete"), window(), this, [this, salvo] {
            tellOutcome(this, m_open, window(), m_controller.deleteSalvo(salvo), salvo.name,
                        QStringLiteral("deleted"));
        });
    present(this, m_open, box);
    box->open();
}

void SalvoStrip::confirmUpdate(const Salvo &salvo)
{
    if (m_open)
        return;
    QMessageBox *box = Alerts::destructiveConfirmation(
        QStringLiteral("updateConfirmation"), updateTitle(salvo), updateMessage,
        QStringLiteral("Update"), window(), this, [this, salvo] {
            tellOutcome(this, m_open, window(), m_controller.updateSalvo(salvo), salvo.name,
                        QStringLiteral("updated"));
        });
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
        QString name;
        const StoreOutcome outcome
            = SalvoViews::saveTypedName(m_controller, prompt->text(), scope, &name);
        tellOutcome(this, m_open, window(), outcome, name, QStringLiteral("captured"));
    });
    prompt->open();
}
