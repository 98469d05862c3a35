#include "App/ContentView.h"
#include "ControllerRig.h"
#include "Controllers/ConnectionStore.h"
#include "FakeRouterDriver.h"
#include "FakeServiceBrowser.h"
#include "PopupMenus.h"
#include "Theme/FocusOrder.h"
#include "Theme/Theme.h"
#include "Views/Matrix/CrosspointMatrixView.h"
#include "Views/Panels/PanelEditor.h"
#include "Views/Salvos/SalvoRow.h"
#include "Views/Shell/RouterSidebar.h"
#include "Views/Workspace/QuorvelView.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QListWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

// How a focused widget is named in the walks: its object name, else what it says.
QString nameOf(const QWidget *widget)
{
    if (!widget)
        return QStringLiteral("<none>");
    if (!widget->objectName().isEmpty())
        return widget->objectName();
    if (!widget->accessibleName().isEmpty())
        return widget->accessibleName();
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    return QString::fromLatin1(widget->metaObject()->className());
}

// Every control of `window` that Tab may land on now.
QSet<QWidget *> reachable(QWidget *window)
{
    QSet<QWidget *> set;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if ((w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() && w->isVisible()
            && w->isEnabled() && w->window() == window)
            set.insert(w);
    }
    return set;
}

// The stops of a walk: the controls Tab landed on (or whose child, such as an item view's
// editor, took the focus), a control once however many of its children took it in a row.
struct Walk
{
    QList<QPointer<QWidget>> stops;
    QStringList names;
    QList<QImage> focusedLooks; // each stop as drawn with the keyboard on it
    bool leftWindow = false;
};

// Presses Tab (Shift+Tab backwards) from `start` until the focus comes back to it.
Walk walk(QWidget *start, bool forward = true, int limit = 300)
{
    const QSet<QWidget *> controls = reachable(start->window());
    Walk result;
    start->setFocus(Qt::OtherFocusReason);
    for (int i = 0; i < limit; ++i) {
        QWidget *focused = QApplication::focusWidget();
        if (!focused || focused->window() != start->window()) {
            result.leftWindow = true;
            break;
        }
        QWidget *control = focused;
        while (control && !controls.contains(control))
            control = control->parentWidget();
        if (i > 0 && control == start) {
            // Now reached by Tab, as the others were.
            result.focusedLooks.first() = start->grab().toImage();
            break;
        }
        if (control && (result.stops.isEmpty() || result.stops.last() != control)) {
            result.stops.append(control);
            result.names.append(nameOf(control));
            result.focusedLooks.append(control->grab().toImage());
        }
        // Shift+Tab arrives as Backtab, as from a real keyboard.
        QTest::keyClick(focused, forward ? Qt::Key_Tab : Qt::Key_Backtab,
                        forward ? Qt::NoModifier : Qt::ShiftModifier);
    }
    return result;
}

// A forward walk from `start` stays in its window and reaches every control once; the
// backward walk reaches them in the opposite order.
void checkRoundTrip(QWidget *start, const Walk &forward)
{
    QVERIFY(!forward.leftWindow);
    // Every stop shows that it has the keyboard.
    QStringList unseen;
    QWidget *focused = QApplication::focusWidget();
    focused->clearFocus();
    for (qsizetype i = 0; i < forward.stops.size(); ++i) {
        if (forward.stops.at(i)
            && forward.stops.at(i)->grab().toImage() == forward.focusedLooks.at(i))
            unseen.append(forward.names.at(i));
    }
    focused->setFocus(Qt::TabFocusReason);
    QVERIFY2(unseen.isEmpty(), qPrintable(QStringLiteral("no ring: ") + unseen.join(u',')));
    const QSet<QWidget *> visited(forward.stops.cbegin(), forward.stops.cend());
    QCOMPARE(visited.size(), forward.stops.size());
    QCOMPARE(visited, reachable(start->window()));
    Walk backward = walk(start, false);
    QVERIFY(!backward.leftWindow);
    std::reverse(backward.names.begin() + 1, backward.names.end());
    QCOMPARE(backward.names, forward.names);
}

