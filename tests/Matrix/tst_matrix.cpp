// The crosspoint matrix driven as an operator would: clicks, double clicks, context menus and
// hovering on the drawn matrix, checked by what reaches the controller.
#include "ControllerRig.h"
#include "EventFlood.h"
#include "PopupMenus.h"
#include "SteppedAnimations.h"
#include "Theme/GlassKit.h"
#include "Theme/PaintedText.h"
#include "Views/Matrix/CrosspointCells.h"
#include "Views/Matrix/CrosspointMatrixView.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAction>
#include <QApplication>
#include <QBitmap>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <functional>
#include <memory>

namespace {

constexpr double kCell = 44;
constexpr double kGap = 5;
constexpr int kHoverLimit = 1600;

// Remembers what the viewport repainted, and tells `onPaint` of each paint before it is drawn.
class PaintRecorder final : public QObject
{
public:
    explicit PaintRecorder(QWidget *viewport) { viewport->installEventFilter(this); }
    QRegion painted;
    std::function<void(const QRegion &)> onPaint;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            const QRegion &region = static_cast<QPaintEvent *>(event)->region();
            painted += region;
            if (onPaint)
                onPaint(region);
        }
        return false;
    }
};

struct MatrixRig
{
    explicit MatrixRig(int sources, int destinations, double cell = kCell)
        : MatrixRig(makeState(sources, destinations), cell)
    { }

    explicit MatrixRig(const RouterState &state, double cell = kCell, int limit = kHoverLimit,
                       QSize size = QSize(1400, 1000))
    {
        driver = &rig.connectWith(state);
        view = std::make_unique<CrosspointMatrixView>(controller(), cell, kGap, limit);
        view->resize(size);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        ControllerRig::settle();
    }

    RouterController &controller() { return *rig.controller; }
    QWidget *viewport() { return view->viewport(); }

    QPoint cellCentre(int column, int row) { return view->cellRect(column, row).center(); }
    void click(QPoint at) { QTest::mouseClick(viewport(), Qt::LeftButton, {}, at); }
    void doubleClick(QPoint at) { QTest::mouseDClick(viewport(), Qt::LeftButton, {}, at); }
    void moveTo(QPoint at)
    {
        QMouseEvent move(QEvent::MouseMove, at, viewport()->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewport(), &move);
    }
    QStringList menuTexts(QPoint at)
    {
        std::unique_ptr<QMenu> menu(view->contextMenu(at));
        QStringList texts;
        if (menu) {
            for (QAction *action : menu->actions())
                texts.append(action->text());
        }
        return texts;
    }
    // Pops the header's menu up as a right click does and clicks the item on its rectangle.
    void triggerMenu(QPoint at, int item)
    {
        QMenu *menu = PopupMenus::rightClick(viewport(), at);
        QVERIFY(menu);
        QVERIFY(PopupMenus::choose(menu, menu->actions().at(item)->text(), view.get()));
        ControllerRig::settle();
    }

    QImage image() { return viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    ControllerRig rig;
    FakeRouterDriver *driver = nullptr;
    std::unique_ptr<CrosspointMatrixView> view;
};

} // namespace

class TestMatrix : public QObject
{
    Q_OBJECT

private slots:
    void crosspointClick_data();
    void crosspointClick();
    void lockedDestination();
    void drawnFieldHitTest();
    void clicksTakeOnlyWhatShows();
    void hoverLimit();
    void destinationHeader();
    void sourceHeader();
    void routeToPendingDestination();
    void headerSizes();
    void rowData();
    void canvasAndCellsAgree();
    void signalHelp();
    void cellSizes();
    void clearanceAndPinning();
    void routeChangeRepaintsOneRow();
    void routeShownDuringLabelFlood();
    void motionMovesOnlyWhatChangesAndComesToRest();
    void screenReaderSeesHeadersAndCrosspoints();
    void screenReaderRoutesTheDrawnField();
    void paintedNumbersFit();
};

void TestMatrix::crosspointClick_data()
{
    // The routing direction never changes what a crosspoint does; the take mode does, and so
    // does the form (per-cell or drawn) in which it is shown.
    QTest::addColumn<TakeMode>("mode");
    QTest::addColumn<RoutingDirection>("direction");
    QTest::addColumn<int>("size");
    for (const int size : { 8, 64 }) {
        const QByteArray form = size == 8 ? " cells" : " drawn";
        QTest::newRow("immediate, destination-led" + form)
            << TakeMode::immediate << RoutingDirection::destinationLed << size;
        QTest::newRow("immediate, source-led" + form)
            << TakeMode::immediate << RoutingDirection::sourceLed << size;
        QTest::newRow("confirm, destination-led" + form)
            << TakeMode::confirm << RoutingDirection::destinationLed << size;
        QTest::newRow("confirm, source-led" + form)
            << TakeMode::confirm << RoutingDirection::sourceLed << size;
    }
}

void TestMatrix::crosspointClick()
{
    QFETCH(TakeMode, mode);
    QFETCH(RoutingDirection, direction);
    QFETCH(int, size);
    MatrixRig m(size, size);
    RouterController &c = m.controller();
    QCOMPARE(m.view->usesCells(), size == 8);
    c.setDirection(direction);
    c.setTakeMode(mode);
    if (direction == RoutingDirection::sourceLed) {
        c.focusSource(1);
        c.setPendingDestinations({ 1, 2 });
    }

    m.click(m.cellCentre(3, 7));
    ControllerRig::settle();

    if (mode == TakeMode::immediate) {
        QCOMPARE(c.state().source(7, 0), std::optional<int>(3));
        QCOMPARE(m.rig.usage->takes, 1);
        QCOMPARE(m.driver->count(FakeRouterDriver::Command::takeAll), 1);
    } else {
        QCOMPARE(c.state().source(7, 0), std::nullopt);
        QCOMPARE(c.pendingDestinations(), QSet<int>());
        QCOMPARE(c.pendingDestination(), std::optional<int>(7));
        QCOMPARE(c.pendingSource(), std::optional<int>(3));
        QCOMPARE(m.rig.usage->takes, 0);
        // Take sends what the matrix staged.
        c.confirmTake();
        ControllerRig::settle();
        QCOMPARE(c.state().source(7, 0), std::optional<int>(3));
    }
}

