#include "support/LinkHarness.h"

#include <gtest/gtest.h>

using namespace lyrlink;
using namespace lyrlink::test;

namespace
{

const std::string kMiss = "MainComponent::timerFuncAppMonitor m_appMonitorErr = ";
const std::string kStop = "MainComponent::timerFuncAppMonitor STOP m_appMonitorErr = ";

/** The monitor's log lines of one check. */
std::vector<std::string> monitorLines (LinkHarness& h)
{
    std::vector<std::string> lines;
    for (const auto& text : h.logTexts())
        if (text.rfind ("MainComponent::timerFuncAppMonitor", 0) == 0)
            lines.push_back (text);
    return lines;
}

/** Runs the next check through the timer, as 30 s of virtual time pass; returns its log lines. */
std::vector<std::string> runCheck (LinkHarness& h)
{
    h.clearLog();
    h.scheduler.advance (kAppMonitorPeriodMs);
    return monitorLines (h);
}

struct AppMonitorTest : ::testing::Test
{
    /** Connects clients whose processes run; the test then ends some of them. */
    void connect (std::initializer_list<uint32_t> pids)
    {
        for (auto pid : pids)
        {
            h.platform.runningProcesses.insert (pid);
            h.connectClient (pid);
        }
        ASSERT_EQ (h.mc->getConnections().size(), static_cast<int> (pids.size()) + 1) << "master and clients";
    }

    LinkHarness h;
};

} // namespace

//==============================================================================
TEST_F (AppMonitorTest, OneClientGoneCountsToFourThenStops)
{
    connect ({ 4100 });
    EXPECT_TRUE (runCheck (h).empty()) << "a running client is no miss";
    EXPECT_EQ (h.mc->getAppMonitorErr(), 0);

    h.platform.runningProcesses.clear();
    for (int n = 1; n <= 3; ++n)
    {
        EXPECT_EQ (runCheck (h), (std::vector<std::string> { kMiss + std::to_string (n) })) << "check " << n;
        EXPECT_EQ (h.platform.quitRequests, 0);
        EXPECT_EQ (h.scheduler.periodOf (TIMER_APP_MONITOR), kAppMonitorPeriodMs);
    }

    EXPECT_EQ (runCheck (h), (std::vector<std::string> { kMiss + "4", kStop + "4" }));
    EXPECT_EQ (h.platform.quitRequests, 1);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_APP_MONITOR), 0) << "the timer stays stopped after STOP";

    const int lookups = h.platform.processLookups;
    EXPECT_TRUE (runCheck (h).empty());
    EXPECT_EQ (h.platform.processLookups, lookups);
    EXPECT_EQ (h.platform.quitRequests, 1);
}

TEST_F (AppMonitorTest, AFoundProcessResetsTheCountSilently)
{
    connect ({ 4100 });
    h.platform.runningProcesses.clear();
    EXPECT_EQ (runCheck (h), (std::vector<std::string> { kMiss + "1" }));
    EXPECT_EQ (runCheck (h), (std::vector<std::string> { kMiss + "2" }));

    h.platform.runningProcesses.insert (4100);
    EXPECT_TRUE (runCheck (h).empty());
    EXPECT_EQ (h.mc->getAppMonitorErr(), 0);

    h.platform.runningProcesses.clear();
    EXPECT_EQ (runCheck (h), (std::vector<std::string> { kMiss + "1" }));
}

TEST_F (AppMonitorTest, TwoClientsShareOneCounter)
{
    struct Case
    {
        const char* what;
        bool firstRuns, secondRuns;
        std::vector<std::string> linesPerCheck;
        int countAfter;
    };
    const Case cases[] = {
        // A found client resets what the misses before it counted, so one running client keeps
        // the manager alive whatever its place in the list.
        { "first gone, second running", false, true, { kMiss + "1" }, 0 },
        { "first running, second gone", true, false, { kMiss + "1" }, 1 },
    };
    for (const auto& c : cases)
    {
        LinkHarness h;
        for (uint32_t pid : { 4100u, 4200u })
            h.connectClient (pid);
        ASSERT_EQ (h.mc->getConnections().size(), 3);
        if (c.firstRuns)
            h.platform.runningProcesses.insert (4100);
        if (c.secondRuns)
            h.platform.runningProcesses.insert (4200);

        for (int check = 1; check <= 8; ++check)
        {
            EXPECT_EQ (runCheck (h), c.linesPerCheck) << c.what << ", check " << check;
            EXPECT_EQ (h.mc->getAppMonitorErr(), c.countAfter) << c.what;
        }
        EXPECT_EQ (h.platform.quitRequests, 0) << c.what;
        EXPECT_EQ (h.scheduler.periodOf (TIMER_APP_MONITOR), kAppMonitorPeriodMs) << c.what;
    }
}

TEST_F (AppMonitorTest, TwoClientsGoneStopAtTheSecondCheck)
{
    connect ({ 4100, 4200 });
    h.platform.runningProcesses.clear();
    EXPECT_EQ (runCheck (h), (std::vector<std::string> { kMiss + "1", kMiss + "2" }));
    EXPECT_EQ (h.platform.quitRequests, 0);
    EXPECT_EQ (runCheck (h), (std::vector<std::string> { kMiss + "3", kMiss + "4", kStop + "4" }));
    EXPECT_EQ (h.platform.quitRequests, 1);
}

TEST_F (AppMonitorTest, OnlyTheMasterListedLooksNothingUp)
{
    ASSERT_EQ (h.mc->getConnections().size(), 1);
    for (int check = 1; check <= 5; ++check)
    {
        EXPECT_TRUE (runCheck (h).empty());
        EXPECT_EQ (h.scheduler.periodOf (TIMER_APP_MONITOR), kAppMonitorPeriodMs);
    }
    EXPECT_EQ (h.platform.processLookups, 0);
    EXPECT_EQ (h.mc->getAppMonitorErr(), 0);
    EXPECT_EQ (h.platform.quitRequests, 0);
}

TEST_F (AppMonitorTest, ChecksAreThirtySecondsApart)
{
    connect ({ 4100 });
    h.platform.runningProcesses.clear();
    h.clearLog();
    h.scheduler.advance (4 * kAppMonitorPeriodMs);

    std::vector<int64_t> times;
    for (const auto& line : h.log())
        if (line.text.rfind (kMiss, 0) == 0)
            times.push_back (line.atMs);
    EXPECT_EQ (times, (std::vector<int64_t> { 30000, 60000, 90000, 120000 }));
}
