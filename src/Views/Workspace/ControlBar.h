#pragma once

#include <QList>
#include <QWidget>

class QVariantAnimation;
class RouterController;

namespace ControlBarParts {
class SegmentedPicker;
class GlassButton;
class Divider;
class TextLine;
} // namespace ControlBarParts

// The floating bar the workspace lays over the bottom of the routing area: the level picker
// and Follow/Breakaway (two or more levels), the cell-size stepper (matrix view mode) and the
// take cluster with Clear and Take (confirm take mode; Return presses Take).
//
//     auto *bar = new ControlBar(controller, routingArea);
//
// Give it the full width of the routing area: it centres itself in that width, at most 820
// wide, and picks one, two or three rows by the width it gets. Its height depends on that
// width (heightForWidth()), so place it through a layout, e.g. bottom-aligned in the grid cell
// of the routing content; outside the bar itself it lets clicks through to what lies below.
// It hides itself while hasContent(controller, false) is false and shows itself again when
// content returns (a bar its creator hid stays hidden). heightChanged() reports its height.
// It keeps no routing state; the controller must outlive it.
class ControlBar final : public QWidget
{
    Q_OBJECT

public:
    explicit ControlBar(RouterController &controller, QWidget *parent = nullptr);
    ~ControlBar() override;

    // Whether the bar has anything to show: always with `compactWidth`, else with two or more
    // levels, in matrix view mode, or in confirm take mode. The workspace passes false and
    // keeps the bottom clearance at zero when this is false.
    static bool hasContent(const RouterController &controller, bool compactWidth);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

signals:
    // The bar's height in pixels whenever it changes; 0 while the bar is hidden.
    void heightChanged(int height);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    enum class Arrangement { singleRow, twoRow, threeRow };
    struct Row
    {
        QList<QWidget *> items;
    };
    struct Placement
    {
        Arrangement arrangement = Arrangement::singleRow;
        QList<Row> rows;
        QSize content; // the rows' ideal size, without the insets
    };

    void build();
    void bind();
    void refresh();
    void applyPresence();
    void refreshLevels();
    void refreshFollow();
    void refreshTakeCluster();
    void onPrimaryLevelChanged();

    QList<Row> rowsOf(Arrangement arrangement) const;
    QSize idealSize(const QList<Row> &rows) const;
    Placement placementFor(int width) const;
    void relayout();
    void moveFrame();
    void setPaintedRect(const QRectF &rect);
    void reportHeight();
    QString targetText(const QList<int> &destinations) const;
    QString emptyHint() const;

    RouterController &m_controller;
    ControlBarParts::SegmentedPicker *m_levelPicker = nullptr;
    ControlBarParts::GlassButton *m_followButton = nullptr;
    ControlBarParts::Divider *m_zoomDivider = nullptr;
    QWidget *m_zoom = nullptr;
    ControlBarParts::Divider *m_takeDivider = nullptr;
    QWidget *m_takeCluster = nullptr;
    ControlBarParts::TextLine *m_stagedSource = nullptr;
    ControlBarParts::TextLine *m_stagedTargets = nullptr;
    ControlBarParts::TextLine *m_emptyHint = nullptr;
    ControlBarParts::GlassButton *m_clearButton = nullptr;
    ControlBarParts::GlassButton *m_takeButton = nullptr;

    QRect m_barRect; // where the bar's frame belongs
    QRectF m_paintedRect; // where it is drawn, on its way there
    QVariantAnimation *m_frameAnimation = nullptr;
    bool m_springNext = false;
    bool m_hiddenByBar = false;
    int m_reportedHeight = -1;
};
