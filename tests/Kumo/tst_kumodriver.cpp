#include "Controllers/RouterController.h"
#include "Drivers/KumoDriver.h"
#include "Drivers/RouterDriver.h"
#include "Model/LabelStore.h"
#include "Model/PanelStore.h"
#include "Model/SalvoStore.h"

#include "FakeKumoServer.h"
#include "TestSupport.h"

#include <QtTest>

using TestSupport::run;
using Recorder = TestSupport::EventRecorder;
using namespace std::chrono_literals;

namespace {

const QString kSources = QStringLiteral("eParamID_NumberOfSources");
const QString kDestinations = QStringLiteral("eParamID_NumberOfDestinations");

QString statusId(int n)
{
    return QStringLiteral("eParamID_XPT_Destination%1_Status").arg(n);
}

QString getOf(const QString &id)
{
    return QStringLiteral("config?action=get&paramid=") + id;
}

RouterConnection kumoAt(const QString &host, int port)
{
    RouterConnection connection;
    connection.name = QStringLiteral("Edit Bay");
    connection.vendor = RouterVendor::ajaKumo;
    connection.host = host;
    connection.port = port;
    return connection;
}

KumoDriver::Timing fast()
{
    KumoDriver::Timing timing;
    timing.requestTimeout = 2000ms;
    timing.pollInterval = 50ms;
    return timing;
}

KumoDriver::Timing withTimeout(std::chrono::milliseconds requestTimeout)
{
    KumoDriver::Timing timing = fast();
    timing.requestTimeout = requestTimeout;
    return timing;
}

struct Rig
{
    FakeKumoServer server;
    std::shared_ptr<KumoDriver> driver;
    Recorder recorder;

    explicit Rig(KumoDriver::Timing timing = fast())
    {
        server.listen();
        driver = std::make_shared<KumoDriver>(kumoAt(QStringLiteral("127.0.0.1"), server.port()),
                                              timing);
        recorder.attach(driver);
    }
    void connect() { driver->connect(); }
    bool waitConnected()
    {
        return QTest::qWaitFor([this] { return typesContain(RouterDriverEvent::connected); }, 5000);
    }
    bool typesContain(RouterDriverEvent::Type type) const
    {
        return recorder.types().contains(type);
    }
    QString firstError() const
    {
        for (const auto &e : recorder.events)
            if (e.type == RouterDriverEvent::error)
                return e.text;
        return {};
    }
    QList<RouterDriverEvent> eventsOf(RouterDriverEvent::Type type) const
    {
        QList<RouterDriverEvent> list;
        for (const auto &e : recorder.events)
            if (e.type == type)
                list.append(e);
        return list;
    }
};

} // namespace

class TestKumoDriver : public QObject
{
    Q_OBJECT

private slots:
    void encodesLabels_data();
    void encodesLabels();
    void readsIntegers_data();
    void readsIntegers();

    void connectReadsSequentiallyAndReports();
    void connectFailures_data();
    void connectFailures();
    void failedSingleReadsTakeDefaults();
    void hugeNamesAreCut();
    void badAddressesFailClearly_data();
    void badAddressesFailClearly();

    void takeThroughFactoryReadsBack();
    void takeKeptByRouterIsRefused_data();
    void takeKeptByRouterIsRefused();
    void renameThroughFactorySendsEncodedValue();
    void commandsNeedConnection();
    void connectionsTheRouterClosesAreReplaced();

    void pollReportsChangesButNeverLoss();
    void takeDuringPollRequestEndsThePass();
    void disconnectDuringConnectStopsRequests();
    void droppedDriverWithRequestInFlight();
    void slowReplyTimesOut();

    void deadRouterEndsTheLink_data();
    void deadRouterEndsTheLink();
    void killedRouterLeavesConnectedInTheController();
    void takeTimedOutButCarriedOutIsShownByThePoll();
    void redirectsAreRefused_data();
    void redirectsAreRefused();
    void endlessChunkedBodyIsCutOff();
    void tricklingReplyMeetsTheWholeRequestLimit();
};

