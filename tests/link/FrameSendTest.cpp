#include "support/LinkHarness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

using namespace lyrlink;
using namespace lyrlink::test;

namespace
{
const Ipv4 kOwnIp = makeIpv4 (192, 168, 1, 20);
const Ipv4 kIdSetTarget = makeIpv4 (192, 168, 1, 7);
const Ipv4 kRequester = makeIpv4 (192, 168, 1, 33);
const Ipv4 kBlkRequester = makeIpv4 (192, 168, 1, 34);
constexpr std::array<uint8_t, 6> kOwnMac { 0x00, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F };
constexpr size_t kNoCounter = SIZE_MAX;

/** The header as the manager sends it: magic, type and subtype, "velantrix" NUL-padded to 20
    bytes, hdrclass 1, minorver 3, then the length. */
std::string header (const std::string& typeAndSubType, const std::string& length)
{
    return "51 73 70 74 31 57 6D 4A 4F 4C " + typeAndSubType
         + " 76 65 6C 61 6E 74 72 69 78 00 00 00 00 00 00 00 00 00 00 00 01 03 " + length;
}

/** A link in STATE_RUN as id 18, with every field the builders read set to a distinct value. */
LinkStatus runningStatus()
{
    LinkStatus s {};
    s.state = STATE_RUN;
    s.type = 4;
    s.idClaimed = 1;
    ipv4ToOctets (kOwnIp, s.ip);
    std::memcpy (s.mac, kOwnMac.data(), 6);
    s.id = 18;
    s.reqid = 18;
    s.devcount = 3;
    ipv4ToOctets (kIdSetTarget, s.idSetTarget);
    s.compaticnt = 2;
    s.discoverycnt = 1;
    s.idcnt = 4;
    s.linkif = LINKIF_WIRED;
    ipv4ToOctets (makeIpv4 (255, 255, 255, 0), s.netmask);
    return s;
}

std::vector<uint8_t> statusBytes (const LinkStatus& s)
{
    const auto* p = reinterpret_cast<const uint8_t*> (&s);
    return { p, p + sizeof (s) };
}

std::vector<uint8_t> bodyOf (const std::vector<uint8_t>& frame) { return { frame.begin() + 36, frame.end() }; }

const std::vector<uint8_t>& idUseRequestBody()
{
    static const auto body = bodyOf (FrameBuilder::idUseRequest (17, 5, kRequester));
    return body;
}

const std::vector<uint8_t>& idUseRequestFromBlkBody()
{
    static const auto body = bodyOf (FrameBuilder::idUseRequestFromBlk (kBlkRequester, 0x02, 0x00, 0x5A));
    return body;
}

struct BuilderCase
{
    const char* name;  // qualified, as logged
    std::function<void (MainComponent&)> send;
    std::string expected;  // every byte sent
    bool broadcast;
    Ipv4 destination;
    size_t counter;         // LinkStatus offset of the counter that a sent frame advances
    bool counterWhenSkipped;  // and that also advances when no interface is chosen
};

const std::vector<BuilderCase>& builderCases()
{
    static const std::vector<BuilderCase> cases {
        { "MainComponent::frameSendDiscoveryRequest", [] (MainComponent& m) { m.frameSendDiscoveryRequest(); },
          header ("00 00", "00 2C") + " 02 04 00 1B 2C 3D 4E 5F", true, makeIpv4 (192, 168, 1, 255),
          offsetof (LinkStatus, discoverycnt), true },
        { "MainComponent::frameSendIdUseRequest", [] (MainComponent& m) { m.frameSendIdUseRequest (42); },
          header ("02 00", "00 32") + " C0 A8 01 14 00 1B 2C 3D 4E 5F 2A 05 04 01", true,
          makeIpv4 (192, 168, 1, 255), kNoCounter, false },
        { "MainComponent::frameSendIdSetRequest", [] (MainComponent& m) { m.frameSendIdSetRequest(); },
          header ("02 01", "00 32") + " C0 A8 01 14 00 1B 2C 3D 4E 5F 12 05 04 01", false, kIdSetTarget,
          offsetof (LinkStatus, idcnt), false },
        { "MainComponent::frameSendIdUseResponse",
          [] (MainComponent& m) {
              const auto& b = idUseRequestBody();
              m.frameSendIdUseResponse (ByteView (b.data(), b.size()));
          },
          header ("03 00", "00 27") + " 11 05 01", false, kRequester, kNoCounter, false },
        { "MainComponent::frameSendIdUseResponseFromBlk",
          [] (MainComponent& m) {
              const auto& b = idUseRequestFromBlkBody();
              m.frameSendIdUseResponseFromBlk (ByteView (b.data(), b.size()));
          },
          header ("03 00", "00 27") + " 12 5A 01", false, kBlkRequester, kNoCounter, false },
        { "MainComponent::frameSendConfigNotify", [] (MainComponent& m) { m.frameSendConfigNotify(); },
          header ("06 00", "00 36") + " 12 01 00 1B 2C 3D 4E 5F C0 A8 01 14 03 00 00 00 04 08", true,
          makeIpv4 (192, 168, 1, 255), kNoCounter, false },
        { "MainComponent::frameSendDisconnect", [] (MainComponent& m) { m.frameSendDisconnect(); },
          header ("08 00", "00 29") + " 12 C0 A8 01 14", true, makeIpv4 (192, 168, 1, 255), kNoCounter, false },
        { "MainComponent::frameSendCompatiRequest", [] (MainComponent& m) { m.frameSendCompatiRequest(); },
          header ("0A 00", "00 25") + " 04", true, makeIpv4 (192, 168, 1, 255), offsetof (LinkStatus, compaticnt),
          true },
    };
    return cases;
}

struct FrameSendTest : ::testing::Test
{
    LinkHarness h;

