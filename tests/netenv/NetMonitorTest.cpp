#include "support/LinkHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace lyrlink;
using namespace lyrlink::test;

namespace
{

constexpr uint32_t kIfIndex = 3;
constexpr uint32_t kClientPid = 4100;
const Ipv4 kLocal = makeIpv4 (192, 168, 1, 5);
const Ipv4 kMask = makeIpv4 (255, 255, 255, 0);
const Ipv4 kPeer = makeIpv4 (192, 168, 1, 20);
const std::array<uint8_t, 6> kMac { 0x02, 0x11, 0x22, 0x33, 0x44, 0x55 };
const std::array<uint8_t, 6> kPeerMac { 0x00, 0xe0, 0x36, 0x01, 0x02, 0x03 };
const std::array<uint8_t, 6> kBssidA { 0xa0, 0xb1, 0xc2, 0xd3, 0xe4, 0xf5 };
const std::array<uint8_t, 6> kBssidB { 0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f };

const std::string kName = "MainComponent::timerFuncNetMonitor";
const std::string kNetDisconnect = kName + " Link DOWN net disconnect";
const std::string kIpChange = kName + " Link DOWN ipchange";
const std::string kBssidChange = kName + " Link DOWN bssidchange";

/** A manager on fakes with helpers to bring a link up and run the monitor. */
struct MonitorRig
{
    /** A client connects and a player's ConfigNotify brings the link up on the one interface. */
    void linkUp (bool wireless)
    {
        if (wireless)
            h.platform.rows.addWirelessInterface (kIfIndex, kLocal, kMask, kMac, "stage", kBssidA);
        else
            h.platform.rows.addWiredInterface (kIfIndex, kLocal, kMask, kMac);
        h.platform.runningProcesses.insert (kClientPid);
        h.connectClient (kClientPid);
        h.receive (kPeer, FrameBuilder::configNotify (1, 1, kPeer, kPeerMac));

        const auto s = h.mc->getLinkStatus();
        ASSERT_EQ (s.state, STATE_DISCOVERY) << "link-up did not run";
        ASSERT_EQ (s.linkif, wireless ? LINKIF_WIRELESS : LINKIF_WIRED);
        ASSERT_EQ (h.mc->getNetGraceCount(), wireless ? kWirelessLink.graceAtLinkUp : 1);
        ASSERT_EQ (h.scheduler.periodOf (TIMER_NET_MONITOR), kNetMonitorPeriodMs);
        h.clearLog();
        h.clearPipeMessages();
    }

    /** Advances virtual time to the monitor's next run and through it. */
    void runMonitor()
    {
        const auto due = h.scheduler.dueOf (TIMER_NET_MONITOR);
        ASSERT_GE (due, h.scheduler.now()) << "the monitor timer is not running";
        h.scheduler.advance (due - h.scheduler.now());
    }

    void runMonitor (int times)
    {
        for (int i = 0; i < times; ++i)
            runMonitor();
    }

    bool isLinkUp() const { return h.mc->getLinkStatus().state != STATE_IDLE; }

    /** The monitor's own log lines and the BSSID line. */
    std::vector<std::string> monitorLines() const
    {
        std::vector<std::string> lines;
        for (const auto& text : h.logTexts())
            if (text.rfind (kName, 0) == 0 || text.rfind ("bssid = ", 0) == 0)
                lines.push_back (text);
        return lines;
    }

    /** The wireless adapter loses its access point and the interface stops being operational. */
    void loseWireless()
    {
        h.platform.rows.setOperational (kIfIndex, false);
        const std::lock_guard<std::mutex> g (h.platform.rows.lock);
        h.platform.rows.wlan[0].connected = false;
    }

    void regainWireless()
    {
        h.platform.rows.setOperational (kIfIndex, true);
        const std::lock_guard<std::mutex> g (h.platform.rows.lock);
        h.platform.rows.wlan[0].connected = true;
    }