void TestKumoDriver::encodesLabels_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QByteArray>("encoded");
    QTest::newRow("delimiters of the query") << "A&B=C" << QByteArray("A%26B%3DC");
    QTest::newRow("space") << "Cam 1" << QByteArray("Cam%201");
    QTest::newRow("kept sub-delimiters") << "a;b:c@d!$'()*," << QByteArray("a;b:c@d!$'()*,");
    QTest::newRow("unreserved") << "x-y.z_w~" << QByteArray("x-y.z_w~");
    QTest::newRow("plus slash question hash") << "+/?#" << QByteArray("%2B%2F%3F%23");
    QTest::newRow("percent") << "50%" << QByteArray("50%25");
    QTest::newRow("UTF-8") << QString::fromUtf8("Caméra") << QByteArray("Cam%C3%A9ra");
}

void TestKumoDriver::encodesLabels()
{
    QFETCH(QString, label);
    QFETCH(QByteArray, encoded);
    QCOMPARE(KumoDriver::encodeLabel(label), encoded);
}

void TestKumoDriver::readsIntegers_data()
{
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<bool>("present");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("number") << QJsonValue(16) << true << qint64(16);
    QTest::newRow("whole double") << QJsonValue(16.0) << true << qint64(16);
    QTest::newRow("fraction cut toward zero") << QJsonValue(-3.9) << true << qint64(-3);
    QTest::newRow("text") << QJsonValue("16") << true << qint64(16);
    QTest::newRow("signed text") << QJsonValue("+5") << true << qint64(5);
    QTest::newRow("negative text") << QJsonValue("-5") << true << qint64(-5);
    QTest::newRow("word") << QJsonValue("sixteen") << false << qint64(0);
    QTest::newRow("empty text") << QJsonValue("") << false << qint64(0);
    QTest::newRow("sign alone") << QJsonValue("-") << false << qint64(0);
    QTest::newRow("padded text") << QJsonValue(" 16") << false << qint64(0);
    // These used to be converted with undefined behaviour.
    QTest::newRow("1e300") << QJsonValue(1e300) << false << qint64(0);
    QTest::newRow("2^63") << QJsonValue(9223372036854775808.0) << false << qint64(0);
    QTest::newRow("text past 64 bits") << QJsonValue("99999999999999999999") << false << qint64(0);
    QTest::newRow("bool") << QJsonValue(true) << false << qint64(0);
    QTest::newRow("null") << QJsonValue() << false << qint64(0);
}

void TestKumoDriver::readsIntegers()
{
    QFETCH(QJsonValue, value);
    QFETCH(bool, present);
    QFETCH(qint64, expected);
    const auto number = KumoDriver::integerValue(value);
    QCOMPARE(number.has_value(), present);
    if (present)
        QCOMPARE(*number, expected);
    QVERIFY(!KumoDriver::integerValue(std::nullopt));
}

void TestKumoDriver::connectReadsSequentiallyAndReports()
{
    Rig rig;
    rig.server.populate(3, 2);
    rig.server.setValue(QStringLiteral("eParamID_XPT_Source2_Line_1"), 7);
    rig.server.setValue(QStringLiteral("eParamID_XPT_Source3_Line_1"), QString());
    rig.server.setValue(QStringLiteral("eParamID_XPT_Destination1_Line_1"),
                        QStringLiteral(" PGM "));
    rig.server.setValue(kSources, QStringLiteral("3")); // a count as text reads alike
    rig.server.setValue(kDestinations, 2.0);
    rig.server.setValue(statusId(2), 0);
    rig.connect();
    QVERIFY(rig.waitConnected());

    const QList<RouterDriverEvent> statuses = rig.eventsOf(RouterDriverEvent::status);
    QCOMPARE(statuses.size(), 2);
    QCOMPARE(statuses[0].text, QStringLiteral("Contacting KUMO at 127.0.0.1…"));
    QCOMPARE(statuses[1].text, QStringLiteral("Reading routing and labels…"));

    const RouterState state = rig.eventsOf(RouterDriverEvent::connected).value(0).state;
    QCOMPARE(state.model, QStringLiteral("KUMO 3×2"));
    QCOMPARE(state.deviceName, QStringLiteral("Edit Bay"));
    QCOMPARE(state.vendor, RouterVendor(RouterVendor::ajaKumo));
    QCOMPARE(state.sources,
             (QList<Port> { { 0, PortKind::source, "Cam 1" },
                            { 1, PortKind::source, "7" },
                            { 2, PortKind::source, "In 3" } }));
    QCOMPARE(state.destinations,
             (QList<Port> { { 0, PortKind::destination, " PGM " },
                            { 1, PortKind::destination, "Mon 2" } }));
    QCOMPARE(state.levels, (QList<RouterLevel> { { 0, "Video", LevelKind::video } }));
    QCOMPARE(state.routing.value(0), (LevelRouting { { 0, 0 } }));
    QVERIFY(state.lockedDestinations.isEmpty());
    QVERIFY(state.inputStatus.isEmpty());

    const QStringList expected { getOf(kSources),
                                 getOf(kDestinations),
                                 getOf("eParamID_XPT_Source1_Line_1"),
                                 getOf("eParamID_XPT_Source2_Line_1"),
                                 getOf("eParamID_XPT_Source3_Line_1"),
                                 getOf("eParamID_XPT_Destination1_Line_1"),
                                 getOf("eParamID_XPT_Destination2_Line_1"),
                                 getOf(statusId(1)),
                                 getOf(statusId(2)) };
    QCOMPARE(rig.server.log().mid(0, expected.size()), expected);
    QCOMPARE(rig.server.connectionCount(), 1); // one request at a time, on one kept-alive link
}

