// All periodic and delayed work runs from LyrLinkSysMgrTimer: a juce::Timer that carries an id and
// hands every expiry to its owner's timerDispatch. Jobs use the timers as one-shot timers: each
// job stops its own timer first and restarts a timer only explicitly.
#pragma once

#include <juce_events/juce_events.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace lyrlink
{

class LyrLinkSysMgrTimer;

/** Whatever runs the jobs: MainComponent. */
class TimerDispatchTarget
{
public:
    virtual ~TimerDispatchTarget() = default;
    /** Runs the job that belongs to the timer id. */
    virtual void timerDispatch (uint32_t id) = 0;
};

/**
    Tests: sees every start and stop of a timer. A timer constructed with an observer is virtual:
    it never reaches JUCE's timer thread, and fires only when the observer (a virtual scheduler)
    calls fire(). The platform hands MainComponent the observer for its timers.
*/
class TimerObserver
{
public:
    virtual ~TimerObserver() = default;
    /** Called at the end of the timer's constructor. */
    virtual void timerCreated (LyrLinkSysMgrTimer&) {}
    virtual void timerStarted (LyrLinkSysMgrTimer& timer, int periodMs) = 0;
    virtual void timerStopped (LyrLinkSysMgrTimer& timer) = 0;
    virtual void timerDestroyed (LyrLinkSysMgrTimer& timer) = 0;
};

class LyrLinkSysMgrTimer : private juce::Timer
{
public:
    /** observer null: a real timer on JUCE's timer thread. */
    LyrLinkSysMgrTimer (TimerDispatchTarget& owner, uint32_t timerId, TimerObserver* observer);
    ~LyrLinkSysMgrTimer() override;

    /** (Re)starts the timer with a period in milliseconds; JUCE treats 0 as 1 ms. */
    void startTimer (int periodMs);
    /** Stops the timer; stopping a stopped timer does nothing. */
    void stopTimer();
    /** True while the timer runs. */
    bool isTimerRunning() const noexcept;
    /** The current period in milliseconds, 0 when stopped. */
    int getTimerInterval() const noexcept;
    /** The id handed to timerDispatch. */
    uint32_t getTimerId() const noexcept { return m_timerId; }

    /** Runs the job as an expiry would: tests call this through their scheduler. */
    void fire() { timerCallback(); }

private:
    void timerCallback() override;

    TimerDispatchTarget& m_owner;
    const uint32_t m_timerId;
    TimerObserver* const m_observer;
    std::atomic<int> m_virtualPeriod { 0 };
    // The deadline is kept here, and JUCE's timer is only the wake-up that checks it. JUCE's
    // timer thread charges a newly started timer with the time since its own last wake-up (up to
    // 100 ms), so a first expiry can come that much early: an expiry before the deadline re-arms
    // JUCE's timer for the rest instead of running the job.
    //
    // A restart whose deadline is no earlier than JUCE's pending wake-up, and a stop, leave JUCE's
    // timer as it is: the wake-up re-arms for the new deadline, or finds the timer stopped and
    // takes it off JUCE's list then. Every start and stop of a JUCE timer wakes JUCE's timer
    // thread, and a device's aging timer is restarted by each of its frames, so the frames of a
    // busy link would otherwise wake that thread once each.
    //
    // m_armLock guards all of it, so that a stop or restart from another thread is never undone
    // by a re-arm. Invariant: while m_armed, m_juceQueued is true and m_juceDueNs <= m_deadlineNs.
    mutable std::mutex m_armLock;
    bool m_armed = false;
    int64_t m_deadlineNs = 0;
    int m_periodMs = 0;
    bool m_juceQueued = false;
    int64_t m_juceDueNs = 0;
    int m_jucePeriodMs = 0;

    /** Starts (or restarts) JUCE's timer to call after ms. Under m_armLock. */
    void queueJuceTimer (int ms, int64_t now);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LyrLinkSysMgrTimer)
};

} // namespace lyrlink
