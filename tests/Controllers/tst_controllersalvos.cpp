#include "ControllerRig.h"
#include "Controllers/SalvoMatcher.h"
#include "Controllers/SalvoTracker.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <QtTest>

using Command = FakeRouterDriver::Command;
using Pairs = QList<QPair<int, int>>;

namespace {

Pairs levelDestinationPairs(const QList<Route> &routes)
{
    Pairs pairs;
    for (const Route &route : routes)
        pairs.append({ route.level, route.destination });
    return pairs;
}

Salvo makeSalvo(const QString &name, QList<Route> routes,
                std::optional<QUuid> panelID = std::nullopt)
{
    Salvo salvo;
    salvo.name = name;
    salvo.routes = std::move(routes);
    salvo.panelID = panelID;
    return salvo;
}

// Two levels, destinations 0…3: only destination 1 routed on level 0, 1 and 2 on level 1.
RouterState sparselyRouted()
{
    RouterState state = makeState(4, 4, 2);
    state.routing[0].insert(1, 3);
    state.routing[1].insert(1, 0);
    state.routing[1].insert(2, 2);
    return state;
}

} // namespace

class TestControllerSalvos : public QObject
{
    Q_OBJECT

private slots:
    // Sub-panels
    void deletingActivePanel();
    void duplicateCopiesSalvos();
    void newPanelDraftNumbering_data();
    void newPanelDraftNumbering();
    void savingActivePanelDropsHiddenStaging();
    // Salvos
    void captureOrder();
    void emptyCaptureReported();
    void saveScopes();
    void updateRecapturesScope();
    void diffClassifies();
    void matcherFollowsDiff();
    void labelChangeFromRouter();
    void fireSendsApplicableRoutesInOneCall();
    void failedFireRestoresRouting();
    void failedFireOfRepeatedCrosspointRestoresOriginal();
    void fireWithNothingApplicable();
    void renameClashIgnoresOwnName();
    void listingAndStrip();
};

void TestControllerSalvos::deletingActivePanel()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(sparselyRouted());
    const SubPanel panel = makePanel(QStringLiteral("Cams"), { 0, 1 }, { 1, 2 });
    c.savePanel(panel);
    c.setActivePanelID(panel.id);
    c.saveSalvo(QStringLiteral("Show"), panel.id);
    c.saveSalvo(QStringLiteral("Whole"), std::nullopt);
    QCOMPARE(c.salvoCount(panel), 1);
    QCOMPARE(c.visibleDestinations().size(), 2);
    const auto routing = c.state().routing;

    c.deletePanel(panel);
    QVERIFY(!c.activePanelID());
    QVERIFY(c.panels().isEmpty());
    QCOMPARE(c.visibleDestinations().size(), 4);
    QCOMPARE(rig.panels.activePanelID(rig.connection.id), std::nullopt);
    QCOMPARE(c.salvos().size(), 1);
    QCOMPARE(c.salvos().first().name, QStringLiteral("Whole"));
    QCOMPARE(rig.salvos.salvos(rig.connection.id).size(), 1);
    QCOMPARE(c.state().routing, routing); // routing untouched

    // A panel that is not stored still takes its salvos along.
    const SubPanel ghost = makePanel(QStringLiteral("Ghost"), {}, {});
    rig.salvos.add(makeSalvo(QStringLiteral("Orphan"), { Route { 0, 1, 1 } }, ghost.id),
                   rig.connection.id);
    c.deletePanel(ghost);
    QCOMPARE(c.salvos().size(), 1);
}

