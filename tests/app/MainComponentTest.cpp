#include "support/LinkHarness.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

using namespace lyrlink;
using namespace lyrlink::test;

TEST (MainComponentStartUp, ResetsTheLinkStatus)
{
    LinkHarness h;
    const auto s = h.mc->getLinkStatus();
    const auto* raw = reinterpret_cast<const uint8_t*> (&s);
    for (size_t i = 0; i < sizeof (s); ++i)
    {
        uint8_t expected = 0;
        if (i == 1)
            expected = 4;
        if (i == 14 || i == 15)
            expected = 17;
        if (i == 61)
            expected = 255;
        EXPECT_EQ (raw[i], expected) << "byte " << i;
    }
    for (int id = 1; id <= kMaxDeviceId; ++id)
        ASSERT_EQ (h.mc->getDeviceEntry (id).state, DEVICE_NEVER_USED);
    const auto t = h.mc->getLinkTimings();
    EXPECT_EQ (t.idPeriodMs, 100);
    EXPECT_EQ (t.keepAlivePeriodMs, 2000);
    EXPECT_EQ (t.agingPeriodMs, 10000);
}

TEST (MainComponentStartUp, StartsSuspendedWithoutClientOrPermission)
{
    LinkHarness h;
    EXPECT_TRUE (h.mc->isSuspended());
    EXPECT_FALSE (h.mc->isProcessConnected());
    EXPECT_FALSE (h.mc->isLinkPermitted());
    EXPECT_FALSE (h.mc->isRejected());
    EXPECT_EQ (h.mc->getWidth(), 300);
    EXPECT_EQ (h.mc->getHeight(), 100);
    auto* label = dynamic_cast<juce::Label*> (h.mc->getChildComponent (0));
    ASSERT_NE (label, nullptr);
    EXPECT_EQ (label->getName(), "labelPlayMode");
    EXPECT_EQ (label->getText(), "-----");
    EXPECT_EQ (label->getBounds(), juce::Rectangle<int> (32, 32, 150, 24));
}

TEST (MainComponentStartUp, CreatesAllTimersAndUsesNoOtherIds)
{
    LinkHarness h;
    for (uint32_t id : { 1u, 2u, 4u, 5u, 6u, 7u, 8u, 9u, 100u, 140u, 179u })
    {
        auto* t = h.mc->getTimer (id);
        ASSERT_NE (t, nullptr) << id;
        EXPECT_EQ (t->getTimerId(), id);
    }
    for (uint32_t id : { 0u, 3u, 10u, 99u, 180u })
        EXPECT_EQ (h.mc->getTimer (id), nullptr) << id;
}

TEST (MainComponentStartUp, PortHeldByAnotherProgramIsLoggedAndStartUpGoesOn)
{
    LinkHarness h ([] (FakePlatform& p) { p.udp->bindSucceeds = false; });
    const auto lines = h.logTexts();
    ASSERT_GE (lines.size(), 2u);
    EXPECT_EQ (lines[0], "MainComponent::MainComponent OK");
    EXPECT_EQ (lines[1], "MainComponent::MainComponent NG UDP port open");
    EXPECT_FALSE (h.mc->getNetworkAccess()->isOpen());
    EXPECT_EQ (h.mc->getNetworkAccess()->getPort(), 0);
}

TEST (MainComponentStartUp, BoundEndpointRunsItsThread)
{
    LinkHarness h;
    EXPECT_EQ (h.logTexts().at (0), "MainComponent::MainComponent OK");
    EXPECT_FALSE (h.logged ("MainComponent::MainComponent NG UDP port open"));
    EXPECT_TRUE (h.mc->getNetworkAccess()->isOpen());
    EXPECT_EQ (h.mc->getNetworkAccess()->getPort(), 50000);
    EXPECT_TRUE (h.mc->getNetworkAccess()->isThreadRunning());
}

namespace
{
/** What a component holds that the link and the clients can change, to compare two components. */
struct ComponentState
{
    std::vector<uint8_t> status;
    std::vector<uint8_t> table;
    std::vector<uint8_t> sendBuffer;
    std::map<uint32_t, int> runningTimers;
    int connections;
    bool processConnected, suspended, permitted, rejected;
    int netGrace, appMonitorErr;
    uint32_t ifIndex;
    Ipv4 ip, netmask;

