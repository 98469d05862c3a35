#include "Model/RouterModels.h"

#include <QJsonDocument>
#include <QtTest>

#include <limits>

namespace {
QJsonObject parse(const char *json)
{
    return QJsonDocument::fromJson(QByteArray(json)).object();
}
} // namespace

class TestRouterModels : public QObject
{
    Q_OBJECT

private slots:
    void emptyObjectDecodesWithDefaults();
    void vendorAndPortDefaults_data();
    void vendorAndPortDefaults();
    void wrongTypesFailTheDecode_data();
    void wrongTypesFailTheDecode();
    void connectionEncodingIsExact();
    void salvoEncodingAndRequiredKeys();
    void datesRoundTrip();
    void portIdentityAndEquality();
    void valuesKeyHashedContainers();
    void routingLookupIsPerLevel();
    void subPanelRejectsNonIntegerIndices();
    void endpointDescription_data();
    void endpointDescription();
    void tintUsesHueOrVendor();
    void catalogue();
};

void TestRouterModels::emptyObjectDecodesWithDefaults()
{
    const auto a = RouterConnection::fromJson(QJsonObject());
    const auto b = RouterConnection::fromJson(QJsonObject());
    QVERIFY(a && b);
    QCOMPARE(a->name, QStringLiteral("Router"));
    QCOMPARE(RouterVendor::Value(a->vendor), RouterVendor::blackmagicVideohub);
    QCOMPARE(a->host, QString());
    QCOMPARE(a->port, 9990);
    QCOMPARE(a->simSourceCount, 16);
    QCOMPARE(a->simDestinationCount, 16);
    QVERIFY(!a->accentHue && !a->bonjourName);
    QVERIFY(!a->id.isNull());
    QVERIFY(a->id != b->id);
}

void TestRouterModels::vendorAndPortDefaults_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("port");
    QTest::newRow("lightware") << QByteArray(R"({"vendor":"lightware"})") << int(RouterVendor::lightware) << 6107;
    QTest::newRow("wrong case falls back")
        << QByteArray(R"({"vendor":"Lightware"})") << int(RouterVendor::blackmagicVideohub) << 9990;
    QTest::newRow("simulator keeps given port")
        << QByteArray(R"({"vendor":"simulator","port":5000})") << int(RouterVendor::simulator) << 5000;
    QTest::newRow("simulator default") << QByteArray(R"({"vendor":"simulator"})") << int(RouterVendor::simulator) << 0;
    QTest::newRow("null port is missing")
        << QByteArray(R"({"vendor":"evertzQuartz","port":null})") << int(RouterVendor::evertzQuartz) << 23;
    QTest::newRow("whole float passes") << QByteArray(R"({"port":5.0})") << int(RouterVendor::blackmagicVideohub) << 5;
    QTest::newRow("negative port kept") << QByteArray(R"({"vendor":"ajaKumo","port":-4})") << int(RouterVendor::ajaKumo) << -4;
}

void TestRouterModels::vendorAndPortDefaults()
{
    QFETCH(QByteArray, json);
    QFETCH(int, vendor);
    QFETCH(int, port);
    const auto decoded = RouterConnection::fromJson(parse(json.constData()));
    QVERIFY2(decoded, qPrintable(decoded ? QString() : decoded.error()));
    QCOMPARE(int(RouterVendor::Value(decoded->vendor)), vendor);
    QCOMPARE(decoded->port, port);
}

void TestRouterModels::wrongTypesFailTheDecode_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("port as string") << QByteArray(R"({"port":"9990"})");
    QTest::newRow("fractional port") << QByteArray(R"({"port":5.5})");
    QTest::newRow("bad uuid") << QByteArray(R"({"id":"not-a-uuid"})");
    QTest::newRow("name as number") << QByteArray(R"({"name":3})");
    QTest::newRow("hue as string") << QByteArray(R"({"accentHue":"0.5"})");
    QTest::newRow("count as bool") << QByteArray(R"({"simSourceCount":true})");
    QTest::newRow("port beyond int") << QByteArray(R"({"port":1e12})");
}

void TestRouterModels::wrongTypesFailTheDecode()
{
    QFETCH(QByteArray, json);
    QVERIFY(!RouterConnection::fromJson(parse(json.constData())));
}

void TestRouterModels::connectionEncodingIsExact()
{
    RouterConnection connection;
    connection.id = QUuid::fromString(QStringLiteral("3f2504e0-4f89-11d3-9a0c-0305e82c3301"));
    connection.name = QStringLiteral("Studio");
    connection.vendor = RouterVendor::rossUltrix;
    connection.host = QStringLiteral("10.0.0.9");
    connection.port = 2000;
    const QJsonObject object = connection.toJson();
    QCOMPARE(object.size(), 7);
    QCOMPARE(object.value(QStringLiteral("id")).toString(),
             QStringLiteral("3F2504E0-4F89-11D3-9A0C-0305E82C3301"));
    QCOMPARE(object.value(QStringLiteral("vendor")).toString(), QStringLiteral("rossUltrix"));
    QCOMPARE(RouterConnection::fromJson(object).value(), connection);

    connection.accentHue = 0.25;
    connection.bonjourName = QStringLiteral("Hub");
    connection.bonjourType = QStringLiteral("_videohub._tcp");
    connection.bonjourDomain = QStringLiteral("local.");
    const QJsonObject full = connection.toJson();
    QCOMPARE(full.size(), 11);
    QCOMPARE(RouterConnection::fromJson(full).value(), connection);
}

