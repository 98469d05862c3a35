#include "Controllers/ConnectionStore.h"
#include "Drivers/SimulatorDriver.h"
#include "FakeServiceBrowser.h"
#include "Theme/FocusedWheel.h"
#include "Views/Shell/AccentSwatches.h"
#include "Views/Shell/RouterEditor.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

using FakeBrowser = FakeServiceBrowser;

// The browsers the editor made, and a resolver whose answer the test releases.
struct FakeNetwork
{
    FakeServiceBrowsers browsers;
    QList<RouterDiscovery::Device> resolving;
    RouterDiscovery::ResolveCompletion pending;
    QPointer<QObject> pendingContext;

    RouterEditor::Options options()
    {
        RouterEditor::Options o;
        o.browserFactory = browsers.factory();
        o.resolver = [this](const RouterDiscovery::Device &device, double, QObject *context,
                            RouterDiscovery::ResolveCompletion done) {
            resolving.append(device);
            pending = std::move(done);
            pendingContext = context;
        };
        return o;
    }

    FakeBrowser *videohubBrowser() const
    {
        return browsers.latest(QStringLiteral("_videohub._tcp"));
    }
    int started() const { return browsers.started(); }
    // Answers the resolution in flight, as the real resolver would: never to a context
    // that has gone.
    void answer(std::optional<RouterDiscovery::Endpoint> endpoint)
    {
        if (auto done = std::exchange(pending, {}); done && pendingContext)
            done(endpoint);
    }
};

QList<BonjourService> hubs(const QStringList &names)
{
    QList<BonjourService> list;
    for (const QString &name : names)
        list.append({ name, QStringLiteral("_videohub._tcp"), QStringLiteral("local.") });
    return list;
}

template<typename T> T *child(QWidget *root, const char *name)
{
    return root->findChild<T *>(QString::fromLatin1(name));
}

QList<QAbstractButton *> deviceButtons(QWidget *root)
{
    QList<QAbstractButton *> visible;
    for (QAbstractButton *button :
         root->findChildren<QAbstractButton *>(QStringLiteral("deviceButton"))) {
        if (button->isVisibleTo(root))
            visible.append(button);
    }
    return visible;
}

bool shown(QWidget *root, const char *name)
{
    QWidget *widget = child<QWidget>(root, name);
    return widget && widget->isVisibleTo(root);
}

void chooseVendor(RouterEditor &editor, RouterVendor vendor)
{
    auto *combo = child<QComboBox>(&editor, "vendorCombo");
    combo->setCurrentIndex(combo->findData(int(RouterVendor::Value(vendor))));
}

// Mouse events go to whatever the window shows at that point, so scroll the target in.
void click(QWidget *widget)
{
    for (QWidget *w = widget->parentWidget(); w; w = w->parentWidget()) {
        if (auto *scroll = qobject_cast<QScrollArea *>(w); scroll && scroll->widget())
            scroll->ensureWidgetVisible(widget, 0, 0);
    }
    QTest::mouseClick(widget, Qt::LeftButton);
}

void retype(QLineEdit *field, const QString &text)
{
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

} // namespace

Q_DECLARE_METATYPE(RouterVendor)

class TestEditor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void titlesAndFieldsForNewAndExisting();
    void saveFollowsTheName();
    void vendorPickMovesOnlyADefaultPort_data();
    void vendorPickMovesOnlyADefaultPort();
    void sectionsFollowTheVendor();
    void steppersKeepAStoredCountUntilStepped();
    void wheelEditsOnlyAFocusedField();
    void swatchesChooseTheHue();
    void searchingThenDevicesThenBrowseError();
    void choosingADeviceFillsTheForm_data();
    void choosingADeviceFillsTheForm();
    void savingANewRouterAddsAndSelectsIt();
    void savingAnEditReplacesItAndDropsItsController();
    void cancelLeavesTheStoreUntouched();
    void closingEndsBrowsingAndTheResolution();
    void destroyingAnOpenSheetEndsBrowsing();

private:
    std::unique_ptr<ConnectionStore> makeStore();
    QByteArray storeFile() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    FakeNetwork m_network;
};

void TestEditor::initTestCase()
{
    // A locale that groups digits, so a grouped port would show.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestEditor::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_network = {};
}

void TestEditor::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_dir.reset();
}

