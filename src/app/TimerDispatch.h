// The table from timer ids to jobs. Kept apart from timerDispatch so that the mapping (which aging
// timer watches which peer-table entry, which ids name nothing) can be checked on its own.
#pragma once

#include <cstdint>

namespace lyrlink
{

/** The jobs that timers run. */
enum class TimerJob
{
    none,              // ids 3, 10 to 99, 180 and above: no timer, no job
    discoveryResponse, // 1
    idResponse,        // 2
    keepAlive,         // 4
    idRestart,         // 5
    idRestartLong,     // 6
    netMonitor,        // 7
    appMonitor,        // 8
    compatiResponse,   // 9
    aging              // 100 to 179
};

/** A job with its argument: the peer-table index of an aging timer (id - 100), else -1. */
struct TimerRoute
{
    TimerJob job = TimerJob::none;
    int agingIndex = -1;
};

/** The job that a firing of the timer with this id runs. */
constexpr TimerRoute routeTimer (uint32_t id) noexcept
{
    switch (id)
    {
        case 1: return { TimerJob::discoveryResponse, -1 };
        case 2: return { TimerJob::idResponse, -1 };
        case 4: return { TimerJob::keepAlive, -1 };
        case 5: return { TimerJob::idRestart, -1 };
        case 6: return { TimerJob::idRestartLong, -1 };
        case 7: return { TimerJob::netMonitor, -1 };
        case 8: return { TimerJob::appMonitor, -1 };
        case 9: return { TimerJob::compatiResponse, -1 };
        default: break;
    }
    // Aging timer 100 + i watches entry i of the peer table, the device with id i + 1.
    if (id >= 100 && id <= 179)
        return { TimerJob::aging, static_cast<int> (id - 100) };
    return {};
}

} // namespace lyrlink
