#pragma once

#include "Drivers/RouterDriver.h"
#include "Model/RouterModels.h"

#include <QHash>
#include <QString>

#include <functional>
#include <optional>

// What a command asked the router for, or what the router reports it holds: one crosspoint,
// one destination's lock or one port's name. Pure; parsers build reports of it and the
// pending-command table (PendingCommands) matches them to what was asked.
struct CommandTarget
{
    enum class Kind : quint8 { route, lock, label };

    Kind kind = Kind::route;
    int level = 0; // a route's level
    int index = 0; // the destination of a route or lock, the port of a label
    PortKind port = PortKind::destination; // a label's port kind
    std::optional<int> source; // a route's source; none: the destination has none
    bool locked = false;
    QString label;

    static CommandTarget route(int level, int destination, std::optional<int> source);
    static CommandTarget lock(int destination, bool locked);
    static CommandTarget name(PortKind kind, int index, const QString &label);

    // Which crosspoint, lock or port, whatever its value.
    quint64 key() const;
    // The event that shows this value on the controller.
    RouterDriverEvent event() const;
    bool operator==(const CommandTarget &) const = default;

    // Whether a label target names a source; routes and locks are on destinations.
    bool onSource() const { return kind == Kind::label && port == PortKind::source; }
    // "In n" or "Out n", 1-based, for a port the router has given no name.
    QString numberedPort() const;
};

// For parsers that keep the router's port names by side. The name the router last reported
// for a label target's port, or none.
std::optional<CommandTarget> reportedName(const CommandTarget &target,
                                          const QHash<int, QString> &inputs,
                                          const QHash<int, QString> &outputs);
// How messages name the target's port: the router's name for it, else its number.
QString portName(const CommandTarget &target, const QHash<int, QString> &inputs,
                 const QHash<int, QString> &outputs);

// What a parser tells its link's pending-command table (PendingCommands) about the commands
// it matched, by the id the table gave each one. Any member may be empty.
struct CommandHooks
{
    using Id = quint64;
    std::function<void(Id)> answered;
    std::function<void(Id, const QString &reason)> refused;
    // The router reports what it holds; `shown`: the parser reported it as a change.
    std::function<void(const CommandTarget &report, bool shown)> observed;
    // A reply to something we asked is arriving, though it settles no command.
    std::function<void()> heard;

    void answer(Id id) const
    {
        if (answered)
            answered(id);
    }
    void refuse(Id id, const QString &reason) const
    {
        if (refused)
            refused(id, reason);
    }
    void observe(const CommandTarget &report, bool shown) const
    {
        if (observed)
            observed(report, shown);
    }
    void hear() const
    {
        if (heard)
            heard();
    }
};
