#pragma once

#include "Controllers/SalvoMatcher.h"

#include <QObject>
#include <QSet>

class RouterController;

// Follows how each salvo of a list compares with a controller's live routing (SalvoMatcher),
// and after each change of state names the salvos whose comparison it changed: a route or
// lock change costs the salvo routes that name it, whatever the number of salvos.
//
//     SalvoTracker tracker(controller);
//     tracker.setSalvos(shown);
//     connect(&tracker, &SalvoTracker::compared, this, [&](const QList<int> &changed, bool all) {
//         for (int i : changed) show(i, tracker.counts(i)); // or every one when `all`
//     });
class SalvoTracker final : public QObject
{
    Q_OBJECT

public:
    explicit SalvoTracker(RouterController &controller, QObject *parent = nullptr);

    // The salvos to follow, compared with the state as it is now.
    void setSalvos(const QList<Salvo> &salvos);
    qsizetype size() const { return m_matcher.size(); }
    const SalvoMatcher::Counts &counts(int position) const { return m_matcher.counts(position); }

signals:
    // Once per change of the controller's state: the positions whose counts changed, in no
    // particular order; or `all`, when the change may have touched any of them (a new
    // state, new ports or levels), and then `changed` is empty.
    void compared(const QList<int> &changed, bool all);

private:
    void stateChanged();

    RouterController &m_controller;
    SalvoMatcher m_matcher;
    // Changes seen since the last stateChanged.
    QSet<quint64> m_crosspoints;
    QSet<int> m_locks;
    bool m_sawDetail = false;
    bool m_sawReplacement = false;
};
