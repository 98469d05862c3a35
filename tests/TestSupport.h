#pragma once

#include "Drivers/CommandTarget.h"
#include "Drivers/RouterDriver.h"

#include <QtTest>

// Readable QCOMPARE failures for the shared value types.
inline char *toString(const RouterDriverEvent &event)
{
    return qstrdup(describe(event).toUtf8().constData());
}

inline char *toString(RouterDriverEvent::Type type)
{
    return qstrdup(eventTypeName(type).toUtf8().constData());
}

inline char *toString(const DriverError &error)
{
    return qstrdup(error.localizedDescription().toUtf8().constData());
}

namespace TestSupport {

// Runs one driver command and waits for its completion; a completion that never comes
// reads as an error.
inline DriverResult run(const std::function<void(DriverCompletion)> &call, int timeoutMs = 5000)
{
    auto result = std::make_shared<std::optional<DriverResult>>();
    call([result](DriverResult r) { *result = r; });
    if (!QTest::qWaitFor([&] { return result->has_value(); }, timeoutMs))
        return std::unexpected(DriverError::otherError(QStringLiteral("no completion")));
    return **result;
}

// Collects everything a driver reports, as the controller's event task would.
struct EventRecorder
{
    QObject context;
    QList<RouterDriverEvent> events;
    bool ended = false;

    void attach(const RouterDriverPtr &driver)
    {
        driver->events()->read(
            &context, [this](const RouterDriverEvent &e) { events.append(e); },
            [this] { ended = true; });
    }
    QList<RouterDriverEvent::Type> types() const
    {
        QList<RouterDriverEvent::Type> list;
        for (const auto &e : events)
            list.append(e.type);
        return list;
    }
};

// A driver's parser (Quartz, SW-P-08) with everything it reports, writes and arms
// collected in order.
template<typename Parser>
struct ParserHarness
{
    QList<RouterDriverEvent> events;
    QList<QByteArray> writes;
    QList<typename Parser::Timer> armed;
    int answers = 0; // commands the parser saw answered
    QStringList refusals; // the reasons of commands it saw refused
    QList<CommandTarget> reports; // what the router reported after the state was out
    Parser parser;

    explicit ParserHarness(const RouterConnection &connection)
        : parser(connection,
                 { [this](const RouterDriverEvent &e) { events.append(e); },
                   [this](const QByteArray &b) { writes.append(b); },
                   [this](typename Parser::Timer t) { armed.append(t); },
                   { [this](quint64) { ++answers; },
                     [this](quint64, const QString &reason) { refusals.append(reason); },
                     [this](const CommandTarget &report, bool) { reports.append(report); },
                     {} } })
    { }

    QByteArray written() const { return writes.join(); }
    void clear()
    {
        events.clear();
        writes.clear();
        armed.clear();
    }
};

// A saved router of the given size reached at 127.0.0.1:`port`, where a fake listens.
inline RouterConnection loopbackRouter(const QString &name, RouterVendor vendor, quint16 port,
                                       int sources, int destinations)
{
    RouterConnection connection;
    connection.name = name;
    connection.vendor = vendor;
    connection.host = QStringLiteral("127.0.0.1");
    connection.port = port;
    connection.simSourceCount = sources;
    connection.simDestinationCount = destinations;
    return connection;
}

// A fake router, a driver for it and everything the driver reports. The fake has the size
// of `connection`, whose port becomes the fake's; the driver is disconnected when the rig goes.
template<typename Fake, typename Driver>
struct DriverRig
{
    using Type = RouterDriverEvent::Type;

    Fake fake;
    std::shared_ptr<Driver> driver;
    EventRecorder recorder;

    DriverRig(RouterConnection connection, const typename Driver::Timing &timing)
        : fake(connection.simSourceCount, connection.simDestinationCount)
        , driver(std::make_shared<Driver>(at(connection, fake.port()), timing))
    {
        recorder.attach(driver);
    }
    ~DriverRig() { driver->disconnect(); }

    int count(Type type) const { return recorder.types().count(type); }
    bool waitFor(Type type, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return count(type) > 0; }, timeoutMs);
    }
    bool connect()
    {
        driver->connect();
        return waitFor(Type::connected);
    }
    static RouterConnection at(RouterConnection connection, quint16 port)
    {
        connection.port = port;
        return connection;
    }
    // The newest event of the type, or null.
    const RouterDriverEvent *last(Type type) const
    {
        for (auto it = recorder.events.crbegin(); it != recorder.events.crend(); ++it)
            if (it->type == type)
                return &*it;
        return nullptr;
    }
};

} // namespace TestSupport