void TestMatrix::lockedDestination()
{
    RouterState state = makeState(8, 8);
    state.lockedDestinations = { 7 };
    MatrixRig m(state);
    RouterController &c = m.controller();

    m.click(m.cellCentre(3, 7));
    ControllerRig::settle();
    QCOMPARE(c.state().source(7, 0), std::nullopt);
    QCOMPARE(c.lastError(), std::optional<QString>(QStringLiteral("D8 is locked.")));

    // Confirm mode stages it anyway; the lock holds when the take is sent.
    c.setLastError(std::nullopt);
    c.setTakeMode(TakeMode::confirm);
    m.click(m.cellCentre(3, 7));
    QCOMPARE(c.pendingDestination(), std::optional<int>(7));
    QCOMPARE(c.pendingSource(), std::optional<int>(3));
    c.confirmTake();
    ControllerRig::settle();
    QCOMPARE(c.state().source(7, 0), std::nullopt);
    QCOMPARE(c.lastError(), std::optional<QString>(QStringLiteral("D8 is locked.")));
}

void TestMatrix::drawnFieldHitTest()
{
    MatrixRig m(41, 40);
    RouterController &c = m.controller();
    QVERIFY(!m.view->usesCells());
    c.setTakeMode(TakeMode::confirm);
    const QPoint origin = m.view->cellRect(0, 0).topLeft();
    const auto clickField = [&](int x, int y) {
        c.clearPending();
        m.click(origin + QPoint(x, y));
        return c.pendingDestination()
            ? std::optional<QPoint>(QPoint(*c.pendingSource(), *c.pendingDestination()))
            : std::nullopt;
    };

    // Pitch 49: 44 is still the first cell's far edge, 45…48 the gap, 49 the next column.
    QCOMPARE(clickField(44, 10), std::optional<QPoint>(QPoint(0, 0)));
    QCOMPARE(clickField(45, 10), std::nullopt);
    QCOMPARE(clickField(48, 10), std::nullopt);
    QCOMPARE(clickField(49, 10), std::optional<QPoint>(QPoint(1, 0)));
    QCOMPARE(clickField(10, 46), std::nullopt);
    QCOMPARE(clickField(10, 98 + 3), std::optional<QPoint>(QPoint(0, 2)));
    // Right of the last column (41 × 49 − 5 = 2004 wide) nothing is hit.
    m.view->horizontalScrollBar()->setValue(m.view->horizontalScrollBar()->maximum());
    const QRect last = m.view->cellRect(40, 0);
    c.clearPending();
    m.click(last.center());
    QCOMPARE(c.pendingSource(), std::optional<int>(40));
    c.clearPending();
    m.click(QPoint(last.right() + 10, last.center().y()));
    QCOMPARE(c.pendingDestination(), std::nullopt);
}

// A click beside the pinned row headers took a crosspoint hidden under them, and one just
// below the header row took a row showing a sliver, its header out of sight.
void TestMatrix::clicksTakeOnlyWhatShows()
{
    // Column 3 and row 2 show 14 and 12 points, then 24 and 34.
    for (const QPoint scroll : { QPoint(0, 0), QPoint(177, 130), QPoint(167, 108) }) {
        for (const int limit : { kHoverLimit, 0 }) {
            MatrixRig m(makeState(16, 12), kCell, limit, QSize(520, 420));
            RouterController &c = m.controller();
            c.setTakeMode(TakeMode::confirm);
            m.view->horizontalScrollBar()->setValue(scroll.x());
            m.view->verticalScrollBar()->setValue(scroll.y());
            // Where each crosspoint shows, as the eye finds it: what staging its row lights,
            // within what arming its column lights (staged on the last row, unseen).
            const auto lit = [&](int row, std::optional<int> column) {
                QImage changed = m.image();
                c.setPendingDestination(row);
                c.setPendingSource(column);
                QPainter paint(&changed);
                paint.setCompositionMode(QPainter::CompositionMode_Difference);
                paint.drawImage(0, 0, m.image());
                c.clearPending();
                return QRegion(QBitmap::fromImage(
                    changed.createMaskFromColor(qRgb(0, 0, 0), Qt::MaskInColor)));
            };
            QList<QRegion> columns;
            for (int s = 0; s < 16; ++s)
                columns.append(lit(11, s));
            QList<QRect> shown; // row by row; empty where less than half shows
            for (int r = 0; r < 11; ++r) {
                for (const QRect row = lit(r, std::nullopt).boundingRect();
                     const QRegion &column : columns) {
                    const QRect cell = row & column.intersected(row).boundingRect();
                    shown.append(std::min(cell.width(), cell.height()) >= kCell / 2 ? cell
                                                                                    : QRect());
                }
            }
            QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(m.view.get());
            for (int y = 1; y < m.viewport()->height(); y += 3) {
                for (int x = 1; x < m.viewport()->width(); x += 3) {
                    c.clearPending();
                    m.click(QPoint(x, y));
                    const qsizetype taken = c.pendingSource()
                        ? *c.pendingDestination() * 16 + *c.pendingSource()
                        : -1;
                    const QByteArray at = QByteArray::number(x) + ',' + QByteArray::number(y);
                    // What is taken shows there (or its far edge does), half of it at least;
                    // what shows there, half of it at least, is taken.
                    for (qsizetype i = 0; i < shown.size(); ++i)
                        QVERIFY2(i == taken ? shown[i].adjusted(-1, -1, 1, 1).contains(x, y)
                                            : !shown[i].adjusted(1, 1, -1, -1).contains(x, y),
                                 at);
                    // A screen reader's pointer finds there a crosspoint, extending over what
                    // shows of it, where a click takes one (in the drawn form the keyboard's).
                    const QPoint global = m.viewport()->mapToGlobal(QPoint(x, y));
                    QAccessibleInterface *under = reader->childAt(global.x(), global.y());
                    const bool element = under && under->role() == QAccessible::Cell;
                    QVERIFY2(
                        element == (taken >= 0)
                            && (!element
                                || shown.value(taken)
                                       .adjusted(-1, -1, 1, 1)
                                       .contains(under->rect().translated(QPoint(x, y) - global))),
                        at);
                }
            }
            // A press on one crosspoint released on another takes neither.
            QTest::mousePress(m.viewport(), Qt::LeftButton, {}, m.cellCentre(5, 4));
            QTest::mouseRelease(m.viewport(), Qt::LeftButton, {}, m.cellCentre(6, 4));
            QCOMPARE(c.pendingSource(), std::nullopt);
        }
    }
}

