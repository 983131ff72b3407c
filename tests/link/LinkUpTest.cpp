// The link state machine walked through whole scenarios in virtual time: link-up, the ID-use
// rotation, completion, the back-offs, duplication, the defence of the own id, reject and reset.
#include "link/LinkScenario.h"

#include <ctime>

using namespace lyrlink;
using namespace lyrlink::test;

namespace
{
std::vector<uint8_t> discoveryRequestBody (uint8_t number, const std::array<uint8_t, 6>& mac)
{
    return concat ({ { number, 4 }, octetsOf (mac) });
}

std::vector<uint8_t> idUseRequestBody (Ipv4 ip, const std::array<uint8_t, 6>& mac, uint8_t id, uint8_t number)
{
    return concat ({ octetsOf (ip), octetsOf (mac), { id, number, 4, 1 } });
}

std::vector<uint8_t> configNotifyBody (uint8_t id, Ipv4 ip, const std::array<uint8_t, 6>& mac, uint8_t devcount)
{
    // Bytes 13 to 15 are what the preceding IdUseRequest left in the send buffer.
    return concat ({ { id, 1 }, octetsOf (mac), octetsOf (ip), { devcount, 1, 0, 0, 4, 8 } });
}

/** Requested id and request number of every IdUseRequest, with its time. */
struct IdRequest
{
    int64_t atMs;
    int id;
    int number;
    bool operator== (const IdRequest& o) const { return atMs == o.atMs && id == o.id && number == o.number; }
};

std::ostream& operator<< (std::ostream& os, const IdRequest& r)
{
    return os << "{" << r.atMs << " ms, id " << r.id << ", #" << r.number << "}";
}

std::vector<IdRequest> idRequests (const std::vector<SentDatagram>& sent)
{
    std::vector<IdRequest> r;
    for (auto& d : sent)
        if (d.bytes.size() >= 50 && d.bytes[10] == FRAME_ID_USE && d.bytes[11] == 0)
            r.push_back ({ d.atMs, d.bytes[46], d.bytes[47] });
    return r;
}

/** The rotation 17, 18, 41 .. 44 six times from firstAtMs, one request per period. */
std::vector<IdRequest> fullRotation (int64_t firstAtMs, int periodMs, uint32_t inUseMask = 0)
{
    std::vector<IdRequest> r;
    for (int n = 0; n < 36; ++n)
    {
        const int id = kCandidateIds[static_cast<size_t> (n % 6)];
        if ((inUseMask & (1u << (n % 6))) == 0)
            r.push_back ({ firstAtMs + n * periodMs, id, n / 6 + 1 });
    }
    return r;
}

class LinkUp : public LinkScenario
{
};
} // namespace

