#include "Views/Panels/PanelsSheet.h"

#include "Controllers/RouterController.h"
#include "Platform/Gui/Symbols.h"
#include "Theme/Controls.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"

#include <QAbstractListModel>
#include <QActionGroup>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int managerWidth = 480;
constexpr int managerHeight = 520;
constexpr int editorWidth = 640;
constexpr int editorHeight = 640;
constexpr int panelRowHeight = 46;
constexpr int portRowHeight = 26;
const char rowsMimeType[] = "application/x-quorvel-panel-rows";

QColor axisColor(PortKind kind)
{
    return kind == PortKind::source ? Theme::green() : Theme::orange();
}

QString counted(int n, const QString &singular, const QString &plural)
{
    return QStringLiteral("%1 %2").arg(n).arg(n == 1 ? singular : plural);
}

QLabel *symbolLabel(const QString &name, int size, const QColor &color, const QWidget *forScreen)
{
    auto *label = new QLabel;
    label->setPixmap(Symbols::pixmap(name, size, color, forScreen->devicePixelRatioF()));
    label->setFixedSize(size, size);
    return label;
}

// A small borderless button in caption type, for section headers.
QPushButton *headerButton(const QString &title, const QString &name)
{
    auto *button = new QPushButton(title);
    button->setObjectName(name);
    button->setFlat(true);
    button->setAutoDefault(false);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(Theme::font(Theme::TextStyle::caption, QFont::DemiBold));
    button->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 1px 4px; }"));
    setForeground(button, Theme::accent());
    return button;
}

// The standard bottom row of a sheet: a hairline, then the buttons at the trailing side.
QVBoxLayout *buttonRow(QVBoxLayout *column, const QList<QPushButton *> &buttons)
{
    column->addWidget(hairline());
    auto *row = new QHBoxLayout;
    row->setContentsMargins(20, 10, 20, 12);
    row->setSpacing(8);
    row->addStretch();
    for (QPushButton *button : buttons) {
        button->setMinimumWidth(84);
        row->addWidget(button);
    }
    column->addLayout(row);
    return column;
}

// A rounded, lightly outlined background for a list.
class RoundedPanel final : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        painter.fillPath(path, Theme::controlBackground());
        painter.setPen(QPen(Theme::separator(), 1));
        painter.drawPath(path);
    }
};

void makeTransparent(QAbstractScrollArea *area)
{
    area->setFrameShape(QFrame::NoFrame);
    area->viewport()->setAutoFillBackground(false);
    area->setAutoFillBackground(false);
    area->setStyleSheet(QStringLiteral("background: transparent;"));
}

void paintHover(QPainter *painter, const QStyleOptionViewItem &option)
{
    const bool hovered = option.state & QStyle::State_MouseOver;
    const bool selected = option.state & QStyle::State_Selected;
    if (!hovered && !selected)
        return;
    QPainterPath path;
    path.addRoundedRect(QRectF(option.rect).adjusted(4, 1, -4, -1), 6, 6);
    painter->fillPath(path, Theme::withAlpha(Theme::label(), selected ? 0.08 : 0.05));
}

// --- Editor rows ---------------------------------------------------------------------------

enum PortRole { IndexRole = Qt::UserRole + 1, MissingRole };

// One axis section's rows: a port index, and its label unless the router lacks the port.
struct PortRow
{
    int index = 0;
    std::optional<QString> label;
};

class PortRowsModel final : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    void setRows(QList<PortRow> rows)
    {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
    }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_rows.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_rows.size())
            return {};
        const PortRow &row = m_rows.at(index.row());
        switch (role) {
        case Qt::DisplayRole:
            return row.label
                ? *row.label
                : QStringLiteral("Port %1 \u2014 not on this router").arg(row.index + 1);
        case Qt::AccessibleTextRole:
            return row.label ? QStringLiteral("Port %1: %2").arg(row.index + 1).arg(*row.label)
                             : data(index, Qt::DisplayRole);
        case IndexRole:
            return row.index;
        case MissingRole:
            return !row.label;
        default:
            return {};
        }
    }

private:
    QList<PortRow> m_rows;
};

// Number, label (or the missing-port warning) and the trailing add or remove symbol.
class PortRowDelegate final : public QStyledItemDelegate
{
public:
    PortRowDelegate(PortKind kind, bool chosen, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_color(axisColor(kind))
        , m_chosen(chosen)
    { }

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        return { 200, portRowHeight };
    }