void TestMatrix::hoverLimit()
{
    // 40 × 40 = 1600 crosspoints still get hover feedback.
    {
        MatrixRig m(40, 40);
        QVERIFY(m.view->usesCells());
        m.moveTo(m.cellCentre(2, 5));
        QCOMPARE(m.view->hoveredCell(), std::optional<QPoint>(QPoint(2, 5)));
        m.moveTo(m.cellCentre(3, 5));
        QCOMPARE(m.view->hoveredCell(), std::optional<QPoint>(QPoint(3, 5)));
        // The gap between cells and the headers are not crosspoints.
        m.moveTo(m.view->cellRect(3, 5).topRight() + QPoint(3, 0));
        QCOMPARE(m.view->hoveredCell(), std::nullopt);
        m.moveTo(m.view->destinationHeaderRect(5).center());
        QCOMPARE(m.view->hoveredCell(), std::nullopt);
        m.moveTo(m.cellCentre(1, 1));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(m.viewport(), &leave);
        QCOMPARE(m.view->hoveredCell(), std::nullopt);
    }
    // 40 × 41 = 1640 are drawn as one field, without hover.
    {
        MatrixRig m(40, 41);
        QVERIFY(!m.view->usesCells());
        m.moveTo(m.cellCentre(2, 5));
        QCOMPARE(m.view->hoveredCell(), std::nullopt);

        // A sub-panel small enough brings hover back; leaving it ends hover again.
        SubPanel panel = makePanel(QStringLiteral("Few"), { 0, 1, 2 }, { 0, 1, 2 });
        m.controller().savePanel(panel);
        m.controller().setActivePanelID(panel.id);
        QVERIFY(m.view->usesCells());
        m.moveTo(m.cellCentre(2, 1));
        QCOMPARE(m.view->hoveredCell(), std::optional<QPoint>(QPoint(2, 1)));
        m.controller().setActivePanelID(std::nullopt);
        QVERIFY(!m.view->usesCells());
        QCOMPARE(m.view->hoveredCell(), std::nullopt);
    }
    // The product is taken without overflow.
    {
        ControllerRig rig;
        rig.connectWith(makeState(3, 3));
        CrosspointMatrixView none(*rig.controller, kCell, kGap, -1);
        QVERIFY(!none.usesCells());
        CrosspointMatrixView all(*rig.controller, kCell, kGap, std::numeric_limits<int>::max());
        QVERIFY(all.usesCells());
    }
}

void TestMatrix::destinationHeader()
{
    RouterState state = makeState(8, 8);
    state.destinations[4].label = QStringLiteral("VTR & Record");
    MatrixRig m(state);
    RouterController &c = m.controller();
    const QPoint header = m.view->destinationHeaderRect(4).center();
    const std::optional<int> focused = c.selectedDestination();

    // Immediate mode: a single click changes nothing.
    m.click(header);
    QCOMPARE(c.pendingDestination(), std::nullopt);
    QCOMPARE(c.selectedDestination(), focused);

    // Confirm mode: it arms the destination and drops the armed source.
    c.setTakeMode(TakeMode::confirm);
    c.setPendingDestination(1);
    c.setPendingSource(2);
    m.click(header);
    QCOMPARE(c.pendingDestination(), std::optional<int>(4));
    QCOMPARE(c.pendingSource(), std::nullopt);

    // A double click renames; the creator shows the alert.
    m.doubleClick(header);
    QCOMPARE(c.renameTarget(), std::optional<PortRef>(PortRef { PortKind::destination, 4 }));
    QCOMPARE(c.renameDraft(), QStringLiteral("VTR & Record"));
    c.setRenameTarget(std::nullopt);

    QCOMPARE(m.menuTexts(header),
             QStringList({ QStringLiteral("Rename Destination\u2026"), QStringLiteral("Lock") }));
    m.triggerMenu(header, 1);
    QVERIFY(c.state().isLocked(4));
    QCOMPARE(m.menuTexts(header).value(1), QStringLiteral("Unlock"));
    m.triggerMenu(header, 1);
    QVERIFY(!c.state().isLocked(4));
    m.triggerMenu(header, 0);
    QCOMPARE(c.renameTarget(), std::optional<PortRef>(PortRef { PortKind::destination, 4 }));
}

