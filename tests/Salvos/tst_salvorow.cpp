#include "SalvoRig.h"
#include "Theme/PaintedText.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QSignalSpy>
#include <QtTest>

namespace {

QString dash(const char *text)
{
    return QString::fromUtf8(text);
}

// The row's status line and preview as lines of text.
QString statusOf(SalvoRow &row)
{
    return layoutLines(named(&row, "statusLine")).join(QLatin1Char('|'));
}

QStringList previewOf(SalvoRow &row)
{
    QStringList lines = layoutLines(named(&row, "changePreview"));
    if (!lines.isEmpty() && lines.first().isEmpty())
        lines.removeFirst(); // the divider
    return lines;
}

} // namespace

class TestSalvoRow : public QObject
{
    Q_OBJECT

private slots:
    // Shared rules and texts
    void proposedName_data();
    void proposedName();
    void relativeTime_data();
    void relativeTime();
    void fireTexts_data();
    void fireTexts();
    void fireScopeSentence();
    // Confirmation
    void confirmationCancelFiresNothing();
    void confirmationFires();
    void confirmationFollowsRouting();
    // Row
    void statusLine_data();
    void statusLine();
    void activeRowButtons();
    void fireIsDrawnWhole();
    void offlineRowCountsRoutesAndKeepsFireDisabled();
    void previewListsAtMostTwelveChanges();
    void previewLines();
    void changeLineNamesLevelsOnlyWhenSeveral();
    void panelDropLine();
    void clicksReachOwner();
    void screenReaderSeesOneElementWithItsActions();
    void keyboardTogglesTheHeader();
};

void TestSalvoRow::proposedName_data()
{
    QTest::addColumn<QStringList>("visible");
    QTest::addColumn<QString>("proposal");
    QTest::newRow("none") << QStringList {} << "Salvo 1";
    QTest::newRow("taken in any case") << QStringList { "Salvo 1", "SALVO 2" } << "Salvo 3";
    QTest::newRow("starts at count plus one") << QStringList { "Salvo 2", "salvo 3" } << "Salvo 4";
    QTest::newRow("other names ignored") << QStringList { "Cams", "Wide" } << "Salvo 3";
}

void TestSalvoRow::proposedName()
{
    QFETCH(QStringList, visible);
    QList<Salvo> salvos;
    for (const QString &name : visible)
        salvos.append(makeSalvo(name, {}));
    QFETCH(QString, proposal);
    QCOMPARE(SalvoViews::proposedName(salvos), proposal);
}

void TestSalvoRow::relativeTime_data()
{
    QTest::addColumn<qint64>("secondsAgo");
    QTest::addColumn<QString>("text");
    QTest::newRow("now") << qint64(0) << "now";
    QTest::newRow("seconds") << qint64(30) << "30 seconds ago";
    QTest::newRow("one minute") << qint64(60) << "1 minute ago";
    QTest::newRow("minutes") << qint64(59 * 60) << "59 minutes ago";
    QTest::newRow("hours") << qint64(2 * 3600 + 5) << "2 hours ago";
    QTest::newRow("yesterday") << qint64(30 * 3600) << "yesterday";
    QTest::newRow("days") << qint64(3 * 86400) << "3 days ago";
    QTest::newRow("last week") << qint64(8 * 86400) << "last week";
    QTest::newRow("last year") << qint64(400 * 86400) << "last year";
    QTest::newRow("years") << qint64(800 * 86400) << "2 years ago";
    QTest::newRow("ahead") << qint64(-120) << "in 2 minutes";
    QTest::newRow("tomorrow") << qint64(-86400) << "tomorrow";
}

void TestSalvoRow::relativeTime()
{
    QFETCH(qint64, secondsAgo);
    QFETCH(QString, text);
    const QDateTime now(QDate(2026, 3, 4), QTime(12, 0), Qt::UTC);
    QCOMPARE(SalvoViews::relativeTime(now.addSecs(-secondsAgo), now), text);
}

