#include "Platform/SerialQueue.h"

#include <QtTest>

#include <atomic>
#include <mutex>

class TestSerialQueue : public QObject
{
    Q_OBJECT

private slots:
    void queuesRunApartAndEndWhenStopped();
    void runsInOrderOffTheUiThread();
    void syncOnTheQueueRunsInline();
    void cancelledWorkNeverRuns();
    void delayedWorkWaitsItsTurn();
    void shutDownRunsWhatIsQueuedThenDrops();
};

// Queues used to be shared by label and to live as long as the process.
void TestSerialQueue::queuesRunApartAndEndWhenStopped()
{
    const int threadsBefore = SerialQueue::threadCount();
    auto a = SerialQueue::create(QStringLiteral("test.same"));
    auto b = SerialQueue::create(QStringLiteral("test.same"));
    QCOMPARE(a->label(), QStringLiteral("test.same"));
    QVERIFY(a->sync<QThread *>([] { return QThread::currentThread(); })
            != b->sync<QThread *>([] { return QThread::currentThread(); }));

    // Stopped from outside or from its own work, a queue still runs what it was handed before,
    // then takes nothing more and its thread ends.
    std::atomic_int ran { 0 };
    a->async([&] { ++ran; });
    a->stop();
    QVERIFY(!a->async([&] { ran += 10; }));
    b->async([&] { ++ran; });
    b->async([&, queue = b] {
        queue->stop();
        queue->async([&] { ran += 10; });
        ++ran;
    });
    a.reset();
    b.reset();
    QTRY_COMPARE(SerialQueue::threadCount(), threadsBefore);
    QCOMPARE(ran.load(), 3);
}

void TestSerialQueue::runsInOrderOffTheUiThread()
{
    const auto queueOwned = SerialQueue::create(QStringLiteral("test.order"));
    SerialQueue &queue = *queueOwned;
    std::mutex mutex;
    QList<int> seen;
    std::atomic_bool offUi { true };
    QThread *ui = QThread::currentThread();
    for (int i = 0; i < 200; ++i) {
        queue.async([&, i] {
            if (QThread::currentThread() == ui)
                offUi = false;
            std::lock_guard lock(mutex);
            seen.append(i);
        });
    }
    queue.sync([] {}); // everything submitted before has run
    std::lock_guard lock(mutex);
    QCOMPARE(seen.size(), 200);
    for (int i = 0; i < 200; ++i)
        QCOMPARE(seen.at(i), i);
    QVERIFY(offUi);
}

void TestSerialQueue::syncOnTheQueueRunsInline()
{
    // A sync call from work already on the queue would deadlock if it were queued.
    const auto queueOwned = SerialQueue::create(QStringLiteral("test.reentrant"));
    SerialQueue &queue = *queueOwned;
    const int value = queue.sync<int>([&] {
        int inner = 0;
        queue.sync([&] { inner = queue.isCurrent() ? 42 : -1; });
        return inner;
    });
    QCOMPARE(value, 42);
}

void TestSerialQueue::cancelledWorkNeverRuns()
{
    const auto queueOwned = SerialQueue::create(QStringLiteral("test.cancel"));
    SerialQueue &queue = *queueOwned;
    std::atomic_int ran { 0 };
    DelayedWork early = queue.schedule(std::chrono::milliseconds(0), [&] { ran += 1; });
    early.cancel(); // before the queue even started the timer
    DelayedWork later = queue.schedule(std::chrono::milliseconds(30), [&] { ran += 10; });
    QVERIFY(later.isPending());
    queue.sync([&] { later.cancel(); });
    DelayedWork kept = queue.schedule(std::chrono::milliseconds(20), [&] { ran += 100; });
    QTRY_COMPARE(ran.load(), 100);
    QTest::qWait(60);
    QCOMPARE(ran.load(), 100);
    QVERIFY(!kept.isPending());
    QVERIFY(!DelayedWork().isPending());
}

void TestSerialQueue::delayedWorkWaitsItsTurn()
{
    const auto queueOwned = SerialQueue::create(QStringLiteral("test.delay"));
    SerialQueue &queue = *queueOwned;
    std::mutex mutex;
    QList<int> seen;
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> firedAt { -1 };
    queue.schedule(std::chrono::milliseconds(80), [&] {
        firedAt = clock.elapsed();
        std::lock_guard lock(mutex);
        seen.append(2);
    });
    queue.async([&] {
        std::lock_guard lock(mutex);
        seen.append(1);
    });
    QTRY_VERIFY(firedAt.load() >= 0);
    QVERIFY(firedAt.load() >= 75);
    std::lock_guard lock(mutex);
    QCOMPARE(seen, (QList<int> { 1, 2 }));
}

// At quit, work left on a queue used to be destroyed after the queue itself, with whatever
// driver it held.
void TestSerialQueue::shutDownRunsWhatIsQueuedThenDrops()
{
    const auto aOwned = SerialQueue::create(QStringLiteral("test.stop.a"));
    SerialQueue &a = *aOwned;
    const auto bOwned = SerialQueue::create(QStringLiteral("test.stop.b"));
    SerialQueue &b = *bOwned;
    std::atomic_int ran { 0 };
    std::atomic<QThread *> releasedOn { nullptr };
    auto held = std::shared_ptr<int>(new int(0), [&](int *p) {
        releasedOn = QThread::currentThread();
        delete p;
    });
    // Queued work runs, and so does what it queues in turn on another queue.
    a.async([&] {
        QThread::msleep(20);
        b.async([&] { ran += 1; });
    });
    // Delayed work not yet due is dropped where it lives, releasing what it holds.
    DelayedWork late = a.schedule(std::chrono::hours(1), [&, held] { ran += 100; });
    QThread *aThread = a.sync<QThread *>([] { return QThread::currentThread(); });
    held.reset();

    SerialQueue::shutDownAll();
    QCOMPARE(ran.load(), 1);
    QCOMPARE(releasedOn.load(), aThread);
    QVERIFY(!a.isRunning() && !b.isRunning());

    // Stopped: nothing runs later, sync runs inline, delayed work is never pending.
    a.async([&] { ran += 10; });
    QVERIFY(!a.schedule(std::chrono::milliseconds(0), [&] { ran += 10; }).isPending());
    bool ranInline = false;
    a.sync([&] { ranInline = QThread::currentThread() == QCoreApplication::instance()->thread(); });
    QVERIFY(ranInline);
    QTest::qWait(20);
    QCOMPARE(ran.load(), 1);
}

QTEST_GUILESS_MAIN(TestSerialQueue)
#include "tst_serialqueue.moc"