void TestMatrix::sourceHeader()
{
    MatrixRig m(8, 8);
    RouterController &c = m.controller();
    c.setTakeMode(TakeMode::confirm);
    c.setPendingDestination(2);
    const QPoint header = m.view->sourceHeaderRect(5).center();

    m.click(header);
    QCOMPARE(c.pendingSource(), std::nullopt);
    QCOMPARE(c.renameTarget(), std::nullopt);

    m.doubleClick(header);
    QCOMPARE(c.renameTarget(), std::optional<PortRef>(PortRef { PortKind::source, 5 }));
    QCOMPARE(c.renameDraft(), QStringLiteral("S6"));
    c.setRenameTarget(std::nullopt);

    QCOMPARE(m.menuTexts(header), QStringList { QStringLiteral("Rename Source\u2026") });
    m.triggerMenu(header, 0);
    QCOMPARE(c.renameTarget(), std::optional<PortRef>(PortRef { PortKind::source, 5 }));

    // The corner and the empty band right of the last column have no menu.
    QCOMPARE(m.menuTexts(QPoint(10, 10)), QStringList());
    QCOMPARE(m.menuTexts(QPoint(m.view->sourceHeaderRect(7).right() + 20, 10)), QStringList());
}

void TestMatrix::routeToPendingDestination()
{
    MatrixRig m(8, 8);
    RouterController &c = m.controller();

    m.view->routeToPendingDestination(3);
    QCOMPARE(c.state().source(6, 0), std::nullopt);
    QCOMPARE(c.pendingSource(), std::nullopt);

    c.setTakeMode(TakeMode::confirm);
    c.setPendingDestination(6);
    m.view->routeToPendingDestination(3);
    QCOMPARE(c.pendingDestination(), std::optional<int>(6));
    QCOMPARE(c.pendingSource(), std::optional<int>(3));
    QCOMPARE(c.state().source(6, 0), std::nullopt);

    c.setTakeMode(TakeMode::immediate);
    c.setPendingDestination(6);
    m.view->routeToPendingDestination(2);
    ControllerRig::settle();
    QCOMPARE(c.state().source(6, 0), std::optional<int>(2));
}

void TestMatrix::headerSizes()
{
    // Short labels give the minimum sizes, long ones the maximum.
    ControllerRig rig;
    RouterState state = makeState(2, 2);
    rig.connectWith(state);
    CrosspointMatrixView view(*rig.controller, kCell, kGap, kHoverLimit);
    QCOMPARE(view.destWidth(), 138.0);
    QCOMPARE(view.headerHeight(), 104.0);

    const QString longLabel = QStringLiteral("A very long label for a port that no column fits");
    rig.controller->rename(PortKind::destination, 1, longLabel);
    rig.controller->rename(PortKind::source, 0, longLabel);
    QCOMPARE(view.destWidth(), 260.0);
    QCOMPARE(view.headerHeight(), 230.0);
    // A name of thousands of characters is measured by its start, with the same result.
    rig.controller->rename(PortKind::source, 0, QStringLiteral("Camera ").repeated(2000));
    QCOMPARE(view.headerHeight(), 230.0);

    // Between the bounds: the widest label, rounded up, plus 72 (or 44).
    const QString medium = QStringLiteral("Camera 12 ISO");
    rig.controller->rename(PortKind::destination, 1, medium);
    rig.controller->rename(PortKind::source, 0, medium + medium);
    const double destinationLabel = std::ceil(
        QFontMetricsF(Crosspoint::systemFont(12.5, QFont::DemiBold)).horizontalAdvance(medium));
    QVERIFY(destinationLabel + 72 > 138);
    QCOMPARE(view.destWidth(), destinationLabel + 72);
    const double sourceLabel = std::ceil(QFontMetricsF(Crosspoint::systemFont(11, QFont::Medium))
                                             .horizontalAdvance(medium + medium));
    QCOMPARE(view.headerHeight(), std::clamp(sourceLabel + 44, 104.0, 230.0));

    // A sub-panel without ports leaves the minimum sizes.
    SubPanel empty = makePanel(QStringLiteral("Empty"), {}, {});
    rig.controller->savePanel(empty);
    rig.controller->setActivePanelID(empty.id);
    QCOMPARE(view.destWidth(), 138.0);
    QCOMPARE(view.headerHeight(), 104.0);
    QVERIFY(view.cellRect(0, 0).isEmpty());
    QVERIFY(view.sourceHeaderRect(0).isEmpty());
}

void TestMatrix::rowData()
{
    RouterState state = makeState(4, 4);
    state.routing[0] = { { 0, 2 }, { 1, 9 }, { 3, 0 } };
    state.lockedDestinations = { 3 };
    ControllerRig rig;
    rig.connectWith(state);
    RouterController &c = *rig.controller;
    const QList<Port> &destinations = c.visibleDestinations();

    Crosspoint::RowData routed = Crosspoint::rowData(c, destinations[0], false);
    QCOMPARE(routed.routed, std::optional<int>(2));
    QCOMPARE(routed.routedLabel, QStringLiteral("S3"));
    QVERIFY(!routed.offPanelFeed && !routed.locked && !routed.isPendingDest);
    // A source the router does not have: no label, but the route still counts.
    Crosspoint::RowData beyond = Crosspoint::rowData(c, destinations[1], false);
    QCOMPARE(beyond.routed, std::optional<int>(9));
    QCOMPARE(beyond.routedLabel, QStringLiteral("\u2014"));
    QCOMPARE(Crosspoint::rowData(c, destinations[2], false).routedLabel, QStringLiteral("\u2014"));
    QVERIFY(Crosspoint::rowData(c, destinations[3], false).locked);

    // With a sub-panel of sources 0 and 1, destination 0 (fed from 2) is fed from off-panel;
    // destination 3 (fed from 0) is not, nor is an unrouted one.
    SubPanel panel = makePanel(QStringLiteral("Half"), { 0, 1 }, { 0, 2, 3 });
    c.savePanel(panel);
    c.setActivePanelID(panel.id);
    const QList<Port> &shown = c.visibleDestinations();
    QVERIFY(Crosspoint::rowData(c, shown[0], true).offPanelFeed);
    QVERIFY(!Crosspoint::rowData(c, shown[1], true).offPanelFeed);
    QVERIFY(!Crosspoint::rowData(c, shown[2], true).offPanelFeed);
    QVERIFY(!Crosspoint::rowData(c, shown[0], false).offPanelFeed);

    c.setTakeMode(TakeMode::confirm);
    c.selectDestination(2);
    QVERIFY(Crosspoint::rowData(c, shown[1], true).isPendingDest);
    QCOMPARE(Crosspoint::armedSource(c), std::nullopt);
    c.setPendingSource(1);
    QCOMPARE(Crosspoint::armedSource(c), std::optional<int>(1));
    c.setPendingDestination(std::nullopt);
    QCOMPARE(Crosspoint::armedSource(c), std::nullopt);
}