void TestSalvoRow::fireTexts_data()
{
    // Two levels; destinations 0…2 fed by the source of the same number on both.
    QTest::addColumn<QList<Route>>("routes");
    QTest::addColumn<QList<int>>("locked");
    QTest::addColumn<QString>("button"); // empty: no Fire button
    QTest::addColumn<QString>("message");

    QTest::newRow("all match") << QList<Route> { { 0, 0, 0 }, { 1, 1, 1 } } << QList<int> {}
                               << dash("Fire — Re-assert 2 Routes")
                               << dash(
                                      "Routing already matches — firing re-asserts 2 crosspoints.");
    QTest::newRow("one match") << QList<Route> { { 0, 0, 0 } } << QList<int> {}
                               << dash("Fire — Re-assert 1 Route")
                               << dash("Routing already matches — firing re-asserts 1 crosspoint.");
    QTest::newRow("one change") << QList<Route> { { 0, 4, 1 } } << QList<int> {}
                                << dash("Fire — 1 Change") << "Changes 1 crosspoint.";
    QTest::newRow("changes and a match")
        << QList<Route> { { 0, 0, 5 }, { 1, 4, 1 }, { 0, 1, 1 } } << QList<int> {}
        << dash("Fire — 2 Changes") << "Changes 2 crosspoints (1 already match).";
    QTest::newRow("nothing applies")
        << QList<Route> { { 0, 3, 1 }, { 1, 3, 2 }, { 0, 9, 0 }, { 7, 1, 1 } } << QList<int> { 3 }
        << QString()
        << dash("Nothing to fire — no route in this salvo applies right now. Skipping D4 "
                "(locked). 2 out-of-range routes ignored.");
    QTest::newRow("three locked named")
        << QList<Route> { { 0, 0, 4 }, { 0, 1, 4 }, { 0, 2, 4 } } << QList<int> { 0, 1, 2 }
        << QString()
        << dash("Nothing to fire — no route in this salvo applies right now. Skipping D1, D2, "
                "D3 (locked).");
    QTest::newRow("four locked, one more")
        << QList<Route> { { 0, 3, 4 }, { 0, 1, 4 }, { 0, 2, 4 }, { 0, 0, 4 }, { 0, 5, 5 } }
        << QList<int> { 0, 1, 2, 3 } << dash("Fire — 1 Change")
        << "Changes 1 crosspoint. Skipping D1, D2, D3 +1 more (locked).";
    QTest::newRow("one out of range")
        << QList<Route> { { 0, 4, 1 }, { 0, 4, 6 } } << QList<int> {} << dash("Fire — 1 Change")
        << "Changes 1 crosspoint. 1 out-of-range route ignored.";
}

void TestSalvoRow::fireTexts()
{
    QFETCH(QList<Route>, routes);
    QFETCH(QList<int>, locked);
    QFETCH(QString, button);
    RouterState state = routedState(2);
    for (int destination : locked)
        state.lockedDestinations.insert(destination);
    SalvoRig s;
    RouterController &c = s.start({}, {}, state);
    const Salvo salvo = makeSalvo(QStringLiteral("Wide & Tight"), routes);

    QCOMPARE(SalvoViews::fireTitle(salvo), dash("Fire “Wide & Tight”?"));
    QCOMPARE(SalvoViews::fireButtonTitle(c.diff(salvo)).value_or(QString()), button);
    QFETCH(QString, message);
    QCOMPARE(SalvoViews::fireMessage(c, salvo), message);
}

void TestSalvoRow::fireScopeSentence()
{
    const SubPanel cams = makePanel(QStringLiteral("Cams"), { 0, 1 }, { 0, 1 });
    const SubPanel gone = makePanel(QStringLiteral("Gone"), {}, {});
    SalvoRig s;
    RouterController &c = s.start({}, { cams });
    const Salvo full = makeSalvo(QStringLiteral("Full"), { { 0, 0, 0 } });
    const Salvo own = makeSalvo(QStringLiteral("Own"), { { 0, 0, 0 } }, cams.id);
    const Salvo orphan = makeSalvo(QStringLiteral("Orphan"), { { 0, 0, 0 } }, gone.id);
    const QString base = dash("Routing already matches — firing re-asserts 1 crosspoint.");

    QCOMPARE(SalvoViews::fireMessage(c, full), base);
    QCOMPARE(SalvoViews::fireMessage(c, orphan), base);
    QCOMPARE(SalvoViews::fireMessage(c, own),
             base + dash(" Changes only destinations captured from “Cams”."));

    c.setActivePanelID(cams.id);
    const QString hidden = dash(" Fires on the full router, including ports hidden by “Cams”.");
    QCOMPARE(SalvoViews::fireMessage(c, full), base + hidden);
    QCOMPARE(SalvoViews::fireMessage(c, orphan), base + hidden);
}

