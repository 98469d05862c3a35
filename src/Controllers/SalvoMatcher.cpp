#include "Controllers/SalvoMatcher.h"

void SalvoMatcher::reset(const QList<Salvo> &salvos, const RouterState &state,
                         const QSet<quint64> &unconfirmed)
{
    // Entries are laid out crosspoint by crosspoint: counted first, then placed. Each route's
    // crosspoint is looked up once; the second pass goes by the range it found.
    qsizetype total = 0;
    for (const Salvo &salvo : salvos)
        total += salvo.routes.size();
    QHash<quint64, qsizetype> index;
    QList<Range> ranges;
    QList<qsizetype> rangeOf;
    rangeOf.reserve(total);
    for (const Salvo &salvo : salvos) {
        for (const Route &route : salvo.routes) {
            const quint64 key = crosspoint(route.level, route.destination);
            auto found = index.constFind(key);
            if (found == index.cend()) {
                found = index.insert(key, ranges.size());
                ranges.append(Range { key, 0, 0 });
            }
            ++ranges[*found].end;
            rangeOf.append(*found);
        }
    }
    qsizetype begin = 0;
    for (Range &range : ranges) {
        range.begin = begin;
        begin += range.end;
        range.end = range.begin; // the next free place while filling
    }
    QList<Entry> entries(total, Entry { 0, 0, Kind::outOfRange });
    qsizetype next = 0;
    for (int s = 0; s < salvos.size(); ++s) {
        for (const Route &route : salvos.at(s).routes)
            entries[ranges[rangeOf.at(next++)].end++] = Entry { s, route.source, Kind::outOfRange };
    }
    m_entries = std::move(entries);
    m_index = std::move(index);
    m_ranges = std::move(ranges);
    m_counts = QList<Counts>(salvos.size());
    m_marked = QList<bool>(salvos.size(), false);
    recount(state, unconfirmed);
}

void SalvoMatcher::recount(const RouterState &state, const QSet<quint64> &unconfirmed)
{
    QSet<int> levels;
    for (const RouterLevel &level : state.levels)
        levels.insert(level.index);
    m_counts.fill(Counts {});
    for (const Range &range : std::as_const(m_ranges)) {
        const int level = int(quint32(range.key >> 32));
        const int destination = int(quint32(range.key));
        const bool placed
            = destination >= 0 && destination < state.destinations.size() && levels.contains(level);
        const Live live = placed ? liveAt(level, destination, state, unconfirmed) : Live {};
        for (qsizetype i = range.begin; i < range.end; ++i) {
            Entry &entry = m_entries[i];
            entry.kind = placed && entry.source >= 0 && entry.source < state.sources.size()
                ? kindOf(entry, live)
                : Kind::outOfRange;
            count(entry, 1);
        }
    }
}

SalvoMatcher::Live SalvoMatcher::liveAt(int level, int destination, const RouterState &state,
                                        const QSet<quint64> &unconfirmed)
{
    return { state.source(destination, level), state.isLocked(destination),
             !unconfirmed.isEmpty() && unconfirmed.contains(crosspoint(level, destination)) };
}

SalvoMatcher::Kind SalvoMatcher::kindOf(const Entry &entry, const Live &live)
{
    const bool matches = live.source == entry.source;
    if (live.locked)
        return matches ? Kind::lockedMatching : Kind::lockedDiffering;
    if (!matches)
        return Kind::differing;
    return live.unconfirmed ? Kind::unconfirmed : Kind::matching;
}

void SalvoMatcher::count(const Entry &entry, int by)
{
    Counts &counts = m_counts[entry.salvo];
    switch (entry.kind) {
    case Kind::matching:
        counts.alreadyMatching += by;
        break;
    case Kind::unconfirmed:
        counts.alreadyMatching += by;
        counts.unconfirmed += by;
        break;
    case Kind::differing:
        counts.changes += by;
        break;
    case Kind::lockedDiffering:
        counts.lockedDiffering += by;
        break;
    case Kind::outOfRange:
    case Kind::lockedMatching:
        break;
    }
}

void SalvoMatcher::update(Entry &entry, const Live &live)
{
    // Whether a route fits the router changes only with its ports or levels (recount()).
    if (entry.kind == Kind::outOfRange)
        return;
    const Kind kind = kindOf(entry, live);
    if (kind == entry.kind)
        return;
    count(entry, -1);
    entry.kind = kind;
    count(entry, 1);
    m_marked[entry.salvo] = true;
}

QList<int> SalvoMatcher::changed(const QSet<quint64> &crosspoints, const QSet<int> &locks,
                                 const RouterState &state, const QSet<quint64> &unconfirmed)
{
    const auto visit = [&](quint64 key) {
        const auto found = m_index.constFind(key);
        if (found == m_index.cend())
            return;
        const Range &range = m_ranges.at(*found);
        const Live live = liveAt(int(quint32(key >> 32)), int(quint32(key)), state, unconfirmed);
        for (qsizetype i = range.begin; i < range.end; ++i)
            update(m_entries[i], live);
    };
    for (const quint64 key : crosspoints)
        visit(key);
    for (const int destination : locks) {
        for (const RouterLevel &level : state.levels) {
            if (!crosspoints.contains(crosspoint(level.index, destination)))
                visit(crosspoint(level.index, destination));
        }
    }
    // The marked salvos are collected from the entries just visited, not from every salvo.
    QList<int> touched;
    const auto collect = [&](quint64 key) {
        const auto found = m_index.constFind(key);
        if (found == m_index.cend())
            return;
        const Range &range = m_ranges.at(*found);
        for (qsizetype i = range.begin; i < range.end; ++i) {
            const int salvo = m_entries.at(i).salvo;
            if (m_marked.at(salvo)) {
                touched.append(salvo);
                m_marked[salvo] = false; // listed once
            }
        }
    };
    for (const quint64 key : crosspoints)
        collect(key);
    for (const int destination : locks) {
        for (const RouterLevel &level : state.levels)
            collect(crosspoint(level.index, destination));
    }
    return touched;
}