std::unique_ptr<ConnectionStore> TestEditor::makeStore()
{
    ConnectionStore::Options o;
    o.connectionsPath = m_dir->filePath(QStringLiteral("Quorvel/connections.json"));
    o.labelsPath = m_dir->filePath(QStringLiteral("Quorvel/labels.json"));
    o.salvosPath = m_dir->filePath(QStringLiteral("Quorvel/salvos.json"));
    o.panelsPath = m_dir->filePath(QStringLiteral("Quorvel/panels.json"));
    o.driverMaker = [](const RouterConnection &connection) -> RouterDriverPtr {
        SimulatorDriver::Timing timing;
        timing.connectDelay = 1ms;
        return std::make_shared<SimulatorDriver>(connection, timing);
    };
    o.usage = RouterController::UsageHooks {};
    return std::make_unique<ConnectionStore>(o);
}

QByteArray TestEditor::storeFile() const
{
    QFile file(m_dir->filePath(QStringLiteral("Quorvel/connections.json")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestEditor::titlesAndFieldsForNewAndExisting()
{
    auto store = makeStore();
    RouterEditor fresh(*store, std::nullopt, m_network.options());
    QCOMPARE(fresh.windowTitle(), QStringLiteral("Add Router"));
    QVERIFY(child<QLabel>(&fresh, "sheetTitle"));
    QCOMPARE(child<QLabel>(&fresh, "sheetTitle")->text(), QStringLiteral("Add Router"));
    QCOMPARE(fresh.size(), QSize(440, 460));
    QCOMPARE(child<QLineEdit>(&fresh, "nameField")->text(), QStringLiteral("New Router"));
    QCOMPARE(child<QComboBox>(&fresh, "vendorCombo")->currentText(),
             RouterVendor(RouterVendor::blackmagicVideohub).displayName());
    QCOMPARE(child<QLabel>(&fresh, "vendorSummary")->text(),
             RouterVendor(RouterVendor::blackmagicVideohub).summary());
    QCOMPARE(child<QLineEdit>(&fresh, "hostField")->text(), QString());
    QCOMPARE(child<QLineEdit>(&fresh, "portField")->text(), QStringLiteral("9990"));
    QVERIFY(shown(&fresh, "networkSection"));
    QVERIFY(!shown(&fresh, "sizeSection"));
    QVERIFY(child<AccentSwatches>(&fresh, "accentSwatches")->swatches().first()->isSelected());
    QVERIFY(child<QPushButton>(&fresh, "saveButton")->isDefault());

    RouterConnection saved;
    saved.name = QStringLiteral("Rack & Stack");
    saved.vendor = RouterVendor::lightware;
    saved.host = QStringLiteral("10.1.1.1");
    saved.port = 10001;
    saved.accentHue = 0.33;
    RouterEditor editing(*store, saved, m_network.options());
    QCOMPARE(editing.windowTitle(), QStringLiteral("Edit Router"));
    QCOMPARE(child<QLabel>(&editing, "sheetTitle")->text(), QStringLiteral("Edit Router"));
    QCOMPARE(child<QLineEdit>(&editing, "nameField")->text(), saved.name);
    QCOMPARE(child<QComboBox>(&editing, "vendorCombo")->currentText(),
             RouterVendor(RouterVendor::lightware).displayName());
    QCOMPARE(child<QLineEdit>(&editing, "hostField")->text(), saved.host);
    QCOMPARE(child<QLineEdit>(&editing, "portField")->text(), QStringLiteral("10001"));
    const QList<AccentSwatch *> swatches
        = child<AccentSwatches>(&editing, "accentSwatches")->swatches();
    QList<bool> rings;
    for (AccentSwatch *swatch : swatches)
        rings.append(swatch->isSelected());
    // 0.33 is the sixth offered hue, after the automatic swatch.
    const QList<bool> expected { false, false, false, false, false, false, false, true, false };
    QCOMPARE(rings, expected);
    QCOMPARE(editing.model().draft(), saved);
}

void TestEditor::saveFollowsTheName()
{
    auto store = makeStore();
    const auto before = store->connections();
    RouterEditor editor(*store, std::nullopt, m_network.options());
    editor.show();
    auto *name = child<QLineEdit>(&editor, "nameField");
    auto *save = child<QPushButton>(&editor, "saveButton");

    retype(name, QStringLiteral("   "));
    QVERIFY(!save->isEnabled());
    // Return in the field presses the default button, which is off.
    QTest::keyClick(name, Qt::Key_Return);
    QVERIFY(editor.isVisible());
    QCOMPARE(store->connections(), before);

    retype(name, QStringLiteral(" a"));
    QVERIFY(save->isEnabled());
    QCOMPARE(editor.model().draft().name, QStringLiteral(" a"));
}

void TestEditor::vendorPickMovesOnlyADefaultPort_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<RouterVendor>("to");
    QTest::addColumn<QString>("expected");
    QTest::newRow("default moves") << "9990" << RouterVendor(RouterVendor::rossUltrix) << "2000";
    QTest::newRow("own port stays") << "9991" << RouterVendor(RouterVendor::rossUltrix) << "9991";
    QTest::newRow("kumo default") << "9990" << RouterVendor(RouterVendor::ajaKumo) << "80";
    QTest::newRow("unreadable text keeps the port")
        << "9990x" << RouterVendor(RouterVendor::lightware) << "6107";
}

void TestEditor::vendorPickMovesOnlyADefaultPort()
{
    QFETCH(QString, typed);
    QFETCH(RouterVendor, to);
    QFETCH(QString, expected);
    auto store = makeStore();
    RouterEditor editor(*store, std::nullopt, m_network.options());
    editor.show();
    auto *port = child<QLineEdit>(&editor, "portField");
    retype(port, typed);
    chooseVendor(editor, to);
    QCOMPARE(port->text(), expected);
    QCOMPARE(editor.model().draft().port, expected.toInt());
    QCOMPARE(child<QLabel>(&editor, "vendorSummary")->text(), to.summary());
}

void TestEditor::sectionsFollowTheVendor()
{
    auto store = makeStore();
    RouterEditor editor(*store, std::nullopt, m_network.options());
    editor.show();
    retype(child<QLineEdit>(&editor, "hostField"), QStringLiteral("10.0.0.2"));
    auto *sources = child<QSpinBox>(&editor, "sourceStepper");
    auto *destinations = child<QSpinBox>(&editor, "destinationStepper");
    auto *header = child<QLabel>(&editor, "sizeHeader");

    chooseVendor(editor, RouterVendor::simulator);
    QVERIFY(!shown(&editor, "networkSection"));
    QVERIFY(shown(&editor, "sizeSection"));
    QCOMPARE(header->text(), QStringLiteral("Simulator size"));
    QCOMPARE(sources->text(), QStringLiteral("Sources: 16"));
    QCOMPARE(destinations->text(), QStringLiteral("Destinations: 16"));
    QCOMPARE(sources->minimum(), 2);
    QCOMPARE(sources->maximum(), 64);
    QCOMPARE(destinations->maximum(), 64);
    sources->stepUp();
    destinations->setValue(2);
    QCOMPARE(editor.model().draft().simSourceCount, 17);
    QCOMPARE(editor.model().draft().simDestinationCount, 2);
    destinations->stepDown();
    QCOMPARE(editor.model().draft().simDestinationCount, 2);
    // Host and port stay in the draft while hidden.
    QCOMPARE(editor.model().draft().host, QStringLiteral("10.0.0.2"));

    chooseVendor(editor, RouterVendor::rossUltrix);
    QVERIFY(shown(&editor, "networkSection"));
    QCOMPARE(header->text(), QStringLiteral("Matrix size"));
    QCOMPARE(sources->maximum(), 1024);
    QCOMPARE(sources->text(), QStringLiteral("Sources: 17"));
    QCOMPARE(child<QLineEdit>(&editor, "hostField")->text(), QStringLiteral("10.0.0.2"));

    chooseVendor(editor, RouterVendor::lightware);
    QVERIFY(!shown(&editor, "sizeSection"));
    QVERIFY(shown(&editor, "networkSection"));
}

void TestEditor::steppersKeepAStoredCountUntilStepped()
{
    RouterConnection saved;
    saved.name = QStringLiteral("Demo");
    saved.vendor = RouterVendor::simulator;
    saved.port = 0;
    saved.simSourceCount = 500;
    auto store = makeStore();
    RouterEditor editor(*store, saved, m_network.options());
    auto *sources = child<QSpinBox>(&editor, "sourceStepper");
    QCOMPARE(sources->text(), QStringLiteral("Sources: 500"));
    QCOMPARE(editor.model().draft().simSourceCount, 500);
    sources->stepUp();
    QCOMPARE(editor.model().draft().simSourceCount, 500);
    sources->stepDown();
    QCOMPARE(editor.model().draft().simSourceCount, 64);
    QCOMPARE(sources->text(), QStringLiteral("Sources: 64"));
    QCOMPARE(sources->maximum(), 64);

    // Typing 70 used to refuse the "0" and leave 7; past the end the count stops there.
    sources->selectAll();
    QTest::keyClicks(sources, QStringLiteral("70"));
    QCOMPARE(sources->text(), QStringLiteral("Sources: 64"));
    QCOMPARE(editor.model().draft().simSourceCount, 64);
}

void TestEditor::wheelEditsOnlyAFocusedField()
{
    installFocusedWheel();
    auto store = makeStore();
    RouterEditor editor(*store, std::nullopt, m_network.options());
    editor.resize(440, 300);
    editor.show();
    editor.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&editor));
    auto *combo = child<QComboBox>(&editor, "vendorCombo");
    QScrollBar *bar = child<QScrollArea>(&editor, "editorScroll")->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    // As the window system delivers it: spontaneous, so it may focus and propagate.
    const auto wheelDown = [combo] {
        const QPointF at = QRectF(combo->rect()).center();
        QWheelEvent wheel(at, combo->mapToGlobal(at), {}, QPoint(0, -120), Qt::NoButton, {},
                          Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&wheel);
        qApp->notify(combo, &wheel);
    };
    const QString vendor = combo->currentText();

    wheelDown();
    QCOMPARE(combo->currentText(), vendor);
    QVERIFY(!combo->hasFocus());
    QVERIFY(bar->value() > 0);

    combo->setFocus();
    const int scrolled = bar->value();
    wheelDown();
    QCOMPARE_NE(combo->currentText(), vendor);
    QCOMPARE(bar->value(), scrolled);
}

