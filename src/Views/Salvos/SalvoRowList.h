#pragma once

#include "Model/RouterModels.h"

#include <QHash>
#include <QList>
#include <QWidget>

#include <functional>

class QScrollArea;
class QVBoxLayout;
class SalvoRow;

// The rows of one section of the salvo manager, one under the other with a hairline between
// them. Rows are made only for the salvos on screen, a screenful above and below, and any row
// that holds the keyboard or an open preview; the others are space of a closed row's height,
// so the list scrolls as if every row were there and thousands of salvos cost a few dozen
// rows. Rows made earlier stay while their salvo is listed, and show it as it is now.
//
//     auto *list = new SalvoRowList(*scroll, [&](const Salvo &salvo) { return newRow(salvo); });
//     list->setSalvos(controller.visibleSalvos());
class SalvoRowList final : public QWidget
{
    Q_OBJECT

public:
    using MakeRow = std::function<SalvoRow *(const Salvo &)>;

    // `scroll` is the area the list scrolls in; `make` builds the row of a salvo coming into
    // view, which the list then owns.
    SalvoRowList(QScrollArea &scroll, MakeRow make, QWidget *parent = nullptr);

    void setSalvos(const QList<Salvo> &salvos);
    const QList<Salvo> &salvos() const { return m_salvos; }
    // The row of that salvo, when it is made.
    SalvoRow *row(const QUuid &id) const { return m_rows.value(id); }
    QList<SalvoRow *> rows() const { return m_rows.values(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // Makes the rows now in view, lets go of those far from it, and lays them out.
    void place();
    void placeLater();
    int heightOf(SalvoRow *row) const;
    // The top of the row at `index`, counting the made rows at their own heights.
    int topOf(qsizetype index) const;
    qsizetype indexAt(int y) const;
    void layOut();

    QScrollArea &m_scroll;
    MakeRow m_make;
    QVBoxLayout *m_column = nullptr;
    QList<Salvo> m_salvos;
    QHash<QUuid, qsizetype> m_positions;
    QHash<QUuid, SalvoRow *> m_rows;
    QList<qsizetype> m_laidOut; // the positions of the rows in the layout, in order
    int m_closedHeight = 0; // of a row without its preview
    int m_laidOutClosed = 0;
    bool m_placing = false;
    bool m_placeQueued = false;
};