void TestMatrix::canvasAndCellsAgree()
{
    // Destination 2 has no route: the drawn field used to light its crosspoint with source 1.
    RouterState state = makeState(4, 4, 2);
    state.routing[0] = { { 0, 2 }, { 1, 9 }, { 3, 0 } }; // 9: beyond the router's sources
    state.lockedDestinations = { 3 };
    ControllerRig rig;
    rig.connectWith(state);
    RouterController &c = *rig.controller;
    c.setTakeMode(TakeMode::confirm);
    c.setPendingDestination(1);
    c.setPendingSource(2);

    using State = Crosspoint::CrosspointState;
    const auto at = [&c](int source, int destination) {
        return Crosspoint::crosspointState(c, source, destination);
    };
    QCOMPARE(at(2, 0), (State { true, false, true, false })); // connected, in the armed column
    QCOMPARE(at(0, 2), State {});
    QCOMPARE(at(1, 2), State {});
    QCOMPARE(at(2, 1), (State { false, true, true, false })); // the staged crosspoint
    QCOMPARE(at(0, 1), (State { false, false, true, false })); // on the staged row
    QCOMPARE(at(0, 3), (State { true, false, false, true }));
    QCOMPARE(at(1, 3), (State { false, false, false, true }));

    // A lock glyph in the middle of a crosspoint, where the fill is plain elsewhere.
    const auto marked = [](const QImage &image, const QRect &cell) {
        const QRgb fill = image.pixel(cell.center().x(), cell.top() + cell.height() / 5);
        for (int dx = -3; dx <= 3; ++dx) {
            for (int dy = -3; dy <= 3; ++dy) {
                if (image.pixel(cell.center() + QPoint(dx, dy)) != fill)
                    return true;
            }
        }
        return false;
    };

    // Both forms paint from that function, on a level with routes and on one without, and
    // both mark a locked destination's crosspoints (the field used to show them only paler).
    CrosspointMatrixView cells(c, kCell, kGap, kHoverLimit);
    CrosspointMatrixView field(c, kCell, kGap, 0);
    for (const int level : { 0, 1 }) {
        c.setPrimaryLevel(level);
        for (CrosspointMatrixView *view : { &cells, &field }) {
            view->resize(600, 500);
            const QImage image = view->viewport()->grab().toImage();
            QVERIFY(marked(image, view->cellRect(1, 3)));
            QVERIFY(!marked(image, view->cellRect(1, 2)));
            const Crosspoint::PaintedCrosspoints &painted = view->paintedCrosspoints();
            QCOMPARE(painted.block, QRect(0, 0, 4, 4));
            for (int d = 0; d < 4; ++d) {
                for (int s = 0; s < 4; ++s) {
                    const State expected = at(s, d);
                    QCOMPARE(expected.connected, level == 0 && state.source(d, 0) == s);
                    QCOMPARE(painted.at(s, d), std::optional<State>(expected));
                }
            }
        }
    }
    QVERIFY(cells.usesCells() && !field.usesCells());
}

void TestMatrix::signalHelp()
{
    RouterState state = makeState(4, 1);
    state.inputStatus.insert(1, InputSignalStatus { false, std::nullopt });
    state.inputStatus.insert(2, InputSignalStatus { true, std::nullopt });
    state.inputStatus.insert(3, InputSignalStatus { true, QStringLiteral("1080i50") });
    ControllerRig rig;
    rig.connectWith(state);
    CrosspointMatrixView view(*rig.controller, kCell, kGap, kHoverLimit);
    const QList<Port> &sources = rig.controller->visibleSources();
    QCOMPARE(view.signalHelp(sources[0]), QStringLiteral("Double-click to rename"));
    QCOMPARE(view.signalHelp(sources[1]), QStringLiteral("No signal"));
    QCOMPARE(view.signalHelp(sources[2]), QStringLiteral("Signal present"));
    QCOMPARE(view.signalHelp(sources[3]), QStringLiteral("Signal: 1080i50"));
    ControllerRig::settle();
    QCOMPARE(view.accessibleName(), QStringLiteral("Crosspoint grid, 4 sources by 1 destination"));
}

void TestMatrix::cellSizes()
{
    ControllerRig rig;
    rig.connectWith(makeState(4, 4));
    CrosspointMatrixView view(*rig.controller, 44, kGap, kHoverLimit);
    view.resize(800, 600);
    QCOMPARE(view.cellRect(1, 0).left() - view.cellRect(0, 0).left(), 49);

    // Outside the zoom range is drawn as stored; undrawable sizes are drawn at a floor.
    view.setCellSize(80);
    QCOMPARE(view.cellRect(0, 0).width(), 80);
    view.setCellSize(12);
    QCOMPARE(view.cellRect(0, 0).width(), 12);
    for (const double broken : { 0.0, -30.0 }) {
        view.setCellSize(broken);
        QCOMPARE(view.cellSize(), broken);
        QCOMPARE(view.cellRect(0, 0).width(), int(Crosspoint::smallestDrawableCell));
    }
    view.setCellSize(std::nan(""));
    QCOMPARE(view.cellRect(0, 0).width(), 44);
    view.setCellSize(1e12);
    QCOMPARE(view.cellRect(0, 0).width(), int(Crosspoint::largestDrawableCell));

    // Following a stored size, as the zoom control changes it.
    GlassKit::MatrixCellSize stored(QString(), 50);
    view.followCellSize(stored);
    QCOMPARE(view.cellSize(), 50.0);
    stored.setValue(56);
    QCOMPARE(view.cellSize(), 56.0);
    QCOMPARE(view.cellRect(0, 0).width(), 56);
    GlassKit::MatrixCellSize other(QString(), 62);
    view.followCellSize(other);
    QCOMPARE(view.cellSize(), 56.0);
}

