// Link-up end to end: the real program in a network namespace of its own, joined by a veth pair to
// the equipment's namespace where lyrlinksim plays the devices, with a real client on the pipes.
#include "client/LinkFormat.h"
#include "e2e/E2eScenario.h"
#include "link/FrameFormat.h"

#include <iostream>

using namespace lyrlink;
using namespace lyrlink::e2e;
using namespace std::chrono_literals;
using client::Status;


TEST (LinkUp, AWiredLinkComesUpAsId17WithTheProtocolsTiming)
{
    LYRLINK_REQUIRE_E2E();
    E2eScenario s ("wired");
    ASSERT_EQ (s.problem(), "");
    // A route to the link-local network through a gateway that is not link-local: link-up removes it.
    ASSERT_EQ (s.net.ipInManager ("route add 169.254.0.0/16 via 10.50.0.254 dev lyrm0"), 0);

    ASSERT_TRUE (s.startSimulator ({ "id=1,type=1,ip=10.50.0.11" }));
    const int run = s.waitForLinkState (STATE_RUN, 17, kLinkUpTimeout);
    ASSERT_GE (run, 0) << s.describe();

    // The client heard STATE_DISCOVERY first, then STATE_RUN with id 17 and the manager counting itself.
    const auto received = s.client->received();
    const int discovery = s.waitForLinkState (STATE_DISCOVERY, 17, 0ms);
    ASSERT_GE (discovery, 0) << s.describe();
    EXPECT_LT (discovery, run);
    for (int i = 0; i < run; ++i)
        EXPECT_FALSE (received[(size_t) i].isLinkStatusChanged (STATE_RUN));
    const auto status = received[(size_t) run].linkStatus();
    EXPECT_EQ (ipText (status.ip), "10.50.0.1");
    EXPECT_EQ (ipText (status.netmask), "255.255.255.0");
    EXPECT_EQ (status.linkif, LINKIF_WIRED);
    EXPECT_EQ (status.idClaimed, 1);
    EXPECT_EQ (status.devcount, 1);

    // The wire, as the equipment saw it: three DiscoveryRequests 100 ms apart, the six candidates
    // requested six times over, then the first ConfigNotify 3.9 s after the device's first one.
    const std::string mgr = "10.50.0.1";
    ASSERT_GE (s.sim->waitForReceived ("ConfigNotify", mgr, kStepTimeout), 0) << s.describe();
    const auto discoveries = s.sim->received ("DiscoveryRequest", mgr);
    ASSERT_EQ (discoveries.size(), 3u) << s.describe();
    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ (discoveries[i].number ("req"), (long long) i + 1);
        EXPECT_EQ (discoveries[i].number ("devtype"), 4);
        EXPECT_EQ (discoveries[i].get ("dst"), "10.50.0.255");
        EXPECT_EQ (discoveries[i].get ("model"), "velantrix");
    }
    // The discovery timer is started on the receive thread, at any phase of JUCE's timer thread;
    // its first tick must still come a whole period later, like the ticks started from a tick.
    const auto firstGap = discoveries[1].number ("t") - discoveries[0].number ("t");
    const auto secondGap = discoveries[2].number ("t") - discoveries[1].number ("t");
    std::cout << "[ figure ] DiscoveryRequests " << firstGap << " ms and " << secondGap << " ms apart\n";
    EXPECT_NEAR (firstGap, 100, 60);
    EXPECT_NEAR (secondGap, 100, 60);
    const auto requests = s.sim->received ("IdUseRequest", mgr);
    ASSERT_EQ (requests.size(), 36u) << s.describe();
    const int rotation[] = { 17, 18, 41, 42, 43, 44 };
    for (size_t i = 0; i < requests.size(); ++i)
    {
        EXPECT_EQ (requests[i].number ("id"), rotation[i % 6]) << "request " << i;
        EXPECT_EQ (requests[i].number ("req"), (long long) (i / 6) + 1) << "request " << i;
        EXPECT_EQ (requests[i].get ("ip"), mgr);
    }
    EXPECT_NEAR (requests.front().number ("t") - discoveries[2].number ("t"), 100, 60);

    const auto lines = s.sim->lines();
    const auto firstDeviceConfig = std::find_if (lines.begin(), lines.end(), [] (const SimLine& l) { return l.isTx ("ConfigNotify"); });
    ASSERT_NE (firstDeviceConfig, lines.end());
    const auto configs = s.sim->received ("ConfigNotify", mgr);
    const auto linkUpMs = configs.front().number ("t") - firstDeviceConfig->number ("t");
    std::cout << "[ figure ] first ConfigNotify of the device to the manager's first ConfigNotify: " << linkUpMs << " ms\n";
    EXPECT_GE (linkUpMs, 3750);
    EXPECT_LE (linkUpMs, 4800);
    EXPECT_EQ (configs.front().number ("id"), 17);
    EXPECT_EQ (configs.front().number ("devtype"), 4);
    EXPECT_EQ (configs.front().number ("claimed"), 1);
    EXPECT_EQ (configs.front().number ("devcount"), 1);
    EXPECT_EQ (configs.front().number ("cfg17"), 8);
    EXPECT_EQ (configs.front().number ("len"), 54);

    // The device appears in the table and in a DeviceChanged, and the keep-alive runs every 2 s.
    ASSERT_GE (s.client->waitFor ([] (const Received& r) { return r.isDeviceChanged (1, DEVICE_PRESENT); }, kStepTimeout), 0)
        << s.describe();
    PeerTable table {};
    ASSERT_EQ (s.client->getDeviceList (table), Status::ok);
    EXPECT_EQ (table[0].state, DEVICE_PRESENT);
    EXPECT_EQ (table[0].type, 1);
    EXPECT_EQ (ipText (table[0].ip), "10.50.0.11");
    EXPECT_EQ (client::formatMac (table[0].mac), "02:00:0a:32:00:0b");
    for (size_t id = 2; id <= 80; ++id)
        EXPECT_EQ (table[id - 1].state, DEVICE_NEVER_USED) << "id " << id;

    ASSERT_GE (s.sim->waitFor ([&] (const SimLine& l) { return l.isRx ("ConfigNotify") && l.get ("src") == mgr && l.number ("devcount") == 2; },
                               kStepTimeout),
               0);
    ASSERT_TRUE (waitFor ([&] { return s.sim->received ("ConfigNotify", mgr).size() >= 3; }, 10s)) << s.describe();
    const auto keepAlive = s.sim->received ("ConfigNotify", mgr);
    for (size_t i = 1; i < keepAlive.size(); ++i)
    {
        const auto period = keepAlive[i].number ("t") - keepAlive[i - 1].number ("t");
        std::cout << "[ figure ] keep-alive period: " << period << " ms\n";
        EXPECT_NEAR (period, 2000, 150);
    }

    const auto log = s.manager->log();
    for (const char* line : { "MainComponent::readConfigNotify FIRST RCV CONFIG    ",
                              "MainComponent::linkUpFunc macaddr = ", "MainComponent::linkUpFunc LinkUp ip = 10.50.0.1 netmask = 255.255.255.0 networkaddr = 10.50.0.0 IF = 1",
                              "MainComponent::timerFuncDiscoveryResponse TimerEXP DISCOVERY cnt = 3 ",
                              "MainComponent::timerFuncIdResponse Link UP STATE_RUN id = 17 ",
                              "MainComponent::readConfigNotify add id = 1 ip = 10.50.0.11" })
        EXPECT_TRUE (std::any_of (log.begin(), log.end(), [&] (const std::string& l) { return l.rfind (line, 0) == 0; })) << line;

    // The misdirected route is gone; the link's own route stays.
    const auto routes = [&] {
        TempDir t;
        s.net.ipInManager ("route show > " + t.path() + "/routes");
        return readFile (t.path() + "/routes");
    }();
    EXPECT_EQ (routes.find ("169.254.0.0/16"), std::string::npos) << routes;
    EXPECT_NE (routes.find ("10.50.0.0/24 dev lyrm0"), std::string::npos) << routes;
}

