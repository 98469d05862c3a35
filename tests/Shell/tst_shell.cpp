#include "App/ContentView.h"
#include "App/QuorvelApp.h"
#include "App/SingleInstance.h"
#include "Controllers/ConnectionStore.h"
#include "FakeRouterDriver.h"
#include "FakeServiceBrowser.h"
#include "FeedServer.h"
#include "PopupMenus.h"
#include "Support/Analytics.h"
#include "Theme/Controls.h"
#include "Theme/StatusDot.h"
#include "Theme/VendorTile.h"
#include "Views/Panels/PanelEditor.h"
#include "Views/Salvos/SalvoRow.h"
#include "Views/Salvos/SalvoSheet.h"
#include "Views/Salvos/SalvoStrip.h"
#include "Views/Shell/AboutView.h"
#include "Views/Shell/RouterSidebar.h"
#include "Views/Workspace/PanelTabStrip.h"
#include "Views/Workspace/QuorvelView.h"

#include <QAbstractButton>
#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocalSocket>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

RouterEditor::Options quietEditor()
{
    // No editor in these tests may browse the real network.
    static FakeServiceBrowsers browsers;
    RouterEditor::Options options;
    options.browserFactory = browsers.factory();
    options.resolver = [](const RouterDiscovery::Device &, double, QObject *,
                          RouterDiscovery::ResolveCompletion) {
    };
    return options;
}

RouterConnection router(const QString &name, RouterVendor vendor = RouterVendor::rossUltrix)
{
    RouterConnection c;
    c.name = name;
    c.vendor = vendor;
    c.host = QStringLiteral("127.0.0.1");
    c.port = vendor.defaultPort();
    return c;
}

// Store files in a throw-away folder and fake drivers: nothing here dials a router.
struct Rig
{
    QTemporaryDir dir;
    FakeDriverMaker drivers;

    // Writes `routers` as the saved list before the store reads it.
    ConnectionStore::Options options(const QList<RouterConnection> &routers)
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
        for (const auto &c : routers)
            array.append(c.toJson());
        QFile file(o.connectionsPath);
        if (file.open(QIODevice::WriteOnly))
            file.write(QJsonDocument(array).toJson());
        return o;
    }
};

// Usage events to a closed loopback port.
Analytics::Options closedAnalytics()
{
    Analytics::Options options;
    options.endpoint = QUrl(QStringLiteral("http://127.0.0.1:9/api/send"));
    return options;
}

// The application on the rig's files and drivers, the feed on a closed loopback port.
QuorvelApp::Options appOptions(Rig &rig, const QList<RouterConnection> &routers,
                               Analytics &analytics)
{
    QuorvelApp::Options options;
    options.store = rig.options(routers);
    options.updater.feedUrl = QUrl(QStringLiteral("http://127.0.0.1:9/updates/appcast.xml"));
    options.editor = quietEditor();
    options.analytics = &analytics;
    return options;
}

QStringList actionTexts(const QMenu *menu)
{
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts.append(action->text());
    return texts;
}

QMessageBox *openAlert(RouterSidebar &sidebar)
{
    QMessageBox *alert = sidebar.deleteAlert();
    return alert && alert->isVisible() ? alert : nullptr;
}

QAbstractButton *button(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *b : box->buttons())
        if (b->text() == text)
            return b;
    return nullptr;
}

// The open dialog of that object name whose parent is `parent`, or null.
template<typename T = QDialog> T *openOver(QWidget *parent, const char *name)
{
    for (QWidget *widget : QApplication::allWidgets()) {
        auto *dialog = qobject_cast<T *>(widget);
        if (dialog && dialog->isVisible() && dialog->parentWidget() == parent
            && dialog->objectName() == QLatin1String(name))
            return dialog;
    }
    return nullptr;
}

// Answers the "Not Saved" alert over `parent`, which must begin with `done`.
void expectNotSaved(QWidget *parent, const QString &done)
{
    QMessageBox *box = nullptr;
    QTRY_VERIFY2((box = openOver<QMessageBox>(parent, "notSavedAlert")), qPrintable(done));
    const QString text = box->informativeText();
    const QString lost = QStringLiteral(" file couldn't be written, so the change is lost when "
                                        "Quorvel quits. Filename refers to a directory.");
    QVERIFY2(text.startsWith(done + QStringLiteral(", but the ")) && text.endsWith(lost),
             qPrintable(text));
    box->buttons().first()->click();
}

void typeAndSave(QDialog *prompt, const char *field, const QString &text)
{
    auto *edit = prompt ? prompt->findChild<QLineEdit *>(QString::fromLatin1(field)) : nullptr;
    QVERIFY(edit);
    edit->selectAll();
    QTest::keyClicks(edit, text);
    prompt->accept();
}

