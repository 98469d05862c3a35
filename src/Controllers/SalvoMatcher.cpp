#include "Controllers/SalvoMatcher.h"

void SalvoMatcher::reset(const QList<Salvo> &salvos, const RouterState &state)
{
    // Entries are laid out crosspoint by crosspoint: counted first, then placed.
    QHash<quint64, std::pair<qsizetype, qsizetype>> ranges;
    qsizetype total = 0;
    for (const Salvo &salvo : salvos) {
        for (const Route &route : salvo.routes)
            ++ranges[crosspoint(route.level, route.destination)].second;
        total += salvo.routes.size();
    }
    qsizetype begin = 0;
    for (auto &range : ranges) {
        range.first = begin;
        begin += range.second;
        range.second = range.first; // the next free place while filling
    }
    QList<Entry> entries(total, Entry { 0, 0, Kind::outOfRange });
    for (int s = 0; s < salvos.size(); ++s) {
        for (const Route &route : salvos.at(s).routes)
            entries[ranges[crosspoint(route.level, route.destination)].second++]
                = Entry { s, route.source, Kind::outOfRange };
    }
    m_entries = std::move(entries);
    m_ranges = std::move(ranges);
    m_counts = QList<Counts>(salvos.size());
    m_marked = QList<bool>(salvos.size(), false);
    recount(state);
}

void SalvoMatcher::recount(const RouterState &state)
{
    QSet<int> levels;
    for (const RouterLevel &level : state.levels)
        levels.insert(level.index);
    m_counts.fill(Counts {});
    for (auto it = m_ranges.cbegin(); it != m_ranges.cend(); ++it) {
        const int level = int(quint32(it.key() >> 32));
        const int destination = int(quint32(it.key()));
        const bool placed
            = destination >= 0 && destination < state.destinations.size() && levels.contains(level);
        for (qsizetype i = it->first; i < it->second; ++i) {
            Entry &entry = m_entries[i];
            entry.kind = placed && entry.source >= 0 && entry.source < state.sources.size()
                ? kindOf(entry, level, destination, state)
                : Kind::outOfRange;
            count(entry, 1);
        }
    }
}

SalvoMatcher::Kind SalvoMatcher::kindOf(const Entry &entry, int level, int destination,
                                        const RouterState &state)
{
    const bool matches = state.source(destination, level) == entry.source;
    if (state.isLocked(destination))
        return matches ? Kind::lockedMatching : Kind::lockedDiffering;
    return matches ? Kind::matching : Kind::differing;
}

void SalvoMatcher::count(const Entry &entry, int by)
{
    Counts &counts = m_counts[entry.salvo];
    switch (entry.kind) {
    case Kind::matching:
        counts.alreadyMatching += by;
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

void SalvoMatcher::update(Entry &entry, int level, int destination, const RouterState &state)
{
    // Whether a route fits the router changes only with its ports or levels (recount()).
    if (entry.kind == Kind::outOfRange)
        return;
    const Kind kind = kindOf(entry, level, destination, state);
    if (kind == entry.kind)
        return;
    count(entry, -1);
    entry.kind = kind;
    count(entry, 1);
    m_marked[entry.salvo] = true;
}

QList<int> SalvoMatcher::changed(const QSet<quint64> &crosspoints, const QSet<int> &locks,
                                 const RouterState &state)
{
    const auto visit = [&](quint64 key) {
        const auto range = m_ranges.constFind(key);
        if (range == m_ranges.cend())
            return;
        const int level = int(quint32(key >> 32));
        const int destination = int(quint32(key));
        for (qsizetype i = range->first; i < range->second; ++i)
            update(m_entries[i], level, destination, state);
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
        const auto range = m_ranges.constFind(key);
        if (range == m_ranges.cend())
            return;
        for (qsizetype i = range->first; i < range->second; ++i) {
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
