#include "PanelsRig.h"
#include "SteppedAnimations.h"
#include "Views/Panels/PanelEditor.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>

namespace {

// Sources and destinations whose labels and numbers both can match a filter of "3".
RouterState filterableState()
{
    RouterState state = makeState(14, 14);
    state.sources[6].label = QStringLiteral("Cam 3"); // port 7
    state.destinations[9].label = QStringLiteral("Mon 30"); // port 10
    return state;
}

// An editor shown on `panel`, and the widgets tests drive.
struct Editor
{
    Editor(RouterController &controller, const SubPanel &panel, bool isNew)
        : editor(controller, panel, isNew)
    {
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
    }

    QAbstractItemView *rows(const char *name) const
    {
        return child<QAbstractItemView>(const_cast<PanelEditor *>(&editor), name);
    }
    QPushButton *button(const char *name) const
    {
        return child<QPushButton>(const_cast<PanelEditor *>(&editor), name);
    }
    QString text(const char *name) const
    {
        return child<QLabel>(const_cast<PanelEditor *>(&editor), name)->text();
    }
    QPushButton *save() const { return button("saveButton"); }
    void search(const QString &text) { child<QLineEdit>(&editor, "searchField")->setText(text); }
    void typeName(const QString &text)
    {
        auto *field = child<QLineEdit>(&editor, "nameField");
        field->clear();
        QTest::keyClicks(field, text);
    }
    bool warns() const
    {
        return child<QWidget>(const_cast<PanelEditor *>(&editor), "missingWarning")->isVisible();
    }

    PanelEditor editor;
};

QStringList numbered(std::initializer_list<QString> texts)
{
    return QStringList(texts);
}

} // namespace

class TestPanelEditor final : public QObject
{
    Q_OBJECT

private slots:
    void normalisesStoredIndices();
    void disconnectedRouterKeepsMissingPorts();
    void singleMissingPort();
    void nameDecidesSavingAndIsTrimmed();
    void newPanelBecomesActive();
    void editedPanelLeavesActivePanel();
    void filterNarrowsAvailableOnly();
    void allAndNoneFollowFilter();
    void tapsAddInOrderAndRemove();
    void cancelLeavesStoreUntouched();
    void followsLiveLabels();
    void keyboardAddsAndRemoves();
    void rowsMoveToTheirPlacesOnTheSpring();
};

void TestPanelEditor::normalisesStoredIndices()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    rig.connectWith(makeState(8, 4));
    Editor e(controller, makePanel(QStringLiteral("Cams"), { 5, 2, 5 }, { 1 }), false);
    QCOMPARE(e.editor.windowTitle(), QStringLiteral("Edit Panel"));
    QCOMPARE(e.editor.size(), QSize(640, 640));
    QCOMPARE(rowTexts(e.rows("sourceChosen")),
             numbered({ QStringLiteral("Port 3: S3"), QStringLiteral("Port 6: S6") }));
    QCOMPARE(e.save()->text(), QStringLiteral("Save (2\u00d71)"));
    QCOMPARE(e.text("sourceAvailableTitle"), QStringLiteral("Available (6 of 8)"));
    QVERIFY(!e.warns());
}

void TestPanelEditor::disconnectedRouterKeepsMissingPorts()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    const SubPanel panel = makePanel(QStringLiteral("Away"), { 0, 1, 2 }, { 4, 5 });
    Editor e(controller, panel, true);
    QVERIFY(e.warns());
    QCOMPARE(e.text("missingWarningText"),
             QStringLiteral("5 saved ports not on this router \u2014 kept for when it returns."));
    QCOMPARE(rowTexts(e.rows("destinationChosen")),
             numbered({ QStringLiteral("Port 5 \u2014 not on this router"),
                        QStringLiteral("Port 6 \u2014 not on this router") }));
    QCOMPARE(e.rows("sourceChosen")->model()->rowCount(), 3);
    for (const char *axis : { "source", "destination" }) {
        const QByteArray name(axis);
        QCOMPARE(e.text((name + "AvailableTitle").constData()),
                 QStringLiteral("Available (0 of 0)"));
        QVERIFY(!e.button((name + "All").constData())->isVisible());
        QVERIFY(!e.button((name + "None").constData())->isVisible());
    }
    QVERIFY(e.save()->isEnabled());
    QTest::mouseClick(e.save(), Qt::LeftButton);
    QCOMPARE(controller.panels().size(), 1);
    QCOMPARE(controller.panels().first().sourceIndices, (QList<int> { 0, 1, 2 }));
    QCOMPARE(controller.panels().first().destinationIndices, (QList<int> { 4, 5 }));
}

