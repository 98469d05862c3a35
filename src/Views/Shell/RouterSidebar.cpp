#include "Views/Shell/RouterSidebar.h"

#include "Controllers/ConnectionStore.h"
#include "Model/Json.h"
#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"
#include "Theme/AccessibleRows.h"
#include "Theme/Alerts.h"
#include "Theme/Controls.h"
#include "Theme/StatusDot.h"
#include "Theme/Theme.h"
#include "Theme/VendorTile.h"

#include <QAccessibleActionInterface>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// One router: icon tile, name over address, live status dot. It keeps the router's
// controller alive and follows its status.
class RouterRow final : public QWidget
{
public:
    RouterRow(const RouterConnection &connection, ConnectionStore::ControllerPtr controller,
              QWidget *parent = nullptr)
        : QWidget(parent)
        , m_controller(std::move(controller))
    {
        auto *row = new QHBoxLayout(this);
        row->setContentsMargins(8, 3 + 3, 8, 3 + 3);
        row->setSpacing(11);
        row->addWidget(new VendorTile(connection.vendor.systemImage(), connection.tint()));

        auto *lines = new QVBoxLayout;
        lines->setSpacing(2);
        auto *name = new ElidedLabel(connection.name);
        name->setObjectName(QStringLiteral("name"));
        Theme::apply(name, Theme::TextStyle::body, QFont::Medium);
        auto *endpoint = new ElidedLabel(connection.endpointDescription());
        endpoint->setObjectName(QStringLiteral("endpoint"));
        Theme::applySecondary(endpoint, Theme::TextStyle::caption);
        lines->addWidget(name);
        lines->addWidget(endpoint);
        row->addLayout(lines, 1);
        row->addSpacing(4);

        m_dot = new StatusDot(m_controller->status());
        m_dot->setToolTip(Theme::statusLabel(m_controller->status()));
        row->addWidget(m_dot);
        QObject::connect(m_controller.get(), &RouterController::statusChanged, m_dot, [this] {
            m_dot->setStatus(m_controller->status());
            m_dot->setToolTip(Theme::statusLabel(m_controller->status()));
        });
    }

    const ConnectionStore::ControllerPtr &controller() const { return m_controller; }

private:
    ConnectionStore::ControllerPtr m_controller;
    StatusDot *m_dot = nullptr;
};

// The routers as a screen reader meets them: one item per router, selected while it is the
// one shown, and focused only while the list has the keyboard (the list's stock items report
// the current row focused wherever the keyboard is).
class RouterList final : public QListWidget, public AccessibleRows
{
public:
    RouterList() { AccessibleRows::install(); }

    QStringList rowActions(const QModelIndex &) const override
    {
        return { QAccessibleActionInterface::pressAction(),
                 QAccessibleActionInterface::showMenuAction() };
    }
    void doRowAction(const QModelIndex &row, const QString &action) override
    {
        if (action == QAccessibleActionInterface::pressAction())
            setCurrentIndex(row);
        else if (action == QAccessibleActionInterface::showMenuAction())
            emit customContextMenuRequested(visualRect(row).center());
    }
    QAccessible::State rowState(const QModelIndex &row) const override
    {
        QAccessible::State state;
        state.selectable = true;
        state.selected = selectionModel()->isSelected(row);
        return state;
    }
};

// What a screen reader says for a row: what the eye reads on it, the dot's status included.
QString spokenRow(const RouterConnection &connection, const ConnectionStatus &status)
{
    return QStringList { spokenName(connection.name),
                         Text::spoken(connection.endpointDescription()),
                         Theme::statusLabel(status) }
        .join(QStringLiteral(", "));
}

QString counted(int count, const QString &singular, const QString &plural)
{
    return Text::format(QStringLiteral("%1 %2"), count, count == 1 ? singular : plural);
}

} // namespace