void TestMatrix::clearanceAndPinning()
{
    MatrixRig m(60, 60);
    CrosspointMatrixView &view = *m.view;
    QCOMPARE(view.controlBarClearance(), GlassKit::defaultControlBarClearance);
    const int bottom = view.verticalScrollBar()->maximum();
    view.setControlBarClearance(140);
    QCOMPARE(view.verticalScrollBar()->maximum(), bottom + 140 - 96);

    // Scrolled both ways, the headers stay at the edges and keep their clicks.
    view.horizontalScrollBar()->setValue(300);
    view.verticalScrollBar()->setValue(400);
    QCOMPARE(view.destinationHeaderRect(20).left(), 0);
    QCOMPARE(view.sourceHeaderRect(20).top(), 0);
    QCOMPARE(view.cellRect(20, 20).left(), 138 + 5 + 20 * 49 - 300);
    QCOMPARE(view.cellRect(20, 20).top(), 104 + 5 + 20 * 49 - 400);

    RouterController &c = m.controller();
    c.setTakeMode(TakeMode::confirm);
    // Cells scrolled under the pinned column are not clickable through it.
    const QRect header = view.destinationHeaderRect(12);
    m.click(header.center());
    QCOMPARE(c.pendingDestination(), std::optional<int>(12));
    QCOMPARE(c.pendingSource(), std::nullopt);
    // Nor under the pinned header row.
    m.click(QPoint(view.cellRect(10, 0).center().x(), 20));
    QCOMPARE(c.pendingSource(), std::nullopt);
    QVERIFY(view.cellRect(10, 0).bottom() < 0);
}

void TestMatrix::routeChangeRepaintsOneRow()
{
    MatrixRig m(64, 64);
    PaintRecorder recorder(m.viewport());
    ControllerRig::settle();
    recorder.painted = QRegion();

    m.driver->emitEvent(RouterDriverEvent::makeRouteChanged(0, 5, 9));
    ControllerRig::settle();
    QCOMPARE(m.controller().state().source(5, 0), std::optional<int>(9));
    const QRect row = m.view->destinationHeaderRect(5);
    QVERIFY(!recorder.painted.isEmpty());
    QVERIFY(recorder.painted.boundingRect().top() >= row.top() - 3);
    QVERIFY(recorder.painted.boundingRect().bottom() <= row.bottom() + 3);

    // A route on another level shows nowhere.
    recorder.painted = QRegion();
    m.driver->emitEvent(RouterDriverEvent::makeRouteChanged(1, 6, 9));
    ControllerRig::settle();
    QVERIFY(recorder.painted.isEmpty());

    // Arming a crosspoint repaints its row and its column only.
    recorder.painted = QRegion();
    m.controller().setTakeMode(TakeMode::confirm);
    m.click(m.cellCentre(2, 3));
    ControllerRig::settle();
    const QRect column = m.view->sourceHeaderRect(2);
    const QRegion expected = QRegion(0, m.view->destinationHeaderRect(3).top() - 3,
                                     m.viewport()->width(), int(kCell) + 6)
        + QRegion(column.left() - 3, 0, column.width() + 6, m.viewport()->height());
    QVERIFY(!recorder.painted.isEmpty());
    QVERIFY((recorder.painted - expected).isEmpty());
    // Staging elsewhere repaints the row, then the column, it leaves, or their wash stays.
    for (const auto &[to, left] :
         { std::pair(QPoint(5, 7), QPoint(0, 3)), std::pair(QPoint(1, 7), QPoint(5, 0)) }) {
        recorder.painted = QRegion();
        m.click(m.cellCentre(to.x(), to.y()));
        ControllerRig::settle();
        QVERIFY(recorder.painted.contains(m.cellCentre(left.x(), left.y())));
    }
}

// A router renaming its ports without pause: each label change relaid the whole matrix out,
// so a route change waited behind thousands of them and reached the screen after 50 s.
// Staleness is counted in delivery slices (4 ms of events each, then the window's turn), so
// the check barely depends on the machine's speed: the route is applied within 25 slices of
// reaching the app (100 ms of events) and drawn before a second slice follows.
void TestMatrix::routeShownDuringLabelFlood()
{
    constexpr int size = 4096;
    constexpr int markerDestination = 2;
    constexpr int markerSource = size - 1;
    // The last change a full stream takes: every other waits ahead of it.
    constexpr quint64 markerAt = RouterEventStream::defaultCapacity - 1;
    MatrixRig m(size, size);

    std::atomic_bool arrived = false;
    EventFlood flood(m.driver->events(), [&](quint64 n) -> std::optional<RouterDriverEvent> {
        if (n == markerAt) {
            arrived = true;
            return RouterDriverEvent::makeRouteChanged(0, markerDestination, markerSource);
        }
        const int port = int(n / 4 % size);
        if (n % 4 == 3) // routes everywhere but on the marked destination
            return RouterDriverEvent::makeRouteChanged(0, std::max(port, markerDestination + 1),
                                                       port);
        return RouterDriverEvent::makeLabelChanged(n % 2 ? PortKind::source : PortKind::destination,
                                                   port, QStringLiteral("Name %1").arg(n));
    });

    // Slices are counted by the controller's one state change per burst.
    int slices = 0;
    std::optional<int> applied;
    std::optional<int> painted;
    QObject watcher; // goes before what its handler counts
    connect(&m.controller(), &RouterController::stateChanged, &watcher, [&] {
        if (arrived)
            ++slices;
        if (!applied && m.controller().state().source(markerDestination, 0) == markerSource)
            applied = slices;
    });
    PaintRecorder recorder(m.viewport());
    recorder.onPaint = [&](const QRegion &region) {
        if (applied && !painted
            && region.intersects(m.view->destinationHeaderRect(markerDestination)))
            painted = slices;
    };
    while (!painted && slices <= 1000)
        QCoreApplication::processEvents();
    flood.stop();
    // 25 slices of 4 ms: 100 ms. Under valgrind every slice does a small fraction of the work,
    // so there the bound only has to stay far below the thousands of slices that applying
    // labels one at a time needs.
    const int budget = qEnvironmentVariableIsSet("QUORVEL_UNDER_VALGRIND") ? 400 : 25;
    QVERIFY2(applied && *applied <= budget,
             qPrintable(QStringLiteral("applied after %1 slices").arg(applied.value_or(-1))));
    QVERIFY2(painted && *painted <= *applied + 1,
             qPrintable(QStringLiteral("drawn after %1 slices").arg(painted.value_or(-1))));
}