struct StoreRig
{
    QTemporaryDir dir;
    FakeDriverMaker drivers;
    std::unique_ptr<ConnectionStore> store;
    FakeServiceBrowsers m_browsers;

    StoreRig()
    {
        ConnectionStore::Options o;
        o.connectionsPath = dir.filePath(QStringLiteral("connections.json"));
        o.labelsPath = dir.filePath(QStringLiteral("labels.json"));
        o.salvosPath = dir.filePath(QStringLiteral("salvos.json"));
        o.panelsPath = dir.filePath(QStringLiteral("panels.json"));
        o.driverMaker = drivers.maker();
        o.usage = {};
        o.launchPollInterval = 1ms;
        QJsonArray array;
        for (int i = 0; i < 2; ++i) {
            RouterConnection c;
            c.name = QStringLiteral("Router %1").arg(i + 1);
            c.vendor = RouterVendor::blackmagicVideohub;
            c.host = QStringLiteral("127.0.0.1");
            c.port = 9990;
            array.append(c.toJson());
        }
        QFile file(o.connectionsPath);
        if (file.open(QIODevice::WriteOnly))
            file.write(QJsonDocument(array).toJson());
        file.close();
        store = std::make_unique<ConnectionStore>(o);
    }

    // The main window's content on the first router, online with two levels, a panel and
    // a salvo, so every part of the workspace shows.
    std::unique_ptr<ContentView> showOnline()
    {
        // The router editor browses nothing real.
        RouterEditor::Options editor;
        editor.browserFactory = m_browsers.factory();
        editor.resolver = [](const RouterDiscovery::Device &, double, QObject *,
                             RouterDiscovery::ResolveCompletion) {
        };
        auto view = std::make_unique<ContentView>(*store, editor);
        view->resize(1180, 760);
        view->show();
        view->activateWindow();
        if (!QTest::qWaitForWindowActive(view.get()))
            qWarning("not active");
        RouterController &controller = *view->workspace()->controller();
        if (!QTest::qWaitFor(
                [&] { return controller.status().kind() == ConnectionStatus::connecting; }))
            qWarning("not connecting");
        // The launch connect dials every saved router.
        RouterState state = makeState(4, 4, 2);
        state.routing[0] = { { 0, 1 }, { 1, 0 } };
        for (const auto &driver : drivers.made())
            driver->emitEvent(RouterDriverEvent::makeConnected(state));
        if (!QTest::qWaitFor([&] { return controller.status().isConnected(); }))
            return nullptr;
        controller.savePanel(makePanel(QStringLiteral("Cams"), { 0, 1 }, { 0, 1 }));
        controller.setActivePanelID({});
        controller.saveSalvo(QStringLiteral("Opening"), std::nullopt);
        ControllerRig::settle();
        return view;
    }
};

// The part of the main window a control belongs to, in reading order.
int partOf(const QWidget *widget)
{
    static const char *const parts[]
        = { "RouterSidebar", "workspaceToolbar",    "RoutingModeCluster", "PanelTabStrip",
            "SalvoStrip",    "DestinationListView", "ControlBar" };
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        if (w->inherits("DeviceHeader"))
            return 2;
        if (w->inherits("CrosspointMatrixView"))
            return 5;
        for (int part = 0; part < int(std::size(parts)); ++part) {
            if (w->inherits(parts[part]) || w->objectName() == QLatin1String(parts[part]))
                return part;
        }
    }
    return -1;
}

// The main window's walk from its first control: every part in reading order, each once.
void checkMainWindow(ContentView &view)
{
    QWidget *add = view.sidebar()->findChild<QWidget *>(QStringLiteral("addRouter"));
    const Walk forward = walk(add);
    QList<int> parts;
    for (const QWidget *w : forward.stops) {
        if (parts.isEmpty() || parts.last() != partOf(w))
            parts.append(partOf(w));
    }
    QCOMPARE(parts, QList<int>({ 0, 1, 2, 3, 4, 5, 6 }));
    // Within a part, controls side by side are reached from left to right.
    for (qsizetype i = 1; i < forward.stops.size(); ++i) {
        const QWidget *a = forward.stops.at(i - 1), *b = forward.stops.at(i);
        const QPoint pa = a->mapToGlobal(QPoint()), pb = b->mapToGlobal(QPoint());
        const bool sideBySide = pa.y() < pb.y() + b->height() && pb.y() < pa.y() + a->height();
        QVERIFY2(
            partOf(a) != partOf(b) || !sideBySide || pa.x() < pb.x(),
            qPrintable(forward.names.at(i - 1) + QStringLiteral(" before ") + forward.names.at(i)));
    }
    checkRoundTrip(add, forward);
}

