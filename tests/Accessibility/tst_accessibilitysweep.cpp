// The application as a screen reader meets it: the accessibility tree of the main window
// (a simulator router connected, in matrix and in list mode) and of every sheet. Each control
// has a name and a role, the actions a sighted operator has by pointer are there, nothing
// drawn for the eye alone is read, no state is spoken as text and no text carries markup.
#include "App/ContentView.h"
#include "App/QuorvelApp.h"
#include "Controllers/ConnectionStore.h"
#include "Drivers/SimulatorDriver.h"
#include "FakeServiceBrowser.h"
#include "SteppedAnimations.h"
#include "Support/Gui/Updater.h"
#include "Support/LiveFeedChecker.h"
#include "Theme/GlassKit.h"
#include "Views/Labels/PasteLabelsSheet.h"
#include "Views/Matrix/CrosspointMatrixView.h"
#include "Views/Salvos/SalvoFireConfirmation.h"
#include "Views/Shell/AboutView.h"
#include "Views/Workspace/PanelTabStrip.h"
#include "Views/Workspace/QuorvelView.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QButtonGroup>
#include <QDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#ifdef QUORVEL_HAVE_QT_GUI_PRIVATE
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#endif

namespace {

const QSet<QAccessible::Role> controlRoles {
    QAccessible::Button,       QAccessible::CheckBox,       QAccessible::RadioButton,
    QAccessible::ComboBox,     QAccessible::EditableText,   QAccessible::SpinBox,
    QAccessible::Slider,       QAccessible::PageTab,        QAccessible::ListItem,
    QAccessible::Cell,         QAccessible::MenuItem,       QAccessible::Link,
    QAccessible::ButtonMenu,   QAccessible::ButtonDropDown, QAccessible::RowHeader,
    QAccessible::ColumnHeader,
};
// Roles of controls that do something when activated.
const QSet<QAccessible::Role> pressRoles {
    QAccessible::Button,  QAccessible::CheckBox, QAccessible::RadioButton,
    QAccessible::PageTab, QAccessible::Link,     QAccessible::ButtonMenu,
};
// Words a picture of state would be spoken as, where a state flag belongs.
const QStringList stateWords { QStringLiteral("selected"), QStringLiteral("checked"),
                               QStringLiteral("on"), QStringLiteral("off") };

struct Element
{
    QAccessibleInterface *iface = nullptr;
    QString path;
};

// Every element a screen reader can reach under `root`, hidden subtrees left out.
QList<Element> walk(QAccessibleInterface *root)
{
    QList<Element> found;
    QList<Element> queue { { root, root->text(QAccessible::Name) } };
    while (!queue.isEmpty()) {
        const Element next = queue.takeFirst();
        if (next.iface->state().invisible)
            continue;
        found.append(next);
        // Long lists are read the same row after row: the first rows stand for the rest.
        const int children = std::min(next.iface->childCount(), 64);
        for (int i = 0; i < children; ++i) {
            if (QAccessibleInterface *child = next.iface->child(i))
                queue.append({ child,
                               next.path + u'/' + QString::number(child->role(), 16) + u':'
                                   + child->text(QAccessible::Name) });
        }
    }
    return found;
}

// A tag ("<qt>", "</b>", "<!--") or an entity: text meant for a rich-text renderer.
bool hasMarkup(const QString &text)
{
    for (const QString &entity : { QStringLiteral("&lt;"), QStringLiteral("&gt;"),
                                   QStringLiteral("&amp;"), QStringLiteral("&#") })
        if (text.contains(entity))
            return true;
    for (qsizetype at = text.indexOf(u'<'); at >= 0; at = text.indexOf(u'<', at + 1)) {
        const QChar next = at + 1 < text.size() ? text.at(at + 1) : QChar();
        if ((next.isLetter() || next == u'/' || next == u'!') && text.indexOf(u'>', at) > at)
            return true;
    }
    return false;
}

QStringList problems(const QList<Element> &elements)
{
    QStringList found;
    for (const Element &e : elements) {
        const QAccessible::Role role = e.iface->role();
        const QString name = e.iface->text(QAccessible::Name).trimmed();
        const bool control = controlRoles.contains(role);
        if (control && name.isEmpty())
            found << e.path + QStringLiteral(": a control without a name");
        // A leaf that takes focus is a control, and must say which.
        if (e.iface->state().focusable && e.iface->childCount() == 0 && !control
            && role != QAccessible::StaticText && role != QAccessible::List)
            found << e.path
                    + QStringLiteral(": takes focus without a control's role (%1)")
                          .arg(role, 0, 16);
        if (pressRoles.contains(role) && !e.iface->state().disabled
            && (!e.iface->actionInterface() || e.iface->actionInterface()->actionNames().isEmpty()))
            found << e.path + QStringLiteral(": a control without an action");
        if (role == QAccessible::StaticText && name.isEmpty())
            found << e.path + QStringLiteral(": an empty text is read");
        // One of a set that is chosen alone is heard as a radio button, never a check box.
        if (const auto *button = qobject_cast<QAbstractButton *>(e.iface->object());
            role == QAccessible::CheckBox && button && button->group()
            && button->group()->exclusive())
            found << e.path + QStringLiteral(": one of an exclusive set read as a check box");
        // A list is announced by its name when the reader enters it.
        bool holdsItems = role == QAccessible::List || role == QAccessible::Table;
        for (int i = 0; i < e.iface->childCount() && !holdsItems; ++i)
            holdsItems = e.iface->child(i) && e.iface->child(i)->role() == QAccessible::ListItem;
        if (holdsItems && name.isEmpty())
            found << e.path + QStringLiteral(": a list without a name");
        // A separator the eye needs between two texts is noise to the ear.
        static const QRegularExpression stray(QStringLiteral("(^|, )[\u00B7\u2022]|[\u00B7,]$"));
        if (stray.match(name).hasMatch())
            found << e.path + QStringLiteral(": a stray separator in \"%1\"").arg(name);
        for (const QAccessible::Text t : { QAccessible::Name, QAccessible::Description,
                                           QAccessible::Help, QAccessible::Value }) {
            const QString text = e.iface->text(t);
            if (hasMarkup(text))
                found << e.path + QStringLiteral(": markup in \"%1\"").arg(text);
            static const QRegularExpression controls(
                QStringLiteral("[\u202A-\u202E\u2066-\u2069]"));
            if (t != QAccessible::Value && t != QAccessible::Help && text.contains(controls))
                found << e.path + QStringLiteral(": directional controls in \"%1\"").arg(text);
            if (t != QAccessible::Name && stateWords.contains(text.trimmed(), Qt::CaseInsensitive))
                found << e.path + QStringLiteral(": a state spoken as text (\"%1\")").arg(text);
        }
    }
    return found;
}

// What a reader is told that the eye is not: an element shown inside a hidden one, a hidden
// item with extents, a focus besides the keyboard's widget and its one current item.
QStringList unseenProblems(QAccessibleInterface *root)
{
    QStringList found;
    QAccessibleInterface *keyboard
        = QAccessible::queryAccessibleInterface(QApplication::focusWidget());
    int focused = 0;
    QList<std::tuple<QAccessibleInterface *, QString, bool>> queue { { root, {}, false } };
    while (!queue.isEmpty()) {
        const auto [iface, path, hiddenAbove] = queue.takeFirst();
        const QAccessible::State state = iface->state();
        const bool hidden = hiddenAbove || state.invisible;
        if (hiddenAbove && !state.invisible)
            found << path + QStringLiteral(": shown inside a hidden parent");
        if (hidden && !iface->object() && !iface->rect().isEmpty())
            found << path + QStringLiteral(": hidden, yet has extents");
        if (state.focused && iface != keyboard && (focused++ > 0 || iface->parent() != keyboard))
            found << path + QStringLiteral(": focused besides the keyboard's widget");
        // A closed combo box's choices are Qt's own to tell.
        for (int i = 0; iface->role() != QAccessible::ComboBox && i < iface->childCount() && i < 64;
             ++i) {
            if (QAccessibleInterface *child = iface->child(i))
                queue.append({ child, path + u'/' + child->text(QAccessible::Name), hidden });
        }
    }
    return found;
}

// Crosspoints and destination headers that do not say what the eye sees: a route in the name
// or description and as the checked state, a lock in the description, a staging as selected.
QStringList matrixProblems(QAccessibleInterface *matrix, const RouterController &c)
{
    QStringList found;
    const QList<Port> &sources = c.visibleSources();
    const QList<Port> &destinations = c.visibleDestinations();
    const RouterState &state = c.state();
    for (int i = int(sources.size()); i < matrix->childCount(); ++i) {
        QAccessibleInterface *e = matrix->child(i);
        const QString said = e->text(QAccessible::Name) + u'|' + e->text(QAccessible::Description);
        const QAccessible::State flags = e->state();
        const qsizetype at = i - sources.size();
        const bool header = at < destinations.size();
        const Port &d = destinations.at(header ? at : (at - destinations.size()) / sources.size());
        const std::optional<int> routed = state.source(d.index, c.primaryLevel());
        bool wrong = said.contains(QStringLiteral("locked"), Qt::CaseInsensitive)
            != state.isLocked(d.index);
        if (header) {
            wrong = wrong || !said.contains(routed ? state.sources.at(*routed).label : "no source")
                || flags.selected != (c.pendingDestination() == d.index);
        } else {
            const Port &s = sources.at((at - destinations.size()) % sources.size());
            const bool connected = routed == s.index;
            wrong = wrong || !flags.checkable || flags.checked != connected
                || said.contains(QStringLiteral("Not connected")) == connected
                || flags.selected
                    != (c.pendingDestination() == d.index && c.pendingSource() == s.index);
        }
        if (wrong)
            found << QStringLiteral("%1 (%2) says \"%3\"").arg(i).arg(e->role(), 0, 16).arg(said);
    }
    return found;
}

// Qt hands accessibility events on only while the platform's accessibility is on, which a
// screen reader's arrival does and the offscreen platform never does by itself.
bool readerListening(bool on)
{
#ifdef QUORVEL_HAVE_QT_GUI_PRIVATE
    if (QPlatformAccessibility *platform
        = QGuiApplicationPrivate::platformIntegration()->accessibility()) {
        platform->setActive(on);
        return true;
    }
#endif
    Q_UNUSED(on);
    return false;
}

// What a screen reader is told, as (event, element name) pairs.
QList<std::pair<QAccessible::Event, QString>> heard;

void listen(QAccessibleEvent *event)
{
    if (QAccessibleInterface *iface = event->accessibleInterface())
        heard.append({ event->type(), iface->text(QAccessible::Name) });
}

// The first element named `name`, or null.
QAccessibleInterface *named(const QList<Element> &elements, const QString &name)
{
    for (const Element &e : elements)
        if (e.iface->text(QAccessible::Name) == name)
            return e.iface;
    return nullptr;
}

QDialog *openDialog(QWidget *window)
{
    for (QDialog *dialog : window->findChildren<QDialog *>())
        if (dialog->isVisible())
            return dialog;
    return nullptr;
}

RouterEditor::Options quietEditor()
{
    static FakeServiceBrowsers browsers;
    RouterEditor::Options options;
    options.browserFactory = browsers.factory();
    options.resolver = [](const RouterDiscovery::Device &, double, QObject *,
                          RouterDiscovery::ResolveCompletion) {
    };
    return options;
}

} // namespace