RouterSidebar::RouterSidebar(ConnectionStore &store, QWidget *parent)
    : QWidget(parent)
    , m_store(store)
{
    setObjectName(QStringLiteral("RouterSidebar"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Theme::windowBackground());
    setPalette(pal);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 10, 0, 8);
    column->setSpacing(6);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(16, 0, 10, 0);
    auto *title = new QLabel(tr("Quorvel"));
    Theme::apply(title, Theme::TextStyle::headline);
    header->addWidget(title);
    header->addStretch(1);
    m_addButton = new QToolButton;
    m_addButton->setObjectName(QStringLiteral("addRouter"));
    m_addButton->setIcon(Symbols::icon(QStringLiteral("plus")));
    m_addButton->setIconSize(QSize(16, 16));
    m_addButton->setAutoRaise(true);
    m_addButton->setToolTip(tr("Add Router"));
    m_addButton->setAccessibleName(tr("Add Router"));
    connect(m_addButton, &QToolButton::clicked, this, [this] { emit editorRequested({}); });
    header->addWidget(m_addButton);
    column->addLayout(header);

    auto *section = new QLabel(tr("Routers"));
    section->setContentsMargins(16, 6, 16, 0);
    Theme::applySecondary(section, Theme::TextStyle::caption, QFont::DemiBold);
    column->addWidget(section);

    m_list = new RouterList;
    m_list->setObjectName(QStringLiteral("routerList"));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setAccessibleName(tr("Routers"));
    const QColor selected = Theme::withAlpha(Theme::accent(), 0.22);
    const QColor hover = Theme::withAlpha(Theme::label(), 0.06);
    // The style's dotted focus rectangle is replaced by a ring on the row the keyboard is on.
    m_list->setStyleSheet(
        QStringLiteral("QListWidget { background: transparent; outline: 0; }"
                       "QListWidget::item { border-radius: 6px; margin: 1px 8px; }"
                       "QListWidget::item:selected { background: %1; }"
                       "QListWidget::item:hover:!selected { background: %2; }"
                       "QListWidget::item:focus { border: 2px solid %3; }")
            .arg(selected.name(QColor::HexArgb), hover.name(QColor::HexArgb),
                 Theme::focusRing().name(QColor::HexArgb)));
    m_list->installEventFilter(this);
    m_list->viewport()->installEventFilter(this);
    column->addWidget(m_list, 1);

    connect(m_list, &QListWidget::currentRowChanged, this, &RouterSidebar::selectRow);
    // The list alone would clear its highlight on a click in empty space or a Ctrl+click,
    // while the workspace still shows that router: the store's choice is what is shown.
    connect(m_list, &QListWidget::itemSelectionChanged, this, [this] {
        if (!m_updatingSelection && m_list->selectedItems().isEmpty())
            showSelection();
    });
    connect(m_list, &QListWidget::customContextMenuRequested, this,
            &RouterSidebar::showContextMenu);
    connect(&m_store, &ConnectionStore::connectionsChanged, this, &RouterSidebar::rebuildRows);
    connect(&m_store, &ConnectionStore::selectedConnectionIDChanged, this,
            &RouterSidebar::showSelection);
    // An unchanged Save keeps the list equal but replaces the controller: a row left on the
    // dropped one would show that one's status instead of the live controller's.
    connect(&m_store, &ConnectionStore::controllerDropped, this, [this](const QUuid &id) {
        for (int i = 0; i < m_list->count(); ++i) {
            if (m_list->item(i)->data(Qt::UserRole).toUuid() != id)
                continue;
            const auto *row = static_cast<RouterRow *>(m_list->itemWidget(m_list->item(i)));
            if (row && i < m_store.connections().size()
                && row->controller() != m_store.controller(m_store.connections().at(i))) {
                rebuildRows();
            }
            return;
        }
    });
    rebuildRows();
}

RouterSidebar::~RouterSidebar() = default;

QString RouterSidebar::deleteTitle(const RouterConnection &connection)
{
    return tr("Delete \u201C%1\u201D?").arg(shownName(connection.name));
}

QString RouterSidebar::deleteMessage(int panelCount, int salvoCount)
{
    if (panelCount == 0 && salvoCount == 0)
        return tr("Its saved settings and custom labels cannot be recovered.");
    return tr("Also deletes %1, %2, and any custom labels for this router \u2014 none can be "
              "recovered.")
        .arg(counted(panelCount, tr("panel"), tr("panels")),
             counted(salvoCount, tr("salvo"), tr("salvos")));
}

QString RouterSidebar::deleteMessage(const RouterConnection &connection) const
{
    const auto &salvos = m_store.salvoStore().byConnection();
    const auto entry = salvos.constFind(Json::uuidText(connection.id));
    const int salvoCount = entry == salvos.cend() ? 0 : int(entry->size());
    const int panelCount = int(m_store.panelStore().panels(connection.id).size());
    return deleteMessage(panelCount, salvoCount);
}

QMenu *RouterSidebar::contextMenu(const RouterConnection &connection, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    menu->addAction(Symbols::icon(QStringLiteral("pencil")), tr("Edit\u2026"), this,
                    [this, connection] { emit editorRequested(connection); });
    if (m_store.controller(connection)->status().isConnected()) {
        menu->addAction(Symbols::icon(QStringLiteral("bolt.slash")), tr("Disconnect"), this,
                        [this, connection] { m_store.controller(connection)->disconnect(); });
    }
    menu->addAction(Symbols::icon(QStringLiteral("trash"), Theme::red()), tr("Delete\u2026"), this,
                    [this, connection] { confirmDelete(connection); });
    return menu;
}

