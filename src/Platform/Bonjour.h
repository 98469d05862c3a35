#pragma once

#include <QList>
#include <QLoggingCategory>
#include <QObject>
#include <QPointer>
#include <QString>

#include <expected>
#include <functional>
#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcBonjour)

// DNS service discovery over the system's mDNS daemon (Avahi, reached over D-Bus). Every
// object here runs on the thread that created it, which needs a running event loop; the
// daemon's sockets and timers are driven by that loop.

// One service instance as a browser reports it.
struct BonjourService
{
    QString name; // instance name, shown to the operator
    QString type; // e.g. "_videohub._tcp"
    QString domain; // e.g. "local"

    bool operator==(const BonjourService &) const = default;
};

// Where a service lives once resolved.
struct ResolvedService
{
    QString hostName; // the advertised target host, e.g. "hub.local"
    QString address; // numeric address text (IPv4 dotted, or IPv6)
    quint16 port = 0;
};

// A browser for one service type. It reports the complete current result set whenever
// that set changes, and failures through the state handler. Handlers run on the thread
// that started the browser, never from inside start() or cancel().
class ServiceBrowser
{
public:
    enum class State { ready, failed };
    using ResultsHandler = std::function<void(const QList<BonjourService> &results)>;
    using StateHandler = std::function<void(State state, const QString &error)>;

    virtual ~ServiceBrowser() = default;

    void setResultsHandler(ResultsHandler handler) { m_resultsHandler = std::move(handler); }
    void setStateHandler(StateHandler handler) { m_stateHandler = std::move(handler); }

    virtual void start() = 0;
    // Stops browsing for good; nothing is reported afterwards.
    virtual void cancel() = 0;

protected:
    void reportResults(const QList<BonjourService> &results)
    {
        if (m_resultsHandler)
            m_resultsHandler(results);
    }
    void reportState(State state, const QString &error = {})
    {
        if (m_stateHandler)
            m_stateHandler(state, error);
    }

private:
    ResultsHandler m_resultsHandler;
    StateHandler m_stateHandler;
};

using ServiceBrowserFactory = std::function<std::unique_ptr<ServiceBrowser>(const QString &type)>;

// The daemon-backed browser. Without a reachable daemon it reports `failed` with the
// daemon library's description (for example "Daemon not running").
class BonjourBrowser final : public ServiceBrowser
{
public:
    // An empty domain browses the daemon's default domain.
    explicit BonjourBrowser(const QString &type, const QString &domain = {});
    ~BonjourBrowser() override;

    void start() override;
    void cancel() override;

    static ServiceBrowserFactory factory();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// One resolution in flight. It lives on the thread that started it, is a child of the
// context passed to resolve() (so it ends with that context), and deletes itself after
// completing.
class BonjourResolution final : public QObject
{
    Q_OBJECT
public:
    using Result = std::expected<ResolvedService, QString>;
    using Completion = std::function<void(Result)>;

    // Resolves a service to its host, address and port. `done` is called exactly once, later,
    // on the calling thread, unless `context` goes away or the resolution is cancelled first.
    // An IPv4 address is preferred; an IPv6 one is used when the service has no IPv4 one.
    static QPointer<BonjourResolution> resolve(const BonjourService &service, int timeoutMs,
                                               QObject *context, Completion done);

    ~BonjourResolution() override;

    // No completion is delivered after this.
    void cancel();

private:
    BonjourResolution(const BonjourService &service, int timeoutMs, QObject *context,
                      Completion done);
    void begin();
    void startResolver(bool ipv4Only);
    void finish(Result result);

    struct Private;
    std::unique_ptr<Private> d;
};
