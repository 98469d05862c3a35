#include "Controllers/RouterDiscovery.h"

#include "Platform/Async.h"
#include "Platform/Observed.h"

#include <QCollator>
#include <QHostAddress>
#include <QPointer>
#include <QSet>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// One resolution: the daemon names the address, then a TCP connection proves the service
// is reachable there and gives the address actually used. The connection carries no data.
class ResolveOperation final : public QObject
{
public:
    ResolveOperation(const RouterDiscovery::Device &device, int timeoutMs, QObject *context,
                     RouterDiscovery::ResolveCompletion done)
        : QObject(context)
        , m_done(std::move(done))
    {
        m_deadline.setSingleShot(true);
        QObject::connect(&m_deadline, &QTimer::timeout, this, [this] { finish({}); });
        m_deadline.start(timeoutMs);
        if (timeoutMs == 0)
            return; // gives up before anything could answer
        BonjourResolution::resolve({ device.serviceName, device.type, device.domain }, timeoutMs,
                                   this, [this](BonjourResolution::Result result) {
                                       if (!result) {
                                           finish({});
                                           return;
                                       }
                                       connectTo(result->address, result->port);
                                   });
    }

private:
    void connectTo(const QString &address, quint16 port)
    {
        m_socket = new QTcpSocket(this);
        QObject::connect(m_socket, &QTcpSocket::connected, this, [this] {
            const QHostAddress peer = m_socket->peerAddress();
            if (peer.isNull()) {
                finish({});
                return;
            }
            finish(RouterDiscovery::Endpoint { RouterDiscovery::hostText(peer.toString()),
                                               int(m_socket->peerPort()) });
        });
        QObject::connect(m_socket, &QTcpSocket::errorOccurred, this, [this] { finish({}); });
        m_socket->connectToHost(address, port);
    }

    void finish(std::optional<RouterDiscovery::Endpoint> endpoint)
    {
        if (m_finished)
            return;
        m_finished = true;
        m_deadline.stop();
        if (m_socket) {
            m_socket->disconnect(this);
            m_socket->abort();
        }
        if (auto done = std::exchange(m_done, {}))
            done(std::move(endpoint));
        deleteLater();
    }

    RouterDiscovery::ResolveCompletion m_done;
    QTimer m_deadline;
    QPointer<QTcpSocket> m_socket;
    bool m_finished = false;
};

} // namespace

const QStringList &RouterDiscovery::browsedTypes()
{
    static const QStringList types { QStringLiteral("_blackmagic._tcp"),
                                     QStringLiteral("_videohub._tcp") };
    return types;
}

RouterDiscovery::RouterDiscovery(ServiceBrowserFactory browserFactory, QObject *parent)
    : QObject(parent)
    , m_browserFactory(browserFactory ? std::move(browserFactory) : BonjourBrowser::factory())
{ }

RouterDiscovery::~RouterDiscovery()
{
    for (auto &browser : m_browsers)
        browser->cancel();
}

void RouterDiscovery::start()
{
    if (!m_browsers.empty())
        return;
    Observed::assign(m_isBrowsing, true, [this] { emit isBrowsingChanged(); });
    const quint64 generation = ++m_generation;
    for (const QString &type : browsedTypes()) {
        std::unique_ptr<ServiceBrowser> browser = m_browserFactory(type);
        if (!browser)
            continue;
        QPointer<RouterDiscovery> guard(this);
        browser->setResultsHandler([guard, generation, type](const QList<BonjourService> &all) {
            QList<Device> devices;
            devices.reserve(all.size());
            for (const BonjourService &s : all)
                devices.append({ s.name, s.type, s.domain });
            Platform::postToUi(guard, [guard, generation, type, devices] {
                if (guard && guard->m_generation == generation)
                    guard->update(devices, type);
            });
        });
        browser->setStateHandler(
            [guard, generation](ServiceBrowser::State state, const QString &error) {
                if (state != ServiceBrowser::State::failed)
                    return;
                Platform::postToUi(guard, [guard, generation, error] {
                    if (!guard || guard->m_generation != generation)
                        return;
                    const QString text = QStringLiteral("Can't search the local network (") + error
                        + QStringLiteral("). Check Local Network permission in Settings.");
                    Observed::assign(guard->m_browseError, std::optional<QString>(text),
                                     [&] { emit guard->browseErrorChanged(); });
                });
            });
        browser->start();
        m_browsers.push_back(std::move(browser));
    }
}

void RouterDiscovery::stop()
{
    for (auto &browser : m_browsers)
        browser->cancel();
    m_browsers.clear();
    ++m_generation;
    m_resultsByType.clear();
    Observed::assign(m_devices, QList<Device>(), [this] { emit devicesChanged(); });
    Observed::assign(m_isBrowsing, false, [this] { emit isBrowsingChanged(); });
}

void RouterDiscovery::update(const QList<Device> &devices, const QString &type)
{
    m_resultsByType.insert(type, devices);

    // First one met wins, visiting the types in browsing order.
    QList<Device> merged;
    QSet<QString> seen;
    for (const QString &browsed : browsedTypes()) {
        const auto it = m_resultsByType.constFind(browsed);
        if (it == m_resultsByType.constEnd())
            continue;
        for (const Device &device : *it) {
            if (seen.contains(device.serviceName))
                continue;
            seen.insert(device.serviceName);
            merged.append(device);
        }
    }

    // The C locale would order by code point and put accented names last.
    QCollator collator(QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale());
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(merged.begin(), merged.end(), [&](const Device &a, const Device &b) {
        return collator.compare(a.serviceName, b.serviceName) < 0;
    });
    Observed::assign(m_devices, merged, [this] { emit devicesChanged(); });
}

void RouterDiscovery::resolve(const Device &device, double timeoutSeconds, QObject *context,
                              ResolveCompletion done)
{
    if (!context)
        return;
    double whole = std::floor(timeoutSeconds);
    if (!std::isfinite(whole) || whole < 0)
        whole = whole > 0 ? 86400 : 0;
    const int timeoutMs = int(std::min(whole, 86400.0) * 1000);
    new ResolveOperation(device, timeoutMs, context, std::move(done));
}

QString RouterDiscovery::hostText(const QString &host)
{
    const qsizetype percent = host.indexOf(QLatin1Char('%'));
    const QString bare = percent > 0 ? host.left(percent) : host;
    if (QHostAddress(bare).protocol() == QAbstractSocket::IPv4Protocol)
        return bare;
    return host;
}