QString labelText(QWidget *root, const char *name)
{
    auto *label = root->findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QString();
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

private slots:
    void emptyStoreShowsSelectARouter();
    void removingTheLastRouterBringsBackTheEmptyState();
    void selectionBuildsAFreshWorkspaceOnTheCachedController();
    void workspaceConnectsOnlyADisconnectedRouter();
    void rowsFollowTheStoreAndShowNamesLiterally();
    void deleteMessageCounts_data();
    void deleteMessageCounts();
    void deleteMessageCountsTheRoutersOwnData();
    void contextMenuOffersDisconnectOnlyOnline();
    void deleteWaitsForConfirmation();
    void deletingTheSelectedRouterSelectsTheFirstLeft();
    void addAfterEditOpensANewRouter();
    void unchangedSaveLeavesOneLinkPerRouter();
    void rightClickOpensTheMenuWithoutSelecting();
    void launchConnectRunsWhenTheWindowIsShown();
    void launchEventGoesOutBeforeAnyWindow();
    void aboutTwiceShowsOneWindow();
    void quitKeyWorksOverSheetsAndAbout();
    void checkForUpdatesFollowsTheUpdater();
    void idleLaterLaunchesAreClosed();
    void lockPathHoldingNoLockIsTold();
    void failedWritesAreToldWhereTheEditWasMade();
    void unreadableFilesAreToldOnce();
};

void TestShell::emptyStoreShowsSelectARouter()
{
    Rig rig;
    ConnectionStore store(rig.options({}));
    ContentView view(store, quietEditor());
    view.show();
    QVERIFY(!view.workspace());
    QVERIFY(view.emptyState()->isVisible());
    QCOMPARE(labelText(&view, "emptyTitle"), QStringLiteral("Select a Router"));
    QCOMPARE(labelText(&view, "emptyDescription"),
             QStringLiteral("Choose a router from the sidebar, or add a new one."));
    QVERIFY(view.minimumSize().width() >= 860 && view.minimumSize().height() >= 560);
    QCOMPARE(view.sidebar()->minimumWidth(), 240);
    QCOMPARE(view.sidebar()->maximumWidth(), 360);
}

void TestShell::removingTheLastRouterBringsBackTheEmptyState()
{
    Rig rig;
    const RouterConnection only = router(QStringLiteral("Only"));
    ConnectionStore store(rig.options({ only }));
    ContentView view(store, quietEditor());
    view.show();
    QVERIFY(view.workspace());
    store.remove(only);
    QVERIFY(!view.workspace());
    QVERIFY(view.emptyState()->isVisible());
    QCOMPARE(view.sidebar()->list()->count(), 0);
}

void TestShell::selectionBuildsAFreshWorkspaceOnTheCachedController()
{
    Rig rig;
    const RouterConnection a = router(QStringLiteral("A"));
    const RouterConnection b = router(QStringLiteral("B"));
    ConnectionStore store(rig.options({ a, b }));
    ContentView view(store, quietEditor());
    view.show();

    QPointer<QuorvelView> first = view.workspace();
    QVERIFY(first);
    const auto controllerA = first->controller();
    QCOMPARE(controllerA, store.controller(a));

    view.sidebar()->list()->setCurrentRow(1);
    QCOMPARE(store.selectedConnectionID(), std::optional<QUuid>(b.id));
    QVERIFY(view.workspace() != first.data());
    QCOMPARE(view.workspace()->controller(), store.controller(b));

    store.setSelectedConnectionID(a.id);
    QCOMPARE(view.sidebar()->list()->currentRow(), 0);
    QCOMPARE(view.workspace()->controller(), controllerA);

    // An edit of the selected router gives a workspace on the fresh controller, which it
    // connects; the window is named after the saved router.
    RouterConnection renamed = a;
    renamed.name = QStringLiteral("A renamed");
    store.update(renamed);
    QVERIFY(view.workspace()->controller() != controllerA);
    QCOMPARE(view.workspace()->controller(), store.controller(renamed));
    QCOMPARE(view.title(), QStringLiteral("A renamed"));
    QTRY_COMPARE(store.controller(renamed)->status().kind(), ConnectionStatus::connecting);
}

void TestShell::workspaceConnectsOnlyADisconnectedRouter()
{
    Rig rig;
    const RouterConnection r = router(QStringLiteral("R"));
    ConnectionStore store(rig.options({ r }));
    auto controller = store.controller(r);

    {
        QuorvelView view(controller);
        view.show();
        QTRY_COMPARE(rig.drivers.made().size(), qsizetype(1));
        QCOMPARE(controller->status().kind(), ConnectionStatus::connecting);
    }
    // Connecting, online or failed: showing the workspace again leaves the link alone.
    const auto showAgain = [&] {
        QuorvelView view(controller);
        view.show();
        QTest::qWait(20);
    };
    showAgain();
    QCOMPARE(rig.drivers.made().size(), qsizetype(1));
    rig.drivers.last()->emitEvent(RouterDriverEvent::makeError(QStringLiteral("No route")));
    QTRY_COMPARE(controller->status().kind(), ConnectionStatus::failed);
    showAgain();
    QCOMPARE(rig.drivers.made().size(), qsizetype(1));

    controller->disconnect();
    showAgain();
    QCOMPARE(rig.drivers.made().size(), qsizetype(2));
}