    // Widens the number column to fit `number`, so "1024" shows whole; both lists of an axis
    // get the same width, so their labels line up.
    void setWidestNumber(int number)
    {
        m_numberWidth = std::max(
            20, QFontMetrics(numberFont()).horizontalAdvance(QString::number(number)) + 1);
    }
    int numberWidth() const { return m_numberWidth; }

    static QFont numberFont()
    {
        QFont number = QApplication::font();
        number.setPointSizeF(10);
        number.setBold(true);
        return number;
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        paintHover(painter, option);
        if (option.state & QStyle::State_HasFocus) {
            // The keyboard's row: Space or Return adds or removes it.
            painter->setPen(QPen(Theme::withAlpha(Theme::accent(), 0.7), 1.5));
            painter->setBrush(Qt::NoBrush);
            painter->drawRoundedRect(QRectF(option.rect).adjusted(4.75, 1.75, -4.75, -1.75), 6, 6);
        }
        const QRect r = option.rect.adjusted(12, 0, -12, 0);
        const qreal dpr = painter->device()->devicePixelRatioF();

        painter->setFont(numberFont());
        painter->setPen(m_color);
        const QRect numberRect(r.left(), r.top(), m_numberWidth, r.height());
        painter->drawText(numberRect, Qt::AlignRight | Qt::AlignVCenter,
                          QString::number(index.data(IndexRole).toInt() + 1));

        constexpr int symbol = 16;
        const QRect symbolRect(r.right() - symbol + 1, r.center().y() - symbol / 2 + 1, symbol,
                               symbol);
        painter->drawPixmap(
            symbolRect,
            m_chosen ? Symbols::pixmap(QStringLiteral("minus.circle.fill"), symbol,
                                       Theme::secondaryLabel(), dpr)
                     : Symbols::pixmap(QStringLiteral("plus.circle.fill"), symbol, m_color, dpr));

        int x = numberRect.right() + 1 + 8;
        const int textRight = symbolRect.left() - 4;
        const QString text = index.data(Qt::DisplayRole).toString();
        if (index.data(MissingRole).toBool()) {
            constexpr int warn = 13;
            painter->drawPixmap(QRect(x, r.center().y() - warn / 2 + 1, warn, warn),
                                Symbols::pixmap(QStringLiteral("exclamationmark.triangle"), warn,
                                                Theme::orange(), dpr));
            x += warn + 5;
            painter->setFont(Theme::font(Theme::TextStyle::callout));
            painter->setPen(Theme::orange());
        } else {
            painter->setFont(Theme::font(Theme::TextStyle::body));
            painter->setPen(Theme::label());
        }
        const QRect textRect(x, r.top(), std::max(0, textRight - x), r.height());
        painter->drawText(
            textRect, Qt::AlignLeft | Qt::AlignVCenter,
            painter->fontMetrics().elidedText(shownName(text), Qt::ElideRight, textRect.width()));
        painter->restore();
    }

private:
    QColor m_color;
    bool m_chosen;
    int m_numberWidth = 20;
};

// A list that is exactly as tall as its rows; the axis column scrolls around it. A tap, or
// Space, Return or (for chosen ports) Delete on the current row, runs `activate` with the
// row's port index. A change made by the operator moves the rows on the selection spring:
// rows that stay slide to their new places, new rows fade in, rows that go fade out where
// they were, and the list grows or shrinks to its new height.
class PortRowsView final : public QListView
{
public:
    std::function<void(int index)> activate;