    /** Checks the link went down with that one cause and that everything the link-down does is done. */
    void expectLinkDown (const std::vector<std::string>& lines)
    {
        EXPECT_EQ (monitorLines(), lines);
        const auto s = h.mc->getLinkStatus();
        EXPECT_EQ (s.state, STATE_IDLE);
        EXPECT_EQ (s.linkif, LINKIF_UNKNOWN) << "the link status is reset";
        EXPECT_EQ (s.devcount, 0);
        EXPECT_EQ (h.scheduler.periodOf (TIMER_NET_MONITOR), 0) << "the monitor waits for the next link-up";
        for (uint32_t id : { 1u, 2u, 4u, 5u, 6u })
            EXPECT_EQ (h.scheduler.periodOf (id), 0) << "timer " << id;
        const auto notes = h.notifications();
        ASSERT_FALSE (notes.empty());
        EXPECT_EQ (notes.back().msg.kind, KIND_LINK_STATUS_CHANGED);
        EXPECT_EQ (notes.back().linkStatus().state, STATE_IDLE);
    }

    LinkHarness h;
};

struct NetMonitorTest : ::testing::Test, MonitorRig
{
};

} // namespace

//==============================================================================
TEST_F (NetMonitorTest, WiredLinkGoesDownAtTheFirstNonOperationalRun)
{
    linkUp (false);
    runMonitor (3);
    EXPECT_TRUE (isLinkUp());
    EXPECT_TRUE (monitorLines().empty());
    EXPECT_EQ (h.mc->getNetGraceCount(), 1);

    h.platform.rows.setOperational (kIfIndex, false);
    runMonitor();
    expectLinkDown ({ kNetDisconnect });
}

TEST_F (NetMonitorTest, LinkDownRemovesPeersThenReportsTheLinkWithTheOwnId)
{
    linkUp (false);
    // The negotiation finds every id free and the link reaches STATE_RUN with id 17; a player's
    // ConfigNotify then enters the peer table.
    h.scheduler.advance (5000);
    ASSERT_EQ (h.mc->getLinkStatus().state, STATE_RUN);
    h.receive (kPeer, FrameBuilder::configNotify (1, 1, kPeer, kPeerMac));
    ASSERT_EQ (h.mc->getDeviceEntry (1).state, DEVICE_PRESENT);
    h.clearPipeMessages();
    h.clearLog();

    h.platform.rows.setOperational (kIfIndex, false);
    runMonitor();
    expectLinkDown ({ kNetDisconnect });

    const auto notes = h.notifications();
    ASSERT_EQ (notes.size(), 2u);
    EXPECT_EQ (notes[0].msg.kind, KIND_DEVICE_CHANGED);
    EXPECT_EQ (notes[0].msg.id, 1);
    EXPECT_EQ (notes[0].device().state, DEVICE_REMOVED);
    EXPECT_EQ (notes[1].msg.kind, KIND_LINK_STATUS_CHANGED);
    EXPECT_EQ (notes[1].msg.id, 17);
    const auto reported = notes[1].linkStatus();
    EXPECT_EQ (reported.state, STATE_IDLE);
    EXPECT_EQ (reported.apconnected, 0);
    EXPECT_EQ (reported.id, 17) << "the own id is still in place when the clients hear of it";
    EXPECT_EQ (reported.devcount, 1) << "the peers are gone; the manager counts itself until the reset";
    EXPECT_EQ (h.mc->getDeviceEntry (1).state, DEVICE_NEVER_USED) << "the peer table is reset";

    // The link comes back with the next ConfigNotify, and the monitor with it.
    h.platform.rows.setOperational (kIfIndex, true);
    h.receive (kPeer, FrameBuilder::configNotify (1, 1, kPeer, kPeerMac));
    EXPECT_EQ (h.mc->getLinkStatus().state, STATE_DISCOVERY);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_NET_MONITOR), kNetMonitorPeriodMs);
}

TEST_F (NetMonitorTest, WirelessSeenOperationalHas180RunsOfGrace)
{
    linkUp (true);
    runMonitor();
    EXPECT_EQ (h.mc->getNetGraceCount(), kWirelessGraceAfterOperational);

    loseWireless();
    runMonitor (179);
    EXPECT_TRUE (isLinkUp());
    EXPECT_EQ (h.mc->getNetGraceCount(), 1);

    // One operational run restores the full grace.
    regainWireless();
    runMonitor();
    EXPECT_EQ (h.mc->getNetGraceCount(), kWirelessGraceAfterOperational);

    loseWireless();
    runMonitor (179);
    EXPECT_TRUE (isLinkUp());
    EXPECT_TRUE (monitorLines().empty());

    const auto before = h.scheduler.now();
    runMonitor();
    expectLinkDown ({ kNetDisconnect });
    EXPECT_EQ (h.scheduler.now() - before, kNetMonitorPeriodMs);
}