QWidget *openSheet()
{
    ControllerRig::settle();
    QWidget *sheet = QApplication::activeModalWidget();
    if (sheet && !QTest::qWaitForWindowActive(sheet))
        return nullptr;
    ControllerRig::settle();
    return sheet;
}

// A sheet's walk from its first control; stays in it and reaches each control once.
QStringList checkSheet(QWidget *sheet)
{
    const QList<QWidget *> chain = FocusOrder::readingOrder(sheet);
    const auto first = std::find_if(chain.cbegin(), chain.cend(),
                                    [](QWidget *w) { return w->isVisible() && w->isEnabled(); });
    if (first == chain.cend())
        return {};
    const Walk forward = walk(*first);
    checkRoundTrip(*first, forward);
    return forward.names;
}

void clickRow(QAbstractItemView *list, int row)
{
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(row, 0)).center());
}

} // namespace

class TestKeyboardWalk : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Theme::installApplicationLook(); } // its style draws the rings
    void mainWindowReadsInOrder();
    void arrowsStayInTheClickedRoutingView();
    void arrowsChangeEveryPicker();
    void matrixMenusOpenWhereTheKeyboardIs();
    void sheetsKeepTheKeyboardInside();
    void sheetsOpenedByKeyShowTheFocus();
    void returnOpensTheFocusedPanel();
    void salvoManagerKeepsTheFocusedRow();
};

void TestKeyboardWalk::mainWindowReadsInOrder()
{
    StoreRig rig;
    auto view = rig.showOnline();
    QVERIFY(view);
    checkMainWindow(*view);

    // Rebuilt parts keep their place: another view mode, level, panel and router.
    RouterController &controller = *view->workspace()->controller();
    controller.setPrimaryLevel(1); // the picker's tab stop moves to its second segment
    controller.setViewMode(RouteViewMode::list);
    controller.setTakeMode(TakeMode::confirm); // with Clear and Take in the control bar
    controller.focusDestination(1);
    controller.chooseSource(2);
    ControllerRig::settle();
    checkMainWindow(*view);
    controller.setActivePanelID(controller.panels().first().id);
    controller.savePanel(makePanel(QStringLiteral("Desk"), { 2 }, { 2 }));
    ControllerRig::settle();
    checkMainWindow(*view);

    rig.store->setSelectedConnectionID(rig.store->connections().at(1).id);
    RouterController &second = *view->workspace()->controller();
    QTRY_VERIFY(second.status().isConnected());
    second.savePanel(makePanel(QStringLiteral("Floor"), { 0 }, { 0 }));
    second.saveSalvo(QStringLiteral("Close"), std::nullopt);
    ControllerRig::settle();
    checkMainWindow(*view);
}