void TestControllerSalvos::duplicateCopiesSalvos()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(sparselyRouted());
    const SubPanel panel = makePanel(QStringLiteral("Studio A"), { 0, 3 }, { 1, 2 });
    c.savePanel(panel);
    c.saveSalvo(QStringLiteral("Opening"), panel.id);
    c.saveSalvo(QStringLiteral("Close"), panel.id);
    c.saveSalvo(QStringLiteral("Full"), std::nullopt);

    c.duplicatePanel(panel);
    QCOMPARE(c.panels().size(), 2);
    const SubPanel copy = c.panels().last();
    QVERIFY(copy.id != panel.id);
    QCOMPARE(copy.name, QStringLiteral("Studio A Copy"));
    QCOMPARE(copy.sourceIndices, panel.sourceIndices);
    QCOMPARE(copy.destinationIndices, panel.destinationIndices);
    QVERIFY(!c.activePanelID()); // the copy is not made active

    QCOMPARE(c.salvos().size(), 5);
    QCOMPARE(c.salvoCount(copy), 2);
    QCOMPARE(c.salvoCount(panel), 2);
    const Salvo original = c.salvos().at(0);
    const Salvo duplicate = c.salvos().at(3);
    QCOMPARE(duplicate.name, QStringLiteral("Opening"));
    QCOMPARE(duplicate.panelID, copy.id);
    QCOMPARE(duplicate.routes, original.routes);
    QCOMPARE(duplicate.savedAt, original.savedAt);
    QVERIFY(duplicate.id != original.id);
}

void TestControllerSalvos::newPanelDraftNumbering_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("draft");
    QTest::newRow("none") << QStringList {} << QStringLiteral("Panel 1");
    QTest::newRow("Panel 2, panel 3")
        << QStringList { QStringLiteral("Panel 2"), QStringLiteral("panel 3") }
        << QStringLiteral("Panel 4");
    QTest::newRow("gap below count is not filled")
        << QStringList { QStringLiteral("Cams"), QStringLiteral("PANEL 3") }
        << QStringLiteral("Panel 4");
}

void TestControllerSalvos::newPanelDraftNumbering()
{
    QFETCH(QStringList, names);
    QFETCH(QString, draft);
    ControllerRig rig;
    RouterController &c = rig.make();
    for (const QString &name : names)
        c.savePanel(makePanel(name, {}, {}));
    const SubPanel made = c.newPanelDraft();
    QCOMPARE(made.name, draft);
    QVERIFY(made.sourceIndices.isEmpty() && made.destinationIndices.isEmpty());
    QCOMPARE(c.panels().size(), names.size()); // nothing stored
}

void TestControllerSalvos::savingActivePanelDropsHiddenStaging()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(makeState(4, 6));
    SubPanel panel = makePanel(QStringLiteral("P"), { 0, 1 }, { 1, 2, 3 });
    c.savePanel(panel);
    c.setActivePanelID(panel.id);
    c.setDirection(RoutingDirection::sourceLed);
    c.setTakeMode(TakeMode::confirm);
    c.focusSource(1);
    c.assignDestination(2);
    c.assignDestination(3);
    c.setSelectedDestination(3);

    panel.destinationIndices = { 1, 2 };
    c.savePanel(panel);
    QCOMPARE(c.panels().first().destinationIndices, (QList<int> { 1, 2 }));
    QVERIFY(c.pendingDestinations().isEmpty());
    QVERIFY(!c.selectedDestination());
    QCOMPARE(indicesOf(c.visibleDestinations()), (QList<int> { 1, 2 }));

    // Saving another panel leaves the staging alone.
    c.assignDestination(2);
    c.savePanel(makePanel(QStringLiteral("Other"), {}, {}));
    QCOMPARE(c.pendingDestinations(), QSet<int> { 2 });
}

void TestControllerSalvos::captureOrder()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(sparselyRouted());
    c.saveSalvo(QStringLiteral("  All  "), std::nullopt);
    QCOMPARE(c.salvos().size(), 1);
    const Salvo salvo = c.salvos().first();
    QCOMPARE(salvo.name, QStringLiteral("All"));
    QCOMPARE(levelDestinationPairs(salvo.routes), (Pairs { { 0, 1 }, { 1, 1 }, { 1, 2 } }));
    QCOMPARE(salvo.routes.first().source, 3);
    QVERIFY(salvo.savedAt);
    QVERIFY(!salvo.panelID);

    // Same name and scope again: the store replaces the routes in place.
    c.take(0, 3);
    c.saveSalvo(QStringLiteral("All"), std::nullopt);
    QCOMPARE(c.salvos().size(), 1);
    QCOMPARE(c.salvos().first().id, salvo.id);
    QCOMPARE(c.salvos().first().routes.size(), 5);
}