    PortRowsView(PortKind kind, bool chosen, const QString &name, QWidget *parent = nullptr)
        : QListView(parent)
        , m_model(new PortRowsModel(this))
        , m_chosen(chosen)
        , m_motion(new Motion::SpringAnimation(Motion::standardSpring, this))
    {
        setObjectName(name);
        setModel(m_model);
        m_delegate = new PortRowDelegate(kind, chosen, this);
        setItemDelegate(m_delegate);
        setUniformItemSizes(true);
        setSelectionMode(NoSelection);
        setMouseTracking(true);
        setAttribute(Qt::WA_Hover);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setCursor(Qt::PointingHandCursor);
        // Reached with Tab; a click adds or removes without taking the focus.
        setFocusPolicy(Qt::TabFocus);
        makeTransparent(this);
        setFixedHeight(0);

        connect(this, &QListView::clicked, this, [this](const QModelIndex &index) {
            if (activate)
                activate(index.data(IndexRole).toInt());
        });
        m_motion->setStartValue(0.0);
        m_motion->setEndValue(1.0);
        connect(m_motion, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
            m_progress = value.toReal();
            const qreal height = m_fromHeight + (m_toHeight - m_fromHeight) * m_progress;
            setFixedHeight(std::max(0, int(std::lround(height))));
            viewport()->update();
        });
        connect(m_motion, &QAbstractAnimation::finished, this, [this] {
            m_moves.clear();
            m_leaving.clear();
            setFixedHeight(m_toHeight);
            viewport()->update();
        });
    }

    void setWidestNumber(int number)
    {
        const int before = m_delegate->numberWidth();
        m_delegate->setWidestNumber(number);
        if (m_delegate->numberWidth() != before)
            viewport()->update();
    }

    void setRows(QList<PortRow> rows, bool animated)
    {
        const bool animate
            = animated && isVisible() && (m_model->rowCount() > 0 || !rows.isEmpty());
        QHash<int, int> shownAt; // port index → where its row is drawn now
        QList<Leaving> leaving;
        if (animate) {
            QSet<int> staying;
            for (const PortRow &row : std::as_const(rows))
                staying.insert(row.index);
            const QRect visible = viewport()->visibleRegion().boundingRect();
            for (int row = 0; row < m_model->rowCount(); ++row) {
                const int port = m_model->index(row).data(IndexRole).toInt();
                const int y = drawnY(row);
                shownAt.insert(port, y);
                const QRect drawn(0, y, viewport()->width(), portRowHeight);
                // Only rows on screen are seen to go.
                if (!staying.contains(port) && drawn.intersects(visible))
                    leaving.append({ viewport()->grab(drawn), y });
            }
        }
        const int current = currentIndex().row();
        m_motion->stop();
        m_moves.clear();
        m_leaving.clear();
        m_model->setRows(std::move(rows));
        const int count = m_model->rowCount();
        if (current >= 0 && count > 0)
            setCurrentIndex(m_model->index(std::min(current, count - 1)));
        m_toHeight = count * portRowHeight;
        if (!animate) {
            setFixedHeight(m_toHeight);
            return;
        }
        for (int row = 0; row < count; ++row) {
            const int port = m_model->index(row).data(IndexRole).toInt();
            const int to = row * portRowHeight;
            const auto from = shownAt.constFind(port);
            m_moves.insert(
                row, from == shownAt.cend() ? Move { to, to, true } : Move { *from, to, false });
        }
        m_leaving = std::move(leaving);
        m_fromHeight = height();
        m_progress = 0;
        m_motion->start();
    }

    bool isMoving() const { return m_motion->state() == QAbstractAnimation::Running; }

    // Mid-move, rows are where they are drawn, for the pointer as for the eye.
    QRect visualRect(const QModelIndex &index) const override
    {
        if (!isMoving() || !index.isValid())
            return QListView::visualRect(index);
        return { 0, drawnY(index.row()), viewport()->width(), portRowHeight };
    }

    QModelIndex indexAt(const QPoint &point) const override
    {
        if (!isMoving())
            return QListView::indexAt(point);
        // Later rows are drawn over earlier ones.
        for (int row = m_model->rowCount() - 1; row >= 0; --row) {
            const QModelIndex index = m_model->index(row);
            if (visualRect(index).contains(point))
                return index;
        }
        return {};
    }