void TestMatrix::motionMovesOnlyWhatChangesAndComesToRest()
{
    SteppedAnimations clock;
    MatrixRig m(20, 20); // per-cell form
    PaintRecorder recorder(m.viewport());
    const auto pixel = [&m](int column, int row) {
        // Beside the dot, inside the fill.
        const QRect cell = m.view->cellRect(column, row);
        return m.viewport()->grab().toImage().pixelColor(cell.left() + 8, cell.center().y());
    };
    const auto around = [&m](int column, int row) {
        return QRegion(m.view->cellRect(column, row).adjusted(-3, -3, 3, 3));
    };
    const QColor unconnected = pixel(9, 5);

    // A crosspoint becoming connected springs in, repainting only itself.
    m.driver->emitEvent(RouterDriverEvent::makeRouteChanged(0, 5, 9));
    ControllerRig::settle(); // the row's own repaint
    recorder.painted = QRegion();
    clock.step(48);
    QVERIFY(!recorder.painted.isEmpty());
    QVERIFY((recorder.painted - around(9, 5)).isEmpty());
    const QColor partway = pixel(9, 5);
    clock.settle();
    const QColor connected = pixel(9, 5);
    QVERIFY(partway != unconnected && partway != connected);

    // Moving the route fades the old crosspoint out and the new one in.
    m.driver->emitEvent(RouterDriverEvent::makeRouteChanged(0, 5, 11));
    ControllerRig::settle();
    recorder.painted = QRegion();
    clock.step(48);
    QVERIFY((recorder.painted - around(9, 5) - around(11, 5)).isEmpty());
    clock.settle();
    QCOMPARE(pixel(9, 5), unconnected);
    QCOMPARE(pixel(11, 5), connected);
    recorder.painted = QRegion();
    clock.step(200);
    QVERIFY(recorder.painted.isEmpty()); // everything at rest

    // A new cell size rides the selection spring to the stored size.
    m.view->setCellSize(56);
    clock.step(64);
    const int width = m.view->cellRect(0, 0).width();
    QVERIFY2(width > 44 && width < 56, qPrintable(QString::number(width)));
    clock.settle();
    QCOMPARE(m.view->cellRect(0, 0).width(), 56);

    // A panel change fades its ports in.
    const SubPanel panel = makePanel(QStringLiteral("Cams"), { 11 }, { 5 });
    m.controller().savePanel(panel);
    m.controller().setActivePanelID(panel.id);
    ControllerRig::settle();
    clock.step(32);
    QVERIFY(pixel(0, 0) != connected);
    clock.settle();
    QCOMPARE(pixel(0, 0), connected);
}

namespace {

QAccessibleInterface *childNamed(QAccessibleInterface *parent, const QString &name)
{
    for (int i = 0; i < parent->childCount(); ++i) {
        QAccessibleInterface *child = parent->child(i);
        if (child && child->text(QAccessible::Name) == name)
            return child;
    }
    return nullptr;
}

} // namespace

void TestMatrix::screenReaderSeesHeadersAndCrosspoints()
{
    RouterState state = makeState(4, 3);
    state.routing[0].insert(1, 2); // D2 from S3
    state.inputStatus.insert(0, InputSignalStatus { true, QStringLiteral("1080p50") });
    MatrixRig m(state);
    QAccessibleInterface *matrix = QAccessible::queryAccessibleInterface(m.view.get());
    QVERIFY(matrix);
    QCOMPARE(matrix->role(), QAccessible::Table);
    QCOMPARE(matrix->childCount(), 4 + 3 + 4 * 3);

    QAccessibleInterface *s1 = matrix->child(0);
    QCOMPARE(s1->role(), QAccessible::ColumnHeader);
    QCOMPARE(s1->text(QAccessible::Name), QStringLiteral("1 S1, Signal: 1080p50"));
    QCOMPARE(s1->text(QAccessible::Value), QStringLiteral("Signal: 1080p50"));
    QCOMPARE(matrix->child(1)->text(QAccessible::Value), QString()); // no status, no value
    QCOMPARE(matrix->child(4)->role(), QAccessible::RowHeader);
    QCOMPARE(matrix->child(4)->text(QAccessible::Name), QStringLiteral("1 D1, no source"));

    QAccessibleInterface *connected = childNamed(matrix, QStringLiteral("D2 from S3"));
    QVERIFY(connected);
    QCOMPARE(connected->role(), QAccessible::Cell);
    QCOMPARE(connected->text(QAccessible::Value), QStringLiteral("Connected"));
    QCOMPARE(matrix->indexOfChild(connected), 4 + 3 + 1 * 4 + 2);
    QCOMPARE(matrix->child(4 + 3 + 1 * 4 + 2), connected); // made once, then kept
    QCOMPARE(connected->parent(), matrix);
    const QRect cell = m.view->cellRect(2, 1);
    QCOMPARE(connected->rect().center(), m.viewport()->mapToGlobal(cell.center()));
    QCOMPARE(matrix->childAt(connected->rect().center().x(), connected->rect().center().y()),
             connected);

    // Pressing a crosspoint routes it as a click does.
    QAccessibleInterface *other = childNamed(matrix, QStringLiteral("D1 from S2"));
    QCOMPARE(other->text(QAccessible::Value), QStringLiteral("Not connected"));
    other->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ControllerRig::settle();
    QCOMPARE(m.controller().state().source(0, 0), std::optional<int>(1));
    QCOMPARE(other->text(QAccessible::Value), QStringLiteral("Connected"));

    // Renaming from a header.
    s1->actionInterface()->doAction(QStringLiteral("Rename"));
    QCOMPARE(m.controller().renameTarget(), std::optional(PortRef { PortKind::source, 0 }));

    // Elements of ports a panel hides go invalid, and the new ports are read afresh.
    const SubPanel panel = makePanel(QStringLiteral("Two"), { 2, 3 }, { 1 });
    m.controller().savePanel(panel);
    m.controller().setActivePanelID(panel.id);
    ControllerRig::settle();
    QVERIFY(!s1->isValid());
    QCOMPARE(matrix->childCount(), 2 + 1 + 2);
    QCOMPARE(matrix->child(0)->text(QAccessible::Name), QStringLiteral("3 S3"));
    QCOMPARE(matrix->child(3), connected); // the same crosspoint, at its new place
}