//==============================================================================
TEST_F (LinkUp, WiredLinkUpClaimsId17At3900Ms)
{
    addWiredInterface();
    connectClient();
    h.clearPipeMessages();
    const auto player = wiredPlayer();

    send (player);

    EXPECT_EQ (h.logTexts(), (std::vector<std::string> {
                                 "MainComponent::readConfigNotify FIRST RCV CONFIG    ",
                                 "MainComponent::linkUpFunc macaddr = 00:11:22:33:44:55",
                                 "MainComponent::linkUpFunc LinkUp ip = 192.168.1.20 netmask = 255.255.255.0 "
                                 "networkaddr = 192.168.1.0 IF = 1",
                             }));
    ASSERT_EQ (status().state, STATE_DISCOVERY);
    EXPECT_EQ (status().linkif, LINKIF_WIRED);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_DISCOVERY), 100);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_NET_MONITOR), 1000);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_APP_MONITOR), 30000);
    EXPECT_EQ (h.mc->getNetGraceCount(), 1);
    EXPECT_EQ (h.mc->getLinkTimings().idPeriodMs, 100);

    auto notes = h.notifications();
    ASSERT_EQ (notes.size(), 1u);
    EXPECT_EQ (notes[0].pipe, kClientPipe);
    EXPECT_EQ (notes[0].msg.kind, KIND_LINK_STATUS_CHANGED);
    EXPECT_EQ (notes[0].msg.id, 17);
    EXPECT_EQ (notes[0].linkStatus().state, STATE_DISCOVERY);

    h.scheduler.advance (3899);
    EXPECT_EQ (status().state, STATE_IDUSE);
    h.scheduler.advance (1);
    const auto s = status();
    EXPECT_EQ (s.state, STATE_RUN);
    EXPECT_EQ (s.id, 17);
    EXPECT_EQ (s.devcount, 1);
    EXPECT_EQ (s.idClaimed, 1);
    EXPECT_EQ (s.inusecnt, 0);
    EXPECT_EQ (s.idcnt, 0);

    // Three DiscoveryRequests 100 ms apart, numbered 1 to 3, to the subnet's broadcast address.
    const auto discovery = sentOfType (FRAME_DISCOVERY_REQUEST);
    ASSERT_EQ (discovery.size(), 3u);
    for (uint8_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ (discovery[i].atMs, 100 * i);
        EXPECT_TRUE (discovery[i].broadcast);
        EXPECT_EQ (discovery[i].destination, kWiredBroadcast);
        EXPECT_EQ (discovery[i].port, kEquipmentPort);
        EXPECT_EQ (hex (discovery[i].bytes), hex (ownFrame (0, 0, discoveryRequestBody (i + 1, kWiredMac))));
    }

    // The rotation six times over from 300 ms, the request number counting the rotations.
    const auto requests = sentOfType (FRAME_ID_USE);
    ASSERT_EQ (requests.size(), 36u);
    EXPECT_EQ (idRequests (requests), fullRotation (300, 100));
    EXPECT_EQ (hex (requests.front().bytes), hex (ownFrame (2, 0, idUseRequestBody (kWiredIp, kWiredMac, 17, 1))));
    EXPECT_EQ (requests.front().destination, kWiredBroadcast);

    const auto config = sentOfType (FRAME_CONFIG_NOTIFY);
    ASSERT_EQ (config.size(), 1u);
    EXPECT_EQ (config[0].atMs, 3900);
    EXPECT_EQ (hex (config[0].bytes), hex (ownFrame (6, 0, configNotifyBody (17, kWiredIp, kWiredMac, 1))));

    // The log, tick by tick.
    std::vector<std::string> ticks;
    for (auto& t : h.logTexts())
        if (t.find ("TimerEXP") != std::string::npos)
            ticks.push_back (t);
    ASSERT_EQ (ticks.size(), 3u + 36u);
    EXPECT_EQ (ticks[0], "MainComponent::timerFuncDiscoveryResponse TimerEXP DISCOVERY cnt = 1 ");
    EXPECT_EQ (ticks[2], "MainComponent::timerFuncDiscoveryResponse TimerEXP DISCOVERY cnt = 3 ");
    EXPECT_EQ (ticks[3], "MainComponent::timerFuncIdResponse TimerEXP IDUSE cnt = 0 reqid = 17 connection = 00");
    EXPECT_EQ (ticks[8], "MainComponent::timerFuncIdResponse TimerEXP IDUSE cnt = 1 reqid = 44 connection = 00");
    EXPECT_EQ (ticks[38], "MainComponent::timerFuncIdResponse TimerEXP IDUSE cnt = 6 reqid = 44 connection = 00");
    EXPECT_EQ (h.log().back().text, "MainComponent::timerFuncIdResponse Link UP STATE_RUN id = 17 ");
    EXPECT_EQ (h.log().back().atMs, 3900);

    notes = h.notifications();
    ASSERT_EQ (notes.size(), 2u);
    EXPECT_EQ (notes[1].msg.kind, KIND_LINK_STATUS_CHANGED);
    EXPECT_EQ (notes[1].msg.id, 17);
    EXPECT_EQ (notes[1].linkStatus().state, STATE_RUN);
    EXPECT_EQ (notes[1].linkStatus().devcount, 1);

    // From now on a ConfigNotify every 2000 ms; the ID and discovery timers are done.
    EXPECT_EQ (h.scheduler.periodOf (TIMER_KEEP_ALIVE), 2000);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_ID), 0);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_DISCOVERY), 0);
    h.scheduler.advance (4000);
    const auto keepAlive = sentOfType (FRAME_CONFIG_NOTIFY);
    ASSERT_EQ (keepAlive.size(), 3u);
    EXPECT_EQ (keepAlive[1].atMs, 5900);
    EXPECT_EQ (keepAlive[2].atMs, 7900);
    EXPECT_EQ (keepAlive[2].bytes, config[0].bytes);
    expectDevcountInvariant();
}

