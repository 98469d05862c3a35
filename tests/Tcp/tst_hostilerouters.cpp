// Every TCP driver against a router that floods it: noise, valid changes, absurd indices, a
// line that never ends, refusals never asked for, a crash or a freeze mid-session; and floods
// that start with the link, before the router's state is read. The link must end with a clear
// error or the input must be ignored, and what the driver holds must stay under its caps
// meanwhile. Then against routers that mishandle a command: what the screen shows after the
// deadline, and what the operator is told.

#include "Drivers/LW3Parser.h"
#include "Drivers/LightwareDriver.h"
#include "Drivers/QuartzDriver.h"
#include "Drivers/QuartzParser.h"
#include "Drivers/SWP08Driver.h"
#include "Drivers/SWP08Parser.h"
#include "Drivers/VideohubDriver.h"
#include "Drivers/VideohubParser.h"

#include "FakeLW3Router.h"
#include "FakeQuartzRouter.h"
#include "FakeSWP08Router.h"
#include "FakeVideohubRouter.h"
#include "TestSupport.h"

#include "Platform/Text.h"

#include <QElapsedTimer>
#include <QtTest>

#include <algorithm>

using namespace std::chrono_literals;
using Type = RouterDriverEvent::Type;

namespace {

enum class Protocol { videohub, swp08, quartz, lw3 };
enum class Attack { randomBytes, validEvents, absurdIndices, endlessLine, refusals, reset, freeze };

// One protocol: a fake router, a driver connected to it and what the driver may hold.
struct Subject
{
    std::unique_ptr<QObject> fake;
    RouterDriverPtr driver;
    std::function<void(FloodMode)> flood;
    std::function<void(FloodMode)> floodOnConnect; // from the moment a client connects
    std::function<void()> silence; // the fake no longer answers or describes itself
    std::function<void()> freeze; // the fake answers no command any more
    std::function<void()> stopFlood;
    std::function<void()> reset;
    std::function<qint64()> buffered;
    std::function<void(Misbehaviour, std::chrono::milliseconds)> misbehave;
    std::function<int()> rereads; // questions about one destination or table sent so far
    qint64 parserCap = 0; // the longest unfinished line, block or frame the parser keeps
};

RouterConnection at(RouterVendor vendor, quint16 port)
{
    return TestSupport::loopbackRouter(QStringLiteral("Hostile"), vendor, port, 16, 16);
}

// How long a driver waits for quiet, for all of the first read and for any answer.
struct Pace
{
    std::chrono::milliseconds quiet;
    std::chrono::milliseconds readLimit;
    std::chrono::milliseconds noAnswer;
    std::chrono::milliseconds answerLimit = 5000ms; // for a command
    PendingCommands::Timing confirmation = {};
};
const Pace kBrisk { 50ms, 10000ms, 5000ms };
// Quiet as long as in production and the first read bounded far sooner, so only the bound
// can bring the state while a flood goes on. The fake's answers come behind the 256 KiB of
// flood it holds, about 40 turns of this thread's loop: at 300 ms a loaded sanitizer run
// could miss them.
const Pace kBounded { 1000ms, 600ms, 600ms };
const Pace kImpatient { 50ms, 10000ms, 5000ms, 300ms };
// Unconfirmed commands are asked about after 50 ms and given up 300 ms after their answer.
const Pace kConfirming { 50ms, 10000ms, 5000ms, 500ms, { 50ms, 100ms, 300ms } };

template<typename Fake> void wire(Subject &subject, Fake *fake)
{
    subject.fake.reset(fake);
    subject.flood = [fake](FloodMode mode) {
        fake->startFlood(mode);
    };
    subject.floodOnConnect = [fake](FloodMode mode) {
        QObject::connect(fake, &Fake::clientConnected, fake,
                         [fake, mode] { fake->startFlood(mode); });
    };
    subject.stopFlood = [fake] {
        fake->stopFlood();
    };
    subject.reset = [fake] {
        fake->resetClients();
    };
    subject.misbehave = [fake](Misbehaviour mode, std::chrono::milliseconds lateBy) {
        fake->misbehave(mode, lateBy);
    };
}

template<typename Driver> void drive(Subject &subject, std::shared_ptr<Driver> driver)
{
    subject.driver = driver;
    subject.buffered = [driver] {
        return driver->bufferedBytes();
    };
}

Subject subjectFor(Protocol protocol, Pace pace = kBrisk)
{
    Subject subject;
    const TcpLinkOptions link { 5000ms, 50ms, pace.answerLimit, pace.confirmation };
    const InterrogationTiming interrogation { link, pace.quiet, pace.noAnswer, pace.readLimit };
    switch (protocol) {
    case Protocol::videohub: {
        FakeVideohubModel model;
        model.inputs = model.outputs = 16;
        model.sendEndPrelude = pace.quiet == kBrisk.quiet; // else only quiet ends the dump
        auto *fake = new FakeVideohubRouter(model);
        wire(subject, fake);
        subject.silence = [fake] {
            fake->setPreludeOverride({});
        };
        subject.freeze = [fake] {
            fake->setReply(FakeVideohubRouter::Reply::silent);
        };
        subject.rereads = [fake] {
            return int(fake->blocks().count("VIDEO OUTPUT ROUTING:")
                       + fake->blocks().count("VIDEO OUTPUT LOCKS:"));
        };
        VideohubTiming timing;
        timing.link = link;
        timing.preludeDebounce = pace.quiet;
        timing.readLimit = pace.readLimit;
        drive(subject,
              std::make_shared<VideohubDriver>(at(RouterVendor::blackmagicVideohub, fake->port()),
                                               timing));
        subject.parserCap = VideohubParser::Limits {}.maxBufferedBytes;
        break;
    }
    case Protocol::swp08: {
        auto *fake = new FakeSWP08Router(16, 16);
        wire(subject, fake);
        subject.silence = [fake] {
            fake->answerInterrogations = false;
        };
        subject.freeze = [fake] {
            fake->acknowledge = fake->answerConnects = false;
        };
        subject.rereads = [fake] {
            return int(std::count_if(fake->messages.cbegin(), fake->messages.cend(),
                                     [](const QByteArray &m) { return m.at(0) == 0x01; }));
        };
        drive(subject,
              std::make_shared<SWP08Driver>(at(RouterVendor::genericSWP08, fake->port()),
                                            interrogation));
        subject.parserCap = SWP08Parser::maxFrameLength;
        break;
    }
    case Protocol::quartz: {
        auto *fake = new FakeQuartzRouter(16, 16);
        wire(subject, fake);
        subject.silence = [fake] {
            fake->answerInterrogations = false;
        };
        subject.freeze = [fake] {
            fake->answerConnects = false;
        };
        subject.rereads = [fake] {
            return int(std::count_if(fake->lines.cbegin(), fake->lines.cend(),
                                     [](const QByteArray &l) { return l.startsWith(".IV"); }));
        };
        drive(subject,
              std::make_shared<QuartzDriver>(at(RouterVendor::evertzQuartz, fake->port()),
                                             interrogation));
        subject.parserCap = QuartzParser::maxLineLength;
        break;
    }
    case Protocol::lw3: {
        auto *fake = new FakeLW3Router(16, 16);
        fake->listen();
        wire(subject, fake);
        subject.silence = subject.freeze = [fake] {
            fake->silent = true;
        };
        subject.rereads = [fake] {
            return int(fake->log().count(QStringLiteral("GET /MEDIA/XP/VIDEO.*")));
        };
        LightwareDriver::Timing timing;
        timing.link = link;
        timing.parser = { 20ms, pace.quiet == kBrisk.quiet ? 40ms : pace.quiet };
        timing.readLimit = pace.readLimit;
        drive(subject,
              std::make_shared<LightwareDriver>(at(RouterVendor::lightware, fake->port()), timing));
        subject.parserCap = LW3Parser::maxLineLength;
        break;
    }
    }
    return subject;
}

// Reads like a controller that is slower than the router: every event costs it 20 µs. Only
// counts and the ending texts are kept, so the test itself does not grow with the flood.
struct SlowReader
{
    QObject context;
    QHash<Type, int> counts;
    QList<RouterDriverEvent> endings; // error and disconnected events