TEST_F (NetMonitorTest, WirelessNeverSeenOperationalGoesDownAfter20Runs)
{
    linkUp (true);
    loseWireless();
    runMonitor (kWirelessLink.graceAtLinkUp - 1);
    EXPECT_TRUE (isLinkUp());
    EXPECT_TRUE (monitorLines().empty());

    runMonitor();
    expectLinkDown ({ kNetDisconnect });
    EXPECT_EQ (h.scheduler.now(), kWirelessLink.graceAtLinkUp * kNetMonitorPeriodMs);
}

TEST_F (NetMonitorTest, NewBssidTakesTheLinkDown)
{
    linkUp (true);
    const auto s = h.mc->getLinkStatus();
    ASSERT_TRUE (std::equal (kBssidA.begin(), kBssidA.end(), s.bssid)) << "link-up records the access point";
    runMonitor();
    EXPECT_TRUE (isLinkUp());

    {
        const std::lock_guard<std::mutex> g (h.platform.rows.lock);
        h.platform.rows.wlan[0].bssid = kBssidB;
    }
    runMonitor();
    expectLinkDown ({ kBssidChange, "bssid = a0.b1.c2.d3.e4.f5 / 0a.1b.2c.3d.4e.5f" });
}

TEST_F (NetMonitorTest, NoBssidFoundIsNoChange)
{
    struct Case
    {
        const char* what;
        std::function<void (FakeNetRowSource&)> change;
    };
    const Case cases[] = {
        { "disconnected from the access point", [] (FakeNetRowSource& r) { r.wlan[0].connected = false; } },
        { "wireless service unavailable", [] (FakeNetRowSource& r) { r.wlanResult = WlanResult::serviceUnavailable; } },
        { "wireless list unreadable", [] (FakeNetRowSource& r) { r.wlanResult = WlanResult::listFailed; } },
        { "adapter list unreadable", [] (FakeNetRowSource& r) { r.adapterResult = AdapterListResult::cannotRead; } },
        { "same access point", [] (FakeNetRowSource&) {} },
    };
    for (const auto& c : cases)
    {
        MonitorRig t;
        t.linkUp (true);
        {
            const std::lock_guard<std::mutex> g (t.h.platform.rows.lock);
            c.change (t.h.platform.rows);
        }
        t.runMonitor (3);
        EXPECT_TRUE (t.isLinkUp()) << c.what;
        EXPECT_TRUE (t.monitorLines().empty()) << c.what;
        EXPECT_EQ (t.h.mc->getNetGraceCount(), kWirelessGraceAfterOperational) << c.what << ": the interface test decides";
    }
}

TEST_F (NetMonitorTest, AddressChangeTakesTheLinkDown)
{
    struct Case
    {
        const char* what;
        bool wireless;
        std::function<void (FakeNetRowSource&)> change;
    };
    const Case cases[] = {
        { "second address on the link interface", false,
          [] (FakeNetRowSource& r) { r.addresses.push_back ({ makeIpv4 (10, 0, 0, 7), kIfIndex, makeIpv4 (255, 0, 0, 0) }); } },
        { "link address replaced", false, [] (FakeNetRowSource& r) { r.addresses[0].address = makeIpv4 (192, 168, 1, 6); } },
        { "wireless link address replaced", true, [] (FakeNetRowSource& r) { r.addresses[0].address = makeIpv4 (192, 168, 1, 6); } },
        // The address test comes before the interface test: one run logs one cause.
        { "address replaced on a down interface", false,
          [] (FakeNetRowSource& r) {
              r.addresses[0].address = makeIpv4 (192, 168, 1, 6);
              r.interfaces[0].operStatus = 2;
          } },
    };
    for (const auto& c : cases)
    {
        MonitorRig t;
        t.linkUp (c.wireless);
        t.runMonitor();
        ASSERT_TRUE (t.isLinkUp()) << c.what;
        {
            const std::lock_guard<std::mutex> g (t.h.platform.rows.lock);
            c.change (t.h.platform.rows);
        }
        t.runMonitor();
        SCOPED_TRACE (c.what);
        t.expectLinkDown ({ kIpChange });
    }
}

