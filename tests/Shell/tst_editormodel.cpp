#include "Views/Shell/RouterEditorModel.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

using Endpoint = RouterDiscovery::Endpoint;

// A resolver that answers later, as the real one does, with a fixed result; it records
// the time limit it was given.
struct FakeResolver
{
    std::optional<Endpoint> answer;
    double lastTimeout = 0;
    int calls = 0;
    RouterDiscovery::ResolveCompletion pending;

    RouterEditorModel::Resolver function(bool holdAnswer = false)
    {
        return [this, holdAnswer](const RouterDiscovery::Device &, double timeout, QObject *context,
                                  RouterDiscovery::ResolveCompletion done) {
            ++calls;
            lastTimeout = timeout;
            if (holdAnswer) {
                pending = std::move(done);
                return;
            }
            QMetaObject::invokeMethod(
                context, [done, answer = answer] { done(answer); }, Qt::QueuedConnection);
        };
    }
};

const RouterDiscovery::Device studioHub{QStringLiteral("Studio Hub"),
                                        QStringLiteral("_videohub._tcp"),
                                        QStringLiteral("local.")};

RouterConnection saved(RouterVendor vendor, int port, const QString &host = {})
{
    RouterConnection connection;
    connection.name = QStringLiteral("Saved");
    connection.vendor = vendor;
    connection.port = port;
    connection.host = host;
    return connection;
}

} // namespace

Q_DECLARE_METATYPE(RouterVendor)

class TestEditorModel : public QObject
{
    Q_OBJECT

private slots:
    void newDraftDefaults();
    void existingDraftIsUnchanged();
    void vendorChangeMovesOnlyADefaultPort_data();
    void vendorChangeMovesOnlyADefaultPort();
    void sizeSectionPerVendor_data();
    void sizeSectionPerVendor();
    void steppersStayWithinBounds();
    void countsSurviveVendorSwitches();
    void saveNeedsANonBlankName_data();
    void saveNeedsANonBlankName();
    void saveNeedsAPlainHost();
    void useFillsTheDraft_data();
    void useFillsTheDraft();
    void resolvedPortEqualToOldDefaultIsKept();
    void secondDeviceWhileResolvingIsIgnored();
    void cancelledResolutionChangesNothing();
};

void TestEditorModel::newDraftDefaults()
{
    RouterEditorModel model(std::nullopt, FakeResolver().function());
    QVERIFY(model.isNew());
    QCOMPARE(model.title(), QStringLiteral("Add Router"));
    const RouterConnection &d = model.draft();
    QCOMPARE(d.name, QStringLiteral("New Router"));
    QCOMPARE(RouterVendor::Value(d.vendor), RouterVendor::blackmagicVideohub);
    QCOMPARE(d.host, QString());
    QCOMPARE(d.port, 9990);
    QCOMPARE(d.simSourceCount, 16);
    QCOMPARE(d.simDestinationCount, 16);
    QVERIFY(!d.accentHue && !d.bonjourName && !d.bonjourType && !d.bonjourDomain);
    QVERIFY(!d.id.isNull());
    RouterEditorModel other(std::nullopt, FakeResolver().function());
    QVERIFY(other.draft().id != d.id);
    QCOMPARE(RouterEditorModel::accentHues(),
             (QList<double>{0.58, 0.78, 0.92, 0.0, 0.08, 0.13, 0.33, 0.5}));
}

void TestEditorModel::existingDraftIsUnchanged()
{
    RouterConnection connection = saved(RouterVendor::lightware, 7000, QStringLiteral("10.1.1.1"));
    connection.accentHue = 0.33;
    RouterEditorModel model(connection, FakeResolver().function());
    QVERIFY(!model.isNew());
    QCOMPARE(model.title(), QStringLiteral("Edit Router"));
    QCOMPARE(model.draft(), connection);
}

