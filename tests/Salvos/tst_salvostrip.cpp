#include "SalvoRig.h"

#include <QContextMenuEvent>
#include <QSignalSpy>
#include <QtTest>

namespace {

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

QList<QPushButton *> chips(SalvoStrip &strip)
{
    QList<QPushButton *> list;
    for (auto *chip : strip.findChildren<QPushButton *>(QStringLiteral("salvoChip"))) {
        if (!chip->isHidden())
            list.append(chip);
    }
    return list;
}

QStringList chipNames(SalvoStrip &strip)
{
    QStringList names;
    for (QPushButton *chip : chips(strip))
        names.append(chip->text());
    return names;
}

QPushButton *chip(SalvoStrip &strip, const QString &name)
{
    for (QPushButton *c : chips(strip)) {
        if (c->text() == name)
            return c;
    }
    return nullptr;
}

// Opens a chip's context menu as a right click on it would, even on a disabled chip.
void openChipMenu(QPushButton *chip)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(4, 4),
                            chip->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(chip, &event);
}

} // namespace

class TestSalvoStrip : public QObject
{
    Q_OBJECT

private slots:
    void chipsFollowScope();
    void emptyPanelScope();
    void activeChipFollowsRouting();
    void chipsDisabledWhenNothingWouldFire();
    void chipsFollowABurstOfRouterEvents();
    void chipAsksBeforeFiring();
    void chipsStayAcrossChangesOfOthers();
    void newSalvoProposalAndSave();
    void newSalvoInPanelScope();
    void deleteAndUpdateAskFirst();
    void manageButtonAsksForManager();
};

void TestSalvoStrip::chipsFollowScope()
{
    const SubPanel cams = makePanel(QStringLiteral("Cams"), { 0, 1 }, { 0, 1 });
    SalvoRig s;
    RouterController &c = s.start({ makeSalvo("Full A", { { 0, 4, 1 } }),
                                    makeSalvo("Cams A", { { 0, 1, 1 } }, cams.id),
                                    makeSalvo("R&D", { { 0, 3, 1 } }) },
                                  { cams });
    SalvoStrip strip(c);
    QCOMPARE(chipNames(strip), (QStringList { "Full A", "R&&D" }));
    QCOMPARE(chip(strip, QStringLiteral("R&&D"))->toolTip(), text("Fire “R&D”"));

    c.setActivePanelID(cams.id);
    QCOMPARE(chipNames(strip), QStringList { "Cams A" });
    QVERIFY(named(&strip, "noSalvosText")->isHidden());

    c.saveSalvo(QStringLiteral("Cams B"), cams.id);
    QCOMPARE(chipNames(strip), (QStringList { "Cams A", "Cams B" }));
}

void TestSalvoStrip::emptyPanelScope()
{
    const SubPanel cams = makePanel(QStringLiteral("Cams"), { 0 }, { 0 });
    SalvoRig s;
    RouterController &c = s.start({ makeSalvo("Full", { { 0, 4, 1 } }) }, { cams });
    SalvoStrip strip(c);
    QCOMPARE(named(&strip, "newSalvoButton")->accessibleName(), QStringLiteral("New salvo"));

    c.setActivePanelID(cams.id);
    QVERIFY(chips(strip).isEmpty());
    auto *empty = named<QLabel>(&strip, "noSalvosText");
    QVERIFY(!empty->isHidden());
    QCOMPARE(empty->text(), text("No salvos for “Cams” yet"));
    QCOMPARE(empty->textFormat(), Qt::PlainText);
    QCOMPARE(named(&strip, "newSalvoButton")->accessibleName(),
             QStringLiteral("New salvo in Cams"));
    QCOMPARE(named(&strip, "manageSalvosButton")->accessibleName(),
             QStringLiteral("Manage salvos"));
}

void TestSalvoStrip::activeChipFollowsRouting()
{
    SalvoRig s;
    RouterController &c = s.start({ makeSalvo("Match", { { 0, 0, 0 }, { 0, 1, 1 } }) });
    SalvoStrip strip(c);
    QPushButton *match = chip(strip, QStringLiteral("Match"));
    QCOMPARE(match->property("active").toBool(), true);
    QVERIFY(match->isEnabled());

    c.take(4, 1);
    ControllerRig::settle();
    QCOMPARE(match->property("active").toBool(), false);
    QVERIFY(match->isEnabled());
}

