#pragma once

#include "Platform/Bonjour.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Finds Videohub-class routers on the local network and turns a found service into a host
// and a port. Browses "_blackmagic._tcp" and "_videohub._tcp"; the results of both are
// merged into one list with one entry per service name, sorted by name.
//
// Lives on the UI thread. The owner calls start() when it wants results and stop() when it
// is done: dropping the object also ends browsing.
class RouterDiscovery final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isBrowsing READ isBrowsing NOTIFY isBrowsingChanged)

public:
    struct Device
    {
        QString serviceName; // the instance name; also the device's identity
        QString type; // as reported, e.g. "_videohub._tcp"
        QString domain; // as reported, usually the local domain

        QString id() const { return serviceName; }
        bool operator==(const Device &) const = default;
    };

    struct Endpoint
    {
        QString host;
        int port = 0;
        bool operator==(const Endpoint &) const = default;
    };
    using ResolveCompletion = std::function<void(std::optional<Endpoint>)>;

    // The two browsed service types, in browsing order.
    static const QStringList &browsedTypes();

    // `browserFactory` makes one browser per service type; the default browses through the
    // system's mDNS daemon.
    explicit RouterDiscovery(ServiceBrowserFactory browserFactory = {}, QObject *parent = nullptr);
    ~RouterDiscovery() override;

    // Merged, de-duplicated, sorted result shown to the operator.
    QList<Device> devices() const { return m_devices; }
    // True from start() until stop().
    bool isBrowsing() const { return m_isBrowsing; }
    // Set when a browser fails; stays set until the object is dropped.
    std::optional<QString> browseError() const { return m_browseError; }

    // Begins browsing; does nothing while already browsing.
    void start();
    // Ends browsing and forgets every result; browseError() is kept.
    void stop();

    // Resolves a found device to a host address and port by opening (and at once closing)
    // a TCP connection to the service. `done` runs exactly once on `context`'s thread,
    // later, with no value when the service isn't reached within the whole seconds of
    // `timeoutSeconds` (a fraction is dropped, so under one second gives up at once).
    // Nothing is delivered once `context` is gone.
    static void resolve(const Device &device, double timeoutSeconds, QObject *context,
                        ResolveCompletion done);

    // The text form of a resolved host: IPv4 text cut before any "%" scope, IPv6 and names
    // unchanged.
    static QString hostText(const QString &host);

signals:
    void devicesChanged();
    void isBrowsingChanged();
    void browseErrorChanged();

private:
    void update(const QList<Device> &devices, const QString &type);

    ServiceBrowserFactory m_browserFactory;
    QList<Device> m_devices;
    bool m_isBrowsing = false;
    std::optional<QString> m_browseError;
    std::vector<std::unique_ptr<ServiceBrowser>> m_browsers;
    QHash<QString, QList<Device>> m_resultsByType;
    // Bumped by every start() and stop(): work posted by an earlier round of browsers is
    // recognised and dropped.
    quint64 m_generation = 0;
};

inline size_t qHash(const RouterDiscovery::Device &device, size_t seed = 0)
{
    return qHashMulti(seed, device.serviceName, device.type, device.domain);
}