void TestShell::rowsFollowTheStoreAndShowNamesLiterally()
{
    Rig rig;
    RouterConnection marked = router(QStringLiteral("<b>Truck</b> & Co"));
    marked.accentHue = 0.33;
    ConnectionStore store(rig.options({ marked }));
    RouterSidebar sidebar(store);
    sidebar.show();

    QListWidget *list = sidebar.list();
    QCOMPARE(list->count(), 1);
    QWidget *row = list->itemWidget(list->item(0));
    auto *name = row->findChild<ElidedLabel *>(QStringLiteral("name"));
    QVERIFY(name);
    QCOMPARE(name->text(), marked.name);
    QCOMPARE(row->findChild<ElidedLabel *>(QStringLiteral("endpoint"))->text(),
             QStringLiteral("127.0.0.1:2000"));
    QCOMPARE(row->findChild<VendorTile *>()->tint(), marked.tint());

    // The dot follows the controller.
    auto *dot = row->findChild<StatusDot *>();
    QCOMPARE(dot->status().kind(), ConnectionStatus::disconnected);
    store.controller(marked)->connect();
    QCOMPARE(dot->status().kind(), ConnectionStatus::connecting);

    // Edit: the row is rebuilt from the new record, with the vendor's colour back.
    RouterConnection plain = marked;
    plain.accentHue.reset();
    plain.name = QStringLiteral("Truck");
    store.add(router(QStringLiteral("Second")));
    store.update(plain);
    QCOMPARE(list->count(), 2);
    row = list->itemWidget(list->item(0));
    QCOMPARE(row->findChild<ElidedLabel *>(QStringLiteral("name"))->text(),
             QStringLiteral("Truck"));
    QCOMPARE(row->findChild<VendorTile *>()->tint(), RouterVendor(RouterVendor::rossUltrix).tint());
}

void TestShell::deleteMessageCounts_data()
{
    QTest::addColumn<int>("panels");
    QTest::addColumn<int>("salvos");
    QTest::addColumn<QString>("message");
    const QString tail
        = QStringLiteral(", and any custom labels for this router \u2014 none can be recovered.");
    QTest::newRow("none") << 0 << 0
                          << QStringLiteral(
                                 "Its saved settings and custom labels cannot be recovered.");
    QTest::newRow("one panel") << 1 << 0 << "Also deletes 1 panel, 0 salvos" + tail;
    QTest::newRow("one salvo") << 0 << 1 << "Also deletes 0 panels, 1 salvo" + tail;
    QTest::newRow("two and one") << 2 << 1 << "Also deletes 2 panels, 1 salvo" + tail;
    QTest::newRow("two each") << 2 << 2 << "Also deletes 2 panels, 2 salvos" + tail;
    QTest::newRow("zero and three") << 0 << 3 << "Also deletes 0 panels, 3 salvos" + tail;
}

void TestShell::deleteMessageCounts()
{
    QFETCH(int, panels);
    QFETCH(int, salvos);
    QFETCH(QString, message);
    QCOMPARE(RouterSidebar::deleteMessage(panels, salvos), message);
}

void TestShell::deleteMessageCountsTheRoutersOwnData()
{
    Rig rig;
    const RouterConnection mine = router(QStringLiteral("Ultrix Main"));
    const RouterConnection other = router(QStringLiteral("Other"));
    ConnectionStore store(rig.options({ mine, other }));
    RouterSidebar sidebar(store);

    QCOMPARE(RouterSidebar::deleteTitle(mine), QStringLiteral("Delete \u201CUltrix Main\u201D?"));
    // Labels alone do not count.
    store.labels().set(QStringLiteral("Cam 1"), PortKind::source, 0, mine.id);
    QCOMPARE(sidebar.deleteMessage(mine),
             QStringLiteral("Its saved settings and custom labels cannot be recovered."));

    store.panelStore().upsert(SubPanel { QUuid::createUuid(), QStringLiteral("P"), { 0 }, { 0 } },
                              mine.id);
    store.salvoStore().add(Salvo { QUuid::createUuid(), QStringLiteral("S1"), {}, {}, {} },
                           other.id);
    QVERIFY(
        sidebar.deleteMessage(mine).startsWith(QStringLiteral("Also deletes 1 panel, 0 salvos,")));
    store.salvoStore().add(Salvo { QUuid::createUuid(), QStringLiteral("S2"), {}, {}, {} },
                           mine.id);
    store.salvoStore().add(Salvo { QUuid::createUuid(), QStringLiteral("S3"), {}, {}, {} },
                           mine.id);
    QVERIFY(
        sidebar.deleteMessage(mine).startsWith(QStringLiteral("Also deletes 1 panel, 2 salvos,")));
}

void TestShell::contextMenuOffersDisconnectOnlyOnline()
{
    Rig rig;
    const RouterConnection r = router(QStringLiteral("R & D"));
    ConnectionStore store(rig.options({ r }));
    RouterSidebar sidebar(store);
    auto controller = store.controller(r);
    const QStringList withoutDisconnect { QStringLiteral("Edit\u2026"),
                                          QStringLiteral("Delete\u2026") };
    const auto menuTexts = [&] {
        std::unique_ptr<QMenu> menu(sidebar.contextMenu(r, &sidebar));
        return actionTexts(menu.get());
    };

    QCOMPARE(menuTexts(), withoutDisconnect); // disconnected
    controller->connect();
    QCOMPARE(menuTexts(), withoutDisconnect); // connecting
    rig.drivers.last()->emitEvent(RouterDriverEvent::makeConnected(RouterState {}));
    QTRY_VERIFY(controller->status().isConnected());
    QCOMPARE(menuTexts(),
             (QStringList { QStringLiteral("Edit\u2026"), QStringLiteral("Disconnect"),
                            QStringLiteral("Delete\u2026") }));

    // Disconnect tears the link down and keeps the router and the selection.
    std::unique_ptr<QMenu> menu(sidebar.contextMenu(r, &sidebar));
    menu->actions().at(1)->trigger();
    QCOMPARE(controller->status().kind(), ConnectionStatus::disconnected);
    QCOMPARE(store.connections().size(), qsizetype(1));
    QCOMPARE(store.selectedConnectionID(), std::optional<QUuid>(r.id));

    controller->connect();
    rig.drivers.last()->emitEvent(RouterDriverEvent::makeError(QStringLiteral("Refused")));
    QTRY_COMPARE(controller->status().kind(), ConnectionStatus::failed);
    QCOMPARE(menuTexts(), withoutDisconnect); // failed

    // "Edit…" asks for the editor with this router.
    QSignalSpy editor(&sidebar, &RouterSidebar::editorRequested);
    menu.reset(sidebar.contextMenu(r, &sidebar));
    menu->actions().first()->trigger();
    QCOMPARE(editor.size(), 1);
    QCOMPARE(editor.first().first().value<std::optional<RouterConnection>>(),
             std::optional<RouterConnection>(r));
}

