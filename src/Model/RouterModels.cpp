#include "Model/RouterModels.h"
#include "Platform/Text.h"

#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace {

template<typename E, std::size_t N>
std::optional<E> matchRaw(const QString &raw, const char *const (&names)[N])
{
    for (std::size_t i = 0; i < N; ++i) {
        if (raw == QLatin1String(names[i]))
            return E(i);
    }
    return std::nullopt;
}

const char *const kVendorNames[] = {"simulator",    "blackmagicVideohub", "rossUltrix", "ajaKumo",
                                    "genericSWP08", "lightware",          "evertzQuartz"};
const char *const kPortKindNames[] = {"source", "destination"};
const char *const kLevelKindNames[] = {"video", "audio", "data", "multi"};

// Fail-fast unwrapping inside the decoders below.
#define QV_TRY(var, expr)                                                                       \
    auto var = (expr);                                                                          \
    if (!var)                                                                                   \
        return std::unexpected(var.error());

} // namespace

// MARK: RouterVendor

QList<RouterVendor> RouterVendor::allCases()
{
    return {simulator, blackmagicVideohub, rossUltrix, ajaKumo, genericSWP08, lightware, evertzQuartz};
}

std::optional<RouterVendor> RouterVendor::fromRawValue(const QString &raw)
{
    if (auto value = matchRaw<Value>(raw, kVendorNames))
        return RouterVendor(*value);
    return std::nullopt;
}

QString RouterVendor::rawValue() const
{
    return QLatin1String(kVendorNames[m_value]);
}

int RouterVendor::defaultPort() const
{
    static const int ports[] = {0, 9990, 2000, 80, 2000, 6107, 23};
    return ports[m_value];
}

QString RouterVendor::displayName() const
{
    switch (m_value) {
    case simulator: return QStringLiteral("Simulator");
    case blackmagicVideohub: return QStringLiteral("Blackmagic Videohub");
    case rossUltrix: return QStringLiteral("Ross Ultrix");
    case ajaKumo: return QStringLiteral("AJA KUMO");
    case genericSWP08: return QStringLiteral("Generic SW-P-08");
    case lightware: return QStringLiteral("Lightware MX2");
    case evertzQuartz: return QStringLiteral("Evertz (Quartz)");
    }
    return {};
}

QString RouterVendor::summary() const
{
    switch (m_value) {
    case simulator: return QStringLiteral("In-memory demo router");
    case blackmagicVideohub: return QStringLiteral("Videohub / ATEM Constellation · TCP 9990");
    case rossUltrix: return QStringLiteral("Pro-Bel SW-P-08 · TCP");
    case ajaKumo: return QStringLiteral("HTTP REST API");
    case genericSWP08: return QStringLiteral("Pro-Bel SW-P-08 · TCP");
    case lightware: return QStringLiteral("LW3 · TCP 6107");
    case evertzQuartz: return QStringLiteral("Quartz Type-1 · TCP");
    }
    return {};
}

QString RouterVendor::systemImage() const
{
    switch (m_value) {
    case simulator: return QStringLiteral("waveform.path");
    case blackmagicVideohub: return QStringLiteral("rectangle.connected.to.line.below");
    case rossUltrix: return QStringLiteral("square.grid.3x3.fill");
    case ajaKumo: return QStringLiteral("network");
    case genericSWP08: return QStringLiteral("point.3.connected.trianglepath.dotted");
    case lightware: return QStringLiteral("square.grid.4x3.fill");
    case evertzQuartz: return QStringLiteral("rectangle.split.3x3");
    }
    return {};
}

QColor RouterVendor::tint() const
{
    // The desktop's system colours of these names.
    switch (m_value) {
    case simulator:
    case blackmagicVideohub: return QColor(0x00, 0x7a, 0xff);  // blue
    case rossUltrix: return QColor(0xaf, 0x52, 0xde);          // purple
    case ajaKumo: return QColor(0x30, 0xb0, 0xc7);             // teal
    case genericSWP08: return QColor(0x58, 0x56, 0xd6);        // indigo
    case lightware: return QColor(0x00, 0xc7, 0xbe);           // mint
    case evertzQuartz: return QColor(0x32, 0xad, 0xe6);        // cyan
    }
    return {};
}