class TestAccessibilitySweep : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void mainWindowInBothModes();
    void everySheet();
    void matrixTellsWhatChanges();

private:
    // Sweeps `root`, failing with every problem found.
    void sweep(QWidget *root, const QString &scene, const QStringList &expectedActions = {})
    {
        m_clock.settle();
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(root);
        QVERIFY2(iface, qPrintable(scene));
        const QList<Element> elements = walk(iface);
        QStringList found = problems(elements) + unseenProblems(iface);
        // name=action: an element so named offers that action.
        for (const QString &expected : expectedActions) {
            const QString name = expected.section(u'=', 0, 0);
            const QString action = expected.section(u'=', 1);
            QAccessibleInterface *element = named(elements, name);
            if (!element || !element->actionInterface()
                || !element->actionInterface()->actionNames().contains(action))
                found << QStringLiteral("no \"%1\" offering \"%2\"").arg(name, action);
        }
        // Captions and symbols drawn for the eye alone: the panel strip's caption, the zoom
        // control's grid.
        for (QWidget *part :
             { static_cast<QWidget *>(root->findChild<PanelTabStrip *>()),
               static_cast<QWidget *>(root->findChild<GlassKit::MatrixZoomControl *>()) }) {
            if (!part || !part->isVisible())
                continue;
            for (const Element &e : walk(QAccessible::queryAccessibleInterface(part))) {
                if (e.iface->role() == QAccessible::StaticText
                    || e.iface->role() == QAccessible::Graphic)
                    found << e.path + QStringLiteral(": drawn for the eye, yet read");
            }
        }
        if (!found.isEmpty())
            QFAIL(qPrintable(scene + QStringLiteral(":\n  ") + found.join(QStringLiteral("\n  "))));
    }

    // Sweeps the sheet `open` brings up over `window`, then closes it.
    void sweepSheet(QWidget *window, const std::function<void()> &open, const QString &scene,
                    const std::function<QStringList(QDialog *)> &prepare = {})
    {
        open();
        m_clock.settle();
        QDialog *dialog = openDialog(window);
        QVERIFY2(dialog, qPrintable(scene));
        const QStringList expected = prepare ? prepare(dialog) : QStringList();
        // Every list with a current row, wherever the keyboard is.
        for (QAbstractItemView *list : dialog->findChildren<QAbstractItemView *>())
            if (list->model() && !list->currentIndex().isValid())
                list->setCurrentIndex(list->model()->index(0, 0));
        sweep(dialog, scene, expected);
        QPointer<QDialog> closing(dialog);
        dialog->reject();
        m_clock.settle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    SteppedAnimations m_clock;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ConnectionStore> m_store;
    std::unique_ptr<GentleUpdaterDelegate> m_delegate;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<MainWindow> m_window;
    RouterController *m_controller = nullptr;
};

