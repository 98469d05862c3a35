// Opens every screen in its main states at the smallest and a large window size, with long
// names and long failure texts, and checks that no visible text is given less room than it
// needs and that the floating control bar leaves nothing behind when it changes shape.
#include "ControllerRig.h"
#include "Controllers/ConnectionStore.h"
#include "Drivers/SimulatorDriver.h"
#include "FakeServiceBrowser.h"
#include "Platform/Text.h"
#include "SteppedAnimations.h"
#include "Support/LiveFeedChecker.h"
#include "Theme/Controls.h"
#include "Views/Matrix/CrosspointMatrixView.h"
#include "Views/Shell/AboutView.h"
#include "Views/Shell/RouterEditor.h"
#include "Views/Workspace/ControlBar.h"
#include "Views/Workspace/QuorvelView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPaintEngine>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QToolButton>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

const QSize smallest(860, 560);
const QSize large(1400, 900);

const QString longName = QStringLiteral("Outside Broadcast Truck Seven \u2014 Main Production");
const QString longFailure = QStringLiteral(
    "The router at 127.0.0.1:9990 closed the connection while its state was being read: it may "
    "be serving another control panel, or its control port is switched off.");

QString where(const QWidget *widget)
{
    QStringList path;
    for (const QWidget *w = widget; w; w = w->parentWidget())
        path.prepend(w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                               : w->objectName());
    return path.join(QLatin1Char('/'));
}

QString withoutMnemonics(QString text)
{
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

// Every visible text-bearing widget under `root` that is smaller than its text needs.
QStringList clippedTexts(QWidget *root)
{
    QStringList found;
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    for (QWidget *w : std::as_const(widgets)) {
        if (!w->isVisible() || w->size().isEmpty() || qobject_cast<ElidedLabel *>(w))
            continue;
        const QSize size = w->size();
        if (auto *label = qobject_cast<QLabel *>(w)) {
            const QString text = label->text();
            const bool rich = label->textFormat() == Qt::RichText
                || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
            if (text.isEmpty() || rich)
                continue;
            if (label->wordWrap()) {
                const int need = label->heightForWidth(size.width());
                if (size.height() < need)
                    found << QStringLiteral("%1 \"%2\": %3 px high, needs %4")
                                 .arg(where(w), text)
                                 .arg(size.height())
                                 .arg(need);
                continue;
            }
            const QFontMetrics metrics(label->font());
            const QStringList lines = text.split(QLatin1Char('\n'));
            int widest = 0;
            for (const QString &line : lines)
                widest = std::max(widest, metrics.horizontalAdvance(line));
            const QSize room = label->contentsRect().size();
            const int tall = int(lines.size() - 1) * metrics.lineSpacing() + metrics.height();
            if (room.width() < widest || room.height() < tall)
                found << QStringLiteral("%1 \"%2\": %3x%4, needs %5x%6")
                             .arg(where(w), text)
                             .arg(room.width())
                             .arg(room.height())
                             .arg(widest)
                             .arg(tall);
        } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            // A button that shows only its symbol keeps its words for tips and screen readers.
            if (auto *tool = qobject_cast<QToolButton *>(w);
                tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly)
                continue;
            const QString text = withoutMnemonics(button->text());
            const QFontMetrics metrics(button->font());
            if (!text.isEmpty()
                && (size.width() < metrics.horizontalAdvance(text)
                    || size.height() < metrics.height()))
                found << QStringLiteral("%1 \"%2\": %3x%4")
                             .arg(where(w), text)
                             .arg(size.width())
                             .arg(size.height());
        } else if (!w->layout() && w->hasHeightForWidth()
                   && size.height() < w->heightForWidth(size.width())) {
            // Widgets that wrap text of their own: the error banner, the control bar.
            found << QStringLiteral("%1: %2 px high, needs %3")
                         .arg(where(w))
                         .arg(size.height())
                         .arg(w->heightForWidth(size.width()));
        }
    }
    return found;
}

std::shared_ptr<RouterController> shared(RouterController &controller)
{
    return { &controller, [](RouterController *) {
            } };
}

RouterState longState(int sources, int destinations, int levels)
{
    RouterState state = makeState(sources, destinations, levels);
    state.model = QStringLiteral("Ultra-Wide Production Frame 288\u00d7288 with Audio Breakaway");
    for (Port &port : state.sources)
        port.label = QStringLiteral("Camera %1 Long Lens Iso Feed").arg(port.index + 1);
    for (Port &port : state.destinations)
        port.label = QStringLiteral("Programme Monitor Wall %1").arg(port.index + 1);
    return state;
}

