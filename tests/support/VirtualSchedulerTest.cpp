#include "support/VirtualScheduler.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>

using namespace lyrlink;
using namespace lyrlink::test;

namespace
{
using Call = std::pair<int64_t, uint32_t>;  // virtual time, timer id

/** Stands in for MainComponent: records every dispatch with its virtual time and runs a job. */
struct RecordingTarget final : TimerDispatchTarget
{
    explicit RecordingTarget (VirtualScheduler& s) : scheduler (s) {}

    void timerDispatch (uint32_t id) override
    {
        calls.emplace_back (scheduler.now(), id);
        if (job)
            job (id);
    }

    VirtualScheduler& scheduler;
    std::vector<Call> calls;
    std::function<void (uint32_t)> job;
};

struct VirtualSchedulerTest : ::testing::Test
{
    VirtualScheduler scheduler;
    RecordingTarget target { scheduler };

    LyrLinkSysMgrTimer& make (uint32_t id)
    {
        timers.push_back (std::make_unique<LyrLinkSysMgrTimer> (target, id, &scheduler));
        return *timers.back();
    }

    LyrLinkSysMgrTimer& timer (uint32_t id)
    {
        for (auto& t : timers)
            if (t->getTimerId() == id)
                return *t;
        throw std::logic_error ("no such timer");
    }

    /** Every job behaves as the manager's: stop its own timer first. */
    void oneShotJobs()
    {
        target.job = [this] (uint32_t id) { timer (id).stopTimer(); };
    }

    std::vector<std::unique_ptr<LyrLinkSysMgrTimer>> timers;
};
} // namespace

TEST_F (VirtualSchedulerTest, FiresDueJobsThroughTimerDispatchInOrderOfDueTime)
{
    oneShotJobs();
    make (7).startTimer (300);
    make (2).startTimer (100);
    make (4).startTimer (200);
    make (100).startTimer (100);  // due together with 2, started after it

    scheduler.advance (250);
    EXPECT_EQ (target.calls, (std::vector<Call> { { 100, 2 }, { 100, 100 }, { 200, 4 } }));
    EXPECT_EQ (scheduler.now(), 250);
    EXPECT_EQ (scheduler.running(), (std::map<uint32_t, int> { { 7, 300 } }));
    EXPECT_EQ (scheduler.dueOf (7), 300);

    scheduler.advance (50);  // a job due exactly at the target time fires
    EXPECT_EQ (target.calls.back(), (Call { 300, 7 }));
    EXPECT_TRUE (scheduler.running().empty());
    EXPECT_FALSE (timer (7).isTimerRunning());
}

TEST_F (VirtualSchedulerTest, RestartedTimerCountsItsPeriodFromTheJobThatRestartedIt)
{
    int period = 100;
    target.job = [&] (uint32_t id) {
        auto& t = timer (id);
        t.stopTimer();
        if (id == 1)
        {
            t.startTimer (period);  // the period read at this moment
            period = 250;
            timer (2).startTimer (30);  // another job's timer, started from this one
        }
    };
    make (1).startTimer (period);
    make (2);

    scheduler.advance (1000);
    EXPECT_EQ (target.calls, (std::vector<Call> { { 100, 1 }, { 130, 2 }, { 200, 1 }, { 230, 2 }, { 450, 1 },
                                                  { 480, 2 }, { 700, 1 }, { 730, 2 }, { 950, 1 }, { 980, 2 } }));
    EXPECT_EQ (scheduler.periodOf (1), 250);
    EXPECT_EQ (scheduler.periodOf (2), 0);
}

TEST_F (VirtualSchedulerTest, TimerLeftRunningByItsJobFiresEveryPeriodLikeAJuceTimer)
{
    make (8).startTimer (100);
    scheduler.advance (350);
    EXPECT_EQ (target.calls, (std::vector<Call> { { 100, 8 }, { 200, 8 }, { 300, 8 } }));
    EXPECT_EQ (scheduler.dueOf (8), 400);
}

TEST_F (VirtualSchedulerTest, StopsRestartsAndDestructionCancelTheDueExpiry)
{
    oneShotJobs();
    auto& restarted = make (1);
    auto& stopped = make (2);
    restarted.startTimer (100);
    stopped.startTimer (100);
    make (5).startTimer (120);

    scheduler.advance (50);
    restarted.startTimer (100);  // now due at 150
    stopped.stopTimer();
    timers.pop_back();           // timer 5 destroyed while running

    scheduler.advance (200);
    EXPECT_EQ (target.calls, (std::vector<Call> { { 150, 1 } }));
    EXPECT_FALSE (scheduler.fireNext());
    EXPECT_EQ (scheduler.now(), 250);
    EXPECT_EQ (scheduler.destroyedWhileRunning(), (std::vector<uint32_t> { 5 }));
}

TEST_F (VirtualSchedulerTest, FireNextJumpsToTheNextDueJob)
{
    oneShotJobs();
    make (6).startTimer (30000);
    make (9).startTimer (0);  // JUCE runs a period below 1 ms at 1 ms
    EXPECT_EQ (timer (9).getTimerInterval(), 1);

    EXPECT_TRUE (scheduler.fireNext());
    EXPECT_TRUE (scheduler.fireNext());
    EXPECT_FALSE (scheduler.fireNext());
    EXPECT_EQ (target.calls, (std::vector<Call> { { 1, 9 }, { 30000, 6 } }));
}

TEST_F (VirtualSchedulerTest, RecordsStartsStopsFiringsAndLifetimes)
{
    oneShotJobs();
    target.job = [this] (uint32_t id) {
        timer (id).stopTimer();
        timer (id).startTimer (500);
    };
    make (4).startTimer (2000);
    make (179);
    scheduler.advance (2000);
    timer (179).stopTimer();  // not running: no event

    const auto events = scheduler.events();
    ASSERT_EQ (events.size(), 3u);
    EXPECT_EQ (events[0].atMs, 0);
    EXPECT_TRUE (events[0].started);
    EXPECT_EQ (events[0].periodMs, 2000);
    EXPECT_EQ (events[1].atMs, 2000);
    EXPECT_FALSE (events[1].started);
    EXPECT_EQ (events[2].atMs, 2000);
    EXPECT_TRUE (events[2].started);
    EXPECT_EQ (events[2].periodMs, 500);
    for (auto& e : events)
        EXPECT_EQ (e.timerId, 4u);

    ASSERT_EQ (scheduler.firings().size(), 1u);
    EXPECT_EQ (scheduler.firings()[0].atMs, 2000);
    EXPECT_EQ (scheduler.firings()[0].timerId, 4u);

    scheduler.clearEvents();
    EXPECT_TRUE (scheduler.events().empty());
    EXPECT_TRUE (scheduler.firings().empty());
    EXPECT_EQ (scheduler.periodOf (4), 500);  // the running timers stay

    timers.clear();
    EXPECT_EQ (scheduler.createdIds(), (std::vector<uint32_t> { 4, 179 }));
    EXPECT_EQ (scheduler.destroyedIds(), (std::vector<uint32_t> { 4, 179 }));
    EXPECT_EQ (scheduler.destroyedWhileRunning(), (std::vector<uint32_t> { 4 }));
}