    void attach(const RouterDriverPtr &driver)
    {
        driver->events()->read(&context, [this](const RouterDriverEvent &event) {
            ++counts[event.type];
            if (event.type == Type::error || event.type == Type::disconnected)
                endings.append(event);
            QElapsedTimer busy;
            busy.start();
            while (busy.nsecsElapsed() < 20'000) { }
        });
    }
    int changes() const
    {
        return counts.value(Type::routeChanged) + counts.value(Type::labelChanged)
            + counts.value(Type::lockChanged) + counts.value(Type::inputStatusChanged);
    }
};

} // namespace

Q_DECLARE_METATYPE(Protocol)
Q_DECLARE_METATYPE(Attack)
Q_DECLARE_METATYPE(FloodMode)
Q_DECLARE_METATYPE(Misbehaviour)

class TestHostileRouters : public QObject
{
    Q_OBJECT

private slots:
    void attack_data();
    void attack();
    void floodBeforeTheState_data();
    void floodBeforeTheState();
    void misbehavingRouter_data();
    void misbehavingRouter();
};

void TestHostileRouters::attack_data()
{
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<Attack>("kind");
    // An empty ending: the input is ignored and the link stays up.
    QTest::addColumn<QString>("ending");

    // A crash resets the connection; that used to read "The router closed the connection.".
    const QString reset = QStringLiteral("Receive failed: Connection reset by peer");
    const struct
    {
        const char *name;
        Protocol protocol;
        QString endless; // how an endless line ends the link, if it does
    } protocols[] = {
        { "Videohub", Protocol::videohub,
          QStringLiteral("The router sent more than 4 MiB without ending a block.") },
        { "SW-P-08", Protocol::swp08, {} },
        { "Quartz", Protocol::quartz, {} },
        { "LW3", Protocol::lw3, QStringLiteral("The router sent a line longer than 4 MiB.") },
    };
    for (const auto &p : protocols) {
        auto row = [&](const char *attack) -> QTestData & {
            return QTest::addRow("%s, %s", p.name, attack);
        };
        row("random bytes") << p.protocol << Attack::randomBytes << QString();
        row("valid events") << p.protocol << Attack::validEvents << QString();
        row("absurd indices") << p.protocol << Attack::absurdIndices << QString();
        row("endless line") << p.protocol << Attack::endlessLine << p.endless;
        row("refusals") << p.protocol << Attack::refusals << QString();
        row("reset by peer") << p.protocol << Attack::reset << reset;
        // The take then used to look done for good, on a router that stayed Online.
        row("freeze") << p.protocol << Attack::freeze
                      << TcpLink::unansweredText(300ms) + u' ' + TcpLink::inFlightText(1);
    }
}

void TestHostileRouters::attack()
{
    QFETCH(Protocol, protocol);
    QFETCH(Attack, kind);
    QFETCH(QString, ending);

    Subject subject = subjectFor(protocol, kind == Attack::freeze ? kImpatient : kBrisk);
    SlowReader reader;
    reader.attach(subject.driver);
    subject.driver->connect();
    QTRY_VERIFY_WITH_TIMEOUT(reader.counts.value(Type::connected) == 1, 10000);
    QTest::qWait(100); // the state is read; the router is quiet
    const QHash<Type, int> before = reader.counts;
    const int changesBefore = reader.changes();

    qint64 maxBuffered = 0;
    std::size_t maxPending = 0;
    auto sample = [&] {
        maxBuffered = std::max(maxBuffered, subject.buffered());
        maxPending = std::max(maxPending, subject.driver->events()->pendingCount());
    };
    if (kind == Attack::reset) {
        subject.reset();
    } else if (kind == Attack::freeze) {
        subject.freeze();
        QVERIFY(TestSupport::run([&](DriverCompletion done) {
            subject.driver->takeAll({ Route { 0, 1, 2 } }, std::move(done));
        }));
    } else {
        // At least 300 ms, and on a slow machine until what the attack must cause is seen.
        const auto seen = [&] {
            if (!ending.isEmpty())
                return !reader.endings.isEmpty();
            return kind != Attack::validEvents || reader.changes() > changesBefore;
        };
        subject.flood(FloodMode(int(kind)));
        QElapsedTimer flooding;
        flooding.start();
        while (reader.endings.isEmpty()
               && (flooding.elapsed() < 300 || (!seen() && flooding.elapsed() < 30000))) {
            QTest::qWait(10);
            sample();
        }
        subject.stopFlood();
    }

    // Held back by flow control, not buffered: at most one socket's worth and one
    // unfinished line, and the stream's capacity plus what one received chunk can make.
    QVERIFY2(maxBuffered <= TcpConnection::maxBufferedBytes + subject.parserCap,
             QByteArray::number(maxBuffered));
    QVERIFY2(maxPending <= RouterEventStream::defaultCapacity + 65536,
             QByteArray::number(qulonglong(maxPending)));

    if (!ending.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(!reader.endings.isEmpty(), 10000);
        const RouterDriverEvent &first = reader.endings.first();
        QCOMPARE(first.type == Type::error ? first.text : first.reason.value_or(QString()), ending);
        QTRY_COMPARE(reader.endings.last(), RouterDriverEvent::makeDisconnected());
        // What stays on screen once the link is down says so too.
        if (kind == Attack::freeze)
            QVERIFY(std::ranges::any_of(reader.endings, [](const RouterDriverEvent &e) {
                return e.reason && e.reason->endsWith(TcpLink::inFlightText(1));
            }));
    } else {
        QVERIFY2(reader.endings.isEmpty(), qPrintable(describe(reader.endings.value(0))));
        if (kind == Attack::absurdIndices)
            QCOMPARE(reader.changes(), changesBefore); // nothing of it reaches the controller
        if (kind == Attack::validEvents)
            QVERIFY(reader.changes() > changesBefore);
        QCOMPARE(reader.counts.value(Type::connected), before.value(Type::connected));
        // The link is still usable.
        QVERIFY(TestSupport::run([&](DriverCompletion done) {
            subject.driver->takeAll({ Route { 0, 1, 2 } }, std::move(done));
        }));
    }
    subject.driver->disconnect();
}

void TestHostileRouters::floodBeforeTheState_data()
{
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<FloodMode>("mode");
    // Empty: the state is reported as it stands once the first read's time is over.
    QTest::addColumn<QString>("ending");
    const struct
    {
        const char *name;
        Protocol protocol;
        QString noise; // how a router that only sends noise is given up on
    } protocols[] = {
        { "Videohub", Protocol::videohub,
          QStringLiteral("The router didn't announce its inputs and outputs within 0.6 seconds.") },
        { "SW-P-08", Protocol::swp08,
          QStringLiteral("The device answered TCP but spoke no SW-P-08 — check the port and "
                         "matrix size.") },
        { "Quartz", Protocol::quartz,
          QStringLiteral("The device answered TCP but spoke no Quartz — check the port and "
                         "matrix size.") },
        { "LW3", Protocol::lw3,
          QStringLiteral("The router didn't report its ports and crosspoints within 0.6 "
                         "seconds.") },
    };
    for (const auto &p : protocols) {
        QTest::addRow("%s, updates that never go quiet", p.name)
            << p.protocol << FloodMode::validEvents << QString();
        QTest::addRow("%s, noise only", p.name) << p.protocol << FloodMode::randomBytes << p.noise;
    }
}

void TestHostileRouters::floodBeforeTheState()
{
    // Updates from the first moment kept pushing the state back for good ("Connecting…" at
    // full CPU); a device sending noise was read for ever, with or without a word.
    QFETCH(Protocol, protocol);
    QFETCH(FloodMode, mode);
    QFETCH(QString, ending);

    Subject subject = subjectFor(protocol, kBounded);
    if (mode == FloodMode::randomBytes)
        subject.silence();
    subject.floodOnConnect(mode);
    SlowReader reader;
    reader.attach(subject.driver);
    subject.driver->connect();

    if (ending.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(reader.counts.value(Type::connected) == 1, 5000);
        subject.stopFlood();
        QVERIFY2(reader.endings.isEmpty(), qPrintable(describe(reader.endings.value(0))));
        QVERIFY(TestSupport::run([&](DriverCompletion done) {
            subject.driver->takeAll({ Route { 0, 1, 2 } }, std::move(done));
        }));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(!reader.endings.isEmpty(), 5000);
        QCOMPARE(reader.endings.first(), RouterDriverEvent::makeError(ending));
        // The link ends, rather than reading the flood on.
        QTRY_COMPARE(reader.endings.last(), RouterDriverEvent::makeDisconnected());
        QCOMPARE(reader.counts.value(Type::connected), 0);
        subject.stopFlood();
    }
    subject.driver->disconnect();
}

void TestHostileRouters::misbehavingRouter_data()
{
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<Misbehaviour>("mode");
    QTest::addColumn<bool>("lock"); // a lock of destination 1 rather than a take of 2 to it
    QTest::addColumn<int>("shown"); // what destination 1 shows at the end: a source, or 1 locked
    QTest::addColumn<QString>("told"); // a refusal, or the link's error when it ends
    QTest::addColumn<bool>("online");
    QTest::addColumn<bool>("asksAgain"); // whether the router is asked about it again

    const QString unconfirmed
        = QStringLiteral("The router didn't confirm the %1 within 0.3 seconds: %2 shows what it "
                         "last reported.");
    const QString contradicted = QStringLiteral("The router didn't take the route: %1 shows what "
                                                "it reports.");
    const QString refused = QStringLiteral("%1 %2 shows what the router reports.");
    const QString cut = TcpLink::unansweredText(500ms) + u' ' + TcpLink::inFlightText(1);
    const struct
    {
        const char *name;
        Protocol protocol;
        QString output;
        QString refusal;
    } protocols[] = {
        { "Videohub", Protocol::videohub, "Mon 2", "The router refused the last command." },
        { "SW-P-08", Protocol::swp08, "Out 2", "The router refused the route (NAK)." },
        { "Quartz", Protocol::quartz, "Out 2", "The router refused the command." },
        { "LW3", Protocol::lw3, "Output 2", "Route refused: Not now." },
    };
    for (const auto &p : protocols) {
        auto row = [&](const char *what) -> QTestData & {
            return QTest::addRow("%s, %s", p.name, what);
        };
        // An acknowledgement followed by the router's report: no question, nothing said.
        row("answered") << p.protocol << Misbehaviour::none << false << 2 << QString() << true
                        << false;
        // Answering 0.6 of the limit late keeps the take lit and the router Online.
        row("late") << p.protocol << Misbehaviour::late << false << 2 << QString() << true << false;
        // Faults that used to leave the take lit on an Online router without a word.
        if (p.protocol != Protocol::quartz) // its answer is its report
            row("acknowledged, not done")
                << p.protocol << Misbehaviour::acknowledgeOnly << false << 1
                << Text::format(unconfirmed, QStringLiteral("route"), p.output) << true << true;
        row("contradicted") << p.protocol << Misbehaviour::contradict << false << 1
                            << Text::format(contradicted, p.output) << true << false;
        row("stuck but chatty") << p.protocol << Misbehaviour::stuckChatty << false << 1 << cut
                                << false << false;
        row("take and question refused")
            << p.protocol << Misbehaviour::refuseAll << false << 1
            << Text::format(refused, p.refusal, p.output) << true << true;
        if (p.protocol == Protocol::videohub || p.protocol == Protocol::lw3)
            row("lock acknowledged, not done")
                << p.protocol << Misbehaviour::acknowledgeOnly << true << 0
                << Text::format(unconfirmed, QStringLiteral("lock"), p.output) << true << true;
    }
}

void TestHostileRouters::misbehavingRouter()
{
    QFETCH(Protocol, protocol);
    QFETCH(Misbehaviour, mode);
    QFETCH(bool, lock);
    QFETCH(int, shown);
    QFETCH(QString, told);
    QFETCH(bool, online);
    QFETCH(bool, asksAgain);

    Subject subject = subjectFor(protocol, kConfirming);
    TestSupport::EventRecorder recorder;
    recorder.attach(subject.driver);
    subject.driver->connect();
    QTRY_VERIFY(recorder.types().contains(Type::connected));
    QTest::qWait(100);
    subject.misbehave(mode, 300ms);
    const int asked = subject.rereads();
    const qsizetype from = recorder.events.size();
    // What the controller shows: the command's value at once, then whatever the driver says.
    int value = lock ? 1 : 2;
    QVERIFY(TestSupport::run([&](DriverCompletion done) {
        if (lock)
            subject.driver->setLock(1, 0, true, std::move(done));
        else
            subject.driver->takeAll({ Route { 0, 1, 2 } }, std::move(done));
    }));
    QTest::qWait(750); // past the answer limit, and the deadline after a late answer

    QStringList refusals;
    QList<RouterDriverEvent> endings;
    for (const RouterDriverEvent &event : recorder.events.mid(from)) {
        if (event.type == Type::routeChanged && !lock && event.destination == 1)
            value = event.source.value_or(-1);
        else if (event.type == Type::lockChanged && lock && event.destination == 1)
            value = event.locked;
        else if (event.type == Type::commandRefused)
            refusals.append(event.text);
        else if (event.type == Type::error || event.type == Type::disconnected)
            endings.append(event);
    }
    QCOMPARE(value, shown);
    if (online) {
        QVERIFY2(endings.isEmpty(), qPrintable(describe(endings.value(0))));
        QVERIFY2(told.isEmpty() ? refusals.isEmpty() : refusals.contains(told),
                 qPrintable(refusals.join(u'|')));
    } else {
        QVERIFY(!endings.isEmpty());
        QCOMPARE(endings.first(), RouterDriverEvent::makeError(told));
    }
    QCOMPARE(subject.rereads() > asked, asksAgain);
    subject.driver->disconnect();
}

QTEST_GUILESS_MAIN(TestHostileRouters)
#include "tst_hostilerouters.moc"