TEST (LinkUp, ALinkLocalLinkComesUpAndKeepsItsOwnRoute)
{
    LYRLINK_REQUIRE_E2E();
    E2eScenario s ("linklocal", "169.254.1.1/16", "169.254.2.2/16");
    ASSERT_EQ (s.problem(), "");

    ASSERT_TRUE (s.startSimulator ({ "id=2,type=1,ip=169.254.2.12" }));
    const int run = s.waitForLinkState (STATE_RUN, 17, kLinkUpTimeout);
    ASSERT_GE (run, 0) << s.describe();
    const auto status = s.client->received()[(size_t) run].linkStatus();
    EXPECT_EQ (ipText (status.ip), "169.254.1.1");
    EXPECT_EQ (ipText (status.netmask), "255.255.0.0");
    EXPECT_TRUE (s.manager->hasLog (
        "MainComponent::linkUpFunc LinkUp ip = 169.254.1.1 netmask = 255.255.0.0 networkaddr = 169.254.0.0 IF = 1"))
        << s.describe();

    // Broadcasts go to the link-local network's broadcast address, and the device is added.
    ASSERT_GE (s.sim->waitFor ([] (const SimLine& l) { return l.isRx ("ConfigNotify") && l.get ("src") == "169.254.1.1"; }, kStepTimeout), 0);
    for (const auto& l : s.sim->lines())
        if (l.get ("dir") == "rx" && l.get ("src") == "169.254.1.1")
            EXPECT_EQ (l.get ("dst"), "169.254.255.255") << l.get ("name");
    ASSERT_GE (s.client->waitFor ([] (const Received& r) { return r.isDeviceChanged (2, DEVICE_PRESENT); }, kStepTimeout), 0)
        << s.describe();

    // The route of an interface with a link-local address is not misdirected and stays.
    TempDir t;
    s.net.ipInManager ("route show > " + t.path() + "/routes");
    EXPECT_NE (readFile (t.path() + "/routes").find ("169.254.0.0/16 dev lyrm0"), std::string::npos) << readFile (t.path() + "/routes");
}

