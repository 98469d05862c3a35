#include "Views/Panels/PanelManagerSheet.h"

#include "Controllers/RouterController.h"
#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"
#include "Theme/AccessibleRows.h"
#include "Theme/Alerts.h"
#include "Theme/Controls.h"
#include "Theme/SectionCard.h"
#include "Theme/SheetFit.h"
#include "Theme/Theme.h"
#include "Views/Panels/PanelEditor.h"
#include "Views/Panels/PanelSheetKit.h"

#include <QAccessibleActionInterface>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSet>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>

using namespace PanelSheet;

namespace {

constexpr int managerWidth = 480;
constexpr int managerHeight = 520;
constexpr int panelRowHeight = 46;
const char rowsMimeType[] = "application/x-quorvel-panel-rows";

enum PanelRole { CountsRole = Qt::UserRole + 1, ActiveRole };

// Symbol, name over "<a> in × <b> out", and the "Active" badge.
class PanelRowDelegate final : public QStyledItemDelegate
{
public:
    PanelRowDelegate(const QColor &tint, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_tint(tint)
    { }

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        return { 200, panelRowHeight };
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (index.row() > 0) {
            painter->setPen(QPen(Theme::separator(), 1));
            painter->drawLine(option.rect.left() + 44, option.rect.top(), option.rect.right() - 12,
                              option.rect.top());
        }
        paintHover(painter, option);
        if (option.state & QStyle::State_HasFocus) // the keyboard's row: Return opens it
            Theme::paintFocusRing(*painter, QRectF(option.rect).adjusted(3, 0, -3, 0), 7);
        const QRect r = option.rect.adjusted(14, 0, -12, 0);
        const qreal dpr = painter->device()->devicePixelRatioF();

        constexpr int symbol = 18;
        painter->drawPixmap(
            QRect(r.left(), r.center().y() - symbol / 2 + 1, symbol, symbol),
            Symbols::pixmap(QStringLiteral("rectangle.grid.1x2"), symbol, m_tint, dpr));
        int right = r.right();
        if (index.data(ActiveRole).toBool()) {
            const QFont badgeFont = Theme::font(Theme::TextStyle::caption, QFont::DemiBold);
            const QFontMetrics metrics(badgeFont);
            const QString text = QStringLiteral("Active");
            const int w = metrics.horizontalAdvance(text) + 16;
            const int h = metrics.height() + 6;
            const QRectF badge(right - w + 1, r.center().y() - h / 2.0 + 0.5, w, h);
            QPainterPath capsule;
            capsule.addRoundedRect(badge, h / 2.0, h / 2.0);
            painter->fillPath(capsule, Theme::withAlpha(m_tint, 0.15));
            painter->setFont(badgeFont);
            painter->setPen(m_tint);
            painter->drawText(badge, Qt::AlignCenter, text);
            right = int(badge.left()) - 8;
        }

        const int x = r.left() + symbol + 12;
        const int width = std::max(0, right - x);
        const QFont nameFont = Theme::font(Theme::TextStyle::body, QFont::Medium);
        const QFont countsFont = Theme::font(Theme::TextStyle::caption);
        const QFontMetrics nameMetrics(nameFont);
        const QFontMetrics countsMetrics(countsFont);
        const int block = nameMetrics.height() + 2 + countsMetrics.height();
        const int top = r.center().y() - block / 2 + 1;
        painter->setFont(nameFont);
        painter->setPen(Theme::label());
        painter->drawText(
            QRect(x, top, width, nameMetrics.height()), Qt::AlignLeft,
            nameMetrics.elidedText(shownName(index.data().toString()), Qt::ElideRight, width));
        painter->setFont(countsFont);
        painter->setPen(Theme::secondaryLabel());
        painter->drawText(QRect(x, top + nameMetrics.height() + 2, width, countsMetrics.height()),
                          Qt::AlignLeft, index.data(CountsRole).toString());
        painter->restore();
    }

private:
    QColor m_tint;
};

} // namespace