void TestShell::deleteWaitsForConfirmation()
{
    Rig rig;
    const RouterConnection a = router(QStringLiteral("A"));
    const RouterConnection b = router(QStringLiteral("B"));
    ConnectionStore store(rig.options({ a, b }));
    store.panelStore().upsert(SubPanel { QUuid::createUuid(), QStringLiteral("P"), { 0 }, { 0 } },
                              b.id);
    RouterSidebar sidebar(store);
    sidebar.show();

    // "Delete…" from the menu only asks.
    std::unique_ptr<QMenu> menu(sidebar.contextMenu(b, &sidebar));
    menu->actions().last()->trigger();
    QMessageBox *alert = openAlert(sidebar);
    QVERIFY(alert);
    QCOMPARE(sidebar.deleting(), std::optional<RouterConnection>(b));
    QCOMPARE(alert->text(), QStringLiteral("Delete \u201CB\u201D?"));
    QCOMPARE(alert->textFormat(), Qt::PlainText);
    QVERIFY(alert->informativeText().startsWith(QStringLiteral("Also deletes 1 panel, 0 salvos")));
    QCOMPARE(store.connections().size(), qsizetype(2));

    // Cancel keeps everything.
    button(alert, QStringLiteral("Cancel"))->click();
    QTRY_VERIFY(!openAlert(sidebar));
    QVERIFY(!sidebar.deleting());
    QCOMPARE(store.connections().size(), qsizetype(2));
    QCOMPARE(store.panelStore().panels(b.id).size(), qsizetype(1));

    // Escape is a dismissal like Cancel.
    sidebar.confirmDelete(b);
    alert = openAlert(sidebar);
    QVERIFY(alert);
    QTest::keyClick(alert, Qt::Key_Escape);
    QTRY_VERIFY(!openAlert(sidebar));
    QVERIFY(!sidebar.deleting());
    QCOMPARE(store.connections().size(), qsizetype(2));

    // The list's delete key asks for the first selected row; "Delete" removes it and its data.
    sidebar.list()->setCurrentRow(1);
    QTest::keyClick(sidebar.list(), Qt::Key_Delete);
    alert = openAlert(sidebar);
    QVERIFY(alert);
    QCOMPARE(sidebar.deleting(), std::optional<RouterConnection>(b));
    button(alert, QStringLiteral("Delete"))->click();
    QTRY_VERIFY(!openAlert(sidebar));
    QVERIFY(!sidebar.deleting());
    QCOMPARE(store.connections().size(), qsizetype(1));
    QCOMPARE(store.connections().first().id, a.id);
    QVERIFY(store.panelStore().panels(b.id).isEmpty());
    QCOMPARE(sidebar.list()->count(), 1);
}

void TestShell::deletingTheSelectedRouterSelectsTheFirstLeft()
{
    Rig rig;
    const RouterConnection a = router(QStringLiteral("A"));
    const RouterConnection b = router(QStringLiteral("B"));
    const RouterConnection c = router(QStringLiteral("C"));
    ConnectionStore store(rig.options({ a, b, c }));
    ContentView view(store, quietEditor());
    view.show();
    RouterSidebar *sidebar = view.sidebar();

    sidebar->list()->setCurrentRow(0);
    sidebar->confirmDelete(a);
    button(openAlert(*sidebar), QStringLiteral("Delete"))->click();
    QTRY_COMPARE(store.connections().size(), qsizetype(2));
    QCOMPARE(store.selectedConnectionID(), std::optional<QUuid>(b.id));
    QCOMPARE(sidebar->list()->currentRow(), 0);
    QCOMPARE(view.workspace()->controller()->id(), b.id);
}

void TestShell::addAfterEditOpensANewRouter()
{
    Rig rig;
    const RouterConnection r = router(QStringLiteral("R"));
    ConnectionStore store(rig.options({ r }));
    ContentView view(store, quietEditor());
    view.show();

    std::unique_ptr<QMenu> menu(view.sidebar()->contextMenu(r, view.sidebar()));
    menu->actions().first()->trigger();
    QVERIFY(view.showingEditor());
    QCOMPARE(view.editing(), std::optional<RouterConnection>(r));
    QCOMPARE(view.editor()->model().title(), QStringLiteral("Edit Router"));
    QCOMPARE(view.editor()->windowModality(), Qt::WindowModal);
    view.editor()->reject();
    QTRY_VERIFY(!view.showingEditor());

    auto *add = view.sidebar()->findChild<QToolButton *>(QStringLiteral("addRouter"));
    QVERIFY(add);
    add->click();
    QVERIFY(view.showingEditor());
    QVERIFY(!view.editing());
    QCOMPARE(view.editor()->model().title(), QStringLiteral("Add Router"));
    view.editor()->reject();
}