TEST (LinkUp, AnIdHeldByAnotherComputerMakesTheManagerTake18)
{
    LYRLINK_REQUIRE_E2E();
    E2eScenario s ("idheld");
    ASSERT_EQ (s.problem(), "");

    // Another computer (device type 4) holds 17 and answers the manager's requests for it.
    ASSERT_TRUE (s.startSimulator ({ "id=1,type=1,ip=10.50.0.11", "id=17,type=4,ip=10.50.0.17" }));
    const int run = s.waitForLinkState (STATE_RUN, 18, kLinkUpTimeout);
    ASSERT_GE (run, 0) << s.describe();
    const auto status = s.client->received()[(size_t) run].linkStatus();
    EXPECT_EQ (status.id, 18);
    EXPECT_EQ (status.inusecnt, 1);
    EXPECT_EQ (getVtConnection (status), 0x01u);
    EXPECT_TRUE (s.manager->hasLog ("MainComponent::timerFuncIdResponse Link UP STATE_RUN id = 18 ")) << s.describe();
    EXPECT_FALSE (s.manager->logStartingWith ("MainComponent::readIdUseResponse state = 5 statuscode = 1 id = 17 ").empty())
        << s.describe();
    EXPECT_FALSE (s.manager->logStartingWith ("MainComponent::readConfigNotify write id = 17 ip = 10.50.0.17 mac = 02:00:0A:32:00:11").empty())
        << s.describe();

    // The simulator answered, and the manager announces itself as 18; the other computer is a peer.
    EXPECT_GE (s.sim->waitFor ([] (const SimLine& l) { return l.isTx ("IdUseResponse") && l.number ("id") == 17; }, 0ms), 0);
    EXPECT_GE (s.sim->waitFor ([] (const SimLine& l) { return l.isRx ("ConfigNotify") && l.get ("src") == "10.50.0.1" && l.number ("id") == 18; },
                              kStepTimeout),
               0)
        << s.describe();
    EXPECT_GE (s.client->waitFor ([] (const Received& r) { return r.isDeviceChanged (17, DEVICE_PRESENT); }, kStepTimeout), 0)
        << s.describe();
}