TEST_F (LinkUp, WirelessLinkUpClaims41WithSlowerRotationAndLongAging)
{
    addWirelessInterface();
    connectClient();
    const auto player = wirelessPlayer();
    send (player);

    EXPECT_EQ (h.logTexts(), (std::vector<std::string> {
                                 "MainComponent::readConfigNotify FIRST RCV CONFIG    ",
                                 "MainComponent::linkUpFunc macaddr = 00:11:22:33:44:66",
                                 "MainComponent::linkUpFunc LinkUp ip = 10.1.0.20 netmask = 255.255.0.0 "
                                 "networkaddr = 10.1.0.0 IF = 0",
                                 "MainComponent::linkUpFunc OK get ssid = booth bssid = 02.aa.bb.cc.dd.ee",
                                 "MainComponent::linkUpFunc OK bssid = 02.aa.bb.cc.dd.ee",
                             }));
    const auto atLinkUp = status();
    EXPECT_EQ (atLinkUp.linkif, LINKIF_WIRELESS);
    EXPECT_EQ (std::vector<uint8_t> (atLinkUp.bssid, atLinkUp.bssid + 6), octetsOf (kBssid));
    EXPECT_EQ (h.mc->getLinkTimings().idPeriodMs, 200);
    EXPECT_EQ (h.mc->getLinkTimings().defaultId, 41);
    EXPECT_EQ (h.mc->getNetGraceCount(), 20);
    // Link-up announces the wireless default id.
    ASSERT_FALSE (h.notifications().empty());
    EXPECT_EQ (h.notifications().back().msg.id, 41);

    h.scheduler.advance (7499);
    EXPECT_EQ (status().state, STATE_IDUSE);
    h.scheduler.advance (1);
    EXPECT_EQ (status().state, STATE_RUN);
    EXPECT_EQ (status().id, 41);

    // All six candidates are requested, starting with 17, every 200 ms.
    EXPECT_EQ (idRequests (sentOfType (FRAME_ID_USE)), fullRotation (300, 200));
    EXPECT_EQ (sentOfType (FRAME_ID_USE).front().destination, kWirelessBroadcast);
    const auto tail = h.logTexts();
    ASSERT_GE (tail.size(), 2u);
    EXPECT_EQ (tail[tail.size() - 2], "MainComponent::timerFuncIdResponse OK get ssid = booth");
    EXPECT_EQ (tail.back(), "MainComponent::timerFuncIdResponse Link UP STATE_RUN id = 41 ");

    // A device on a wireless link ages out after 180 s.
    clearRecords();
    send (player);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_AGING_FIRST + 2), 180000);
    h.scheduler.advance (179999);
    EXPECT_EQ (h.mc->getDeviceEntry (3).state, DEVICE_PRESENT);
    h.scheduler.advance (1);
    EXPECT_EQ (h.mc->getDeviceEntry (3).state, DEVICE_REMOVED);
    EXPECT_TRUE (h.logged ("MainComponent::timerFuncAging TIMEREXP Aging delid = 3 ip = 10.1.0.3"));
    expectDevcountInvariant();
}

//==============================================================================
// Ids in use and the back-offs

TEST_F (LinkUp, WiredIdsInUseLeadToLongBackOffThenRequestsEvery300Ms)
{
    addWiredInterface();
    connectClient();
    const auto player = wiredPlayer();
    send (player);
    h.scheduler.advance (450);  // IDUSE since 300 ms

    receive (player, FrameBuilder::idUseResponse (17, 1));
    receive (player, FrameBuilder::idUseResponse (18, 1));
    EXPECT_EQ (linesOf ("MainComponent::readIdUseResponse"),
               (std::vector<std::string> {
                   "MainComponent::readIdUseResponse state = 5 statuscode = 1 id = 17 vtconnection = 00",
                   "MainComponent::readIdUseResponse state = 5 statuscode = 1 id = 18 vtconnection = 01",
               }));
    EXPECT_EQ (getVtConnection (status()), 0x03u);

    h.clearSent();
    h.scheduler.advance (3900 - 450);
    auto s = status();
    EXPECT_EQ (s.state, STATE_IDWAIT);
    EXPECT_EQ (s.id, 17);
    EXPECT_EQ (s.inusecnt, 2);
    EXPECT_EQ (s.idClaimed, 1);
    EXPECT_EQ (s.devcount, 0);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_ID_RESTART_LONG), 30000);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_ID), 0);
    EXPECT_TRUE (sentOfType (FRAME_CONFIG_NOTIFY).empty());
    // Ids marked in use are no longer requested.
    for (auto& r : idRequests (h.sent()))
        EXPECT_TRUE (r.id != 17 && r.id != 18) << r;
    expectDevcountInvariant();

    // 30 s later the phase starts again with a cleared mask and a 300 ms period.
    h.clearSent();
    h.scheduler.advance (29999);
    EXPECT_TRUE (h.sent().empty());
    h.scheduler.advance (1);
    EXPECT_EQ (status().state, STATE_IDUSE);
    EXPECT_EQ (getVtConnection (status()), 0u);
    EXPECT_EQ (h.mc->getLinkTimings().idPeriodMs, 300);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_ID), 300);
    h.scheduler.advance (600);
    EXPECT_EQ (idRequests (h.sent()), (std::vector<IdRequest> { { 33900, 44, 1 }, { 34200, 17, 1 }, { 34500, 18, 1 } }));

    // Nobody answers this time: 17 is claimed after 36 ticks of 300 ms.
    h.scheduler.advance (36 * 300);
    EXPECT_EQ (status().state, STATE_RUN);
    EXPECT_EQ (status().id, 17);
}