// The controller's panels as list rows; rows can be dragged, the list itself takes drops.
class PanelManagerSheet::PanelListModel final : public QAbstractListModel
{
public:
    PanelListModel(RouterController &controller, QObject *parent)
        : QAbstractListModel(parent)
        , m_controller(controller)
    {
        QObject::connect(&controller, &RouterController::panelsChanged, this, [this] {
            beginResetModel();
            endResetModel();
        });
        QObject::connect(&controller, &RouterController::activePanelIDChanged, this, [this] {
            if (rowCount() > 0)
                emit dataChanged(index(0), index(rowCount() - 1));
        });
    }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_controller.panels().size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const QList<SubPanel> &panels = m_controller.panels();
        if (!index.isValid() || index.row() >= panels.size())
            return {};
        const SubPanel &panel = panels.at(index.row());
        switch (role) {
        case Qt::DisplayRole:
            return panel.name;
        case CountsRole:
            return Text::format(QStringLiteral("%1 in \u00d7 %2 out"), panel.sourceIndices.size(),
                                panel.destinationIndices.size());
        case Qt::AccessibleTextRole: {
            QStringList parts { spokenName(panel.name), data(index, CountsRole).toString() };
            if (m_controller.activePanelID() == panel.id)
                parts.append(QStringLiteral("Active"));
            return parts.join(QStringLiteral(", "));
        }
        case ActiveRole:
            return m_controller.activePanelID() == panel.id;
        default:
            return {};
        }
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        if (!index.isValid())
            return Qt::ItemIsDropEnabled;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    }

    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
    QStringList mimeTypes() const override { return { QString::fromLatin1(rowsMimeType) }; }

    QMimeData *mimeData(const QModelIndexList &indexes) const override
    {
        QStringList rows;
        for (const QModelIndex &index : indexes)
            rows.append(QString::number(index.row()));
        auto *data = new QMimeData;
        data->setData(QString::fromLatin1(rowsMimeType), rows.join(QLatin1Char(',')).toLatin1());
        return data;
    }

    // A drop reorders through the controller; no rows are inserted or removed here, so the
    // view's own move bookkeeping finds nothing to do.
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int,
                      const QModelIndex &parent) override
    {
        if (action != Qt::MoveAction || parent.isValid())
            return false;
        QSet<int> rows;
        for (const QByteArray &part : data->data(QString::fromLatin1(rowsMimeType)).split(',')) {
            bool ok = false;
            const int from = part.toInt(&ok);
            if (ok && from >= 0 && from < rowCount())
                rows.insert(from);
        }
        if (rows.isEmpty())
            return false;
        const StoreOutcome outcome
            = m_controller.movePanels(rows, row < 0 || row > rowCount() ? rowCount() : row);
        Alerts::tellNotSaved(outcome, QStringLiteral("The panels were reordered"),
                             QStringLiteral("The panels weren't reordered"),
                             qobject_cast<QWidget *>(QObject::parent()));
        return true;
    }

private:
    RouterController &m_controller;
};

// Delete (or Backspace) asks to delete the current row; Return or Space opens it. A screen
// reader may open a row, or its menu.
class PanelManagerSheet::PanelList final : public QListView, public AccessibleRows
{
public:
    std::function<void(int)> onDelete;
    std::function<void(int)> onOpen;

    PanelList() { AccessibleRows::install(); }

    QStringList rowActions(const QModelIndex &) const override
    {
        return { QAccessibleActionInterface::pressAction(),
                 QAccessibleActionInterface::showMenuAction() };
    }
    void doRowAction(const QModelIndex &row, const QString &action) override
    {
        if (action == QAccessibleActionInterface::pressAction() && onOpen)
            onOpen(row.row());
        else if (action == QAccessibleActionInterface::showMenuAction())
            emit customContextMenuRequested(visualRect(row).center());
    }