void TestPanelEditor::singleMissingPort()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    rig.connectWith(makeState(4, 4));
    Editor e(controller, makePanel(QStringLiteral("Cams"), { 1, 9 }, { 0 }), false);
    QCOMPARE(e.editor.missingCount(), 1);
    QCOMPARE(e.text("missingWarningText"),
             QStringLiteral("1 saved port not on this router \u2014 kept for when it returns."));

    // Removing it by hand clears the warning.
    clickRow(e.rows("sourceChosen"), 1);
    QVERIFY(!e.warns());
    QCOMPARE(e.editor.panel().sourceIndices, (QList<int> { 1 }));
}

void TestPanelEditor::nameDecidesSavingAndIsTrimmed()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    rig.connectWith(makeState(4, 4));
    SubPanel draft = controller.newPanelDraft();
    Editor e(controller, draft, true);
    QCOMPARE(e.editor.windowTitle(), QStringLiteral("New Panel"));
    QVERIFY(!e.save()->isEnabled()); // no ports yet
    clickRow(e.rows("sourceAvailable"), 0);
    QVERIFY(!e.save()->isEnabled());
    clickRow(e.rows("destinationAvailable"), 2);
    QVERIFY(e.save()->isEnabled());
    QCOMPARE(e.save()->text(), QStringLiteral("Save (1\u00d71)"));

    e.typeName(QStringLiteral("   "));
    QVERIFY(!e.save()->isEnabled());
    QTest::keyClick(child<QLineEdit>(&e.editor, "nameField"), Qt::Key_Return);
    QVERIFY(controller.panels().isEmpty()); // Return does not save what cannot be saved

    e.typeName(QStringLiteral("  Studio B \t"));
    QVERIFY(e.save()->isEnabled());
    QTest::keyClick(child<QLineEdit>(&e.editor, "nameField"), Qt::Key_Return);
    QCOMPARE(controller.panels().size(), 1);
    QCOMPARE(controller.panels().first().name, QStringLiteral("Studio B"));
    QCOMPARE(controller.panels().first().id, draft.id);
    QVERIFY(!e.editor.isVisible());
}

void TestPanelEditor::newPanelBecomesActive()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    rig.connectWith(makeState(4, 4));
    const SubPanel draft = makePanel(QStringLiteral("New"), { 0 }, { 0 });
    Editor e(controller, draft, true);
    QTest::mouseClick(e.save(), Qt::LeftButton);
    QCOMPARE(controller.activePanelID(), std::optional(draft.id));
}

void TestPanelEditor::editedPanelLeavesActivePanel()
{
    ControllerRig rig;
    const SubPanel active = makePanel(QStringLiteral("On Air"), { 0 }, { 0 });
    const SubPanel other = makePanel(QStringLiteral("Prep"), { 1 }, { 1 });
    RouterController &controller = makeWithPanels(rig, { active, other });
    controller.setActivePanelID(active.id);
    rig.connectWith(makeState(4, 4));
    Editor e(controller, other, false);
    clickRow(e.rows("sourceAvailable"), 0); // adds source 1
    QTest::mouseClick(e.save(), Qt::LeftButton);
    QCOMPARE(controller.activePanelID(), std::optional(active.id));
    QCOMPARE(controller.panels().last().sourceIndices, (QList<int> { 0, 1 }));
}

void TestPanelEditor::filterNarrowsAvailableOnly()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    rig.connectWith(filterableState());
    Editor e(controller, makePanel(QStringLiteral("Cams"), { 0, 12 }, { 20 }), false);
    e.search(QStringLiteral("3"));
    // Port 3, "Cam 3" (port 7) and "S13" (port 13; chosen, so not available).
    QCOMPARE(rowTexts(e.rows("sourceAvailable")),
             numbered({ QStringLiteral("Port 3: S3"), QStringLiteral("Port 7: Cam 3") }));
    QCOMPARE(e.text("sourceAvailableTitle"), QStringLiteral("Available (2 of 14)"));
    QCOMPARE(rowTexts(e.rows("destinationAvailable")),
             numbered({ QStringLiteral("Port 3: D3"), QStringLiteral("Port 10: Mon 30"),
                        QStringLiteral("Port 13: D13") }));
    QCOMPARE(e.rows("sourceChosen")->model()->rowCount(), 2); // never filtered
    QCOMPARE(e.rows("destinationChosen")->model()->rowCount(), 1);

    // The number must match whole; labels ignore case; blanks are a filter of their own.
    e.search(QStringLiteral("7"));
    QCOMPARE(rowTexts(e.rows("sourceAvailable")), numbered({ QStringLiteral("Port 7: Cam 3") }));
    e.search(QStringLiteral("cam"));
    QCOMPARE(rowTexts(e.rows("sourceAvailable")), numbered({ QStringLiteral("Port 7: Cam 3") }));
    e.search(QStringLiteral(" "));
    QCOMPARE(rowTexts(e.rows("sourceAvailable")), numbered({ QStringLiteral("Port 7: Cam 3") }));
    e.search(QStringLiteral("03"));
    QVERIFY(rowTexts(e.rows("sourceAvailable")).isEmpty());
    QVERIFY(!e.button("sourceAll")->isVisible());
}

