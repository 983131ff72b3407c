#include "app/TimerDispatch.h"
#include "support/LinkHarness.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace lyrlink;
using namespace lyrlink::test;

namespace
{
const Ipv4 kOwnIp = makeIpv4 (192, 168, 1, 20);
const Ipv4 kBroadcast = makeIpv4 (192, 168, 1, 255);

/** The link interface as link-up would have chosen it. */
void giveInterface (LinkHarness& h)
{
    // Rows of the same interface, so the network monitor finds it operational and unchanged.
    h.platform.rows.addWiredInterface (2, kOwnIp, makeIpv4 (255, 255, 255, 0), { 2, 0, 0, 0, 0, 10 });
    auto* access = h.mc->getNetworkAccess();
    access->m_ifIndex = 2;
    access->m_ipAddr = kOwnIp;
    access->m_netmask = makeIpv4 (255, 255, 255, 0);
    access->m_networkAddr = makeIpv4 (192, 168, 1, 0);
}

void setState (LinkHarness& h, uint8_t state)
{
    auto s = h.mc->getLinkStatus();
    s.state = state;
    s.id = 18;
    s.idClaimed = 1;
    s.devcount = 1;
    ipv4ToOctets (kOwnIp, s.ip);
    h.mc->setLinkStatusForTests (s);
}

std::vector<uint8_t> statusBytes (const LinkStatus& s)
{
    const auto* p = reinterpret_cast<const uint8_t*> (&s);
    return { p, p + sizeof (s) };
}

using TimerEvent = std::tuple<uint32_t, bool, int>;  // id, started, period

std::vector<TimerEvent> eventsOf (const VirtualScheduler& scheduler)
{
    std::vector<TimerEvent> result;
    for (auto& e : scheduler.events())
        result.emplace_back (e.timerId, e.started, e.periodMs);
    return result;
}

const std::vector<uint32_t> kLinkTimerIds { 1, 2, 4, 5, 6, 7, 8, 9 };

std::vector<uint32_t> allTimerIds()
{
    auto ids = kLinkTimerIds;
    for (uint32_t id = 100; id <= 179; ++id)
        ids.push_back (id);
    return ids;
}
} // namespace

TEST (TimerStartUp, CreatesThe88TimersInOrderAndRunsOnlyTheTwoMonitors)
{
    LinkHarness h;
    EXPECT_EQ (h.scheduler.createdIds(), allTimerIds());
    for (auto id : allTimerIds())
    {
        auto* timer = h.mc->getTimer (id);
        ASSERT_NE (timer, nullptr) << id;
        EXPECT_EQ (timer->getTimerId(), id);
    }
    for (uint32_t id : { 0u, 3u, 10u, 99u, 180u })
        EXPECT_EQ (h.mc->getTimer (id), nullptr) << id;

    EXPECT_EQ (h.scheduler.running(), (std::map<uint32_t, int> { { 7, 1000 }, { 8, 30000 } }));
    EXPECT_EQ (eventsOf (h.scheduler), (std::vector<TimerEvent> { { 7, true, 1000 }, { 8, true, 30000 } }));
}

TEST (TimerShutdown, StopsTheLinkTimersThenDestroysEveryTimerInOrder)
{
    LinkHarness h;
    for (uint32_t id : { 1u, 4u, 100u, 179u })
        h.mc->getTimer (id)->startTimer (500);
    h.scheduler.clearEvents();

    h.mc.reset();

    EXPECT_EQ (eventsOf (h.scheduler),
               (std::vector<TimerEvent> { { 100, false, 0 }, { 179, false, 0 }, { 1, false, 0 }, { 4, false, 0 },
                                          { 7, false, 0 }, { 8, false, 0 } }));
    EXPECT_TRUE (h.scheduler.destroyedWhileRunning().empty());

    // The eight link timers in their order, then the aging timers.
    auto destroyed = h.scheduler.destroyedIds();
    ASSERT_EQ (destroyed.size(), 88u);
    EXPECT_EQ (std::vector<uint32_t> (destroyed.begin(), destroyed.begin() + 8),
               (std::vector<uint32_t> { 9, 1, 2, 4, 5, 6, 7, 8 }));
    std::vector<uint32_t> aging (destroyed.begin() + 8, destroyed.end());
    std::sort (aging.begin(), aging.end());
    const auto all = allTimerIds();
    EXPECT_EQ (aging, std::vector<uint32_t> (all.begin() + 8, all.end()));
}

TEST (TimerDispatchTable, EachFiringRunsTheJobOfItsOwnTimer)
{
    // Every job stops its own timer first, so the timer stopped names the job that ran (an aging
    // job stops the timer of the entry it was given); in an idle link the jobs do no more than
    // restart their timer, each with its own period.
    struct Case
    {
        uint32_t id;
        int restartMs;  // 0: the job does not restart its timer in an idle link
    };
    const Case cases[] {
        { 1, 100 },     // discovery: discovery period
        { 2, 100 },     // ID-use: ID period
        { 4, 2000 },    // keep-alive period
        { 5, 0 },       // duplicate back-off: only acts in STATE_IDWAIT
        { 6, 0 },       // long back-off: only acts in STATE_IDWAIT
        { 7, 1000 },    // network monitor
        { 8, 30000 },   // application monitor
        { 9, 100 },     // compatibility period
        { 100, 0 },     // aging of device 1, not present
        { 101, 0 },     { 178, 0 },
        { 179, 0 },     // aging of device 80
    };

    LinkHarness h;
    for (auto& c : cases)
    {
        h.mc->getTimer (c.id)->startTimer (60000);
        h.scheduler.clearEvents();
        h.clearLog();

        h.mc->getTimer (c.id)->fire();

        std::vector<TimerEvent> expected { { c.id, false, 0 } };
        if (c.restartMs != 0)
            expected.emplace_back (c.id, true, c.restartMs);
        EXPECT_EQ (eventsOf (h.scheduler), expected) << c.id;
        EXPECT_TRUE (h.log().empty()) << c.id;
    }
}