    // Exactly as tall as its rows, however few: the scroll area's own minimum would leave
    // empty room under a single row. It shrinks to two rows and scrolls when the sheet is full.
    QSize sizeHint() const override
    {
        return { QListView::sizeHint().width(), rowsHeight(rowCount()) };
    }
    QSize minimumSizeHint() const override { return { 0, rowsHeight(std::min(rowCount(), 2)) }; }

    void setModel(QAbstractItemModel *model) override
    {
        QListView::setModel(model);
        const auto remeasure = [this] {
            updateGeometry();
        };
        connect(model, &QAbstractItemModel::rowsInserted, this, remeasure);
        connect(model, &QAbstractItemModel::rowsRemoved, this, remeasure);
        connect(model, &QAbstractItemModel::modelReset, this, remeasure);
    }

protected:
    int rowCount() const { return model() ? model()->rowCount() : 0; }
    int rowsHeight(int rows) const { return rows * panelRowHeight + 2 * frameWidth(); }

    void keyPressEvent(QKeyEvent *event) override
    {
        if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace)
            && currentIndex().isValid()) {
            if (onDelete)
                onDelete(currentIndex().row());
            return;
        }
        // Accepted here, so the sheet's default "Done" never sees it.
        const bool open = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter
            || event->key() == Qt::Key_Space;
        if (open && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier
            && currentIndex().isValid()) {
            if (onOpen)
                onOpen(currentIndex().row());
            event->accept();
            return;
        }
        QListView::keyPressEvent(event);
    }
};