protected:
    // The column scrolls, not the rows.
    void wheelEvent(QWheelEvent *event) override { event->ignore(); }
    void scrollContentsBy(int, int) override { }

    // The keyboard's current row is kept in view by the column around the list.
    void scrollTo(const QModelIndex &index, ScrollHint) override
    {
        for (QWidget *up = parentWidget(); up; up = up->parentWidget()) {
            auto *column = qobject_cast<QScrollArea *>(up);
            if (!column || !column->widget())
                continue;
            const QRect rect = QListView::visualRect(index);
            const QPoint centre = viewport()->mapTo(column->widget(), rect.center());
            column->ensureVisible(centre.x(), centre.y(), 0, portRowHeight);
            return;
        }
    }

    void keyPressEvent(QKeyEvent *event) override
    {
        const bool plain
            = event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
        const int key = event->key();
        const bool acts = key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter
            || (m_chosen && (key == Qt::Key_Delete || key == Qt::Key_Backspace));
        if (plain && acts) {
            // Taken here, so that Return never presses the sheet's default button as well.
            event->accept();
            if (activate && currentIndex().isValid())
                activate(currentIndex().data(IndexRole).toInt());
            return;
        }
        QListView::keyPressEvent(event);
    }

    void paintEvent(QPaintEvent *event) override
    {
        if (!isMoving()) {
            QListView::paintEvent(event);
            return;
        }
        QPainter painter(viewport());
        const qreal in = std::clamp(m_progress, 0.0, 1.0);
        painter.setOpacity(1 - in);
        for (const Leaving &row : std::as_const(m_leaving))
            painter.drawPixmap(0, row.fromY, row.look);
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        // New rows fade in under the rows sliding past them, which hide what they cover.
        const QColor ground = palette().color(QPalette::Window);
        for (const bool entering : { true, false }) {
            painter.setOpacity(entering ? in : 1.0);
            for (int row = 0; row < m_model->rowCount(); ++row) {
                const QModelIndex index = m_model->index(row);
                option.rect = visualRect(index);
                if (m_moves.value(row).entering != entering
                    || !option.rect.intersects(event->rect()))
                    continue;
                if (!entering)
                    painter.fillRect(option.rect, ground);
                itemDelegate()->paint(&painter, option, index);
            }
        }
    }

private:
    struct Move
    {
        int fromY = 0;
        int toY = 0;
        bool entering = false;
    };
    struct Leaving
    {
        QPixmap look;
        int fromY = 0;
    };

    int drawnY(int row) const
    {
        const auto move = m_moves.constFind(row);
        if (!isMoving() || move == m_moves.cend())
            return row * portRowHeight;
        return int(std::lround(move->fromY + (move->toY - move->fromY) * m_progress));
    }

    PortRowsModel *m_model;
    PortRowDelegate *m_delegate = nullptr;
    const bool m_chosen;
    Motion::SpringAnimation *m_motion;
    qreal m_progress = 1;
    QHash<int, Move> m_moves; // by row of the new list
    QList<Leaving> m_leaving;
    int m_fromHeight = 0;
    int m_toHeight = 0;
};

// --- Manager rows --------------------------------------------------------------------------

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

// --- Panel menu ----------------------------------------------------------------------------

void fillPanelMenu(QMenu *menu, RouterController &controller, std::function<void()> onNew,
                   std::function<void()> onManage)
{
    menu->clear();
    // The choices' group from an earlier fill would otherwise stay behind.
    for (QActionGroup *old : menu->findChildren<QActionGroup *>(QStringLiteral("panelChoices"),
                                                                Qt::FindDirectChildrenOnly)) {
        delete old;
    }
    auto *choices = new QActionGroup(menu);
    choices->setObjectName(QStringLiteral("panelChoices"));
    choices->setExclusive(true);

    const QPointer<RouterController> guard(&controller);
    const auto addChoice
        = [&](const QIcon &icon, const QString &text, const std::optional<QUuid> &id) {
              QAction *action = menu->addAction(icon, text);
              action->setCheckable(true);
              action->setChecked(controller.activePanelID() == id);
              choices->addAction(action);
              QObject::connect(action, &QAction::triggered, menu, [guard, id] {
                  if (guard)
                      guard->setActivePanelID(id);
              });
          };
    addChoice(Symbols::icon(QStringLiteral("rectangle.grid.3x2")), QStringLiteral("Full Router"),
              std::nullopt);
    for (const SubPanel &panel : controller.panels())
        addChoice(QIcon(), escapedMnemonic(panel.name), panel.id);

    menu->addSeparator();
    QAction *add
        = menu->addAction(Symbols::icon(QStringLiteral("plus")), QStringLiteral("New Panel\u2026"));
    QObject::connect(add, &QAction::triggered, menu, [onNew] {
        if (onNew)
            onNew();
    });
    if (!controller.panels().isEmpty()) {
        QAction *manage = menu->addAction(Symbols::icon(QStringLiteral("slider.horizontal.3")),
                                          QStringLiteral("Edit Panels\u2026"));
        QObject::connect(manage, &QAction::triggered, menu, [onManage] {
            if (onManage)
                onManage();
        });
    }
}

