#pragma once

#include "Drivers/CommandTarget.h"
#include "Drivers/DelimitedBuffer.h"
#include "Drivers/RouterDriver.h"
#include "Drivers/StateWarnings.h"
#include "Model/RouterModels.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

// The Videohub text protocol, bytes in and events out. It cuts the received text into
// blocks (lines up to an empty line), keeps the router's tables while the opening dump
// arrives and reports them once as `connected`; afterwards every block becomes change
// events, at most one per port and block (the last item for a port wins). It owns no socket
// and no timer: what it needs from its driver (re-arming the quiet-time finalize, a
// resynchronisation query, giving up on the input) comes back in each Output. Used on one
// thread at a time.
class VideohubParser final
{
public:
    struct Limits
    {
        // An unterminated block larger than this ends the link instead of growing forever.
        qsizetype maxBufferedBytes = 4 * 1024 * 1024;
        // Port counts above this are cut down to it, with a warning once the state is out.
        // Items for indices outside 0…maxPortCount − 1 are ignored; those within it but
        // beyond the announced counts are kept.
        int maxPortCount = 4096;
        std::chrono::nanoseconds resyncInterval = std::chrono::seconds(2);
    };

    // An answer to one block we sent, or one item the router reports after the prelude, in
    // the order they came.
    struct Reply
    {
        enum Kind { ack, nak, report };
        Kind kind = ack;
        CommandTarget reported; // a report's item
    };

    struct Output
    {
        QList<RouterDriverEvent> events;
        bool rearmFinalize = false; // a dump block came: finalize after the quiet time
        bool finalizeDone = false; // the state went out; a pending finalize is moot
        QList<Reply> replies;
        // The router is still sending what was asked: the opening dump, or a block that has
        // not ended yet.
        bool progress = false;
        std::optional<QString> fatal; // the input can't be followed any further
    };

    explicit VideohubParser(const QString &deviceName);
    VideohubParser(const QString &deviceName, Limits limits);

    Output ingest(QByteArrayView bytes);
    // Reports the state once the router has announced both counts and sent routing.
    Output finalizePrelude();
    // The time allowed for the opening dump has passed: reports the state as it stands, or,
    // when there is none to report, gives up with the reason.
    Output readLimitReached(std::chrono::milliseconds limit);
    // The query that makes the router resend its tables, at most once per interval.
    std::optional<QByteArray> resyncQuery(std::chrono::steady_clock::time_point now);

    bool preludeDone() const { return m_preludeDone; }
    bool locksSeen() const { return m_locksSeen; }
    // The last lock character received for a destination, 'U' when none was.
    QChar lockCharacter(int destination) const { return m_locks.value(destination, u'U'); }
    // What the router last reported for the target's crosspoint, lock or port, or none.
    std::optional<CommandTarget> reported(const CommandTarget &target) const;
    // The router's name of the target's port, or "In n"/"Out n".
    QString portName(const CommandTarget &target) const;
    qsizetype bufferedBytes() const { return m_buffer.unfinishedSize(); }
    // Bytes examined in search of block ends (diagnostics).
    qint64 scannedBytes() const { return m_buffer.scannedBytes(); }

    // Command blocks.
    static QByteArray routesBlock(const QList<Route> &routes);
    static QByteArray lockBlock(int destination, QChar lockCharacter);
    // CR and LF in the label become spaces, so a name can never end the block early.
    static QByteArray labelBlock(PortKind kind, int index, const QString &label);
    // The label as the router reports it back after labelBlock() sent it.
    static QString labelAsSent(const QString &label);
    // The empty blocks that make the router send what these targets name.
    static QList<QByteArray> queryBlocks(const QList<CommandTarget> &targets);
    // What to send to lock or unlock, given the destination's current character.
    static QChar lockCharacterToSend(bool locked, QChar current);

    // A decimal integer with an optional sign and digits only, within int's range.
    static std::optional<int> parseInteger(QStringView text);

private:
    void handleBlock(QByteArrayView bytes, Output &out);
    void handleDevice(QStringView items, Output &out);
    void handleLabels(QStringView items, PortKind kind, Output &out);
    void handleRouting(QStringView items, Output &out);
    void handleLocks(QStringView items, Output &out);
    int boundedCount(const QString &key, QStringView value, bool &warned, Output &out);
    bool isKeptIndex(int index) const;
    void finalize(Output &out);

    Limits m_limits;
    QString m_deviceName;
    DelimitedBuffer m_buffer;
    bool m_failed = false;
    bool m_preludeDone = false;
    QString m_model;
    QString m_friendlyName;
    int m_inputCount = 0;
    int m_outputCount = 0;
    bool m_inputsWarned = false; // an absurd count is reported once
    bool m_outputsWarned = false;
    StateWarnings m_warnings;
    QHash<int, QString> m_inputLabels;
    QHash<int, QString> m_outputLabels;
    QHash<int, int> m_routing;
    QHash<int, QChar> m_locks;
    bool m_locksSeen = false;
    std::optional<std::chrono::steady_clock::time_point> m_lastResync;
};
