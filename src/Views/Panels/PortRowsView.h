#pragma once

#include "Model/RouterModels.h"
#include "Theme/AccessibleRows.h"

#include <QHash>
#include <QList>
#include <QListView>
#include <QPixmap>
#include <QString>

#include <functional>
#include <optional>

namespace Motion {
class SpringAnimation;
}

// The panel editor's port lists.
namespace PanelSheet {

// One axis section's rows: a port index, and its label unless the router lacks the port.
struct PortRow
{
    int index = 0;
    std::optional<QString> label;
};

class PortRowsModel;
class PortRowDelegate;

// A list that is exactly as tall as its rows; the axis column scrolls around it. A tap, or
// Space, Return or (for chosen ports) Delete on the current row, runs `activate` with the
// row's port index. A change made by the operator moves the rows on the selection spring:
// rows that stay slide to their new places, new rows fade in, rows that go fade out where
// they were, and the list grows or shrinks to its new height.
class PortRowsView final : public QListView, public AccessibleRows
{
public:
    std::function<void(int index)> activate;

    PortRowsView(PortKind kind, bool chosen, const QString &name, QWidget *parent = nullptr);

    // Widens the number column to fit `number`.
    void setWidestNumber(int number);
    // Shows `rows`; `animated`: the operator changed them, and they move to their new places.
    void setRows(QList<PortRow> rows, bool animated);
    bool isMoving() const;

    // A screen reader's press on a row is its tap.
    QStringList rowActions(const QModelIndex &row) const override;
    void doRowAction(const QModelIndex &row, const QString &action) override;

    // Mid-move, rows are where they are drawn, for the pointer as for the eye.
    QRect visualRect(const QModelIndex &index) const override;
    QModelIndex indexAt(const QPoint &point) const override;

protected:
    // The column scrolls, not the rows.
    void wheelEvent(QWheelEvent *event) override;
    void scrollContentsBy(int, int) override { }

    // The keyboard's current row is kept in view by the column around the list.
    void scrollTo(const QModelIndex &index, ScrollHint) override;

    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

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

    int drawnY(int row) const;

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

} // namespace PanelSheet