void TestEditor::swatchesChooseTheHue()
{
    auto store = makeStore();
    RouterEditor editor(*store, std::nullopt, m_network.options());
    editor.show();
    auto *row = child<AccentSwatches>(&editor, "accentSwatches");
    const QList<AccentSwatch *> swatches = row->swatches();
    QCOMPARE(swatches.size(), 9);
    QCOMPARE(swatches.first()->toolTip(), QStringLiteral("Default for this router type"));
    QCOMPARE(swatches.first()->color(), RouterVendor(RouterVendor::blackmagicVideohub).tint());

    click(swatches[4]);
    QCOMPARE(editor.model().draft().accentHue, std::optional<double>(0.0));
    QVERIFY(swatches[4]->isSelected() && !swatches.first()->isSelected());
    QCOMPARE(swatches[4]->color(), ([] {
                 RouterConnection c;
                 c.accentHue = 0.0;
                 return c.tint();
             }()));

    // The automatic swatch wears the vendor's colour whatever hue is chosen.
    chooseVendor(editor, RouterVendor::rossUltrix);
    QCOMPARE(swatches.first()->color(), RouterVendor(RouterVendor::rossUltrix).tint());
    QCOMPARE(editor.model().draft().accentHue, std::optional<double>(0.0));

    click(swatches.first());
    QVERIFY(!editor.model().draft().accentHue);
    QVERIFY(swatches.first()->isSelected() && !swatches[4]->isSelected());
}