void TestKeyboardWalk::arrowsStayInTheClickedRoutingView()
{
    StoreRig rig;
    auto view = rig.showOnline();
    QVERIFY(view);
    RouterController &controller = *view->workspace()->controller();
    QListWidget *routers = view->sidebar()->list();
    const auto router = rig.store->selectedConnectionID();

    auto *matrix = view->findChild<CrosspointMatrixView *>();
    // The left and top sides of a crosspoint in the keyboard ring's colour, `out` pixels off.
    const auto ring = [matrix](int column, int row, int out) {
        const QImage image = matrix->viewport()->grab().toImage();
        const QRect r = matrix->cellRect(column, row).adjusted(-out, -out, out, out);
        return int(image.pixelColor(r.left(), r.center().y()) == Theme::focusRing())
            + int(image.pixelColor(r.center().x(), r.top()) == Theme::focusRing());
    };
    routers->setFocus();
    QTest::mouseClick(matrix->viewport(), Qt::LeftButton, {}, matrix->cellRect(1, 1).center());
    QCOMPARE(QApplication::focusWidget(), matrix);
    QCOMPARE(ring(1, 1, 3), 0); // a click shows no keyboard ring
    QTest::keyClick(matrix, Qt::Key_Down);
    QCOMPARE(rig.store->selectedConnectionID(), router);
    // The arrows walk the crosspoints; Space routes the one they are on.
    QCOMPARE(matrix->keyboardCell(), std::optional<QPoint>(QPoint(1, 2)));
    QTest::keyClick(matrix, Qt::Key_Space);
    QCOMPARE(controller.state().source(2, 0), std::optional<int>(1));
    // The keys show the ring, apart from a connected crosspoint's fill of the same blue; the
    // next click hides it.
    QCOMPARE(ring(1, 2, 3), 2);
    QCOMPARE(ring(1, 2, 1), 0);
    QTest::mouseClick(matrix->viewport(), Qt::LeftButton, {}, matrix->cellRect(3, 3).center());
    QCOMPARE(ring(3, 3, 3), 0);

    controller.setViewMode(RouteViewMode::list);
    ControllerRig::settle();
    for (const char *pane : { "sources", "destinations" }) {
        auto *list = view->findChild<QAbstractItemView *>(QLatin1String(pane));
        routers->setFocus();
        clickRow(list, 0);
        QCOMPARE(QApplication::focusWidget(), list);
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(rig.store->selectedConnectionID(), router);
        QCOMPARE(list->currentIndex().row(), 1);
    }
    // Space taps the keyboard's row.
    QTRY_COMPARE(controller.selectedDestination(), std::optional<int>(0));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QCOMPARE(controller.selectedDestination(), std::optional<int>(1));

    // A header button replaced by its own action hands the keyboard to its successor.
    QAbstractButton *multiple = nullptr;
    for (QAbstractButton *button : view->findChildren<QAbstractButton *>())
        multiple = button->text() == QLatin1String("Multiple") ? button : multiple;
    QVERIFY(multiple);
    multiple->setFocus(Qt::TabFocusReason);
    QTest::keyClick(multiple, Qt::Key_Space);
    QVERIFY(controller.multiSelectMode());
    QCOMPARE(nameOf(QApplication::focusWidget()), QStringLiteral("Select All"));
}

// Tab skipped the unchosen segments and the arrows left the picker, so direction and level
// could not be changed, nor Take turned back to Direct.
void TestKeyboardWalk::arrowsChangeEveryPicker()
{
    StoreRig rig;
    auto view = rig.showOnline();
    QVERIFY(view);
    RouterController &c = *view->workspace()->controller();
    c.setViewMode(RouteViewMode::list);
    ControllerRig::settle();
    const auto check = [&](const char *picker, const std::function<int()> &value) {
        QWidget *start = view->sidebar()->findChild<QWidget *>(QStringLiteral("addRouter"));
        start->setFocus(Qt::TabFocusReason);
        QWidget *inside = nullptr;
        for (int i = 0; i < 100 && !inside; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget *f = QApplication::focusWidget();
            inside = f && f->parentWidget()->objectName() == QLatin1String(picker) ? f : nullptr;
        }
        QVERIFY2(inside, picker);
        for (const auto &[key, expected] : { std::pair { Qt::Key_Right, 1 },
                                             { Qt::Key_Right, 1 },
                                             { Qt::Key_Left, 0 },
                                             { Qt::Key_Left, 0 } }) {
            QTest::keyClick(QApplication::focusWidget(), key);
            ControllerRig::settle();
            QCOMPARE(value(), expected);
            QCOMPARE(QApplication::focusWidget()->parentWidget()->objectName(), picker);
        }
    };
    check("takeModePicker", [&] { return int(c.takeMode()); });
    check("directionPicker", [&] { return int(c.routingDirection()); });
    check("levelPicker", [&] { return c.primaryLevel(); });
}