void TestAccessibilitySweep::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    ConnectionStore::Options options;
    options.connectionsPath = m_dir->filePath(QStringLiteral("connections.json"));
    options.labelsPath = m_dir->filePath(QStringLiteral("labels.json"));
    options.salvosPath = m_dir->filePath(QStringLiteral("salvos.json"));
    options.panelsPath = m_dir->filePath(QStringLiteral("panels.json"));
    options.driverMaker = [](const RouterConnection &connection) -> RouterDriverPtr {
        return std::make_shared<SimulatorDriver>(connection, SimulatorDriver::Timing { {}, {} });
    };
    options.usage = RouterController::UsageHooks {};
    RouterConnection demo;
    demo.name = QStringLiteral("Demo");
    demo.vendor = RouterVendor::simulator;
    demo.simSourceCount = 8;
    demo.simDestinationCount = 8;
    QFile file(options.connectionsPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(QJsonArray { demo.toJson() }).toJson());
    file.close();
    m_store = std::make_unique<ConnectionStore>(options);
    m_delegate = std::make_unique<GentleUpdaterDelegate>();
    Updater::Options updater;
    updater.feedUrl = QUrl(QStringLiteral("http://127.0.0.1:9/appcast.xml"));
    m_updater = std::make_unique<Updater>(false, m_delegate.get(), updater);
    m_window = std::make_unique<MainWindow>(*m_store, *m_updater, quietEditor());
    m_window->resize(1180, 760);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTRY_VERIFY(m_window->content()->workspace());
    m_controller = m_store->controller(m_store->connections().constFirst()).get();
    QTRY_COMPARE(m_controller->status().kind(), ConnectionStatus::connected);

    // Enough to show every part: panel tabs, a salvo, a long label that the subtitles cut.
    m_controller->rename(PortKind::destination, 0,
                         QStringLiteral("Programme Monitor Wall Left Upper Quadrant Feed"));
    SubPanel cams;
    cams.name = QStringLiteral("Cams \u05D0\u202E"); // read without its directional controls
    cams.sourceIndices = { 0, 1 };
    cams.destinationIndices = { 0, 1 };
    m_controller->savePanel(cams);
    m_controller->setActivePanelID(std::nullopt);
    m_controller->saveSalvo(QStringLiteral("Morning"), std::nullopt);
    m_controller->take(2, 3);
    m_controller->saveSalvo(QStringLiteral("Now"), std::nullopt); // matches: active
    m_clock.settle();
}