void RouterSidebar::confirmDelete(const RouterConnection &connection)
{
    if (m_deleteAlert)
        return; // one confirmation at a time; the open one is window-modal anyway
    m_deleting = connection;

    QMessageBox *alert = Alerts::destructiveConfirmation(
        QStringLiteral("deleteAlert"), deleteTitle(connection), deleteMessage(connection),
        tr("Delete"), window(), this, [this] {
            if (const std::optional<RouterConnection> target
                = std::exchange(m_deleting, std::nullopt)) {
                const QString name
                    = QStringLiteral("\u201C") + shownName(target->name) + QStringLiteral("\u201D");
                Alerts::tellNotSaved(m_store.remove(*target), name + QStringLiteral(" was deleted"),
                                     name + QStringLiteral(" wasn't deleted"), window());
            }
        });
    alert->setWindowTitle(tr("Delete Router"));
    // Every way the alert closes ends here; only "Delete" deleted, just before.
    connect(alert, &QMessageBox::finished, this, [this] {
        m_deleteAlert = nullptr;
        m_deleting.reset();
    });
    m_deleteAlert = alert;
    alert->open();
}

bool RouterSidebar::eventFilter(QObject *watched, QEvent *event)
{
    // The list's delete action: only the first selected row, and only after confirmation.
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
            const QModelIndexList rows = m_list->selectionModel()->selectedRows();
            if (!rows.isEmpty()) {
                const int row = rows.first().row();
                if (row >= 0 && row < m_store.connections().size())
                    confirmDelete(m_store.connections().at(row));
            }
            return true;
        }
    }
    // A right click only opens the row's menu, which has no selection effect: the list
    // would otherwise make the row current, and the workspace switch, before the menu shows.
    // The context menu event comes separately, so it still arrives.
    if (watched == m_list->viewport()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            if (static_cast<QMouseEvent *>(event)->button() == Qt::RightButton)
                return true;
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void RouterSidebar::rebuildRows()
{
    m_updatingSelection = true;
    m_list->clear();
    for (const RouterConnection &connection : m_store.connections()) {
        auto *item = new QListWidgetItem(m_list);
        item->setData(Qt::UserRole, connection.id);
        auto *row = new RouterRow(connection, m_store.controller(connection));
        // Looked up by its widget: a row outlives its item for a moment when the list is cleared.
        const auto speak = [list = m_list, row, connection] {
            for (int i = 0; i < list->count(); ++i) {
                if (list->itemWidget(list->item(i)) == row)
                    list->item(i)->setData(Qt::AccessibleTextRole,
                                           spokenRow(connection, row->controller()->status()));
            }
        };
        item->setData(Qt::AccessibleTextRole, spokenRow(connection, row->controller()->status()));
        connect(row->controller().get(), &RouterController::statusChanged, row, speak);
        // Only the height counts: rows take the list's width, so the dot stays in view.
        item->setSizeHint(QSize(0, row->sizeHint().height()));
        m_list->setItemWidget(item, row);
    }
    m_updatingSelection = false;
    showSelection();
}

void RouterSidebar::showSelection()
{
    const std::optional<QUuid> selected = m_store.selectedConnectionID();
    int row = -1;
    for (int i = 0; selected && i < m_list->count(); ++i) {
        if (m_list->item(i)->data(Qt::UserRole).toUuid() == *selected) {
            row = i;
            break;
        }
    }
    m_updatingSelection = true;
    if (row < 0)
        m_list->clearSelection();
    m_list->setCurrentRow(row);
    m_updatingSelection = false;
}

void RouterSidebar::selectRow(int row)
{
    if (m_updatingSelection || row < 0 || row >= m_list->count())
        return;
    m_store.setSelectedConnectionID(m_list->item(row)->data(Qt::UserRole).toUuid());
}

void RouterSidebar::showContextMenu(const QPoint &position)
{
    QListWidgetItem *item = m_list->itemAt(position);
    if (!item)
        return;
    const int row = m_list->row(item);
    if (row < 0 || row >= m_store.connections().size())
        return;
    QMenu *menu = contextMenu(m_store.connections().at(row), this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The menu takes the pointer away without the list seeing it leave: its row would keep
    // the hover fill until the pointer passed again. The next move over a row brings it back.
    const auto clearHover = [this] {
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(m_list->viewport(), &leave);
    };
    clearHover();
    connect(menu, &QMenu::aboutToHide, this, clearHover);
    menu->popup(m_list->viewport()->mapToGlobal(position));
}
