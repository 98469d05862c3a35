#include "Drivers/CommandTarget.h"

CommandTarget CommandTarget::route(int level, int destination, std::optional<int> source)
{
    CommandTarget target;
    target.level = level;
    target.index = destination;
    target.source = source;
    return target;
}

CommandTarget CommandTarget::lock(int destination, bool locked)
{
    CommandTarget target;
    target.kind = Kind::lock;
    target.index = destination;
    target.locked = locked;
    return target;
}

CommandTarget CommandTarget::name(PortKind kind, int index, const QString &label)
{
    CommandTarget target;
    target.kind = Kind::label;
    target.port = kind;
    target.index = index;
    target.label = label;
    return target;
}

quint64 CommandTarget::key() const
{
    // Levels and indices are far below 2^24 and 2^32; the top byte tells the kinds apart.
    const quint64 kindBits = quint64(kind) << 1 | (port == PortKind::source ? 1 : 0);
    return kindBits << 56 | (quint64(quint32(level)) & 0xFFFFFF) << 32 | quint32(index);
}

RouterDriverEvent CommandTarget::event() const
{
    switch (kind) {
    case Kind::route:
        return RouterDriverEvent::makeRouteChanged(level, index, source);
    case Kind::lock:
        return RouterDriverEvent::makeLockChanged(index, locked);
    case Kind::label:
        break;
    }
    return RouterDriverEvent::makeLabelChanged(port, index, label);
}

QString CommandTarget::numberedPort() const
{
    return (onSource() ? QStringLiteral("In ") : QStringLiteral("Out "))
        + QString::number(qint64(index) + 1);
}

std::optional<CommandTarget> reportedName(const CommandTarget &target,
                                          const QHash<int, QString> &inputs,
                                          const QHash<int, QString> &outputs)
{
    const QHash<int, QString> &labels = target.port == PortKind::source ? inputs : outputs;
    const auto label = labels.constFind(target.index);
    if (label == labels.cend())
        return std::nullopt;
    return CommandTarget::name(target.port, target.index, *label);
}

QString portName(const CommandTarget &target, const QHash<int, QString> &inputs,
                 const QHash<int, QString> &outputs)
{
    const QHash<int, QString> &labels = target.onSource() ? inputs : outputs;
    const auto label = labels.constFind(target.index);
    return label == labels.cend() ? target.numberedPort() : *label;
}