bool RouterVendor::needsMatrixSize() const
{
    switch (m_value) {
    case simulator:
    case rossUltrix:
    case genericSWP08:
    case evertzQuartz: return true;
    case blackmagicVideohub:
    case ajaKumo:
    case lightware: return false;
    }
    return false;
}

std::optional<int> RouterVendor::maxMatrixSize() const
{
    if (!needsMatrixSize())
        return std::nullopt;
    return m_value == simulator ? 64 : 1024;
}

// MARK: Enumerations

QString rawValue(PortKind kind)
{
    return QLatin1String(kPortKindNames[int(kind)]);
}

QString rawValue(LevelKind kind)
{
    return QLatin1String(kLevelKindNames[int(kind)]);
}

QString rawValue(TakeMode mode)
{
    return mode == TakeMode::immediate ? QStringLiteral("immediate") : QStringLiteral("confirm");
}

QString rawValue(RouteViewMode mode)
{
    return mode == RouteViewMode::matrix ? QStringLiteral("matrix") : QStringLiteral("list");
}

QString rawValue(RoutingDirection direction)
{
    return direction == RoutingDirection::destinationLed ? QStringLiteral("destinationLed")
                                                         : QStringLiteral("sourceLed");
}

std::optional<PortKind> portKindFromRawValue(const QString &raw)
{
    return matchRaw<PortKind>(raw, kPortKindNames);
}

std::optional<LevelKind> levelKindFromRawValue(const QString &raw)
{
    return matchRaw<LevelKind>(raw, kLevelKindNames);
}

// MARK: Port, RouterLevel, Route

namespace {
// Hashes an absent value apart from every present one.
template<typename T> size_t hashOptional(const std::optional<T> &value)
{
    return value ? qHash(*value) + 1 : 0;
}
} // namespace

QString PortRef::id() const
{
    return rawValue(kind) + QLatin1Char('-') + QString::number(index);
}

QString Port::id() const
{
    return PortRef { kind, index }.id();
}

size_t qHash(const Port &port, size_t seed)
{
    return qHashMulti(seed, port.index, int(port.kind), port.label);
}

size_t qHash(const RouterLevel &level, size_t seed)
{
    return qHashMulti(seed, level.index, level.name, int(level.kind));
}

size_t qHash(const InputSignalStatus &status, size_t seed)
{
    return qHashMulti(seed, status.present, hashOptional(status.format));
}

QJsonObject Port::toJson() const
{
    return {{QStringLiteral("index"), index},
            {QStringLiteral("kind"), rawValue(kind)},
            {QStringLiteral("label"), label}};
}

Json::Decoded<Port> Port::fromJson(const QJsonObject &object)
{
    QV_TRY(index, Json::reqInt(object, QStringLiteral("index")));
    QV_TRY(kindText, Json::reqString(object, QStringLiteral("kind")));
    QV_TRY(label, Json::reqString(object, QStringLiteral("label")));
    const auto kind = portKindFromRawValue(*kindText);
    if (!kind)
        return std::unexpected(QStringLiteral("“kind” is not a port kind"));
    return Port{*index, *kind, *label};
}

QJsonObject RouterLevel::toJson() const
{
    return {{QStringLiteral("index"), index},
            {QStringLiteral("name"), name},
            {QStringLiteral("kind"), rawValue(kind)}};
}

Json::Decoded<RouterLevel> RouterLevel::fromJson(const QJsonObject &object)
{
    QV_TRY(index, Json::reqInt(object, QStringLiteral("index")));
    QV_TRY(name, Json::reqString(object, QStringLiteral("name")));
    QV_TRY(kindText, Json::reqString(object, QStringLiteral("kind")));
    const auto kind = levelKindFromRawValue(*kindText);
    if (!kind)
        return std::unexpected(QStringLiteral("“kind” is not a level kind"));
    return RouterLevel{*index, *name, *kind};
}

QJsonObject Route::toJson() const
{
    return {{QStringLiteral("level"), level},
            {QStringLiteral("destination"), destination},
            {QStringLiteral("source"), source}};
}

Json::Decoded<Route> Route::fromJson(const QJsonObject &object)
{
    QV_TRY(level, Json::reqInt(object, QStringLiteral("level")));
    QV_TRY(destination, Json::reqInt(object, QStringLiteral("destination")));
    QV_TRY(source, Json::reqInt(object, QStringLiteral("source")));
    return Route{*level, *destination, *source};
}

