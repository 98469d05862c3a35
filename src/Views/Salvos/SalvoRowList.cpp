#include "Views/Salvos/SalvoRowList.h"

#include "Theme/Theme.h"
#include "Views/Salvos/SalvoRow.h"

#include <QEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

SalvoRowList::SalvoRowList(QScrollArea &scroll, MakeRow make, QWidget *parent)
    : QWidget(parent)
    , m_scroll(scroll)
    , m_make(std::move(make))
{
    setObjectName(QStringLiteral("salvoRowList"));
    m_column = new QVBoxLayout(this);
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(0);
    m_scroll.viewport()->installEventFilter(this);
    // Scrolled rows are made before the new part of the list is drawn.
    connect(m_scroll.verticalScrollBar(), &QScrollBar::valueChanged, this, &SalvoRowList::place);
}

void SalvoRowList::setSalvos(const QList<Salvo> &salvos)
{
    m_salvos = salvos;
    m_positions.clear();
    m_positions.reserve(salvos.size());
    for (qsizetype i = 0; i < salvos.size(); ++i)
        m_positions.insert(salvos.at(i).id, i);
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        const qsizetype at = m_positions.value(it.key(), -1);
        if (at >= 0) {
            (*it)->setSalvo(salvos.at(at));
            ++it;
            continue;
        }
        // A row may be the sender of what led here.
        (*it)->hide();
        (*it)->deleteLater();
        it = m_rows.erase(it);
    }
    m_laidOut.clear(); // positions may have moved
    place();
}

bool SalvoRowList::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_scroll.viewport() && event->type() == QEvent::Resize)
        placeLater();
    return QWidget::eventFilter(watched, event);
}

void SalvoRowList::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    placeLater(); // what lies above the list changed
}

void SalvoRowList::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeLater();
}

void SalvoRowList::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        if (m_positions.value(it.key()) > 0 && !(*it)->isHidden())
            painter.fillRect(0, (*it)->y() - 1, width(), 1, Theme::separator());
    }
}

void SalvoRowList::placeLater()
{
    if (std::exchange(m_placeQueued, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_placeQueued = false;
            place();
        },
        Qt::QueuedConnection);
}

int SalvoRowList::heightOf(SalvoRow *row) const
{
    if (row->hasHeightForWidth() && width() > 0)
        return row->heightForWidth(width());
    return row->sizeHint().height();
}

int SalvoRowList::topOf(qsizetype index) const
{
    // A hairline above every row but the first.
    int top = int(index) * (m_closedHeight + 1);
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        if (m_positions.value(it.key()) < index)
            top += heightOf(*it) - m_closedHeight;
    }
    return top;
}

qsizetype SalvoRowList::indexAt(int y) const
{
    const qsizetype last = m_salvos.size() - 1;
    qsizetype index = std::clamp<qsizetype>(y / std::max(1, m_closedHeight + 1), 0, last);
    while (index > 0 && topOf(index) > y)
        --index;
    while (index < last && topOf(index + 1) <= y)
        ++index;
    return index;
}

void SalvoRowList::place()
{
    if (m_placing) {
        placeLater();
        return;
    }
    const QScopedValueRollback placing(m_placing, true);
    if (!m_salvos.isEmpty() && m_rows.isEmpty()) {
        // A row to measure a closed row by.
        const Salvo &salvo = m_salvos.first();
        SalvoRow *row = m_make(salvo);
        row->setParent(this);
        m_rows.insert(salvo.id, row);
    }
    m_closedHeight = 0;
    for (SalvoRow *row : std::as_const(m_rows)) {
        const int height = heightOf(row);
        m_closedHeight = m_closedHeight == 0 ? height : std::min(m_closedHeight, height);
    }

    if (!m_salvos.isEmpty()) {
        // The part in view, and a screenful above and below it, so that scrolling and the
        // keyboard find rows made before they come into view.
        QWidget *viewport = m_scroll.viewport();
        const int top = viewport->isAncestorOf(this) ? mapFrom(viewport, QPoint(0, 0)).y() : 0;
        const int screen = std::max(viewport->height(), 480);
        const qsizetype first = indexAt(top - screen);
        const qsizetype last = indexAt(top + 2 * screen);
        const QWidget *focus = window()->focusWidget();
        for (auto it = m_rows.begin(); it != m_rows.end();) {
            const qsizetype at = m_positions.value(it.key());
            SalvoRow *row = *it;
            const bool held
                = row->isExpanded() || (focus && (row == focus || row->isAncestorOf(focus)));
            if ((at >= first && at <= last) || held) {
                ++it;
                continue;
            }
            row->hide();
            row->deleteLater();
            it = m_rows.erase(it);
        }
        for (qsizetype at = first; at <= last; ++at) {
            const Salvo &salvo = m_salvos.at(at);
            if (m_rows.contains(salvo.id))
                continue;
            SalvoRow *row = m_make(salvo);
            row->setParent(this);
            m_rows.insert(salvo.id, row);
        }
    }
    layOut();
}

void SalvoRowList::layOut()
{
    QList<qsizetype> order;
    order.reserve(m_rows.size());
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it)
        order.append(m_positions.value(it.key()));
    std::sort(order.begin(), order.end());
    if (!m_laidOut.isEmpty() && order == m_laidOut && m_laidOutClosed == m_closedHeight)
        return;

    while (QLayoutItem *item = m_column->takeAt(0))
        delete item; // the rows stay
    const int closed = m_closedHeight;
    // Rows [from, to) as closed rows, with the hairline above each but the first of the list.
    const auto space = [closed](qsizetype from, qsizetype to) {
        return int(to - from) * (closed + 1) - (from == 0 && to > 0 ? 1 : 0);
    };
    qsizetype next = 0;
    for (const qsizetype at : std::as_const(order)) {
        if (const int gap = space(next, at) + (at > 0 ? 1 : 0); gap > 0)
            m_column->addSpacing(gap);
        SalvoRow *row = m_rows.value(m_salvos.at(at).id);
        m_column->addWidget(row);
        row->show();
        next = at + 1;
    }
    if (const int rest = space(next, m_salvos.size()); rest > 0)
        m_column->addSpacing(rest);
    m_laidOut = order;
    m_laidOutClosed = closed;
    updateGeometry(); // the list's own height changed with its rows
    update();
}