    void SetUp() override
    {
        setInterface (kOwnIp, makeIpv4 (255, 255, 255, 0));
        freshLink();
    }

    void setInterface (Ipv4 address, Ipv4 netmask)
    {
        auto* access = h.mc->getNetworkAccess();
        access->m_ipAddr = address;
        access->m_netmask = netmask;
        access->m_networkAddr = address & netmask;
    }

    /** A link reset (fresh send buffer) with runningStatus(), and nothing recorded yet. */
    void freshLink (const LinkStatus& status = runningStatus())
    {
        h.mc->resetLinkState();
        h.mc->setLinkStatusForTests (status);
        h.clearSent();
        h.clearLog();
    }

    /** runningStatus() with the case's counter advanced by one. */
    static std::vector<uint8_t> advanced (const BuilderCase& c)
    {
        auto bytes = statusBytes (runningStatus());
        if (c.counter != kNoCounter)
            ++bytes[c.counter];
        return bytes;
    }
};
} // namespace

TEST_F (FrameSendTest, EveryBuilderSendsItsExactBytesToItsDestination)
{
    for (auto& c : builderCases())
    {
        SCOPED_TRACE (c.name);
        freshLink();
        c.send (*h.mc);

        const auto sent = h.sent();
        ASSERT_EQ (sent.size(), 1u);
        EXPECT_EQ (hex (sent[0].bytes), c.expected);
        EXPECT_EQ (sent[0].broadcast, c.broadcast);
        EXPECT_EQ (formatIpv4 (sent[0].destination), formatIpv4 (c.destination));
        EXPECT_EQ (sent[0].port, 50000);
        if (c.broadcast)
        {
            EXPECT_EQ (formatIpv4 (sent[0].localAddress), "192.168.1.20");
        }
        EXPECT_EQ (statusBytes (h.mc->getLinkStatus()), advanced (c));
        EXPECT_TRUE (h.log().empty());
    }
}

TEST_F (FrameSendTest, FailedSendLogsTheBuilderAndLeavesItsCounter)
{
    h.platform.udp->sendsFail = true;
    for (auto& c : builderCases())
    {
        SCOPED_TRACE (c.name);
        freshLink();
        c.send (*h.mc);
        EXPECT_TRUE (h.sent().empty());
        EXPECT_EQ (h.logTexts(), (std::vector<std::string> { std::string (c.name) + " FrameSend " }));
        EXPECT_EQ (statusBytes (h.mc->getLinkStatus()), statusBytes (runningStatus()));
    }
}

TEST_F (FrameSendTest, WithoutAnInterfaceBroadcastsAreSkippedSilentlyAndRequestCountersStillAdvance)
{
    // Sends would fail: a builder that tried to send would log.
    h.platform.udp->sendsFail = true;
    for (Ipv4 noInterface : { makeIpv4 (0, 0, 0, 0), makeIpv4 (0, 168, 1, 20) })
    {
        setInterface (noInterface, makeIpv4 (255, 255, 255, 0));
        for (auto& c : builderCases())
        {
            if (! c.broadcast)
                continue;
            SCOPED_TRACE (c.name);
            freshLink();
            c.send (*h.mc);
            EXPECT_TRUE (h.sent().empty());
            EXPECT_TRUE (h.log().empty());
            EXPECT_EQ (statusBytes (h.mc->getLinkStatus()),
                       c.counterWhenSkipped ? advanced (c) : statusBytes (runningStatus()));
        }
    }

    // Unicasts do not depend on the interface address.
    h.platform.udp->sendsFail = false;
    freshLink();
    const auto& b = idUseRequestBody();
    h.mc->frameSendIdUseResponse (ByteView (b.data(), b.size()));
    ASSERT_EQ (h.sent().size(), 1u);
    EXPECT_EQ (h.sent()[0].destination, kRequester);
}