void TestEditorModel::vendorChangeMovesOnlyADefaultPort_data()
{
    QTest::addColumn<RouterVendor>("from");
    QTest::addColumn<int>("port");
    QTest::addColumn<RouterVendor>("to");
    QTest::addColumn<int>("expected");
    QTest::newRow("videohub default to ultrix")
        << RouterVendor(RouterVendor::blackmagicVideohub) << 9990
        << RouterVendor(RouterVendor::rossUltrix) << 2000;
    QTest::newRow("custom port stays") << RouterVendor(RouterVendor::blackmagicVideohub) << 9991
                                       << RouterVendor(RouterVendor::rossUltrix) << 9991;
    QTest::newRow("simulator 0 to videohub") << RouterVendor(RouterVendor::simulator) << 0
                                             << RouterVendor(RouterVendor::blackmagicVideohub)
                                             << 9990;
    QTest::newRow("videohub to simulator") << RouterVendor(RouterVendor::blackmagicVideohub)
                                           << 9990 << RouterVendor(RouterVendor::simulator) << 0;
    QTest::newRow("ultrix to generic share 2000") << RouterVendor(RouterVendor::rossUltrix) << 2000
                                                  << RouterVendor(RouterVendor::genericSWP08)
                                                  << 2000;
    QTest::newRow("quartz to kumo") << RouterVendor(RouterVendor::evertzQuartz) << 23
                                    << RouterVendor(RouterVendor::ajaKumo) << 80;
    QTest::newRow("kumo to lightware") << RouterVendor(RouterVendor::ajaKumo) << 80
                                       << RouterVendor(RouterVendor::lightware) << 6107;
}

void TestEditorModel::vendorChangeMovesOnlyADefaultPort()
{
    QFETCH(RouterVendor, from);
    QFETCH(int, port);
    QFETCH(RouterVendor, to);
    QFETCH(int, expected);
    RouterConnection connection = saved(from, port, QStringLiteral("10.0.0.9"));
    connection.simSourceCount = 40;
    connection.accentHue = 0.5;
    RouterEditorModel model(connection, FakeResolver().function());
    model.setVendor(to);
    QCOMPARE(model.draft().port, expected);
    // Nothing else follows the vendor.
    QCOMPARE(model.draft().host, QStringLiteral("10.0.0.9"));
    QCOMPARE(model.draft().simSourceCount, 40);
    QCOMPARE(model.draft().accentHue, std::optional<double>(0.5));
    QCOMPARE(model.draft().name, QStringLiteral("Saved"));
}

void TestEditorModel::sizeSectionPerVendor_data()
{
    QTest::addColumn<RouterVendor>("vendor");
    QTest::addColumn<bool>("size");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<bool>("network");
    QTest::newRow("simulator") << RouterVendor(RouterVendor::simulator) << true
                               << "Simulator size" << 64 << false;
    QTest::newRow("ultrix") << RouterVendor(RouterVendor::rossUltrix) << true << "Matrix size"
                            << 1024 << true;
    QTest::newRow("generic") << RouterVendor(RouterVendor::genericSWP08) << true << "Matrix size"
                             << 1024 << true;
    QTest::newRow("quartz") << RouterVendor(RouterVendor::evertzQuartz) << true << "Matrix size"
                            << 1024 << true;
    QTest::newRow("videohub") << RouterVendor(RouterVendor::blackmagicVideohub) << false << ""
                              << 0 << true;
    QTest::newRow("kumo") << RouterVendor(RouterVendor::ajaKumo) << false << "" << 0 << true;
    QTest::newRow("lightware") << RouterVendor(RouterVendor::lightware) << false << "" << 0
                               << true;
}

void TestEditorModel::sizeSectionPerVendor()
{
    QFETCH(RouterVendor, vendor);
    QFETCH(bool, size);
    QFETCH(QString, title);
    QFETCH(int, maximum);
    QFETCH(bool, network);
    RouterEditorModel model(std::nullopt, FakeResolver().function());
    model.setVendor(vendor);
    QCOMPARE(model.showsSizeSection(), size);
    QCOMPARE(model.showsNetworkSection(), network);
    if (size) {
        QCOMPARE(model.sizeSectionTitle(), title);
        QCOMPARE(model.maximumMatrixSize(), maximum);
    }
}

