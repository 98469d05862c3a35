#pragma once

#include "Drivers/RouterDriver.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonValue>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <optional>

class KumoHttpClient;

// Driver for routers controlled through HTTP parameter requests ("config?action=get|set").
// Everything runs on the UI thread: each request is one HTTP exchange, and the steps of a
// connect, a take or a poll pass follow each other from the previous reply's completion,
// one request at a time.
class KumoDriver final : public RouterDriver
{
public:
    struct Timing
    {
        // Longest a request may take from start to end, however its reply trickles in.
        std::chrono::milliseconds requestTimeout { 8000 };
        // Pause between the end of one routing poll pass and the start of the next.
        std::chrono::milliseconds pollInterval { 2000 };
        // The link ends after this many poll passes in a row in which every request failed,
        // or once poll requests have failed without a break for `offlineAfter`, whichever
        // comes first. The second bound matters for a router that only times out: a whole
        // pass then takes a time-out per destination.
        int failedPassesBeforeOffline = 3;
        std::chrono::milliseconds offlineAfter { 30000 };
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

    using Value = std::expected<std::optional<QJsonValue>, DriverError>;
    // The "value" member of a read's reply body: absent when the body is JSON but not an
    // object holding one (a bare number or text included); an error when it is not JSON.
    static Value replyValue(const QByteArray &body);
    // The port name a read's value gives, or an empty text when the default name applies:
    // a text as it stands (cut to maxRouterNameLength), a whole number in decimal, nothing
    // for anything else.
    static QString nameValue(const std::optional<QJsonValue> &value);

private:
    // Why a request gave no usable value, and whether the router itself answered (an HTTP
    // error, a body over the limit, no JSON, no number) rather than the exchange failing
    // (refused, reset, timed out).
    struct Failure
    {
        DriverError error;
        bool routerAnswered = false;
        bool timedOut = false; // the request went out and no reply came in time

        QString localizedDescription() const { return error.localizedDescription(); }
    };
    using Body = std::expected<QByteArray, Failure>;
    using Read = std::expected<std::optional<QJsonValue>, Failure>;
    using Integer = std::expected<qint64, Failure>;

    std::shared_ptr<KumoDriver> self();

    // The address of a path below the router's base address, or an error when the saved
    // host and port do not make a valid one.
    std::expected<QUrl, DriverError> urlFor(const QString &path) const;
    void get(const QString &path, std::function<void(Body)> done);
    void paramValue(const QString &id, std::function<void(Read)> done);
    void intParam(const QString &id, std::function<void(Integer)> done);

    // The connect sequence, one step per reply.
    void readCounts();
    void readLabel(PortKind kind, int number);
    void readStatus(int number);
    void reportConnected();
    void endConnect(std::optional<QString> error);

    void startPolling();
    void pollRouting(int destination);
    // One poll request's outcome for the dead-router check, which counts only exchanges that
    // failed; false once the link has ended.
    bool notePollResult(const Integer &result);
    void endPass();
    void goOffline();
    void takeNext(QList<Route> routes, DriverCompletion done);
    // A take the router did not confirm: what the next poll finds for the destination is
    // reported even when it matches what the driver holds.
    void takeUnconfirmed(int destination) { m_mustReport.insert(destination); }

    void emitEvent(RouterDriverEvent event);

    std::shared_ptr<RouterEventStream> m_events = RouterEventStream::create();
    RouterConnection m_connection;
    Timing m_timing;
    // Context of posted work: destroyed with the driver, so nothing posted outlives it. The
    // poll timer and the HTTP client (the `session`) are its children.
    std::unique_ptr<QObject> m_guard;
    QTimer *m_pollTimer = nullptr;
    KumoHttpClient *m_http = nullptr;
    // Dead-router check: whether the running pass had an answer, the passes in a row that
    // had none, when the router last answered a poll request, and the last failure's
    // description; and whether the running pass met an error answer of the router's own, and
    // whether one has been reported since a pass went by without any.
    bool m_passAnswered = false;
    bool m_passRouterError = false;
    bool m_pollErrorReported = false;
    int m_failedPasses = 0;
    QElapsedTimer m_lastAnswer;
    QString m_lastFailure;
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
    // Destinations whose next polled source is reported whatever it is, because the
    // controller may be showing a take the router never confirmed or a revert of one it
    // carried out.
    QSet<int> m_mustReport;
};
