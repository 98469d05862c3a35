#include "Views/Shell/RouterEditorModel.h"

#include "Platform/Observed.h"

namespace {

RouterConnection newRouter()
{
    RouterConnection connection;
    connection.id = QUuid::createUuid();
    connection.name = QStringLiteral("New Router");
    connection.vendor = RouterVendor::blackmagicVideohub;
    connection.host = QString();
    connection.port = 9990;
    connection.simSourceCount = 16;
    connection.simDestinationCount = 16;
    return connection;
}

} // namespace

const QList<double> &RouterEditorModel::accentHues()
{
    static const QList<double> hues{0.58, 0.78, 0.92, 0.0, 0.08, 0.13, 0.33, 0.5};
    return hues;
}

RouterEditorModel::RouterEditorModel(const std::optional<RouterConnection> &existing,
                                     Resolver resolver, QObject *parent)
    : QObject(parent)
    , m_draft(existing ? *existing : newRouter())
    , m_isNew(!existing)
    , m_resolver(resolver ? std::move(resolver) : Resolver(&RouterDiscovery::resolve))
{
}

RouterEditorModel::~RouterEditorModel()
{
    cancelResolution();
}

QString RouterEditorModel::title() const
{
    return m_isNew ? QStringLiteral("Add Router") : QStringLiteral("Edit Router");
}

bool RouterEditorModel::isBlankName(const QString &name)
{
    for (const QChar c : name) {
        // Horizontal white space only: a line break is not blank.
        const bool spaceLike = c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
        if (!spaceLike)
            return false;
    }
    return true;
}

bool RouterEditorModel::canSave() const
{
    return !isBlankName(m_draft.name) && !hostProblem();
}

std::optional<QString> RouterEditorModel::hostProblem(const QString &host)
{
    for (const QChar c : host) {
        if (c.isSpace() || c == u'/' || c == u'?' || c == u'#' || c == u'@')
            return QStringLiteral("A host is a name or an address: it can't hold spaces or any "
                                  "of / ? # @.");
    }
    return std::nullopt;
}

std::optional<QString> RouterEditorModel::hostProblem() const
{
    return showsNetworkSection() ? hostProblem(m_draft.host) : std::nullopt;
}

void RouterEditorModel::setName(const QString &name)
{
    Observed::assign(m_draft.name, name, [this] { emit draftChanged(); });
}

void RouterEditorModel::setVendor(RouterVendor vendor)
{
    changeVendor(vendor, false);
}

void RouterEditorModel::changeVendor(RouterVendor vendor, bool keepPort)
{
    const RouterVendor old = m_draft.vendor;
    if (old == vendor)
        return;
    m_draft.vendor = vendor;
    if (!keepPort && m_draft.port == old.defaultPort())
        m_draft.port = vendor.defaultPort();
    emit vendorChanged();
    emit draftChanged();
}

void RouterEditorModel::setHost(const QString &host)
{
    Observed::assign(m_draft.host, host, [this] { emit draftChanged(); });
}

void RouterEditorModel::setPort(int port)
{
    Observed::assign(m_draft.port, port, [this] { emit draftChanged(); });
}

void RouterEditorModel::setAccentHue(std::optional<double> hue)
{
    Observed::assign(m_draft.accentHue, hue, [this] { emit draftChanged(); });
}

QString RouterEditorModel::sizeSectionTitle() const
{
    return m_draft.vendor == RouterVendor::simulator ? QStringLiteral("Simulator size")
                                                     : QStringLiteral("Matrix size");
}

int RouterEditorModel::maximumMatrixSize() const
{
    return m_draft.vendor.maxMatrixSize().value_or(1024);
}

bool RouterEditorModel::canStep(int count, int delta) const
{
    if (delta > 0)
        return count < maximumMatrixSize();
    if (delta < 0)
        return count > minimumMatrixSize;
    return false;
}

void RouterEditorModel::step(int &count, int delta)
{
    if (!canStep(count, delta))
        return;
    const long long next = static_cast<long long>(count) + delta;
    count = int(std::clamp<long long>(next, minimumMatrixSize, maximumMatrixSize()));
    emit draftChanged();
}

void RouterEditorModel::stepSourceCount(int delta)
{
    step(m_draft.simSourceCount, delta);
}

void RouterEditorModel::stepDestinationCount(int delta)
{
    step(m_draft.simDestinationCount, delta);
}

bool RouterEditorModel::canStepSourceCount(int delta) const
{
    return canStep(m_draft.simSourceCount, delta);
}

bool RouterEditorModel::canStepDestinationCount(int delta) const
{
    return canStep(m_draft.simDestinationCount, delta);
}

void RouterEditorModel::setResolvingDevice(const QString &name)
{
    Observed::assign(m_resolvingDevice, name, [this] { emit resolvingDeviceChanged(); });
}

void RouterEditorModel::use(const RouterDiscovery::Device &device)
{
    if (!m_resolvingDevice.isEmpty())
        return;
    setResolvingDevice(device.serviceName);
    auto cancelled = std::make_shared<bool>(false);
    m_resolveCancelled = cancelled;
    m_resolver(device, resolveTimeoutSeconds, this,
               [this, device, cancelled](std::optional<RouterDiscovery::Endpoint> endpoint) {
                   if (*cancelled) {
                       setResolvingDevice(QString());
                       return;
                   }
                   finishUse(device, endpoint);
               });
}

void RouterEditorModel::cancelResolution()
{
    if (m_resolveCancelled)
        *m_resolveCancelled = true;
}

void RouterEditorModel::finishUse(const RouterDiscovery::Device &device,
                                  const std::optional<RouterDiscovery::Endpoint> &endpoint)
{
    // A resolved endpoint is usable only with a host and a TCP port.
    const bool resolved = endpoint && !endpoint->host.isEmpty() && endpoint->port > 0
        && endpoint->port <= 65535;
    if (m_draft.name.isEmpty() || m_draft.name == QLatin1String("New Router") || resolved)
        m_draft.name = device.serviceName;
    if (resolved) {
        m_draft.host = endpoint->host;
        m_draft.port = endpoint->port;
        // The router's own port wins even when it equals the old vendor's default.
        changeVendor(RouterVendor::blackmagicVideohub, true);
    } else {
        if (m_draft.host.isEmpty())
            m_draft.port = 9990;
        // The port rule sees the port as just left: a typed host keeps its port unless that
        // was the old vendor's default.
        changeVendor(RouterVendor::blackmagicVideohub, false);
    }
    m_draft.bonjourName = device.serviceName;
    m_draft.bonjourType = device.type;
    m_draft.bonjourDomain = device.domain;
    setResolvingDevice(QString());
    emit draftChanged();
}
