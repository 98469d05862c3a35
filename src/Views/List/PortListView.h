#pragma once

#include "Theme/AccessibleRows.h"
#include "Theme/GlassKit.h"
#include "Views/List/PortRowsModel.h"
#include "Views/List/RowAnimator.h"

#include <QListView>
#include <QTimer>

#include <functional>
#include <optional>

namespace DestinationList {

// The scrolling rows of a pane. Taps are reported by port index; the list selection and
// current index are not used, since selection lives in the controller. Screen readers get
// each row's tap, rename and menu as actions, and a tappable badge as a check box of its own.
class PortListView final : public QListView, public AccessibleRows
{
public:
    // What a tap does, decided when the tap happens; it may run a moment later.
    using TapWork = std::function<void()>;

    struct Handlers
    {
        // Called at the tap, so that the port, direction and take mode it acts on are those
        // the operator saw; the work it returns runs once the tap is known not to begin a
        // double tap.
        std::function<TapWork(int port)> tap;
        std::function<void(int port)> doubleTap;
        std::function<void(int port)> badgeTap; // only where the model offers it
        std::function<void(QWidget *owner, int port, QPoint globalPos)> contextMenu;
    };

    PortListView(PortRowsModel *model, QColor tint, Handlers handlers, QWidget *parent);
    ~PortListView() override;

    void setBottomClearance(int clearance);

    // Fades the rows in, as after a panel change.
    void appear();

    static const QString renameAction;

    QStringList rowActions(const QModelIndex &row) const override;
    void doRowAction(const QModelIndex &row, const QString &action) override;
    QAccessible::State rowState(const QModelIndex &row) const override;
    std::optional<Part> rowPart(const QModelIndex &row) const override;
    void pressRowPart(const QModelIndex &row) override;

protected:
    void updateGeometries() override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    struct Hit
    {
        std::optional<int> port;
        bool onBadge = false;
    };

    Hit hit(const QPoint &pos) const;
    void tapNow(int port);
    void runPendingTap();
    bool inputArrives(QObject *receiver, QEvent *event);

    struct PendingTap
    {
        int port = 0;
        TapWork work;
    };

    PortRowsModel *m_model;
    RowAnimator m_animator { viewport(), [this](int port) {
                                const std::optional<int> row = m_model->rowOfPort(port);
                                return row ? visualRect(m_model->index(*row)) : QRect();
                            } };
    Handlers m_handlers;
    int m_clearance = GlassKit::defaultControlBarClearance;
    Hit m_pressed;
    std::optional<PendingTap> m_pendingTap;
    std::optional<int> m_lastTapPort; // where the second press of a double tap must land
    QTimer m_tapTimer;
    QObject *m_inputWatch = nullptr; // watches the application while a tap waits
};

} // namespace DestinationList