// An unchanged Save dropped the controller but the equal list notified no one: the workspace
// and the row kept the orphan, and Connect plus reselecting opened two links to one router.
void TestShell::unchangedSaveLeavesOneLinkPerRouter()
{
    Rig rig;
    // Simulators, which the launch connect leaves alone: only the views connect here.
    const RouterConnection r = router(QStringLiteral("R"), RouterVendor::simulator);
    const RouterConnection b = router(QStringLiteral("B"), RouterVendor::simulator);
    ConnectionStore store(rig.options({ r, b }));
    ContentView view(store, quietEditor());
    view.show();
    QTRY_COMPARE(rig.drivers.made().size(), qsizetype(1)); // R, by its workspace alone
    rig.drivers.last()->emitEvent(RouterDriverEvent::makeConnected(RouterState {}));
    QTRY_VERIFY(store.controller(r)->status().isConnected());

    view.presentEditor(r);
    QVERIFY(view.editor());
    auto *save = view.editor()->findChild<QPushButton *>(QStringLiteral("saveButton"));
    QVERIFY(save);
    QTest::mouseClick(save, Qt::LeftButton);
    QTRY_VERIFY(!view.showingEditor());

    // The views follow the fresh controller, which the workspace connects.
    QCOMPARE(view.workspace()->controller(), store.controller(r));
    QTRY_COMPARE(rig.drivers.made().size(), qsizetype(2));
    QTRY_COMPARE(rig.drivers.made().first()->count(FakeRouterDriver::Command::disconnect), 1);
    rig.drivers.last()->emitEvent(RouterDriverEvent::makeConnected(RouterState {}));
    QTRY_VERIFY(store.controller(r)->status().isConnected());
    QWidget *row = view.sidebar()->list()->itemWidget(view.sidebar()->list()->item(0));
    QTRY_COMPARE(row->findChild<StatusDot *>()->status().kind(), ConnectionStatus::connected);
    std::unique_ptr<QMenu> menu(view.sidebar()->contextMenu(r, view.sidebar()));
    QVERIFY(actionTexts(menu.get()).contains(QStringLiteral("Disconnect")));

    // Away and back: no new link for R.
    view.sidebar()->list()->setCurrentRow(1);
    QTRY_COMPARE(rig.drivers.made().size(), qsizetype(3)); // B
    view.sidebar()->list()->setCurrentRow(0);
    QTest::qWait(20);
    QCOMPARE(rig.drivers.made().size(), qsizetype(3));
    int live = 0;
    for (const auto &driver : rig.drivers.made())
        live += driver->count(FakeRouterDriver::Command::disconnect) == 0 ? 1 : 0;
    QCOMPARE(live, 2); // one for R, one for B
}

