#include "Drivers/PendingCommands.h"

#include "Platform/Text.h"

namespace {

bool holdsSame(const CommandTarget &asked, const CommandTarget &report)
{
    switch (asked.kind) {
    case CommandTarget::Kind::route:
        return asked.source == report.source;
    case CommandTarget::Kind::lock:
        return asked.locked == report.locked;
    case CommandTarget::Kind::label:
        break;
    }
    return asked.label == report.label;
}

QString noun(const CommandTarget &first, bool plural)
{
    QString word;
    switch (first.kind) {
    case CommandTarget::Kind::route:
        word = QStringLiteral("route");
        break;
    case CommandTarget::Kind::lock:
        word = first.locked ? QStringLiteral("lock") : QStringLiteral("unlock");
        break;
    case CommandTarget::Kind::label:
        word = QStringLiteral("new name");
        break;
    }
    return plural ? word + u's' : word;
}

} // namespace

PendingCommands::PendingCommands()
    : PendingCommands(Timing {})
{ }

PendingCommands::PendingCommands(Timing timing)
    : m_timing(timing)
{ }

PendingCommands::Id PendingCommands::open(const QList<CommandTarget> &targets)
{
    if (int(m_commands.size()) >= maxCommands)
        forgetOldestCommand();
    const Id id = ++m_nextId;
    Command &command = m_commands[id];
    for (const CommandTarget &target : targets) {
        const quint64 key = target.key();
        auto held = m_entries.find(key);
        if (held != m_entries.end()) {
            if (held->command == id) { // named twice in one command: the last one counts
                held->asked = target;
                continue;
            }
            // A later command takes over the target; the earlier one no longer waits for it.
            const Id earlier = held->command;
            m_entries.erase(held);
            release(earlier);
        } else if (m_entries.size() >= maxTargets) {
            giveUpOldest();
        }
        m_entries.insert(key, Entry { target, id, Phase::waiting, {}, {} });
        command.keys.append(key);
        ++command.open;
    }
    m_opened = id;
    return id;
}

PendingCommands::Id PendingCommands::sent()
{
    const Id id = m_opened ? *std::exchange(m_opened, std::nullopt) : open({});
    m_opened.reset();
    const auto command = m_commands.find(id);
    if (command == m_commands.end() || command->second.sent)
        return id;
    command->second.sent = true;
    if (m_unanswered++ == 0)
        m_lastAnswer = Clock::now();
    return id;
}

void PendingCommands::notSent(Id id)
{
    const auto command = m_commands.find(id);
    if (command == m_commands.end())
        return;
    if (command->second.sent && !command->second.answered)
        --m_unanswered;
    for (const CommandTarget &asked : takeTargets(id, command->second))
        putBack(asked);
    m_commands.erase(command);
}

QList<CommandTarget> PendingCommands::takeTargets(Id id, const Command &command)
{
    QList<CommandTarget> targets;
    for (quint64 key : std::as_const(command.keys)) {
        const auto entry = m_entries.constFind(key);
        if (entry == m_entries.cend() || entry->command != id)
            continue; // settled since, or taken over by a later command
        targets.append(entry->asked);
        m_entries.erase(entry);
    }
    return targets;
}

void PendingCommands::markAnswered(Id id, Command &command)
{
    if (command.answered)
        return;
    command.answered = true;
    if (command.sent)
        --m_unanswered;
    const Clock::time_point now = Clock::now();
    m_lastAnswer = now;
    for (quint64 key : std::as_const(command.keys)) {
        auto entry = m_entries.find(key);
        if (entry == m_entries.end() || entry->command != id || entry->phase != Phase::waiting)
            continue;
        entry->phase = Phase::answered;
        entry->answeredAt = now;
        entry->due = now + m_timing.grace;
    }
    if (command.open > 0)
        arm(now + m_timing.grace);
}

void PendingCommands::answered(Id id)
{
    const auto command = m_commands.find(id);
    if (command == m_commands.end())
        return;
    markAnswered(id, command->second);
    if (command->second.open == 0)
        m_commands.erase(command);
}

void PendingCommands::answerOldest()
{
    for (auto &[id, command] : m_commands) {
        if (command.sent && !command.answered) {
            answered(id);
            return;
        }
    }
}