void TestSalvoRow::confirmationCancelFiresNothing()
{
    SalvoRig s;
    RouterController &c = s.start({});
    const RouterState before = c.state();
    QWidget host;
    auto *box = new SalvoFireConfirmation(c, makeSalvo("A", { { 0, 4, 1 } }), &host);
    QSignalSpy concluded(box, &SalvoFireConfirmation::concluded);
    box->open();
    buttonTitled(box, QStringLiteral("Cancel"))->click();
    ControllerRig::settle();

    QCOMPARE(concluded.size(), 1);
    QCOMPARE(concluded.first().first().toBool(), false);
    QCOMPARE(s.fires(), 0);
    QCOMPARE(s.driver().count(FakeRouterDriver::Command::takeAll), 0);
    QCOMPARE(c.state().routing, before.routing);
}

void TestSalvoRow::confirmationFires()
{
    SalvoRig s;
    RouterController &c = s.start({});
    QWidget host;
    auto *box = new SalvoFireConfirmation(c, makeSalvo("A", { { 0, 4, 1 }, { 0, 0, 0 } }), &host);
    QSignalSpy concluded(box, &SalvoFireConfirmation::concluded);
    box->open();
    QCOMPARE(box->text(), dash("Fire “A”?"));
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QVERIFY(box->fireButton()->isVisible());
    QCOMPARE(box->fireButton()->text(), dash("Fire — 1 Change"));
    box->fireButton()->click();
    ControllerRig::settle();

    QCOMPARE(concluded.size(), 1);
    QCOMPARE(concluded.first().first().toBool(), true);
    QCOMPARE(s.fires(), 1);
    QCOMPARE(c.state().source(4, 0), std::optional<int>(1));
}

void TestSalvoRow::confirmationFollowsRouting()
{
    SalvoRig s;
    RouterController &c = s.start({});
    QWidget host;
    auto *box = new SalvoFireConfirmation(c, makeSalvo("A", { { 0, 0, 0 } }), &host);
    box->open();
    QCOMPARE(box->fireButton()->text(), dash("Fire — Re-assert 1 Route"));

    c.take(3, 0);
    ControllerRig::settle();
    QCOMPARE(box->fireButton()->text(), dash("Fire — 1 Change"));

    c.toggleLock(0);
    ControllerRig::settle();
    QVERIFY(box->fireButton()->isHidden());
    QVERIFY(box->informativeText().startsWith(dash("Nothing to fire")));
    box->reject();
}

void TestSalvoRow::statusLine_data()
{
    QTest::addColumn<QList<Route>>("routes");
    QTest::addColumn<QList<int>>("locked");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("fireEnabled");

    QTest::newRow("active") << QList<Route> { { 0, 0, 0 } } << QList<int> {}
                            << dash("Active — matches current routing") << true;
    QTest::newRow("one change") << QList<Route> { { 0, 4, 1 } } << QList<int> {} << "1 change"
                                << true;
    QTest::newRow("two changes") << QList<Route> { { 0, 4, 1 }, { 0, 5, 1 } } << QList<int> {}
                                 << "2 changes" << true;
    QTest::newRow("differs only on locked")
        << QList<Route> { { 0, 1, 4 }, { 0, 2, 4 }, { 0, 0, 0 } } << QList<int> { 1, 2 }
        << "Differs only on locked destinations|2" << true;
    QTest::newRow("locked and matching")
        << QList<Route> { { 0, 1, 1 } } << QList<int> { 1 } << "0 changes|1" << false;
    QTest::newRow("out of range only")
        << QList<Route> { { 0, 8, 1 } } << QList<int> {} << "0 changes" << false;
}

