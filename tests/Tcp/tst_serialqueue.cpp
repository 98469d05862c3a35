#include "Platform/SerialQueue.h"

#include <QtTest>

#include <atomic>
#include <mutex>

class TestSerialQueue : public QObject
{
    Q_OBJECT

private slots:
    void sameLabelIsSameQueue();
    void runsInOrderOffTheUiThread();
    void syncOnTheQueueRunsInline();
    void cancelledWorkNeverRuns();
    void delayedWorkWaitsItsTurn();
};

void TestSerialQueue::sameLabelIsSameQueue()
{
    SerialQueue &a = SerialQueue::named(QStringLiteral("test.same"));
    SerialQueue &b = SerialQueue::named(QStringLiteral("test.same"));
    SerialQueue &c = SerialQueue::named(QStringLiteral("test.other"));
    QCOMPARE(&a, &b);
    QVERIFY(&a != &c);
    QCOMPARE(a.label(), QStringLiteral("test.same"));
    QVERIFY(!a.isCurrent());
}

void TestSerialQueue::runsInOrderOffTheUiThread()
{
    SerialQueue &queue = SerialQueue::named(QStringLiteral("test.order"));
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
    SerialQueue &queue = SerialQueue::named(QStringLiteral("test.reentrant"));
    const int value = queue.sync<int>([&] {
        int inner = 0;
        queue.sync([&] { inner = queue.isCurrent() ? 42 : -1; });
        return inner;
    });
    QCOMPARE(value, 42);
}

void TestSerialQueue::cancelledWorkNeverRuns()
{
    SerialQueue &queue = SerialQueue::named(QStringLiteral("test.cancel"));
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
    SerialQueue &queue = SerialQueue::named(QStringLiteral("test.delay"));
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

QTEST_GUILESS_MAIN(TestSerialQueue)
#include "tst_serialqueue.moc"
