#pragma once

#include "Drivers/CommandTarget.h"
#include "Platform/SerialQueue.h"

#include <QHash>
#include <QList>

#include <chrono>
#include <functional>
#include <map>
#include <optional>

// The commands a link has in flight, each with what it asked the router for (its targets),
// until the router has answered it and confirmed or refused every target. One per link, on
// the link's queue; the link's protocol matches the router's answers and reports to it.
//
// A command is *answered* when the router acknowledges, refuses or carries it out; the link's
// answer limit counts only these, and replies it asked for that are still arriving (heard()).
// A target is *confirmed* by the router's own report of that crosspoint, lock or name holding
// what was asked; a report before the answer that holds something else is older news and is
// passed over. After the answer:
//   - a report that holds something else, before the router was asked again, contradicts it;
//   - without a report, the protocol is asked to re-read the target `grace` after the answer
//     and then every `reread`; a re-read that still shows something else is shown as it is,
//     and the target waits on;
//   - `deadline` after the answer the target is given up.
// A refusal, a contradiction or the deadline puts the target back to what the router last
// reported (when it reported nothing: no source, unlocked) and says so: at the next flush(),
// one commandRefused per outcome and kind that names the ports, then the events that put the
// targets back. A later command for the same target takes over its claim. When the link ends
// every open target is put back silently: the link's ending says how many were waiting.
class PendingCommands final
{
public:
    using Id = quint64;
    using Clock = std::chrono::steady_clock;

    struct Timing
    {
        std::chrono::milliseconds grace { 250 };
        std::chrono::milliseconds reread { 1000 };
        std::chrono::milliseconds deadline { 3000 };
    };

    // What the table asks of the protocol, on the queue.
    struct Protocol
    {
        // Asks the router again for what these name; one call per sweep.
        std::function<void(const QList<CommandTarget> &)> reread;
        // What the router last reported for the target's crosspoint, lock or port, or none.
        std::function<std::optional<CommandTarget>(const CommandTarget &)> reported;
        // How messages name a target's port; when empty, "Out n" or "In n".
        std::function<QString(const CommandTarget &)> portName;
    };

    // What the table needs of its link.
    struct Link
    {
        std::function<void(const RouterDriverEvent &)> report;
        std::function<DelayedWork(std::chrono::milliseconds, std::function<void()>)> schedule;
    };

    // Beyond these the oldest are given up, as if their deadline had passed.
    static constexpr int maxTargets = 16384;
    static constexpr int maxCommands = 16384;

    PendingCommands();
    explicit PendingCommands(Timing timing);

    void setLink(Link link) { m_link = std::move(link); }
    void setProtocol(Protocol protocol) { m_protocol = std::move(protocol); }
    const Timing &timing() const { return m_timing; }

    // Sending: open() records a command about to be written with what it asks for (a
    // command's prepare step does); sent() tells that its bytes were written, and opens one
    // without targets if none was opened since; notSent() that they never reached the router,
    // which puts its targets back.
    Id open(const QList<CommandTarget> &targets);
    Id sent();
    void notSent(Id id);

    // What the protocol matched to a command; unknown and settled ids are ignored.
    void answered(Id id);
    // The oldest command not yet answered, for protocols that match answers by order alone.
    void answerOldest();
    void refused(Id id, const QString &reason);
    // The router reports what it holds; `shown`: the parser has already reported it.
    void observe(const CommandTarget &report, bool shown);
    // A reply we asked for is arriving, though it settles no command.
    void heard() { m_lastAnswer = Clock::now(); }

    int unanswered() const { return m_unanswered; }
    // The last answer, or when the first of the unanswered commands was sent.
    Clock::time_point lastAnswer() const { return m_lastAnswer; }
    // Commands not answered yet or with targets not settled yet.
    int inFlight() const { return int(m_commands.size()); }

    // Says what refusals, contradictions and deadlines brought since the last call.
    void flush();
    // The link has ended: every open target is put back and everything is forgotten.
    void linkEnded();

private:
    enum class Phase : quint8 { waiting, answered, rereading };
    enum class Outcome : quint8 { refused, contradicted, expired };

    struct Entry
    {
        CommandTarget asked;
        Id command = 0;
        Phase phase = Phase::waiting;
        Clock::time_point answeredAt;
        Clock::time_point due; // the next re-read or the deadline
    };
    struct Command
    {
        bool sent = false;
        bool answered = false;
        int open = 0; // targets it still claims
        QList<quint64> keys;
    };
    // Outcomes told together at the next flush.
    struct Told
    {
        Outcome outcome;
        CommandTarget::Kind kind;
        QString reason;
        QList<CommandTarget> targets;
    };

    void markAnswered(Id id, Command &command);
    // The targets `command` still holds, taken out of the table.
    QList<CommandTarget> takeTargets(Id id, const Command &command);
    // The claim of an entry is gone: its command goes once it is answered and claims nothing.
    void release(Id id);
    void putBack(const CommandTarget &asked);
    void tell(Outcome outcome, const CommandTarget &asked, const QString &reason = {});
    void giveUpOldest();
    void forgetOldestCommand();
    void arm(Clock::time_point due);
    void sweep();
    QString portName(const CommandTarget &target) const;
    QString message(const Told &told) const;
    void emitEvent(const RouterDriverEvent &event) const;

    Timing m_timing;
    Link m_link;
    Protocol m_protocol;
    Id m_nextId = 0;
    std::optional<Id> m_opened;
    std::map<Id, Command> m_commands; // oldest first
    QHash<quint64, Entry> m_entries; // by CommandTarget::key()
    int m_unanswered = 0;
    Clock::time_point m_lastAnswer;
    QList<Told> m_told;
    QList<CommandTarget> m_putBacks; // put back to what the router holds at the flush
    QList<CommandTarget> m_rereads; // refused targets, asked again at the flush
    DelayedWork m_sweep;
    std::optional<Clock::time_point> m_sweepDue;
};