void TestSalvoRow::statusLine()
{
    QFETCH(QList<Route>, routes);
    QFETCH(QList<int>, locked);
    RouterState state = routedState();
    for (int destination : locked)
        state.lockedDestinations.insert(destination);
    SalvoRig s;
    RouterController &c = s.start({}, {}, state);
    SalvoRow row(c, makeSalvo("A", routes), false);

    QFETCH(QString, status);
    QFETCH(bool, fireEnabled);
    QCOMPARE(statusOf(row), status);
    QCOMPARE(named<QPushButton>(&row, "fireButton")->isEnabled(), fireEnabled);
}

void TestSalvoRow::activeRowButtons()
{
    SalvoRig s;
    RouterController &c = s.start({});
    Salvo salvo = makeSalvo("A", { { 0, 0, 0 } });
    salvo.savedAt = ReferenceDate::secondsNow() - 3 * 3600 - 10;
    SalvoRow row(c, salvo, false);
    auto *update = named<QPushButton>(&row, "updateButton");

    QCOMPARE(statusOf(row), dash("Active — matches current routing|· 3 hours ago"));
    QVERIFY(!update->isEnabled());
    QCOMPARE(update->toolTip(), QStringLiteral("Already matches the current routing"));
    QCOMPARE(named<ElidedLabel>(&row, "salvoName")->text(), QStringLiteral("A"));

    // One crosspoint changed on the router: no longer active.
    c.take(5, 0);
    ControllerRig::settle();
    QCOMPARE(statusOf(row), dash("1 change|· 3 hours ago"));
    QVERIFY(update->isEnabled());
    QCOMPARE(update->toolTip(), QStringLiteral("Update from current routing"));
    QCOMPARE(update->accessibleName(), QStringLiteral("Update A from current routing"));
}

// "Fire" read "F…": the button was as wide as the word's advance rounded to the nearest point,
// a fraction short of the word. Also run at a device pixel ratio of 2 (see CMakeLists.txt).
void TestSalvoRow::fireIsDrawnWhole()
{
    SalvoRig s;
    RouterController &c = s.start({});
    for (const int width : { 860, 1400 }) {
        SalvoRow row(c, makeSalvo(QString(60, QLatin1Char('W')), { { 0, 4, 1 } }), false);
        row.resize(width, row.sizeHint().height());
        row.show();
        PaintedText::resetElided();
        row.grab();
        QVERIFY(!PaintedText::elidedTexts().contains(QStringLiteral("Fire")));
        auto *fire = named<QPushButton>(&row, "fireButton");
        const qreal word = QFontMetricsF(fire->font()).horizontalAdvance(QStringLiteral("Fire"));
        QVERIFY2(fire->width() - 2 * 10 >= word, "the label's room, inside 10-point insets");
    }
}

void TestSalvoRow::offlineRowCountsRoutesAndKeepsFireDisabled()
{
    SalvoRig s;
    RouterController &c = s.start({});
    SalvoRow one(c, makeSalvo("One", { { 0, 4, 1 } }), false);
    SalvoRow five(
        c, makeSalvo("Five", { { 0, 0, 1 }, { 0, 1, 1 }, { 0, 2, 1 }, { 0, 3, 1 }, { 0, 4, 1 } }),
        false);
    QVERIFY(named<QPushButton>(&one, "fireButton")->isEnabled());

    c.disconnect();
    ControllerRig::settle();
    QCOMPARE(statusOf(one), QStringLiteral("1 route"));
    QCOMPARE(statusOf(five), QStringLiteral("5 routes"));
    QVERIFY(!named<QPushButton>(&one, "fireButton")->isEnabled());
}

