#pragma once

#include "Drivers/RouterDriver.h"

#include <QByteArray>
#include <QHash>
#include <QJsonValue>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// Driver for routers controlled through HTTP parameter requests ("config?action=get|set").
// Everything runs on the UI thread: each request is one HTTP exchange, and the steps of a
// connect, a take or a poll pass follow each other from the previous reply's completion,
// one request at a time.
class KumoDriver final : public RouterDriver
{
public:
    struct Timing
    {
        // Longest a request may go without progress before it fails.
        std::chrono::milliseconds requestTimeout { 8000 };
        // Pause between the end of one routing poll pass and the start of the next.
        std::chrono::milliseconds pollInterval { 2000 };
    };

    // Upper bound on either reported count, checked before anything is sized from it.
    static constexpr int maxPortCount = 4096;
    // A reply body larger than this is a failed read, so a router cannot make us buffer
    // without limit.
    static constexpr qint64 maxBodySize = 64 * 1024;

    explicit KumoDriver(const RouterConnection &connection);
    KumoDriver(const RouterConnection &connection, Timing timing);
    ~KumoDriver() override;

    std::shared_ptr<RouterEventStream> events() const override { return m_events; }
    void connect(std::function<void()> done = {}) override;
    void disconnect(std::function<void()> done = {}) override;
    void take(int source, int destination, int level, DriverCompletion done) override;
    void takeAll(const QList<Route> &routes, DriverCompletion done) override;
    void setLock(int destination, int level, bool locked, DriverCompletion done) override;
    void setLabel(const QString &label, int index, PortKind kind, DriverCompletion done) override;

    // The label as it is written into a set request's value: UTF-8 percent-encoding that
    // keeps letters, digits and - . _ ~ ! $ ' ( ) * , ; : @ as they are.
    static QByteArray encodeLabel(const QString &label);
    // A parameter value as an integer: a finite JSON number within 64 bits (cut toward
    // zero) or a decimal text with an optional sign; anything else is no number.
    static std::optional<qint64> integerValue(const std::optional<QJsonValue> &value);

private:
    using Body = std::expected<QByteArray, DriverError>;
    using Value = std::expected<std::optional<QJsonValue>, DriverError>;
    using Integer = std::expected<qint64, DriverError>;

    std::shared_ptr<KumoDriver> self();

    // The address of a path below the router's base address, or an error when the saved
    // host and port do not make a valid one.
    std::expected<QUrl, DriverError> urlFor(const QString &path) const;
    void get(const QString &path, std::function<void(Body)> done);
    void paramValue(const QString &id, std::function<void(Value)> done);
    void intParam(const QString &id, std::function<void(Integer)> done);

    // The connect sequence, one step per reply.
    void readCounts();
    void readLabel(PortKind kind, int number);
    void readStatus(int number);
    void reportConnected();
    void endConnect(std::optional<QString> error);

    void startPolling();
    void pollRouting(int destination);
    void takeNext(QList<Route> routes, DriverCompletion done);

    void emitEvent(RouterDriverEvent event);

    std::shared_ptr<RouterEventStream> m_events = RouterEventStream::create();
    RouterConnection m_connection;
    Timing m_timing;
    // Context of posted work: destroyed with the driver, so nothing posted outlives it.
    QObject m_guard;
    std::unique_ptr<QNetworkAccessManager> m_session;
    QList<QNetworkReply *> m_inFlight;
    QTimer m_pollTimer;
    std::function<void()> m_connectDone;
    bool m_connected = false;
    bool m_torn = false;
    bool m_connectStarted = false;
    bool m_polling = false;
    quint64 m_takeEpoch = 0;
    int m_sourceCount = 0;
    int m_destinationCount = 0;
    QList<Port> m_sources;
    QList<Port> m_destinations;
    LevelRouting m_routing;
};
