#include "Views/Panels/PortRowsView.h"

#include "Platform/Gui/Symbols.h"
#include "Platform/Text.h"
#include "Theme/Controls.h"
#include "Theme/Motion.h"
#include "Theme/Theme.h"
#include "Views/Panels/PanelSheetKit.h"

#include <QAbstractListModel>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollArea>
#include <QSet>
#include <QStyledItemDelegate>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace PanelSheet {

namespace {

constexpr int portRowHeight = 26;

enum PortRole { IndexRole = Qt::UserRole + 1, MissingRole };

} // namespace

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
            return row.label
                ? Text::format(QStringLiteral("Port %1: %2"), row.index + 1, spokenName(*row.label))
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
        if (option.state & QStyle::State_HasFocus) // the keyboard's row: Space adds or removes it
            Theme::paintFocusRing(*painter, QRectF(option.rect).adjusted(4, 1, -4, -1), 6);
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

QStringList PortRowsView::rowActions(const QModelIndex &) const
{
    return { QAccessibleActionInterface::pressAction() };
}

void PortRowsView::doRowAction(const QModelIndex &row, const QString &action)
{
    if (action == QAccessibleActionInterface::pressAction() && activate)
        activate(row.data(IndexRole).toInt());
}

PortRowsView::PortRowsView(PortKind kind, bool chosen, const QString &name, QWidget *parent)
    : QListView(parent)
    , m_model(new PortRowsModel(this))
    , m_chosen(chosen)
    , m_motion(new Motion::SpringAnimation(Motion::standardSpring, this))
{
    AccessibleRows::install();
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

void PortRowsView::setWidestNumber(int number)
{
    const int before = m_delegate->numberWidth();
    m_delegate->setWidestNumber(number);
    if (m_delegate->numberWidth() != before)
        viewport()->update();
}

void PortRowsView::setRows(QList<PortRow> rows, bool animated)
{
    const bool animate = animated && isVisible() && (m_model->rowCount() > 0 || !rows.isEmpty());
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
    // An empty list is no place for the keyboard: it would hold it unseen.
    setFocusPolicy(count > 0 ? Qt::TabFocus : Qt::NoFocus);
    if (count == 0 && hasFocus())
        focusNextChild();
    if (!animate) {
        setFixedHeight(m_toHeight);
        return;
    }
    for (int row = 0; row < count; ++row) {
        const int port = m_model->index(row).data(IndexRole).toInt();
        const int to = row * portRowHeight;
        const auto from = shownAt.constFind(port);
        m_moves.insert(row,
                       from == shownAt.cend() ? Move { to, to, true } : Move { *from, to, false });
    }
    m_leaving = std::move(leaving);
    m_fromHeight = height();
    m_progress = 0;
    m_motion->start();
}

QRect PortRowsView::visualRect(const QModelIndex &index) const
{
    if (!isMoving() || !index.isValid())
        return QListView::visualRect(index);
    return { 0, drawnY(index.row()), viewport()->width(), portRowHeight };
}

bool PortRowsView::isMoving() const
{
    return m_motion->state() == QAbstractAnimation::Running;
}

QModelIndex PortRowsView::indexAt(const QPoint &point) const
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

void PortRowsView::wheelEvent(QWheelEvent *event)
{
    event->ignore();
}

void PortRowsView::scrollTo(const QModelIndex &index, ScrollHint)
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

void PortRowsView::keyPressEvent(QKeyEvent *event)
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

void PortRowsView::paintEvent(QPaintEvent *event)
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
            if (m_moves.value(row).entering != entering || !option.rect.intersects(event->rect()))
                continue;
            // The keyboard's row keeps its ring while the rows move.
            option.state.setFlag(QStyle::State_HasFocus, hasFocus() && index == currentIndex());
            if (!entering)
                painter.fillRect(option.rect, ground);
            itemDelegate()->paint(&painter, option, index);
        }
    }
}

int PortRowsView::drawnY(int row) const
{
    const auto move = m_moves.constFind(row);
    if (!isMoving() || move == m_moves.cend())
        return row * portRowHeight;
    return int(std::lround(move->fromY + (move->toY - move->fromY) * m_progress));
}

} // namespace PanelSheet