TEST_F (LinkUp, WirelessWith41And42InUseClaims43)
{
    addWirelessInterface();
    connectClient();
    send (wirelessPlayer());
    h.scheduler.advance (400);

    // One device answers an IdUseRequest, another shows its id in a ConfigNotify.
    const Device computer41 { 41, 4, makeIpv4 (10, 1, 0, 41), { 0xBB, 0, 0, 0, 0, 41 } };
    const Device computer42 { 42, 4, makeIpv4 (10, 1, 0, 42), { 0xBB, 0, 0, 0, 0, 42 } };
    receive (computer41, FrameBuilder::idUseResponse (41, 1));
    send (computer42);
    EXPECT_TRUE (h.logged ("MainComponent::readConfigNotify write id = 42 ip = 10.1.0.42 mac = BB:00:00:00:00:2A"));
    EXPECT_EQ (getVtConnection (status()), 0x0Cu);
    // ConfigNotify in STATE_IDUSE writes no record.
    EXPECT_EQ (h.mc->getDeviceEntry (42).state, DEVICE_NEVER_USED);

    h.scheduler.advance (7500);
    EXPECT_EQ (status().state, STATE_RUN);
    EXPECT_EQ (status().id, 43);
    EXPECT_EQ (status().inusecnt, 2);
}

TEST_F (LinkUp, AllInOneLinkBacksOffWhenFourCandidatesAreInUse)
{
    addWirelessInterface();
    connectClient();
    // An all-in-one unit whose own access point this computer is connected to.
    const Device unit { 9, 7, makeIpv4 (10, 1, 0, 9), kBssid, "WMR-900" };
    send (unit);
    EXPECT_TRUE (h.logged ("MainComponent::readConfigNotify Connected WMR AP network"));
    EXPECT_EQ (status().apmode, 1);
    EXPECT_EQ (status().apconnected, 1);
    // Link-up's LinkStatusChanged comes first, then ApDeviceLinkUp.
    EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_LINK_STATUS_CHANGED, 41 },
                                                                          { KIND_AP_DEVICE_LINK_UP, 41 } }));
    EXPECT_EQ (h.notifications().back().linkStatus().apmode, 1);

    h.scheduler.advance (400);
    for (uint8_t id : { 17, 18, 41, 42 })
        receive (unit, FrameBuilder::idUseResponse (id, 1));
    h.scheduler.advance (7500);

    const auto s = status();
    EXPECT_EQ (s.state, STATE_IDWAIT);
    EXPECT_EQ (s.inusecnt, 4);
    EXPECT_EQ (s.id, 41);
    EXPECT_EQ (s.reqid, 44);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_ID_RESTART_LONG), 30000);
}

TEST_F (LinkUp, WirelessWithAllFourWirelessIdsTakenBacksOffOnTheDefaultId)
{
    addWirelessInterface();
    connectClient();
    const auto player = wirelessPlayer();
    send (player);
    h.scheduler.advance (400);
    for (uint8_t id : { 41, 42, 43, 44 })
        receive (player, FrameBuilder::idUseResponse (id, 1));
    h.scheduler.advance (7500);

    EXPECT_EQ (status().state, STATE_IDWAIT);
    EXPECT_EQ (status().id, 41);
    EXPECT_EQ (status().reqid, 41);

    // The long back-off asks for the default id first.
    h.clearSent();
    h.scheduler.advance (30000);
    ASSERT_FALSE (idRequests (h.sent()).empty());
    EXPECT_EQ (idRequests (h.sent()).front().id, 41);
}

TEST_F (LinkUp, IdUseResponsesOutsideTheIdUsePhaseOrCandidatesMarkNothing)
{
    const auto player = wiredPlayer();
    bringUpWired (player);
    receive (player, FrameBuilder::idUseResponse (18, 1));
    EXPECT_TRUE (h.logged ("MainComponent::readIdUseResponse state = 8 statuscode = 1 id = 18 vtconnection = 00"));
    EXPECT_EQ (getVtConnection (status()), 0u);
}

TEST_F (LinkUp, IdUseResponsesDuringThePhase)
{
    addWiredInterface();
    connectClient();
    const auto player = wiredPlayer();
    send (player);
    h.scheduler.advance (400);

    struct Case
    {
        uint8_t id;
        uint8_t status;
        uint32_t maskAfter;
    };
    for (const Case& c : { Case { 45, 1, 0 }, Case { 3, 1, 0 }, Case { 43, 0, 0 }, Case { 43, 2, 0 }, Case { 43, 1, 0x10 },
                           Case { 17, 1, 0x11 } })
    {
        receive (player, FrameBuilder::idUseResponse (c.id, c.status));
        EXPECT_EQ (getVtConnection (status()), c.maskAfter) << "id " << int (c.id) << " status " << int (c.status);
    }
}

//==============================================================================
// Duplication and defence