void TestKumoDriver::connectFailures_data()
{
    QTest::addColumn<QString>("param");
    QTest::addColumn<int>("httpStatus");
    QTest::addColumn<QByteArray>("rawBody");
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<QString>("error");

    QTest::newRow("404 on a count") << kDestinations << 404 << QByteArray() << QJsonValue()
                                    << "KUMO didn't answer: Connection error: HTTP 404";
    QTest::newRow("count as a word")
        << kSources << 0 << QByteArray() << QJsonValue("sixteen")
        << "KUMO didn't answer: Protocol error: eParamID_NumberOfSources returned no number";
    QTest::newRow("count missing from the reply")
        << kSources << 0 << QByteArray("{\"other\": 3}") << QJsonValue()
        << "KUMO didn't answer: Protocol error: eParamID_NumberOfSources returned no number";
    QTest::newRow("zero destinations") << kDestinations << 0 << QByteArray() << QJsonValue(0)
                                       << "KUMO reported a zero-sized matrix.";
    QTest::newRow("negative sources")
        << kSources << 0 << QByteArray() << QJsonValue(-4) << "KUMO reported a zero-sized matrix.";
    QTest::newRow("count past the cap")
        << kSources << 0 << QByteArray() << QJsonValue(100000)
        << "KUMO reported 100000 sources; at most 4096 are supported.";
    // A bare scalar is JSON without a "value"; it used to read as "isn't valid JSON".
    QTest::newRow("bare number body")
        << kSources << 0 << QByteArray("5") << QJsonValue()
        << "KUMO didn't answer: Protocol error: eParamID_NumberOfSources returned no number";
    QTest::newRow("bare text body")
        << kDestinations << 0 << QByteArray(" \"16\"\n") << QJsonValue()
        << "KUMO didn't answer: Protocol error: eParamID_NumberOfDestinations returned no number";
    QTest::newRow("body that is not JSON")
        << kSources << 0 << QByteArray("5 6") << QJsonValue()
        << "KUMO didn't answer: The reply isn't valid JSON (illegal value).";
    QTest::newRow("count of 1e300")
        << kSources << 0 << QByteArray() << QJsonValue(1e300)
        << "KUMO didn't answer: Protocol error: eParamID_NumberOfSources returned no number";
}

void TestKumoDriver::connectFailures()
{
    QFETCH(QString, param);
    QFETCH(int, httpStatus);
    QFETCH(QByteArray, rawBody);
    QFETCH(QJsonValue, value);
    QFETCH(QString, error);

    Rig rig;
    rig.server.populate(2, 2);
    if (httpStatus)
        rig.server.setStatus(param, httpStatus);
    else if (!rawBody.isEmpty())
        rig.server.setRawBody(param, rawBody);
    else
        rig.server.setValue(param, value);
    rig.connect();
    QTRY_COMPARE(rig.firstError(), error);
    QVERIFY(!rig.typesContain(RouterDriverEvent::connected));
    QVERIFY(!rig.server.log().join(' ').contains("_Line_1")); // nothing sized from a bad count
}

