// The whole program, run as an operator runs it: the application's own main() against
// loopback fake routers of every protocol, in a throw-away data folder, driven through the
// runner's script (AppScript.cpp) and ended by its "Quit Quorvel" menu item.

#include "FakeKumoServer.h"
#include "FakeLW3Router.h"
#include "FakeQuartzRouter.h"
#include "FakeSWP08Router.h"
#include "FakeVideohubRouter.h"
#include "Model/RouterModels.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// A data folder of its own per test, so that no two tests ever share a lock or a store.
struct Home
{
    QTemporaryDir dir;

    QString dataFolder() const { return dir.filePath(QStringLiteral("data/Quorvel")); }

    // The saved routers; no test may leave the store to seed its sample routers.
    void writeRouters(const QList<RouterConnection> &routers) const
    {
        QDir().mkpath(dataFolder());
        QJsonArray array;
        for (const RouterConnection &router : routers)
            array.append(router.toJson());
        QFile file(QDir(dataFolder()).filePath(QStringLiteral("connections.json")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(array).toJson());
        // Usage events off.
        QDir().mkpath(dir.filePath(QStringLiteral("config/Quorvel")));
        QFile settings(dir.filePath(QStringLiteral("config/Quorvel/Quorvel.conf")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[General]\nanalyticsOptOut=true\n");
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

    // Every file under the data folder with its content.
    QMap<QString, QByteArray> files() const
    {
        QMap<QString, QByteArray> found;
        QDirIterator it(dataFolder(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly))
                found.insert(it.filePath(), file.readAll());
        }
        return found;
    }
};

// One run of the application, reading what its script reports.
class App final : public QObject
{
public:
    explicit App(const Home &home, const QString &program = QStringLiteral(QUORVEL_RUNNER))
    {
        m_process.setProcessEnvironment(home.environment());
        connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] {
            m_out.append(m_process.readAllStandardOutput());
            for (qsizetype end; (end = m_out.indexOf('\n')) >= 0;) {
                const QStringList words = QString::fromUtf8(m_out.left(end)).split(' ');
                m_out.remove(0, end + 1);
                if (words.size() == 2 && words.first() == QLatin1String("window"))
                    window = words.at(1);
                else if (words.size() == 3 && words.first() == QLatin1String("status"))
                    states.insert(words.at(1).toInt(), words.at(2));
            }
        });
        m_process.start(program, {});
    }
    ~App() override
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    void send(const QByteArray &line) { m_process.write(line + '\n'); }
    QProcess &process() { return m_process; }

    // Quits through the menu item and waits for the process; the time it took, or -1.
    qint64 quit()
    {
        QElapsedTimer clock;
        clock.start();
        send("quit");
        if (!QTest::qWaitFor([&] { return m_process.state() == QProcess::NotRunning; }, 15000))
            return -1;
        return clock.elapsed();
    }

    // Whatever a sanitizer or a crash left on standard error.
    QString problems()
    {
        QStringList found;
        const QStringList lines = QString::fromUtf8(m_process.readAllStandardError()).split('\n');
        for (const QString &line : lines) {
            if (line.contains(QLatin1String("Sanitizer")) || line.contains("runtime error:")
                || line.contains(QLatin1String("QThread: Destroyed")))
                found.append(line);
        }
        return found.join('\n');
    }

    QHash<int, QString> states;
    QString window;

private:
    QProcess m_process;
    QByteArray m_out;
};

RouterConnection router(const QString &name, RouterVendor vendor, quint16 port)
{
    RouterConnection r;
    r.name = name;
    r.vendor = vendor;
    r.host = QStringLiteral("127.0.0.1");
    r.port = port;
    r.simSourceCount = 16;
    r.simDestinationCount = 16;
    return r;
}

// One fake router of every protocol (SW-P-08 for both of its vendors), each killable.
struct Fakes
{
    std::unique_ptr<FakeVideohubRouter> videohub = std::make_unique<FakeVideohubRouter>();
    std::unique_ptr<FakeSWP08Router> ultrix = std::make_unique<FakeSWP08Router>(16, 16);
    std::unique_ptr<FakeSWP08Router> swp08 = std::make_unique<FakeSWP08Router>(16, 16);
    std::unique_ptr<FakeQuartzRouter> quartz = std::make_unique<FakeQuartzRouter>(16, 16);
    std::unique_ptr<FakeLW3Router> lw3 = std::make_unique<FakeLW3Router>(8, 8);
    std::unique_ptr<FakeKumoServer> kumo = std::make_unique<FakeKumoServer>();