PanelManagerSheet::PanelManagerSheet(RouterController &controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
    , m_model(new PanelListModel(controller, this))
{
    setWindowTitle(QStringLiteral("Panels"));
    SheetFit::apply(this, { managerWidth, managerHeight });
    const QColor tint = controller.connection().tint();

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(20, 14, 20, 10);
    auto *title = plainLabel(QStringLiteral("Panels"));
    Theme::apply(title, Theme::TextStyle::title3, QFont::DemiBold);
    bar->addWidget(title);
    bar->addStretch();
    auto *toolbarNew
        = new QPushButton(Symbols::icon(QStringLiteral("plus")), QStringLiteral("New Panel"));
    toolbarNew->setObjectName(QStringLiteral("toolbarNewPanel"));
    toolbarNew->setAutoDefault(false);
    connect(toolbarNew, &QPushButton::clicked, this, &PanelManagerSheet::startNewPanel);
    bar->addWidget(toolbarNew);
    column->addLayout(bar);

    m_pages = new QStackedWidget;
    column->addWidget(m_pages, 1);

    // The list page: the rows, then the section with its own "New Panel…".
    auto *listPage = new QWidget;
    auto *listColumn = new QVBoxLayout(listPage);
    listColumn->setContentsMargins(20, 4, 20, 16);
    listColumn->setSpacing(12);
    auto *rowsPanel = new SectionCard;
    auto *rowsLayout = new QVBoxLayout(rowsPanel);
    rowsLayout->setContentsMargins(0, 4, 0, 4);
    m_list = new PanelList;
    m_list->setObjectName(QStringLiteral("panelList"));
    m_list->setAccessibleName(QStringLiteral("Panels"));
    m_list->setModel(m_model);
    m_list->setItemDelegate(new PanelRowDelegate(tint, m_list));
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setDragDropMode(QAbstractItemView::InternalMove);
    m_list->setDefaultDropAction(Qt::MoveAction);
    m_list->setDragEnabled(true);
    m_list->setDropIndicatorShown(true);
    m_list->setMouseTracking(true);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    makeTransparent(m_list);
    m_list->onDelete = [this](int row) {
        if (const std::optional<SubPanel> panel = panelAt(row))
            confirmDelete(*panel);
    };
    m_list->onOpen = [this](int row) {
        if (const std::optional<SubPanel> panel = panelAt(row))
            edit(*panel);
    };
    connect(m_list, &QListView::clicked, this,
            [this](const QModelIndex &index) { m_list->onOpen(index.row()); });
    connect(m_list, &QWidget::customContextMenuRequested, this,
            &PanelManagerSheet::showContextMenu);
    rowsLayout->addWidget(m_list);
    listColumn->addWidget(rowsPanel, 0);

    auto *sectionNew = new QPushButton(Symbols::icon(QStringLiteral("plus.circle.fill"), tint),
                                       QStringLiteral("New Panel\u2026"));
    sectionNew->setObjectName(QStringLiteral("listNewPanel"));
    sectionNew->setFlat(true);
    sectionNew->setAutoDefault(false);
    sectionNew->setCursor(Qt::PointingHandCursor);
    sectionNew->setStyleSheet(
        QStringLiteral("QPushButton { border: none; padding: 4px 8px; text-align: left; }"));
    setForeground(sectionNew, tint);
    connect(sectionNew, &QPushButton::clicked, this, &PanelManagerSheet::startNewPanel);
    listColumn->addWidget(sectionNew, 0, Qt::AlignLeft);
    listColumn->addStretch(1);
    m_pages->addWidget(listPage);

    // The empty state.
    auto *emptyPage = new QWidget;
    emptyPage->setObjectName(QStringLiteral("emptyState"));
    auto *emptyColumn = new QVBoxLayout(emptyPage);
    emptyColumn->setContentsMargins(48, 0, 48, 40);
    emptyColumn->setSpacing(8);
    emptyColumn->addStretch();
    emptyColumn->addWidget(
        symbolLabel(QStringLiteral("rectangle.grid.1x2"), 40, Theme::secondaryLabel(), this), 0,
        Qt::AlignHCenter);
    emptyColumn->addSpacing(4);
    auto *emptyTitle = plainLabel(QStringLiteral("No Panels"));
    Theme::apply(emptyTitle, Theme::TextStyle::title3, QFont::DemiBold);
    emptyColumn->addWidget(emptyTitle, 0, Qt::AlignHCenter);
    auto *emptyText = plainLabel(QStringLiteral(
        "A panel shows only the sources and destinations you choose \u2014 like a locked-down "
        "hardware panel for one operator."));
    emptyText->setWordWrap(true);
    emptyText->setAlignment(Qt::AlignHCenter);
    Theme::applySecondary(emptyText, Theme::TextStyle::callout);
    emptyColumn->addWidget(emptyText);
    emptyColumn->addSpacing(8);
    auto *emptyNew = new QPushButton(QStringLiteral("New Panel"));
    emptyNew->setObjectName(QStringLiteral("emptyNewPanel"));
    emptyNew->setAutoDefault(false);
    emptyNew->setCursor(Qt::PointingHandCursor);
    emptyNew->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: white; border: none;"
                       " border-radius: 6px; padding: 5px 16px; font-weight: 600; }"
                       "QPushButton:pressed { background: %2; }")
            .arg(tint.name(), tint.darker(120).name()));
    connect(emptyNew, &QPushButton::clicked, this, &PanelManagerSheet::startNewPanel);
    emptyColumn->addWidget(emptyNew, 0, Qt::AlignHCenter);
    emptyColumn->addStretch();
    m_pages->addWidget(emptyPage);

    auto *done = new QPushButton(QStringLiteral("Done"));
    done->setObjectName(QStringLiteral("doneButton"));
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    addSheetButtons(column, { done });

    connect(&controller, &RouterController::panelsChanged, this,
            &PanelManagerSheet::syncEmptyState);
    syncEmptyState();
}

PanelManagerSheet::~PanelManagerSheet() = default;

std::optional<SubPanel> PanelManagerSheet::panelAt(int row) const
{
    const QList<SubPanel> &panels = m_controller.panels();
    if (row < 0 || row >= panels.size())
        return std::nullopt;
    return panels.at(row);
}

