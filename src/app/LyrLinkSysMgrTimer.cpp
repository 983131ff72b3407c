#include "app/LyrLinkSysMgrTimer.h"

#include <algorithm>
#include <chrono>

namespace lyrlink
{

namespace
{
int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds> (std::chrono::steady_clock::now().time_since_epoch()).count();
}
}

LyrLinkSysMgrTimer::LyrLinkSysMgrTimer (TimerDispatchTarget& owner, uint32_t timerId, TimerObserver* observer)
    : m_owner (owner), m_timerId (timerId), m_observer (observer)
{
    if (m_observer != nullptr)
        m_observer->timerCreated (*this);
}

LyrLinkSysMgrTimer::~LyrLinkSysMgrTimer()
{
    if (m_observer != nullptr)
        m_observer->timerDestroyed (*this);
    else
        juce::Timer::stopTimer();
}

void LyrLinkSysMgrTimer::queueJuceTimer (int ms, int64_t now)
{
    m_jucePeriodMs = std::max (1, ms);
    m_juceDueNs = now + int64_t (m_jucePeriodMs) * 1000000;
    m_juceQueued = true;
    juce::Timer::startTimer (m_jucePeriodMs);
}

void LyrLinkSysMgrTimer::startTimer (int periodMs)
{
    if (m_observer != nullptr)
    {
        m_virtualPeriod = std::max (1, periodMs);
        m_observer->timerStarted (*this, periodMs);
        return;
    }
    const std::lock_guard<std::mutex> g (m_armLock);
    const auto now = nowNs();
    m_periodMs = std::max (1, periodMs);
    m_deadlineNs = now + int64_t (m_periodMs) * 1000000;
    m_armed = true;
    // A pending wake-up at or before the new deadline re-arms for the rest when it comes.
    if (! m_juceQueued || m_juceDueNs > m_deadlineNs)
        queueJuceTimer (m_periodMs, now);
}

void LyrLinkSysMgrTimer::stopTimer()
{
    if (m_observer != nullptr)
    {
        m_virtualPeriod = 0;
        m_observer->timerStopped (*this);
        return;
    }
    const std::lock_guard<std::mutex> g (m_armLock);
    m_armed = false;  // JUCE's pending wake-up finds it stopped
}

bool LyrLinkSysMgrTimer::isTimerRunning() const noexcept
{
    if (m_observer != nullptr)
        return m_virtualPeriod > 0;
    const std::lock_guard<std::mutex> g (m_armLock);
    return m_armed;
}

int LyrLinkSysMgrTimer::getTimerInterval() const noexcept
{
    if (m_observer != nullptr)
        return m_virtualPeriod.load();
    const std::lock_guard<std::mutex> g (m_armLock);
    return m_armed ? m_periodMs : 0;
}

void LyrLinkSysMgrTimer::timerCallback()
{
    if (m_observer == nullptr)
    {
        const std::lock_guard<std::mutex> g (m_armLock);
        const auto now = nowNs();
        if (! m_armed)
        {
            juce::Timer::stopTimer();  // stopped since this wake-up was queued
            m_juceQueued = false;
            return;
        }
        const auto remainingMs = (m_deadlineNs - now) / 1000000;
        if (remainingMs >= 1)
        {
            queueJuceTimer (static_cast<int> (remainingMs), now);
            return;
        }
        // Due. JUCE's timer repeats: the next period counts from now, as JUCE counts it, until
        // the job stops or restarts the timer.
        m_deadlineNs = now + int64_t (m_periodMs) * 1000000;
        if (m_jucePeriodMs != m_periodMs)
            queueJuceTimer (m_periodMs, now);
        else
            m_juceDueNs = m_deadlineNs;
    }
    m_owner.timerDispatch (m_timerId);
}

} // namespace lyrlink