void TestSalvoStrip::chipsDisabledWhenNothingWouldFire()
{
    RouterState state = routedState();
    state.lockedDestinations = { 1 };
    SalvoRig s;
    RouterController &c
        = s.start({ makeSalvo("Out", { { 0, 9, 1 }, { 3, 0, 1 } }),
                    makeSalvo("Locked", { { 0, 1, 4 } }), makeSalvo("Fine", { { 0, 4, 1 } }) },
                  {}, state);
    SalvoStrip strip(c);
    QVERIFY(!chip(strip, QStringLiteral("Out"))->isEnabled());
    QVERIFY(!chip(strip, QStringLiteral("Locked"))->isEnabled());
    QVERIFY(chip(strip, QStringLiteral("Fine"))->isEnabled());

    c.disconnect();
    ControllerRig::settle();
    QVERIFY(!chip(strip, QStringLiteral("Fine"))->isEnabled());
    QVERIFY(named(&strip, "newSalvoButton")->isEnabled());
    QVERIFY(named(&strip, "manageSalvosButton")->isEnabled());
}

void TestSalvoStrip::chipsFollowABurstOfRouterEvents()
{
    SalvoRig s;
    RouterController &c = s.start({ makeSalvo("Now", { { 0, 0, 0 }, { 0, 1, 1 } }),
                                    makeSalvo("Next", { { 0, 1, 4 }, { 0, 2, 5 } }),
                                    makeSalvo("Four", { { 0, 4, 4 } }) });
    SalvoStrip strip(c);
    const auto active = [&](const char *name) {
        return chip(strip, QString::fromLatin1(name))->property("active").toBool();
    };
    QVERIFY(active("Now") && !active("Next") && !active("Four"));

    // One burst: each chip ends on what its last event left.
    s.driver().emitEvent(RouterDriverEvent::makeRouteChanged(0, 1, 4));
    s.driver().emitEvent(RouterDriverEvent::makeRouteChanged(0, 2, 5));
    s.driver().emitEvent(RouterDriverEvent::makeRouteChanged(0, 4, 4));
    s.driver().emitEvent(RouterDriverEvent::makeLockChanged(4, true));
    ControllerRig::settle();
    QVERIFY(!active("Now") && active("Next") && !active("Four"));
    QVERIFY(!chip(strip, QStringLiteral("Four"))->isEnabled());

    // A lock alone restyles the chip that names its destination.
    s.driver().emitEvent(RouterDriverEvent::makeLockChanged(4, false));
    ControllerRig::settle();
    QVERIFY(active("Four") && chip(strip, QStringLiteral("Four"))->isEnabled());

    // A new state touches every chip.
    s.driver().emitEvent(RouterDriverEvent::makeStateReplaced(routedState()));
    ControllerRig::settle();
    QVERIFY(active("Now") && !active("Next") && !active("Four"));
}

void TestSalvoStrip::chipAsksBeforeFiring()
{
    SalvoRig s;
    RouterController &c
        = s.start({ makeSalvo("One", { { 0, 4, 1 } }), makeSalvo("Two", { { 0, 5, 2 } }) });
    SalvoStrip strip(c);
    strip.show();
    const RouterState before = c.state();

    QTest::mouseClick(chip(strip, QStringLiteral("Two")), Qt::LeftButton);
    auto *box = openDialog<SalvoFireConfirmation>("fireConfirmation");
    QVERIFY(box);
    QCOMPARE(box->salvo().name, QStringLiteral("Two"));
    QCOMPARE(s.fires(), 0); // a click only asks
    buttonTitled(box, QStringLiteral("Cancel"))->click();
    ControllerRig::settle();
    QCOMPARE(c.state().routing, before.routing);
    QCOMPARE(s.fires(), 0);

    QTest::mouseClick(chip(strip, QStringLiteral("Two")), Qt::LeftButton);
    box = openDialog<SalvoFireConfirmation>("fireConfirmation");
    QVERIFY(box);
    box->fireButton()->click();
    ControllerRig::settle();
    QCOMPARE(s.fires(), 1);
    QCOMPARE(c.state().source(5, 0), std::optional<int>(2));
    QVERIFY(!openDialog("fireConfirmation"));
}

