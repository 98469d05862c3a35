// Opens the workspace on simulated routers of several sizes, in each view mode and window
// size, at the moments an operator meets it, and checks that once its animations are over it
// asks for no further layout or painting and shows no control empty.
#include "ControllerRig.h"
#include "Drivers/SimulatorDriver.h"
#include "SteppedAnimations.h"
#include "Views/Workspace/QuorvelView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

// The layout and paint requests of the whole application, with the first few named.
class Activity final : public QObject
{
public:
    Activity() { QCoreApplication::instance()->installEventFilter(this); }
    ~Activity() override { QCoreApplication::instance()->removeEventFilter(this); }

    void reset()
    {
        m_count = 0;
        m_events = 0;
        m_first.clear();
    }
    int count() const { return m_count; }
    QString first() const { return m_first.join(QStringLiteral(", ")); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // A view that lays itself out again forever may never hand control back to the test.
        if (++m_events > 100000)
            qFatal("Never settles: %s", qPrintable(describe(watched, event)));
        const QEvent::Type type = event->type();
        if (type != QEvent::LayoutRequest && type != QEvent::Paint && type != QEvent::UpdateRequest)
            return false;
        if (++m_count <= 6)
            m_first.append(describe(watched, event));
        return false;
    }

private:
    static QString describe(QObject *watched, QEvent *event)
    {
        QString name = watched->objectName();
        if (name.isEmpty())
            name = QString::fromLatin1(watched->metaObject()->className());
        if (const QObject *parent = watched->parent())
            name.prepend(parent->objectName().isEmpty()
                             ? QString::fromLatin1(parent->metaObject()->className()) + '/'
                             : parent->objectName() + '/');
        return QStringLiteral("event %1 on %2").arg(int(event->type())).arg(name);
    }

    int m_count = 0;
    int m_events = 0;
    QStringList m_first;
};

// Visible buttons, and controls kept at their ideal size (pickers and their segments, the
// bar's buttons), that are empty or smaller than what they hold.
QStringList emptyControls(const QWidget *root)
{
    QStringList found;
    for (const QWidget *w : root->findChildren<QWidget *>()) {
        const QSizePolicy policy = w->sizePolicy();
        const bool ideal = policy.horizontalPolicy() == QSizePolicy::Fixed
            && policy.verticalPolicy() == QSizePolicy::Fixed;
        if (!w->isVisible() || !(ideal || qobject_cast<const QAbstractButton *>(w)))
            continue;
        const QSize hint = w->sizeHint();
        if (w->size().isEmpty()
            || (ideal && hint.isValid()
                && (w->width() < hint.width() || w->height() < hint.height())))
            found << QStringLiteral("%1 \"%2\" %3x%4, needs %5x%6")
                         .arg(QString::fromLatin1(w->metaObject()->className()),
                              w->objectName().isEmpty() ? w->accessibleName() : w->objectName())
                         .arg(w->width())
                         .arg(w->height())
                         .arg(hint.width())
                         .arg(hint.height());
    }
    return found;
}

std::shared_ptr<RouterController> shared(RouterController &controller)
{
    return { &controller, [](RouterController *) {
            } };
}

} // namespace

class TestSettling : public QObject
{
    Q_OBJECT

private slots:
    void settlesQuietWithNothingEmpty_data();
    void settlesQuietWithNothingEmpty();

private:
    // Lets every animation end, then expects nothing more to be laid out or painted, over
    // half a second of animation time and some event-loop turns, and `wall` of real time for
    // timers that do not run on the animation clock.
    void expectQuiet(const QWidget &view, const QString &moment,
                     std::chrono::milliseconds wall = 0ms)
    {
        m_activity.reset();
        m_clock.settle();
        m_activity.reset();
        m_clock.step(500);
        if (wall > 0ms)
            QTest::qWait(int(wall.count()));
        for (int pass = 0; pass < 4; ++pass)
            QCoreApplication::processEvents();
        QVERIFY2(m_activity.count() == 0,
                 qPrintable(QStringLiteral("%1: %2 requests after settling: %3")
                                .arg(moment)
                                .arg(m_activity.count())
                                .arg(m_activity.first())));
        const QStringList empty = emptyControls(&view);
        QVERIFY2(empty.isEmpty(), qPrintable(moment + QStringLiteral(": ") + empty.join(", ")));
    }

    SteppedAnimations m_clock;
    Activity m_activity;
};

void TestSettling::settlesQuietWithNothingEmpty_data()
{
    QTest::addColumn<RouteViewMode>("mode");
    QTest::addColumn<int>("ports");
    // Past 1600 crosspoints the matrix draws its canvas instead of cells.
    for (const int ports : { 3, 10, 16, 64, 1024 }) {
        QTest::addRow("matrix %d", ports) << RouteViewMode::matrix << ports;
        QTest::addRow("list %d", ports) << RouteViewMode::list << ports;
    }
}

void TestSettling::settlesQuietWithNothingEmpty()
{
    QFETCH(RouteViewMode, mode);
    QFETCH(int, ports);
    ControllerRig rig;
    rig.connection.vendor = RouterVendor::simulator;
    rig.connection.simSourceCount = ports;
    rig.connection.simDestinationCount = ports;
    RouterController &controller = rig.make([](const RouterConnection &connection) {
        return std::make_shared<SimulatorDriver>(connection, SimulatorDriver::Timing { 0ms, 0ms });
    });
    controller.setViewMode(mode);
    controller.savePanel(makePanel(QStringLiteral("Cameras"), { 0, 1, 2 }, { 0, 1, 2 }));
    const QUuid panel = controller.panels().constFirst().id;

    for (const QSize &size : { QSize(860, 560), QSize(1180, 760), QSize(1400, 900) }) {
        const QString at = QStringLiteral(" at %1x%2").arg(size.width()).arg(size.height());
        controller.disconnect();
        controller.setTakeMode(TakeMode::immediate);
        controller.setActivePanelID(std::nullopt);
        {
            // The first open: the view connects the router and fills in when it answers.
            QuorvelView view(shared(controller));
            view.resize(size);
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            expectQuiet(view, QStringLiteral("opened while connecting") + at);
            QVERIFY(controller.status().isConnected());
        }
        QuorvelView view(shared(controller));
        view.resize(size);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        expectQuiet(view, QStringLiteral("connected") + at);

        controller.setTakeMode(TakeMode::confirm);
        controller.setPendingDestination(ports - 1);
        controller.setPendingSource(0);
        controller.confirmTake();
        expectQuiet(view, QStringLiteral("after Take") + at);

        controller.setActivePanelID(panel);
        expectQuiet(view, QStringLiteral("panel active") + at, 40ms);
    }
}

QTEST_MAIN(TestSettling)
#include "tst_settling.moc"