TEST_F (NetMonitorTest, BssidTestComesFirst)
{
    linkUp (true);
    {
        const std::lock_guard<std::mutex> g (h.platform.rows.lock);
        h.platform.rows.wlan[0].bssid = kBssidB;
        h.platform.rows.addresses[0].address = makeIpv4 (192, 168, 1, 6);
        h.platform.rows.interfaces[0].operStatus = 2;
    }
    runMonitor();
    expectLinkDown ({ kBssidChange, "bssid = a0.b1.c2.d3.e4.f5 / 0a.1b.2c.3d.4e.5f" });
}

TEST_F (NetMonitorTest, UnreadableTablesCountAsNoChangeAndAsDown)
{
    linkUp (false);
    {
        const std::lock_guard<std::mutex> g (h.platform.rows.lock);
        h.platform.rows.addressTableFails = true;
    }
    runMonitor (2);
    EXPECT_TRUE (isLinkUp()) << "an unreadable address table is no address change";

    {
        const std::lock_guard<std::mutex> g (h.platform.rows.lock);
        h.platform.rows.interfaceTableFails = true;
    }
    runMonitor();
    expectLinkDown ({ kNetDisconnect });
}

TEST_F (NetMonitorTest, WithoutALinkNothingIsQueriedOrLogged)
{
    h.platform.rows.addWiredInterface (kIfIndex, kLocal, kMask, kMac);
    h.platform.rows.setOperational (kIfIndex, false);
    const int queries = h.platform.rows.queries;
    h.clearLog();
    h.scheduler.clearEvents();

    h.scheduler.advance (10 * kNetMonitorPeriodMs);
    EXPECT_EQ (h.platform.rows.queries, queries);
    EXPECT_TRUE (monitorLines().empty());
    EXPECT_EQ (h.scheduler.periodOf (TIMER_NET_MONITOR), kNetMonitorPeriodMs) << "the monitor keeps running";
    EXPECT_EQ (h.scheduler.dueOf (TIMER_NET_MONITOR), 11 * kNetMonitorPeriodMs);

    // It did run every second: each run stops its timer and starts it again with 1000 ms.
    int restarts = 0;
    for (const auto& e : h.scheduler.events())
        if (e.timerId == TIMER_NET_MONITOR && e.started && e.periodMs == kNetMonitorPeriodMs)
            ++restarts;
    EXPECT_EQ (restarts, 10);
}

//==============================================================================
TEST_F (NetMonitorTest, LinkDownKeepsTheApplicationMonitorRunning)
{
    // A client that ends while the link is down must still be noticed: the link-down restarts the
    // application monitor that the stop of all link timers stopped.
    linkUp (false);
    h.platform.rows.setOperational (kIfIndex, false);
    runMonitor();
    ASSERT_FALSE (isLinkUp());
    EXPECT_EQ (h.scheduler.periodOf (TIMER_APP_MONITOR), kAppMonitorPeriodMs);

    h.platform.runningProcesses.clear();
    h.scheduler.advance (4 * kAppMonitorPeriodMs);
    EXPECT_EQ (h.platform.quitRequests, 1);
}

TEST_F (NetMonitorTest, LinkDownDoesNotRestartAStoppedApplicationMonitor)
{
    linkUp (false);
    h.platform.runningProcesses.clear();
    h.scheduler.advance (4 * kAppMonitorPeriodMs);
    ASSERT_EQ (h.platform.quitRequests, 1);
    ASSERT_EQ (h.scheduler.periodOf (TIMER_APP_MONITOR), 0);
    ASSERT_TRUE (isLinkUp());

    h.platform.rows.setOperational (kIfIndex, false);
    runMonitor();
    ASSERT_FALSE (isLinkUp());
    EXPECT_EQ (h.scheduler.periodOf (TIMER_APP_MONITOR), 0);
}