    static ComponentState of (LinkHarness& h)
    {
        ComponentState s;
        const auto st = h.mc->getLinkStatus();
        const auto* raw = reinterpret_cast<const uint8_t*> (&st);
        s.status.assign (raw, raw + sizeof (st));
        for (int id = 1; id <= kMaxDeviceId; ++id)
        {
            const auto e = h.mc->getDeviceEntry (id);
            const auto* r = reinterpret_cast<const uint8_t*> (&e);
            s.table.insert (s.table.end(), r, r + sizeof (e));
        }
        s.sendBuffer.assign (h.mc->getSendBuffer().begin(), h.mc->getSendBuffer().end());
        s.runningTimers = h.scheduler.running();
        s.connections = h.mc->getConnections().size();
        s.processConnected = h.mc->isProcessConnected();
        s.suspended = h.mc->isSuspended();
        s.permitted = h.mc->isLinkPermitted();
        s.rejected = h.mc->isRejected();
        s.netGrace = h.mc->getNetGraceCount();
        s.appMonitorErr = h.mc->getAppMonitorErr();
        s.ifIndex = h.mc->getNetworkAccess()->m_ifIndex;
        s.ip = h.mc->getNetworkAccess()->m_ipAddr;
        s.netmask = h.mc->getNetworkAccess()->m_netmask;
        return s;
    }
};

void addWired (FakePlatform& p)
{
    p.rows.addWiredInterface (2, makeIpv4 (192, 168, 1, 20), makeIpv4 (255, 255, 255, 0),
                              { 0x00, 0x11, 0x22, 0x33, 0x44, 0x55 });
}

/** A client, a device and the link run up to RUN; then a reject, so every kind of state is set. */
void runLinkUp (LinkHarness& h)
{
    h.connectClient (4242);
    const Ipv4 peer = makeIpv4 (192, 168, 1, 3);
    h.receive (peer, FrameBuilder::configNotify (3, 1, peer, { 0xAA, 0, 0, 0, 0, 3 }));
    h.scheduler.advance (10000);
}
} // namespace

// The fuzzers run many inputs on one component; what they find is only worth anything if the
// reset leaves exactly what construction leaves, and a link comes up on it as on a new one.
TEST (MainComponentResetForTests, LeavesWhatConstructionLeaves)
{
    ComponentState fresh, freshRun;
    {
        LinkHarness h (addWired);
        fresh = ComponentState::of (h);
        runLinkUp (h);
        freshRun = ComponentState::of (h);
    }
    ASSERT_EQ (freshRun.status[0], STATE_RUN);

    LinkHarness h (addWired);
    runLinkUp (h);
    h.receive (makeIpv4 (192, 168, 1, 3), FrameBuilder::simple (FRAME_REJECT, 0, 0));
    ASSERT_TRUE (h.mc->isRejected());

    h.mc->resetForTests (false, true, false);
    const auto reset = ComponentState::of (h);
    EXPECT_EQ (reset.status, fresh.status);
    EXPECT_EQ (reset.table, fresh.table);
    EXPECT_EQ (reset.sendBuffer, fresh.sendBuffer);
    EXPECT_EQ (reset.runningTimers, fresh.runningTimers);
    EXPECT_EQ (reset.connections, fresh.connections);
    EXPECT_EQ (reset.processConnected, fresh.processConnected);
    EXPECT_EQ (reset.suspended, fresh.suspended);
    EXPECT_EQ (reset.permitted, fresh.permitted);
    EXPECT_FALSE (reset.rejected);
    EXPECT_EQ (reset.netGrace, fresh.netGrace);
    EXPECT_EQ (reset.appMonitorErr, fresh.appMonitorErr);
    EXPECT_EQ (reset.ifIndex, 0u);
    EXPECT_EQ (reset.ip, 0u);
    EXPECT_EQ (reset.netmask, 0u);

    // The client pipe is gone and the same exchange brings the link up again, to the same state.
    runLinkUp (h);
    const auto again = ComponentState::of (h);
    EXPECT_EQ (again.status, freshRun.status);
    EXPECT_EQ (again.table, freshRun.table);
    EXPECT_EQ (again.connections, freshRun.connections);
}

TEST (MainComponentResetForTests, SetsTheConnectionFlagsAsGiven)
{
    LinkHarness h;
    for (int flags = 0; flags < 8; ++flags)
    {
        h.mc->resetForTests ((flags & 1) != 0, (flags & 2) != 0, (flags & 4) != 0);
        EXPECT_EQ (h.mc->isProcessConnected(), (flags & 1) != 0) << flags;
        EXPECT_EQ (h.mc->isSuspended(), (flags & 2) != 0) << flags;
        EXPECT_EQ (h.mc->isLinkPermitted(), (flags & 4) != 0) << flags;
    }
}