void TestKumoDriver::failedSingleReadsTakeDefaults()
{
    Rig rig;
    rig.server.populate(2, 3);
    rig.server.setStatus(QStringLiteral("eParamID_XPT_Source1_Line_1"), 404);
    rig.server.setRawBody(QStringLiteral("eParamID_XPT_Destination2_Line_1"), "<html>");
    rig.server.setValue(QStringLiteral("eParamID_XPT_Destination3_Line_1"), 2.5);
    rig.server.setStatus(statusId(1), 500);
    rig.server.setValue(statusId(2), QStringLiteral("2"));
    rig.server.setRawBody(statusId(3), QByteArray(70 * 1024, ' ') + "{\"value\": 1}");
    rig.connect();
    QVERIFY(rig.waitConnected());
    const RouterState state = rig.eventsOf(RouterDriverEvent::connected).value(0).state;
    QCOMPARE(state.sources.value(0).label, QStringLiteral("In 1"));
    QCOMPARE(state.sources.value(1).label, QStringLiteral("Cam 2"));
    QCOMPARE(state.destinations.value(1).label, QStringLiteral("Out 2"));
    QCOMPARE(state.destinations.value(2).label, QStringLiteral("Out 3"));
    // The oversized body counts as a failed read, not as source 1.
    QCOMPARE(state.routing.value(0), (LevelRouting { { 1, 1 } }));
}

void TestKumoDriver::hugeNamesAreCut()
{
    Rig rig;
    rig.server.populate(2, 1);
    rig.server.setHugeNames(20000);
    rig.connect();
    QVERIFY(rig.waitConnected());
    const RouterState state = rig.eventsOf(RouterDriverEvent::connected).value(0).state;
    QCOMPARE(state.sources.value(0).label, QString(maxRouterNameLength, QLatin1Char('N')));
    QCOMPARE(state.destinations.value(0).label, QString(maxRouterNameLength, QLatin1Char('N')));
}

void TestKumoDriver::takeThroughFactoryReadsBack()
{
    FakeKumoServer server;
    QVERIFY(server.listen());
    server.populate(4, 4);
    RouterDriverPtr driver = DriverFactory::makeDriver(kumoAt("127.0.0.1", server.port()));
    QVERIFY(dynamic_cast<KumoDriver *>(driver.get()));
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_VERIFY(recorder.types().contains(RouterDriverEvent::connected));
    recorder.events.clear();
    server.clearLog();

    QVERIFY(run([&](DriverCompletion done) {
        driver->takeAll({ Route { 0, 2, 1 }, Route { 0, 3, 0 } }, done);
    }));
    QCOMPARE(server.log(),
             (QStringList { "config?action=set&paramid=eParamID_XPT_Destination3_Status&value=2",
                            getOf(statusId(3)),
                            "config?action=set&paramid=eParamID_XPT_Destination4_Status&value=1",
                            getOf(statusId(4)) }));
    QTRY_COMPARE(recorder.events,
                 (QList<RouterDriverEvent> { RouterDriverEvent::makeRouteChanged(0, 2, 1),
                                             RouterDriverEvent::makeRouteChanged(0, 3, 0) }));
    driver->disconnect();
}

void TestKumoDriver::takeKeptByRouterIsRefused_data()
{
    QTest::addColumn<QJsonValue>("kept");
    QTest::addColumn<QList<RouterDriverEvent>>("expected");
    QTest::newRow("another source")
        << QJsonValue(5)
        << QList<RouterDriverEvent> { RouterDriverEvent::makeRouteChanged(0, 2, 4),
                                      RouterDriverEvent::makeCommandRefused(
                                          "KUMO kept Out 3 on In 5.") };
    QTest::newRow("no source") << QJsonValue(0)
                               << QList<RouterDriverEvent> {
                                      RouterDriverEvent::makeRouteChanged(0, 2, std::nullopt),
                                      RouterDriverEvent::makeCommandRefused(
                                          "KUMO left Out 3 without a source.")
                                  };
    QTest::newRow("unreadable read-back") << QJsonValue("?") << QList<RouterDriverEvent> {};
}

void TestKumoDriver::takeKeptByRouterIsRefused()
{
    QFETCH(QJsonValue, kept);
    QFETCH(QList<RouterDriverEvent>, expected);
    Rig rig;
    rig.server.populate(8, 4);
    rig.server.refuseSets(statusId(3), kept);
    rig.connect();
    QVERIFY(rig.waitConnected());
    rig.recorder.events.clear();
    QVERIFY(run([&](DriverCompletion done) { rig.driver->take(1, 2, 0, done); }));
    QTRY_COMPARE(rig.recorder.events, expected);
}

