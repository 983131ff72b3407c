// Virtual time for the manager's timers: sees every start and stop of every LyrLinkSysMgrTimer and
// fires the due jobs through timerDispatch in order of their due time, so a test walks a whole
// link-up to the millisecond without sleeping. Timers made with it as their observer are its
// own; FakePlatform hands it to every timer of a MainComponent.
#pragma once

#include "app/LyrLinkSysMgrTimer.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace lyrlink::test
{

class VirtualScheduler final : public TimerObserver
{
public:
    /** One start or stop, with its virtual time. */
    struct Event
    {
        int64_t atMs;
        uint32_t timerId;
        bool started; // false: stopped
        int periodMs; // of a start
    };

    /** One expiry: the job of timerId ran at atMs. */
    struct Firing
    {
        int64_t atMs;
        uint32_t timerId;
    };

    VirtualScheduler();
    ~VirtualScheduler() override;

    /** Current virtual time in milliseconds since the scheduler was made. */
    int64_t now() const;

    /** Fires every job that falls due within the next ms milliseconds, earliest first (in start
        order for equal times), then sets the time to now + ms. */
    void advance (int64_t ms);

    /** Advances to the next due job and fires it; false (and no change) when nothing is running. */
    bool fireNext();

    /** Ids and periods of the running timers. */
    std::map<uint32_t, int> running() const;

    /** Period of the running timer with that id, or 0. */
    int periodOf (uint32_t id) const;

    /** Time at which the timer with that id falls due, or -1. */
    int64_t dueOf (uint32_t id) const;

    /** Every start and stop since the scheduler was made (or since clearEvents). */
    std::vector<Event> events() const;
    /** Every expiry fired since the scheduler was made (or since clearEvents), in firing order. */
    std::vector<Firing> firings() const;
    /** Forgets the recorded events and firings (not the running timers). */
    void clearEvents();

    /** Ids of the timers made with this scheduler as their observer, in order of construction. */
    std::vector<uint32_t> createdIds() const;
    /** Ids of those timers destroyed so far, in order of destruction. */
    std::vector<uint32_t> destroyedIds() const;
    /** Ids of timers that were still running when they were destroyed. */
    std::vector<uint32_t> destroyedWhileRunning() const;

    void timerCreated (LyrLinkSysMgrTimer& timer) override;
    void timerStarted (LyrLinkSysMgrTimer& timer, int periodMs) override;
    void timerStopped (LyrLinkSysMgrTimer& timer) override;
    void timerDestroyed (LyrLinkSysMgrTimer& timer) override;

private:
    struct Entry
    {
        int64_t due;
        int period;
        uint64_t sequence;
    };

    mutable std::recursive_mutex m_lock;
    int64_t m_now = 0;
    uint64_t m_sequence = 0;
    struct Running
    {
        LyrLinkSysMgrTimer* timer;
        Entry entry;
    };
    /** The running timers, in no order: a flat list, so that starting and stopping a timer does
        not allocate once it has grown (a fuzzer starts and stops thousands a second). */
    std::vector<Running> m_timers;

    Running* find (LyrLinkSysMgrTimer* timer);
    bool erase (LyrLinkSysMgrTimer* timer);
    std::vector<Event> m_events;
    std::vector<Firing> m_firings;
    std::vector<uint32_t> m_created;
    std::vector<uint32_t> m_destroyed;
    std::vector<uint32_t> m_destroyedWhileRunning;
};

} // namespace lyrlink::test