    // Rows of the saved list; the simulator comes first, as on a first run, and is selected.
    enum Row { simulator, videohubRow, ultrixRow, swp08Row, quartzRow, lw3Row, kumoRow, rows };

    Fakes()
    {
        lw3->listen();
        kumo->populate(16, 16);
        kumo->listen();
    }

    QList<RouterConnection> routers() const
    {
        RouterConnection demo = router(QStringLiteral("Demo Router"), RouterVendor::simulator, 0);
        demo.host.clear();
        return { demo,
                 router(QStringLiteral("Hub"), RouterVendor::blackmagicVideohub, videohub->port()),
                 router(QStringLiteral("Ultrix"), RouterVendor::rossUltrix, ultrix->port()),
                 router(QStringLiteral("SW-P-08"), RouterVendor::genericSWP08, swp08->port()),
                 router(QStringLiteral("Quartz"), RouterVendor::evertzQuartz, quartz->port()),
                 router(QStringLiteral("LW3"), RouterVendor::lightware, lw3->port()),
                 router(QStringLiteral("KUMO"), RouterVendor::ajaKumo, kumo->port()) };
    }

    // Whether the router at `row` now routes source 6 (1-based) to destination 2.
    bool tookSixToTwo(int row) const
    {
        switch (row) {
        case videohubRow:
            return videohub->model().routing.value(1, -1) == 5;
        case ultrixRow:
            return ultrix->route(0, 1) == 5;
        case swp08Row:
            return swp08->route(0, 1) == 5;
        case quartzRow:
            return quartz->route(1) == 5;
        case lw3Row:
            return lw3->routing.value(1) == 6;
        case kumoRow:
            return kumo->value(QStringLiteral("eParamID_XPT_Destination2_Status"))
                       .toVariant()
                       .toInt()
                == 6;
        default:
            return true;
        }
    }

    void kill(int row)
    {
        switch (row) {
        case videohubRow:
            videohub.reset();
            break;
        case ultrixRow:
            ultrix.reset();
            break;
        case swp08Row:
            swp08.reset();
            break;
        case quartzRow:
            quartz.reset();
            break;
        case lw3Row:
            lw3.reset();
            break;
        case kumoRow:
            kumo.reset();
            break;
        default:
            break;
        }
    }
};

bool allConnected(const App &app)
{
    for (int row = 0; row < Fakes::rows; ++row) {
        if (app.states.value(row) != QLatin1String("connected"))
            return false;
    }
    return true;
}

QString describe(const App &app)
{
    QStringList parts;
    for (int row = 0; row < Fakes::rows; ++row)
        parts.append(QStringLiteral("%1:%2").arg(row).arg(app.states.value(row)));
    return parts.join(' ');
}

} // namespace

class TestApplication : public QObject
{
    Q_OBJECT

private slots:
    void connectsTakesAndQuitsCleanly();
    void deadRoutersStopShowingOnline();
    void secondLaunchShowsTheRunningWindow();
    void unreachableInstanceFailsWithoutWriting();
    void crashedInstanceLockIsTakenOver();
};

// Quitting with routers of every protocol online used to crash (TCP) or hang (KUMO).
void TestApplication::connectsTakesAndQuitsCleanly()
{
    Fakes fakes;
    Home home;
    home.writeRouters(fakes.routers());
    App app(home);

    QTRY_VERIFY2_WITH_TIMEOUT(allConnected(app), qPrintable(describe(app)), 15000);
    for (int row = Fakes::videohubRow; row < Fakes::rows; ++row)
        app.send(QByteArray("take ") + QByteArray::number(row) + " 5 1");
    for (int row = Fakes::videohubRow; row < Fakes::rows; ++row)
        QTRY_VERIFY2_WITH_TIMEOUT(fakes.tookSixToTwo(row), qPrintable(QString::number(row)), 5000);

    const qint64 took = app.quit();
    QVERIFY2(took >= 0, "the application did not exit");
    QCOMPARE(app.problems(), QString());
    QCOMPARE(app.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.process().exitCode(), 0);
    QVERIFY2(took < 2000, qPrintable(QStringLiteral("quitting took %1 ms").arg(took)));
}