TEST_F (LinkUp, TimeServerRequestWithTheOwnIdForcesANewNegotiation)
{
    const auto player = wiredPlayer();
    bringUpWired (player);
    send (player);
    ASSERT_EQ (status().devcount, 2);
    h.clearPipeMessages();

    receive (player, FrameBuilder::simple (FRAME_TIME_SERVER_REQUEST, 0, 1, 17));

    EXPECT_TRUE (h.logged ("MainComponent::readTimeServerRequest ID duplication id = 17"));
    const auto s = status();
    EXPECT_EQ (s.state, STATE_IDWAIT);
    EXPECT_EQ (s.id, 17);
    EXPECT_EQ (s.devcount, 0);
    EXPECT_EQ (h.mc->getDeviceEntry (3).state, DEVICE_REMOVED);
    // The peers go first, then the link with the duplicated id.
    const auto notes = h.notifications();
    ASSERT_EQ (notes.size(), 2u);
    EXPECT_EQ (notes[0].msg.kind, KIND_DEVICE_CHANGED);
    EXPECT_EQ (notes[0].msg.id, 3);
    EXPECT_EQ (notes[0].device().state, DEVICE_REMOVED);
    EXPECT_EQ (notes[1].msg.kind, KIND_LINK_STATUS_CHANGED);
    EXPECT_EQ (notes[1].msg.id, 17);
    EXPECT_EQ (notes[1].linkStatus().state, STATE_IDWAIT);
    // No Disconnect for a TimeServerRequest; the keep-alive stops sending.
    EXPECT_TRUE (sentOfType (FRAME_DISCONNECT).empty());
    EXPECT_EQ (h.scheduler.periodOf (TIMER_KEEP_ALIVE), 0);
    expectDevcountInvariant();

    // After 0 to 300 ms the negotiation starts again, keeping the mask.
    const int delay = h.scheduler.periodOf (TIMER_ID_RESTART);
    ASSERT_GT (delay, 0);
    EXPECT_LE (delay, 300);
    const auto due = h.scheduler.dueOf (TIMER_ID_RESTART);
    h.clearSent();
    h.scheduler.advance (due - h.scheduler.now());
    EXPECT_EQ (status().state, STATE_IDUSE);
    EXPECT_EQ (idRequests (h.sent()), (std::vector<IdRequest> { { due, 44, 1 } }));
    EXPECT_EQ (h.scheduler.periodOf (TIMER_ID), 100);

    // The rotation starts after 44, so the phase takes one tick more than at link-up.
    h.scheduler.advance (3600);
    EXPECT_EQ (status().state, STATE_IDUSE);
    h.scheduler.advance (100);
    EXPECT_EQ (status().state, STATE_RUN);
    EXPECT_EQ (status().devcount, 1);
    expectDevcountInvariant();
}

TEST_F (LinkUp, ConfigNotifyWithTheOwnIdAlsoBroadcastsADisconnect)
{
    bringUpWired();
    const auto other = wiredPlayer (5);
    send (other);
    h.clearPipeMessages();

    const Device intruder { 17, 4, makeIpv4 (192, 168, 1, 77), { 0xCC, 0, 0, 0, 0, 17 } };
    send (intruder);

    EXPECT_TRUE (h.logged ("MainComponent::readConfigNotify ID duplication id = 17 ip = 192.168.1.77"));
    const auto disconnect = sentOfType (FRAME_DISCONNECT);
    ASSERT_EQ (disconnect.size(), 1u);
    EXPECT_EQ (hex (disconnect[0].bytes), hex (ownFrame (8, 0, concat ({ { 17 }, octetsOf (kWiredIp) }))));
    EXPECT_EQ (disconnect[0].destination, kWiredBroadcast);
    EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_DEVICE_CHANGED, 5 },
                                                                          { KIND_LINK_STATUS_CHANGED, 17 } }));
    EXPECT_EQ (status().state, STATE_IDWAIT);
    // The intruder is not written into the table.
    EXPECT_EQ (h.mc->getDeviceEntry (17).state, DEVICE_NEVER_USED);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_AGING_FIRST + 16), 0);
    expectDevcountInvariant();
}