void TestSalvoStrip::chipsStayAcrossChangesOfOthers()
{
    SalvoRig s;
    RouterController &c
        = s.start({ makeSalvo("One", { { 0, 4, 1 } }), makeSalvo("Two", { { 0, 5, 2 } }),
                    makeSalvo("Three", { { 0, 0, 0 } }) });
    SalvoStrip strip(c);
    strip.show();
    const QPointer<QPushButton> one = chip(strip, QStringLiteral("One"));
    const QPointer<QPushButton> three = chip(strip, QStringLiteral("Three"));

    c.deleteSalvo(c.salvos().at(1));
    c.saveSalvo(QStringLiteral("Four"), std::nullopt);
    c.renameSalvo(c.salvos().first(), QStringLiteral("First"));
    c.take(0, 3); // "Three" no longer matches
    c.updateSalvo(c.salvos().at(1));
    ControllerRig::settle();
    QCOMPARE(chipNames(strip), (QStringList { "First", "Three", "Four" }));
    QCOMPARE(chips(strip).at(0), one.data());
    QCOMPARE(chips(strip).at(1), three.data());
    QCOMPARE(one->toolTip(), text("Fire “First”"));
    // Compared as recaptured: green once the router reports the take it holds.
    QVERIFY(!three->property("active").toBool());
    s.driver().emitEvent(RouterDriverEvent::makeRouteChanged(0, 3, 0));
    ControllerRig::settle();
    QVERIFY(three->property("active").toBool());

    // A kept chip fires its salvo as it is stored now.
    QTest::mouseClick(one, Qt::LeftButton);
    auto *box = openDialog<SalvoFireConfirmation>("fireConfirmation");
    QVERIFY(box);
    QCOMPARE(box->salvo(), c.salvos().first());
    buttonTitled(box, QStringLiteral("Cancel"))->click();
}

void TestSalvoStrip::newSalvoProposalAndSave()
{
    SalvoRig s;
    RouterController &c
        = s.start({ makeSalvo("Salvo 1", { { 0, 4, 1 } }), makeSalvo("SALVO 2", { { 0, 4, 2 } }) });
    const QUuid first = c.salvos().first().id;
    SalvoStrip strip(c);
    strip.show();
    auto *add = named<QPushButton>(&strip, "newSalvoButton");

    add->click();
    QDialog *prompt = openDialog("newSalvoPrompt");
    QVERIFY(prompt);
    QCOMPARE(prompt->findChild<QLineEdit *>(QStringLiteral("nameField"))->text(),
             QStringLiteral("Salvo 3"));
    QCOMPARE(named<QLabel>(prompt, "promptMessage")->text(),
             QStringLiteral("Captures every destination's current source on all levels. Saving "
                            "with an existing name updates that salvo."));
    // A name that differs only in case and blanks updates the existing salvo.
    answerPrompt(prompt, QStringLiteral("  salvo 1 \n"));
    QCOMPARE(c.salvos().size(), 2);
    QCOMPARE(c.salvos().first().id, first);
    QCOMPARE(c.salvos().first().name, QStringLiteral("Salvo 1"));
    QVERIFY(c.salvos().first().routes.contains(Route { 0, 0, 0 }));

    add->click();
    answerPrompt(openDialog("newSalvoPrompt"), QStringLiteral("   "));
    QCOMPARE(c.salvos().size(), 2);

    add->click();
    answerPrompt(openDialog("newSalvoPrompt"), QStringLiteral("Wide"), false);
    QCOMPARE(c.salvos().size(), 2);

    add->click();
    answerPrompt(openDialog("newSalvoPrompt"), std::nullopt);
    QCOMPARE(chipNames(strip), (QStringList { "Salvo 1", "SALVO 2", "Salvo 3" }));
}

