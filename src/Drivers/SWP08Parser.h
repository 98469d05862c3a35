#pragma once

#include "Drivers/Interrogation.h"
#include "Drivers/StateWarnings.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QLoggingCategory>
#include <QSet>

#include <deque>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcSwp08)
// Every byte written and read, in hex; off by default.
Q_DECLARE_LOGGING_CATEGORY(lcSwp08Raw)

// The SW-P-08 side of one router link: frames outgoing messages, unframes and checks incoming
// ones, answers each received frame with DLE ACK or DLE NAK, matches acknowledgements to the
// commands sent, keeps the routing per level and reports the router's state once it is read.
//
// A pure object: bytes in, bytes and events out. It owns no socket and no clock; the driver
// runs the debounce, the no-answer check and the limit of the first read, and calls
// finalize(), checkAnswered() and readLimitReached() when they fall due. All calls happen on
// the driver's queue.
class SWP08Parser final
{
public:
    // Ports travel as a 3-bit quotient and a 7-bit remainder, levels in 4 bits.
    static constexpr int maxPortCount = 1024;
    static constexpr int levelCount = 16;
    // A message is at most 255 bytes; a frame adds its byte count and checksum.
    static constexpr int maxMessageLength = 255;
    static constexpr int maxFrameLength = maxMessageLength + 2;
    // Commands a silent router leaves unacknowledged; the oldest go first beyond this.
    static constexpr int maxPendingCommands = 4096;

    static constexpr char DLE = 0x10;
    static constexpr char STX = 0x02;
    static constexpr char ETX = 0x03;
    static constexpr char ACK = 0x06;
    static constexpr char NAK = 0x15;

    using Timer = Interrogation::Timer;
    using Hooks = Interrogation::Hooks;

    struct PendingCommand
    {
        enum Kind { connect, interrogate };
        Kind kind = interrogate;
        int destination = 0;
        int level = 0;
        // A CONNECT whose crosspoint the router has tallied: answered, though its
        // acknowledgement (which some routers never send) may still be due.
        bool answered = false;
        quint64 command = 0; // a CONNECT's id in the link's pending table

        bool operator==(const PendingCommand &) const = default;
    };

    SWP08Parser(const RouterConnection &connection, Hooks hooks);

    void setSend(std::function<void(const QByteArray &)> send) { m_hooks.send = std::move(send); }

    // Message bytes to wire bytes: DLE STX, message, byte count, checksum (0x10 doubled),
    // DLE ETX. Messages longer than maxMessageLength are not framed (empty result).
    static QByteArray frame(const QByteArray &message);
    static QByteArray connectPayload(int source, int destination, int level);
    static QByteArray interrogatePayload(int destination, int level = 0);
    // Why the protocol cannot carry this crosspoint, or nothing when it can.
    static std::optional<DriverError> addressError(int source, int destination, int level);

    int sourceCount() const { return m_sourceCount; }
    int destinationCount() const { return m_destinationCount; }
    bool connectedEmitted() const { return m_connectedEmitted; }
    bool tallyReceived() const { return m_tallyReceived; }
    const QHash<int, LevelRouting> &routing() const { return m_routing; }
    QList<PendingCommand> pendingCommands() const;
    // Bytes of the frame being read (diagnostics).
    qsizetype bufferedBytes() const { return m_frameBytes.size(); }

    // Asks for every destination in one write and arms the no-answer check.
    void beginInterrogation();
    // Records the pending CONNECT (`command`: its id for the hooks) and returns its frame; the
    // crosspoint must be addressable.
    QByteArray prepareConnect(int source, int destination, int level, quint64 command = 0);
    void reinterrogate(int destination, int level = 0);
    // Interrogates the crosspoints of these route targets again.
    void reread(const QList<CommandTarget> &targets);
    // The source the router last tallied for a route target's crosspoint, or none.
    std::optional<CommandTarget> reported(const CommandTarget &target) const;
    // Drops the newest pending CONNECT for the destination after its write failed.
    void abortPendingConnect(int destination, int level = 0);
    void ingest(const QByteArray &bytes);

    // The quiet period after the last tally has passed: reports the state once.
    void finalize();
    // The no-answer period has passed: reports a router that never sent a tally and
    // returns false, as the link should then end.
    bool checkAnswered();
    // The time allowed for the first read has passed: reports the state as it stands once
    // some crosspoint is known; otherwise reports why not and returns false (end the link).
    bool readLimitReached();
    // The link has ended: timers that still fall due do nothing.
    void stop() { m_stopped = true; }

    RouterState state() const;

private:
    void emitEvent(const RouterDriverEvent &event);
    void send(const QByteArray &bytes);
    void pushPending(PendingCommand command);
    // The router answered this entry, if it is a CONNECT not answered yet.
    void settle(PendingCommand &command);
    void handleAck();
    void handleNak();
    void processFrame(const QByteArray &frame);
    void applyTally(const QByteArray &message);
    void scheduleFinalize();
    void appendFrameByte(char byte);
    Interrogation::FirstRead firstRead() const;
    static QString noAnswerText();

    Hooks m_hooks;
    QString m_deviceName;
    int m_sourceCount;
    int m_destinationCount;

    bool m_batching = false; // inside ingest(): writes gather in m_outbox
    QByteArray m_outbox;
    bool m_inFrame = false;
    bool m_lastWasDLE = false;
    QByteArray m_frameBytes;
    bool m_overlongWarned = false; // a flood of noise gets one warning, not one per frame

    QHash<int, LevelRouting> m_routing; // level to destination to source
    bool m_connectedEmitted = false;
    bool m_tallyReceived = false;
    bool m_rangeWarned = false;
    StateWarnings m_warnings;
    bool m_stopped = false;
    std::deque<PendingCommand> m_pending;
    int m_unanswered = 0; // CONNECTs in m_pending the router has not answered
};