void TestEditor::searchingThenDevicesThenBrowseError()
{
    auto store = makeStore();
    RouterEditor editor(*store, std::nullopt, m_network.options());
    QCOMPARE(m_network.started(), 0);
    editor.show();
    QTRY_COMPARE(m_network.started(), 2);
    QVERIFY(shown(&editor, "searching"));
    QCOMPARE(child<QLabel>(&editor, "searching")->text(),
             QStringLiteral("Searching your network\u2026"));

    m_network.videohubBrowser()->publish(
        hubs({ QStringLiteral("Studio A"), QStringLiteral("Alpha <b>Hub</b>") }));
    QTRY_COMPARE(deviceButtons(&editor).size(), 2);
    QVERIFY(!shown(&editor, "searching"));
    const QList<QAbstractButton *> buttons = deviceButtons(&editor);
    auto *first = buttons[0]->findChild<QLabel *>(QStringLiteral("deviceName"));
    auto *second = buttons[1]->findChild<QLabel *>(QStringLiteral("deviceName"));
    QCOMPARE(first->text(), QStringLiteral("Alpha <b>Hub</b>"));
    QCOMPARE(first->textFormat(), Qt::PlainText);
    QCOMPARE(second->text(), QStringLiteral("Studio A"));

    m_network.videohubBrowser()->fail(QStringLiteral("Daemon not running"));
    QTRY_VERIFY(shown(&editor, "browseError"));
    QVERIFY(deviceButtons(&editor).isEmpty());
    QVERIFY(child<QLabel>(&editor, "browseError")->text().contains(u"Daemon not running"));
    // The rest of the form still works.
    retype(child<QLineEdit>(&editor, "nameField"), QStringLiteral("Hub"));
    QCOMPARE(editor.model().draft().name, QStringLiteral("Hub"));
}