TEST (TimerDispatchTable, IdsThatNameNoTimerDoNothing)
{
    LinkHarness h;
    giveInterface (h);
    setState (h, STATE_RUN);
    h.mc->getTimer (TIMER_KEEP_ALIVE)->startTimer (2000);
    const auto before = statusBytes (h.mc->getLinkStatus());
    h.clearSent();
    h.clearLog();
    h.scheduler.clearEvents();

    for (uint32_t id : { 0u, 3u, 10u, 50u, 99u, 180u, 181u, 1000u, 0xffffffffu })
        h.mc->timerDispatch (id);

    EXPECT_TRUE (h.sent().empty());
    EXPECT_TRUE (h.log().empty());
    EXPECT_TRUE (h.scheduler.events().empty());
    EXPECT_EQ (statusBytes (h.mc->getLinkStatus()), before);
}

TEST (TimerKeepAlive, SendsConfigNotifyEvery2000MsOnlyInRunAndKeepsFiring)
{
    LinkHarness h;
    giveInterface (h);
    setState (h, STATE_RUN);
    {
        const juce::ScopedLock sl (h.mc->getLinkLock());
        h.mc->getTimer (TIMER_KEEP_ALIVE)->startTimer (h.mc->getLinkTimings().keepAlivePeriodMs);
    }
    h.scheduler.clearEvents();

    h.scheduler.advance (6000);
    auto sent = h.sent();
    ASSERT_EQ (sent.size(), 3u);
    for (size_t i = 0; i < sent.size(); ++i)
    {
        EXPECT_EQ (sent[i].atMs, static_cast<int64_t> (2000 * (i + 1)));
        EXPECT_TRUE (sent[i].broadcast);
        EXPECT_EQ (sent[i].destination, kBroadcast);
        ASSERT_EQ (sent[i].bytes.size(), 54u);
        EXPECT_EQ (sent[i].bytes[10], 6);   // ConfigNotify
        EXPECT_EQ (sent[i].bytes[36], 18);  // own id
    }

    // Each firing stops its own timer first and starts it again with the keep-alive period.
    std::vector<TimerEvent> expected;
    for (int i = 0; i < 3; ++i)
    {
        expected.emplace_back (4, false, 0);
        expected.emplace_back (4, true, 2000);
    }
    auto events = eventsOf (h.scheduler);
    events.erase (std::remove_if (events.begin(), events.end(), [] (auto& e) { return std::get<0> (e) != 4; }),
                  events.end());
    EXPECT_EQ (events, expected);

    // Outside STATE_RUN (left without stopping the timer) nothing is sent, but the job keeps firing.
    for (uint8_t state : { STATE_IDWAIT, STATE_IDLE, STATE_DISCOVERY, STATE_IDUSE })
    {
        setState (h, state);
        h.clearSent();
        h.scheduler.clearEvents();
        h.scheduler.advance (4000);
        EXPECT_TRUE (h.sent().empty()) << int (state);
        int firings = 0;
        for (auto& f : h.scheduler.firings())
            firings += f.timerId == TIMER_KEEP_ALIVE ? 1 : 0;
        EXPECT_EQ (firings, 2) << int (state);
        EXPECT_EQ (h.scheduler.periodOf (TIMER_KEEP_ALIVE), 2000) << int (state);
    }

    // Back in STATE_RUN it sends again; a failed send is logged and the timer still restarts.
    setState (h, STATE_RUN);
    h.clearSent();
    h.clearLog();
    h.platform.udp->sendsFail = true;
    h.scheduler.advance (2000);
    EXPECT_EQ (h.logTexts(), (std::vector<std::string> { "MainComponent::frameSendConfigNotify FrameSend " }));
    h.platform.udp->sendsFail = false;
    h.scheduler.advance (2000);
    EXPECT_EQ (h.sent().size(), 1u);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_KEEP_ALIVE), 2000);
}

TEST (TimerStopLinkTimers, StopsEveryRunningTimerButTheCompatibilityTimerInOrder)
{
    LinkHarness h;
    for (auto id : allTimerIds())
        h.mc->getTimer (id)->startTimer (static_cast<int> (id) * 10);
    h.scheduler.clearEvents();

    {
        const juce::ScopedLock sl (h.mc->getLinkLock());
        h.mc->stopLinkTimers();
    }

    std::vector<TimerEvent> expected;
    for (uint32_t id = 100; id <= 179; ++id)
        expected.emplace_back (id, false, 0);
    for (uint32_t id : { 1u, 5u, 6u, 2u, 4u, 7u, 8u })
        expected.emplace_back (id, false, 0);
    EXPECT_EQ (eventsOf (h.scheduler), expected);
    EXPECT_EQ (h.scheduler.running(), (std::map<uint32_t, int> { { 9, 90 } }));

}

TEST (TimerStopLinkTimers, RightAfterStartUpStopsTheTwoMonitors)
{
    LinkHarness h;
    h.scheduler.clearEvents();
    {
        const juce::ScopedLock sl (h.mc->getLinkLock());
        h.mc->stopLinkTimers();
    }
    EXPECT_EQ (eventsOf (h.scheduler), (std::vector<TimerEvent> { { 7, false, 0 }, { 8, false, 0 } }));
    EXPECT_TRUE (h.scheduler.running().empty());
}