void TestPanelEditor::allAndNoneFollowFilter()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    rig.connectWith(filterableState());
    Editor e(controller, makePanel(QStringLiteral("Cams"), { 2, 4, 40 }, { 0 }), false);
    e.search(QStringLiteral("3"));
    QVERIFY(e.button("sourceNone")->isVisible()); // port 3 is chosen and passes
    QTest::mouseClick(e.button("sourceAll"), Qt::LeftButton);
    QCOMPARE(e.editor.panel().sourceIndices, (QList<int> { 2, 4, 6, 12, 40 }));

    QTest::mouseClick(e.button("sourceNone"), Qt::LeftButton);
    // Port 5 does not pass, port 41 is missing: both stay.
    QCOMPARE(e.editor.panel().sourceIndices, (QList<int> { 4, 40 }));
    QVERIFY(!e.button("sourceNone")->isVisible());

    e.search(QString());
    QVERIFY(e.button("sourceNone")->isVisible());
    QTest::mouseClick(e.button("sourceNone"), Qt::LeftButton);
    QCOMPARE(e.editor.panel().sourceIndices, (QList<int> { 40 }));
    QCOMPARE(e.editor.panel().destinationIndices, (QList<int> { 0 })); // the other axis stays
}

void TestPanelEditor::tapsAddInOrderAndRemove()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    rig.connectWith(makeState(6, 6));
    Editor e(controller, makePanel(QStringLiteral("Cams"), { 1, 4 }, { 0 }), false);
    QAbstractItemView *available = e.rows("destinationAvailable");
    QCOMPARE(rowTexts(available).first(), QStringLiteral("Port 2: D2"));
    clickRow(available, 3); // port 5
    clickRow(e.rows("sourceAvailable"), 1); // port 3, between the chosen 2 and 5
    QCOMPARE(e.editor.panel().sourceIndices, (QList<int> { 1, 2, 4 }));
    QCOMPARE(e.editor.panel().destinationIndices, (QList<int> { 0, 4 }));
    QCOMPARE(rowTexts(e.rows("sourceChosen")),
             numbered({ QStringLiteral("Port 2: S2"), QStringLiteral("Port 3: S3"),
                        QStringLiteral("Port 5: S5") }));
    clickRow(e.rows("sourceChosen"), 0);
    QCOMPARE(e.editor.panel().sourceIndices, (QList<int> { 2, 4 }));
    QCOMPARE(e.save()->text(), QStringLiteral("Save (2\u00d72)"));
}

void TestPanelEditor::cancelLeavesStoreUntouched()
{
    ControllerRig rig;
    const SubPanel stored = makePanel(QStringLiteral("Cams"), { 0 }, { 0 });
    RouterController &controller = makeWithPanels(rig, { stored });
    rig.connectWith(makeState(4, 4));
    Editor e(controller, stored, false);
    e.typeName(QStringLiteral("Changed"));
    clickRow(e.rows("sourceAvailable"), 0);
    QTest::mouseClick(e.button("cancelButton"), Qt::LeftButton);
    QVERIFY(!e.editor.isVisible());
    QCOMPARE(controller.panels(), QList<SubPanel> { stored });
    QCOMPARE(rig.panels.panels(rig.connection.id), QList<SubPanel> { stored });
}

void TestPanelEditor::followsLiveLabels()
{
    ControllerRig rig;
    RouterController &controller = rig.make();
    FakeRouterDriver &driver = rig.connectWith(makeState(2, 2));
    Editor e(controller, makePanel(QStringLiteral("Cams"), { 0, 3 }, { 0 }), false);
    QCOMPARE(e.editor.missingCount(), 1);

    controller.rename(PortKind::source, 0, QStringLiteral("<i>Camera</i>"));
    QCOMPARE(rowTexts(e.rows("sourceChosen")).first(), QStringLiteral("Port 1: <i>Camera</i>"));

    // The router comes back larger: the missing port is found again.
    driver.emitEvent(RouterDriverEvent::makeConnected(makeState(4, 4)));
    settleAll();
    QCOMPARE(e.editor.missingCount(), 0);
    QVERIFY(!e.warns());
    QCOMPARE(e.text("sourceAvailableTitle"), QStringLiteral("Available (2 of 4)"));
}