void TestEditor::choosingADeviceFillsTheForm_data()
{
    QTest::addColumn<bool>("resolves");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::newRow("resolved") << true << "10.0.0.5"
                              << "9990";
    // Lightware's default port follows the vendor to Videohub; the typed host stays.
    QTest::newRow("failed") << false << "10.9.9.9"
                            << "9990";
}

void TestEditor::choosingADeviceFillsTheForm()
{
    QFETCH(bool, resolves);
    auto store = makeStore();
    RouterEditor editor(*store, std::nullopt, m_network.options());
    editor.show();
    chooseVendor(editor, RouterVendor::lightware);
    retype(child<QLineEdit>(&editor, "hostField"), QStringLiteral("10.9.9.9"));
    QTRY_VERIFY(m_network.videohubBrowser());
    m_network.videohubBrowser()->publish(
        hubs({ QStringLiteral("Studio Hub"), QStringLiteral("Truck Hub") }));
    QTRY_COMPARE(deviceButtons(&editor).size(), 2);

    QList<QAbstractButton *> buttons = deviceButtons(&editor);
    click(buttons[0]);
    QTRY_COMPARE(m_network.resolving.size(), 1);
    QCOMPARE(m_network.resolving.first().serviceName, QStringLiteral("Studio Hub"));
    // While it resolves, every device is off and only the chosen one spins.
    for (QAbstractButton *button : buttons)
        QVERIFY(!button->isEnabled());
    const auto spins = [](QAbstractButton *button) {
        return button->findChild<QWidget *>(QStringLiteral("deviceSpinner"))->isVisibleTo(button);
    };
    QVERIFY(spins(buttons[0]));
    QVERIFY(!spins(buttons[1]));
    click(buttons[1]);
    QCoreApplication::processEvents();
    QCOMPARE(m_network.resolving.size(), 1);

    m_network.answer(
        resolves ? std::optional(RouterDiscovery::Endpoint { QStringLiteral("10.0.0.5"), 9990 })
                 : std::nullopt);
    QFETCH(QString, host);
    QFETCH(QString, port);
    QCOMPARE(child<QLineEdit>(&editor, "nameField")->text(), QStringLiteral("Studio Hub"));
    QCOMPARE(child<QComboBox>(&editor, "vendorCombo")->currentText(),
             RouterVendor(RouterVendor::blackmagicVideohub).displayName());
    QCOMPARE(child<QLineEdit>(&editor, "hostField")->text(), host);
    QCOMPARE(child<QLineEdit>(&editor, "portField")->text(), port);
    const RouterConnection &draft = editor.model().draft();
    QCOMPARE(draft.bonjourName, std::optional<QString>(QStringLiteral("Studio Hub")));
    QCOMPARE(draft.bonjourType, std::optional<QString>(QStringLiteral("_videohub._tcp")));
    QCOMPARE(draft.bonjourDomain, std::optional<QString>(QStringLiteral("local.")));
    for (QAbstractButton *button : deviceButtons(&editor)) {
        QVERIFY(button->isEnabled());
        QVERIFY(!spins(button));
    }
}

