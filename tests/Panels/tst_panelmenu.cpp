#include "PanelsRig.h"
#include "Views/Panels/PanelMenu.h"

#include <QActionGroup>
#include <QApplication>
#include <QMenu>

namespace {

// The menu as the operator reads it: "-" for a divider, "*" before the checked choice.
QStringList entries(const QMenu &menu)
{
    QStringList texts;
    for (const QAction *action : menu.actions()) {
        if (action->isSeparator())
            texts.append(QStringLiteral("-"));
        else
            texts.append((action->isChecked() ? QStringLiteral("*") : QString()) + action->text());
    }
    return texts;
}

QAction *entry(const QMenu &menu, int position)
{
    return menu.actions().value(position);
}

} // namespace

class TestPanelMenu final : public QObject
{
    Q_OBJECT

private slots:
    void withoutPanels();
    void choosesPanelsByIdAndRunsActions();
    void refillsBeforeEachShowing();
};

void TestPanelMenu::withoutPanels()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    QMenu menu;
    int news = 0;
    int manages = 0;
    fillPanelMenu(
        &menu, controller, [&] { ++news; }, [&] { ++manages; });

    QCOMPARE(entries(menu),
             (QStringList { QStringLiteral("*Full Router"), QStringLiteral("-"),
                            QStringLiteral("New Panel\u2026") }));
    QVERIFY(!entry(menu, 0)->icon().isNull());
    entry(menu, 2)->trigger();
    QCOMPARE(news, 1);
    QCOMPARE(manages, 0);
}

void TestPanelMenu::choosesPanelsByIdAndRunsActions()
{
    ControllerRig rig;
    const SubPanel first = makePanel(QStringLiteral("Cams"), { 0 }, { 0 });
    const SubPanel twin = makePanel(QStringLiteral("Cams"), { 1 }, { 1 });
    const SubPanel third = makePanel(QStringLiteral("VT & Graphics"), { 2 }, { 2 });
    RouterController &controller = makeWithPanels(rig, { first, twin, third });
    QMenu menu;
    int news = 0;
    int manages = 0;
    fillPanelMenu(
        &menu, controller, [&] { ++news; }, [&] { ++manages; });

    // Same-named panels are separate choices; "&" is not read as a mnemonic.
    QCOMPARE(entries(menu),
             (QStringList { QStringLiteral("*Full Router"), QStringLiteral("Cams"),
                            QStringLiteral("Cams"), QStringLiteral("VT && Graphics"),
                            QStringLiteral("-"), QStringLiteral("New Panel\u2026"),
                            QStringLiteral("Edit Panels\u2026") }));

    entry(menu, 2)->trigger();
    QCOMPARE(controller.activePanelID(), std::optional(twin.id));
    fillPanelMenu(&menu, controller, {}, {});
    QCOMPARE(entries(menu).mid(0, 3),
             (QStringList { QStringLiteral("Full Router"), QStringLiteral("Cams"),
                            QStringLiteral("*Cams") }));

    entry(menu, 0)->trigger();
    QCOMPARE(controller.activePanelID(), std::nullopt);

    fillPanelMenu(
        &menu, controller, [&] { ++news; }, [&] { ++manages; });
    entry(menu, 6)->trigger();
    entry(menu, 5)->trigger();
    QCOMPARE(manages, 1);
    QCOMPARE(news, 1);
}

void TestPanelMenu::refillsBeforeEachShowing()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    QMenu menu;
    attachPanelMenu(&menu, controller, {}, {});
    QCOMPARE(menu.actions().size(), 3);

    const SubPanel panel = makePanel(QStringLiteral("Studio"), { 0 }, { 0 });
    controller.savePanel(panel);
    controller.setActivePanelID(panel.id);
    emit menu.aboutToShow();
    QCOMPARE(entries(menu),
             (QStringList { QStringLiteral("Full Router"), QStringLiteral("*Studio"),
                            QStringLiteral("-"), QStringLiteral("New Panel\u2026"),
                            QStringLiteral("Edit Panels\u2026") }));
    // Refilling does not pile up choice groups.
    QCOMPARE(menu.findChildren<QActionGroup *>().size(), 1);

    // The menu outliving its controller does nothing when used.
    rig.controller.reset();
    emit menu.aboutToShow();
    entry(menu, 1)->trigger();
}

QTEST_MAIN(TestPanelMenu)
#include "tst_panelmenu.moc"
