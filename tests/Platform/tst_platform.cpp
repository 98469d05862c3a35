#include "Platform/Async.h"
#include "Platform/EventStream.h"
#include "Platform/Observed.h"
#include "Platform/Text.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QRegularExpression>
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
    void floodIsDeliveredInSlicesBetweenEvents();
    void fullStreamHoldsProducerBack();
    void observedAssignNotifiesOnlyOnChange();
    void completionRunsLaterOnUiThread();
    void isolatesOnlyWhatCanReorder();
    void noSourceChainsArg();
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

void TestPlatform::floodIsDeliveredInSlicesBetweenEvents()
{
    // A backlog used to be delivered in one go, however long it took: no painting and no
    // input in between.
    auto stream = EventStream<int>::create();
    for (int i = 0; i < 200; ++i)
        stream->yield(i);
    QObject context;
    QList<int> seen;
    int seenWhenPosted = -1;
    int seenWhenRun = -1;
    stream->read(&context, [&](int v) {
        if (v == 0) {
            seenWhenPosted = int(seen.size());
            QMetaObject::invokeMethod(
                &context, [&] { seenWhenRun = int(seen.size()); }, Qt::QueuedConnection);
        }
        seen.append(v);
        QElapsedTimer busy; // each value costs the reader 0.1 ms
        busy.start();
        while (busy.nsecsElapsed() < 100'000) { }
    });
    QTRY_COMPARE(seen.size(), 200);
    QCOMPARE(seenWhenPosted, 0);
    // Work posted during the first slice ran before the backlog was through.
    QVERIFY2(seenWhenRun > 0 && seenWhenRun < 200, QByteArray::number(seenWhenRun));
    for (int i = 0; i < 200; ++i)
        QCOMPARE(seen[i], i);
}

void TestPlatform::fullStreamHoldsProducerBack()
{
    auto stream = EventStream<int>::create(10);
    QCOMPARE(stream->capacity(), std::size_t(10));
    for (int i = 0; i < 10; ++i)
        QVERIFY(stream->yield(i));
    QVERIFY(!stream->hasRoom());
    QVERIFY(stream->yield(10)); // nothing is dropped: waiting is up to the producer
    int resumed = 0;
    std::size_t pendingAtResume = 0;
    stream->whenRoom([&] {
        ++resumed;
        pendingAtResume = stream->pendingCount();
    });
    QCOMPARE(resumed, 0);

    QObject context;
    QList<int> seen;
    stream->read(&context, [&](int v) { seen.append(v); });
    QTRY_COMPARE(seen.size(), 11);
    QCOMPARE(resumed, 1); // once, when half the capacity was free again
    QCOMPARE(pendingAtResume, std::size_t(5));
    QVERIFY(stream->hasRoom());
    int inline_ = 0;
    stream->whenRoom([&] { ++inline_; });
    QCOMPARE(inline_, 1); // room now: called at once

    // Ending the stream or cancelling its reader releases a waiting producer.
    for (bool cancel : { false, true }) {
        auto full = EventStream<int>::create(1);
        full->yield(1);
        int released = 0;
        full->whenRoom([&] { ++released; });
        if (cancel)
            full->cancelReader();
        else
            full->finish();
        QCOMPARE(released, 1);
        QVERIFY(full->hasRoom());
        QVERIFY(!full->yield(2)); // and nobody will take what comes after
        QCOMPARE(full->pendingCount(), std::size_t(cancel ? 0 : 1));
    }
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

// Router and operator text inside the system's own: isolated so that nothing in it reorders
// what is around it (the layout audit checks how it is drawn), and substituted once.
void TestPlatform::isolatesOnlyWhatCanReorder()
{
    const QString fsi = QStringLiteral("\u2068"), pdi = QStringLiteral("\u2069");
    // Text, isolated, spoken. A stray PDI would close the outer isolate early; an open one
    // would swallow its PDI.
    const QStringList cases[] = {
        { "Cam 4 (HD) “A”", "Cam 4 (HD) “A”", "Cam 4 (HD) “A”" },
        { "a\u2069\u2067b", fsi + "a\u2067b" + pdi + pdi, "ab" },
        { "\U0001F3A5\u200F", fsi + "\U0001F3A5\u200F" + pdi, "\U0001F3A5" },
    };
    for (const QStringList &c : cases) {
        QCOMPARE(Text::isolated(c[0]), c[1]);
        QCOMPARE(Text::isolated(c[1]), c[1]);
        QCOMPARE(Text::spoken(c[0]), c[2]);
    }
}

void TestPlatform::noSourceChainsArg()
{
    // `.arg(…).arg(`: the second substitutes into what the first put in ("%2" in a host).
    static const QRegularExpression chained(QStringLiteral(
        R"re(\.arg(\((?:[^()"']|"(?:\\.|[^"\\])*"|'(?:\\.|[^'\\])*'|(?1))*\))\s*\.arg\()re"));
    QStringList found;
    QDirIterator files(QStringLiteral(QUORVEL_SOURCE_DIR),
                       { QStringLiteral("*.cpp"), QStringLiteral("*.h") }, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString source = QString::fromUtf8(file.readAll());
        for (const QRegularExpressionMatch &m : chained.globalMatch(source))
            found << file.fileName() + u':'
                    + QString::number(source.first(m.capturedStart()).count(u'\n') + 1);
    }
    QVERIFY2(found.isEmpty(), qPrintable(found.join(u' ')));
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
