#include "SalvoRig.h"
#include "SteppedAnimations.h"

#include <QContextMenuEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

namespace {

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

QList<SalvoRow *> rows(SalvoSheet &sheet)
{
    QList<SalvoRow *> list;
    for (SalvoRow *row : sheet.findChildren<SalvoRow *>()) {
        if (row->isVisibleTo(&sheet))
            list.append(row);
    }
    return list;
}

SalvoRow *row(SalvoSheet &sheet, const QString &name)
{
    for (SalvoRow *r : rows(sheet)) {
        if (r->salvo().name == name)
            return r;
    }
    return nullptr;
}

QStringList visibleTexts(SalvoSheet &sheet, const char *objectName)
{
    QStringList texts;
    for (QLabel *label : sheet.findChildren<QLabel *>(QString::fromLatin1(objectName))) {
        if (label->isVisibleTo(&sheet))
            texts.append(label->text());
    }
    return texts;
}

QWidget *visibleNamed(SalvoSheet &sheet, const char *objectName)
{
    for (QWidget *w : sheet.findChildren<QWidget *>(QString::fromLatin1(objectName))) {
        if (w->isVisibleTo(&sheet))
            return w;
    }
    return nullptr;
}

void openRowMenu(SalvoRow *row)
{
    QVERIFY(row);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(4, 4), row->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(row, &event);
}

// The sheet as the workspace presents it, over a window of its own.
struct Presented
{
    QWidget window;
    QPointer<SalvoSheet> sheet;

    explicit Presented(RouterController &controller)
    {
        window.resize(900, 700);
        window.show();
        sheet = new SalvoSheet(controller, &window);
        sheet->setWindowModality(Qt::WindowModal);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->open();
    }
};

} // namespace

class TestSalvoSheet : public QObject
{
    Q_OBJECT

private slots:
    void emptyRouterShowsEmptyState();
    void sectionsFollowScope();
    void emptyPanelScopeProposesFirstSalvo();
    void orphanedSalvoIsFullRouterAndStaysSeparate();
    void offlineBannerAndMenu();
    void oneRowExpandedAtATime();
    void expansionGrowsAndFadesOnTheSpring();
    void longListMakesRowsAsTheyComeIntoView();
    void rename();
    void deleteKeyAsksFirst();
    void updateAsksFirst();
    void confirmedFireClosesSheet();
    void cancelledFireKeepsSheet();
};

void TestSalvoSheet::emptyRouterShowsEmptyState()
{
    SalvoRig s;
    RouterController &c = s.start({});
    SalvoSheet sheet(c);
    QCOMPARE(sheet.windowTitle(), QStringLiteral("Salvos"));
    QCOMPARE(sheet.size(), QSize(520, 560));
    QCOMPARE(visibleTexts(sheet, "sectionHeader"), QStringList { "Full Router Salvos" });
    QVERIFY(visibleTexts(sheet, "sectionFooter").isEmpty());
    QVERIFY(rows(sheet).isEmpty());
    QVERIFY(!visibleNamed(sheet, "newSalvoRowButton"));
    QVERIFY(visibleNamed(sheet, "emptyState"));
    QVERIFY(!visibleNamed(sheet, "offlineBanner"));

    // Saving from the empty state fills the list.
    sheet.show();
    named<QPushButton>(visibleNamed(sheet, "emptyState"), "saveCurrentRoutingButton")->click();
    answerPrompt(openDialog("newSalvoPrompt"), std::nullopt);
    QCOMPARE(rows(sheet).size(), 1);
    QCOMPARE(rows(sheet).first()->salvo().name, QStringLiteral("Salvo 1"));
    QVERIFY(!visibleNamed(sheet, "emptyState"));
    QVERIFY(visibleNamed(sheet, "newSalvoRowButton"));
    QCOMPARE(visibleTexts(sheet, "sectionFooter"),
             QStringList { "Tap a salvo to preview exactly what firing it would change." });
}