void TestSalvoStrip::newSalvoInPanelScope()
{
    const SubPanel cams = makePanel(QStringLiteral("Cams"), { 0 }, { 0, 1 });
    SalvoRig s;
    RouterController &c = s.start({ makeSalvo("Salvo 1", { { 0, 4, 1 } }) }, { cams });
    c.setActivePanelID(cams.id);
    SalvoStrip strip(c);
    strip.show();

    named<QPushButton>(&strip, "newSalvoButton")->click();
    QDialog *prompt = openDialog("newSalvoPrompt");
    QVERIFY(prompt);
    QCOMPARE(named<QLabel>(prompt, "promptMessage")->text(),
             text("Captures the current source for each of “Cams”'s destinations. Firing "
                  "changes only those destinations. Saving with a name already used on this "
                  "panel updates that salvo."));
    // The full router's Salvo 1 is another scope: this one is new.
    answerPrompt(prompt, QStringLiteral("salvo 1"));
    QCOMPARE(c.salvos().size(), 2);
    QCOMPARE(c.salvos().last().name, QStringLiteral("salvo 1"));
    QCOMPARE(c.salvos().last().panelID, std::optional<QUuid>(cams.id));
    QCOMPARE(chipNames(strip), QStringList { "salvo 1" });
}

void TestSalvoStrip::deleteAndUpdateAskFirst()
{
    RouterState state = routedState();
    state.lockedDestinations = { 4 };
    SalvoRig s;
    RouterController &c = s.start(
        { makeSalvo("Locked", { { 0, 4, 1 } }, std::nullopt), makeSalvo("Other", { { 0, 0, 3 } }) },
        {}, state);
    SalvoStrip strip(c);
    strip.show();
    QPushButton *locked = chip(strip, QStringLiteral("Locked"));
    QVERIFY(!locked->isEnabled()); // its menu still opens

    openChipMenu(locked);
    QVERIFY(chooseMenuItem("salvoChipMenu", text("Delete Salvo…")));
    auto *box = openDialog<QMessageBox>("deleteConfirmation");
    QVERIFY(box);
    QCOMPARE(box->text(), text("Delete “Locked”?"));
    QCOMPARE(box->informativeText(), QStringLiteral("This salvo cannot be recovered."));
    buttonTitled(box, QStringLiteral("Cancel"))->click();
    ControllerRig::settle();
    QCOMPARE(c.salvos().size(), 2);

    openChipMenu(locked);
    QVERIFY(chooseMenuItem("salvoChipMenu", text("Delete Salvo…")));
    buttonTitled(openDialog<QMessageBox>("deleteConfirmation"), QStringLiteral("Delete"))->click();
    ControllerRig::settle();
    QCOMPARE(c.salvos().size(), 1);
    QCOMPARE(chipNames(strip), QStringList { "Other" });

    openChipMenu(chip(strip, QStringLiteral("Other")));
    QVERIFY(chooseMenuItem("salvoChipMenu", text("Update from Current Routing…")));
    box = openDialog<QMessageBox>("updateConfirmation");
    QVERIFY(box);
    QCOMPARE(box->text(), text("Update “Other”?"));
    QCOMPARE(box->informativeText(),
             QStringLiteral("Replaces its saved snapshot with the current routing. The old "
                            "snapshot cannot be recovered."));
    buttonTitled(box, QStringLiteral("Update"))->click();
    ControllerRig::settle();
    QVERIFY(c.salvos().first().routes.contains(Route { 0, 0, 0 }));
    QVERIFY(!c.salvos().first().routes.contains(Route { 0, 0, 3 }));
    QVERIFY(c.salvos().first().savedAt);
}

void TestSalvoStrip::manageButtonAsksForManager()
{
    SalvoRig s;
    RouterController &c = s.start({ makeSalvo("A", { { 0, 4, 1 } }) });
    SalvoStrip strip(c);
    strip.show();
    QSignalSpy open(&strip, &SalvoStrip::openManager);
    QTest::mouseClick(named(&strip, "manageSalvosButton"), Qt::LeftButton);
    QCOMPARE(open.size(), 1);
}

QTEST_MAIN(TestSalvoStrip)
#include "tst_salvostrip.moc"
