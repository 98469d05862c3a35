#include "Controllers/SalvoTracker.h"

#include "Controllers/RouterController.h"

#include <utility>

SalvoTracker::SalvoTracker(RouterController &controller, QObject *parent)
    : QObject(parent)
    , m_controller(controller)
{
    // Routes and locks are noted as they come and compared once per change of state, which
    // the controller sends once per command or burst of router events.
    connect(&controller, &RouterController::routeChanged, this, [this](int level, int destination) {
        m_sawDetail = true;
        m_crosspoints.insert(SalvoMatcher::crosspoint(level, destination));
    });
    connect(&controller, &RouterController::lockChanged, this, [this](int destination) {
        m_sawDetail = true;
        m_locks.insert(destination);
    });
    connect(&controller, &RouterController::inputStatusChanged, this,
            [this] { m_sawDetail = true; });
    connect(&controller, &RouterController::portLabelsChanged, this,
            [this] { m_sawDetail = true; });
    // Not visiblePortsChanged: labels and sub-panels change those, never a salvo's counts.
    connect(&controller, &RouterController::stateReplaced, this,
            [this] { m_sawReplacement = true; });
    connect(&controller, &RouterController::stateChanged, this, &SalvoTracker::stateChanged);
}

void SalvoTracker::setSalvos(const QList<Salvo> &salvos)
{
    m_matcher.reset(salvos, m_controller.state(), m_controller.unconfirmedRoutes());
}

void SalvoTracker::stateChanged()
{
    const QSet<quint64> crosspoints = std::exchange(m_crosspoints, {});
    const QSet<int> locks = std::exchange(m_locks, {});
    // A new state, or a change without details, may touch any salvo.
    const bool everything
        = std::exchange(m_sawReplacement, false) || !std::exchange(m_sawDetail, false);
    if (everything) {
        m_matcher.recount(m_controller.state(), m_controller.unconfirmedRoutes());
        emit compared({}, true);
        return;
    }
    emit compared(m_matcher.changed(crosspoints, locks, m_controller.state(),
                                    m_controller.unconfirmedRoutes()),
                  false);
}