void TestControllerSalvos::emptyCaptureReported()
{
    const QString panelText = QStringLiteral(
        "Nothing to capture — none of this panel's destinations exist on this router.");
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(makeState(4, 4, 2)); // nothing routed
    c.saveSalvo(QStringLiteral("Empty"), std::nullopt);
    QCOMPARE(c.lastError(), std::optional<QString>(panelText));
    QVERIFY(c.salvos().isEmpty());

    c.setLastError(std::nullopt);
    c.saveSalvo(QStringLiteral("   "), std::nullopt); // blank name: silently nothing
    QVERIFY(!c.lastError());

    c.take(1, 1);
    const SubPanel far = makePanel(QStringLiteral("Far"), { 0 }, { 8, 9 });
    c.savePanel(far);
    c.saveSalvo(QStringLiteral("Far"), far.id);
    QCOMPARE(c.lastError(), std::optional<QString>(panelText));
    QVERIFY(c.salvos().isEmpty());

    const Salvo stored = makeSalvo(QStringLiteral("Old"), { Route { 0, 9, 0 } }, far.id);
    rig.salvos.add(stored, rig.connection.id);
    c.updateSalvo(stored);
    QCOMPARE(c.lastError(),
             std::optional<QString>(
                 QStringLiteral("Nothing to capture — none of this salvo's destinations exist "
                                "on this router.")));
}

void TestControllerSalvos::saveScopes()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(sparselyRouted());
    c.saveSalvo(QStringLiteral("Loose"), QUuid::createUuid()); // names no panel
    QVERIFY(!c.salvos().first().panelID);
    QCOMPARE(c.salvos().first().routes.size(), 3);

    const SubPanel panel = makePanel(QStringLiteral("P"), {}, { 2, 1 });
    c.savePanel(panel);
    c.saveSalvo(QStringLiteral("Scoped"), panel.id);
    const Salvo scoped = c.salvos().last();
    QCOMPARE(scoped.panelID, panel.id);
    QCOMPARE(levelDestinationPairs(scoped.routes), (Pairs { { 0, 1 }, { 1, 1 }, { 1, 2 } }));
}

void TestControllerSalvos::updateRecapturesScope()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(sparselyRouted());
    const SubPanel panel = makePanel(QStringLiteral("P"), {}, { 2 });
    c.savePanel(panel);
    c.saveSalvo(QStringLiteral("S"), panel.id);
    Salvo salvo = c.salvos().first();
    QCOMPARE(salvo.routes.size(), 1);

    // Its panel deleted elsewhere: the recapture covers the full router, panelID kept.
    rig.panels.remove(panel.id, rig.connection.id);
    RouterController &fresh = rig.make();
    rig.connectWith(sparselyRouted());
    fresh.updateSalvo(salvo);
    const Salvo updated = fresh.salvos().first();
    QCOMPARE(updated.id, salvo.id);
    QCOMPARE(updated.name, salvo.name);
    QCOMPARE(updated.panelID, panel.id);
    QCOMPARE(updated.routes.size(), 3);
}