void TestKumoDriver::renameThroughFactorySendsEncodedValue()
{
    FakeKumoServer server;
    QVERIFY(server.listen());
    server.populate(2, 2);
    RouterDriverPtr driver = DriverFactory::makeDriver(kumoAt("127.0.0.1", server.port()));
    Recorder recorder;
    recorder.attach(driver);
    driver->connect();
    QTRY_VERIFY(recorder.types().contains(RouterDriverEvent::connected));
    recorder.events.clear();
    server.clearLog();

    QVERIFY(run(
        [&](DriverCompletion done) { driver->setLabel("A&B=C", 0, PortKind::destination, done); }));
    QCOMPARE(server.log(),
             QStringList {
                 "config?action=set&paramid=eParamID_XPT_Destination1_Line_1&value=A%26B%3DC" });
    QCOMPARE(server.value("eParamID_XPT_Destination1_Line_1"), QJsonValue("A&B=C"));
    QTRY_COMPARE(recorder.events,
                 QList<RouterDriverEvent> {
                     RouterDriverEvent::makeLabelChanged(PortKind::destination, 0, "A&B=C") });

    // A refused set is the caller's error, with nothing reported.
    server.setStatus("eParamID_XPT_Source2_Line_1", 403);
    const DriverResult refused
        = run([&](DriverCompletion done) { driver->setLabel("Cam", 1, PortKind::source, done); });
    QCOMPARE(refused, DriverResult(std::unexpected(DriverError::transportError("HTTP 403"))));
    QTest::qWait(20);
    QCOMPARE(recorder.events.size(), 1);
}

void TestKumoDriver::commandsNeedConnection()
{
    Rig rig;
    rig.server.populate(2, 2);
    const DriverResult notConnected = std::unexpected(DriverError::notConnectedError());
    QCOMPARE(run([&](DriverCompletion d) {
                 rig.driver->takeAll({ Route { 0, 0, 1 } }, d);
             }),
             notConnected);
    QCOMPARE(run([&](DriverCompletion d) { rig.driver->setLabel("x", 0, PortKind::source, d); }),
             notConnected);
    const DriverResult unsupported = std::unexpected(DriverError::unsupportedFeature("Locking"));
    QCOMPARE(run([&](DriverCompletion d) { rig.driver->setLock(0, 0, true, d); }), unsupported);
    QCOMPARE(unsupported.error().localizedDescription(),
             QStringLiteral("Locking isn't supported by this router."));
    QVERIFY(rig.server.log().isEmpty());

    rig.connect();
    QVERIFY(rig.waitConnected());
    QCOMPARE(run([&](DriverCompletion d) { rig.driver->setLock(0, 0, true, d); }), unsupported);
    QVERIFY(run([&](DriverCompletion d) { rig.driver->takeAll({}, d); }));
    rig.driver->disconnect();
    QCOMPARE(run([&](DriverCompletion d) {
                 rig.driver->takeAll({ Route { 0, 0, 1 } }, d);
             }),
             notConnected);
}

void TestKumoDriver::connectionsTheRouterClosesAreReplaced()
{
    // A kept connection the router has closed meanwhile must not fail the next request.
    Rig rig;
    rig.server.populate(2, 2);
    rig.server.setCloseAfterReply(true);
    rig.connect();
    QVERIFY(rig.waitConnected());
    QVERIFY(run([&](DriverCompletion d) { rig.driver->take(1, 0, 0, d); }));
    QTRY_VERIFY(rig.recorder.events.contains(RouterDriverEvent::makeRouteChanged(0, 0, 1)));
    QVERIFY(rig.firstError().isEmpty());
    QVERIFY(rig.server.connectionCount() > 1);
    rig.driver->disconnect();
}

void TestKumoDriver::pollReportsChangesButNeverLoss()
{
    Rig rig;
    rig.server.populate(4, 2);
    rig.connect();
    QVERIFY(rig.waitConnected());
    rig.recorder.events.clear();
    rig.server.setValue(statusId(1), 4);
    rig.server.setValue(statusId(2), 0);
    QTRY_COMPARE(rig.recorder.events,
                 QList<RouterDriverEvent> { RouterDriverEvent::makeRouteChanged(0, 0, 3) });
    // A few more passes: the unchanged routing and the lost source stay silent.
    const int requests = rig.server.log().size();
    QTRY_VERIFY(rig.server.log().size() >= requests + 6);
    QCOMPARE(rig.recorder.events.size(), 1);
    rig.driver->disconnect();
}

