// Drawing costs of the crosspoint matrix on large routers. Goals on 1024×1024: a full viewport
// (1400×900) painted in well under a frame (16 ms) at every zoom step, so scrolling stays
// smooth; a route change repaints one row only and costs a small fraction of a full paint; a
// frame of a zoom or of a panel change's fade costs about one full paint; a screen reader that
// reads every header of the matrix costs no more than a paint.
// On a busy machine read the instruction counts (-callgrind) rather than the wall times.
#include "ControllerRig.h"
#include "SteppedAnimations.h"
#include "Views/Matrix/CrosspointMatrixView.h"

#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QtTest>

#include <functional>

namespace {

constexpr int kSize = 1024;

RouterState routedState(int size)
{
    RouterState state = makeState(size, size, 2);
    for (int level = 0; level < 2; ++level) {
        LevelRouting &routing = state.routing[level];
        for (int d = 0; d < size; ++d)
            routing.insert(d, (d * 37 + level) % size);
    }
    for (int d = 0; d < size; d += 9)
        state.lockedDestinations.insert(d);
    for (int s = 0; s < size; s += 3)
        state.inputStatus.insert(s, InputSignalStatus { s % 2 == 0, QStringLiteral("1080p50") });
    return state;
}

// Adds up the area the viewport repaints.
class PaintCounter final : public QObject
{
public:
    explicit PaintCounter(QWidget *viewport) { viewport->installEventFilter(this); }
    qint64 pixels = 0;
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            for (const QRect &rect : static_cast<QPaintEvent *>(event)->region())
                pixels += qint64(rect.width()) * rect.height();
        }
        return false;
    }
};

struct Bench
{
    Bench(int size, double cell, const std::function<QString(const Port &)> &name = {})
    {
        RouterState state = routedState(size);
        if (name) {
            for (QList<Port> *ports : { &state.sources, &state.destinations }) {
                for (Port &port : *ports)
                    port.label = name(port);
            }
        }
        driver = &rig.connectWith(state);
        view = std::make_unique<CrosspointMatrixView>(*rig.controller, cell, 5, 1600);
        view->resize(1400, 900);
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get()))
            qFatal("the matrix was never shown");
        ControllerRig::settle();
        view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum() / 2);
        view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
        ControllerRig::settle();
    }

    ControllerRig rig;
    FakeRouterDriver *driver = nullptr;
    std::unique_ptr<CrosspointMatrixView> view;
};

} // namespace

class BenchMatrix : public QObject
{
    Q_OBJECT

private slots:
    void fullViewport_data();
    void fullViewport();
    void scrollStep();
    void routeChange();
    void zoomFrame();
    void panelFadeFrame();
    void screenReaderReadsEveryHeader();
    void renameEveryInput_data();
    void renameEveryInput();
    void longNamesFrame_data();
    void longNamesFrame();
};

void BenchMatrix::fullViewport_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<double>("cell");
    QTest::newRow("40x40 cells, 44") << 40 << 44.0;
    QTest::newRow("1024x1024 field, 30") << kSize << 30.0;
    QTest::newRow("1024x1024 field, 44") << kSize << 44.0;
    QTest::newRow("1024x1024 field, 68") << kSize << 68.0;
}

