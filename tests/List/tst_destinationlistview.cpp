#include "ControllerRig.h"
#include "PopupMenus.h"
#include "SteppedAnimations.h"
#include "Theme/Controls.h"
#include "Theme/PaintedText.h"
#include "Views/List/DestinationListView.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPaintEvent>
#include <QSignalSpy>
#include <QStyleHints>
#include <QtTest>

#include <memory>

using Role = DestinationListView::RowRole;
using Badge = DestinationListView::RowBadge;
constexpr PortKind Src = PortKind::source;
constexpr PortKind Dst = PortKind::destination;

// Remembers what a viewport repainted.
class PaintRecorder final : public QObject
{
public:
    explicit PaintRecorder(QWidget *viewport) { viewport->installEventFilter(this); }
    QRegion painted;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent *>(event)->region();
        return false;
    }
};

// A list view over a connected controller, shown offscreen.
struct ListRig
{
    explicit ListRig(const RouterState &state = makeState(4, 4))
    {
        rig.make();
        driver = &rig.connectWith(state);
        view = std::make_unique<DestinationListView>(controller());
        view->resize(1000, 700);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    }

    // The controller focuses the first ports on connecting; most cases start from nothing.
    void clearSelection()
    {
        controller().setSelectedDestination(std::nullopt);
        controller().setSelectedSource(std::nullopt);
    }

    RouterController &controller() { return *rig.controller; }
    QListView *list(PortKind kind) const
    {
        return view->findChild<QListView *>(kind == PortKind::source ? "sources" : "destinations");
    }
    QWidget *pane(PortKind kind) const
    {
        return view->findChild<QWidget *>(kind == PortKind::source ? "sourcePane"
                                                                   : "destinationPane");
    }
    QVariant row(PortKind kind, int row, int role) const
    {
        QAbstractItemModel *model = list(kind)->model();
        return model->data(model->index(row, 0), role);
    }
    QString detail(PortKind kind, int r) const { return row(kind, r, Role::DetailRole).toString(); }
    bool current(PortKind kind, int r) const { return row(kind, r, Role::CurrentRole).toBool(); }
    bool pending(PortKind kind, int r) const { return row(kind, r, Role::PendingRole).toBool(); }
    Badge badge(int r) const { return Badge(row(Dst, r, Role::BadgeRole).toInt()); }

    QPoint centre(PortKind kind, int r) const
    {
        QListView *l = list(kind);
        return l->visualRect(l->model()->index(r, 0)).center();
    }

    // A single tap waits out the double-click interval (zero here) before it acts.
    void tap(PortKind kind, int r)
    {
        QTest::mouseClick(list(kind)->viewport(), Qt::LeftButton, {}, centre(kind, r));
        ControllerRig::settle();
    }
    void doubleTap(PortKind kind, int r)
    {
        QWidget *viewport = list(kind)->viewport();
        const QPoint at = centre(kind, r);
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
        ControllerRig::settle();
    }
    void tapBadge(int r)
    {
        QListView *l = list(PortKind::destination);
        const QRect item = l->visualRect(l->model()->index(r, 0));
        // The badge sits at the row's leading edge, after the list and row insets.
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {},
                          QPoint(item.left() + 10 + 10 + 15, item.center().y()));
        ControllerRig::settle();
    }

    // Opens the row's context menu and returns its items; triggers `choice` when given.
    QStringList menu(PortKind kind, int r, const QString &choice = {})
    {
        QListView *l = list(kind);
        const QPoint at = centre(kind, r);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, l->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(l->viewport(), &event);
        QStringList titles;
        QMenu *shown = PopupMenus::shownMenu();
        if (!shown)
            return titles;
        for (QAction *action : shown->actions())
            titles.append(action->text());
        // Chosen on its rectangle, as the operator does; otherwise the menu just closes.
        if (!PopupMenus::item(shown, choice) || !PopupMenus::choose(shown, choice, l))
            shown->close();
        ControllerRig::settle();
        return titles;
    }

    QList<QAbstractButton *> visibleButtons() const
    {
        QList<QAbstractButton *> found;
        for (auto *button : pane(Dst)->findChildren<QAbstractButton *>())
            if (button->isVisible())
                found.append(button);
        std::sort(found.begin(), found.end(), [](auto *a, auto *b) { return a->x() < b->x(); });
        return found;
    }
    QStringList buttons() const
    {
        QStringList labels;
        for (QAbstractButton *button : visibleButtons())
            labels.append(button->text());
        return labels;
    }
    void press(const QString &label)
    {
        for (QAbstractButton *button : visibleButtons()) {
            if (button->text() == label) {
                QTest::mouseClick(button, Qt::LeftButton);
                ControllerRig::settle();
                return;
            }
        }
        QFAIL(qPrintable(QStringLiteral("no button ") + label));
    }

    std::optional<QString> subtitle(PortKind kind) const
    {
        auto *label = pane(kind)->findChild<ElidedLabel *>("subtitle");
        if (!label->isVisible())
            return std::nullopt;
        return label->text();
    }
    QLabel *headerLabel(PortKind kind, const char *name) const
    {
        return pane(kind)->findChild<QLabel *>(name);
    }

    void route(int level, int destination, std::optional<int> source)
    {
        driver->emitEvent(RouterDriverEvent::makeRouteChanged(level, destination, source));
        ControllerRig::settle();
    }

    ControllerRig rig;
    FakeRouterDriver *driver = nullptr;
    std::unique_ptr<DestinationListView> view;
};