void TestEditor::savingANewRouterAddsAndSelectsIt()
{
    auto store = makeStore();
    const qsizetype count = store->connections().size();
    RouterEditor editor(*store, std::nullopt, m_network.options());
    editor.show();
    retype(child<QLineEdit>(&editor, "nameField"), QStringLiteral(" a"));
    retype(child<QLineEdit>(&editor, "hostField"), QStringLiteral("10.0.0.7"));
    retype(child<QLineEdit>(&editor, "portField"), QStringLiteral("9001"));
    const RouterConnection draft = editor.model().draft();

    click(child<QPushButton>(&editor, "saveButton"));
    QVERIFY(!editor.isVisible());
    QCOMPARE(editor.result(), int(QDialog::Accepted));
    QCOMPARE(store->connections().size(), count + 1);
    const RouterConnection stored = store->connections().last();
    QCOMPARE(stored, draft);
    QCOMPARE(stored.name, QStringLiteral(" a"));
    QCOMPARE(stored.port, 9001);
    QCOMPARE(store->selectedConnectionID(), std::optional<QUuid>(draft.id));
    QVERIFY(storeFile().contains(draft.id.toString(QUuid::WithoutBraces).toUpper().toUtf8()));
}

void TestEditor::savingAnEditReplacesItAndDropsItsController()
{
    auto store = makeStore();
    const RouterConnection original = store->connections().at(1);
    const ConnectionStore::ControllerPtr before = store->controller(original);
    RouterEditor editor(*store, original, m_network.options());
    editor.show();
    chooseVendor(editor, RouterVendor::ajaKumo);
    retype(child<QLineEdit>(&editor, "hostField"), QStringLiteral("10.0.0.8"));

    click(child<QPushButton>(&editor, "saveButton"));
    QVERIFY(!editor.isVisible());
    const RouterConnection stored = store->connections().at(1);
    QCOMPARE(stored.id, original.id);
    QCOMPARE(RouterVendor::Value(stored.vendor), RouterVendor::ajaKumo);
    QCOMPARE(stored.host, QStringLiteral("10.0.0.8"));
    QCOMPARE(store->controller(stored) == before, false);
}

void TestEditor::cancelLeavesTheStoreUntouched()
{
    auto store = makeStore();
    const RouterConnection original = store->connections().at(0);
    const ConnectionStore::ControllerPtr controller = store->controller(original);
    const QList<RouterConnection> list = store->connections();
    const QByteArray file = storeFile();

    RouterEditor editing(*store, original, m_network.options());
    editing.show();
    retype(child<QLineEdit>(&editing, "nameField"), QStringLiteral("Changed"));
    click(child<QPushButton>(&editing, "cancelButton"));
    QVERIFY(!editing.isVisible());
    QCOMPARE(editing.result(), int(QDialog::Rejected));

    RouterEditor adding(*store, std::nullopt, m_network.options());
    adding.show();
    QTest::keyClick(child<QLineEdit>(&adding, "nameField"), Qt::Key_Escape);
    QVERIFY(!adding.isVisible());

    QCOMPARE(store->connections(), list);
    QCOMPARE(store->controller(original), controller);
    QCOMPARE(storeFile(), file);
}

void TestEditor::closingEndsBrowsingAndTheResolution()
{
    auto store = makeStore();
    RouterEditor editor(*store, std::nullopt, m_network.options());
    editor.show();
    QTRY_VERIFY(m_network.videohubBrowser());
    m_network.videohubBrowser()->publish(hubs({ QStringLiteral("Studio Hub") }));
    QTRY_COMPARE(deviceButtons(&editor).size(), 1);
    click(deviceButtons(&editor).first());
    QTRY_COMPARE(m_network.resolving.size(), 1);
    const RouterConnection before = editor.model().draft();

    editor.reject();
    QCOMPARE(m_network.browsers.cancelled, 2);
    m_network.answer(RouterDiscovery::Endpoint { QStringLiteral("10.0.0.5"), 9990 });
    QCOMPARE(editor.model().draft(), before);
    QCOMPARE(editor.model().resolvingDevice(), QString());
}

void TestEditor::destroyingAnOpenSheetEndsBrowsing()
{
    auto store = makeStore();
    auto *editor = new RouterEditor(*store, std::nullopt, m_network.options());
    editor->show();
    QTRY_COMPARE(m_network.started(), 2);
    delete editor;
    QCOMPARE(m_network.browsers.cancelled, 2);

    // A sheet closed before browsing could start never browses.
    RouterEditor brief(*store, std::nullopt, m_network.options());
    brief.show();
    brief.reject();
    QCoreApplication::processEvents();
    QCOMPARE(m_network.started(), 0);
}

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