TEST_F (LinkUp, TheOwnIdIsDefendedOnlyInStateRun)
{
    addWiredInterface();
    connectClient();
    const auto player = wiredPlayer();
    send (player);
    h.scheduler.advance (400);
    const Ipv4 replyTo = makeIpv4 (192, 168, 1, 99);

    // During negotiation the manager answers nobody.
    h.clearSent();
    receive (player, FrameBuilder::idUseRequest (17, 5, replyTo));
    receive (player, FrameBuilder::idUseRequestFromBlk (replyTo, 0x01, 0, 9));
    EXPECT_TRUE (sentOfType (FRAME_ID_RESPONSE).empty());

    h.scheduler.advance (3500);
    ASSERT_EQ (status().state, STATE_RUN);

    const auto byHand = [] (uint8_t subType, const std::vector<uint8_t>& body) {
        auto f = FrameBuilder::header (FRAME_ID_USE, subType, kFrameHeaderSize + body.size());
        std::copy (body.begin(), body.end(), f.begin() + kFrameHeaderSize);
        return f;
    };
    struct Case
    {
        const char* what;
        std::vector<uint8_t> frame;
        std::vector<uint8_t> answerBody;  // empty: no answer
    };
    const std::vector<Case> cases {
        { "IdUseRequest for 17", FrameBuilder::idUseRequest (17, 5, replyTo), { 17, 5, 1 } },
        { "IdUseRequest for 18", FrameBuilder::idUseRequest (18, 5, replyTo), {} },
        { "FromBlk wired bit 0", FrameBuilder::idUseRequestFromBlk (replyTo, 0x01, 0, 9), { 17, 9, 1 } },
        { "FromBlk wired bits 0 and 1", FrameBuilder::idUseRequestFromBlk (replyTo, 0x03, 0, 7), { 17, 7, 1 } },
        { "FromBlk wired bit 1", FrameBuilder::idUseRequestFromBlk (replyTo, 0x02, 0, 9), {} },
        { "FromBlk wireless bit 0 on a wired link", FrameBuilder::idUseRequestFromBlk (replyTo, 0, 0x01, 9), {} },
        { "IdSetRequest for 17", [&] { auto f = FrameBuilder::idUseRequest (17, 5, replyTo); f[11] = 1; return f; }(), {} },
        // The same requests with their bodies written out byte by byte, independent of the layout
        // that the frame builders and the readers share.
        { "IdUseRequest by hand", byHand (0, concat ({ octetsOf (replyTo), std::vector<uint8_t> (6, 0xEE), { 17, 6, 1, 1 } })),
          { 17, 6, 1 } },
        { "FromBlk by hand",
          byHand (2, concat ({ octetsOf (replyTo), std::vector<uint8_t> (8, 0xEE), { 0x01, 0xEE, 0xEE, 0x00 },
                               std::vector<uint8_t> (15, 0xEE), { 0x2A } })),
          { 17, 0x2A, 1 } },
    };
    for (const auto& c : cases)
    {
        h.clearSent();
        receive (player, c.frame);
        const auto answers = sentOfType (FRAME_ID_RESPONSE);
        if (c.answerBody.empty())
        {
            EXPECT_TRUE (answers.empty()) << c.what;
            continue;
        }
        ASSERT_EQ (answers.size(), 1u) << c.what;
        EXPECT_FALSE (answers[0].broadcast) << c.what;
        // To the address in the request, not to the datagram's source.
        EXPECT_EQ (answers[0].destination, replyTo) << c.what;
        EXPECT_EQ (answers[0].port, kEquipmentPort);
        EXPECT_EQ (hex (answers[0].bytes), hex (ownFrame (3, 0, c.answerBody))) << c.what;
    }
    EXPECT_EQ (status().state, STATE_RUN);
}

TEST_F (LinkUp, WirelessOwnIdIsDefendedThroughTheWirelessMask)
{
    bringUpWireless();
    const auto player = wirelessPlayer();
    const Ipv4 replyTo = makeIpv4 (10, 1, 0, 99);
    for (auto [wired, wireless, answered] : { std::tuple<uint8_t, uint8_t, bool> { 0, 0x01, true },
                                              { 0, 0x02, false },
                                              { 0x01, 0, false },
                                              { 0xFF, 0x01, true } })
    {
        h.clearSent();
        receive (player, FrameBuilder::idUseRequestFromBlk (replyTo, wired, wireless, 4));
        EXPECT_EQ (sentOfType (FRAME_ID_RESPONSE).size(), answered ? 1u : 0u)
            << "wired " << int (wired) << " wireless " << int (wireless);
    }
}

//==============================================================================
// Reject and reset

TEST_F (LinkUp, RejectIsStickyUntilRestart)
{
    addWiredInterface();
    connectClient();
    const auto player = wiredPlayer();
    send (player);
    h.scheduler.advance (500);
    ASSERT_EQ (status().state, STATE_IDUSE);
    clearRecords();

    receive (player, FrameBuilder::simple (FRAME_REJECT, 0, 0));

    EXPECT_EQ (h.logTexts(), (std::vector<std::string> { "MainComponent::readReject DKP AND WMR EXIST " }));
    const auto disconnect = sentOfType (FRAME_DISCONNECT);
    ASSERT_EQ (disconnect.size(), 1u);
    EXPECT_EQ (hex (disconnect[0].bytes), hex (ownFrame (8, 0, concat ({ { 17 }, octetsOf (kWiredIp) }))));
    EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_LINK_STATUS_CHANGED, 17 },
                                                                          { KIND_LINK_REJECTED, 17 } }));
    EXPECT_TRUE (h.mc->isRejected());

    // The link status is cleared to the defaults, linkif 0 included.
    auto s = status();
    EXPECT_EQ (s.state, STATE_IDLE);
    EXPECT_EQ (s.id, 17);
    EXPECT_EQ (s.type, 4);
    EXPECT_EQ (s.linkif, 0);
    EXPECT_EQ (s.reqid, 0);
    EXPECT_EQ (s.devcount, 0);

    // Every later ConfigNotify ends at the reject.
    h.clearLog();
    h.clearSent();
    send (player);
    EXPECT_TRUE (h.logged ("MainComponent::linkUpFunc NG Rejected"));
    h.scheduler.advance (10000);
    EXPECT_EQ (status().state, STATE_IDLE);
    EXPECT_TRUE (sentOfType (FRAME_DISCOVERY_REQUEST).empty());
    EXPECT_TRUE (sentOfType (FRAME_CONFIG_NOTIFY).empty());
    expectDevcountInvariant();

    // linkif 0: the wireless block rule now applies to every frame.
    h.clearLog();
    Device old = player;
    old.model = "DKP-410";
    old.minorver = 0;
    send (old);
    EXPECT_EQ (h.logTexts(), (std::vector<std::string> { "MainComponent::frameRead NG DKP-5100 DKP-410 BLOCK linkif = 0 "
                                                          "frmHeader->minorver = 0 model = DKP-410" }));
}