// Keeps every run of text painted on it, and whether the run reads right to left.
struct TextRecorder final : QImage, QPaintEngine
{
    TextRecorder()
        : QImage(3000, 2000, Format_ARGB32)
        , QPaintEngine(AllFeatures)
    { }
    QPaintEngine *paintEngine() const override { return const_cast<TextRecorder *>(this); }
    bool begin(QPaintDevice *) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState &) override { }
    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override { }
    void drawPolygon(const QPointF *, int, PolygonDrawMode) override { }
    void drawPath(const QPainterPath &) override { }
    void drawTextItem(const QPointF &, const QTextItem &item) override
    {
        runs.append({ item.text(), bool(item.renderFlags() & QTextItem::RightToLeft) });
    }
    Type type() const override { return User; }
    QList<std::pair<QString, bool>> runs;
};

} // namespace

class TestLayoutAudit : public QObject
{
    Q_OBJECT

private slots:
    void workspaceInEveryStatus();
    void sheetsAndAlerts();
    void editorAndAbout();
    void controlBarLeavesNoTrail();
    void hostileNamesStayInTheirPlace();

private:
    void check(QWidget *root, const QString &state)
    {
        m_clock.settle();
        const QStringList found = clippedTexts(root);
        if (!found.isEmpty())
            QFAIL(qPrintable(state + QStringLiteral(": ") + found.join(QStringLiteral("; "))));
    }
    // Audits the dialog `open` brings up, then closes it. It lies in the window's content,
    // below the menu bar, and on the screen; the buttons outside its scrolling body (Cancel,
    // Done, Save…) lie whole inside it. The button named `over`, if any, opens a sheet over it.
    void checkDialog(QWidget *window, const std::function<void()> &open, const QString &state,
                     const char *over = nullptr)
    {
        open();
        m_clock.settle();
        QDialog *dialog = nullptr;
        for (QDialog *d : window->findChildren<QDialog *>())
            if (d->isVisible() && (!dialog || d->parentWidget()->window() == dialog))
                dialog = d;
        QVERIFY2(dialog, qPrintable(state));
        check(dialog, state);
        if (auto *main = qobject_cast<QMainWindow *>(window)) {
            const QWidget *content = main->centralWidget();
            const QRect room = QRect(content->mapToGlobal(QPoint()), content->size())
                                   .intersected(window->screen()->availableGeometry());
            QVERIFY2(room.contains(dialog->frameGeometry()), qPrintable(state));
        }
        for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
            bool scrolls = false;
            for (QWidget *w = button; w != dialog && !scrolls; w = w->parentWidget())
                scrolls = qobject_cast<QAbstractScrollArea *>(w);
            if (button->isVisible() && button->window() == dialog && !scrolls)
                QVERIFY2(
                    dialog->rect().contains(QRect(button->mapTo(dialog, QPoint()), button->size())),
                    qPrintable(state + QStringLiteral(": ") + button->text()));
        }
        if (over)
            checkDialog(
                window, [&] { dialog->findChild<QAbstractButton *>(over)->click(); },
                state + QStringLiteral(", over it"));
        QPointer<QDialog> closing(dialog);
        dialog->reject();
        m_clock.settle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY2(!closing, qPrintable(state + QStringLiteral(" stays")));
    }

    SteppedAnimations m_clock;
};

void TestLayoutAudit::workspaceInEveryStatus()
{
    ControllerRig rig;
    rig.connection.name = longName;
    RouterController &controller = rig.make();
    QuorvelView view(shared(controller));
    for (const QSize &size : { smallest, large }) {
        const QString at = QStringLiteral(" at %1x%2").arg(size.width()).arg(size.height());
        view.resize(size);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        controller.disconnect();
        check(&view, QStringLiteral("offline") + at);
        controller.connect();
        check(&view, QStringLiteral("connecting") + at);
        for (const QString &failure :
             { QStringLiteral("The router didn't answer within 12 seconds."), longFailure }) {
            rig.drivers.last()->emitEvent(RouterDriverEvent::makeError(failure));
            check(&view, QStringLiteral("failed") + at);
            controller.connect();
        }

        rig.connectWith(longState(24, 24, 3));
        SubPanel panel
            = makePanel(QStringLiteral("Studio B Presentation Gallery"), { 0, 1, 2 }, { 0, 1 });
        controller.savePanel(panel);
        controller.savePanel(makePanel(QStringLiteral("Edit Suite"), { 3 }, { 3 }));
        controller.saveSalvo(QStringLiteral("Evening News Opening Sequence"), std::nullopt);
        controller.setActivePanelID(std::nullopt);
        controller.setLastError(longFailure);
        for (const RouteViewMode mode : { RouteViewMode::matrix, RouteViewMode::list }) {
            controller.setViewMode(mode);
            for (const TakeMode take : { TakeMode::immediate, TakeMode::confirm }) {
                controller.setTakeMode(take);
                controller.setPendingDestination(2);
                controller.setPendingSource(5);
                check(&view, QStringLiteral("connected") + at);
            }
        }
        controller.setPendingSource(std::nullopt);
        controller.setPendingDestination(std::nullopt);
        controller.setTakeMode(TakeMode::immediate);
        controller.setLastError(std::nullopt);

        // A panel none of whose ports the router has.
        controller.savePanel(makePanel(QStringLiteral("Gone"), { 900 }, { 900 }));
        for (const SubPanel &saved : controller.panels())
            if (saved.name == QStringLiteral("Gone"))
                controller.setActivePanelID(saved.id);
        check(&view, QStringLiteral("mismatch") + at);
        controller.setActivePanelID(std::nullopt);
        for (const SubPanel &saved : QList<SubPanel>(controller.panels()))
            controller.deletePanel(saved);
        for (const Salvo &salvo : QList<Salvo>(controller.salvos()))
            controller.deleteSalvo(salvo);
    }
}