TEST_F (FrameSendTest, BroadcastGoesToTheDirectedBroadcastAddressOfTheInterface)
{
    struct Case
    {
        Ipv4 address, netmask;
        const char* destination;
    };
    const Case cases[] {
        { makeIpv4 (192, 168, 1, 20), makeIpv4 (255, 255, 255, 0), "192.168.1.255" },
        { makeIpv4 (10, 1, 2, 3), makeIpv4 (255, 255, 0, 0), "10.1.255.255" },
        { makeIpv4 (169, 254, 7, 9), makeIpv4 (255, 255, 255, 252), "169.254.7.11" },
    };
    for (auto& c : cases)
    {
        setInterface (c.address, c.netmask);
        freshLink();
        h.mc->frameSendConfigNotify();
        const auto sent = h.sent();
        ASSERT_EQ (sent.size(), 1u);
        EXPECT_TRUE (sent[0].broadcast);
        EXPECT_EQ (formatIpv4 (sent[0].destination), c.destination);
        EXPECT_EQ (sent[0].port, 50000);
        EXPECT_EQ (sent[0].localAddress, c.address);
    }
}

TEST_F (FrameSendTest, LaterFramesCarryTheBodyBytesEarlierFramesLeft)
{
    // After a link reset and an IdUseRequest, ConfigNotify body bytes 13 to 15 are 1, 0, 0.
    freshLink();
    h.mc->frameSendDiscoveryRequest();
    h.mc->frameSendIdUseRequest (17);
    h.mc->frameSendConfigNotify();
    auto sent = h.sent();
    ASSERT_EQ (sent.size(), 3u);
    const auto& notify = sent[2].bytes;
    ASSERT_EQ (notify.size(), 54u);
    EXPECT_EQ (notify[34], 0x00);
    EXPECT_EQ (notify[35], 0x36);
    EXPECT_EQ (hex (bodyOf (notify)), "12 01 00 1B 2C 3D 4E 5F C0 A8 01 14 03 01 00 00 04 08");
    EXPECT_EQ (sent[0].bytes[34], 0x00);
    EXPECT_EQ (sent[0].bytes[35], 0x2C);

    // A shorter frame leaves the tail of the longer one in the buffer; only its length goes out.
    h.mc->frameSendDisconnect();
    sent = h.sent();
    ASSERT_EQ (sent.size(), 4u);
    EXPECT_EQ (sent[3].bytes.size(), 41u);
    const auto& buffer = h.mc->getSendBuffer();
    EXPECT_EQ (hex ({ buffer.begin() + 36, buffer.begin() + 54 }),
               "12 C0 A8 01 14 3D 4E 5F C0 A8 01 14 03 01 00 00 04 08");
}

TEST_F (FrameSendTest, DiscoveryRequestNumberRunsOneToThreeAndHoldsWhileSendsFail)
{
    auto status = runningStatus();
    status.state = STATE_DISCOVERY;
    status.discoverycnt = 0;
    freshLink (status);

    h.mc->frameSendDiscoveryRequest();
    h.platform.udp->sendsFail = true;
    h.mc->frameSendDiscoveryRequest();
    h.platform.udp->sendsFail = false;
    h.mc->frameSendDiscoveryRequest();
    h.mc->frameSendDiscoveryRequest();

    std::vector<int> numbers;
    for (auto& d : h.sent())
        numbers.push_back (d.bytes[36]);
    EXPECT_EQ (numbers, (std::vector<int> { 1, 2, 3 }));
    EXPECT_EQ (h.mc->getLinkStatus().discoverycnt, 3);
    EXPECT_EQ (h.logTexts(), (std::vector<std::string> { "MainComponent::frameSendDiscoveryRequest FrameSend " }));
}

