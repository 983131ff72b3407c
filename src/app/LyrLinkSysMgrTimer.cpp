#include "app/LyrLinkSysMgrTimer.h"

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

void LyrLinkSysMgrTimer::startTimer (int periodMs)
{
    if (m_observer != nullptr)
    {
        m_virtualPeriod = std::max (1, periodMs);
        m_observer->timerStarted (*this, periodMs);
        return;
    }
    const std::lock_guard<std::mutex> g (m_armLock);
    m_periodMs = std::max (1, periodMs);
    m_deadlineNs = nowNs() + int64_t (m_periodMs) * 1000000;
    m_armed = true;
    juce::Timer::startTimer (m_periodMs);
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
    m_armed = false;
    juce::Timer::stopTimer();
}

bool LyrLinkSysMgrTimer::isTimerRunning() const noexcept
{
    return m_observer != nullptr ? m_virtualPeriod > 0 : juce::Timer::isTimerRunning();
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
        if (! m_armed)
            return;  // stopped after JUCE picked this expiry
        const auto remainingMs = (m_deadlineNs - nowNs()) / 1000000;
        if (remainingMs >= 1)
        {
            juce::Timer::startTimer (static_cast<int> (remainingMs));
            return;
        }
    }
    m_owner.timerDispatch (m_timerId);
}

} // namespace lyrlink