TEST (LinkUp, AllWiredIdsTakenLeadToTheLongBackOff)
{
    LYRLINK_REQUIRE_E2E();
    E2eScenario s ("idstaken");
    ASSERT_EQ (s.problem(), "");

    ASSERT_TRUE (s.startSimulator ({ "id=1,type=1,ip=10.50.0.11", "id=17,type=4,ip=10.50.0.17", "id=18,type=4,ip=10.50.0.18" }));
    ASSERT_GE (s.waitForLinkState (STATE_DISCOVERY, 17, kLinkUpTimeout), 0) << s.describe();

    // At the end of the rotation both wired ids are in use: the manager waits in STATE_IDWAIT.
    LinkStatus status {};
    ASSERT_TRUE (waitFor ([&] { return s.client->getLinkStatus (status) == Status::ok && status.state == STATE_IDWAIT; }, kLinkUpTimeout))
        << s.describe();
    EXPECT_EQ (status.id, 17);
    EXPECT_EQ (status.inusecnt, 2);
    EXPECT_EQ (getVtConnection (status) & 0x03u, 0x03u);
    EXPECT_EQ (status.idClaimed, 1);

    // It claims nothing and stays silent while it waits.
    const std::string mgr = "10.50.0.1";
    const std::string roundLine = "MainComponent::timerFuncIdResponse TimerEXP IDUSE cnt = ";
    const auto roundsAtWait = s.manager->logStartingWith (roundLine).size();
    const auto requestsAtWait = s.sim->received ("IdUseRequest", mgr).size();
    std::this_thread::sleep_for (2500ms);

    // An IdUseResponse that no device sends is handled in any state, and logged with the state
    // it met. Still waiting when it comes, with no round of requests logged before it: the manager
    // has not left STATE_IDWAIT in between, which is the only way it could have claimed an id.
    ASSERT_TRUE (s.sim->command ("raw hex=" + toHex (makeFrame (FRAME_ID_RESPONSE, 0, { 80, 1, 0 }))));
    const std::string markerLine = "MainComponent::readIdUseResponse state = " + std::to_string (STATE_IDWAIT) + " statuscode = 0 id = 80 ";
    ASSERT_TRUE (waitFor ([&] { return ! s.manager->logStartingWith (markerLine).empty(); }, kStepTimeout)) << s.describe();
    const auto log = s.manager->log();
    const auto marker = std::find_if (log.begin(), log.end(), [&] (const std::string& l) { return l.rfind (markerLine, 0) == 0; });
    EXPECT_EQ ((size_t) std::count_if (log.begin(), marker, [&] (const std::string& l) { return l.rfind (roundLine, 0) == 0; }), roundsAtWait)
        << s.describe();
    EXPECT_EQ (s.sim->received ("IdUseRequest", mgr).size(), requestsAtWait);
    EXPECT_TRUE (s.sim->received ("ConfigNotify", mgr).empty());
    EXPECT_TRUE (s.manager->logStartingWith ("MainComponent::timerFuncIdResponse Link UP").empty()) << s.describe();
    EXPECT_LT (s.waitForLinkState (STATE_RUN, 0, 0ms), 0);
    ASSERT_EQ (s.client->getLinkStatus (status), Status::ok);
    EXPECT_EQ (status.state, STATE_IDWAIT);
}
