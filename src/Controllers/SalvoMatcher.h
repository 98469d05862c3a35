#pragma once

#include "Model/RouterModels.h"

#include <QHash>
#include <QList>
#include <QSet>

#include <optional>

// How each salvo of a list compares with the live routing, kept up to date one crosspoint at
// a time: a route or lock change costs the salvo routes that name it, whatever the number of
// salvos. The counts are those of RouterController::diff() for the same salvo and state.
//
//     SalvoMatcher matcher;
//     matcher.reset(salvos, state);                          // a new list
//     for (int i : matcher.changed(crosspoints, locks, state)) // after routes or locks changed
//         show(i, matcher.counts(i));
class SalvoMatcher final
{
public:
    struct Counts
    {
        int changes = 0; // unlocked routes whose live source differs or is missing
        int alreadyMatching = 0;
        int lockedDiffering = 0;
        int unconfirmed = 0; // of alreadyMatching, written ahead of the router's report

        // Nothing left to change, something matches, and the router has confirmed it.
        bool active() const
        {
            return changes == 0 && lockedDiffering == 0 && unconfirmed == 0 && alreadyMatching > 0;
        }
        // A fire would send something.
        bool sendsRoutes() const { return changes > 0 || alreadyMatching > 0; }
        bool operator==(const Counts &) const = default;
    };

    static quint64 crosspoint(int level, int destination)
    {
        return (quint64(quint32(level)) << 32) | quint32(destination);
    }

    // Indexes the salvos' routes and counts every salvo against `state`, in which the
    // crosspoints `unconfirmed` are not confirmed by the router yet.
    void reset(const QList<Salvo> &salvos, const RouterState &state,
               const QSet<quint64> &unconfirmed = {});
    // Counts every salvo again, for a state whose ports, levels or routing changed wholesale.
    void recount(const RouterState &state, const QSet<quint64> &unconfirmed = {});
    // After the given crosspoints (crosspoint()) and locked destinations changed in `state`
    // (or their confirmation did): the positions of the salvos whose counts changed, in no
    // particular order.
    QList<int> changed(const QSet<quint64> &crosspoints, const QSet<int> &locks,
                       const RouterState &state, const QSet<quint64> &unconfirmed = {});

    qsizetype size() const { return m_counts.size(); }
    const Counts &counts(int position) const { return m_counts.at(position); }

private:
    enum class Kind : quint8 {
        outOfRange,
        matching,
        unconfirmed, // matching, but not reported by the router yet
        differing,
        lockedMatching,
        lockedDiffering,
    };

    struct Entry
    {
        int salvo;
        int source;
        Kind kind;
    };

    // What the live routing holds at one crosspoint, the same for every route that names it.
    struct Live
    {
        std::optional<int> source;
        bool locked = false;
        bool unconfirmed = false;
    };
    static Live liveAt(int level, int destination, const RouterState &state,
                       const QSet<quint64> &unconfirmed);
    // One route's kind; that it fits the router was checked by the caller.
    static Kind kindOf(const Entry &entry, const Live &live);
    void count(const Entry &entry, int by);
    void update(Entry &entry, const Live &live);

    // The entries of one crosspoint: [begin, end) of m_entries.
    struct Range
    {
        quint64 key;
        qsizetype begin;
        qsizetype end;
    };

    // Every route of every salvo, grouped by crosspoint in m_ranges.
    QList<Entry> m_entries;
    QHash<quint64, qsizetype> m_index; // crosspoint to its place in m_ranges
    QList<Range> m_ranges;
    QList<Counts> m_counts;
    QList<bool> m_marked; // per salvo: counts changed in the current changed() call
};