void TestKumoDriver::takeDuringPollRequestEndsThePass()
{
    Rig rig;
    rig.server.populate(4, 3);
    rig.connect();
    QVERIFY(rig.waitConnected());
    rig.recorder.events.clear();

    rig.server.setValue(statusId(1), 3);
    rig.server.hold(statusId(1));
    QTRY_COMPARE(rig.server.heldCount(), 1); // a poll pass waits on destination 1
    auto take = std::make_shared<std::optional<DriverResult>>();
    rig.driver->take(0, 2, 0, [take](DriverResult r) { *take = r; });
    QTRY_VERIFY(take->has_value());
    QVERIFY(**take);
    rig.server.clearLog();
    rig.server.releaseHeld();

    // The held answer predates the take: dropped, and the pass ends there.
    QTRY_VERIFY(rig.server.log().size() >= 1);
    QCOMPARE(rig.server.log().first(), getOf(statusId(1)));
    QTRY_VERIFY(rig.recorder.events.contains(RouterDriverEvent::makeRouteChanged(0, 0, 2)));
    QCOMPARE(rig.recorder.events.first(), RouterDriverEvent::makeRouteChanged(0, 2, 0));
    rig.driver->disconnect();
}

void TestKumoDriver::disconnectDuringConnectStopsRequests()
{
    Rig rig;
    rig.server.populate(2, 2);
    rig.server.hold(kDestinations);
    bool connectReturned = false;
    rig.driver->connect([&] { connectReturned = true; });
    QTRY_COMPARE(rig.server.heldCount(), 1);
    rig.driver->disconnect();
    rig.server.releaseHeld();
    QTRY_VERIFY(connectReturned);
    QTest::qWait(50);
    QCOMPARE(rig.server.log(), (QStringList { getOf(kSources), getOf(kDestinations) }));
    QVERIFY(!rig.typesContain(RouterDriverEvent::connected));
    QVERIFY(!rig.typesContain(RouterDriverEvent::error));
    QVERIFY(rig.recorder.ended);
}

void TestKumoDriver::droppedDriverWithRequestInFlight()
{
    FakeKumoServer server;
    QVERIFY(server.listen());
    server.populate(2, 2);
    server.hold(kSources);
    bool connectReturned = false;
    {
        auto driver = std::make_shared<KumoDriver>(kumoAt("127.0.0.1", server.port()), fast());
        driver->connect([&] { connectReturned = true; });
        QTRY_COMPARE(server.heldCount(), 1);
    }
    server.releaseHeld();
    QTRY_VERIFY(connectReturned);
    QTest::qWait(50);
    QCOMPARE(server.log(), QStringList { getOf(kSources) });
}

void TestKumoDriver::slowReplyTimesOut()
{
    Rig rig(withTimeout(150ms));
    rig.server.populate(2, 2);
    rig.server.setDelay(kSources, 2000);
    rig.connect();
    QTRY_COMPARE(rig.firstError(), QStringLiteral("KUMO didn't answer: The request timed out."));
}

void TestKumoDriver::badAddressesFailClearly_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("error");
    const QString badUrl = QStringLiteral(
        "KUMO didn't answer: Protocol error: Bad URL for config?action=get&paramid="
        "eParamID_NumberOfSources");
    QTest::newRow("empty host") << "" << 80
                                << "No address for this router. Edit it and set a host.";
    QTest::newRow("host with a space") << "bad host" << 80 << badUrl;
    // Joined as text, these asked for another path, or sent a user and password.
    QTest::newRow("host with a path") << "127.0.0.1:9/other?x=" << 80 << badUrl;
    QTest::newRow("host with a user") << "user:pw@127.0.0.1" << 80 << badUrl;
    QTest::newRow("port past 65535") << "127.0.0.1" << 70000 << badUrl;
    QTest::newRow("negative port") << "127.0.0.1" << -1 << badUrl;
}

void TestKumoDriver::badAddressesFailClearly()
{
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, error);
    auto driver = std::make_shared<KumoDriver>(kumoAt(host, port), fast());
    Recorder recorder;
    recorder.attach(driver);
    bool returned = false;
    driver->connect([&] { returned = true; });
    QVERIFY(!returned); // never from inside the call
    QTRY_VERIFY(returned);
    QTRY_COMPARE(recorder.events.value(recorder.events.size() - 1),
                 RouterDriverEvent::makeError(error));
}