void PendingCommands::refused(Id id, const QString &reason)
{
    const auto command = m_commands.find(id);
    if (command == m_commands.end())
        return;
    markAnswered(id, command->second);
    const QList<CommandTarget> targets = takeTargets(id, command->second);
    for (const CommandTarget &asked : targets) {
        tell(Outcome::refused, asked, reason);
        m_putBacks.append(asked);
        m_rereads.append(asked); // what it holds instead is read at the flush
    }
    if (targets.isEmpty())
        m_told.append({ Outcome::refused, CommandTarget::Kind::route, reason, {} });
    m_commands.erase(command);
}

void PendingCommands::observe(const CommandTarget &report, bool shown)
{
    if (m_entries.isEmpty())
        return;
    const auto entry = m_entries.find(report.key());
    if (entry == m_entries.end())
        return;
    const Id id = entry->command;
    if (holdsSame(entry->asked, report)) {
        if (!shown) // a repeat the parser kept to itself; the controller waits for it
            emitEvent(report.event());
        if (entry->phase == Phase::rereading)
            heard();
        m_entries.erase(entry);
        const auto command = m_commands.find(id);
        if (command != m_commands.end()) {
            markAnswered(id, command->second); // carried out is answered, whatever follows
            release(id);
        }
        return;
    }
    switch (entry->phase) {
    case Phase::waiting:
        return; // what it held before it took the command in
    case Phase::answered: {
        const CommandTarget asked = entry->asked;
        m_entries.erase(entry);
        tell(Outcome::contradicted, asked);
        if (!shown)
            m_putBacks.append(asked);
        release(id);
        return;
    }
    case Phase::rereading:
        // Not done yet, maybe; shown as the router has it until the deadline decides.
        if (!shown)
            m_putBacks.append(entry->asked);
        heard();
        return;
    }
}

void PendingCommands::release(Id id)
{
    const auto command = m_commands.find(id);
    if (command == m_commands.end())
        return;
    if (--command->second.open <= 0 && command->second.answered)
        m_commands.erase(command);
}

void PendingCommands::putBack(const CommandTarget &asked)
{
    std::optional<CommandTarget> held;
    if (m_protocol.reported)
        held = m_protocol.reported(asked);
    if (held) {
        emitEvent(held->event());
        return;
    }
    // Nothing reported is nothing confirmed: no source, not locked. A name stays as it is.
    if (asked.kind == CommandTarget::Kind::route)
        emitEvent(CommandTarget::route(asked.level, asked.index, std::nullopt).event());
    else if (asked.kind == CommandTarget::Kind::lock)
        emitEvent(CommandTarget::lock(asked.index, false).event());
}

void PendingCommands::tell(Outcome outcome, const CommandTarget &asked, const QString &reason)
{
    for (Told &told : m_told) {
        if (told.outcome == outcome && told.kind == asked.kind && told.reason == reason) {
            told.targets.append(asked);
            return;
        }
    }
    m_told.append({ outcome, asked.kind, reason, { asked } });
}

void PendingCommands::giveUpOldest()
{
    auto oldest = m_entries.end();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (oldest == m_entries.end() || it->command < oldest->command)
            oldest = it;
    }
    if (oldest == m_entries.end())
        return;
    const CommandTarget asked = oldest->asked;
    const Id id = oldest->command;
    m_entries.erase(oldest);
    tell(Outcome::expired, asked);
    m_putBacks.append(asked);
    release(id);
}

void PendingCommands::forgetOldestCommand()
{
    const auto oldest = m_commands.begin();
    const Id id = oldest->first;
    markAnswered(id, oldest->second); // forgotten, so the link no longer waits for it
    for (const CommandTarget &asked : takeTargets(id, oldest->second)) {
        tell(Outcome::expired, asked);
        m_putBacks.append(asked);
    }
    m_commands.erase(id);
}

void PendingCommands::arm(Clock::time_point due)
{
    if (m_sweep.isPending() && m_sweepDue && *m_sweepDue <= due)
        return;
    if (!m_link.schedule)
        return;
    m_sweep.cancel();
    m_sweepDue = due;
    const auto delay = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
    m_sweep = m_link.schedule(std::max(delay, std::chrono::milliseconds(0)), [this] { sweep(); });
}