TEST_F (FrameSendTest, UnicastsNeedAnAddressAndAWholeRequest)
{
    // The ID-set target stays 0.0.0.0 after a link reset: no host, so a failed send.
    auto status = runningStatus();
    std::memset (status.idSetTarget, 0, 4);
    freshLink (status);
    h.mc->frameSendIdSetRequest();
    EXPECT_TRUE (h.sent().empty());
    EXPECT_EQ (h.logTexts(), (std::vector<std::string> { "MainComponent::frameSendIdSetRequest FrameSend " }));
    EXPECT_EQ (h.mc->getLinkStatus().idcnt, 4);

    // A request naming 0.0.0.0 as the address to answer to is not answered to this computer.
    freshLink();
    const auto zero = bodyOf (FrameBuilder::idUseRequest (18, 5, 0));
    h.mc->frameSendIdUseResponse (ByteView (zero.data(), zero.size()));
    EXPECT_TRUE (h.sent().empty());
    EXPECT_EQ (h.logTexts(), (std::vector<std::string> { "MainComponent::frameSendIdUseResponse FrameSend " }));

    // Bodies too short to hold what is read are not answered at all.
    freshLink();
    const auto& request = idUseRequestBody();
    h.mc->frameSendIdUseResponse (ByteView (request.data(), 11));
    const auto& blk = idUseRequestFromBlkBody();
    h.mc->frameSendIdUseResponseFromBlk (ByteView (blk.data(), 31));
    EXPECT_TRUE (h.sent().empty());
    EXPECT_TRUE (h.log().empty());
}

TEST_F (FrameSendTest, EveryBuilderSendsWhileHoldingTheLinkLock)
{
    // The fake socket reads its clock at each send: look from another thread whether the link
    // lock is held at that moment.
    std::vector<bool> held;
    const auto clock = h.platform.udp->clock;
    h.platform.udp->clock = [this, &held, clock] {
        auto& lock = h.mc->getLinkLock();
        const bool free = std::async (std::launch::async, [&lock] {
                              if (! lock.tryEnter())
                                  return false;
                              lock.exit();
                              return true;
                          }).get();
        held.push_back (! free);
        return clock();
    };
    for (auto& c : builderCases())
    {
        freshLink();
        c.send (*h.mc);
    }
    h.platform.udp->clock = clock;
    EXPECT_EQ (held, std::vector<bool> (builderCases().size(), true));
}

TEST_F (FrameSendTest, BuildersOnTwoThreadsNeverMixTheirFrames)
{
    // Receive threads and the message thread build frames at once; the link lock keeps each frame
    // whole in the shared buffer.
    constexpr int kRounds = 100;
    std::thread notifier ([this] {
        for (int i = 0; i < kRounds; ++i)
            h.mc->frameSendConfigNotify();
    });
    std::thread responder ([this] {
        const auto& b = idUseRequestBody();
        for (int i = 0; i < kRounds; ++i)
            h.mc->frameSendIdUseResponse (ByteView (b.data(), b.size()));
    });
    notifier.join();
    responder.join();

    const auto sent = h.sent();
    ASSERT_EQ (sent.size(), 2u * kRounds);
    const std::string notify = header ("06 00", "00 36") + " 12 01 00 1B 2C 3D 4E 5F C0 A8 01 14 03";
    const std::string response = header ("03 00", "00 27") + " 11 05 01";
    for (auto& d : sent)
    {
        const auto text = hex (d.bytes);
        if (d.broadcast)
            EXPECT_EQ (text.substr (0, notify.size()), notify);
        else
            EXPECT_EQ (text, response);
    }
}

TEST (RandomDelay, SpreadsUniformlyOverZeroToMaxInclusive)
{
    LinkHarness h;
    h.platform.random.seed (12345);
    constexpr int kDraws = 30000;
    std::vector<int> first;
    int low = 1000, high = -1;
    long long sum = 0;
    for (int i = 0; i < kDraws; ++i)
    {
        const int d = h.mc->randomDelay (300);
        if (i < 20)
            first.push_back (d);
        low = std::min (low, d);
        high = std::max (high, d);
        sum += d;
    }
    EXPECT_EQ (low, 0);
    EXPECT_EQ (high, 300);
    EXPECT_NEAR (static_cast<double> (sum) / kDraws, 150.0, 5.0);

    // The same seed gives the same delays: seeding at link-up is what varies them.
    h.platform.random.seed (12345);
    for (int expected : first)
        EXPECT_EQ (h.mc->randomDelay (300), expected);

    for (int i = 0; i < 100; ++i)
        EXPECT_EQ (h.mc->randomDelay (0), 0);
}