void TestSalvoRow::previewListsAtMostTwelveChanges()
{
    RouterState state = makeState(2, 20);
    SalvoRig s;
    RouterController &c = s.start({}, {}, state);
    QList<Route> twelve;
    for (int d = 0; d < 12; ++d)
        twelve.append({ 0, d, 1 });
    SalvoRow exact(c, makeSalvo("Twelve", twelve), true);
    QCOMPARE(previewOf(exact).size(), 12);
    QVERIFY(!previewOf(exact).last().startsWith(QLatin1Char('+')));

    SalvoRow more(c, makeSalvo("Thirteen", twelve + QList<Route> { { 0, 12, 1 } }), true);
    const QStringList lines = previewOf(more);
    QCOMPARE(lines.size(), 13);
    QCOMPARE(lines.last(), QStringLiteral("+1 more"));

    SalvoRow closed(c, makeSalvo("Closed", twelve), false);
    QVERIFY(named(&closed, "changePreview")->isHidden());
}

void TestSalvoRow::previewLines()
{
    RouterState state = routedState();
    state.lockedDestinations = { 2, 1 };
    state.routing[0].insert(5, 5);
    SalvoRig s;
    RouterController &c = s.start({}, {}, state);

    // One change to an unrouted destination (no "was"), one to a routed one, a match, two
    // locked destinations and a route the router cannot take.
    SalvoRow row(c,
                 makeSalvo("Mixed",
                           { { 0, 4, 1 },
                             { 0, 0, 5 },
                             { 0, 3, 3 },
                             { 0, 1, 4 },
                             { 0, 2, 2 },
                             { 0, 9, 0 },
                             { 0, 5, 5 } }),
                 true);
    QCOMPARE(previewOf(row),
             (QStringList { QStringLiteral("D5 S2"), QStringLiteral("D1 S6 was S1"),
                            QStringLiteral("D4 S4"), dash("D2 — locked, will skip"),
                            dash("D3 — locked, will skip"),
                            QStringLiteral("1 route won't fit this router and will be ignored."),
                            QStringLiteral("1 already match") }));

    SalvoRow active(c, makeSalvo("Active", { { 0, 0, 0 }, { 0, 1, 1 }, { 0, 8, 0 } }), true);
    QCOMPARE(
        previewOf(active),
        (QStringList { QStringLiteral("Routing already matches this salvo."),
                       dash("D2 — locked, will skip"),
                       QStringLiteral("1 route won't fit this router and will be ignored.") }));
}

void TestSalvoRow::changeLineNamesLevelsOnlyWhenSeveral()
{
    SalvoRig single;
    RouterController &one = single.start({}, {}, routedState(1));
    SalvoRow plain(one, makeSalvo("A", { { 0, 4, 1 } }), true);
    QCOMPARE(previewOf(plain).first(), QStringLiteral("D5 S2"));

    SalvoRig multi;
    RouterController &two = multi.start({}, {}, routedState(2));
    SalvoRow levels(two, makeSalvo("B", { { 1, 0, 4 } }), true);
    QCOMPARE(previewOf(levels).first(), QStringLiteral("Level 1 D1 S5 was S1"));
}

void TestSalvoRow::panelDropLine()
{
    SubPanel cams = makePanel(QStringLiteral("Cams"), { 0 }, { 0, 1, 2, 3 });
    SalvoRig s;
    RouterController &c = s.start({}, { cams });
    const Salvo salvo = makeSalvo("P", { { 0, 1, 4 }, { 0, 2, 4 }, { 0, 3, 4 } }, cams.id);
    SalvoRow row(c, salvo, true);
    QVERIFY(!previewOf(row).last().contains(QStringLiteral("no longer")));

    cams.destinationIndices = { 0, 1 };
    c.savePanel(cams);
    ControllerRig::settle();
    QCOMPARE(previewOf(row).last(), dash("2 destinations no longer on this panel — still fires."));

    c.deletePanel(cams);
    ControllerRig::settle();
    QVERIFY(!previewOf(row).last().contains(QStringLiteral("no longer")));
}