void TestControllerSalvos::diffClassifies()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    RouterState state = makeState(4, 4, 2);
    state.routing[0] = { { 0, 1 }, { 1, 2 }, { 2, 3 } };
    state.lockedDestinations = { 2 };
    rig.connectWith(state);

    const Salvo salvo = makeSalvo(QStringLiteral("Mix"),
                                  {
                                      Route { 0, 0, 1 }, // matches
                                      Route { 0, 1, 0 }, // change
                                      Route { 1, 3, 2 }, // no live source
                                      Route { 0, 2, 3 }, // locked, same
                                      Route { 1, 2, 1 }, // locked, differs
                                      Route { 5, 0, 0 }, // no level 5
                                      Route { 0, 4, 0 }, // dest too big
                                      Route { 0, 0, 4 }, // source too big
                                      Route { 0, -1, 0 },
                                  });
    const RouterController::SalvoDiff diff = c.diff(salvo);
    QCOMPARE(diff.alreadyMatching, 1);
    QCOMPARE(diff.changes, (QList<Route> { Route { 0, 1, 0 }, Route { 1, 3, 2 } }));
    QCOMPARE(diff.lockedRoutes, (QList<Route> { Route { 0, 2, 3 }, Route { 1, 2, 1 } }));
    QCOMPARE(diff.lockedDiffering, 1);
    QCOMPARE(diff.outOfRange.size(), 4);
    QCOMPARE(diff.outOfRange.first(), (Route { 5, 0, 0 }));
    QCOMPARE(c.applicableRoutes(salvo),
             (QList<Route> { Route { 0, 0, 1 }, Route { 0, 1, 0 }, Route { 1, 3, 2 } }));
}

void TestControllerSalvos::matcherFollowsDiff()
{
    // Router events change routes and locks at random; after each burst the matcher reports
    // every salvo whose counts moved, and every count is what diff() gives.
    ControllerRig rig;
    RouterController &c = rig.make();
    FakeRouterDriver &driver = rig.connectWith(makeState(5, 5, 2));
    QRandomGenerator random(7);
    QList<Salvo> salvos;
    for (int s = 0; s < 30; ++s) {
        QList<Route> routes;
        for (int r = random.bounded(0, 6); r > 0; --r) // out of range and repeated ones too
            routes.append(
                Route { random.bounded(-1, 3), random.bounded(-1, 6), random.bounded(-1, 6) });
        salvos.append(makeSalvo(QString::number(s), routes));
    }
    QSet<quint64> crosspoints;
    QSet<int> locks;
    connect(&c, &RouterController::routeChanged, this, [&](int level, int destination) {
        crosspoints.insert(SalvoMatcher::crosspoint(level, destination));
    });
    connect(&c, &RouterController::lockChanged, this, [&](int d) { locks.insert(d); });
    SalvoMatcher matcher;
    matcher.reset(salvos, c.state());
    const auto countsOf = [&](int s) {
        const RouterController::SalvoDiff diff = c.diff(salvos.at(s));
        return SalvoMatcher::Counts { int(diff.changes.size()), diff.alreadyMatching,
                                      diff.lockedDiffering };
    };
    for (int round = 0; round < 60; ++round) {
        QList<SalvoMatcher::Counts> before;
        for (int s = 0; s < salvos.size(); ++s)
            before.append(countsOf(s));
        for (int event = random.bounded(1, 4); event > 0; --event) {
            const int destination = random.bounded(0, 5);
            if (random.bounded(4) == 0)
                driver.emitEvent(
                    RouterDriverEvent::makeLockChanged(destination, random.bounded(2) == 0));
            else
                driver.emitEvent(RouterDriverEvent::makeRouteChanged(
                    random.bounded(0, 2), destination,
                    random.bounded(3) == 0 ? std::nullopt : std::optional(random.bounded(5))));
        }
        ControllerRig::settle();
        const QList<int> moved
            = matcher.changed(std::exchange(crosspoints, {}), std::exchange(locks, {}), c.state());
        for (int s = 0; s < salvos.size(); ++s) {
            QCOMPARE(matcher.counts(s), countsOf(s));
            QVERIFY(before.at(s) == countsOf(s) || moved.contains(s));
        }
    }
}

