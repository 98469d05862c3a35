#include "Platform/Async.h"
#include "Platform/EventStream.h"
#include "Platform/Observed.h"

#include <QtTest>

#include <atomic>
#include <thread>

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void valuesBeforeReaderAreKeptInOrder();
    void producersOnOtherThreadsDeliverOnReaderThread();
    void valuesAfterFinishAreDiscarded();
    void cancelledReaderGetsNothingMore();
    void destroyedContextStopsDelivery();
    void observedAssignNotifiesOnlyOnChange();
    void completionRunsLaterOnUiThread();
};

void TestPlatform::valuesBeforeReaderAreKeptInOrder()
{
    auto stream = EventStream<int>::create();
    for (int i = 0; i < 5; ++i)
        stream->yield(i);
    QList<int> seen;
    bool ended = false;
    QObject context;
    stream->read(&context, [&](int v) { seen.append(v); }, [&] { ended = true; });
    QVERIFY(seen.isEmpty()); // delivery is always posted, never inside read()
    stream->yield(5);
    stream->finish();
    QTRY_VERIFY(ended);
    QCOMPARE(seen, (QList<int>{0, 1, 2, 3, 4, 5}));
}

void TestPlatform::producersOnOtherThreadsDeliverOnReaderThread()
{
    auto stream = EventStream<int>::create();
    QObject context;
    QList<int> seen;
    std::atomic<bool> wrongThread = false;
    stream->read(&context, [&](int v) {
        if (QThread::currentThread() != context.thread())
            wrongThread = true;
        seen.append(v);
    });
    std::thread producer([stream] {
        for (int i = 0; i < 1000; ++i)
            stream->yield(i);
    });
    producer.join();
    QTRY_COMPARE(seen.size(), 1000);
    QVERIFY(!wrongThread);
    for (int i = 0; i < 1000; ++i)
        QCOMPARE(seen[i], i);
}

void TestPlatform::valuesAfterFinishAreDiscarded()
{
    auto stream = EventStream<int>::create();
    QObject context;
    QList<int> seen;
    int ends = 0;
    stream->read(&context, [&](int v) { seen.append(v); }, [&] { ++ends; });
    QVERIFY(stream->yield(1));
    stream->finish();
    QVERIFY(!stream->yield(2));
    stream->finish();
    QTRY_COMPARE(ends, 1);
    QTest::qWait(20);
    QCOMPARE(seen, QList<int>{1});
    QCOMPARE(ends, 1);
}

void TestPlatform::cancelledReaderGetsNothingMore()
{
    auto stream = EventStream<int>::create();
    QObject context;
    QList<int> seen;
    bool ended = false;
    stream->read(&context, [&](int v) {
        seen.append(v);
        if (v == 2)
            stream->cancelReader(); // cancelling from inside the handler stops the drain
    }, [&] { ended = true; });
    for (int i = 1; i <= 4; ++i)
        stream->yield(i);
    stream->finish();
    QTest::qWait(30);
    QCOMPARE(seen, (QList<int>{1, 2}));
    QVERIFY(!ended);
}

void TestPlatform::destroyedContextStopsDelivery()
{
    auto stream = EventStream<int>::create();
    int seen = 0;
    {
        QObject context;
        stream->read(&context, [&](int) { ++seen; });
        stream->yield(1);
    }
    stream->yield(2);
    QTest::qWait(20);
    QCOMPARE(seen, 0);
}

void TestPlatform::observedAssignNotifiesOnlyOnChange()
{
    QString field = QStringLiteral("a");
    int notifications = 0;
    auto notify = [&] { ++notifications; };
    QVERIFY(!Observed::assign(field, QStringLiteral("a"), notify));
    QCOMPARE(notifications, 0);
    QVERIFY(Observed::assign(field, QStringLiteral("b"), notify));
    QCOMPARE(notifications, 1);
    Observed::mutate(field, [](QString &) {}, notify); // in place: always notifies
    QCOMPARE(notifications, 2);
}

void TestPlatform::completionRunsLaterOnUiThread()
{
    int calls = 0;
    std::function<void(int)> completion = [&](int v) {
        QVERIFY(Platform::isUiThread());
        calls += v;
    };
    std::thread worker([completion] { Platform::complete(completion, 1); });
    worker.join();
    Platform::complete(completion, 2);
    QCOMPARE(calls, 0);
    QTRY_COMPARE(calls, 3);
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