class tst_DestinationListView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QGuiApplication::styleHints()->setMouseDoubleClickInterval(0); }

    void destinationLedTakesAtOnceOrStages()
    {
        ListRig t;
        RouterController &c = t.controller();
        QCOMPARE(t.subtitle(Src), QStringLiteral("→ D1"));
        QVERIFY(t.current(Dst, 0));
        t.clearSelection();
        QCOMPARE(t.subtitle(Src), QStringLiteral("Select a destination"));
        QCOMPARE(t.subtitle(Dst), std::nullopt);
        QCOMPARE(t.buttons(), QStringList { "Multiple" });

        // Immediate: the destination is focused, the source pick routes it on the spot.
        t.tap(Dst, 1);
        QCOMPARE(c.selectedDestination(), 1);
        QVERIFY(t.current(Dst, 1));
        QCOMPARE(t.subtitle(Src), QStringLiteral("→ D2"));
        t.tap(Src, 2);
        QCOMPARE(c.state().source(1, 0), 2);
        QCOMPARE(t.rig.usage->takes, 1);
        QCOMPARE(t.detail(Dst, 1), QStringLiteral("S3"));
        QVERIFY(t.current(Src, 2)); // the routed source of the selected destination

        // Confirm: both picks are only staged; the source row is outlined, the destination too.
        c.setTakeMode(TakeMode::confirm);
        t.tap(Dst, 0);
        QCOMPARE(c.pendingDestination(), 0);
        QVERIFY(t.pending(Dst, 0));
        t.tap(Src, 3);
        QCOMPARE(c.pendingSource(), 3);
        QVERIFY(t.pending(Src, 3));
        QCOMPARE(c.state().source(0, 0), std::nullopt);
        QCOMPARE(t.rig.usage->takes, 1);
        c.confirmTake();
        ControllerRig::settle();
        QCOMPARE(c.state().source(0, 0), 3);
        QVERIFY(!t.pending(Src, 3));
    }

    void sourceLedTakesAtOnceOrStages()
    {
        ListRig t;
        RouterController &c = t.controller();
        c.setDirection(RoutingDirection::sourceLed);
        QCOMPARE(t.subtitle(Src), QStringLiteral("Sending S1"));
        t.clearSelection();
        QCOMPARE(t.subtitle(Src), QStringLiteral("Select a source"));
        QCOMPARE(t.subtitle(Dst), QStringLiteral("Pick a source first"));
        QCOMPARE(t.buttons(), QStringList { "Select All" });

        t.tap(Src, 1);
        QCOMPARE(c.selectedSource(), 1);
        QVERIFY(t.current(Src, 1));
        QCOMPARE(t.subtitle(Src), QStringLiteral("Sending S2"));
        QCOMPARE(t.subtitle(Dst), QStringLiteral("0 fed"));

        // Immediate: each destination tap routes the selected source there.
        t.tap(Dst, 2);
        t.tap(Dst, 3);
        QCOMPARE(c.state().source(2, 0), 1);
        QCOMPARE(c.state().source(3, 0), 1);
        QVERIFY(t.current(Dst, 2));
        QVERIFY(!t.current(Dst, 0));
        QCOMPARE(t.subtitle(Dst), QStringLiteral("2 fed"));

        // Confirm: taps toggle destinations in and out of the staged set.
        c.setTakeMode(TakeMode::confirm);
        t.tap(Dst, 0);
        t.tap(Dst, 1);
        t.tap(Dst, 0);
        QCOMPARE(c.pendingDestinations(), QSet<int> { 1 });
        QVERIFY(t.pending(Dst, 1));
        QVERIFY(!t.pending(Dst, 0));
        QVERIFY(!t.pending(Src, 1)); // source rows are never staged source-led
        QCOMPARE(c.state().source(1, 0), std::nullopt);
    }

    // A second tap on another row within the double-click interval used to replace the first.
    // The interval is long here, so only the next input can run a waiting tap.
    void quickTapsOnOtherRowsAllCount()
    {
        QStyleHints *hints = QGuiApplication::styleHints();
        hints->setMouseDoubleClickInterval(60000);
        const auto restore = qScopeGuard([hints] { hints->setMouseDoubleClickInterval(0); });
        ListRig t;
        RouterController &c = t.controller();
        const auto quick = [&t](PortKind kind, int r) {
            QTest::mouseClick(t.list(kind)->viewport(), Qt::LeftButton, {}, t.centre(kind, r), 150);
        };
        const auto nextKey = [&t] {
            QTest::keyClick(t.list(Src), Qt::Key_Shift);
        };

        // X-Y: a destination, then two sources; both takes go out.
        quick(Dst, 0);
        quick(Src, 1);
        quick(Src, 2);
        nextKey();
        QCOMPARE(t.rig.usage->takes, 2);
        QCOMPARE(c.state().source(0, 0), 2);
        c.setTakeMode(TakeMode::confirm);
        quick(Dst, 1);
        quick(Src, 3);
        nextKey();
        QCOMPARE(c.pendingDestination(), 1);
        QCOMPARE(c.pendingSource(), 3);

        // 1 → Many: a source, then two destinations; both are staged, or both routed.
        c.setDirection(RoutingDirection::sourceLed);
        quick(Src, 1);
        quick(Dst, 2);
        quick(Dst, 3);
        nextKey();
        QCOMPARE(c.pendingDestinations(), (QSet<int> { 2, 3 }));
        c.setTakeMode(TakeMode::immediate);
        quick(Src, 0);
        quick(Dst, 1);
        quick(Dst, 3);
        nextKey();
        QCOMPARE(c.state().source(1, 0), 0);
        QCOMPARE(c.state().source(3, 0), 0);
    }

    void sourceLedSelectAllAndLocks()
    {
        ListRig t;
        RouterController &c = t.controller();
        c.setDirection(RoutingDirection::sourceLed);
        t.clearSelection();

        // Without a selected source "Select All" does nothing at all.
        t.press("Select All");
        QCOMPARE(c.takeMode(), TakeMode::immediate);
        QVERIFY(c.pendingDestinations().isEmpty());

        c.toggleLock(2);
        ControllerRig::settle();
        t.tap(Src, 0);
        t.press("Select All");
        QCOMPARE(c.takeMode(), TakeMode::confirm);
        QCOMPARE(c.pendingDestinations(), (QSet<int> { 0, 1, 3 }));
        QVERIFY(!t.pending(Dst, 2));
        QCOMPARE(t.buttons(), QStringList { "Deselect All" });

        // A locked destination stages nothing when tapped.
        t.tap(Dst, 2);
        QCOMPARE(c.pendingDestinations(), (QSet<int> { 0, 1, 3 }));
        t.press("Deselect All");
        QVERIFY(!c.hasStaging());
        QCOMPARE(t.buttons(), QStringList { "Select All" });

        // Every destination locked: the header keeps "Select All", which stages nothing.
        for (int d : { 0, 1, 3 })
            c.toggleLock(d);
        ControllerRig::settle();
        c.setTakeMode(TakeMode::immediate);
        t.press("Select All");
        QCOMPARE(c.takeMode(), TakeMode::confirm);
        QVERIFY(c.pendingDestinations().isEmpty());
        QCOMPARE(t.buttons(), QStringList { "Select All" });
    }

    void multipleGangsAndDoneEndsIt()
    {
        ListRig t(makeState(4, 5));
        RouterController &c = t.controller();
        t.clearSelection();
        t.press("Multiple");
        QCOMPARE(c.takeMode(), TakeMode::confirm);
        QVERIFY(c.multiSelectMode());
        QCOMPARE(t.buttons(), (QStringList { "Select All", "Done" }));
        QCOMPARE(t.badge(0), Badge::add);

        t.tap(Dst, 0);
        t.tap(Dst, 2);
        t.tapBadge(4);
        QCOMPARE(c.selectedDestinations(), (QSet<int> { 0, 2, 4 }));
        for (int d : { 0, 2, 4 }) {
            QVERIFY(t.current(Dst, d));
            QCOMPARE(t.badge(d), Badge::remove);
        }
        QCOMPARE(t.badge(1), Badge::add);
        QCOMPARE(t.subtitle(Src), QStringLiteral("→ 3 destinations"));
        QCOMPARE(t.subtitle(Dst), QStringLiteral("3 selected"));

        // The source is staged for the gang: it is outlined, the gang rows stay current only.
        t.tap(Src, 1);
        QCOMPARE(c.pendingSource(), 1);
        QCOMPARE(c.pendingDestinations(), (QSet<int> { 0, 2, 4 }));
        QVERIFY(t.pending(Src, 1));
        for (int d : { 0, 2, 4 })
            QVERIFY(!t.pending(Dst, d));

        // The badge takes a destination out again; a gang of one is no gang.
        t.tapBadge(2);
        t.tapBadge(4);
        QVERIFY(c.selectedDestinations().isEmpty());
        QCOMPARE(c.selectedDestination(), 0);
        QCOMPARE(t.subtitle(Dst), std::nullopt);

        t.tapBadge(3);
        t.press("Done");
        QVERIFY(!c.multiSelectMode());
        QVERIFY(c.selectedDestinations().isEmpty());
        QVERIFY(!c.hasStaging());
        QCOMPARE(t.buttons(), QStringList { "Multiple" });
        QCOMPARE(t.badge(0), Badge::none);
        QCOMPARE(t.rig.usage->takes, 0);
    }

    void screenReadersHearTheRouteAndGangByTheBadge()
    {
        ListRig t(makeState(4, 5));
        RouterController &c = t.controller();
        t.clearSelection();
        t.route(0, 1, 2);
        QAccessibleInterface *rows = QAccessible::queryAccessibleInterface(t.list(Dst));
        QCOMPARE(rows->childCount(), 5);
        QCOMPARE(rows->child(1)->text(QAccessible::Name), QStringLiteral("2 D2, from S3"));
        QCOMPARE(rows->child(0)->text(QAccessible::Name), QStringLiteral("1 D1, no source"));
        QCOMPARE(rows->child(3)->childCount(), 0); // the badge is no target of its own yet

        t.press("Multiple");
        QAccessibleInterface *badge = rows->child(3)->child(0);
        QVERIFY(badge);
        QCOMPARE(badge->role(), QAccessible::CheckBox);
        QCOMPARE(badge->text(QAccessible::Name), QStringLiteral("Toggle D4 in selection"));
        QVERIFY(!badge->state().checked);
        rows->child(0)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        badge->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        ControllerRig::settle();
        QCOMPARE(c.selectedDestinations(), (QSet<int> { 0, 3 }));
        QVERIFY(badge->state().checked);
    }

    void gangSelectAllSkipsLockedAndFlipsToDeselect()
    {
        ListRig t;
        RouterController &c = t.controller();
        c.toggleLock(1);
        ControllerRig::settle();
        t.press("Multiple");
        t.press("Select All");
        QCOMPARE(c.selectedDestinations(), (QSet<int> { 0, 2, 3 }));
        QCOMPARE(t.buttons(), (QStringList { "Deselect All", "Done" }));
        t.press("Deselect All");
        QVERIFY(c.selectedDestinations().isEmpty());
        QCOMPARE(c.selectedDestination(), std::nullopt);
        QVERIFY(c.multiSelectMode());
        QCOMPARE(t.buttons(), (QStringList { "Select All", "Done" }));

        // "Multiple" in confirm mode keeps what is staged; from immediate mode it drops it.
        t.press("Done");
        t.tap(Dst, 2);
        t.tap(Src, 2);
        t.press("Multiple");
        QCOMPARE(c.pendingSource(), 2);
        QCOMPARE(c.pendingDestination(), 2);
        c._setMultiSelectMode(false);
        c.setTakeMode(TakeMode::immediate);
        c.setPendingSource(3);
        t.press("Multiple");
        QCOMPARE(c.pendingSource(), std::nullopt);
    }

    void lockMenuFollowsTheLock()
    {
        ListRig t;
        RouterController &c = t.controller();
        QCOMPARE(t.menu(Dst, 2, "Lock"), (QStringList { "Rename Destination…", "Lock" }));
        QVERIFY(c.state().isLocked(2));
        QCOMPARE(t.driver->count(FakeRouterDriver::Command::setLock), 1);
        QVERIFY(t.row(Dst, 2, Role::LockedRole).toBool());
        QCOMPARE(t.menu(Dst, 2, "Unlock"), (QStringList { "Rename Destination…", "Unlock" }));
        QVERIFY(!c.state().isLocked(2));

        // A lock reported by the router shows on its row; source rows have no lock.
        t.driver->emitEvent(RouterDriverEvent::makeLockChanged(3, true));
        ControllerRig::settle();
        QVERIFY(t.row(Dst, 3, Role::LockedRole).toBool());
        QVERIFY(!t.row(Src, 3, Role::LockedRole).toBool());

        // A take on the locked destination is refused by the controller, not the list.
        t.tap(Dst, 3);
        t.tap(Src, 0);
        QCOMPARE(c.state().source(3, 0), std::nullopt);
        QCOMPARE(c.lastError(), QStringLiteral("D4 is locked."));
    }

    void renameGoesToTheController()
    {
        ListRig t;
        RouterController &c = t.controller();
        // A double click renames and never routes first, even in immediate mode.
        t.tap(Dst, 0);
        t.doubleTap(Src, 2);
        QCOMPARE(c.renameTarget(), (PortRef { PortKind::source, 2 }));
        QCOMPARE(c.renameDraft(), QStringLiteral("S3"));
        QCOMPARE(c.state().source(0, 0), std::nullopt);
        QCOMPARE(t.rig.usage->takes, 0);

        c.setRenameTarget(std::nullopt);
        t.doubleTap(Dst, 3);
        QCOMPARE(c.renameTarget(), (PortRef { PortKind::destination, 3 }));
        QCOMPARE(c.selectedDestination(), 0);

        c.setRenameTarget(std::nullopt);
        QCOMPARE(t.menu(Src, 1, "Rename Source…"), QStringList { "Rename Source…" });
        QCOMPARE(c.renameTarget(), (PortRef { PortKind::source, 1 }));
        c.setRenameTarget(std::nullopt);
        t.menu(Dst, 1, "Rename Destination…");
        QCOMPARE(c.renameTarget(), (PortRef { PortKind::destination, 1 }));
        QCOMPARE(c.renameDraft(), QStringLiteral("D2"));

        // The renamed label reaches its row and the details that show it.
        t.route(0, 1, 1);
        c.setRenameDraft("Camera 2");
        c.commitRename();
        c.beginRename(Src, 1);
        c.setRenameDraft("VT <b>1</b>");
        c.commitRename();
        ControllerRig::settle();
        QCOMPARE(t.row(Dst, 1, Qt::DisplayRole).toString(), QStringLiteral("Camera 2"));
        QCOMPARE(t.detail(Dst, 1), QStringLiteral("VT <b>1</b>"));
    }

    void rowsFollowRouteChanges()
    {
        ListRig t(makeState(8, 1024, 2));
        RouterController &c = t.controller();
        QAbstractItemModel *destinations = t.list(Dst)->model();
        QAbstractItemModel *sources = t.list(Src)->model();
        QCOMPARE(destinations->rowCount(), 1024);
        QCOMPARE(t.detail(Dst, 700), QStringLiteral("—"));

        QSignalSpy changed(destinations, &QAbstractItemModel::dataChanged);
        QSignalSpy reset(destinations, &QAbstractItemModel::modelReset);
        QSignalSpy sourceChanged(sources, &QAbstractItemModel::dataChanged);
        t.route(0, 700, 5);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 700);
        QCOMPARE(changed.at(0).at(1).toModelIndex().row(), 700);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(sourceChanged.count(), 0);
        QCOMPARE(t.detail(Dst, 700), QStringLiteral("S6"));

        // Another level is not shown; a route there redraws nothing.
        changed.clear();
        t.route(1, 700, 2);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(t.detail(Dst, 700), QStringLiteral("S6"));

        // The selected destination's route moves the source pane's mark.
        t.tap(Dst, 700);
        QVERIFY(t.current(Src, 5));
        t.route(0, 700, 6);
        QVERIFY(!t.current(Src, 5));
        QVERIFY(t.current(Src, 6));

        // Source-led, the fed count follows the routes.
        c.setDirection(RoutingDirection::sourceLed);
        t.tap(Src, 6);
        QCOMPARE(t.subtitle(Dst), QStringLiteral("1 fed"));
        t.route(0, 3, 6);
        QCOMPARE(t.subtitle(Dst), QStringLiteral("2 fed"));
        QVERIFY(t.current(Dst, 3));
        t.route(0, 3, std::nullopt);
        QCOMPARE(t.subtitle(Dst), QStringLiteral("1 fed"));
        QCOMPARE(t.detail(Dst, 3), QStringLiteral("—"));

        // The primary level decides what the rows show.
        c.setPrimaryLevel(1);
        QCOMPARE(t.detail(Dst, 700), QStringLiteral("S3"));
    }

    void takeToManyShowsEveryRoute()
    {
        // One confirmed take to every destination on two levels reaches the views as one
        // change of state, and every row shows its new route.
        ListRig t(makeState(8, 300, 2));
        RouterController &c = t.controller();
        c.setDirection(RoutingDirection::sourceLed);
        t.tap(Src, 5);
        t.press("Select All");
        QSignalSpy states(&c, &RouterController::stateChanged);
        QSignalSpy routes(&c, &RouterController::routeChanged);
        c.confirmTake();
        QCOMPARE(states.count(), 1);
        QCOMPARE(routes.count(), 600);
        for (int d = 0; d < 300; ++d)
            QCOMPARE(t.detail(Dst, d), QStringLiteral("S6"));
        QCOMPARE(t.subtitle(Dst), QStringLiteral("300 fed"));
        QCOMPARE(c.state().source(299, 1), std::optional<int>(5));
    }

    void sourceDetailsShowSignalState()
    {
        RouterState state = makeState(4, 2);
        state.inputStatus.insert(1, InputSignalStatus { false, std::nullopt });
        state.inputStatus.insert(2, InputSignalStatus { true, QStringLiteral("1080p50") });
        state.inputStatus.insert(3, InputSignalStatus { true, std::nullopt });
        ListRig t(state);
        QVERIFY(t.row(Src, 0, Role::DetailRole).isNull());
        QCOMPARE(t.detail(Src, 1), QStringLiteral("No signal"));
        QCOMPARE(t.detail(Src, 2), QStringLiteral("1080p50"));
        QCOMPARE(t.detail(Src, 3), QStringLiteral("Signal present"));

        t.driver->emitEvent(
            RouterDriverEvent::makeInputStatusChanged(0, InputSignalStatus { true, {} }));
        ControllerRig::settle();
        QCOMPARE(t.detail(Src, 0), QStringLiteral("Signal present"));
    }

    void outOfRangeIndicesFallBack()
    {
        ListRig t;
        RouterController &c = t.controller();
        t.route(0, 0, 9); // a source the router does not list
        QCOMPARE(t.detail(Dst, 0), QStringLiteral("—"));

        c.setDirection(RoutingDirection::sourceLed);
        c.setSelectedSource(9);
        QCOMPARE(t.subtitle(Src), QStringLiteral("Select a source"));
        QCOMPARE(t.subtitle(Dst), QStringLiteral("Pick a source first"));
        QVERIFY(t.current(Dst, 0)); // routed to the selected index all the same

        c.setDirection(RoutingDirection::destinationLed);
        c.setSelectedDestination(12);
        QCOMPARE(t.subtitle(Src), QStringLiteral("Select a destination"));
    }

    void panelRowsCarryPortIndices()
    {
        ListRig t(makeState(6, 6));
        RouterController &c = t.controller();
        SubPanel panel = makePanel("Studio", { 5, 1 }, { 4, 2 });
        c.savePanel(panel);
        QSignalSpy reset(t.list(Dst)->model(), &QAbstractItemModel::modelReset);
        c.setActivePanelID(panel.id);
        ControllerRig::settle();
        QCOMPARE(reset.count(), 1);
        QCOMPARE(t.list(Dst)->model()->rowCount(), 2);
        QCOMPARE(t.headerLabel(Src, "count")->text(), QStringLiteral("2"));

        // Rows are in the panel's order (sorted by the controller); taps name the port index.
        QCOMPARE(t.row(Dst, 0, Role::NumberRole).toInt(), 3);
        t.tap(Dst, 1);
        QCOMPARE(c.selectedDestination(), 4);
        t.tap(Src, 1);
        QCOMPARE(c.state().source(4, 0), 5);

        // A label change with the same ports redraws rows instead of resetting the list.
        t.driver->emitEvent(RouterDriverEvent::makeLabelChanged(Src, 5, "Cam 6"));
        ControllerRig::settle();
        QCOMPARE(reset.count(), 1);
        QCOMPARE(t.row(Src, 1, Qt::DisplayRole).toString(), QStringLiteral("Cam 6"));
        QCOMPARE(t.detail(Dst, 1), QStringLiteral("Cam 6"));
    }

    void narrowHeaderDropsCountThenTitle()
    {
        ListRig t;
        t.controller().setDirection(RoutingDirection::sourceLed);
        QLabel *title = t.headerLabel(Dst, "title");
        QLabel *count = t.headerLabel(Dst, "count");
        QCOMPARE(count->text(), QStringLiteral("4"));

        QStringList states;
        for (int width = 1000; width >= 300; width -= 10) {
            t.view->resize(width, 700);
            QCoreApplication::processEvents();
            const QString state
                = QStringLiteral("%1%2").arg(title->isVisible()).arg(count->isVisible());
            if (states.isEmpty() || states.last() != state)
                states.append(state);
        }
        QCOMPARE(states, (QStringList { "11", "10", "00" }));
        // With the title gone the buttons show symbols only, still named for what they do.
        QCOMPARE(t.buttons(), QStringList { "Select All" });
    }

    void emptyRouterShowsZero()
    {
        ListRig t(makeState(0, 0));
        QCOMPARE(t.headerLabel(Src, "count")->text(), QStringLiteral("0"));
        QCOMPARE(t.headerLabel(Dst, "count")->text(), QStringLiteral("0"));
        QCOMPARE(t.subtitle(Src), QStringLiteral("Select a destination"));
        t.press("Multiple");
        t.press("Select All"); // nothing to gang: stays offered
        QCOMPARE(t.buttons(), (QStringList { "Select All", "Done" }));
    }

    void numbersFrom1000DrawWhole()
    {
        // Four-digit numbers used to spill out of a badge sized for three.
        ListRig t(makeState(4, 4096));
        QListView *destinations = t.list(Dst);
        destinations->scrollToBottom();
        PaintedText::resetElided();
        destinations->viewport()->grab();
        QVERIFY(destinations->indexAt(QPoint(40, destinations->viewport()->height() - 140))
                    .data(Role::NumberRole)
                    .toInt()
                > 4000);
        QCOMPARE(PaintedText::elidedTexts(), QStringList());
    }

    void marksMoveOnTheSpringAndRepaintOnlyTheirRows()
    {
        SteppedAnimations clock;
        ListRig t(makeState(12, 12));
        t.clearSelection();
        ControllerRig::settle();
        clock.settle();
        QListView *destinations = t.list(Dst);
        PaintRecorder recorder(destinations->viewport());
        const auto rowRect = [&](int r) {
            return destinations->visualRect(destinations->model()->index(r, 0));
        };
        const auto badge = [&](int r) {
            const QRect row = rowRect(r);
            return destinations->viewport()->grab(row).toImage().pixelColor(22, row.height() / 2);
        };
        const QColor resting = badge(5);

        t.tap(Dst, 5); // becomes current: its fill and badge spring in
        recorder.painted = QRegion();
        clock.step(48);
        QVERIFY(!recorder.painted.isEmpty());
        QVERIFY((recorder.painted - rowRect(5)).isEmpty());
        const QColor partway = badge(5);
        clock.settle();
        const QColor current = badge(5);
        QVERIFY(partway != resting && partway != current);
        recorder.painted = QRegion();
        clock.step(200);
        QVERIFY(recorder.painted.isEmpty()); // at rest

        // A panel change fades the rows of the new panel in.
        const SubPanel panel = makePanel(QStringLiteral("Half"), { 0, 1 }, { 5, 6 });
        t.controller().savePanel(panel);
        t.controller().setActivePanelID(panel.id);
        ControllerRig::settle();
        clock.step(32);
        QVERIFY(badge(0) != current);
        clock.settle();
        QCOMPARE(badge(0), current); // port 6, still current, fully shown
    }
};

QTEST_MAIN(tst_DestinationListView)
#include "tst_destinationlistview.moc"