void attachPanelMenu(QMenu *menu, RouterController &controller, std::function<void()> onNew,
                     std::function<void()> onManage)
{
    fillPanelMenu(menu, controller, onNew, onManage);
    const QPointer<RouterController> guard(&controller);
    QObject::connect(menu, &QMenu::aboutToShow, menu, [menu, guard, onNew, onManage] {
        if (guard)
            fillPanelMenu(menu, *guard, onNew, onManage);
    });
}

// --- Panel manager -------------------------------------------------------------------------

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
            return QStringLiteral("%1 in \u00d7 %2 out")
                .arg(panel.sourceIndices.size())
                .arg(panel.destinationIndices.size());
        case Qt::AccessibleTextRole: {
            QStringList parts { panel.name, data(index, CountsRole).toString() };
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
        m_controller.movePanels(rows, row < 0 || row > rowCount() ? rowCount() : row);
        return true;
    }

private:
    RouterController &m_controller;
};

// Delete (or Backspace) asks to delete the current row.
class PanelManagerSheet::PanelList final : public QListView
{
public:
    std::function<void(int)> onDelete;

    using QListView::QListView;

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
        QListView::keyPressEvent(event);
    }
};

PanelManagerSheet::PanelManagerSheet(RouterController &controller, QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
    , m_model(new PanelListModel(controller, this))
{
    setWindowTitle(QStringLiteral("Panels"));
    setFixedSize(managerWidth, managerHeight);
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
    auto *rowsPanel = new RoundedPanel;
    auto *rowsLayout = new QVBoxLayout(rowsPanel);
    rowsLayout->setContentsMargins(0, 4, 0, 4);
    m_list = new PanelList;
    m_list->setObjectName(QStringLiteral("panelList"));
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
    connect(m_list, &QListView::clicked, this, [this](const QModelIndex &index) {
        if (const std::optional<SubPanel> panel = panelAt(index.row()))
            edit(*panel);
    });
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
    buttonRow(column, { done });

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
    const QString title = QStringLiteral("Delete \u201c%1\u201d?").arg(panel.name);
    const QString message = salvos > 0
        ? QStringLiteral("Routing is not affected. Also deletes %1 saved for this panel \u2014 "
                         "they cannot be recovered.")
              .arg(counted(salvos, QStringLiteral("salvo"), QStringLiteral("salvos")))
        : QStringLiteral("Routing is not affected \u2014 only this saved panel layout is removed.");

    auto *alert = new QMessageBox(this);
    alert->setObjectName(QStringLiteral("deletePanelAlert"));
    alert->setIcon(QMessageBox::Warning);
    alert->setWindowTitle(title);
    alert->setTextFormat(Qt::PlainText);
    alert->setText(title);
    alert->setInformativeText(message);
    QPushButton *remove = alert->addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
    remove->setObjectName(QStringLiteral("deleteButton"));
    QPushButton *cancel = alert->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    alert->setDefaultButton(cancel);
    alert->setEscapeButton(cancel);
    alert->setWindowModality(Qt::WindowModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    m_deleteAlert = alert;
    connect(alert, &QMessageBox::finished, this, [this, alert, remove, panel] {
        m_deleteAlert = nullptr;
        if (alert->clickedButton() == remove)
            m_controller.deletePanel(panel);
    });
    alert->open();
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
            &QAction::triggered, this, [this, panel] { m_controller.duplicatePanel(panel); });
    if (row > 0) {
        connect(
            menu->addAction(Symbols::icon(QStringLiteral("arrow.up")), QStringLiteral("Move Up")),
            &QAction::triggered, this, [this, row] { m_controller.movePanels({ row }, row - 1); });
    }
    if (row < count - 1) {
        connect(menu->addAction(Symbols::icon(QStringLiteral("arrow.down")),
                                QStringLiteral("Move Down")),
                &QAction::triggered, this,
                [this, row] { m_controller.movePanels({ row }, row + 2); });
    }
    menu->addSeparator();
    connect(menu->addAction(Symbols::icon(QStringLiteral("trash"), Theme::red()),
                            QStringLiteral("Delete\u2026")),
            &QAction::triggered, this, [this, panel] { confirmDelete(panel); });
    menu->popup(m_list->viewport()->mapToGlobal(position));
}

// --- Panel editor --------------------------------------------------------------------------

// One axis: the chosen ports, then the available ones under "Available (<a> of <b>)" with its
// "All" and "None" buttons, scrolling together.
class PanelEditor::AxisList final : public QScrollArea
{
public:
    std::function<void(int)> onRemove;
    std::function<void(int)> onAdd;
    std::function<void()> onAll;
    std::function<void()> onNone;

    explicit AxisList(PortKind kind, QWidget *parent = nullptr)
        : QScrollArea(parent)
    {
        const bool sources = kind == PortKind::source;
        const QString axis = sources ? QStringLiteral("source") : QStringLiteral("destination");
        setObjectName(axis + QStringLiteral("Axis"));
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setFrameShape(QFrame::NoFrame);

        auto *content = new QWidget;
        auto *column = new QVBoxLayout(content);
        column->setContentsMargins(4, 8, 4, 12);
        column->setSpacing(2);

        auto *chosenHeader = new QHBoxLayout;
        chosenHeader->setContentsMargins(12, 0, 12, 2);
        chosenHeader->setSpacing(5);
        chosenHeader->addWidget(
            symbolLabel(sources ? QStringLiteral("arrow.right") : QStringLiteral("arrow.down"), 12,
                        axisColor(kind), this));
        auto *chosenTitle = plainLabel(sources ? QStringLiteral("Sources in panel")
                                               : QStringLiteral("Destinations in panel"));
        chosenTitle->setFont(Theme::font(Theme::TextStyle::caption, QFont::DemiBold));
        setForeground(chosenTitle, axisColor(kind));
        chosenHeader->addWidget(chosenTitle, 1);
        column->addLayout(chosenHeader);
        m_chosen = new PortRowsView(kind, true, axis + QStringLiteral("Chosen"));
        column->addWidget(m_chosen);

        column->addSpacing(12);
        auto *availableHeader = new QHBoxLayout;
        availableHeader->setContentsMargins(12, 0, 8, 2);
        availableHeader->setSpacing(4);
        m_availableTitle = plainLabel();
        m_availableTitle->setObjectName(axis + QStringLiteral("AvailableTitle"));
        m_availableTitle->setFont(Theme::font(Theme::TextStyle::caption, QFont::DemiBold));
        setForeground(m_availableTitle, Theme::secondaryLabel());
        availableHeader->addWidget(m_availableTitle, 1);
        m_allButton = headerButton(QStringLiteral("All"), axis + QStringLiteral("All"));
        m_noneButton = headerButton(QStringLiteral("None"), axis + QStringLiteral("None"));
        availableHeader->addWidget(m_allButton);
        availableHeader->addWidget(m_noneButton);
        column->addLayout(availableHeader);
        m_available = new PortRowsView(kind, false, axis + QStringLiteral("Available"));
        column->addWidget(m_available);
        column->addStretch();
        setWidget(content);

        m_chosen->activate = [this](int index) {
            if (onRemove)
                onRemove(index);
        };
        m_available->activate = [this](int index) {
            if (onAdd)
                onAdd(index);
        };
        connect(m_allButton, &QPushButton::clicked, this, [this] {
            if (onAll)
                onAll();
        });
        connect(m_noneButton, &QPushButton::clicked, this, [this] {
            if (onNone)
                onNone();
        });
    }

    void setRows(QList<PortRow> chosen, QList<PortRow> available, int total, bool canClear,
                 bool animated)
    {
        m_availableTitle->setText(
            QStringLiteral("Available (%1 of %2)").arg(available.size()).arg(total));
        m_allButton->setVisible(!available.isEmpty());
        m_noneButton->setVisible(canClear);
        int widest = total;
        for (const PortRow &row : std::as_const(chosen))
            widest = std::max(widest, row.index + 1); // a saved port beyond the router's
        m_chosen->setWidestNumber(widest);
        m_available->setWidestNumber(widest);
        m_chosen->setRows(std::move(chosen), animated);
        m_available->setRows(std::move(available), animated);
    }

private:
    PortRowsView *m_chosen = nullptr;
    PortRowsView *m_available = nullptr;
    QLabel *m_availableTitle = nullptr;
    QPushButton *m_allButton = nullptr;
    QPushButton *m_noneButton = nullptr;
};

namespace {

QList<int> normalised(QList<int> indices)
{
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    return indices;
}

} // namespace

PanelEditor::PanelEditor(RouterController &controller, const SubPanel &panel, bool isNew,
                         QWidget *parent)
    : QDialog(parent)
    , m_controller(controller)
    , m_panel(panel)
    , m_isNew(isNew)
{
    const QString title = isNew ? QStringLiteral("New Panel") : QStringLiteral("Edit Panel");
    setWindowTitle(title);
    setFixedSize(editorWidth, editorHeight);
    m_panel.sourceIndices = normalised(m_panel.sourceIndices);
    m_panel.destinationIndices = normalised(m_panel.destinationIndices);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(16, 14, 16, 0);
    auto *heading = plainLabel(title);
    Theme::apply(heading, Theme::TextStyle::title3, QFont::DemiBold);
    bar->addWidget(heading);
    bar->addStretch();
    m_searchField = new QLineEdit;
    m_searchField->setObjectName(QStringLiteral("searchField"));
    m_searchField->setPlaceholderText(QStringLiteral("Filter ports"));
    m_searchField->setClearButtonEnabled(true);
    m_searchField->addAction(
        Symbols::icon(QStringLiteral("magnifyingglass"), Theme::secondaryLabel()),
        QLineEdit::LeadingPosition);
    m_searchField->setFixedWidth(220);
    bar->addWidget(m_searchField);
    column->addLayout(bar);

    auto *nameRow = new QHBoxLayout;
    nameRow->setContentsMargins(16, 12, 16, 0);
    m_nameField = new QLineEdit(m_panel.name);
    m_nameField->setObjectName(QStringLiteral("nameField"));
    m_nameField->setPlaceholderText(QStringLiteral("Panel Name"));
    m_nameField->setAccessibleName(QStringLiteral("Panel Name"));
    m_nameField->setFont(Theme::font(Theme::TextStyle::body, QFont::Medium));
    m_nameField->setMinimumHeight(28);
    nameRow->addWidget(m_nameField);
    column->addLayout(nameRow);

    m_warning = new QWidget;
    m_warning->setObjectName(QStringLiteral("missingWarning"));
    auto *warningRow = new QHBoxLayout(m_warning);
    warningRow->setContentsMargins(16, 8, 16, 0);
    warningRow->setSpacing(5);
    warningRow->addWidget(
        symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), 12, Theme::orange(), this));
    m_warningText = plainLabel();
    m_warningText->setObjectName(QStringLiteral("missingWarningText"));
    m_warningText->setWordWrap(true);
    m_warningText->setFont(Theme::font(Theme::TextStyle::caption));
    setForeground(m_warningText, Theme::orange());
    warningRow->addWidget(m_warningText, 1);
    column->addWidget(m_warning);

    auto *lists = new QHBoxLayout;
    lists->setContentsMargins(0, 4, 0, 0);
    lists->setSpacing(0);
    m_sources = new AxisList(PortKind::source);
    m_destinations = new AxisList(PortKind::destination);
    auto *divider = new QWidget;
    divider->setFixedWidth(1);
    divider->setAutoFillBackground(true);
    QPalette pal = divider->palette();
    pal.setColor(QPalette::Window, Theme::separator());
    divider->setPalette(pal);
    lists->addWidget(m_sources, 1);
    lists->addWidget(divider);
    lists->addWidget(m_destinations, 1);
    column->addSpacing(8);
    column->addWidget(hairline());
    column->addLayout(lists, 1);

    auto *cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_saveButton = new QPushButton;
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    m_saveButton->setDefault(true);
    connect(m_saveButton, &QPushButton::clicked, this, &PanelEditor::commit);
    buttonRow(column, { cancel, m_saveButton });

    connect(m_nameField, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_panel.name = text;
        refresh();
    });
    connect(m_searchField, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_search = text;
        refresh();
    });
    for (AxisList *list : { m_sources, m_destinations }) {
        const PortKind kind = list == m_sources ? PortKind::source : PortKind::destination;
        list->onRemove = [this, kind](int index) {
            QList<int> indices
                = kind == PortKind::source ? m_panel.sourceIndices : m_panel.destinationIndices;
            indices.removeAll(index);
            setIndices(kind, indices);
        };
        list->onAdd = [this, kind](int index) {
            QList<int> indices
                = kind == PortKind::source ? m_panel.sourceIndices : m_panel.destinationIndices;
            indices.append(index);
            setIndices(kind, indices);
        };
        list->onAll = [this, kind] {
            const QList<Port> &all = kind == PortKind::source ? m_controller.state().sources
                                                              : m_controller.state().destinations;
            QList<int> indices
                = kind == PortKind::source ? m_panel.sourceIndices : m_panel.destinationIndices;
            for (const Port &port : all) {
                if (!indices.contains(port.index) && matchesSearch(port))
                    indices.append(port.index);
            }
            setIndices(kind, indices);
        };
        list->onNone = [this, kind] {
            const QList<Port> &all = kind == PortKind::source ? m_controller.state().sources
                                                              : m_controller.state().destinations;
            QList<int> indices
                = kind == PortKind::source ? m_panel.sourceIndices : m_panel.destinationIndices;
            for (const Port &port : all) {
                if (matchesSearch(port))
                    indices.removeAll(port.index);
            }
            setIndices(kind, indices);
        };
    }
    // Labels and port lists may change while the sheet is open.
    connect(&controller, &RouterController::stateChanged, this, [this] {
        const RouterState &state = m_controller.state();
        if (state.sources != m_shownSources || state.destinations != m_shownDestinations)
            refresh();
    });

    refresh();
    m_nameField->setFocus();
}

