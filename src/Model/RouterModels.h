#pragma once

#include "Model/Json.h"

#include <QColor>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QUuid>

#include <array>
#include <optional>

// The value types every part of the system shares. Indices of ports and levels are
// 0-based throughout; only the interface shows ports 1-based.

// A router maker, stored by case name. Wraps an enumeration so that the catalogue reads as
// members: `vendor.displayName()`, `RouterVendor::allCases()`.
class RouterVendor
{
public:
    enum Value { simulator, blackmagicVideohub, rossUltrix, ajaKumo, genericSWP08, lightware, evertzQuartz };

    constexpr RouterVendor(Value value = blackmagicVideohub) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    static QList<RouterVendor> allCases();
    // Exact, case-sensitive match of the seven case names.
    static std::optional<RouterVendor> fromRawValue(const QString &raw);
    QString rawValue() const;
    QString id() const { return rawValue(); }

    // TCP (HTTP for KUMO) port a new or decoded connection gets; 0 for the simulator.
    int defaultPort() const;

    // The catalogue shown wherever a router is presented.
    QString displayName() const;
    QString summary() const;
    QString systemImage() const;
    QColor tint() const;
    bool needsMatrixSize() const;
    std::optional<int> maxMatrixSize() const;

private:
    Value m_value;
};

inline size_t qHash(RouterVendor vendor, size_t seed = 0)
{
    return ::qHash(int(RouterVendor::Value(vendor)), seed);
}

enum class PortKind { source, destination };
enum class LevelKind { video, audio, data, multi };
enum class TakeMode { immediate, confirm };
enum class RouteViewMode { matrix, list };
enum class RoutingDirection { destinationLed, sourceLed };

// The cases of a workspace mode in the order its picker offers them: allCases<TakeMode>().
template<typename Enum> constexpr auto allCases();
template<> constexpr auto allCases<TakeMode>()
{
    return std::array { TakeMode::immediate, TakeMode::confirm };
}
template<> constexpr auto allCases<RouteViewMode>()
{
    return std::array { RouteViewMode::matrix, RouteViewMode::list };
}
template<> constexpr auto allCases<RoutingDirection>()
{
    return std::array { RoutingDirection::destinationLed, RoutingDirection::sourceLed };
}

QString rawValue(PortKind kind);
QString rawValue(LevelKind kind);
QString rawValue(TakeMode mode);
QString rawValue(RouteViewMode mode);
QString rawValue(RoutingDirection direction);
std::optional<PortKind> portKindFromRawValue(const QString &raw);
std::optional<LevelKind> levelKindFromRawValue(const QString &raw);

struct Port
{
    int index = 0;
    PortKind kind = PortKind::source;
    QString label;

    // "source-3", "destination-12": stable across label changes.
    QString id() const;
    bool operator==(const Port &) const = default;

    QJsonObject toJson() const;
    static Json::Decoded<Port> fromJson(const QJsonObject &object);
};

size_t qHash(const Port &port, size_t seed = 0);

struct RouterLevel
{
    int index = 0;
    QString name;
    LevelKind kind = LevelKind::video;

    int id() const { return index; }
    bool operator==(const RouterLevel &) const = default;

    QJsonObject toJson() const;
    static Json::Decoded<RouterLevel> fromJson(const QJsonObject &object);
};

size_t qHash(const RouterLevel &level, size_t seed = 0);

struct Route
{
    int level = 0;
    int destination = 0;
    int source = 0;

    bool operator==(const Route &) const = default;

    QJsonObject toJson() const;
    static Json::Decoded<Route> fromJson(const QJsonObject &object);
};

inline size_t qHash(const Route &route, size_t seed = 0)
{
    return qHashMulti(seed, route.level, route.destination, route.source);
}

struct InputSignalStatus
{
    bool present = false;
    std::optional<QString> format;

    bool operator==(const InputSignalStatus &) const = default;
};

size_t qHash(const InputSignalStatus &status, size_t seed = 0);