// A right click made the row current, switching the workspace, before the menu opened.
void TestShell::rightClickOpensTheMenuWithoutSelecting()
{
    Rig rig;
    const RouterConnection a = router(QStringLiteral("A"));
    const RouterConnection b = router(QStringLiteral("B"));
    ConnectionStore store(rig.options({ a, b }));
    ContentView view(store, quietEditor());
    view.resize(900, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QPointer<QuorvelView> workspace = view.workspace();
    QListWidget *list = view.sidebar()->list();
    const QPoint onB = list->visualItemRect(list->item(1)).center();

    // Through the window, as the platform delivers it: the context menu event is made there.
    QTest::mouseClick(view.windowHandle(), Qt::RightButton, {},
                      list->viewport()->mapTo(&view, onB));
    QTRY_VERIFY(qobject_cast<QMenu *>(QApplication::activePopupWidget()));
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    QCOMPARE(actionTexts(menu),
             (QStringList { QStringLiteral("Edit…"), QStringLiteral("Delete…") }));
    QCOMPARE(store.selectedConnectionID(), std::optional<QUuid>(a.id));
    QCOMPARE(list->currentRow(), 0);
    QCOMPARE(view.workspace(), workspace.data());

    // The menu acts on the row clicked: "Edit…" edits B.
    QSignalSpy editor(view.sidebar(), &RouterSidebar::editorRequested);
    QTest::mouseClick(menu, Qt::LeftButton, {},
                      menu->actionGeometry(menu->actions().first()).center());
    QTRY_COMPARE(editor.size(), 1);
    QCOMPARE(editor.first().first().value<std::optional<RouterConnection>>()->id, b.id);
    QCOMPARE(store.selectedConnectionID(), std::optional<QUuid>(a.id));
    QVERIFY(view.editor());
    view.editor()->reject();
    QTRY_VERIFY(!view.showingEditor());

    // A left click still selects.
    QTest::mouseClick(view.windowHandle(), Qt::LeftButton, {}, list->viewport()->mapTo(&view, onB));
    QCOMPARE(store.selectedConnectionID(), std::optional<QUuid>(b.id));
    // Clicks that would leave no row highlighted used to blank it while B stayed on screen.
    const QPoint below(onB.x(), list->viewport()->height() - 4);
    for (const auto &[at, modifiers] :
         { std::pair { onB, Qt::ControlModifier }, std::pair { below, Qt::NoModifier } }) {
        QTest::mouseClick(view.windowHandle(), Qt::LeftButton, modifiers,
                          list->viewport()->mapTo(&view, at));
        QCOMPARE(list->selectedItems(), QList<QListWidgetItem *> { list->item(1) });
    }

    // The menu's grab hides from the list that the pointer went from A to where the menu
    // was left, outside the list.
    QWidget *away = view.workspace();
    QTest::mouseMove(view.windowHandle(), away->mapTo(&view, away->rect().center()));
    const QRect rowA = list->visualItemRect(list->item(0));
    const QPoint besideA(rowA.center().x(), rowA.bottom() - 3); // only the background there
    const auto fillOfA = [list, besideA] {
        return list->viewport()->grab().toImage().pixelColor(besideA);
    };
    const QColor idle = fillOfA();
    QHoverEvent hover(QEvent::HoverEnter, rowA.center(), rowA.center(), QPointF(-1, -1));
    QApplication::sendEvent(list->viewport(), &hover);
    QVERIFY(fillOfA() != idle);
    QContextMenuEvent request(QContextMenuEvent::Mouse, rowA.center(),
                              list->viewport()->mapToGlobal(rowA.center()));
    QApplication::sendEvent(list->viewport(), &request);
    QTRY_VERIFY(qobject_cast<QMenu *>(QApplication::activePopupWidget()));
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
    // The row used to keep its hover fill after the menu, until the pointer passed again.
    QCOMPARE(fillOfA(), idle);
}

void TestShell::launchConnectRunsWhenTheWindowIsShown()
{
    Rig rig;
    const RouterConnection demo = router(QStringLiteral("Demo"), RouterVendor::simulator);
    const RouterConnection hub = router(QStringLiteral("Hub"), RouterVendor::blackmagicVideohub);
    ConnectionStore store(rig.options({ demo, hub }));
    ContentView view(store, quietEditor());
    // Building the window lists the routers but dials nothing.
    QCOMPARE(rig.drivers.made().size(), qsizetype(0));
    view.show();
    QTRY_COMPARE(store.controller(hub)->status().kind(), ConnectionStatus::connecting);
    // The selected simulator is connected by its workspace, the saved router by the launch.
    QTRY_COMPARE(rig.drivers.made().size(), qsizetype(2));
    view.hide();
    view.show();
    QTest::qWait(20);
    QCOMPARE(rig.drivers.made().size(), qsizetype(2));
}

void TestShell::launchEventGoesOutBeforeAnyWindow()
{
    Rig rig;
    FeedServer collector;
    collector.respond(200, {});
    Analytics::Options analyticsOptions;
    analyticsOptions.endpoint = collector.url(QStringLiteral("/api/send"));
    Analytics analytics(analyticsOptions);
    analytics.setEnabled(true);

    QuorvelApp app(appOptions(rig, {}, analytics));
    QVERIFY(analytics.isHeartbeatRunning());
    QVERIFY(!app.mainWindow());
    QTRY_COMPARE(collector.requests(), 1);
    QVERIFY(collector.lastRequest().startsWith("POST /api/send "));
    analytics.setEnabled(false);
}

void TestShell::aboutTwiceShowsOneWindow()
{
    Rig rig;
    Analytics analytics(closedAnalytics());
    analytics.setEnabled(false);
    QuorvelApp app(
        appOptions(rig, { router(QStringLiteral("R"), RouterVendor::simulator) }, analytics));
    MainWindow *window = app.showMainWindow();
    QCOMPARE(window->size(), QSize(1180, 760));

    QCOMPARE(window->aboutAction()->text(), QStringLiteral("About Quorvel"));
    window->aboutAction()->trigger();
    QPointer<QWidget> about = app.aboutWindow();
    QVERIFY(about);
    QCOMPARE(about->windowTitle(), QStringLiteral("About Quorvel"));
    window->aboutAction()->trigger();
    QCOMPARE(app.aboutWindow(), about.data());
    QCOMPARE(app.aboutWindow()->findChildren<AboutView *>().size(), qsizetype(1));
    int aboutWindows = 0;
    for (QWidget *top : QApplication::topLevelWidgets())
        aboutWindows += top->isVisible() && top->findChild<AboutView *>() ? 1 : 0;
    QCOMPARE(aboutWindows, 1);

    // Closed, it is built again on the next request, checking the feed afresh.
    about->close();
    QTRY_VERIFY(!about);
    window->aboutAction()->trigger();
    QVERIFY(app.aboutWindow());

    // Esc and Ctrl+W close it, like any other window.
    for (const QKeySequence &keys :
         { QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W) }) {
        about = app.showAbout();
        QVERIFY(QTest::qWaitForWindowActive(about));
        QTest::keySequence(about, keys);
        QTRY_VERIFY(!about);
    }
}