void TestPanelEditor::keyboardAddsAndRemoves()
{
    ControllerRig rig;
    const SubPanel stored = makePanel(QStringLiteral("Cams"), { 4 }, { 0 });
    RouterController &controller = makeWithPanels(rig, { stored });
    rig.connectWith(makeState(6, 6));
    Editor e(controller, stored, false);
    QAbstractItemView *available = e.rows("sourceAvailable");
    QAbstractItemView *chosen = e.rows("sourceChosen");
    QCOMPARE(available->focusPolicy(), Qt::TabFocus);
    e.editor.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&e.editor));

    available->setFocus(Qt::TabFocusReason);
    QCOMPARE(available->currentIndex().row(), 0);
    QTest::keyClick(available, Qt::Key_Down);
    QTest::keyClick(available, Qt::Key_Space); // port 2
    QCOMPARE(e.editor.panel().sourceIndices, (QList<int> { 1, 4 }));
    QCOMPARE(QApplication::focusWidget(), available);
    // The current row stays in its place, now on the next port; Return adds it too.
    QCOMPARE(available->currentIndex().data(Qt::AccessibleTextRole).toString(),
             QStringLiteral("Port 3: S3"));
    QTest::keyClick(available, Qt::Key_Return);
    QCOMPARE(e.editor.panel().sourceIndices, (QList<int> { 1, 2, 4 }));
    QVERIFY(e.editor.isVisible()); // Return added a port; it did not save the sheet
    QCOMPARE(controller.panels(), QList<SubPanel> { stored });

    chosen->setFocus(Qt::TabFocusReason);
    QTest::keyClick(chosen, Qt::Key_End);
    QTest::keyClick(chosen, Qt::Key_Delete); // port 5
    QTest::keyClick(chosen, Qt::Key_Backspace); // then port 3, now the last
    QCOMPARE(e.editor.panel().sourceIndices, (QList<int> { 1 }));
    QTest::keyClick(available, Qt::Key_Delete); // available ports are only added
    QCOMPARE(e.editor.panel().sourceIndices, (QList<int> { 1 }));
    // Emptied, a list held the keyboard unseen.
    chosen->setFocus(Qt::TabFocusReason);
    QTest::keyClick(chosen, Qt::Key_Delete);
    QVERIFY(QApplication::focusWidget() != chosen);
    QCOMPARE(chosen->focusPolicy(), Qt::NoFocus);
}

void TestPanelEditor::rowsMoveToTheirPlacesOnTheSpring()
{
    SteppedAnimations clock;
    ControllerRig rig;
    RouterController &controller = rig.make();
    rig.connectWith(makeState(6, 6));
    Editor e(controller, makePanel(QStringLiteral("Cams"), { 0, 4 }, { 0 }), false);
    QAbstractItemView *chosen = e.rows("sourceChosen");
    QAbstractItemView *available = e.rows("sourceAvailable");
    const int rowHeight = chosen->height() / 2;
    const auto rowOf = [](QAbstractItemView *view, int row) {
        return view->visualRect(view->model()->index(row, 0));
    };

    clickRow(available, 1); // port 3 goes between 1 and 5
    QCOMPARE(e.editor.panel().sourceIndices, (QList<int> { 0, 2, 4 }));
    clock.step(64);
    // Port 5 slides down one row, the list grows, and what moves is where it is drawn.
    const QRect sliding = rowOf(chosen, 2);
    QVERIFY2(sliding.top() > rowHeight && sliding.top() < 2 * rowHeight,
             qPrintable(QString::number(sliding.top())));
    QVERIFY(chosen->height() > 2 * rowHeight && chosen->height() < 3 * rowHeight);
    QCOMPARE(chosen->indexAt(sliding.center()).row(), 2);
    QVERIFY(available->height() < 4 * rowHeight && available->height() > 3 * rowHeight);
    clock.settle();
    QCOMPARE(rowOf(chosen, 2).top(), 2 * rowHeight);
    QCOMPARE(chosen->height(), 3 * rowHeight);
    QCOMPARE(available->height(), 3 * rowHeight);
}

QTEST_MAIN(TestPanelEditor)
#include "tst_paneleditor.moc"
