#include "ControllerRig.h"
#include "PopupMenus.h"
#include "SteppedAnimations.h"

#include "Views/Workspace/PanelTabStrip.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

namespace {

QStringList actionTexts(const QMenu &menu)
{
    QStringList texts;
    for (QAction *action : menu.actions())
        texts.append(action->isSeparator() ? QStringLiteral("--") : action->text());
    return texts;
}

QAction *action(const QMenu &menu, const QString &text)
{
    for (QAction *action : menu.actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

// The ids of the tabs a screen reader hears as selected, "All" as an empty id. The strip reads
// as a page-tab list of its tabs in their order, then "New panel"; a wrong tree reads as a
// null id selected.
QList<std::optional<QUuid>> checkedTabs(PanelTabStrip &strip, const RouterController &c)
{
    QList<std::optional<QUuid>> ids { std::nullopt };
    for (const SubPanel &panel : c.panels())
        ids.append(panel.id);
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(&strip);
    const QList<std::optional<QUuid>> wrong { QUuid() };
    if (list->role() != QAccessible::PageTabList || list->childCount() != ids.size() + 1
        || list->child(int(ids.size()))->text(QAccessible::Name) != QStringLiteral("New panel"))
        return wrong;
    QList<std::optional<QUuid>> selected;
    for (int i = 0; i < ids.size(); ++i) {
        QAccessibleInterface *tab = list->child(i);
        if (tab->role() != QAccessible::PageTab || tab->object() != strip.tab(ids.at(i))
            || tab->parent() != list || list->indexOfChild(tab) != i || tab->state().checked)
            return wrong;
        if (tab->state().selected)
            selected.append(ids.at(i));
    }
    return selected;
}

} // namespace

class TestPanelTabStrip : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void oneTabPerPanelInStoredOrder();
    void clickingTabsSetsTheActivePanel();
    void contextMenuReportsEditAndDeleteAndDuplicates();
    void duplicateChosenInTheTabsOwnMenu();
    void newButtonAsksForANewPanel();
    void tabsFollowPanelChanges();
    void activePanelSetElsewhereScrollsIntoTheMiddle();
    void underlineMovesOnTheSpring();

private:
    std::unique_ptr<ControllerRig> m_rig;
    RouterController *m_controller = nullptr;
    QList<SubPanel> m_panels;
};

void TestPanelTabStrip::init()
{
    m_rig = std::make_unique<ControllerRig>();
    m_rig->connectWith(makeState(12, 8));
    m_controller = m_rig->controller.get();
    m_panels = { makePanel(QStringLiteral("Studio A"), { 0, 1, 2 }, { 0, 1, 2, 3, 4 }),
                 makePanel(QStringLiteral("<i>Edit & Grade</i>"), { 3 }, { 5 }),
                 makePanel(QStringLiteral("Booth"), {}, {}) };
    for (const SubPanel &panel : std::as_const(m_panels))
        m_controller->savePanel(panel);
}

void TestPanelTabStrip::cleanup()
{
    m_rig.reset();
}

void TestPanelTabStrip::oneTabPerPanelInStoredOrder()
{
    PanelTabStrip strip(*m_controller);
    QCOMPARE(strip.accessibleName(), QStringLiteral("Panels"));
    QAbstractButton *all = strip.tab(std::nullopt);
    QCOMPARE(all->text(), QStringLiteral("All"));
    QCOMPARE(all->accessibleName(), QStringLiteral("Full Router, all ports"));
    QVERIFY(all->accessibleDescription().isEmpty());

    int previousX = -1;
    for (const SubPanel &panel : std::as_const(m_panels)) {
        QAbstractButton *tab = strip.tab(panel.id);
        QVERIFY(tab);
        QCOMPARE(tab->text(), panel.name); // the name as typed, markup and "&" included
        QCOMPARE(tab->accessibleName(), panel.name);
        QCOMPARE(tab->accessibleDescription(), QStringLiteral("Shows only this panel's ports"));
        QCOMPARE(tab->toolTip(), PanelTabStrip::helpText(panel));
        QVERIFY(tab->geometry().x() > previousX);
        previousX = tab->geometry().x();
    }
    QCOMPARE(PanelTabStrip::helpText(m_panels[0]), QStringLiteral("3 in \u00d7 5 out"));
    QCOMPARE(PanelTabStrip::helpText(m_panels[2]), QStringLiteral("0 in \u00d7 0 out"));
    QCOMPARE(checkedTabs(strip, *m_controller), QList<std::optional<QUuid>> { std::nullopt });
}

void TestPanelTabStrip::clickingTabsSetsTheActivePanel()
{
    PanelTabStrip strip(*m_controller);
    strip.resize(800, strip.sizeHint().height());
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    const QUuid booth = m_panels[2].id;

    QTest::mouseClick(strip.tab(booth), Qt::LeftButton);
    QCOMPARE(m_controller->activePanelID(), std::optional<QUuid>(booth));
    QCOMPARE(checkedTabs(strip, *m_controller), QList<std::optional<QUuid>> { booth });

    QSignalSpy changed(m_controller, &RouterController::activePanelIDChanged);
    QTest::mouseClick(strip.tab(booth), Qt::LeftButton); // already active: no change
    QCOMPARE(changed.size(), 0);
    QVERIFY(strip.tab(booth)->isChecked()); // a click never unchecks it by itself

    QTest::mouseClick(strip.tab(std::nullopt), Qt::LeftButton);
    QCOMPARE(m_controller->activePanelID(), std::nullopt);
    QCOMPARE(checkedTabs(strip, *m_controller), QList<std::optional<QUuid>> { std::nullopt });
}

void TestPanelTabStrip::contextMenuReportsEditAndDeleteAndDuplicates()
{
    PanelTabStrip strip(*m_controller);
    m_controller->setActivePanelID(m_panels[0].id);
    QSignalSpy edit(&strip, &PanelTabStrip::editRequested);
    QSignalSpy remove(&strip, &PanelTabStrip::deleteRequested);
    const SubPanel target = m_controller->panels().at(1);

    std::unique_ptr<QMenu> menu(strip.contextMenu(target, &strip));
    QCOMPARE(actionTexts(*menu),
             (QStringList { QStringLiteral("Edit Panel\u2026"), QStringLiteral("Duplicate"),
                            QStringLiteral("--"), QStringLiteral("Delete\u2026") }));
    action(*menu, QStringLiteral("Edit Panel\u2026"))->trigger();
    QCOMPARE(edit.size(), 1);
    QCOMPARE(edit.first().first().value<SubPanel>().id, target.id);

    action(*menu, QStringLiteral("Delete\u2026"))->trigger();
    QCOMPARE(remove.size(), 1);
    QCOMPARE(remove.first().first().value<SubPanel>().id, target.id);
    QCOMPARE(m_controller->panels().size(), 3); // deleting is the creator's, after confirming

    action(*menu, QStringLiteral("Duplicate"))->trigger();
    QCOMPARE(m_controller->panels().size(), 4);
    const SubPanel copy = m_controller->panels().last();
    QCOMPARE(copy.name, target.name + QStringLiteral(" Copy"));
    QVERIFY(strip.tab(copy.id));
    QCOMPARE(strip.tab(copy.id)->text(), copy.name);
    QCOMPARE(m_controller->activePanelID(), std::optional<QUuid>(m_panels[0].id));
    QCOMPARE(checkedTabs(strip, *m_controller), QList<std::optional<QUuid>> { m_panels[0].id });
}

void TestPanelTabStrip::duplicateChosenInTheTabsOwnMenu()
{
    // Used to delete the tab, and the menu parented to it, inside the menu's mouse release.
    PanelTabStrip strip(*m_controller);
    strip.resize(800, strip.sizeHint().height());
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    const SubPanel target = m_controller->panels().at(1);
    for (int round = 0; round < 2; ++round) {
        QAbstractButton *tab = strip.tab(target.id);
        QMenu *menu = PopupMenus::rightClick(tab, tab->rect().center());
        QVERIFY(menu);
        QVERIFY(PopupMenus::choose(menu, QStringLiteral("Duplicate"), tab));
        QCOMPARE(m_controller->panels().size(), 4 + round);
        QCOMPARE(strip.tab(m_controller->panels().last().id)->text(),
                 target.name + QStringLiteral(" Copy"));
    }
}

void TestPanelTabStrip::newButtonAsksForANewPanel()
{
    PanelTabStrip strip(*m_controller);
    strip.show();
    QSignalSpy wanted(&strip, &PanelTabStrip::newRequested);
    QCOMPARE(strip.newButton()->accessibleName(), QStringLiteral("New panel"));
    QTest::mouseClick(strip.newButton(), Qt::LeftButton);
    QCOMPARE(wanted.size(), 1);
    QCOMPARE(m_controller->panels().size(), 3);
}

void TestPanelTabStrip::tabsFollowPanelChanges()
{
    PanelTabStrip strip(*m_controller);
    m_controller->setActivePanelID(m_panels[1].id);
    SubPanel renamed = m_panels[1];
    renamed.name = QStringLiteral("Grade");
    m_controller->savePanel(renamed);
    QCOMPARE(strip.tab(renamed.id)->text(), QStringLiteral("Grade"));
    QVERIFY(strip.tab(renamed.id)->isChecked()); // rebuilt tabs keep the active mark

    m_controller->deletePanel(renamed); // the active one: back to the full router
    QVERIFY(!strip.tab(renamed.id));
    QCOMPARE(checkedTabs(strip, *m_controller), QList<std::optional<QUuid>> { std::nullopt });
}

void TestPanelTabStrip::activePanelSetElsewhereScrollsIntoTheMiddle()
{
    for (int i = 0; i < 12; ++i)
        m_controller->savePanel(
            makePanel(QStringLiteral("Remote production gallery %1").arg(i + 1), { i }, { 0 }));
    PanelTabStrip strip(*m_controller);
    strip.resize(420, strip.sizeHint().height());
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    QScrollBar *bar = strip.scrollArea()->horizontalScrollBar();
    QVERIFY(bar->maximum() > 0); // names are never truncated: the row scrolls
    QCOMPARE(bar->value(), 0);

    const SubPanel middle = m_controller->panels().at(8);
    m_controller->setActivePanelID(middle.id); // as a shortcut or the toolbar menu would
    // Measured again on every try: the active tab takes its width in the strong weight once
    // the row is laid out again, which on a loaded machine can take more than one turn.
    const auto middleOfRow = [&] {
        return strip.tab(middle.id)->geometry().center().x()
            - strip.scrollArea()->viewport()->width() / 2;
    };
    // At rest, not passing through on the way.
    const auto settledAt = [&](auto target) {
        const int value = bar->value();
        QTest::qWait(60);
        return bar->value() == value && value == target();
    };
    QTRY_VERIFY_WITH_TIMEOUT(settledAt(middleOfRow), 5000);
    QVERIFY(middleOfRow() > 0 && middleOfRow() < bar->maximum());

    const int scrolled = bar->value();
    m_controller->setActivePanelID(std::nullopt); // "All" is not in the scrolling part
    QTest::qWait(50);
    QCOMPARE(bar->value(), scrolled);

    m_controller->setActivePanelID(m_controller->panels().last().id);
    // As near the middle as the row allows.
    QTRY_VERIFY_WITH_TIMEOUT(settledAt([&] { return bar->maximum(); }), 5000);
}

void TestPanelTabStrip::underlineMovesOnTheSpring()
{
    SteppedAnimations clock;
    PanelTabStrip strip(*m_controller);
    strip.resize(600, strip.sizeHint().height());
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    // The underline's opacity, read at the middle of a tab's bottom edge.
    const auto underline = [](QAbstractButton *tab) {
        QImage image(tab->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        tab->render(&image, {}, {}, QWidget::DrawChildren);
        return image.pixelColor(image.width() / 2, image.height() - 1).alphaF();
    };
    QAbstractButton *all = strip.tab(std::nullopt);
    QAbstractButton *studio = strip.tab(m_panels.first().id);
    const qreal full = underline(all);
    QVERIFY(full > 0.9);
    QCOMPARE(underline(studio), 0.0);

    QTest::mouseClick(studio, Qt::LeftButton);
    clock.step(64);
    QVERIFY(underline(studio) > 0.05 && underline(studio) < full);
    QVERIFY(underline(all) > 0.05 && underline(all) < full);
    clock.settle();
    QCOMPARE(underline(studio), full);
    QCOMPARE(underline(all), 0.0);
}

QTEST_MAIN(TestPanelTabStrip)
#include "tst_paneltabstrip.moc"