// A router that goes away or freezes (a take then looked done for good) must leave "Online".
void TestApplication::deadRoutersStopShowingOnline()
{
    Fakes fakes;
    Home home;
    home.writeRouters(fakes.routers());
    App app(home);
    QTRY_VERIFY2_WITH_TIMEOUT(allConnected(app), qPrintable(describe(app)), 15000);

    QElapsedTimer clock;
    clock.start();
    fakes.videohub->setReply(FakeVideohubRouter::Reply::silent);
    app.send("take " + QByteArray::number(Fakes::videohubRow) + " 5 1");
    for (int row = Fakes::ultrixRow; row < Fakes::rows; ++row)
        fakes.kill(row);
    const auto allGone = [&] {
        for (int row = Fakes::videohubRow; row < Fakes::rows; ++row) {
            if (app.states.value(row) == QLatin1String("connected"))
                return false;
        }
        return true;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(allGone(), qPrintable(describe(app)), 10000);
    QVERIFY(clock.elapsed() < 10000);
    QCOMPARE(app.states.value(Fakes::simulator), QStringLiteral("connected"));

    QVERIFY(app.quit() >= 0);
    QCOMPARE(app.problems(), QString());
    QCOMPARE(app.process().exitCode(), 0);
}

void TestApplication::secondLaunchShowsTheRunningWindow()
{
    Home home;
    home.writeRouters({});
    App first(home);
    QTRY_COMPARE_WITH_TIMEOUT(first.window, QStringLiteral("shown"), 15000);
    first.send("minimize");
    QTRY_COMPARE(first.window, QStringLiteral("minimized"));
    const QMap<QString, QByteArray> before = home.files();

    // The application as shipped, on the same data folder.
    QProcess second;
    second.setProcessEnvironment(home.environment());
    second.start(QStringLiteral(QUORVEL_BINARY), {});
    QVERIFY(second.waitForFinished(15000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(first.window, QStringLiteral("shown"), 5000);
    QCOMPARE(home.files(), before);

    QVERIFY(first.quit() >= 0);
    QCOMPARE(first.process().exitCode(), 0);
}

void TestApplication::unreachableInstanceFailsWithoutWriting()
{
    Home home;
    home.writeRouters({});
    // A live process holds the lock but answers nobody.
    QLockFile lock(QDir(home.dataFolder()).filePath(QStringLiteral("instance.lock")));
    QVERIFY(lock.tryLock(0));
    const QMap<QString, QByteArray> before = home.files();

    QProcess second;
    second.setProcessEnvironment(home.environment());
    second.start(QStringLiteral(QUORVEL_BINARY), {});
    QVERIFY(second.waitForFinished(15000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QVERIFY(second.exitCode() != 0);
    QVERIFY2(second.readAllStandardError().contains("Quorvel is already running, but it could "
                                                    "not be reached"),
             "no message on standard error");
    QCOMPARE(home.files(), before);
    lock.unlock();
    // A folder at the lock's path was reported as an instance that could not be reached.
    QVERIFY(QDir(home.dataFolder()).mkpath(QStringLiteral("instance.lock/x")));
    const QMap<QString, QByteArray> blocked = home.files();
    second.start(QStringLiteral(QUORVEL_BINARY), {});
    QVERIFY(second.waitForFinished(15000) && second.exitCode() != 0);
    const QByteArray said = second.readAllStandardError();
    QVERIFY2(said.contains("is a folder, not a lock file."), said.constData());
    QCOMPARE(home.files(), blocked);
}

void TestApplication::crashedInstanceLockIsTakenOver()
{
    Home home;
    home.writeRouters({});
    {
        App crashed(home);
        QTRY_COMPARE_WITH_TIMEOUT(crashed.window, QStringLiteral("shown"), 15000);
        crashed.process().kill();
        QVERIFY(crashed.process().waitForFinished());
    }
    QVERIFY(QFile::exists(QDir(home.dataFolder()).filePath(QStringLiteral("instance.lock"))));

    App next(home);
    QTRY_COMPARE_WITH_TIMEOUT(next.window, QStringLiteral("shown"), 15000);
    // It listens again under the name the crashed one left behind.
    QProcess second;
    second.setProcessEnvironment(home.environment());
    second.start(QStringLiteral(QUORVEL_BINARY), {});
    QVERIFY(second.waitForFinished(15000));
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(next.quit() >= 0);
    QCOMPARE(next.process().exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestApplication)
#include "tst_application.moc"
