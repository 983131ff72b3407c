#include "support/VirtualScheduler.h"

#include <algorithm>

namespace lyrlink::test
{

VirtualScheduler::VirtualScheduler() = default;

VirtualScheduler::~VirtualScheduler() = default;

VirtualScheduler::Running* VirtualScheduler::find (LyrLinkSysMgrTimer* timer)
{
    for (auto& r : m_timers)
        if (r.timer == timer)
            return &r;
    return nullptr;
}

bool VirtualScheduler::erase (LyrLinkSysMgrTimer* timer)
{
    auto* r = find (timer);
    if (r == nullptr)
        return false;
    *r = m_timers.back();
    m_timers.pop_back();
    return true;
}

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
        for (auto& r : m_timers)
            if (best == nullptr || r.entry.due < best->due ||
                (r.entry.due == best->due && r.entry.sequence < best->sequence))
            {
                best = &r.entry;
                timer = r.timer;
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
    auto* r = find (timer);
    if (r != nullptr && r->entry.sequence == sequence)
    {
        r->entry.due += r->entry.period;
        r->entry.sequence = ++m_sequence;
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
            for (auto& r : m_timers)
                due = due || r.entry.due <= target;
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
    for (auto& r : m_timers)
        result[r.timer->getTimerId()] = r.entry.period;
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
    for (auto& r : m_timers)
        if (r.timer->getTimerId() == id)
            return r.entry.due;
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
    const int period = std::max (1, periodMs); // JUCE runs a 0 ms timer at 1 ms
    const Entry entry { m_now + period, period, ++m_sequence };
    if (auto* r = find (&timer))
        r->entry = entry;
    else
        m_timers.push_back ({ &timer, entry });
    m_events.push_back ({ m_now, timer.getTimerId(), true, periodMs });
}

void VirtualScheduler::timerStopped (LyrLinkSysMgrTimer& timer)
{
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    if (erase (&timer))
        m_events.push_back ({ m_now, timer.getTimerId(), false, 0 });
}

void VirtualScheduler::timerDestroyed (LyrLinkSysMgrTimer& timer)
{
    const std::lock_guard<std::recursive_mutex> g (m_lock);
    m_destroyed.push_back (timer.getTimerId());
    if (erase (&timer))
        m_destroyedWhileRunning.push_back (timer.getTimerId());
}

} // namespace lyrlink::test