void TestAccessibilitySweep::cleanup()
{
    m_window.reset();
    m_updater.reset();
    m_delegate.reset();
    m_store.reset();
    m_dir.reset();
}

void TestAccessibilitySweep::mainWindowInBothModes()
{
    RouterController &c = *m_controller;
    c.setViewMode(RouteViewMode::matrix);
    c.setTakeMode(TakeMode::confirm);
    c.setPendingDestination(1);
    c.setPendingSource(2);
    c.toggleLock(3);
    sweep(m_window.get(), QStringLiteral("matrix, confirm mode"));
    // What the eye sees beside a name: a router's address and status, a salvo's checkmark.
    const auto element = [this](const QString &name) {
        return named(walk(QAccessible::queryAccessibleInterface(m_window.get())), name);
    };
    QVERIFY(element(QStringLiteral("Demo, In-memory demo router, Online")));
    QCOMPARE(element(QStringLiteral("Now"))->text(QAccessible::Description),
             QStringLiteral("Active \u2014 matches current routing"));
    const QStringList wrong = matrixProblems(
        QAccessible::queryAccessibleInterface(m_window->findChild<CrosspointMatrixView *>()), c);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u'\n')));

    c.setViewMode(RouteViewMode::list);
    c.setTakeMode(TakeMode::immediate);
    m_window->resize(860, 560); // narrow: the subtitles are cut
    c.setSelectedDestination(0);
    sweep(m_window.get(), QStringLiteral("list"));

    c.setMultiSelectMode(true);
    c.toggleDestinationInGang(1);
    const QString first = c.visibleDestinations().at(1).label;
    sweep(m_window.get(), QStringLiteral("list, gang"),
          { QStringLiteral("Toggle %1 in selection=%2")
                .arg(first, QAccessibleActionInterface::toggleAction()) });

    c.disconnect(); // the router's row follows its status
    m_clock.settle();
    QVERIFY(named(walk(QAccessible::queryAccessibleInterface(m_window.get())),
                  QStringLiteral("Demo, In-memory demo router, Offline")));
}

