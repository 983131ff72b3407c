#include "app/LyrLinkSysMgrTimer.h"

namespace lyrlink
{

namespace
{
std::atomic<TimerObserver*> g_observer { nullptr };
}

void LyrLinkSysMgrTimer::setObserver (TimerObserver* observer) noexcept { g_observer = observer; }

LyrLinkSysMgrTimer::LyrLinkSysMgrTimer (TimerDispatchTarget& owner, uint32_t timerId)
    : m_owner (owner), m_timerId (timerId), m_observer (g_observer.load())
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
    juce::Timer::startTimer (periodMs);
}

void LyrLinkSysMgrTimer::stopTimer()
{
    if (m_observer != nullptr)
    {
        m_virtualPeriod = 0;
        m_observer->timerStopped (*this);
        return;
    }
    juce::Timer::stopTimer();
}

bool LyrLinkSysMgrTimer::isTimerRunning() const noexcept
{
    return m_observer != nullptr ? m_virtualPeriod > 0 : juce::Timer::isTimerRunning();
}

int LyrLinkSysMgrTimer::getTimerInterval() const noexcept
{
    return m_observer != nullptr ? m_virtualPeriod.load() : juce::Timer::getTimerInterval();
}

void LyrLinkSysMgrTimer::timerCallback() { m_owner.timerDispatch (m_timerId); }

} // namespace lyrlink