void TestRouterModels::salvoEncodingAndRequiredKeys()
{
    Salvo salvo;
    salvo.name = QStringLiteral("Show open");
    salvo.routes = {Route{0, 3, 1}, Route{1, 3, 2}};
    const QJsonObject object = salvo.toJson();
    QCOMPARE(object.size(), 3);
    QVERIFY(!object.contains(QStringLiteral("savedAt")));
    QVERIFY(!object.contains(QStringLiteral("panelID")));
    QCOMPARE(Salvo::fromJson(object).value(), salvo);

    QJsonObject withoutRoutes = object;
    withoutRoutes.remove(QStringLiteral("routes"));
    QVERIFY(!Salvo::fromJson(withoutRoutes));

    QJsonObject badRoute = object;
    badRoute.insert(QStringLiteral("routes"), QJsonArray{QJsonObject{{"level", 0}, {"source", 1}}});
    QVERIFY(!Salvo::fromJson(badRoute));

    salvo.panelID = QUuid::createUuid();
    salvo.savedAt = 12.25;
    QCOMPARE(Salvo::fromJson(salvo.toJson()).value(), salvo);
}

void TestRouterModels::datesRoundTrip()
{
    QCOMPARE(ReferenceDate::toDateTime(0),
             QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()));
    QCOMPARE(ReferenceDate::toDateTime(86400.5),
             QDateTime(QDate(2001, 1, 2), QTime(0, 0, 0, 500), QTimeZone::utc()));
    // A hand-edited date this far back overflowed and read as the future.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const double back : { -9.3e15, -1e300, -std::numeric_limits<double>::infinity() })
        QVERIFY(ReferenceDate::toDateTime(back) < now && ReferenceDate::toDateTime(-back) > now);
    Salvo salvo;
    salvo.name = QStringLiteral("x");
    salvo.savedAt = 86400.5;
    const auto text = QJsonDocument(salvo.toJson()).toJson(QJsonDocument::Compact);
    const auto back = Salvo::fromJson(QJsonDocument::fromJson(text).object());
    QCOMPARE(back->savedAt, std::optional<double>(86400.5));
}

void TestRouterModels::portIdentityAndEquality()
{
    const Port a{3, PortKind::source, QStringLiteral("CAM 4")};
    const Port b{3, PortKind::source, QStringLiteral("Renamed")};
    QCOMPARE(a.id(), QStringLiteral("source-3"));
    QCOMPARE(a.id(), b.id());
    QVERIFY(a != b);
    QCOMPARE((Port{12, PortKind::destination, {}}.id()), QStringLiteral("destination-12"));
    QCOMPARE((PortRef{PortKind::destination, 12}.id()), QStringLiteral("destination-12"));
    QCOMPARE(Port::fromJson(a.toJson()).value(), a);
    QVERIFY(!Port::fromJson(QJsonObject{{"index", 1}, {"kind", "Source"}, {"label", ""}}));
    const RouterLevel level{2, QStringLiteral("Audio 2"), LevelKind::audio};
    QCOMPARE(RouterLevel::fromJson(level.toJson()).value(), level);
    QVERIFY(!RouterLevel::fromJson(QJsonObject{{"index", 1}, {"kind", "sound"}, {"name", ""}}));
}

void TestRouterModels::valuesKeyHashedContainers()
{
    // Equal values must land in one bucket, whatever fields they were copied through.
    const Port port{3, PortKind::source, QStringLiteral("CAM 4")};
    QSet<Port> ports{port, Port{3, PortKind::source, QStringLiteral("Renamed")}, port};
    QCOMPARE(ports.size(), 2);

    RouterConnection connection;
    connection.accentHue = 0.5;
    connection.bonjourName = QStringLiteral("Hub");
    RouterConnection absent = connection;
    absent.bonjourName.reset();
    const RouterConnection copy = RouterConnection::fromJson(connection.toJson()).value();
    QCOMPARE(qHash(copy), qHash(connection));
    QCOMPARE((QSet<RouterConnection>{connection, copy, absent}.size()), 2);

    Salvo salvo;
    salvo.routes = {{0, 1, 2}, {1, 1, 3}};
    QCOMPARE(qHash(Salvo::fromJson(salvo.toJson()).value()), qHash(salvo));
    SubPanel panel{QUuid::createUuid(), QStringLiteral("A"), {1, 2}, {3}};
    QCOMPARE(qHash(SubPanel::fromJson(panel.toJson()).value()), qHash(panel));
    QCOMPARE((QSet<InputSignalStatus>{{true, {}}, {true, QString()}, {true, {}}}.size()), 2);
}