void TestSalvoSheet::sectionsFollowScope()
{
    const SubPanel cams = makePanel(QStringLiteral("Cams"), { 0, 1 }, { 0, 1 });
    SalvoRig s;
    RouterController &c = s.start(
        { makeSalvo("Full", { { 0, 4, 1 } }), makeSalvo("Close", { { 0, 1, 1 } }, cams.id) },
        { cams });
    SalvoSheet sheet(c);
    QCOMPARE(visibleTexts(sheet, "sectionHeader"), QStringList { "Full Router Salvos" });
    QCOMPARE(rows(sheet).size(), 1);

    c.setActivePanelID(cams.id);
    QCOMPARE(visibleTexts(sheet, "sectionHeader"), (QStringList { "Cams Salvos", "Full Router" }));
    QCOMPARE(visibleTexts(sheet, "sectionFooter"),
             (QStringList { "Salvos here capture only this panel's destinations. Tap one to "
                            "preview what firing it would change.",
                            "These fire the whole router, not just this panel." }));
    QVERIFY(row(sheet, QStringLiteral("Close")));
    QVERIFY(row(sheet, QStringLiteral("Full")));

    // Without full-router salvos the second section goes.
    c.deleteSalvo(c.salvos().first());
    QCOMPARE(visibleTexts(sheet, "sectionHeader"), QStringList { "Cams Salvos" });
}

void TestSalvoSheet::emptyPanelScopeProposesFirstSalvo()
{
    // Destination 9 is not on this router and is not counted.
    const SubPanel cams = makePanel(QStringLiteral("Cams"), { 0 }, { 0, 1, 9 });
    const SubPanel other = makePanel(QStringLiteral("Other"), { 0 }, { 2 });
    SalvoRig s;
    RouterController &c
        = s.start({ makeSalvo("Salvo 1", { { 0, 2, 1 } }, other.id) }, { cams, other });
    c.setActivePanelID(cams.id);
    Presented shown(c);
    SalvoSheet &sheet = *shown.sheet;

    QWidget *empty = visibleNamed(sheet, "emptyScope");
    QVERIFY(empty);
    QCOMPARE(labelText(empty), text("No salvos for “Cams” yet"));
    QVERIFY(!visibleNamed(sheet, "emptyState"));
    QVERIFY(visibleTexts(sheet, "sectionFooter").isEmpty());
    QVERIFY(visibleNamed(sheet, "newSalvoRowButton")); // the router has a salvo elsewhere

    named<QPushButton>(empty, "saveCurrentRoutingButton")->click();
    QDialog *prompt = openDialog("newSalvoPrompt");
    QVERIFY(prompt);
    QCOMPARE(prompt->findChild<QLineEdit *>(QStringLiteral("nameField"))->text(),
             QStringLiteral("Salvo 1"));
    QCOMPARE(named<QLabel>(prompt, "promptMessage")->text(),
             text("Captures the current source for each of “Cams”'s 2 destinations, on all "
                  "levels. Firing changes only those destinations. Saving with a name already "
                  "used on this panel updates that salvo."));
    answerPrompt(prompt, std::nullopt);
    QCOMPARE(c.salvos().size(), 2);
    QCOMPARE(c.salvos().last().panelID, std::optional<QUuid>(cams.id));
    QVERIFY(row(sheet, QStringLiteral("Salvo 1")));
}

void TestSalvoSheet::orphanedSalvoIsFullRouterAndStaysSeparate()
{
    const SubPanel gone = makePanel(QStringLiteral("Gone"), { 0 }, { 0 });
    const SubPanel cams = makePanel(QStringLiteral("Cams"), { 0 }, { 0 });
    SalvoRig s;
    RouterController &c = s.start({ makeSalvo("Salvo 1", { { 0, 0, 1 } }, gone.id) }, { cams });
    c.setActivePanelID(cams.id);
    Presented shown(c);
    SalvoSheet &sheet = *shown.sheet;
    QCOMPARE(visibleTexts(sheet, "sectionHeader"), (QStringList { "Cams Salvos", "Full Router" }));

    // In the full-router scope it blocks its number, but saving its name stores a second one.
    c.setActivePanelID(std::nullopt);
    named<QPushButton>(&sheet, "newSalvoToolbarButton")->click();
    QDialog *prompt = openDialog("newSalvoPrompt");
    QCOMPARE(prompt->findChild<QLineEdit *>(QStringLiteral("nameField"))->text(),
             QStringLiteral("Salvo 2"));
    answerPrompt(prompt, QStringLiteral("salvo 1"));
    QCOMPARE(c.salvos().size(), 2);
    QCOMPARE(c.salvos().last().panelID, std::nullopt);
}