void PanelManagerSheet::syncEmptyState()
{
    m_pages->setCurrentIndex(m_controller.panels().isEmpty() ? 1 : 0);
}

void PanelManagerSheet::startNewPanel()
{
    edit(m_controller.newPanelDraft());
}

void PanelManagerSheet::edit(const SubPanel &panel)
{
    if (m_editor || m_deleteAlert)
        return;
    const QList<SubPanel> &panels = m_controller.panels();
    const bool isNew = std::none_of(panels.begin(), panels.end(),
                                    [&](const SubPanel &p) { return p.id == panel.id; });
    auto *editor = new PanelEditor(m_controller, panel, isNew, this);
    editor->setWindowModality(Qt::WindowModal);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    m_editor = editor;
    connect(editor, &QDialog::finished, this, [this] { m_editor = nullptr; });
    editor->open();
}

void PanelManagerSheet::confirmDelete(const SubPanel &panel)
{
    if (m_editor || m_deleteAlert)
        return;
    const int salvos = m_controller.salvoCount(panel);
    const QString title = QStringLiteral("Delete \u201c%1\u201d?").arg(shownName(panel.name));
    const QString message = salvos > 0
        ? QStringLiteral("Routing is not affected. Also deletes %1 saved for this panel \u2014 "
                         "they cannot be recovered.")
              .arg(counted(salvos, QStringLiteral("salvo"), QStringLiteral("salvos")))
        : QStringLiteral("Routing is not affected \u2014 only this saved panel layout is removed.");

    QMessageBox *alert = Alerts::destructiveConfirmation(
        QStringLiteral("deletePanelAlert"), title, message, QStringLiteral("Delete"), this, this,
        [this, panel] {
            tellNotSaved(m_controller.deletePanel(panel), panel.name, QStringLiteral("deleted"),
                         this);
        });
    alert->setWindowTitle(title);
    m_deleteAlert = alert;
    alert->open();
}

void PanelManagerSheet::move(int row, int toOffset)
{
    Alerts::tellNotSaved(m_controller.movePanels({ row }, toOffset),
                         QStringLiteral("The panels were reordered"),
                         QStringLiteral("The panels weren't reordered"), this);
}

void PanelManagerSheet::showContextMenu(const QPoint &position)
{
    const QModelIndex index = m_list->indexAt(position);
    const std::optional<SubPanel> found = panelAt(index.row());
    if (!index.isValid() || !found)
        return;
    const SubPanel panel = *found;
    const int row = index.row();
    const int count = int(m_controller.panels().size());

    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("panelContextMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(menu->addAction(Symbols::icon(QStringLiteral("pencil")), QStringLiteral("Edit\u2026")),
            &QAction::triggered, this, [this, panel] { edit(panel); });
    connect(menu->addAction(Symbols::icon(QStringLiteral("plus.square.on.square")),
                            QStringLiteral("Duplicate")),
            &QAction::triggered, this, [this, panel] {
                tellNotSaved(m_controller.duplicatePanel(panel), panel.name,
                             QStringLiteral("duplicated"), this);
            });
    if (row > 0) {
        connect(
            menu->addAction(Symbols::icon(QStringLiteral("arrow.up")), QStringLiteral("Move Up")),
            &QAction::triggered, this, [this, row] { move(row, row - 1); });
    }
    if (row < count - 1) {
        connect(menu->addAction(Symbols::icon(QStringLiteral("arrow.down")),
                                QStringLiteral("Move Down")),
                &QAction::triggered, this, [this, row] { move(row, row + 2); });
    }
    menu->addSeparator();
    connect(menu->addAction(Symbols::icon(QStringLiteral("trash"), Theme::red()),
                            QStringLiteral("Delete\u2026")),
            &QAction::triggered, this, [this, panel] { confirmDelete(panel); });
    menu->popup(m_list->viewport()->mapToGlobal(position));
}