// A router's label change had every salvo compared again (30 ms with 10,000 salvos).
void TestControllerSalvos::labelChangeFromRouter()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    FakeRouterDriver &driver = rig.connectWith(makeState(4, 4, 1));
    SalvoTracker tracker(c);
    QSignalSpy compared(&tracker, &SalvoTracker::compared);
    driver.emitEvent(RouterDriverEvent::makeStateReplaced(makeState(5, 4, 1)));
    driver.emitEvent(RouterDriverEvent::makeRouteChanged(0, 1, 2));
    ControllerRig::settle();
    driver.emitEvent(RouterDriverEvent::makeLabelChanged(PortKind::source, 1, QStringLiteral("B")));
    ControllerRig::settle();
    // The new state, in one burst with a route, is compared whole; the label change is not.
    QCOMPARE(compared.size(), 2);
    QVERIFY(compared.first().at(1).toBool() && !compared.last().at(1).toBool());
}

void TestControllerSalvos::fireSendsApplicableRoutesInOneCall()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    RouterState state = makeState(4, 4, 2);
    state.routing[0] = { { 0, 1 } };
    FakeRouterDriver &driver = rig.connectWith(state);
    const Salvo salvo = makeSalvo(QStringLiteral("Two"),
                                  { Route { 0, 0, 1 }, Route { 5, 0, 0 }, Route { 0, 3, 2 } });
    c.fireSalvo(salvo);
    QCOMPARE(c.state().source(3, 0), std::optional<int>(2));
    ControllerRig::settle();
    QCOMPARE(driver.count(Command::takeAll), 1);
    QCOMPARE(driver.calls(Command::takeAll).first().routes,
             (QList<Route> { Route { 0, 0, 1 }, Route { 0, 3, 2 } }));
    QCOMPARE(rig.usage->fires, 1);
    QCOMPARE(rig.usage->takes, 0);
    QVERIFY(!c.lastError());
}

void TestControllerSalvos::failedFireRestoresRouting()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    RouterState state = makeState(4, 4, 2);
    state.routing[0] = { { 0, 1 }, { 1, 1 } };
    FakeRouterDriver &driver = rig.connectWith(state);
    const auto before = c.state().routing;
    const DriverError error = DriverError::protocol(QStringLiteral("salvo refused"));
    driver.failNext(Command::takeAll, error);

    c.fireSalvo(makeSalvo(QStringLiteral("F"), { Route { 0, 0, 3 }, Route { 1, 2, 3 } }));
    QCOMPARE(c.state().source(2, 1), std::optional<int>(3));
    ControllerRig::settle();
    QCOMPARE(c.state().routing.value(0), before.value(0));
    QVERIFY(c.state().routing.value(1).isEmpty()); // entry removed, the level's map stays
    QCOMPARE(c.lastError(), std::optional<QString>(error.localizedDescription()));
}

// A stored salvo may name one crosspoint twice; undoing in firing order used to leave the
// first route's source in place instead of the routing from before the fire.
void TestControllerSalvos::failedFireOfRepeatedCrosspointRestoresOriginal()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    RouterState state = makeState(4, 4, 1);
    state.routing[0] = { { 1, 0 } };
    FakeRouterDriver &driver = rig.connectWith(state);
    driver.setFailure(Command::takeAll, DriverError::transportError(QStringLiteral("down")));

    c.fireSalvo(makeSalvo(QStringLiteral("Twice"), { Route { 0, 1, 2 }, Route { 0, 1, 3 } }));
    QCOMPARE(c.state().source(1, 0), std::optional<int>(3));
    ControllerRig::settle();
    QCOMPARE(c.state().source(1, 0), std::optional<int>(0));

    c.fireSalvo(makeSalvo(QStringLiteral("Fresh"), { Route { 0, 2, 1 }, Route { 0, 2, 3 } }));
    ControllerRig::settle();
    QVERIFY(!c.state().source(2, 0));
}