void TestSalvoSheet::offlineBannerAndMenu()
{
    SalvoRig s;
    RouterController &c = s.start({ makeSalvo("A", { { 0, 4, 1 } }) });
    Presented shown(c);
    SalvoSheet &sheet = *shown.sheet;
    QVERIFY(!visibleNamed(sheet, "offlineBanner"));

    openRowMenu(row(sheet, QStringLiteral("A")));
    QAction *fire = menuAction("salvoRowMenu", text("Fire…"));
    QVERIFY(fire);
    QVERIFY(fire->isEnabled());
    qobject_cast<QWidget *>(fire->parent())->close();

    c.disconnect();
    ControllerRig::settle();
    QWidget *banner = visibleNamed(sheet, "offlineBanner");
    QVERIFY(banner);
    QCOMPARE(labelText(banner), text("Offline — salvos can be edited but not fired"));
    openRowMenu(row(sheet, QStringLiteral("A")));
    QVERIFY(!menuAction("salvoRowMenu", text("Fire…"))->isEnabled());
    QVERIFY(menuAction("salvoRowMenu", text("Rename…"))->isEnabled());
    QVERIFY(menuAction("salvoRowMenu", QStringLiteral("Update from Current Routing")));
    QVERIFY(menuAction("salvoRowMenu", text("Delete…")));
}

void TestSalvoSheet::oneRowExpandedAtATime()
{
    SalvoRig s;
    RouterController &c
        = s.start({ makeSalvo("A", { { 0, 4, 1 } }), makeSalvo("B", { { 0, 5, 1 } }) });
    Presented shown(c);
    SalvoSheet &sheet = *shown.sheet;
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    const auto header = [&](const char *name) {
        return named(row(sheet, QString::fromLatin1(name)), "salvoName");
    };

    QTest::mouseClick(header("A"), Qt::LeftButton);
    QVERIFY(row(sheet, "A")->isExpanded());
    QTest::mouseClick(header("B"), Qt::LeftButton);
    QVERIFY(!row(sheet, "A")->isExpanded());
    QVERIFY(row(sheet, "B")->isExpanded());
    QTest::mouseClick(header("B"), Qt::LeftButton);
    QVERIFY(!row(sheet, "B")->isExpanded());

    // Expansion survives a rebuild of the list.
    QTest::mouseClick(header("A"), Qt::LeftButton);
    c.saveSalvo(QStringLiteral("C"), std::nullopt);
    QVERIFY(row(sheet, "A")->isExpanded());
    QVERIFY(!row(sheet, "C")->isExpanded());
}

void TestSalvoSheet::rename()
{
    SalvoRig s;
    RouterController &c
        = s.start({ makeSalvo("Salvo A", { { 0, 4, 1 } }), makeSalvo("Salvo B", { { 0, 5, 1 } }) });
    Presented shown(c);
    SalvoSheet &sheet = *shown.sheet;
    const auto rename = [&](const QString &name, const std::optional<QString> &typed) {
        openRowMenu(row(sheet, name));
        QVERIFY(chooseMenuItem("salvoRowMenu", text("Rename…")));
        QDialog *prompt = openDialog("renamePrompt");
        QVERIFY(prompt);
        QCOMPARE(prompt->findChild<QLineEdit *>(QStringLiteral("nameField"))->text(), name);
        answerPrompt(prompt, typed);
    };
    QSignalSpy changed(&c, &RouterController::salvosChanged);

    rename(QStringLiteral("Salvo A"), std::nullopt); // unchanged
    rename(QStringLiteral("Salvo A"), QStringLiteral("  "));
    QCOMPARE(changed.size(), 0);
    QVERIFY(!openDialog("renameConflict"));

    rename(QStringLiteral("Salvo A"), QStringLiteral("salvo b "));
    auto *conflict = openDialog<QMessageBox>("renameConflict");
    QVERIFY(conflict);
    QCOMPARE(conflict->text(), QStringLiteral("Name Already Used"));
    QCOMPARE(conflict->informativeText(), text("A salvo named “salvo b” already exists."));
    buttonTitled(conflict, QStringLiteral("OK"))->click();
    ControllerRig::settle();
    QCOMPARE(c.salvos().first().name, QStringLiteral("Salvo A"));

    rename(QStringLiteral("Salvo A"), QStringLiteral(" Wide "));
    QCOMPARE(c.salvos().first().name, QStringLiteral("Wide"));
    QVERIFY(row(sheet, QStringLiteral("Wide")));
    // A change of letter case only is a rename.
    rename(QStringLiteral("Wide"), QStringLiteral("WIDE"));
    QCOMPARE(c.salvos().first().name, QStringLiteral("WIDE"));
}

