#pragma once

#include "Drivers/DelimitedBuffer.h"
#include "Drivers/Interrogation.h"
#include "Drivers/StateWarnings.h"

#include <QByteArray>
#include <QHash>
#include <QLoggingCategory>
#include <QSet>
#include <QStringView>

#include <deque>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcQuartz)
// Every line written and read; off by default.
Q_DECLARE_LOGGING_CATEGORY(lcQuartzRaw)

// The Quartz side of one router link: splits the router's replies into lines, reads route
// answers, keeps the routing of the video level, matches answers to the routes sent and
// reports the router's state once it is read.
//
// A pure object: bytes in, lines and events out. It owns no socket and no clock; the driver
// runs the debounce, the no-answer check and the limit of the first read, and calls
// finalize(), checkAnswered() and readLimitReached() when they fall due. All calls happen on
// the driver's queue.
class QuartzParser final
{
public:
    // Guards against a damaged saved size; far above any router the editor offers.
    static constexpr int maxPortCount = 4096;
    // A route answer is a dozen characters; anything this long without a line end is noise.
    static constexpr int maxLineLength = 4096;
    // Routes a silent router leaves unanswered; the oldest go first beyond this.
    static constexpr int maxPendingConnects = 4096;

    using Timer = Interrogation::Timer;
    // send() writes one or more CR-terminated lines.
    using Hooks = Interrogation::Hooks;

    // One ".A"/".U" route answer.
    struct Answer
    {
        QString levels; // the level letters, e.g. "V" or "VA"
        int destination; // 1-based, as on the wire
        int source; // 1-based
    };

    QuartzParser(const RouterConnection &connection, Hooks hooks);

    void setSend(std::function<void(const QByteArray &)> send) { m_hooks.send = std::move(send); }

    // Reads a route answer; nothing for any other or malformed line.
    static std::optional<Answer> parseAnswer(QStringView line);

    int sourceCount() const { return m_sourceCount; }
    int destinationCount() const { return m_destinationCount; }
    bool connectedEmitted() const { return m_connectedEmitted; }
    bool answerReceived() const { return m_answerReceived; }
    const LevelRouting &routing() const { return m_routing; }
    QList<int> pendingConnects() const;
    // Bytes of the line being read (diagnostics).
    qsizetype bufferedBytes() const { return m_buffer.unfinishedSize(); }
    // Bytes examined in search of line ends (diagnostics).
    qint64 scannedBytes() const { return m_buffer.scannedBytes(); }

    // Asks for every destination in one write and arms the no-answer check.
    void beginInterrogation();
    // Records the pending route (`command`: its id for the hooks) and returns its line,
    // without the CR.
    QByteArray lineForConnect(int source, int destination, quint64 command = 0);
    void reinterrogate(int destination);
    // Asks again for the destinations of these route targets.
    void reread(const QList<CommandTarget> &targets);
    // The source the router last answered for a route target's destination, or none.
    std::optional<CommandTarget> reported(const CommandTarget &target) const;
    // The newest route to `destination` was never written: no answer is waited for.
    void connectNotSent(int destination);
    void ingest(const QByteArray &bytes);
    void handleLine(QStringView line);

    // The quiet period after the last answer has passed: reports the state once.
    void finalize();
    // The no-answer period has passed: reports a router that never answered and
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
    void scheduleFinalize();
    void warnOverlong();
    Interrogation::FirstRead firstRead() const;
    static QString noAnswerText();

    Hooks m_hooks;
    QString m_deviceName;
    int m_sourceCount;
    int m_destinationCount;

    DelimitedBuffer m_buffer;
    bool m_discardingLine = false; // the current line outgrew maxLineLength and was dropped
    bool m_overlongWarned = false; // a flood of noise gets one warning, not one per line
    LevelRouting m_routing;
    bool m_connectedEmitted = false;
    bool m_answerReceived = false;
    bool m_rangeWarned = false;
    bool m_otherLevelAnswered = false; // an in-range answer that named no video level
    StateWarnings m_warnings;
    bool m_stopped = false;
    // Routes sent and not answered yet, oldest first.
    struct PendingConnect
    {
        int destination;
        quint64 command; // its id in the link's pending table
    };
    std::deque<PendingConnect> m_pendingConnects;
};