void TestLayoutAudit::sheetsAndAlerts()
{
    ControllerRig rig;
    rig.connection.name = longName;
    rig.connectWith(longState(1024, 1024, 2));
    RouterController &controller = *rig.controller;
    // The smallest main window: its content at the smallest size, under its menu bar.
    QMainWindow window;
    window.menuBar()->addMenu(QStringLiteral("Quorvel"));
    auto *workspace = new QuorvelView(shared(controller));
    window.setCentralWidget(workspace);
    QuorvelView &view = *workspace;
    window.show();
    window.resize(smallest.width(), smallest.height() + window.menuBar()->sizeHint().height());
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(view.size(), smallest);

    checkDialog(
        &window, [&] { view.showSalvos(); }, QStringLiteral("salvos, none"));
    checkDialog(
        &window, [&] { view.showPanels(); }, QStringLiteral("panels, none"));
    controller.savePanel(makePanel(QStringLiteral("Studio B Presentation Gallery"),
                                   { 0, 99, 999, 1023 }, { 1, 1000 }));
    controller.saveSalvo(QStringLiteral("Evening News Opening Sequence"), std::nullopt);
    const SubPanel panel = controller.panels().constFirst();
    checkDialog(
        &window, [&] { view.showSalvos(); }, QStringLiteral("salvos"));
    checkDialog(
        &window, [&] { view.showPanels(); }, QStringLiteral("panels"), "listNewPanel");
    checkDialog(
        &window, [&] { view.showLabels(); }, QStringLiteral("labels"), "pasteButton");
    checkDialog(
        &window, [&] { view.editPanel(panel); }, QStringLiteral("panel editor"));
    checkDialog(
        &window, [&] { view.editPanel(controller.newPanelDraft()); }, QStringLiteral("new panel"));
    checkDialog(
        &window, [&] { view.confirmDeletePanel(panel); }, QStringLiteral("delete panel"));
    checkDialog(
        &window, [&] { controller.beginRename(PortKind::source, 3); }, QStringLiteral("rename"));
}

void TestLayoutAudit::editorAndAbout()
{
    QTemporaryDir dir;
    ConnectionStore::Options options;
    options.connectionsPath = dir.filePath(QStringLiteral("connections.json"));
    options.labelsPath = dir.filePath(QStringLiteral("labels.json"));
    options.salvosPath = dir.filePath(QStringLiteral("salvos.json"));
    options.panelsPath = dir.filePath(QStringLiteral("panels.json"));
    options.driverMaker = [](const RouterConnection &connection) -> RouterDriverPtr {
        return std::make_shared<SimulatorDriver>(connection, SimulatorDriver::Timing {});
    };
    options.usage = RouterController::UsageHooks {};
    ConnectionStore store(options);
    FakeServiceBrowsers browsers;
    RouterEditor::Options editorOptions;
    editorOptions.browserFactory = browsers.factory();
    editorOptions.resolver = [](const RouterDiscovery::Device &, double, QObject *,
                                RouterDiscovery::ResolveCompletion) {
    };

    RouterConnection saved = store.connections().constFirst();
    saved.name = longName;
    for (const std::optional<RouterConnection> &existing :
         { std::optional<RouterConnection>(), std::optional(saved) }) {
        RouterEditor editor(store, existing, editorOptions);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        check(&editor, existing ? QStringLiteral("edit router") : QStringLiteral("add router"));
    }

    AboutView about({}, new LiveFeedChecker(QUrl(), 1000), nullptr);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    check(&about, QStringLiteral("about"));
}