void TestSalvoSheet::deleteKeyAsksFirst()
{
    SalvoRig s;
    RouterController &c = s.start({ makeSalvo("A", { { 0, 4, 1 } }) });
    Presented shown(c);
    SalvoSheet &sheet = *shown.sheet;
    SalvoRow *a = row(sheet, QStringLiteral("A"));

    QTest::keyClick(a, Qt::Key_Delete);
    auto *box = openDialog<QMessageBox>("deleteConfirmation");
    QVERIFY(box);
    QCOMPARE(box->text(), text("Delete “A”?"));
    QCOMPARE(c.salvos().size(), 1);
    box->reject(); // closed without an answer
    ControllerRig::settle();
    QCOMPARE(c.salvos().size(), 1);

    QTest::keyClick(a, Qt::Key_Backspace);
    buttonTitled(openDialog<QMessageBox>("deleteConfirmation"), QStringLiteral("Delete"))->click();
    ControllerRig::settle();
    QVERIFY(c.salvos().isEmpty());
    QVERIFY(rows(sheet).isEmpty());
    QVERIFY(visibleNamed(sheet, "emptyState"));
}

void TestSalvoSheet::updateAsksFirst()
{
    SalvoRig s;
    RouterController &c = s.start({ makeSalvo("A", { { 0, 0, 4 } }) });
    Presented shown(c);
    SalvoSheet &sheet = *shown.sheet;

    named<QPushButton>(row(sheet, QStringLiteral("A")), "updateButton")->click();
    auto *box = openDialog<QMessageBox>("updateConfirmation");
    QVERIFY(box);
    QCOMPARE(box->text(), text("Update “A”?"));
    buttonTitled(box, QStringLiteral("Cancel"))->click();
    ControllerRig::settle();
    QCOMPARE(c.salvos().first().routes, (QList<Route> { { 0, 0, 4 } }));

    openRowMenu(row(sheet, QStringLiteral("A")));
    QVERIFY(chooseMenuItem("salvoRowMenu", QStringLiteral("Update from Current Routing")));
    buttonTitled(openDialog<QMessageBox>("updateConfirmation"), QStringLiteral("Update"))->click();
    ControllerRig::settle();
    QVERIFY(c.salvos().first().routes.contains(Route { 0, 0, 0 }));
    QVERIFY(!c.salvos().first().routes.contains(Route { 0, 0, 4 }));
    QVERIFY(!named<QPushButton>(row(sheet, QStringLiteral("A")), "updateButton")->isEnabled());
}

void TestSalvoSheet::confirmedFireClosesSheet()
{
    SalvoRig s;
    RouterController &c = s.start({ makeSalvo("A", { { 0, 4, 1 } }) });
    Presented shown(c);

    named<QPushButton>(row(*shown.sheet, QStringLiteral("A")), "fireButton")->click();
    auto *box = openDialog<SalvoFireConfirmation>("fireConfirmation");
    QVERIFY(box);
    QCOMPARE(s.fires(), 0);
    box->fireButton()->click();
    ControllerRig::settle();
    QCOMPARE(s.fires(), 1);
    QCOMPARE(c.state().source(4, 0), std::optional<int>(1));
    QTRY_VERIFY(!shown.sheet);
}