// The menu's Ctrl+Q reached only the main window: over a sheet or in About it did nothing.
void TestShell::quitKeyWorksOverSheetsAndAbout()
{
    Rig rig;
    Analytics analytics(closedAnalytics());
    analytics.setEnabled(false);
    QuorvelApp app(
        appOptions(rig, { router(QStringLiteral("R"), RouterVendor::simulator) }, analytics));
    for (const bool overSheet : { true, false }) {
        MainWindow *window = app.showMainWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QPointer<QWidget> target = app.showAbout();
        if (overSheet) {
            target->close();
            auto *sheet = new QMessageBox(QMessageBox::Information, QStringLiteral("Sheet"),
                                          QString(), QMessageBox::Ok, window);
            sheet->setWindowModality(Qt::WindowModal);
            sheet->setAttribute(Qt::WA_DeleteOnClose);
            sheet->open();
            target = sheet;
        }
        QVERIFY(QTest::qWaitForWindowActive(target));
        QTest::keyClick(target, Qt::Key_Q, Qt::ControlModifier);
        QTRY_VERIFY(!target);
        QVERIFY(!window->isVisible());
    }
}

void TestShell::checkForUpdatesFollowsTheUpdater()
{
    Rig rig;
    Analytics analytics(closedAnalytics());
    analytics.setEnabled(false);
    QuorvelApp::Options options = appOptions(rig, {}, analytics);
    options.updater.timeoutMs = 200;
    QuorvelApp app(options);
    MainWindow *window = app.showMainWindow();
    QAction *check = window->checkForUpdatesAction();
    QCOMPARE(check->text(), QStringLiteral("Check for Updates\u2026"));
    QVERIFY(check->isEnabled());

    check->trigger(); // the closed loopback port answers at once with a refusal
    QVERIFY(!check->isEnabled());
    QTRY_VERIFY(check->isEnabled());
    if (QDialog *dialog = app.updater().window())
        dialog->close();
}

// The single-instance socket kept any number of idle connections open.
void TestShell::idleLaterLaunchesAreClosed()
{
    using Sockets = std::vector<std::unique_ptr<QLocalSocket>>;
    const auto open = [](const QString &folder, int count) {
        Sockets sockets;
        for (int i = 0; i < count; ++i) {
            sockets.push_back(std::make_unique<QLocalSocket>());
            sockets.back()->connectToServer(SingleInstance::serverName(folder));
        }
        return sockets;
    };
    QTemporaryDir quick;
    SingleInstance idleOut(quick.path(), nullptr, 20ms);
    QCOMPARE(idleOut.claim(), SingleInstance::Role::primary);
    for (const auto &socket : open(quick.path(), 3))
        QTRY_COMPARE(socket->state(), QLocalSocket::UnconnectedState);

    // Past the cap a connection is closed at once; a freed place takes the next launch.
    QTemporaryDir patient;
    SingleInstance instance(patient.path(), nullptr, 1h);
    QCOMPARE(instance.claim(), SingleInstance::Role::primary);
    Sockets held = open(patient.path(), SingleInstance::maxConnections);
    for (const auto &socket : held)
        QTRY_COMPARE(socket->state(), QLocalSocket::ConnectedState);
    const Sockets extra = open(patient.path(), 1);
    QTRY_COMPARE(extra.front()->state(), QLocalSocket::UnconnectedState);
    held.pop_back();
    QSignalSpy shown(&instance, &SingleInstance::showRequested);
    // The place is free once the server has seen the close; a launch before that is closed.
    QTRY_VERIFY([&] {
        const Sockets asking = open(patient.path(), 1);
        asking.front()->write("show\n");
        return QTest::qWaitFor([&] { return asking.front()->canReadLine(); }, 200)
            && asking.front()->readLine() == "shown\n";
    }());
    QVERIFY(shown.count() >= 1);
    QCOMPARE(held.front()->state(), QLocalSocket::ConnectedState);
}

// A FIFO at the lock's path froze the launch; an empty file read as an unreachable instance.
void TestShell::lockPathHoldingNoLockIsTold()
{
    for (const bool fifo : { true, false }) {
        QTemporaryDir folder;
        const QString lock = folder.filePath(QStringLiteral("instance.lock"));
        QVERIFY(fifo ? ::mkfifo(QFile::encodeName(lock).constData(), 0600) == 0
                     : QFile(lock).open(QIODevice::WriteOnly));
        QCOMPARE(SingleInstance(folder.path()).claim(), SingleInstance::Role::blocked);
    }
}