void TestKeyboardWalk::matrixMenusOpenWhereTheKeyboardIs()
{
    StoreRig rig;
    auto view = rig.showOnline();
    QVERIFY(view);
    RouterController &controller = *view->workspace()->controller();
    auto *matrix = view->findChild<CrosspointMatrixView *>();
    matrix->setFocus(Qt::TabFocusReason);
    QCOMPARE(matrix->keyboardCell(), std::optional<QPoint>(QPoint(0, 0)));
    const auto menuBelow = [&](QMenu *menu, const QRect &target) {
        QVERIFY(menu);
        const QPoint corner = menu->geometry().topLeft();
        QVERIFY2(
            std::abs(corner.x() - matrix->viewport()->mapToGlobal(target.topLeft()).x()) <= 4
                && std::abs(corner.y() - matrix->viewport()->mapToGlobal(target.bottomLeft()).y())
                    <= 6,
            "the menu opens away from what it acts on");
    };

    // The menu key on a crosspoint: its destination's menu, beside it; Lock locks that one.
    QMenu *menu = PopupMenus::keyboardMenu(matrix);
    menuBelow(menu, matrix->cellRect(0, 0));
    QVERIFY(PopupMenus::item(menu, QStringLiteral("Rename Destination\u2026")));
    QVERIFY(PopupMenus::choose(menu, QStringLiteral("Lock"), matrix));
    QVERIFY(controller.state().isLocked(0));

    // Left of the first crosspoint, the row's header; Shift+F10 opens its menu.
    QTest::keyClick(matrix, Qt::Key_Down);
    QTest::keyClick(matrix, Qt::Key_Left);
    QCOMPARE(matrix->keyboardCell(), std::optional<QPoint>(QPoint(-1, 1)));
    QTest::keyClick(matrix, Qt::Key_F10, Qt::ShiftModifier);
    menu = PopupMenus::shownMenu();
    menuBelow(menu, matrix->destinationHeaderRect(1));
    QVERIFY(PopupMenus::choose(menu, QStringLiteral("Rename Destination\u2026"), matrix));
    QCOMPARE(controller.renameTarget(), std::optional(PortRef { PortKind::destination, 1 }));
    controller.setRenameTarget(std::nullopt);
    ControllerRig::settle();

    // Above the first row, the source headers.
    matrix->setFocus(Qt::OtherFocusReason);
    for (const Qt::Key key : { Qt::Key_Right, Qt::Key_Right, Qt::Key_Up, Qt::Key_Up, Qt::Key_Up })
        QTest::keyClick(matrix, key);
    QCOMPARE(matrix->keyboardCell(), std::optional<QPoint>(QPoint(1, -1)));
    menu = PopupMenus::keyboardMenu(matrix);
    menuBelow(menu, matrix->sourceHeaderRect(1));
    QVERIFY(PopupMenus::choose(menu, QStringLiteral("Rename Source\u2026"), matrix));
    QCOMPARE(controller.renameTarget(), std::optional(PortRef { PortKind::source, 1 }));
}

void TestKeyboardWalk::sheetsKeepTheKeyboardInside()
{
    StoreRig rig;
    auto view = rig.showOnline();
    QVERIFY(view);
    QuorvelView &workspace = *view->workspace();
    RouterController &controller = *workspace.controller();
    const auto walkAndClose = [](QWidget *sheet) {
        QVERIFY(sheet);
        QVERIFY(!checkSheet(sheet).isEmpty());
        sheet->close();
        ControllerRig::settle();
    };

    workspace.showSalvos();
    QWidget *salvos = openSheet();
    // The sheets it opens in turn: the name of a new salvo and the fire confirmation.
    for (const char *button : { "newSalvoToolbarButton", "fireButton" }) {
        salvos->findChild<QAbstractButton *>(QLatin1String(button))->click();
        walkAndClose(openSheet());
        salvos->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(salvos));
    }
    // The salvo matches the routing, so it has nothing to update.
    QCOMPARE(checkSheet(salvos),
             QStringList({ "newSalvoToolbarButton", "salvoRow", "fireButton", "newSalvoRowButton",
                           "doneButton" }));
    walkAndClose(salvos);
    workspace.showPanels();
    walkAndClose(openSheet());
    workspace.editPanel(controller.panels().first());
    walkAndClose(openSheet());
    workspace.showLabels();
    QWidget *labels = openSheet();
    QVERIFY(labels);
    labels->findChild<QAbstractButton *>(QStringLiteral("pasteButton"))->click();
    walkAndClose(openSheet());
    labels->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(labels));
    walkAndClose(labels);
    view->presentEditor(rig.store->connections().first());
    walkAndClose(openSheet());
}

