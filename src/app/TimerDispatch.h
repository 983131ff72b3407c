// Timer ids and the table from timer ids to jobs. Kept apart from timerDispatch so that the mapping
// (which aging timer watches which peer-table entry, which ids name nothing) reads on its own.
#pragma once

#include <cstdint>

namespace lyrlink
{

/** Timer ids. */
enum TimerId : uint32_t
{
    TIMER_DISCOVERY = 1,
    TIMER_ID = 2,
    TIMER_KEEP_ALIVE = 4,
    TIMER_ID_RESTART = 5,
    TIMER_ID_RESTART_LONG = 6,
    TIMER_NET_MONITOR = 7,
    TIMER_APP_MONITOR = 8,
    TIMER_COMPATI = 9,
    TIMER_AGING_FIRST = 100,  // aging timer 100 + i watches entry i of the peer table
    TIMER_AGING_LAST = 179
};

/** Periods of the two monitors; every other period lives in LinkTimings. */
constexpr int kNetMonitorPeriodMs = 1000;
constexpr int kAppMonitorPeriodMs = 30000;

/** The jobs that timers run. */
enum class TimerJob
{
    none,  // ids that name no timer: 3, 10 to 99, 180 and above
    discoveryResponse,
    idResponse,
    keepAlive,
    idRestart,
    idRestartLong,
    netMonitor,
    appMonitor,
    compatiResponse,
    aging
};

/** A job with its argument: the peer-table index of an aging timer, else -1. */
struct TimerRoute
{
    TimerJob job = TimerJob::none;
    int agingIndex = -1;
};

constexpr bool isAgingTimerId (uint32_t id) noexcept { return id >= TIMER_AGING_FIRST && id <= TIMER_AGING_LAST; }

/** The job that a firing of the timer with this id runs. */
constexpr TimerRoute routeTimer (uint32_t id) noexcept
{
    switch (id)
    {
        case TIMER_DISCOVERY: return { TimerJob::discoveryResponse, -1 };
        case TIMER_ID: return { TimerJob::idResponse, -1 };
        case TIMER_KEEP_ALIVE: return { TimerJob::keepAlive, -1 };
        case TIMER_ID_RESTART: return { TimerJob::idRestart, -1 };
        case TIMER_ID_RESTART_LONG: return { TimerJob::idRestartLong, -1 };
        case TIMER_NET_MONITOR: return { TimerJob::netMonitor, -1 };
        case TIMER_APP_MONITOR: return { TimerJob::appMonitor, -1 };
        case TIMER_COMPATI: return { TimerJob::compatiResponse, -1 };
        default: break;
    }
    // The aging timer of the device with id i + 1 is 100 + i.
    if (isAgingTimerId (id))
        return { TimerJob::aging, static_cast<int> (id - TIMER_AGING_FIRST) };
    return {};
}

} // namespace lyrlink
