#pragma once

#include "Drivers/CommandTarget.h"
#include "Drivers/DelimitedBuffer.h"
#include "Drivers/RouterDriver.h"

#include <QByteArray>
#include <QHash>
#include <QLoggingCategory>
#include <QSet>
#include <QString>

#include <chrono>
#include <functional>

Q_DECLARE_LOGGING_CATEGORY(lcLightware)
// Raw traffic in hex; off by default.
Q_DECLARE_LOGGING_CATEGORY(lcLightwareRaw)

// Reads the lines of an LW3 router into its picture of the router, reports that picture
// once as `connected` and every later change as an incremental event. It also sends the
// unsigned queries, keeps the signatures of signed commands with their kind, reports the
// router's refusals of them and re-reads crosspoints and locks after a refusal.
//
// A pure object: bytes in, lines and events out through its hooks, no socket and no clock.
// Its two timers are armed through a hook; whoever owns it calls timerFired() when one is
// due. Everything runs on one thread (the driver's queue).
class LW3Parser final
{
public:
    enum class Timer {
        namesQuiet, // status queries, after the port names of the first burst went quiet
        finalize, // `connected`, after the router went quiet
    };

    struct Hooks
    {
        std::function<void(const RouterDriverEvent &)> report;
        // Writes one line; the CR LF is added by the writer. Absent: nothing is sent.
        std::function<void(const QString &line)> send;
        // (Re)starts the timer for the given time, replacing a pending start of it.
        std::function<void(Timer, std::chrono::milliseconds)> arm;
        // What the router answered and reported of the signed commands.
        CommandHooks commands = {};
    };

    struct Timing
    {
        std::chrono::milliseconds namesQuiet { 300 };
        std::chrono::milliseconds finalize { 600 };
    };

    // Port numbers beyond this are ignored, so a router cannot make us size billions of
    // ports from one line.
    static constexpr int maxPortNumber = 4096;
    // A line longer than this (bytes without a line end) ends the link.
    static constexpr qsizetype maxLineLength = 4 * 1024 * 1024;

    LW3Parser(const QString &deviceName, Hooks hooks);
    LW3Parser(const QString &deviceName, Hooks hooks, Timing timing);

    void setSend(std::function<void(const QString &)> send) { m_hooks.send = std::move(send); }

    // Records a signed command of the given kind ("Route", "Lock", "Rename"), with its id for
    // the hooks, and returns its signature: four upper-case hex digits of a counter that
    // wraps after FFFF.
    QString registerCommand(const QString &kind, quint64 command = 0);
    // The name value's part before the first ";" that the router last reported for a port
    // key such as I3 or O12, if it reported one.
    std::optional<QString> namePrefix(const QString &key) const
    {
        const auto found = m_namePrefixes.constFind(key);
        return found == m_namePrefixes.cend() ? std::nullopt : std::optional(*found);
    }

    void beginInitialQueries();
    // Takes received bytes. False when the router sent a line past maxLineLength: the
    // input cannot be framed any more and the link should end.
    [[nodiscard]] bool ingest(const QByteArray &bytes);
    void timerFired(Timer timer);
    // The time allowed for the first read has passed: reports the state as it stands (after
    // the status queries, if they are still due). When the router named no ports or sent no
    // crosspoint list, reports why and returns false: the link should end.
    bool readLimitReached(std::chrono::milliseconds limit);
    // Re-reads crosspoints and locks and reports both lists in full; only once connected.
    void resyncFromSendFailure();
    // Asks again for what these targets name: the lists, or the port names.
    void reread(const QList<CommandTarget> &targets);
    // What the router last reported for the target's crosspoint, lock or port, or none.
    std::optional<CommandTarget> reported(const CommandTarget &target) const;
    // The router's name of the target's port, or "In n"/"Out n".
    QString portName(const CommandTarget &target) const;
    // The link ended: pending timers are void and nothing more is reported.
    void stop() { m_stopped = true; }

    bool hasReportedConnected() const { return m_connectedEmitted; }
    int pendingCommandCount() const { return int(m_pendingCommands.size()); }
    // Bytes of the line being read (diagnostics).
    qsizetype bufferedBytes() const { return m_buffer.unfinishedSize(); }
    // Bytes examined in search of line ends (diagnostics).
    qint64 scannedBytes() const { return m_buffer.scannedBytes(); }

private:
    void handleLine(const QString &line);
    void handleProperty(QStringView text);
    void handleName(const QString &key, QStringView value);
    void handleRoutingList(QStringView value);
    void handleLockList(QStringView value);
    void handleInputStatus(QStringView path, QStringView value);
    void scheduleStatusQueries();
    void issueStatusQueries();
    void scheduleFinalizeIfReady();
    void finalize();
    void send(const QString &line);
    void report(const RouterDriverEvent &event);

    Hooks m_hooks;
    Timing m_timing;
    QString m_deviceName;
    DelimitedBuffer m_buffer;
    quint32 m_signatureCounter = 0;
    std::optional<QString> m_currentBlock;
    struct Signed
    {
        QString kind;
        quint64 command = 0;
        bool refused = false;
    };
    QHash<QString, Signed> m_pendingCommands; // by signature
    bool m_connectedEmitted = false;
    bool m_stopped = false;
    QString m_productName;
    QHash<int, QString> m_inputLabels;
    QHash<int, QString> m_outputLabels;
    QHash<QString, QString> m_namePrefixes;
    LevelRouting m_routing;
    QSet<int> m_locked;
    QHash<int, InputSignalStatus> m_inputStatus;
    int m_inputCount = 0;
    int m_outputCount = 0;
    bool m_statusQueriesIssued = false;
    bool m_routingReceived = false;
    bool m_resyncForceEmit = false;
    bool m_resyncRoutingDone = false;
    bool m_resyncLocksDone = false;
};