void TestAccessibilitySweep::everySheet()
{
    QuorvelView *view = m_window->content()->workspace();
    RouterController &c = *m_controller;
    const SubPanel panel = c.panels().constFirst();
    sweepSheet(
        m_window.get(), [&] { view->showSalvos(); }, QStringLiteral("salvos"));
    sweepSheet(
        m_window.get(), [&] { view->showPanels(); }, QStringLiteral("panels"));
    sweepSheet(
        m_window.get(), [&] { view->showLabels(); }, QStringLiteral("labels"),
        [](QDialog *dialog) {
            // A typed name: its row offers Revert.
            auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("nameField"));
            if (!field) {
                auto *list = dialog->findChild<QAbstractItemView *>(QStringLiteral("sourcesList"));
                list->setFocus();
                list->setCurrentIndex(list->model()->index(0, 0));
                field = dialog->findChild<QLineEdit *>(QStringLiteral("nameField"));
            }
            field->selectAll();
            QTest::keyClicks(field, QStringLiteral("Renamed"));
            return QStringList { QStringLiteral("1 Renamed=Revert") };
        });
    sweepSheet(
        m_window.get(), [&] { view->editPanel(panel); }, QStringLiteral("panel editor"));
    sweepSheet(
        m_window.get(), [&] { view->editPanel(c.newPanelDraft()); }, QStringLiteral("new panel"));
    sweepSheet(
        m_window.get(), [&] { view->confirmDeletePanel(panel); }, QStringLiteral("delete panel"));
    sweepSheet(
        m_window.get(), [&] { c.beginRename(PortKind::source, 1); }, QStringLiteral("rename"));
    sweepSheet(
        m_window.get(), [&] { m_window->content()->presentEditor(std::nullopt); },
        QStringLiteral("router editor"));

    // These close themselves for good.
    sweepSheet(
        m_window.get(),
        [&] { (new SalvoFireConfirmation(c, c.salvos().constFirst(), m_window.get()))->open(); },
        QStringLiteral("fire confirmation"));
    sweepSheet(
        m_window.get(),
        [&] { (new PasteLabelsSheet([](const auto &, const auto &) {}, m_window.get()))->open(); },
        QStringLiteral("paste labels"));

    AboutView about({}, new LiveFeedChecker(QUrl(), 1000), nullptr);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    sweep(&about, QStringLiteral("about"));
}