void TestSalvoRow::clicksReachOwner()
{
    SalvoRig s;
    RouterController &c = s.start({});
    SalvoRow row(c, makeSalvo("A", { { 0, 4, 1 } }), false);
    row.resize(480, 60);
    row.show();
    QSignalSpy toggled(&row, &SalvoRow::toggleRequested);
    QSignalSpy fire(&row, &SalvoRow::fireRequested);
    QSignalSpy update(&row, &SalvoRow::updateRequested);

    QTest::mouseClick(named(&row, "salvoName"), Qt::LeftButton);
    QTest::mouseClick(named(&row, "fireButton"), Qt::LeftButton);
    QTest::mouseClick(named(&row, "updateButton"), Qt::LeftButton);
    QCOMPARE(toggled.size(), 1);
    QCOMPARE(fire.size(), 1);
    QCOMPARE(update.size(), 1);
    // Asking is all a row does: nothing was fired.
    QCOMPARE(s.fires(), 0);

    // A press on Fire released over the name used to open the preview; so did a click on a
    // disabled button, which falls through to the row.
    auto *fireButton = named<QPushButton>(&row, "fireButton");
    QWidget *name = named(&row, "salvoName");
    const QPoint overName = fireButton->mapFromGlobal(name->mapToGlobal(name->rect().center()));
    QTest::mousePress(fireButton, Qt::LeftButton);
    QTest::mouseRelease(fireButton, Qt::LeftButton, {}, overName);
    c.disconnect();
    ControllerRig::settle();
    QVERIFY(!fireButton->isEnabled());
    QTest::mouseClick(fireButton, Qt::LeftButton);
    QCOMPARE(toggled.size(), 1);
    QCOMPARE(fire.size(), 1);
}

void TestSalvoRow::screenReaderSeesOneElementWithItsActions()
{
    SalvoRig s;
    RouterController &c = s.start({});
    SalvoRow row(c, makeSalvo("Morning", { { 0, 4, 1 } }), false);
    row.show();
    QSignalSpy toggled(&row, &SalvoRow::toggleRequested);
    QSignalSpy fire(&row, &SalvoRow::fireRequested);

    QAccessibleInterface *element = QAccessible::queryAccessibleInterface(&row);
    QVERIFY(element);
    QCOMPARE(element->role(), QAccessible::ListItem);
    QCOMPARE(element->text(QAccessible::Name), QStringLiteral("Morning, 1 change"));
    QCOMPARE(element->childCount(), 0); // the labels and buttons are read as the row
    QVERIFY(element->state().collapsed);
    QAccessibleActionInterface *actions = element->actionInterface();
    QVERIFY(actions);
    QVERIFY(actions->actionNames().contains(QStringLiteral("Fire")));
    QVERIFY(actions->actionNames().contains(QStringLiteral("Preview Changes")));

    actions->doAction(QStringLiteral("Preview Changes"));
    QCOMPARE(toggled.size(), 1);
    row.setExpanded(true);
    QVERIFY(element->state().expanded);
    QVERIFY(actions->actionNames().contains(QStringLiteral("Collapse")));
    QVERIFY(element->text(QAccessible::Description).contains(QStringLiteral("S2")));

    // Fire is offered while the router is offline and the button disabled.
    c.disconnect();
    ControllerRig::settle();
    QVERIFY(!named<QPushButton>(&row, "fireButton")->isEnabled());
    QCOMPARE(element->text(QAccessible::Name), QStringLiteral("Morning, 1 route"));
    QVERIFY(actions->actionNames().contains(QStringLiteral("Fire")));
    actions->doAction(QStringLiteral("Fire"));
    QCOMPARE(fire.size(), 1);
    QCOMPARE(s.fires(), 0); // asking only
}

void TestSalvoRow::keyboardTogglesTheHeader()
{
    SalvoRig s;
    RouterController &c = s.start({});
    SalvoRow row(c, makeSalvo("A", { { 0, 4, 1 } }), false);
    row.show();
    QVERIFY(QTest::qWaitForWindowExposed(&row));
    QCOMPARE(row.focusPolicy(), Qt::StrongFocus);
    QSignalSpy toggled(&row, &SalvoRow::toggleRequested);
    row.setFocus(Qt::TabFocusReason);
    QTest::keyClick(&row, Qt::Key_Space);
    QTest::keyClick(&row, Qt::Key_Return);
    QTest::keyClick(&row, Qt::Key_Return, Qt::ControlModifier); // not a toggle
    QCOMPARE(toggled.size(), 2);
}

QTEST_MAIN(TestSalvoRow)
#include "tst_salvorow.moc"