// MARK: RouterState

std::optional<int> RouterState::source(int destination, int level) const
{
    const auto levelIt = routing.constFind(level);
    if (levelIt == routing.constEnd())
        return std::nullopt;
    const auto it = levelIt->constFind(destination);
    if (it == levelIt->constEnd())
        return std::nullopt;
    return *it;
}

// MARK: Dates

namespace ReferenceDate {

QDateTime epoch()
{
    return QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
}

double fromDateTime(const QDateTime &date)
{
    return double(epoch().msecsTo(date)) / 1000.0;
}

double secondsNow()
{
    return fromDateTime(QDateTime::currentDateTimeUtc());
}

QDateTime toDateTime(double seconds)
{
    // A hand-edited date far from now overflowed the milliseconds, so that one far in the past
    // read as the future. About 31 million years either way is kept as it is.
    constexpr double limit = 1e15;
    const double bounded = std::isnan(seconds) ? 0.0 : std::clamp(seconds, -limit, limit);
    return epoch().addMSecs(qint64(std::llround(bounded * 1000.0)));
}

} // namespace ReferenceDate

// MARK: RouterConnection

QColor RouterConnection::tint() const
{
    if (!accentHue)
        return vendor.tint();
    const double hue = std::isfinite(*accentHue) ? std::clamp(*accentHue, 0.0, 1.0) : 0.0;
    // A hue of exactly 1 is the same colour as 0; QColor wants [0, 1).
    return QColor::fromHsvF(float(hue >= 1.0 ? 0.0 : hue), 0.72f, 0.9f, 1.0f);
}

QString RouterConnection::endpointDescription() const
{
    if (vendor == RouterVendor::simulator)
        return QStringLiteral("In-memory demo router");
    if (host.isEmpty() && bonjourName)
        return Text::isolated(*bonjourName) + QStringLiteral(" · Bonjour");
    return Text::isolated(host) + QLatin1Char(':') + QString::number(port);
}

QJsonObject RouterConnection::toJson() const
{
    QJsonObject object{{QStringLiteral("id"), Json::uuidText(id)},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("vendor"), vendor.rawValue()},
                       {QStringLiteral("host"), host},
                       {QStringLiteral("port"), port},
                       {QStringLiteral("simSourceCount"), simSourceCount},
                       {QStringLiteral("simDestinationCount"), simDestinationCount}};
    if (accentHue)
        object.insert(QStringLiteral("accentHue"), *accentHue);
    if (bonjourName)
        object.insert(QStringLiteral("bonjourName"), *bonjourName);
    if (bonjourType)
        object.insert(QStringLiteral("bonjourType"), *bonjourType);
    if (bonjourDomain)
        object.insert(QStringLiteral("bonjourDomain"), *bonjourDomain);
    return object;
}

Json::Decoded<RouterConnection> RouterConnection::fromJson(const QJsonObject &object)
{
    RouterConnection connection;
    QV_TRY(id, Json::optUuid(object, QStringLiteral("id")));
    connection.id = id->value_or(QUuid::createUuid());
    QV_TRY(name, Json::optString(object, QStringLiteral("name")));
    connection.name = name->value_or(QStringLiteral("Router"));
    // Read as text so that an unknown vendor falls back instead of failing the file.
    QV_TRY(vendorText, Json::optString(object, QStringLiteral("vendor")));
    connection.vendor = RouterVendor::fromRawValue(vendorText->value_or(QString()))
                            .value_or(RouterVendor::blackmagicVideohub);
    QV_TRY(host, Json::optString(object, QStringLiteral("host")));
    connection.host = host->value_or(QString());
    QV_TRY(port, Json::optInt(object, QStringLiteral("port")));
    connection.port = port->value_or(connection.vendor.defaultPort());
    QV_TRY(sources, Json::optInt(object, QStringLiteral("simSourceCount")));
    connection.simSourceCount = sources->value_or(16);
    QV_TRY(destinations, Json::optInt(object, QStringLiteral("simDestinationCount")));
    connection.simDestinationCount = destinations->value_or(16);
    QV_TRY(hue, Json::optDouble(object, QStringLiteral("accentHue")));
    connection.accentHue = *hue;
    QV_TRY(bonjourName, Json::optString(object, QStringLiteral("bonjourName")));
    connection.bonjourName = *bonjourName;
    QV_TRY(bonjourType, Json::optString(object, QStringLiteral("bonjourType")));
    connection.bonjourType = *bonjourType;
    QV_TRY(bonjourDomain, Json::optString(object, QStringLiteral("bonjourDomain")));
    connection.bonjourDomain = *bonjourDomain;
    return connection;
}