void TestEditorModel::steppersStayWithinBounds()
{
    RouterConnection connection = saved(RouterVendor::simulator, 0);
    connection.simSourceCount = 3;
    connection.simDestinationCount = 63;
    RouterEditorModel model(connection, FakeResolver().function());
    model.stepSourceCount(-1);
    QCOMPARE(model.draft().simSourceCount, 2);
    QVERIFY(!model.canStepSourceCount(-1));
    model.stepSourceCount(-1);
    QCOMPARE(model.draft().simSourceCount, 2);
    model.stepDestinationCount(+1);
    QCOMPARE(model.draft().simDestinationCount, 64);
    QVERIFY(!model.canStepDestinationCount(+1));
    model.stepDestinationCount(+1);
    QCOMPARE(model.draft().simDestinationCount, 64);

    // A stored count beyond the range is shown as it is; stepping brings it back in range.
    connection.simSourceCount = 500;
    RouterEditorModel big(connection, FakeResolver().function());
    QCOMPARE(big.draft().simSourceCount, 500);
    QVERIFY(!big.canStepSourceCount(+1));
    big.stepSourceCount(-1);
    QCOMPARE(big.draft().simSourceCount, 64);
}

void TestEditorModel::countsSurviveVendorSwitches()
{
    RouterEditorModel model(std::nullopt, FakeResolver().function());
    model.setVendor(RouterVendor::rossUltrix);
    model.stepSourceCount(+1);
    model.setVendor(RouterVendor::simulator);
    QCOMPARE(model.draft().simSourceCount, 17);
    model.setHost(QStringLiteral("10.2.2.2"));
    model.setVendor(RouterVendor::evertzQuartz);
    QCOMPARE(model.draft().simSourceCount, 17);
    QCOMPARE(model.draft().host, QStringLiteral("10.2.2.2"));
}

void TestEditorModel::saveNeedsANonBlankName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("canSave");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("spaces") << "   " << false;
    QTest::newRow("tab and no-break space") << "\t\u00a0\u2003" << false;
    QTest::newRow("line break is not blank") << "\n" << true;
    QTest::newRow("leading spaces kept") << "  Hub" << true;
}

void TestEditorModel::saveNeedsANonBlankName()
{
    QFETCH(QString, name);
    QFETCH(bool, canSave);
    RouterEditorModel model(std::nullopt, FakeResolver().function());
    model.setName(name);
    QCOMPARE(model.canSave(), canSave);
    QCOMPARE(model.draft().name, name); // never trimmed
}

// "127.0.0.1:P/evil?x=" requested another path of a KUMO, and "user:pw@host" was taken.
void TestEditorModel::saveNeedsAPlainHost()
{
    RouterEditorModel model(std::nullopt, FakeResolver().function());
    const QStringList bad { "127.0.0.1:80/evil?x=", "user:pw@host", "a b", "hub#1", " hub" };
    for (const QString &host : bad + QStringList { "10.0.0.5", "fe80::1%2", "kumo.local", "" }) {
        model.setHost(host);
        QVERIFY2(model.canSave() != bad.contains(host), qPrintable(host));
    }
    model.setHost(bad.first());
    model.setVendor(RouterVendor::simulator); // no address to check
    QVERIFY(model.canSave());
}

void TestEditorModel::useFillsTheDraft_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<RouterVendor>("vendor");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("resolves");
    QTest::addColumn<QString>("expectedName");
    QTest::addColumn<QString>("expectedHost");
    QTest::addColumn<int>("expectedPort");

    const auto hub = RouterVendor(RouterVendor::blackmagicVideohub);
    QTest::newRow("default name, resolved") << "New Router" << hub << "" << 9990 << true
                                            << "Studio Hub" << "10.0.0.5" << 9990;
    QTest::newRow("default name, failed") << "New Router" << hub << "" << 9990 << false
                                          << "Studio Hub" << "" << 9990;
    QTest::newRow("empty name, failed") << "" << hub << "" << 9990 << false << "Studio Hub" << ""
                                        << 9990;
    QTest::newRow("own name, failed keeps it") << "Rack A" << hub << "" << 9990 << false
                                               << "Rack A" << "" << 9990;
    QTest::newRow("own name, resolved replaces it") << "Rack A" << hub << "" << 9990 << true
                                                    << "Studio Hub" << "10.0.0.5" << 9990;
    QTest::newRow("lightware with typed host, failed")
        << "New Router" << RouterVendor(RouterVendor::lightware) << "10.9.9.9" << 6107 << false
        << "Studio Hub" << "10.9.9.9" << 9990;
    QTest::newRow("typed host and own port, failed")
        << "New Router" << RouterVendor(RouterVendor::lightware) << "10.9.9.9" << 7000 << false
        << "Studio Hub" << "10.9.9.9" << 7000;
    QTest::newRow("empty host, failed, from ultrix")
        << "New Router" << RouterVendor(RouterVendor::rossUltrix) << "" << 1234 << false
        << "Studio Hub" << "" << 9990;
}

