#include "ControllerRig.h"

#include "Theme/StatusDot.h"
#include "Views/Workspace/DeviceHeader.h"

#include <QtTest>

namespace {

// 12 sources, 8 destinations, levels 0 "Video" and 1 "Audio".
RouterState studioState()
{
    RouterState state = makeState(12, 8, 2);
    state.deviceName = QStringLiteral("Stage Router");
    state.levels[0].name = QStringLiteral("Video");
    state.levels[1] = RouterLevel { 1, QStringLiteral("Audio"), LevelKind::audio };
    return state;
}

StatusPill *pillOf(DeviceHeader &header)
{
    return header.findChild<StatusPill *>();
}

StatusDot *dotOf(DeviceHeader &header)
{
    return header.findChild<StatusDot *>();
}

} // namespace

class TestDeviceHeader : public QObject
{
    Q_OBJECT

private slots:
    void titleFallsBackToTheVendorName();
    void specsLine();
    void followsTheControllerLive();
    void narrowWidthSwitchesToTheCompactRow();
    void capsuleIsCentredAndAtMost940Wide();
    void accessibilityTextSizeWrapsSpecsToThreeLines();
};

void TestDeviceHeader::titleFallsBackToTheVendorName()
{
    ControllerRig rig;
    rig.connection.vendor = RouterVendor::lightware;
    rig.connection.name = QStringLiteral("Saved name, not shown");
    RouterState state = studioState();
    state.deviceName.clear();
    rig.connectWith(state);
    DeviceHeader header(*rig.controller);
    QCOMPARE(header.title(), QStringLiteral("Lightware MX2"));

    state.deviceName = QStringLiteral("<b>Hall & Stage</b>");
    rig.drivers.last()->emitEvent(RouterDriverEvent::makeConnected(state));
    ControllerRig::settle();
    QCOMPARE(header.title(), QStringLiteral("<b>Hall & Stage</b>"));
}

void TestDeviceHeader::specsLine()
{
    ControllerRig rig;
    rig.connectWith(studioState());
    RouterController &controller = *rig.controller;
    DeviceHeader header(controller);
    QCOMPARE(header.specs(), QStringLiteral("12 in \u00d7 8 out \u00b7 Video"));

    controller.setPrimaryLevel(2); // no level has index 2
    QCOMPARE(header.specs(), QStringLiteral("12 in \u00d7 8 out \u00b7 L3"));
    controller.setPrimaryLevel(0);

    // The panel lists a source the router lacks: it counts what is shown.
    SubPanel panel = makePanel(QStringLiteral("Studio A"), { 0, 1, 2, 3, 40 }, { 4, 5 });
    controller.savePanel(panel);
    controller.setActivePanelID(panel.id);
    QCOMPARE(header.specs(),
             QStringLiteral("Studio A \u00b7 4 of 12 in \u00d7 2 of 8 out \u00b7 Video"));
}

void TestDeviceHeader::followsTheControllerLive()
{
    ControllerRig rig;
    rig.make();
    RouterController &controller = *rig.controller;
    DeviceHeader header(controller);
    header.resize(900, header.heightForWidth(900));
    QCOMPARE(pillOf(header)->text(), QStringLiteral("Offline"));

    rig.connectWith(studioState());
    QCOMPARE(pillOf(header)->text(), QStringLiteral("Online"));
    QCOMPARE(dotOf(header)->status(), controller.status());
    QCOMPARE(header.accessibleName(), QStringLiteral("Stage Router"));

    SubPanel panel = makePanel(QStringLiteral("Booth"), { 0 }, { 0 });
    controller.savePanel(panel);
    controller.setActivePanelID(panel.id);
    QCOMPARE(header.accessibleDescription(), header.specs());
    QVERIFY(header.accessibleDescription().startsWith(QStringLiteral("Booth \u00b7 1 of 12")));
    controller.setPrimaryLevel(1);
    QVERIFY(header.accessibleDescription().endsWith(QStringLiteral("Audio")));
}

void TestDeviceHeader::narrowWidthSwitchesToTheCompactRow()
{
    ControllerRig rig;
    rig.connectWith(studioState());
    QWidget window;
    auto *header = new DeviceHeader(*rig.controller, &window);
    window.show();

    const int full = header->sizeHint().width();
    header->resize(full, header->heightForWidth(full));
    QVERIFY(!header->isCompact());
    QVERIFY(pillOf(*header)->isVisibleTo(&window));
    QVERIFY(!dotOf(*header)->isVisibleTo(&window));
    QCOMPARE(header->specsLines(), QStringList { header->specs() });

    header->resize(full - 1, header->height());
    QVERIFY(header->isCompact());
    QVERIFY(!pillOf(*header)->isVisibleTo(&window));
    QVERIFY(dotOf(*header)->isVisibleTo(&window));
    QCOMPARE(header->specsLines(), QStringList { header->specs() }); // the dot frees room

    header->resize(header->minimumSizeHint().width(), header->height());
    const QStringList lines = header->specsLines();
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines.first().endsWith(QChar(0x2026)));
    QVERIFY(header->minimumSizeHint().width() < full);
}

void TestDeviceHeader::capsuleIsCentredAndAtMost940Wide()
{
    ControllerRig rig;
    rig.connectWith(studioState());
    DeviceHeader header(*rig.controller);
    header.resize(1400, header.heightForWidth(1400));
    QCOMPARE(header.capsuleRect(), QRect(230, 0, 940, header.height()));
    QVERIFY(!header.isCompact());
    header.resize(700, header.height());
    QCOMPARE(header.capsuleRect().width(), 700); // the row fills what there is
    QVERIFY(header.sizeHint().width() <= 940);
}

void TestDeviceHeader::accessibilityTextSizeWrapsSpecsToThreeLines()
{
    ControllerRig rig;
    RouterState state = studioState();
    state.levels[0].name = QStringLiteral("Primary program video with embedded audio groups");
    rig.connectWith(state);
    SubPanel panel = makePanel(QStringLiteral("Control room B main monitors"), { 0, 1 }, { 2 });
    rig.controller->savePanel(panel);
    rig.controller->setActivePanelID(panel.id);

    DeviceHeader header(*rig.controller);
    header.resize(260, header.heightForWidth(260));
    QVERIFY(header.isCompact());
    QCOMPARE(header.specsLines().size(), 1);
    const int oneLine = header.heightForWidth(260);

    header.setAccessibilityTextSize(true);
    QCOMPARE(header.specsLines().size(), 3);
    QVERIFY(header.specsLines().last().endsWith(QChar(0x2026)));
    QVERIFY(header.heightForWidth(260) > oneLine);

    header.resize(4000, header.heightForWidth(4000)); // the full row never wraps
    QCOMPARE(header.specsLines().size(), 1);
}

QTEST_MAIN(TestDeviceHeader)
#include "tst_deviceheader.moc"