size_t qHash(const RouterConnection &connection, size_t seed)
{
    return qHashMulti(seed, connection.id, connection.name,
                      int(RouterVendor::Value(connection.vendor)), connection.host, connection.port,
                      connection.simSourceCount, connection.simDestinationCount,
                      hashOptional(connection.accentHue), hashOptional(connection.bonjourName),
                      hashOptional(connection.bonjourType), hashOptional(connection.bonjourDomain));
}

// MARK: Salvo, SubPanel

size_t qHash(const Salvo &salvo, size_t seed)
{
    return qHashMulti(seed, salvo.id, salvo.name, salvo.routes, hashOptional(salvo.savedAt),
                      hashOptional(salvo.panelID));
}

size_t qHash(const SubPanel &panel, size_t seed)
{
    return qHashMulti(seed, panel.id, panel.name, panel.sourceIndices, panel.destinationIndices);
}

QJsonObject Salvo::toJson() const
{
    QJsonArray routeArray;
    for (const Route &route : routes)
        routeArray.append(route.toJson());
    QJsonObject object{{QStringLiteral("id"), Json::uuidText(id)},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("routes"), routeArray}};
    if (savedAt)
        object.insert(QStringLiteral("savedAt"), *savedAt);
    if (panelID)
        object.insert(QStringLiteral("panelID"), Json::uuidText(*panelID));
    return object;
}

Json::Decoded<Salvo> Salvo::fromJson(const QJsonObject &object)
{
    Salvo salvo;
    QV_TRY(id, Json::reqUuid(object, QStringLiteral("id")));
    salvo.id = *id;
    QV_TRY(name, Json::reqString(object, QStringLiteral("name")));
    salvo.name = *name;
    QV_TRY(routeArray, Json::reqArray(object, QStringLiteral("routes")));
    salvo.routes.reserve(routeArray->size());
    for (const QJsonValue &item : *routeArray) {
        QV_TRY(routeObject, Json::toObject(item, QStringLiteral("routes")));
        QV_TRY(route, Route::fromJson(*routeObject));
        salvo.routes.append(*route);
    }
    QV_TRY(savedAt, Json::optDouble(object, QStringLiteral("savedAt")));
    salvo.savedAt = *savedAt;
    QV_TRY(panelID, Json::optUuid(object, QStringLiteral("panelID")));
    salvo.panelID = *panelID;
    return salvo;
}

QJsonObject SubPanel::toJson() const
{
    QJsonArray sourceArray;
    for (int index : sourceIndices)
        sourceArray.append(index);
    QJsonArray destinationArray;
    for (int index : destinationIndices)
        destinationArray.append(index);
    return {{QStringLiteral("id"), Json::uuidText(id)},
            {QStringLiteral("name"), name},
            {QStringLiteral("sourceIndices"), sourceArray},
            {QStringLiteral("destinationIndices"), destinationArray}};
}

Json::Decoded<SubPanel> SubPanel::fromJson(const QJsonObject &object)
{
    SubPanel panel;
    QV_TRY(id, Json::reqUuid(object, QStringLiteral("id")));
    panel.id = *id;
    QV_TRY(name, Json::reqString(object, QStringLiteral("name")));
    panel.name = *name;
    QV_TRY(sourceArray, Json::reqArray(object, QStringLiteral("sourceIndices")));
    QV_TRY(sources, Json::toIntList(*sourceArray, QStringLiteral("sourceIndices")));
    panel.sourceIndices = *sources;
    QV_TRY(destinationArray, Json::reqArray(object, QStringLiteral("destinationIndices")));
    QV_TRY(destinations, Json::toIntList(*destinationArray, QStringLiteral("destinationIndices")));
    panel.destinationIndices = *destinations;
    return panel;
}
