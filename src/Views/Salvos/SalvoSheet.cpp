#include "Views/Salvos/SalvoSheet.h"

#include "Platform/Gui/Symbols.h"
#include "Theme/Alerts.h"
#include "Theme/Controls.h"
#include "Theme/FocusOrder.h"
#include "Theme/SheetFit.h"
#include "Theme/Theme.h"
#include "Views/Salvos/NamePrompt.h"
#include "Views/Salvos/PillButton.h"
#include "Views/Salvos/SalvoFireConfirmation.h"
#include "Views/Salvos/SalvoRow.h"
#include "Views/Salvos/SalvoRowList.h"
#include "Views/Salvos/SalvoViews.h"

#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLayoutItem>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QVBoxLayout>

using Theme::TextStyle;
using namespace SalvoViews;

namespace {

// A section's rows are read as a list, named by the section's header.
QAccessibleInterface *salvoGroupAccessible(const QString &key, QObject *object)
{
    if (key == QLatin1String("SalvoRowList") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::List);
    return nullptr;
}

} // namespace

SalvoSheet::SalvoSheet(RouterController &controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
    , m_tracker(controller)
{
    setObjectName(QStringLiteral("salvoSheet"));
    setWindowTitle(QStringLiteral("Salvos"));
    SheetFit::apply(this, { 520, 560 });

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
    // The rows take the focus; the list scrolls to the focused one.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    column->addWidget(m_scroll, 1);

    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("salvoListContent"));
    auto *sections = new QVBoxLayout(content);
    sections->setContentsMargins(20, 14, 20, 16);
    sections->setSpacing(16);

    m_offline = new QFrame;
    m_offline->setObjectName(QStringLiteral("offlineBanner"));
    auto *line = new QHBoxLayout(m_offline);
    line->setContentsMargins(12, 8, 12, 8);
    line->addWidget(symbolText(QStringLiteral("bolt.slash.fill"),
                               QStringLiteral("Offline \u2014 salvos can be edited but not fired"),
                               Theme::font(TextStyle::callout), Theme::orange()));
    line->addStretch();
    m_offline->setStyleSheet(
        QStringLiteral("QFrame#offlineBanner { background: %1; "
                       "border-radius: 8px; }")
            .arg(Theme::withAlpha(Theme::orange(), 0.1).name(QColor::HexArgb)));
    sections->addWidget(m_offline);

    m_scope = makeSection();
    m_emptyScope = emptyScope();
    m_scope.box->layout()->addWidget(m_emptyScope);
    sections->addWidget(m_scope.box);
    m_fullRouter = makeSection();
    m_fullRouter.header->setText(QStringLiteral("Full Router"));
    m_fullRouter.footer->setText(
        QStringLiteral("These fire the whole router, not just this panel."));
    sections->addWidget(m_fullRouter.box);

    m_again = new QPushButton(
        Symbols::icon(QStringLiteral("plus.circle.fill"), m_controller.connection().tint()),
        QStringLiteral("New Salvo\u2026"));
    m_again->setObjectName(QStringLiteral("newSalvoRowButton"));
    m_again->setFlat(true);
    m_again->setAutoDefault(false);
    m_again->setCursor(Qt::PointingHandCursor);
    colorize(m_again, m_controller.connection().tint());
    QPalette pal = m_again->palette();
    pal.setColor(QPalette::ButtonText, m_controller.connection().tint());
    m_again->setPalette(pal);
    connect(m_again, &QPushButton::clicked, this, &SalvoSheet::beginNew);
    sections->addWidget(m_again, 0, Qt::AlignLeft);

    sections->addStretch(1);
    m_emptyState = emptyState(); // it centres its own parts
    sections->addWidget(m_emptyState);
    sections->addStretch(2);
    m_scroll->setWidget(content);

    auto *done = new QPushButton(QStringLiteral("Done"));
    done->setObjectName(QStringLiteral("doneButton"));
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    addSheetButtons(column, { done });

    for (const auto signal :
         { &RouterController::salvosChanged, &RouterController::panelsChanged,
           &RouterController::activePanelIDChanged, &RouterController::statusChanged })
        connect(&controller, signal, this, &SalvoSheet::refresh);
    connect(&m_tracker, &SalvoTracker::compared, this, &SalvoSheet::compared);
    refresh();
    FocusOrder::keep(this);
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

SalvoSheet::Section SalvoSheet::makeSection()
{
    Section section;
    section.box = new QWidget;
    section.box->setObjectName(QStringLiteral("salvoSection"));
    auto *column = new QVBoxLayout(section.box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    section.header = textLabel(QString(), Theme::font(TextStyle::subheadline, QFont::DemiBold),
                               Theme::secondaryLabel());
    section.header->setObjectName(QStringLiteral("sectionHeader"));
    column->addWidget(section.header);

    static const bool accessible = [] {
        QAccessible::installFactory(salvoGroupAccessible);
        return true;
    }();
    Q_UNUSED(accessible);
    section.group = new QFrame;
    section.group->setObjectName(QStringLiteral("salvoGroup"));
    section.group->setStyleSheet(QStringLiteral("QFrame#salvoGroup { background: palette(base); "
                                                "border: 1px solid %1; border-radius: 8px; }")
                                     .arg(Theme::separator().name(QColor::HexArgb)));
    auto *rows = new QVBoxLayout(section.group);
    rows->setContentsMargins(1, 1, 1, 1);
    section.rows
        = new SalvoRowList(*m_scroll, [this](const Salvo &salvo) { return makeRow(salvo); });
    rows->addWidget(section.rows);
    column->addWidget(section.group);

    section.footer
        = wrappedLabel(QString(), Theme::font(TextStyle::caption), Theme::secondaryLabel());
    section.footer->setObjectName(QStringLiteral("sectionFooter"));
    column->addWidget(section.footer);
    return section;
}

void SalvoSheet::refresh()
{
    const bool online = m_controller.status().isConnected();
    m_offline->setVisible(!online);

    const auto active = m_controller.activePanel();
    const QList<Salvo> visible = m_controller.visibleSalvos();
    // A panel's name can be of any length: the header stays one line of the sheet.
    m_scope.header->setText(
        active ? elidedName(active->name, Theme::font(TextStyle::subheadline, QFont::DemiBold), 360)
                + QStringLiteral(" Salvos")
               : QStringLiteral("Full Router Salvos"));
    const bool emptyScope = visible.isEmpty() && active;
    if (emptyScope) {
        m_emptyScopeText->setText(QStringLiteral("No salvos for ") + quoted(active->name)
                                  + QStringLiteral(" yet"));
    }
    m_emptyScope->setVisible(emptyScope);
    m_scope.footer->setText(active ? QStringLiteral("Salvos here capture only this panel's "
                                                    "destinations. Tap one to preview what "
                                                    "firing it would change.")
                                   : QStringLiteral("Tap a salvo to preview exactly what firing "
                                                    "it would change."));
    m_scope.footer->setVisible(!visible.isEmpty());
    showRows(m_scope, visible);

    const QList<Salvo> fullRouter = active ? m_controller.fullRouterSalvos() : QList<Salvo>();
    m_fullRouter.box->setVisible(!fullRouter.isEmpty());
    showRows(m_fullRouter, fullRouter);
    if (m_listed.size() != visible.size() + fullRouter.size()
        || !std::equal(visible.cbegin(), visible.cend(), m_listed.cbegin())
        || !std::equal(fullRouter.cbegin(), fullRouter.cend(),
                       m_listed.cbegin() + visible.size())) {
        m_listed = visible + fullRouter;
        m_tracker.setSalvos(m_listed);
    }

    m_again->setVisible(!m_controller.salvos().isEmpty());
    m_emptyState->setVisible(m_controller.salvos().isEmpty() && !active);
    FocusOrder::refresh(this);
}

void SalvoSheet::showRows(const Section &section, const QList<Salvo> &salvos)
{
    // The rows of salvos still listed stay, so the focused one keeps the keyboard.
    section.rows->setSalvos(salvos);
    section.group->setVisible(!salvos.isEmpty());
    section.rows->setAccessibleName(section.header->text());
}

SalvoRow *SalvoSheet::rowOf(const QUuid &id) const
{
    SalvoRow *row = m_scope.rows->row(id);
    return row ? row : m_fullRouter.rows->row(id);
}

QList<SalvoRow *> SalvoSheet::madeRows() const
{
    return m_scope.rows->rows() + m_fullRouter.rows->rows();
}

void SalvoSheet::compared(const QList<int> &changed, bool all)
{
    if (all) {
        for (SalvoRow *row : madeRows())
            row->refresh();
        return;
    }
    SalvoRow *open = m_expandedID ? rowOf(*m_expandedID) : nullptr;
    for (const int position : changed) {
        if (SalvoRow *row = rowOf(m_listed.at(position).id); row && row != open)
            row->refresh();
    }
    if (open)
        open->refresh();
}

SalvoRow *SalvoSheet::makeRow(const Salvo &salvo)
{
    auto *row = new SalvoRow(m_controller, salvo, m_expandedID == salvo.id);
    // The sheet tells the row when the routing changed its salvo's comparison.
    row->followRoutingFromOwner();
    row->installEventFilter(this);
    const auto current = [row] {
        return row->salvo();
    };
    connect(row, &SalvoRow::toggleRequested, this, [this, current] { toggleExpansion(current()); });
    connect(row, &SalvoRow::fireRequested, this, [this, current] { fire(current()); });
    connect(row, &SalvoRow::updateRequested, this, [this, current] { confirmUpdate(current()); });
    connect(row, &QWidget::customContextMenuRequested, this,
            [this, row](const QPoint &pos) { rowMenu(row, row->mapToGlobal(pos)); });
    return row;
}

QWidget *SalvoSheet::emptyScope()
{
    auto *box = new QWidget;
    box->setObjectName(QStringLiteral("emptyScope"));
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 4, 0, 4);
    column->setSpacing(8);
    m_emptyScopeText
        = textLabel(QString(), Theme::font(TextStyle::callout), Theme::secondaryLabel());
    column->addWidget(m_emptyScopeText);
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
    for (SalvoRow *row : madeRows())
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
        QString name;
        const StoreOutcome outcome
            = SalvoViews::saveTypedName(m_controller, prompt->text(), scope, &name);
        tellOutcome(this, m_open, this, outcome, name, QStringLiteral("captured"));
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
    const QString name = draft.trimmed();
    if (name.isEmpty() || name == salvo.name)
        return;
    const std::optional<StoreOutcome> renamed = m_controller.renameSalvo(salvo, name);
    if (!renamed)
        showConflict(name);
    else
        tellOutcome(this, m_open, this, *renamed, salvo.name,
                    QStringLiteral("renamed ") + quoted(name));
}

void SalvoSheet::showConflict(const QString &name)
{
    if (m_open)
        return;
    QMessageBox *box = Alerts::warning(
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
    QMessageBox *box = Alerts::destructiveConfirmation(
        QStringLiteral("deleteConfirmation"), deleteTitle(salvo), deleteMessage,
        QStringLiteral("Delete"), this, this, [this, salvo] {
            tellOutcome(this, m_open, this, m_controller.deleteSalvo(salvo), salvo.name,
                        QStringLiteral("deleted"));
        });
    present(this, m_open, box);
    box->open();
}

void SalvoSheet::confirmUpdate(const Salvo &salvo)
{
    if (m_open)
        return;
    QMessageBox *box = Alerts::destructiveConfirmation(
        QStringLiteral("updateConfirmation"), updateTitle(salvo), updateMessage,
        QStringLiteral("Update"), this, this, [this, salvo] {
            tellOutcome(this, m_open, this, m_controller.updateSalvo(salvo), salvo.name,
                        QStringLiteral("updated"));
        });
    present(this, m_open, box);
    box->open();
}