PanelEditor::~PanelEditor() = default;

int PanelEditor::missingCount() const
{
    QSet<int> sources;
    for (const Port &port : m_controller.state().sources)
        sources.insert(port.index);
    QSet<int> destinations;
    for (const Port &port : m_controller.state().destinations)
        destinations.insert(port.index);
    const auto missing = [](const QList<int> &indices, const QSet<int> &present) {
        return int(std::count_if(indices.begin(), indices.end(),
                                 [&](int index) { return !present.contains(index); }));
    };
    return missing(m_panel.sourceIndices, sources)
        + missing(m_panel.destinationIndices, destinations);
}

bool PanelEditor::isSavable() const
{
    return !m_panel.name.trimmed().isEmpty() && !m_panel.sourceIndices.isEmpty()
        && !m_panel.destinationIndices.isEmpty();
}

bool PanelEditor::matchesSearch(const Port &port) const
{
    if (m_search.isEmpty())
        return true;
    if (port.label.contains(m_search, Qt::CaseInsensitive))
        return true;
    return QString::number(port.index + 1) == m_search;
}

void PanelEditor::setIndices(PortKind kind, QList<int> indices)
{
    std::sort(indices.begin(), indices.end());
    (kind == PortKind::source ? m_panel.sourceIndices : m_panel.destinationIndices)
        = std::move(indices);
    refresh(true);
}