void BenchMatrix::fullViewport()
{
    QFETCH(int, size);
    QFETCH(double, cell);
    Bench bench(size, cell);
    QWidget *viewport = bench.view->viewport();
    QImage image(viewport->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QBENCHMARK
    {
        viewport->render(&image);
    }
}

void BenchMatrix::scrollStep()
{
    // One wheel step down and right, drawn as the window would draw it.
    Bench bench(kSize, 44);
    QScrollBar *h = bench.view->horizontalScrollBar();
    QScrollBar *v = bench.view->verticalScrollBar();
    int step = 0;
    QBENCHMARK
    {
        const int delta = (++step % 2) ? 49 : -49;
        h->setValue(h->value() + delta);
        v->setValue(v->value() + delta);
        bench.view->viewport()->repaint();
    }
}

void BenchMatrix::routeChange()
{
    // A route reported by the router: applied, then the row it touches repainted.
    Bench bench(kSize, 44);
    QWidget *viewport = bench.view->viewport();
    const int firstRow = bench.view->verticalScrollBar()->value() / 49 + 2;

    // What the window repaints by itself for one route: a single row.
    PaintCounter counter(viewport);
    bench.driver->emitEvent(RouterDriverEvent::makeRouteChanged(0, firstRow, 3));
    QVERIFY(QTest::qWaitFor([&] { return counter.paints > 0; }));
    const qint64 full = qint64(viewport->width()) * viewport->height();
    qInfo("one route repaints %.1f %% of the viewport", 100.0 * counter.pixels / full);
    QVERIFY(counter.pixels < full / 10);

    int round = 0;
    QBENCHMARK
    {
        const int destination = firstRow + round % 10;
        bench.driver->emitEvent(
            RouterDriverEvent::makeRouteChanged(0, destination, (destination + ++round) % kSize));
        QCoreApplication::processEvents();
        const QRect row = bench.view->destinationHeaderRect(destination);
        viewport->repaint(QRect(0, row.top() - 3, viewport->width(), row.height() + 6));
    }
}

void BenchMatrix::zoomFrame()
{
    // One frame of the cell-size spring: every crosspoint at a size not drawn before.
    SteppedAnimations clock;
    Bench bench(kSize, 44);
    QWidget *viewport = bench.view->viewport();
    QImage image(viewport->size(), QImage::Format_ARGB32_Premultiplied);
    viewport->render(&image); // glyphs and symbols cached, as in a window that has been drawn
    bool larger = false;
    QBENCHMARK
    {
        if (bench.view->cellRect(0, 0).width() == (larger ? 50 : 44)) {
            larger = !larger;
            bench.view->setCellSize(larger ? 50 : 44);
        }
        clock.step(16); // the frame's own layout and the window's repaint
        viewport->render(&image);
    }
}

void BenchMatrix::panelFadeFrame()
{
    // One frame of the fade after a panel change on a 512 × 512 panel, halfway through.
    SteppedAnimations clock;
    Bench bench(kSize, 44);
    SubPanel panel;
    panel.name = QStringLiteral("Half");
    for (int i = 0; i < kSize; i += 2) {
        panel.sourceIndices.append(i);
        panel.destinationIndices.append(i);
    }
    bench.rig.controller->savePanel(panel);
    bench.rig.controller->setActivePanelID(panel.id);
    ControllerRig::settle();
    clock.step(48);
    QWidget *viewport = bench.view->viewport();
    QImage image(viewport->size(), QImage::Format_ARGB32_Premultiplied);
    viewport->render(&image);
    QBENCHMARK
    {
        viewport->render(&image);
    }
}

void BenchMatrix::screenReaderReadsEveryHeader()
{
    // All 2048 header elements, named and valued; they are made on the first pass.
    Bench bench(kSize, 44);
    QAccessibleInterface *matrix = QAccessible::queryAccessibleInterface(bench.view.get());
    QCOMPARE(matrix->childCount(), 2 * kSize); // the drawn field has no crosspoint elements
    qsizetype read = 0;
    QBENCHMARK
    {
        for (int i = 0; i < matrix->childCount(); ++i) {
            QAccessibleInterface *header = matrix->child(i);
            read
                += header->text(QAccessible::Name).size() + header->text(QAccessible::Value).size();
        }
    }
    QVERIFY(read > 0);
}

void BenchMatrix::renameEveryInput_data()
{
    QTest::addColumn<bool>("read");
    QTest::newRow("unread") << false;
    QTest::newRow("every header held by a reader") << true;
}

void BenchMatrix::renameEveryInput()
{
    // 4096 label changes in one burst, as one block of a router brings them: applied by the
    // controller, the headers measured again and the viewport drawn, and a reader that holds
    // every header told which ones changed. Two sets of names take turns, so every round
    // changes every label.
    QFETCH(bool, read);
    constexpr int size = 4096;
    Bench bench(size, 44);
    RouterController &controller = *bench.rig.controller;
    if (read) {
        QAccessibleInterface *matrix = QAccessible::queryAccessibleInterface(bench.view.get());
        for (int i = 0; i < matrix->childCount(); ++i)
            matrix->child(i)->text(QAccessible::Name);
    }
    QWidget *viewport = bench.view->viewport();
    QList<RouterDriverEvent> renames[2];
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < size; ++i) {
            renames[round].append(RouterDriverEvent::makeLabelChanged(
                PortKind::source, i, QStringLiteral("Input %1 take %2").arg(i + 1).arg(round)));
        }
    }
    int round = 0;
    QBENCHMARK
    {
        const QList<RouterDriverEvent> &events = renames[++round % 2];
        for (const RouterDriverEvent &event : events)
            bench.driver->emitEvent(event);
        while (controller.state().sources.last().label != events.last().label)
            QCoreApplication::processEvents();
        QCoreApplication::processEvents(); // the relayout the labels asked for
        viewport->repaint();
    }
}

void BenchMatrix::longNamesFrame_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("short names") << 0;
    QTest::newRow("names of 1024 characters") << 1024;
}

void BenchMatrix::longNamesFrame()
{
    // One frame of a route flood on 4096×4096: a route repaints its row, and the layout is
    // asked again, as after any state change.
    QFETCH(int, length);
    constexpr int size = 4096;
    Bench bench(size, 44, [length](const Port &port) {
        const QString name = QStringLiteral("%1 %2 ")
                                 .arg(port.kind == PortKind::source ? QStringLiteral("Camera")
                                                                    : QStringLiteral("Monitor"))
                                 .arg(port.index + 1);
        return length == 0 ? name.trimmed() : name.repeated(length / name.size() + 1).left(length);
    });
    QWidget *viewport = bench.view->viewport();
    const int firstRow = bench.view->verticalScrollBar()->value() / 49 + 2;
    int round = 0;
    QBENCHMARK
    {
        const int destination = firstRow + round % 10;
        bench.driver->emitEvent(
            RouterDriverEvent::makeRouteChanged(0, destination, (destination + ++round) % size));
        bench.driver->emitEvent(RouterDriverEvent::makeLabelChanged(
            PortKind::destination, destination, QStringLiteral("Monitor %1").arg(round)));
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        viewport->repaint();
    }
}

QTEST_MAIN(BenchMatrix)
#include "bench_matrix.moc"