void TestMatrix::screenReaderRoutesTheDrawnField()
{
    MatrixRig m(64, 64); // the drawn form: one field, no crosspoint elements
    QAccessibleInterface *matrix = QAccessible::queryAccessibleInterface(m.view.get());
    QCOMPARE(matrix->text(QAccessible::Name),
             QStringLiteral("Crosspoint grid, 64 sources by 64 destinations"));
    QCOMPARE(matrix->text(QAccessible::Description),
             QStringLiteral("In Take mode, activate a destination header, then use a source "
                            "header’s Route action"));
    QCOMPARE(matrix->childCount(), 128);

    RouterController &c = m.controller();
    QAccessibleInterface *source = matrix->child(9); // S10
    QAccessibleActionInterface *actions = source->actionInterface();
    QVERIFY(actions->actionNames().contains(QStringLiteral("Route to Selected Destination")));
    actions->doAction(QStringLiteral("Route to Selected Destination"));
    QCOMPARE(c.pendingSource(), std::nullopt); // nothing pending: nothing happens

    c.setTakeMode(TakeMode::confirm);
    QAccessibleInterface *destination = matrix->child(64 + 6); // D7
    destination->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(c.pendingDestination(), std::optional<int>(6));
    actions->doAction(QStringLiteral("Route to Selected Destination"));
    QCOMPARE(c.pendingSource(), std::optional<int>(9)); // staged 10 → 7

    c.setTakeMode(TakeMode::immediate);
    c.selectDestination(6); // arms nothing in immediate mode
    c.setPendingDestination(6);
    actions->doAction(QStringLiteral("Route to Selected Destination"));
    ControllerRig::settle();
    QCOMPARE(c.state().source(6, 0), std::optional<int>(9)); // taken at once

    // The field's one crosspoint element is the keyboard's, and says what it shows.
    m.view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m.view.get()));
    m.view->setFocus();
    QTest::keyClick(m.view.get(), Qt::Key_Down); // the first press lands on the first
    QTest::keyClick(m.view.get(), Qt::Key_Right);
    QCOMPARE(matrix->childCount(), 129);
    QAccessibleInterface *cursor = matrix->child(128);
    QCOMPARE(cursor->text(QAccessible::Name), QStringLiteral("D1 from S2"));
    QCOMPARE(matrix->focusChild(), cursor);
    QVERIFY(cursor->state().focused && !cursor->state().checked);
    c.toggleLock(0);
    QCOMPARE(cursor->text(QAccessible::Description), QStringLiteral("Not connected, locked"));
    QTest::keyClick(m.view.get(), Qt::Key_Right);
    QVERIFY(!cursor->isValid());
    QCOMPARE(matrix->child(128)->text(QAccessible::Name), QStringLiteral("D1 from S3"));
}

void TestMatrix::paintedNumbersFit()
{
    // Four-digit numbers used to lose digits in the row headers' 22-point frame ("088").
    RouterState state = makeState(4096, 4096);
    for (int s = 4080; s < 4096; ++s)
        state.inputStatus.insert(s, InputSignalStatus { s % 2 == 0, std::nullopt });
    const QString tooLong = QStringLiteral("A destination label far too long for its header");
    state.destinations[4087].label = tooLong;
    ControllerRig rig;
    rig.connectWith(state);
    const auto isFixed = [](const QString &text) {
        bool number = false;
        text.toInt(&number);
        return number || text == QStringLiteral("SOURCES") || text == QStringLiteral("DESTINATIONS")
            || text == QStringLiteral("\u2014");
    };
    for (const double cell : { 30.0, kCell }) {
        for (const QSize size : { QSize(860, 560), QSize(1400, 900) }) {
            PaintedText::resetElided();
            CrosspointMatrixView view(*rig.controller, cell, kGap, kHoverLimit);
            view.resize(size);
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum());
            view.verticalScrollBar()->setValue(int((cell + kGap) * 4087)); // 4088 on top
            view.grab();
            const QStringList cut = PaintedText::elidedTexts();
            QVERIFY2(cut.contains(tooLong), "the row header's cuts are not recorded");
            for (const QString &text : cut)
                QVERIFY2(!isFixed(text), qPrintable(text));
        }
    }
}

QTEST_MAIN(TestMatrix)
#include "tst_matrix.moc"