void TestSalvoSheet::cancelledFireKeepsSheet()
{
    SalvoRig s;
    RouterController &c = s.start({ makeSalvo("A", { { 0, 4, 1 } }) });
    Presented shown(c);

    openRowMenu(row(*shown.sheet, QStringLiteral("A")));
    QVERIFY(chooseMenuItem("salvoRowMenu", text("Fire…")));
    auto *box = openDialog<SalvoFireConfirmation>("fireConfirmation");
    QVERIFY(box);
    buttonTitled(box, QStringLiteral("Cancel"))->click();
    ControllerRig::settle();
    QCOMPARE(s.fires(), 0);
    QVERIFY(shown.sheet && shown.sheet->isVisible());
    QVERIFY(!c.state().source(4, 0));
}

void TestSalvoSheet::expansionGrowsAndFadesOnTheSpring()
{
    SteppedAnimations clock;
    SalvoRig s;
    RouterController &c
        = s.start({ makeSalvo("A", { { 0, 4, 1 } }), makeSalvo("B", { { 0, 5, 1 } }) });
    Presented shown(c);
    SalvoSheet &sheet = *shown.sheet;
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    SalvoRow *a = row(sheet, "A");
    QWidget *preview = named(a, "changePreview");
    const int closed = a->height();

    // From the keyboard: the row takes focus with Tab and opens with Space.
    a->setFocus(Qt::TabFocusReason);
    QTest::keyClick(a, Qt::Key_Space);
    QVERIFY(a->isExpanded());
    clock.step(64);
    const int growing = a->height();
    QVERIFY(preview->isVisible());
    QVERIFY(preview->graphicsEffect()); // fading in
    clock.settle();
    const int open = a->height();
    QVERIFY2(growing > closed && growing < open,
             qPrintable(QStringLiteral("%1 < %2 < %3").arg(closed).arg(growing).arg(open)));
    QVERIFY(!preview->graphicsEffect()); // drawn plainly at rest
    QCOMPARE(a->height(), closed + preview->height());

    // Opening another closes the first the same way; its lines stay until it is gone.
    QTest::mouseClick(named(row(sheet, "B"), "salvoName"), Qt::LeftButton);
    clock.step(64);
    QVERIFY(!a->isExpanded());
    QVERIFY(preview->isVisible() && a->height() < open && a->height() > closed);
    clock.settle();
    QVERIFY(preview->isHidden());
    QCOMPARE(a->height(), closed);
}

void TestSalvoSheet::longListMakesRowsAsTheyComeIntoView()
{
    QList<Salvo> many;
    for (int i = 0; i < 400; ++i)
        many.append(makeSalvo(QStringLiteral("S%1").arg(i), { { 0, i % 6, 1 } }));
    SalvoRig s;
    RouterController &c = s.start(many);
    Presented shown(c);
    SalvoSheet &sheet = *shown.sheet;
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    QVERIFY(rows(sheet).size() < 100);

    // The keyboard walks on, row by row, past the rows made first, and the list follows it.
    QWidget *viewport = sheet.findChild<QScrollArea *>()->viewport();
    row(sheet, QStringLiteral("S0"))->setFocus(Qt::TabFocusReason);
    int next = 1;
    SalvoRow *focused = nullptr;
    for (int press = 0; press < 400 && next <= 60; ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ControllerRig::settle();
        focused = qobject_cast<SalvoRow *>(QApplication::focusWidget());
        if (!focused)
            continue; // a row's own buttons
        QCOMPARE(focused->salvo().name, QStringLiteral("S%1").arg(next++));
        QVERIFY(
            viewport->rect().contains(QRect(focused->mapTo(viewport, QPoint()), focused->size())));
    }
    QCOMPARE(next, 61);

    // The end of the list, its last row whole, and an edit there shows.
    auto *bar = sheet.findChild<QScrollArea *>()->verticalScrollBar();
    bar->setValue(bar->maximum());
    ControllerRig::settle();
    SalvoRow *last = row(sheet, QStringLiteral("S399"));
    QVERIFY(last);
    QCOMPARE(last->height(), focused->height());
    QCOMPARE(labelText(named(last, "statusLine")), QStringLiteral("1 change"));
    c.take(1, 399 % 6);
    s.driver().emitEvent(RouterDriverEvent::makeRouteChanged(0, 399 % 6, 1)); // confirmed
    ControllerRig::settle();
    QCOMPARE(labelText(named(last, "statusLine")), text("Active — matches current routing"));
}

QTEST_MAIN(TestSalvoSheet)
#include "tst_salvosheet.moc"