void PendingCommands::sweep()
{
    m_sweepDue.reset();
    const Clock::time_point now = Clock::now();
    std::optional<Clock::time_point> next;
    QList<CommandTarget> again;
    for (auto entry = m_entries.begin(); entry != m_entries.end();) {
        if (entry->phase == Phase::waiting) {
            ++entry;
            continue;
        }
        const Clock::time_point deadline = entry->answeredAt + m_timing.deadline;
        if (now >= deadline) {
            const CommandTarget asked = entry->asked;
            const Id id = entry->command;
            entry = m_entries.erase(entry);
            tell(Outcome::expired, asked);
            m_putBacks.append(asked);
            release(id);
            continue;
        }
        if (now >= entry->due) {
            entry->phase = Phase::rereading;
            entry->due = std::min(now + m_timing.reread, deadline);
            again.append(entry->asked);
        }
        next = std::min(next.value_or(entry->due), entry->due);
        ++entry;
    }
    if (!again.isEmpty() && m_protocol.reread)
        m_protocol.reread(again);
    if (next)
        arm(*next);
    flush();
}

QString PendingCommands::portName(const CommandTarget &target) const
{
    if (m_protocol.portName)
        return m_protocol.portName(target);
    return target.numberedPort();
}

QString PendingCommands::message(const Told &told) const
{
    if (told.targets.isEmpty())
        return told.reason;
    const qsizetype count = told.targets.size();
    const QString first = Text::isolated(portName(told.targets.first()));
    const QString ports = count == 1
        ? first
        : Text::format(QStringLiteral("%1 and %2 more"), first, qint64(count - 1));
    const QString verb = count == 1 ? QStringLiteral("shows") : QStringLiteral("show");
    switch (told.outcome) {
    case Outcome::refused: {
        // The router's own words may end without a full stop.
        const QChar last = told.reason.isEmpty() ? QChar(u'.') : told.reason.back();
        const QString reason
            = last == u'.' || last == u'!' || last == u'?' ? told.reason : told.reason + u'.';
        return Text::format(QStringLiteral("%1 %2 %3 what the router reports."), reason, ports,
                            verb);
    }
    case Outcome::contradicted:
        return Text::format(QStringLiteral("The router didn't take the %1: %2 %3 what it reports."),
                            noun(told.targets.first(), count > 1), ports, verb);
    case Outcome::expired:
        break;
    }
    return Text::format(
        QStringLiteral("The router didn't confirm the %1 within %2 seconds: %3 %4 what it last "
                       "reported."),
        noun(told.targets.first(), count > 1),
        QString::number(double(m_timing.deadline.count()) / 1000.0), ports, verb);
}

void PendingCommands::flush()
{
    // The refusal first, then the changes that put the optimistic state right, as of now.
    const QList<Told> told = std::exchange(m_told, {});
    for (const Told &each : told)
        emitEvent(RouterDriverEvent::makeCommandRefused(message(each)));
    const QList<CommandTarget> back = std::exchange(m_putBacks, {});
    for (const CommandTarget &asked : back)
        putBack(asked);
    if (!m_rereads.isEmpty()) {
        const QList<CommandTarget> again = std::exchange(m_rereads, {});
        if (m_protocol.reread)
            m_protocol.reread(again);
    }
}

void PendingCommands::linkEnded()
{
    m_sweep.cancel();
    m_sweepDue.reset();
    // Oldest command first, each target as it asked, so the controller sees them in order.
    const std::map<Id, Command> commands = std::exchange(m_commands, {});
    const QHash<quint64, Entry> entries = std::exchange(m_entries, {});
    for (const auto &[id, command] : commands) {
        for (quint64 key : command.keys) {
            const auto entry = entries.constFind(key);
            if (entry != entries.cend() && entry->command == id)
                putBack(entry->asked);
        }
    }
    m_told.clear();
    m_putBacks.clear();
    m_rereads.clear();
    m_opened.reset();
    m_unanswered = 0;
}

void PendingCommands::emitEvent(const RouterDriverEvent &event) const
{
    if (m_link.report)
        m_link.report(event);
}