// Destination index to source index, for one level.
using LevelRouting = QHash<int, int>;

struct RouterState
{
    QString deviceName;
    QString model;
    RouterVendor vendor = RouterVendor::simulator;
    QList<Port> sources;
    QList<Port> destinations;
    QList<RouterLevel> levels;
    QHash<int, LevelRouting> routing; // level index to its crosspoints
    QSet<int> lockedDestinations;
    QHash<int, InputSignalStatus> inputStatus; // source index to its signal

    std::optional<int> source(int destination, int level) const;
    bool isLocked(int destination) const { return lockedDestinations.contains(destination); }

    bool operator==(const RouterState &) const = default;
};

class ConnectionStatus
{
public:
    enum Kind { disconnected, connecting, connected, failed };

    ConnectionStatus(Kind kind = disconnected) : m_kind(kind) {}
    static ConnectionStatus failure(const QString &message) { return {failed, message}; }

    Kind kind() const { return m_kind; }
    // The failure message; empty for the other cases.
    QString message() const { return m_message; }
    bool isConnected() const { return m_kind == connected; }

    bool operator==(const ConnectionStatus &) const = default;

private:
    ConnectionStatus(Kind kind, const QString &message) : m_kind(kind), m_message(message) {}
    Kind m_kind;
    QString m_message;
};

// Dates are stored as seconds since 2001-01-01T00:00:00 UTC, kept as a double so that
// stored fractions survive a round trip exactly.
namespace ReferenceDate {
QDateTime epoch();
double secondsNow();
QDateTime toDateTime(double seconds);
double fromDateTime(const QDateTime &date);
} // namespace ReferenceDate

struct RouterConnection
{
    QUuid id = QUuid::createUuid();
    QString name;
    RouterVendor vendor = RouterVendor::blackmagicVideohub;
    QString host;
    int port = 9990;
    int simSourceCount = 16;
    int simDestinationCount = 16;
    std::optional<double> accentHue;
    std::optional<QString> bonjourName;
    std::optional<QString> bonjourType;
    std::optional<QString> bonjourDomain;

    // The router's colour: the accent hue (clamped to 0…1) at saturation 0.72 and
    // brightness 0.9, else the vendor's colour.
    QColor tint() const;
    // Where the router is, as the sidebar and the connect prompt show it.
    QString endpointDescription() const;

    bool operator==(const RouterConnection &) const = default;

    QJsonObject toJson() const;
    // Never fails for a missing key; fails for a present value of the wrong type.
    static Json::Decoded<RouterConnection> fromJson(const QJsonObject &object);
};

size_t qHash(const RouterConnection &connection, size_t seed = 0);

struct Salvo
{
    QUuid id = QUuid::createUuid();
    QString name;
    QList<Route> routes;
    std::optional<double> savedAt; // seconds since 2001-01-01 UTC
    std::optional<QUuid> panelID;

    bool operator==(const Salvo &) const = default;

    QJsonObject toJson() const;
    static Json::Decoded<Salvo> fromJson(const QJsonObject &object);
};

size_t qHash(const Salvo &salvo, size_t seed = 0);

struct SubPanel
{
    QUuid id = QUuid::createUuid();
    QString name;
    QList<int> sourceIndices;
    QList<int> destinationIndices;

    bool operator==(const SubPanel &) const = default;

    QJsonObject toJson() const;
    static Json::Decoded<SubPanel> fromJson(const QJsonObject &object);
};

size_t qHash(const SubPanel &panel, size_t seed = 0);

// A port named by kind and index: rename targets and label keys.
struct PortRef
{
    PortKind kind = PortKind::source;
    int index = 0;

    // Formed like Port::id(): "source-3".
    QString id() const;
    bool operator==(const PortRef &) const = default;
};

inline size_t qHash(const PortRef &ref, size_t seed = 0)
{
    return qHashMulti(seed, int(ref.kind), ref.index);
}