void TestRouterModels::routingLookupIsPerLevel()
{
    RouterState state;
    state.routing[0][5] = 7;
    QCOMPARE(state.source(5, 0), std::optional<int>(7));
    QCOMPARE(state.source(5, 1), std::nullopt);
    QCOMPARE(state.source(6, 0), std::nullopt);
    state.lockedDestinations.insert(5);
    QVERIFY(state.isLocked(5));
    QVERIFY(!state.isLocked(6));
}

void TestRouterModels::subPanelRejectsNonIntegerIndices()
{
    SubPanel panel;
    panel.name = QStringLiteral("Cams");
    panel.sourceIndices = {3, 1, 3};
    panel.destinationIndices = {};
    QCOMPARE(SubPanel::fromJson(panel.toJson()).value(), panel); // stored as written
    QJsonObject bad = panel.toJson();
    bad.insert(QStringLiteral("sourceIndices"), QJsonArray{1, QStringLiteral("2")});
    QVERIFY(!SubPanel::fromJson(bad));
    bad.insert(QStringLiteral("sourceIndices"), QJsonArray{1.5});
    QVERIFY(!SubPanel::fromJson(bad));
}

void TestRouterModels::endpointDescription_data()
{
    QTest::addColumn<int>("vendor");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QVariant>("bonjourName");
    QTest::addColumn<QString>("expected");
    QTest::newRow("simulator") << int(RouterVendor::simulator) << "10.1.1.1" << 9 << QVariant()
                               << "In-memory demo router";
    QTest::newRow("bonjour") << int(RouterVendor::blackmagicVideohub) << "" << 9990
                             << QVariant(QStringLiteral("Hub A")) << "Hub A · Bonjour";
    QTest::newRow("no address") << int(RouterVendor::blackmagicVideohub) << "" << 9990 << QVariant()
                                << ":9990";
    QTest::newRow("empty bonjour name") << int(RouterVendor::blackmagicVideohub) << "" << 9990
                                        << QVariant(QString()) << " · Bonjour";
    QTest::newRow("host wins") << int(RouterVendor::blackmagicVideohub) << "192.0.2.5" << 9990
                               << QVariant(QStringLiteral("Hub A")) << "192.0.2.5:9990";
}

void TestRouterModels::endpointDescription()
{
    QFETCH(int, vendor);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QVariant, bonjourName);
    QFETCH(QString, expected);
    RouterConnection connection;
    connection.vendor = RouterVendor::Value(vendor);
    connection.host = host;
    connection.port = port;
    if (bonjourName.isValid())
        connection.bonjourName = bonjourName.toString();
    QCOMPARE(connection.endpointDescription(), expected);
}

void TestRouterModels::tintUsesHueOrVendor()
{
    RouterConnection connection;
    connection.vendor = RouterVendor::rossUltrix;
    QCOMPARE(connection.tint(), RouterVendor(RouterVendor::rossUltrix).tint());
    connection.accentHue = 0.0;
    const QColor red = connection.tint();
    QCOMPARE(red.hsvHue(), 0);
    QVERIFY(red != connection.vendor.tint());
    QVERIFY(qAbs(red.hsvSaturationF() - 0.72) < 0.01);
    QVERIFY(qAbs(red.valueF() - 0.9) < 0.01);
    // Out-of-range hues from a damaged file are clamped, never an invalid colour.
    connection.accentHue = 7.5;
    QVERIFY(connection.tint().isValid());
    connection.accentHue = -2;
    QCOMPARE(connection.tint().hsvHue(), 0);
}

void TestRouterModels::catalogue()
{
    const auto all = RouterVendor::allCases();
    QCOMPARE(all.size(), 7);
    QCOMPARE(RouterVendor::Value(all.first()), RouterVendor::simulator);
    QCOMPARE(RouterVendor::Value(all.last()), RouterVendor::evertzQuartz);
    for (const RouterVendor &vendor : all)
        QCOMPARE(RouterVendor::fromRawValue(vendor.rawValue()), std::optional<RouterVendor>(vendor));
    QCOMPARE(RouterVendor::fromRawValue(QStringLiteral("SIMULATOR")), std::nullopt);
    QVERIFY(!RouterVendor(RouterVendor::ajaKumo).needsMatrixSize());
    QVERIFY(!RouterVendor(RouterVendor::lightware).needsMatrixSize());
    QCOMPARE(RouterVendor(RouterVendor::rossUltrix).maxMatrixSize(), std::optional<int>(1024));
    QCOMPARE(RouterVendor(RouterVendor::simulator).maxMatrixSize(), std::optional<int>(64));
    QCOMPARE(RouterVendor(RouterVendor::ajaKumo).maxMatrixSize(), std::nullopt);
    QCOMPARE(RouterVendor(RouterVendor::genericSWP08).summary(),
             QStringLiteral("Pro-Bel SW-P-08 · TCP"));
}

QTEST_GUILESS_MAIN(TestRouterModels)
#include "tst_routermodels.moc"