void TestKumoDriver::deadRouterEndsTheLink_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("answering");
    QTest::addColumn<int>("failedPasses");
    QTest::addColumn<int>("offlineAfterMs");
    QTest::addColumn<QString>("error");
    // What a router that answers with errors of its own is reported with, once.
    QTest::addColumn<QString>("refusal");
    const QString answered = QStringLiteral("KUMO answered the routing poll with an error: ");
    // An answering router used to be dropped as "stopped answering" after three passes.
    QTest::newRow("every request answers HTTP 503")
        << "503" << 0 << 3 << 60000 << QString() << answered + "Connection error: HTTP 503";
    QTest::newRow("every value is no number")
        << "text" << 0 << 3 << 60000 << QString()
        << answered + "Protocol error: eParamID_XPT_Destination1_Status returned no number";
    QTest::newRow("one destination still answers")
        << "503" << 2 << 3 << 60000 << QString() << answered + "Connection error: HTTP 503";
    // Each pass takes a time-out per destination; the time bound ends the link sooner.
    QTest::newRow("requests only time out")
        << "hold" << 0 << 1000 << 250 << "KUMO stopped answering: The request timed out."
        << QString();
}

void TestKumoDriver::deadRouterEndsTheLink()
{
    QFETCH(QString, failure);
    QFETCH(int, answering);
    QFETCH(int, failedPasses);
    QFETCH(int, offlineAfterMs);
    QFETCH(QString, error);
    QFETCH(QString, refusal);

    KumoDriver::Timing timing = withTimeout(100ms);
    timing.pollInterval = 10ms;
    timing.failedPassesBeforeOffline = failedPasses;
    timing.offlineAfter = std::chrono::milliseconds(offlineAfterMs);
    Rig rig(timing);
    rig.server.populate(2, 3);
    for (int n = 1; n <= 3; ++n) {
        if (n == answering)
            continue;
        if (failure == QLatin1String("hold"))
            rig.server.hold(statusId(n));
        else if (failure == QLatin1String("text"))
            rig.server.setValue(statusId(n), QStringLiteral("none"));
        else
            rig.server.setStatus(statusId(n), 503);
    }
    rig.connect(); // the status reads of the connect fail alike, which it tolerates
    QVERIFY(rig.waitConnected());
    const qsizetype connectEvents = rig.recorder.events.size();
    auto statusReads = [&] {
        return rig.server.log().filter(QStringLiteral("_Status")).size();
    };

    if (error.isEmpty()) {
        QTRY_VERIFY(statusReads() >= 3 + 3 * 8);
        QCOMPARE(rig.recorder.events.mid(connectEvents),
                 QList { RouterDriverEvent::makeCommandRefused(refusal) });
        // Still connected: a take reaches the router (which may refuse it in its own words).
        const DriverResult took = run([&](DriverCompletion d) { rig.driver->take(0, 1, 0, d); });
        QVERIFY(took || took.error() != DriverError::notConnectedError());
        rig.driver->disconnect();
        return;
    }
    QTRY_VERIFY(rig.typesContain(RouterDriverEvent::disconnected));
    QCOMPARE(rig.recorder.events.mid(connectEvents),
             (QList<RouterDriverEvent> { RouterDriverEvent::makeError(error),
                                         RouterDriverEvent::makeDisconnected(
                                             QStringLiteral("The router stopped answering.")) }));

    const qsizetype requests = rig.server.log().size();
    QCOMPARE(run([&](DriverCompletion d) { rig.driver->take(0, 1, 0, d); }),
             DriverResult(std::unexpected(DriverError::notConnectedError())));
    QTest::qWait(100);
    QCOMPARE(rig.server.log().size(), requests);
    QVERIFY(!rig.recorder.ended); // the stream stays open until disconnect()
    rig.driver->disconnect();
}