TEST_F (LinkUp, RejectInStateRunRemovesThePeers)
{
    const auto player = wiredPlayer();
    bringUpWired (player);
    send (player);
    h.clearPipeMessages();
    receive (player, FrameBuilder::simple (FRAME_REJECT, 0, 0));
    EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_DEVICE_CHANGED, 3 },
                                                                          { KIND_LINK_STATUS_CHANGED, 17 },
                                                                          { KIND_LINK_REJECTED, 17 } }));
    // The notifications still show the link as it was when the reject came.
    EXPECT_EQ (h.notifications()[1].linkStatus().state, STATE_RUN);
    expectDevcountInvariant();
}

TEST_F (LinkUp, ResetNotifyTakesTheLinkDownAndTheNextConfigNotifyBringsItUp)
{
    const auto player = wiredPlayer();
    bringUpWired (player);
    send (player);
    send (wiredPlayer (2));
    h.clearPipeMessages();
    h.clearLog();

    receive (player, FrameBuilder::simple (FRAME_RESET_NOTIFY, 0, 0));

    EXPECT_TRUE (h.logTexts().empty());
    EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_DEVICE_CHANGED, 2 },
                                                                          { KIND_DEVICE_CHANGED, 3 },
                                                                          { KIND_LINK_STATUS_CHANGED, 17 } }));
    EXPECT_EQ (h.notifications().back().linkStatus().state, STATE_IDLE);
    EXPECT_EQ (h.notifications().back().linkStatus().devcount, 1);  // only the manager left
    // Every link timer stopped, the network monitor included; the client application monitor
    // keeps watching, from now on. The table is back to never used.
    EXPECT_EQ (h.scheduler.running(), (std::map<uint32_t, int> { { TIMER_APP_MONITOR, 30000 } }));
    EXPECT_EQ (h.scheduler.dueOf (TIMER_APP_MONITOR), h.scheduler.now() + 30000);
    EXPECT_EQ (h.mc->getDeviceEntry (3).state, DEVICE_NEVER_USED);
    const auto s = status();
    EXPECT_EQ (s.state, STATE_IDLE);
    EXPECT_EQ (s.linkif, LINKIF_UNKNOWN);
    EXPECT_EQ (s.idClaimed, 0);
    EXPECT_EQ (s.devcount, 0);
    EXPECT_FALSE (h.mc->isRejected());

    // A second reset in STATE_IDLE does nothing.
    h.clearPipeMessages();
    receive (player, FrameBuilder::simple (FRAME_RESET_NOTIFY, 0, 0));
    EXPECT_TRUE (h.notifications().empty());

    // The next ConfigNotify starts over.
    clearRecords();
    send (player);
    EXPECT_EQ (status().state, STATE_DISCOVERY);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_NET_MONITOR), 1000);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_APP_MONITOR), 30000);
    h.scheduler.advance (3900);
    EXPECT_EQ (status().state, STATE_RUN);
    const auto discovery = sentOfType (FRAME_DISCOVERY_REQUEST);
    ASSERT_EQ (discovery.size(), 3u);
    EXPECT_EQ (discovery[0].bytes[36], 1);  // numbering starts again
}

TEST_F (LinkUp, ResetNotifyInStateRunSendsNoDisconnectAndReportsApconnectedAsItWas)
{
    // Unlike a client's suspend, a reset from the network says nothing back; unlike the network
    // monitor's link-down, it leaves apconnected in the status the clients are told.
    addWirelessInterface();
    connectClient();
    const Device unit { 9, 7, makeIpv4 (10, 1, 0, 9), kBssid, "WMR-900" };
    send (unit);
    h.scheduler.advance (7500);
    ASSERT_EQ (status().state, STATE_RUN);
    ASSERT_EQ (status().apconnected, 1);
    h.clearSent();
    h.clearPipeMessages();

    receive (unit, FrameBuilder::simple (FRAME_RESET_NOTIFY, 0, 0));

    EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_LINK_STATUS_CHANGED, 41 } }));
    EXPECT_EQ (h.notifications().back().linkStatus().state, STATE_IDLE);
    EXPECT_EQ (h.notifications().back().linkStatus().apconnected, 1);
    EXPECT_EQ (status().apconnected, 0);  // the link reset clears it afterwards
    EXPECT_TRUE (h.sent().empty());
}