void TestAccessibilitySweep::matrixTellsWhatChanges()
{
    RouterController &c = *m_controller;
    c.setViewMode(RouteViewMode::matrix);
    m_clock.settle();
    auto *matrix = m_window->findChild<CrosspointMatrixView *>();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    heard.clear();
    if (!readerListening(true))
        QSKIP("needs Qt's private GUI headers (qt6-base-private-dev) to listen as a reader");
    QAccessible::installUpdateHandler(listen);
    const auto quiet = qScopeGuard([] {
        QAccessible::installUpdateHandler(nullptr);
        readerListening(false);
    });
    const auto told = [](QAccessible::Event event, const QString &name) {
        const bool found = QTest::qWaitFor([&] { return heard.contains({ event, name }); }, 1000);
        for (const auto &[what, who] : found ? decltype(heard)() : heard)
            qWarning() << "heard" << what << who;
        return found;
    };
    const QString d1 = c.visibleDestinations().at(0).label;
    const QString from = QStringLiteral(" from ");

    // The keyboard's crosspoint or header is focused, and each move is told.
    matrix->setFocus(Qt::TabFocusReason);
    QVERIFY(told(QAccessible::Focus, d1 + from + c.visibleSources().at(0).label));
    QTest::keyClick(matrix, Qt::Key_Right);
    const QString s2 = c.visibleSources().at(1).label;
    QVERIFY(told(QAccessible::Focus, d1 + from + s2));
    QVERIFY(QAccessible::queryAccessibleInterface(matrix)->focusChild()->state().focused);
    QTest::keyClick(matrix, Qt::Key_Left);
    QTest::keyClick(matrix, Qt::Key_Left);
    const QString header = QStringLiteral("1 %1, from %2").arg(d1, c.visibleSources().at(0).label);
    QVERIFY(told(QAccessible::Focus, header));

    // A take is heard: the crosspoint turns checked and the row header names its new source.
    QTest::keyClick(matrix, Qt::Key_Right);
    QTest::keyClick(matrix, Qt::Key_Right);
    heard.clear();
    QTest::keyClick(matrix, Qt::Key_Space);
    QVERIFY(told(QAccessible::StateChanged, d1 + from + s2));
    QVERIFY(told(QAccessible::NameChanged, QStringLiteral("1 %1, from %2").arg(d1, s2)));
}

QTEST_MAIN(TestAccessibilitySweep)
#include "tst_accessibilitysweep.moc"