void TestControllerSalvos::fireWithNothingApplicable()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    RouterState state = makeState(4, 4, 1);
    state.lockedDestinations = { 1 };
    FakeRouterDriver &driver = rig.connectWith(state);
    const Salvo salvo = makeSalvo(QStringLiteral("Locked"), { Route { 0, 1, 2 } });
    QCOMPARE(c.diff(salvo).lockedRoutes.size(), 1);
    c.fireSalvo(salvo);
    ControllerRig::settle();
    QCOMPARE(c.lastError(),
             std::optional<QString>(
                 QStringLiteral("\"Locked\" has no routes that apply to this router.")));
    QCOMPARE(rig.usage->fires, 0);
    QCOMPARE(driver.count(Command::takeAll), 0);

    // Without a driver a fire stays local and raises nothing.
    c.disconnect();
    c.setLastError(std::nullopt);
    c.fireSalvo(makeSalvo(QStringLiteral("Local"), { Route { 0, 2, 2 } }));
    ControllerRig::settle();
    QCOMPARE(c.state().source(2, 0), std::optional<int>(2));
    QVERIFY(!c.lastError());
}

void TestControllerSalvos::renameClashIgnoresOwnName()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(sparselyRouted());
    const SubPanel panel = makePanel(QStringLiteral("P"), {}, { 1 });
    c.savePanel(panel);
    c.saveSalvo(QStringLiteral("Morning"), std::nullopt);
    c.saveSalvo(QStringLiteral("Evening"), std::nullopt);
    c.saveSalvo(QStringLiteral("Night"), panel.id);
    const Salvo evening = c.salvos().at(1);

    QVERIFY(!c.renameSalvo(evening, QStringLiteral(" MORNING ")));
    QVERIFY(!c.renameSalvo(evening, QStringLiteral(" \n")));
    QVERIFY(c.renameSalvo(evening, QStringLiteral("night"))); // other scope: no clash
    QVERIFY(c.renameSalvo(evening, QStringLiteral("NIGHT"))); // its own name, new case
    QCOMPARE(c.salvos().at(1).name, QStringLiteral("NIGHT"));
    SalvoStore reread(rig.salvos.url());
    QCOMPARE(reread.salvos(rig.connection.id).at(1).name, QStringLiteral("NIGHT"));

    c.deleteSalvo(evening);
    QCOMPARE(c.salvos().size(), 2);
}

void TestControllerSalvos::listingAndStrip()
{
    ControllerRig rig;
    RouterController &c = rig.make();
    rig.connectWith(sparselyRouted());
    const SubPanel panel = makePanel(QStringLiteral("P"), {}, { 1 });
    const SubPanel empty = makePanel(QStringLiteral("E"), {}, { 1 });
    c.savePanel(panel);
    c.savePanel(empty);
    QVERIFY(!c.showsSalvoStrip()); // full router, no salvos

    c.saveSalvo(QStringLiteral("Scoped"), panel.id);
    QVERIFY(!c.showsSalvoStrip());
    rig.salvos.add(makeSalvo(QStringLiteral("Stale"), { Route { 0, 1, 3 } }, QUuid::createUuid()),
                   rig.connection.id);
    c.saveSalvo(QStringLiteral("Whole"), std::nullopt);
    QCOMPARE(c.salvos().size(), 3);
    QCOMPARE(c.fullRouterSalvos().size(), 2); // "Stale" has lost its panel
    QCOMPARE(c.visibleSalvos().size(), 2);
    QVERIFY(c.showsSalvoStrip());

    c.setActivePanelID(empty.id);
    QVERIFY(c.visibleSalvos().isEmpty());
    QVERIFY(c.showsSalvoStrip());
    c.setActivePanelID(panel.id);
    QCOMPARE(c.visibleSalvos().size(), 1);
    QCOMPARE(c.visibleSalvos().first().name, QStringLiteral("Scoped"));
}

QTEST_GUILESS_MAIN(TestControllerSalvos)
#include "tst_controllersalvos.moc"