void TestKumoDriver::killedRouterLeavesConnectedInTheController()
{
    QTemporaryDir dir;
    LabelStore labels(dir.filePath(QStringLiteral("labels.json")));
    SalvoStore salvos(dir.filePath(QStringLiteral("salvos.json")));
    PanelStore panels(dir.filePath(QStringLiteral("panels.json")));
    auto server = std::make_unique<FakeKumoServer>();
    QVERIFY(server->listen());
    server->populate(4, 4);
    KumoDriver::Timing timing = fast();
    timing.pollInterval = 20ms;
    RouterController controller(
        kumoAt(QStringLiteral("127.0.0.1"), server->port()), labels, salvos, panels,
        [timing](const RouterConnection &c) { return std::make_shared<KumoDriver>(c, timing); },
        RouterController::UsageHooks {});
    controller.connect();
    QTRY_COMPARE(controller.status().kind(), ConnectionStatus::connected);

    server.reset(); // the router is switched off: every request is refused
    QTRY_COMPARE(controller.status().kind(), ConnectionStatus::disconnected);
    QCOMPARE(controller.statusMessage(), QStringLiteral("The router stopped answering."));
    QVERIFY(controller.lastError().value_or(QString()).startsWith(
        QStringLiteral("KUMO stopped answering: ")));
    controller.disconnect();
}

void TestKumoDriver::takeTimedOutButCarriedOutIsShownByThePoll()
{
    // A poll that saw the take done before it timed out left the put-back cell stale for good.
    KumoDriver::Timing timing = withTimeout(300ms);
    timing.pollInterval = 20ms;
    Rig rig(timing);
    rig.server.populate(4, 4);
    rig.connect();
    QVERIFY(rig.waitConnected());
    rig.server.holdSets(statusId(2));
    QCOMPARE(run([&](DriverCompletion d) { rig.driver->take(3, 1, 0, d); }).error().detail(),
             "KUMO didn't confirm the route within 0.3 seconds. It may still change if the router "
             "carries it out later; the next poll shows the route it holds.");
    const qsizetype failedAt = rig.recorder.events.size();
    QTRY_VERIFY(rig.recorder.events.sliced(failedAt).contains(
        RouterDriverEvent::makeRouteChanged(0, 1, 3)));
    rig.driver->disconnect();
}

void TestKumoDriver::redirectsAreRefused_data()
{
    QTest::addColumn<int>("status");
    for (int status : { 301, 302, 303, 307, 308 })
        QTest::newRow(QByteArray::number(status)) << status;
}

void TestKumoDriver::redirectsAreRefused()
{
    QFETCH(int, status);
    FakeKumoServer elsewhere;
    QVERIFY(elsewhere.listen());
    elsewhere.populate(2, 2);
    const QByteArray target = "http://127.0.0.1:" + QByteArray::number(elsewhere.port()) + "/"
        + getOf(kSources).toLatin1();

    Rig rig;
    rig.server.populate(2, 2);
    rig.server.redirect(kSources, status, target);
    rig.connect();
    QTRY_COMPARE(rig.firstError(),
                 QStringLiteral("KUMO didn't answer: Connection error: HTTP %1 (redirects "
                                "aren't followed)")
                     .arg(status));
    QTest::qWait(50);
    QCOMPARE(elsewhere.connectionCount(), 0);
    QCOMPARE(rig.server.log(), QStringList { getOf(kSources) });
}

void TestKumoDriver::endlessChunkedBodyIsCutOff()
{
    // The time-out is long, so only the size guard can end this read.
    Rig rig(withTimeout(60000ms));
    rig.server.populate(2, 2);
    rig.server.floodChunked(kSources);
    rig.connect();
    QTRY_COMPARE(rig.firstError(),
                 QStringLiteral("KUMO didn't answer: The reply to "
                                "config?action=get&paramid=eParamID_NumberOfSources is larger "
                                "than 64 KiB."));
    // The connection is closed, not left to fill up behind the aborted read.
    QTRY_COMPARE(rig.server.floodsHungUp(), 1);
}

void TestKumoDriver::tricklingReplyMeetsTheWholeRequestLimit()
{
    // About 120 bytes at one byte per 100 ms: every byte is progress, so a time-out that
    // restarted with each one would never end the request.
    Rig rig(withTimeout(300ms));
    rig.server.populate(2, 2);
    rig.server.trickle(kSources, 100);
    rig.connect();
    QTRY_COMPARE(rig.firstError(), QStringLiteral("KUMO didn't answer: The request timed out."));
    QTRY_COMPARE(rig.server.tricklesHungUp(), 1);
    QVERIFY(!rig.typesContain(RouterDriverEvent::connected));
}

QTEST_MAIN(TestKumoDriver)
#include "tst_kumodriver.moc"