void TestLayoutAudit::controlBarLeavesNoTrail()
{
    ControllerRig rig;
    rig.connectWith(longState(24, 24, 3));
    RouterController &controller = *rig.controller;
    QuorvelView view(shared(controller));
    view.resize(large);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    auto *bar = view.findChild<ControlBar *>();

    // Wide with the take cluster, then narrow: what the old frame covered must be repainted.
    controller.setTakeMode(TakeMode::confirm);
    controller.setPendingDestination(2);
    m_clock.settle();
    controller.setTakeMode(TakeMode::immediate);
    m_clock.settle();
    QTest::qWait(60); // the window repaints on its own frame timer

    const QImage shown
        = view.screen()->grabWindow(view.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage fresh = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), fresh.size());
    const QRect band = QRect(0, bar->geometry().top(), view.width(), bar->height());
    int stale = 0;
    for (int y = band.top(); y <= band.bottom(); ++y)
        for (int x = band.left(); x <= band.right(); ++x) {
            const QColor a = shown.pixelColor(x, y), b = fresh.pixelColor(x, y);
            stale += std::abs(a.red() - b.red()) + std::abs(a.green() - b.green())
                    + std::abs(a.blue() - b.blue())
                > 12;
        }
    QCOMPARE(stale, 0);

    // Scrolled to the end, the last row stands clear above the bar at both sizes.
    auto *matrix = view.findChild<CrosspointMatrixView *>();
    for (const QSize &size : { large, smallest }) {
        view.resize(size);
        m_clock.settle();
        matrix->verticalScrollBar()->setValue(matrix->verticalScrollBar()->maximum());
        QApplication::processEvents();
        const QRect last = matrix->destinationHeaderRect(23).translated(
            matrix->viewport()->mapTo(&view, QPoint()));
        QVERIFY2(last.bottom() < bar->geometry().top(),
                 qPrintable(QStringLiteral("row ends at %1, bar starts at %2")
                                .arg(last.bottom())
                                .arg(bar->geometry().top())));
    }
}

void TestLayoutAudit::hostileNamesStayInTheirPlace()
{
    // Substituted twice, "%1%2" would be eaten; the stray PDI would close its isolate early,
    // and the override left open would then turn everything after the name around.
    const QString hostile = QStringLiteral("\u0298%1%2\u2069\u202Ezz");
    ControllerRig rig;
    rig.connection.name = rig.connection.host = hostile;
    RouterController &controller = rig.make();
    QuorvelView view(shared(controller));
    view.resize(large);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QStringList found;
    const auto sweep = [&](QWidget *root, const QString &scene) {
        m_clock.settle();
        TextRecorder recorder;
        root->render(&recorder);
        int shown = 0;
        for (const auto &[painted, rightToLeft] : recorder.runs) {
            QString text = Text::spoken(painted);
            if (text.contains(u'\u0298') && ++shown && !text.contains(u"\u0298%1%2"))
                found << scene + QStringLiteral(": substituted in ") + text;
            if (rightToLeft && !text.remove(u'z').remove(u'\u2026').isEmpty())
                found << scene + QStringLiteral(": turned around ") + text;
        }
        if (shown == 0)
            found << scene + QStringLiteral(": no name shown");
    };
    sweep(&view, QStringLiteral("offline"));

    RouterState state = makeState(4, 4);
    state.deviceName = state.model = state.levels[0].name = hostile;
    state.sources[1].label = state.destinations[1].label = hostile;
    state.lockedDestinations = { 1 };
    rig.connectWith(state);
    controller.savePanel(makePanel(hostile, { 0, 1 }, { 0, 1 }));
    const SubPanel panel = controller.panels().constFirst();
    controller.setActivePanelID(panel.id);
    controller.take(0, 0);
    controller.saveSalvo(hostile, panel.id);
    controller.take(1, 1); // refused: the destination is locked
    controller.setTakeMode(TakeMode::confirm);
    controller.setPendingDestination(1);
    controller.setPendingSource(1);
    for (const RouteViewMode mode : { RouteViewMode::matrix, RouteViewMode::list }) {
        controller.setViewMode(mode);
        sweep(&view, QStringLiteral("connected ") + rawValue(mode));
    }
    QVERIFY2(found.isEmpty(), qPrintable(found.join(u'\n')));
}

QTEST_MAIN(TestLayoutAudit)
#include "tst_layoutaudit.moc"
