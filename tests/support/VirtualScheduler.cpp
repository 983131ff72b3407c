#include "support/VirtualScheduler.h"

#include <algorithm>

namespace lyrlink::test
{

VirtualScheduler::VirtualScheduler() = default;

VirtualScheduler::~VirtualScheduler() = default;

int64_t VirtualScheduler::now() const
{
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    return m_now;
}

bool VirtualScheduler::fireNext()
{
    LyrLinkSysMgrTimer* timer = nullptr;
    uint64_t sequence = 0;
    {
        const std::lock_guard<std::recursive_mutex> g (m_lock);
        const Entry* best = nullptr;
        for (auto& [t, e] : m_timers)
            if (best == nullptr || e.due < best->due || (e.due == best->due && e.sequence < best->sequence))
            {
                best = &e;
                timer = t;
            }
        if (best == nullptr)
            return false;
        m_now = std::max (m_now, best->due);
        sequence = best->sequence;
        m_firings.push_back ({ m_now, timer->getTimerId() });
    }

    timer->fire();

    // A job that left its timer running (not stopped, not restarted) fires again one period later,
    // as a juce::Timer does.
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    auto it = m_timers.find (timer);
    if (it != m_timers.end() && it->second.sequence == sequence)
    {
        it->second.due += it->second.period;
        it->second.sequence = ++m_sequence;
    }
    return true;
}

void VirtualScheduler::advance (int64_t ms)
{
    const int64_t target = now() + ms;
    for (;;)
    {
        bool due = false;
        {
            const std::lock_guard<std::recursive_mutex> g (m_lock);
            for (auto& [t, e] : m_timers)
                due = due || e.due <= target;
        }
        if (! due)
            break;
        fireNext();
    }
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    m_now = target;
}

std::map<uint32_t, int> VirtualScheduler::running() const
{
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    std::map<uint32_t, int> result;
    for (auto& [t, e] : m_timers)
        result[t->getTimerId()] = e.period;
    return result;
}

int VirtualScheduler::periodOf (uint32_t id) const
{
    const auto r = running();
    const auto it = r.find (id);
    return it == r.end() ? 0 : it->second;
}

int64_t VirtualScheduler::dueOf (uint32_t id) const
{
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    for (auto& [t, e] : m_timers)
        if (t->getTimerId() == id)
            return e.due;
    return -1;
}

std::vector<VirtualScheduler::Event> VirtualScheduler::events() const
{
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    return m_events;
}

std::vector<VirtualScheduler::Firing> VirtualScheduler::firings() const
{
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    return m_firings;
}

void VirtualScheduler::clearEvents()
{
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    m_events.clear();
    m_firings.clear();
}

std::vector<uint32_t> VirtualScheduler::createdIds() const
{
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    return m_created;
}

std::vector<uint32_t> VirtualScheduler::destroyedIds() const
{
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    return m_destroyed;
}

std::vector<uint32_t> VirtualScheduler::destroyedWhileRunning() const
{
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    return m_destroyedWhileRunning;
}

void VirtualScheduler::timerCreated (LyrLinkSysMgrTimer& timer)
{
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    m_created.push_back (timer.getTimerId());
}

void VirtualScheduler::timerStarted (LyrLinkSysMgrTimer& timer, int periodMs)
{
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    const int period = std::max (1, periodMs);  // JUCE runs a 0 ms timer at 1 ms
    m_timers[&timer] = { m_now + period, period, ++m_sequence };
    m_events.push_back ({ m_now, timer.getTimerId(), true, periodMs });
}

void VirtualScheduler::timerStopped (LyrLinkSysMgrTimer& timer)
{
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    if (m_timers.erase (&timer) != 0)
        m_events.push_back ({ m_now, timer.getTimerId(), false, 0 });
}

void VirtualScheduler::timerDestroyed (LyrLinkSysMgrTimer& timer)
{
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    m_destroyed.push_back (timer.getTimerId());
    if (m_timers.erase (&timer) != 0)
        m_destroyedWhileRunning.push_back (timer.getTimerId());
}

} // namespace lyrlink::test