void PanelEditor::refresh(bool animated)
{
    m_shownSources = m_controller.state().sources;
    m_shownDestinations = m_controller.state().destinations;
    const int missing = missingCount();
    m_warning->setVisible(missing > 0);
    m_warningText->setText(
        QStringLiteral("%1 not on this router \u2014 kept for when it returns.")
            .arg(counted(missing, QStringLiteral("saved port"), QStringLiteral("saved ports"))));
    m_saveButton->setText(QStringLiteral("Save (%1\u00d7%2)")
                              .arg(m_panel.sourceIndices.size())
                              .arg(m_panel.destinationIndices.size()));
    m_saveButton->setEnabled(isSavable());

    for (const PortKind kind : { PortKind::source, PortKind::destination }) {
        const QList<Port> &all = kind == PortKind::source ? m_controller.state().sources
                                                          : m_controller.state().destinations;
        const QList<int> &chosen
            = kind == PortKind::source ? m_panel.sourceIndices : m_panel.destinationIndices;
        QHash<int, const Port *> byIndex;
        for (const Port &port : all)
            byIndex.insert(port.index, &port);

        QList<PortRow> chosenRows;
        bool canClear = false;
        for (const int index : chosen) {
            const Port *port = byIndex.value(index);
            chosenRows.append({ index, port ? std::optional(port->label) : std::nullopt });
            canClear = canClear || (port && matchesSearch(*port));
        }
        const QSet<int> chosenSet(chosen.begin(), chosen.end());
        QList<PortRow> availableRows;
        for (const Port &port : all) {
            if (!chosenSet.contains(port.index) && matchesSearch(port))
                availableRows.append({ port.index, port.label });
        }
        AxisList *list = kind == PortKind::source ? m_sources : m_destinations;
        list->setRows(std::move(chosenRows), std::move(availableRows), int(all.size()), canClear,
                      animated);
    }
}

void PanelEditor::commit()
{
    if (!isSavable())
        return;
    m_panel.name = m_panel.name.trimmed();
    m_controller.savePanel(m_panel);
    if (m_isNew)
        m_controller.setActivePanelID(m_panel.id);
    accept();
}