//==============================================================================
// Refused link-ups

TEST_F (LinkUp, LinkUpIsRefusedWithoutLinkPermit)
{
    addWiredInterface();
    h.request (0, KIND_PROCESS_CONNECT, kClientPid);
    send (wiredPlayer());
    EXPECT_TRUE (h.logged ("MainComponent::linkUpFunc NG Pipe not connect"));
    EXPECT_EQ (status().state, STATE_IDLE);
    EXPECT_TRUE (h.sent().empty());
}

TEST_F (LinkUp, OnlyALinkUpThatGetsPastTheGatesSeedsTheGeneratorWithTheTime)
{
    addWiredInterface();
    h.request (0, KIND_PROCESS_CONNECT, kClientPid);
    send (wiredPlayer());
    ASSERT_TRUE (h.logged ("MainComponent::linkUpFunc NG Pipe not connect"));
    EXPECT_TRUE (h.platform.random.seeds().empty()) << "a refused link-up seeds nothing";

    h.request (h.mc->getConnections().size() - 1, KIND_LINK_PERMIT, kClientPid);
    const auto before = static_cast<unsigned> (std::time (nullptr));
    send (wiredPlayer());
    const auto after = static_cast<unsigned> (std::time (nullptr));
    ASSERT_EQ (status().state, STATE_DISCOVERY);
    const auto seeds = h.platform.random.seeds();
    ASSERT_EQ (seeds.size(), 1u);
    EXPECT_GE (seeds[0], before);
    EXPECT_LE (seeds[0], after);
}

TEST_F (LinkUp, LinkUpIsRefusedWhenNoInterfaceHoldsTheSender)
{
    addWiredInterface();
    connectClient();
    const Device stranger { 3, 1, makeIpv4 (172, 16, 0, 9), { 0xAA, 0, 0, 0, 0, 9 } };
    send (stranger);
    EXPECT_TRUE (h.logged ("MainComponent::linkUpFunc NG"));
    EXPECT_EQ (status().state, STATE_IDLE);
    EXPECT_TRUE (h.scheduler.running().count (TIMER_DISCOVERY) == 0);
    // No aging for a device whose link-up failed.
    EXPECT_EQ (h.scheduler.periodOf (TIMER_AGING_FIRST + 2), 0);
}

TEST_F (LinkUp, WirelessLinkUpFromABlockedModelIsRefused)
{
    addWirelessInterface();
    connectClient();
    Device old = wirelessPlayer();
    old.model = "DKP-5100";
    old.minorver = 0;
    send (old);

    EXPECT_TRUE (h.logged ("MainComponent::linkUpFunc NG DKP-5100 DKP-410 BLOCK linkif = 0 frmhdr->minorver = 0 "
                           "model = DKP-5100"));
    EXPECT_EQ (status().state, STATE_IDLE);
    EXPECT_TRUE (h.sent().empty());
    EXPECT_TRUE (h.notifications().empty());

    // Another device tries again and succeeds.
    send (wirelessPlayer (2));
    EXPECT_EQ (status().state, STATE_DISCOVERY);
}

TEST_F (LinkUp, InterfaceKindErrorProceedsOnId17)
{
    addWiredInterface();
    {
        const std::lock_guard<std::mutex> g (h.platform.rows.lock);
        h.platform.rows.adapters[0].type = 24;  // neither Ethernet nor 802.11: its MAC is not learnt
    }
    connectClient();
    send (wiredPlayer());
    EXPECT_TRUE (h.logged ("MainComponent::linkUpFunc NG Link UP GET IF ERROR ip = 192.168.1.20 "
                           "netmask = 255.255.255.0 err = 7"));
    EXPECT_EQ (status().state, STATE_DISCOVERY);
    EXPECT_EQ (status().linkif, LINKIF_UNKNOWN);
    h.scheduler.advance (3900);
    EXPECT_EQ (status().state, STATE_RUN);
    EXPECT_EQ (status().id, 17);
}

//==============================================================================
// The reserved phases

TEST_F (LinkUp, ReservedPhasesAreNeverEntered)
{
    const auto player = wiredPlayer();
    bringUpWired (player);
    // An IdSetResponse outside STATE_IDSET is ignored, whatever it grants.
    receive (player, FrameBuilder::idUseResponse (33, 0, 1));
    EXPECT_EQ (status().state, STATE_RUN);
    EXPECT_EQ (status().id, 17);
    EXPECT_EQ (status().devcount, 1);
    // The compatibility job outside STATE_COMPATI only restarts its own timer.
    h.mc->timerFuncCompatiResponse();
    EXPECT_EQ (h.scheduler.periodOf (TIMER_COMPATI), 100);
    EXPECT_TRUE (h.sent().empty());
    EXPECT_EQ (status().state, STATE_RUN);
}
