#pragma once

#include "Model/RouterModels.h"
#include "Platform/EventStream.h"

#include <QString>

#include <expected>
#include <functional>
#include <memory>
#include <optional>

// The error a driver command fails with, carrying its operator-facing sentence.
class DriverError
{
public:
    enum Kind { unsupported, protocolError, transport, notConnected, other };

    static DriverError unsupportedFeature(const QString &feature) { return {unsupported, feature}; }
    static DriverError protocol(const QString &text) { return {protocolError, text}; }
    static DriverError transportError(const QString &text) { return {transport, text}; }
    static DriverError notConnectedError() { return {notConnected, {}}; }
    // An error that is not the driver's own (for example an HTTP client's); its text is
    // shown as it stands.
    static DriverError otherError(const QString &text) { return {other, text}; }

    Kind kind() const { return m_kind; }
    // The feature name, protocol text, transport text or other description.
    QString detail() const { return m_detail; }
    QString localizedDescription() const;

    bool operator==(const DriverError &) const = default;

private:
    DriverError(Kind kind, const QString &detail) : m_kind(kind), m_detail(detail) {}
    Kind m_kind;
    QString m_detail;
};

using DriverResult = std::expected<void, DriverError>;
// Called exactly once, on the UI thread, never from inside the call that takes it.
using DriverCompletion = std::function<void(DriverResult)>;

// One thing a driver reports. A tagged record rather than a variant keeps call sites and
// test expectations short; only the fields of `type` are meaningful.
struct RouterDriverEvent
{
    enum Type {
        status,
        connected,
        stateReplaced,
        routeChanged,
        labelChanged,
        lockChanged,
        inputStatusChanged,
        disconnected,
        error,
        commandRefused,
    };

    Type type = status;
    QString text;            // status, error, commandRefused
    RouterState state;       // connected, stateReplaced
    int level = 0;           // routeChanged
    int destination = 0;     // routeChanged, lockChanged
    std::optional<int> source; // routeChanged: none when the destination has no source
    PortKind kind = PortKind::source; // labelChanged
    int index = 0;           // labelChanged; inputStatusChanged (the input)
    QString label;           // labelChanged
    bool locked = false;     // lockChanged
    std::optional<InputSignalStatus> inputStatus; // inputStatusChanged
    std::optional<QString> reason; // disconnected: none when the link was cancelled

    static RouterDriverEvent makeStatus(const QString &text);
    static RouterDriverEvent makeConnected(const RouterState &state);
    static RouterDriverEvent makeStateReplaced(const RouterState &state);
    static RouterDriverEvent makeRouteChanged(int level, int destination, std::optional<int> source);
    static RouterDriverEvent makeLabelChanged(PortKind kind, int index, const QString &label);
    static RouterDriverEvent makeLockChanged(int destination, bool locked);
    static RouterDriverEvent makeInputStatusChanged(int input, std::optional<InputSignalStatus> status);
    static RouterDriverEvent makeDisconnected(std::optional<QString> reason = std::nullopt);
    static RouterDriverEvent makeError(const QString &text);
    static RouterDriverEvent makeCommandRefused(const QString &text);

    bool operator==(const RouterDriverEvent &other) const;
};

QString eventTypeName(RouterDriverEvent::Type type);
// A one-line description for logs and test failure messages.
QString describe(const RouterDriverEvent &event);

using RouterEventStream = EventStream<RouterDriverEvent>;

// The longest name a driver keeps from a router (device, model and friendly names, port
// labels). A router can send megabytes on one line; every view would lay all of it out.
inline constexpr qsizetype maxRouterNameLength = 1024;

// `name` cut to maxRouterNameLength characters, never inside a surrogate pair. Drivers call
// it on every name as it is received.
QString boundedRouterName(const QString &name);

// One router protocol behind one asynchronous interface. A driver serves one saved router,
// is connected once and then dropped; its operations are called on the UI thread. Drivers
// are owned through std::shared_ptr so that pending work keeps its driver alive.
class RouterDriver : public std::enable_shared_from_this<RouterDriver>
{
public:
    virtual ~RouterDriver() = default;

    // The same stream for the driver's whole life; created with the driver.
    virtual std::shared_ptr<RouterEventStream> events() const = 0;

    // Starts the attempt; outcomes arrive as events. `done` runs once the attempt has
    // started (TCP drivers) or finished (the simulator).
    virtual void connect(std::function<void()> done = {}) = 0;
    // Ends the link and finishes the event stream; nothing is delivered afterwards.
    virtual void disconnect(std::function<void()> done = {}) = 0;

    virtual void take(int source, int destination, int level, DriverCompletion done) = 0;
    virtual void takeAll(const QList<Route> &routes, DriverCompletion done) = 0;
    virtual void setLock(int destination, int level, bool locked, DriverCompletion done) = 0;
    virtual void setLabel(const QString &label, int index, PortKind kind, DriverCompletion done) = 0;
};

using RouterDriverPtr = std::shared_ptr<RouterDriver>;
// How controllers obtain drivers; tests substitute their own.
using DriverMaker = std::function<RouterDriverPtr(const RouterConnection &)>;

namespace DriverFactory {
// A new driver for the router, chosen by vendor. Opens nothing on the network.
RouterDriverPtr makeDriver(const RouterConnection &connection);
} // namespace DriverFactory
