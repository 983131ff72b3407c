// The real timers (JUCE's timer thread), not the virtual scheduler: a timer started from a
// receive thread must not fire before its period, whatever the phase of JUCE's timer thread.
#include "app/LyrLinkSysMgrTimer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace lyrlink;

namespace
{
struct OneShotTarget : TimerDispatchTarget
{
    LyrLinkSysMgrTimer* timer = nullptr;
    std::atomic<bool> fired { false };
    std::chrono::steady_clock::time_point firedAt;

    void timerDispatch (uint32_t) override
    {
        timer->stopTimer();
        firedAt = std::chrono::steady_clock::now();
        fired = true;
    }
};
} // namespace

TEST (LyrLinkSysMgrTimer, AFirstExpiryStartedOffTheMessageThreadIsNeverEarly)
{
    OneShotTarget target;
    LyrLinkSysMgrTimer timer (target, 1, nullptr);
    target.timer = &timer;

    // A long-running timer keeps JUCE's timer thread waking on its own cycle, so the starts
    // below fall at different phases of it.
    OneShotTarget other;
    LyrLinkSysMgrTimer cycle (other, 2, nullptr);
    other.timer = &cycle;
    cycle.startTimer (60000);

    for (int round = 0; round < 6; ++round)
    {
        target.fired = false;
        std::this_thread::sleep_for (std::chrono::milliseconds (17 * round));
        std::chrono::steady_clock::time_point startedAt;
        std::thread starter ([&] {
            startedAt = std::chrono::steady_clock::now();
            timer.startTimer (100);
        });
        starter.join();
        for (int i = 0; i < 200 && ! target.fired; ++i)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
        ASSERT_TRUE (target.fired) << "round " << round;
        const auto ms = std::chrono::duration_cast<std::chrono::microseconds> (target.firedAt - startedAt).count() / 1000.0;
        EXPECT_GE (ms, 99.0) << "round " << round;
    }
    cycle.stopTimer();
}