// Every edit looked saved while its file could not be written; only standard output said
// "save failed", and the edit was gone at the next launch.
void TestShell::failedWritesAreToldWhereTheEditWasMade()
{
    Rig rig;
    const RouterConnection r = router(QStringLiteral("R"), RouterVendor::simulator);
    ConnectionStore store(rig.options({ r }));
    const SubPanel panel { QUuid::createUuid(), QStringLiteral("P"), { 0 }, { 0 } };
    store.panelStore().upsert(panel, r.id);
    store.salvoStore().add(
        Salvo { QUuid::createUuid(), QStringLiteral("S"), { Route { 0, 0, 0 } }, 1.0, {} }, r.id);
    ContentView view(store, quietEditor());
    view.show();
    QTRY_COMPARE(rig.drivers.made().size(), qsizetype(1));
    RouterState state;
    state.levels = { RouterLevel { 0, QStringLiteral("Video"), LevelKind::video } };
    state.destinations = { Port { 0, PortKind::destination, QStringLiteral("Out 1") } };
    state.routing[0].insert(0, 0);
    rig.drivers.last()->emitEvent(RouterDriverEvent::makeConnected(state));
    const ConnectionStore::ControllerPtr controller = store.controller(r);
    QTRY_VERIFY(controller->status().isConnected());
    QuorvelView *workspace = view.workspace();
    QWidget *window = view.window();

    // A folder where each file goes: every write from here on fails.
    for (const char *name : { "connections.json", "labels.json", "salvos.json", "panels.json" }) {
        QFile::remove(rig.dir.filePath(QString::fromLatin1(name)));
        QVERIFY(QDir(rig.dir.path()).mkdir(QString::fromLatin1(name)));
    }

    controller->beginRename(PortKind::destination, 0);
    typeAndSave(workspace->renameAlert(), "renameField", QStringLiteral("Cam"));
    expectNotSaved(window, QStringLiteral("Destination 1 was renamed"));
    QCOMPARE(controller->state().destinations.first().label, QStringLiteral("Cam"));

    workspace->findChild<SalvoStrip *>()->findChild<QPushButton *>("newSalvoButton")->click();
    typeAndSave(openOver(window, "newSalvoPrompt"), "nameField", QStringLiteral("Two"));
    expectNotSaved(window, QStringLiteral("Salvo \u201CTwo\u201D was captured"));

    workspace->showSalvos();
    auto *sheet = openOver<SalvoSheet>(window, "salvoSheet");
    QVERIFY(sheet);
    SalvoRow *row = sheet->findChildren<SalvoRow *>().first();
    const QString was = row->salvo().name;
    QVERIFY(PopupMenus::choose(PopupMenus::rightClick(row, { 10, 10 }),
                               QStringLiteral("Rename\u2026"), row));
    typeAndSave(openOver(sheet, "renamePrompt"), "nameField", QStringLiteral("T"));
    expectNotSaved(sheet,
                   QStringLiteral("Salvo \u201C") + was
                       + QStringLiteral("\u201D was renamed \u201CT\u201D"));
    sheet->accept();

    QAbstractButton *tab = nullptr;
    for (QAbstractButton *button :
         workspace->findChild<PanelTabStrip *>()->findChildren<QAbstractButton *>())
        tab = button->accessibleName() == QLatin1String("P") ? button : tab;
    QVERIFY(tab);
    QVERIFY(PopupMenus::choose(PopupMenus::rightClick(tab, { 5, 5 }), QStringLiteral("Duplicate"),
                               tab));
    expectNotSaved(window, QStringLiteral("Panel \u201CP\u201D was duplicated"));

    workspace->editPanel(panel);
    auto *editor = view.findChild<PanelEditor *>();
    QVERIFY(editor && editor->isVisible());
    editor->findChild<QPushButton *>("saveButton")->click();
    expectNotSaved(editor, QStringLiteral("Panel \u201CP\u201D was changed"));
    QTRY_VERIFY(!editor->isVisible());

    // The panel shown is set by many controls: the workspace's banner tells it.
    controller->setActivePanelID(panel.id);
    QVERIFY(controller->lastError().value_or(QString()).contains(
        QStringLiteral("couldn't be written, so the change is lost when Quorvel quits.")));

    view.presentEditor(r);
    view.editor()->findChild<QPushButton *>("saveButton")->click();
    expectNotSaved(view.editor(), QStringLiteral("\u201CR\u201D was changed"));
    QTRY_VERIFY(!view.showingEditor());
    view.presentEditor(std::nullopt);
    QTest::keyClicks(view.editor()->findChild<QLineEdit *>("nameField"), QStringLiteral("New"));
    view.editor()->findChild<QPushButton *>("saveButton")->click();
    expectNotSaved(view.editor(), QStringLiteral("\u201CNew\u201D was added"));
    QTRY_VERIFY(!view.showingEditor());
    view.sidebar()->confirmDelete(store.connections().first());
    button(openAlert(*view.sidebar()), QStringLiteral("Delete"))->click();
    expectNotSaved(window, QStringLiteral("\u201CR\u201D was deleted"));
}

// An unreadable file started the app empty, with the reason on standard output only.
void TestShell::unreadableFilesAreToldOnce()
{
    Rig rig;
    ConnectionStore::Options options = rig.options({ router(QStringLiteral("R")) });
    QFile junk(options.labelsPath);
    QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("[") == 1);
    junk.close();
    ConnectionStore store(options);
    ContentView view(store, quietEditor());
    view.show();
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = openOver<QMessageBox>(&view, "unreadableFilesAlert")));
    QCOMPARE(box->text(), QStringLiteral("Quorvel couldn't read \u201Clabels.json\u201D"));
    QCOMPARE(
        box->informativeText(),
        QStringLiteral("\u201Clabels.json\u201D was moved to \u201C%1\u201D, and Quorvel started "
                       "without it (unterminated array at offset 1).")
            .arg(QDir::toNativeSeparators(options.labelsPath + QStringLiteral(".corrupt"))));
    box->accept();

    // A version written by someone else while the app ran was replaced without a word.
    const QUuid id = store.connections().first().id;
    store.labels().set(QStringLiteral("Cam"), PortKind::source, 0, id);
    QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("{}  ") == 4);
    junk.close();
    store.labels().set(QStringLiteral("Cam 2"), PortKind::source, 0, id);
    QTRY_VERIFY((box = openOver<QMessageBox>(&view, "outsideChangeAlert")));
    QCOMPARE(box->text(), QStringLiteral("\u201Clabels.json\u201D was changed outside Quorvel"));
    QVERIFY(box->informativeText().contains(
        QDir::toNativeSeparators(options.labelsPath + QStringLiteral(".outside"))));
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