// A sheet's first focus drew no ring, however the sheet was opened. By the pointer, it draws
// none still.
void TestKeyboardWalk::sheetsOpenedByKeyShowTheFocus()
{
    StoreRig rig;
    auto view = rig.showOnline();
    QVERIFY(view);
    for (const char *name : { "labelsButton", "salvosButton" }) {
        auto *button = view->findChild<QAbstractButton *>(QLatin1String(name));
        QList<QImage> looks;
        for (const bool byKey : { true, false }) {
            button->setFocus(Qt::TabFocusReason);
            byKey ? QTest::keyClick(button, Qt::Key_Space)
                  : QTest::mouseClick(button, Qt::LeftButton);
            QWidget *sheet = openSheet();
            QVERIFY2(sheet && sheet->focusWidget(), name);
            looks.append(sheet->focusWidget()->grab().toImage());
            sheet->close();
            ControllerRig::settle();
        }
        QVERIFY2(looks.first() != looks.last(), name);
    }
}

void TestKeyboardWalk::returnOpensTheFocusedPanel()
{
    StoreRig rig;
    auto view = rig.showOnline();
    QVERIFY(view);
    RouterController &controller = *view->workspace()->controller();
    controller.savePanel(makePanel(QStringLiteral("Desk"), { 2 }, { 2 }));
    view->workspace()->showPanels();
    QWidget *sheet = openSheet();
    QVERIFY(sheet);
    auto *list = sheet->findChild<QAbstractItemView *>(QStringLiteral("panelList"));
    for (const Qt::Key key : { Qt::Key_Return, Qt::Key_Space }) {
        list->setFocus(Qt::TabFocusReason);
        list->setCurrentIndex(list->model()->index(1, 0));
        QTest::keyClick(list, key);
        ControllerRig::settle();
        QVERIFY(sheet->isVisible());
        auto *editor = qobject_cast<PanelEditor *>(QApplication::activeModalWidget());
        QVERIFY(editor);
        QCOMPARE(editor->panel().name, QStringLiteral("Desk"));
        editor->reject();
        ControllerRig::settle();
    }
}

void TestKeyboardWalk::salvoManagerKeepsTheFocusedRow()
{
    StoreRig rig;
    auto view = rig.showOnline();
    QVERIFY(view);
    RouterController &controller = *view->workspace()->controller();
    controller.saveSalvo(QStringLiteral("Close"), std::nullopt);
    view->workspace()->showSalvos();
    QWidget *sheet = openSheet();
    QVERIFY(sheet);
    QPointer<QWidget> row = sheet->findChildren<SalvoRow *>().at(1);
    row->setFocus(Qt::TabFocusReason);

    // A new salvo, a rename, a panel and the router dropping leave the keyboard where it was.
    controller.saveSalvo(QStringLiteral("Break"), std::nullopt);
    controller.renameSalvo(controller.salvos().first(), QStringLiteral("Open"));
    controller.savePanel(makePanel(QStringLiteral("Desk"), { 2 }, { 2 }));
    controller.disconnect();
    ControllerRig::settle();
    QVERIFY(row);
    QCOMPARE(QApplication::focusWidget(), row.data());
    // And the new row is reached where it is shown.
    QStringList rows;
    for (const QWidget *w : walk(sheet->findChild<QWidget *>(QStringLiteral("doneButton"))).stops)
        if (const auto *row = qobject_cast<const SalvoRow *>(w))
            rows.append(row->salvo().name);
    QCOMPARE(rows, QStringList({ "Open", "Close", "Break" }));
}

QTEST_MAIN(TestKeyboardWalk)
#include "tst_keyboardwalk.moc"
