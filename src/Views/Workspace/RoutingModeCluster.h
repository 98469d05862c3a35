#pragma once

#include <QWidget>

class RouterController;

namespace ControlBarParts {
class SegmentedPicker;
class Divider;
} // namespace ControlBarParts

// How routing works for one router: the take-mode picker ("Direct" / "Take") and, in list view
// mode only, the routing-direction picker ("X-Y" / "1 → Many"). It keeps no state: both
// pickers show the controller's values; a take-mode choice writes `takeMode`, a direction
// choice goes through setDirection().
//
//     auto *cluster = new RoutingModeCluster(controller, true, header);
//
// With `standalone` true (how the workspace shows it, beside the device header) the row sits
// on its own floating capsule; with false it is bare, for another container. Shown at its
// ideal size (sizeHint); the controller must outlive it.
class RoutingModeCluster final : public QWidget
{
    Q_OBJECT

public:
    RoutingModeCluster(RouterController &controller, bool standalone, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();

    RouterController &m_controller;
    const bool m_standalone;
    ControlBarParts::SegmentedPicker *m_takeMode = nullptr;
    ControlBarParts::Divider *m_divider = nullptr;
    ControlBarParts::SegmentedPicker *m_direction = nullptr;
};