void TestEditorModel::useFillsTheDraft()
{
    QFETCH(QString, name);
    QFETCH(RouterVendor, vendor);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(bool, resolves);
    FakeResolver resolver;
    if (resolves)
        resolver.answer = Endpoint{QStringLiteral("10.0.0.5"), 9990};
    RouterEditorModel model(std::nullopt, resolver.function());
    model.setVendor(vendor);
    model.setName(name);
    model.setHost(host);
    model.setPort(port);

    model.use(studioHub);
    QCOMPARE(model.resolvingDevice(), QStringLiteral("Studio Hub"));
    QCOMPARE(resolver.lastTimeout, 5.0);
    QTRY_COMPARE(model.resolvingDevice(), QString());

    QFETCH(QString, expectedName);
    QFETCH(QString, expectedHost);
    QFETCH(int, expectedPort);
    const RouterConnection &d = model.draft();
    QCOMPARE(d.name, expectedName);
    QCOMPARE(RouterVendor::Value(d.vendor), RouterVendor::blackmagicVideohub);
    QCOMPARE(d.host, expectedHost);
    QCOMPARE(d.port, expectedPort);
    QCOMPARE(d.bonjourName, std::optional<QString>(QStringLiteral("Studio Hub")));
    QCOMPARE(d.bonjourType, std::optional<QString>(QStringLiteral("_videohub._tcp")));
    QCOMPARE(d.bonjourDomain, std::optional<QString>(QStringLiteral("local.")));
}

void TestEditorModel::resolvedPortEqualToOldDefaultIsKept()
{
    // Used to become 9990: the vendor rule saw the resolved 2000 as Ultrix's default.
    FakeResolver resolver;
    resolver.answer = Endpoint{QStringLiteral("10.0.0.6"), 2000};
    RouterEditorModel model(std::nullopt, resolver.function());
    model.setVendor(RouterVendor::rossUltrix);
    QCOMPARE(model.draft().port, 2000);
    model.use(studioHub);
    QTRY_COMPARE(model.resolvingDevice(), QString());
    QCOMPARE(RouterVendor::Value(model.draft().vendor), RouterVendor::blackmagicVideohub);
    QCOMPARE(model.draft().host, QStringLiteral("10.0.0.6"));
    QCOMPARE(model.draft().port, 2000);
}

void TestEditorModel::secondDeviceWhileResolvingIsIgnored()
{
    FakeResolver resolver;
    RouterEditorModel model(std::nullopt, resolver.function(true));
    model.use(studioHub);
    model.use({QStringLiteral("Other"), QStringLiteral("_blackmagic._tcp"), QStringLiteral("local.")});
    QCOMPARE(resolver.calls, 1);
    QCOMPARE(model.resolvingDevice(), QStringLiteral("Studio Hub"));
    resolver.pending(std::nullopt);
    QCOMPARE(model.resolvingDevice(), QString());
    QCOMPARE(model.draft().bonjourName, std::optional<QString>(QStringLiteral("Studio Hub")));
}

void TestEditorModel::cancelledResolutionChangesNothing()
{
    FakeResolver resolver;
    RouterEditorModel model(std::nullopt, resolver.function(true));
    const RouterConnection before = model.draft();
    model.use(studioHub);
    model.cancelResolution();
    resolver.pending(Endpoint{QStringLiteral("10.0.0.5"), 9990});
    QCOMPARE(model.draft(), before);
    QCOMPARE(model.resolvingDevice(), QString());
}

QTEST_GUILESS_MAIN(TestEditorModel)
#include "tst_editormodel.moc"
