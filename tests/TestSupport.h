#pragma once

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

} // namespace TestSupport
