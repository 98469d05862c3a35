// The pending-command table on its own; its timers meet the fake routers (tst_hostilerouters).

#include "Drivers/PendingCommands.h"

#include "TestSupport.h"

#include <QtTest>

namespace {

using Event = RouterDriverEvent;

struct Table
{
    QList<Event> events;
    QList<QList<CommandTarget>> rereads;
    PendingCommands table { PendingCommands::Timing {} };

    Table()
    {
        table.setLink({ [this](const Event &e) { events.append(e); },
                        [](std::chrono::milliseconds, std::function<void()>) {
                            return DelayedWork {};
                        } });
        // The router holds source 7 everywhere and no locks.
        table.setProtocol({ [this](const QList<CommandTarget> &t) { rereads.append(t); },
                            [](const CommandTarget &t) {
                                return t.kind == CommandTarget::Kind::lock
                                    ? CommandTarget::lock(t.index, false)
                                    : CommandTarget::route(t.level, t.index, 7);
                            },
                            {} });
    }
    PendingCommands::Id send(const QList<CommandTarget> &targets)
    {
        table.open(targets);
        return table.sent();
    }
};

CommandTarget route(int destination, int source)
{
    return CommandTarget::route(0, destination, source);
}

} // namespace

class TestPendingCommands : public QObject
{
    Q_OBJECT

private slots:
    void refusedSalvoIsToldOnceThenPutBack();
    void laterCommandsAndTheLinkEndSettleEarlierOnes();
};

void TestPendingCommands::refusedSalvoIsToldOnceThenPutBack()
{
    Table t;
    const auto salvo = t.send({ route(1, 2), route(2, 2), route(3, 2), route(4, 2) });
    QCOMPARE(t.table.unanswered(), 1);
    t.table.refused(salvo, QStringLiteral("Not now"));
    QVERIFY(t.events.isEmpty()); // told at the flush, after the rest of what arrived
    t.table.flush();
    // One message for the four, then each route as the router holds it; all asked again.
    QCOMPARE(t.events.size(), 5);
    QCOMPARE(t.events.first(),
             Event::makeCommandRefused(
                 QStringLiteral("Not now. Out 2 and 3 more show what the router reports.")));
    QCOMPARE(t.events.last(), Event::makeRouteChanged(0, 4, 7));
    QCOMPARE(
        t.rereads,
        (QList<QList<CommandTarget>> { { route(1, 2), route(2, 2), route(3, 2), route(4, 2) } }));
    QVERIFY(t.table.inFlight() == 0 && t.table.unanswered() == 0);
}

void TestPendingCommands::laterCommandsAndTheLinkEndSettleEarlierOnes()
{
    Table t;
    const auto first = t.send({ route(1, 2) });
    const auto second = t.send({ route(1, 3) });
    t.table.answered(first); // the second took its crosspoint over: nothing left of it
    QCOMPARE(t.table.inFlight(), 1);
    t.table.observe(route(1, 2), true); // before the second's answer: older news
    t.table.answered(second);
    t.table.observe(route(1, 2), true); // right after it: a contradiction, shown already
    t.table.flush();
    QCOMPARE(t.events,
             QList { Event::makeCommandRefused(QStringLiteral(
                 "The router didn't take the route: Out 2 shows what it reports.")) });
    QCOMPARE(t.table.inFlight(), 0);

    // A command never written goes back at once, without a word; so does all the rest when
    // the link ends.
    t.events.clear();
    t.table.notSent(t.send({ CommandTarget::lock(4, true) }));
    t.send({ route(5, 1), route(6, 1) });
    t.table.linkEnded();
    QCOMPARE(t.events,
             (QList { Event::makeLockChanged(4, false), Event::makeRouteChanged(0, 5, 7),
                      Event::makeRouteChanged(0, 6, 7) }));
    QVERIFY(t.table.inFlight() == 0 && t.table.unanswered() == 0);
}

QTEST_GUILESS_MAIN(TestPendingCommands)
#include "tst_pendingcommands.moc"
