// Timer expiries reach their jobs here, on the message thread. Every job uses its timer as a
// one-shot timer: it stops it first and restarts a timer only explicitly, with the period read at
// that moment, so each firing counts its period from the end of the previous job and jobs of one
// timer never overlap.
#include "app/TimerDispatch.h"

#include "app/MainComponent.h"

namespace lyrlink
{

void MainComponent::timerDispatch (uint32_t id)
{
    const auto route = routeTimer (id);
    if (route.job == TimerJob::none)
        return;  // no timer carries this id: ignored without a log

    // Every job holds the link lock for its whole run; taking it here as well keeps that true for
    // each of them, and costs nothing since the lock is re-entrant.
    const juce::ScopedLock sl (m_linkLock);

    switch (route.job)
    {
        case TimerJob::discoveryResponse: timerFuncDiscoveryResponse(); break;
        case TimerJob::idResponse: timerFuncIdResponse(); break;
        case TimerJob::keepAlive: timerFuncKeepAlive(); break;
        case TimerJob::idRestart: timerFuncIdRestart(); break;
        case TimerJob::idRestartLong: timerFuncIdRestartLong(); break;
        case TimerJob::netMonitor: timerFuncNetMonitor(); break;
        case TimerJob::appMonitor: timerFuncAppMonitor(); break;
        case TimerJob::compatiResponse: timerFuncCompatiResponse(); break;
        case TimerJob::aging: timerFuncAging (route.agingIndex); break;
        case TimerJob::none: break;
    }
}

void MainComponent::timerFuncKeepAlive()
{
    const juce::ScopedLock sl (m_linkLock);
    m_keepAliveTimer->stopTimer();

    if (m_linkStatus.state == STATE_RUN)
        frameSendConfigNotify();

    // Restarted in every state: the timer runs until something stops it, and only sends while
    // the link is in STATE_RUN.
    m_keepAliveTimer->startTimer (m_timings.keepAlivePeriodMs);
}

const std::array<MainComponent::LinkTimer, 8> MainComponent::kLinkTimers { {
    { TIMER_DISCOVERY, &MainComponent::m_discoveryTimer, LinkDownStop::always },
    { TIMER_ID_RESTART, &MainComponent::m_idRestartTimer, LinkDownStop::always },
    { TIMER_ID_RESTART_LONG, &MainComponent::m_idRestartLongTimer, LinkDownStop::always },
    { TIMER_ID, &MainComponent::m_idTimer, LinkDownStop::always },
    { TIMER_KEEP_ALIVE, &MainComponent::m_keepAliveTimer, LinkDownStop::always },
    { TIMER_NET_MONITOR, &MainComponent::m_netMonitorTimer, LinkDownStop::unlessMonitorsKept },
    { TIMER_APP_MONITOR, &MainComponent::m_appMonitorTimer, LinkDownStop::unlessMonitorsKept },
    // Nothing outside its own job starts the compatibility timer.
    { TIMER_COMPATI, &MainComponent::m_compatiTimer, LinkDownStop::never },
} };

void MainComponent::stopLinkTimers (bool keepMonitors)
{
    // Callers hold the link lock already; the lock is re-entrant, and taking it here keeps every
    // timer change under it whoever calls.
    const juce::ScopedLock sl (m_linkLock);

    for (auto* timer : m_agingTimers)
        if (timer->isTimerRunning())
            timer->stopTimer();

    for (const auto& entry : kLinkTimers)
    {
        const bool stops = entry.stop == LinkDownStop::always
                        || (entry.stop == LinkDownStop::unlessMonitorsKept && ! keepMonitors);
        auto* timer = (this->*entry.timer).get();
        if (stops && timer != nullptr && timer->isTimerRunning())
            timer->stopTimer();
    }
}

} // namespace lyrlink
