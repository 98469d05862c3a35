// Dropping the last reference to a KUMO driver while the application object is being
// destroyed used to hang the process: the driver's destructor posted a deferred deletion
// while Qt, deleting the unrun events of its queue, held that queue's lock. Each case below
// builds its own application, leaves the driver's last reference in a posted call that never
// runs, and destroys the application; a watchdog turns a hang into a failure.

#include "Drivers/KumoDriver.h"

#include "FakeKumoServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

class Watchdog
{
public:
    explicit Watchdog(std::chrono::seconds limit)
        : m_thread([this, limit] {
            std::unique_lock lock(m_mutex);
            if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
                std::fprintf(stderr, "FAIL: hung in \"%s\"\n", m_stage);
                std::fflush(stderr);
                std::_Exit(1);
            }
        })
    { }
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_one();
        m_thread.join();
    }
    void stage(const char *name)
    {
        std::lock_guard lock(m_mutex);
        m_stage = name;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    const char *m_stage = "start";
    std::thread m_thread;
};

bool spinUntil(const std::function<bool()> &condition)
{
    QDeadlineTimer deadline(10s);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

enum class Phase {
    connected, // polling, no request in flight
    requestInFlight, // a poll request waits for its answer
    afterApplication, // the driver outlives the application object
};

bool tearDown(Phase phase)
{
    int argc = 1;
    char name[] = "tst_kumoteardown";
    char *argv[] = { name, nullptr };
    auto app = std::make_unique<QCoreApplication>(argc, argv);
    auto server = std::make_unique<FakeKumoServer>();
    if (!server->listen())
        return false;
    server->populate(2, 2);

    RouterConnection connection;
    connection.name = QStringLiteral("Edit Bay");
    connection.vendor = RouterVendor::ajaKumo;
    connection.host = QStringLiteral("127.0.0.1");
    connection.port = server->port();
    KumoDriver::Timing timing;
    timing.pollInterval = 20ms;
    auto driver = std::make_shared<KumoDriver>(connection, timing);
    bool connected = false;
    QObject reader;
    driver->events()->read(&reader, [&](const RouterDriverEvent &event) {
        connected |= event.type == RouterDriverEvent::connected;
    });
    driver->connect();
    if (!spinUntil([&] { return connected; })) {
        std::fprintf(stderr, "FAIL: the driver never connected\n");
        return false;
    }
    if (phase == Phase::requestInFlight) {
        server->hold(QStringLiteral("eParamID_XPT_Destination1_Status"));
        if (!spinUntil([&] { return server->heldCount() > 0; })) {
            std::fprintf(stderr, "FAIL: no poll request arrived\n");
            return false;
        }
    }

    if (phase == Phase::afterApplication) {
        app.reset();
        driver.reset();
        return true;
    }
    // The driver's only owner is now a call the application deletes unrun.
    QMetaObject::invokeMethod(
        app.get(), [driver = std::move(driver)] {}, Qt::QueuedConnection);
    app.reset();
    return true;
}

} // namespace

int main()
{
    Watchdog watchdog(60s);
    const std::pair<Phase, const char *> cases[] = {
        { Phase::connected, "connected driver dropped during teardown" },
        { Phase::requestInFlight, "driver with a request in flight dropped during teardown" },
        { Phase::afterApplication, "driver dropped after the application" },
    };
    int failures = 0;
    for (const auto &[phase, title] : cases) {
        watchdog.stage(title);
        const bool ok = tearDown(phase);
        std::printf("%s: %s\n", ok ? "PASS" : "FAIL", title);
        failures += ok ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}
