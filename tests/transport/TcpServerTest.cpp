// The frame server on the fake listener: its own thread accepts and reads fake connections whose
// reads the test cuts, so every case is exact and nothing waits on a real socket. The Linux
// sockets themselves are tested in native/TcpServerLinuxTest.cpp.
#include "support/LinkHarness.h"
#include "support/RecordingServer.h"
#include "transport/LyrLinkSysMgrTCP.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace lyrlink;
using namespace lyrlink::test;
using namespace std::chrono_literals;

namespace
{

/** The server on a fake listener whose hub the test drives. */
struct OpenServer : RecordingServer
{
    OpenServer() : OpenServer (std::make_shared<FakeStreamHub>()) {}
    explicit OpenServer (std::shared_ptr<FakeStreamHub> h)
        : RecordingServer (std::make_unique<FakeStreamListener> (h), 50000), hub (std::move (h))
    {
    }

    std::shared_ptr<FakeStreamHub> hub;
};

} // namespace

//==============================================================================
TEST (TcpFrameTest, HeaderTestTable)
{
    struct Case
    {
        const char* what;
        uint8_t type, subType, hdrclass;
        bool passes;
    };
    const Case cases[] = {
        { "DiscoveryRequest", 0, 0, 1, true },
        { "IdUseRequest", 2, 0, 1, true },
        { "IdSetRequest (type 2 sub 1)", 2, 1, 1, true },
        { "IdUseRequestFromBlk (type 2 sub 2)", 2, 2, 1, false },
        { "IdUseResponse", 3, 0, 1, true },
        { "IdSetResponse (type 3 sub 1)", 3, 1, 1, true },
        { "type 3 sub 2", 3, 2, 1, false },
        { "ConfigNotify", 6, 0, 1, true },
        { "ConfigNotify sub 1", 6, 1, 1, false },
        { "DiscoveryRequest sub 1", 0, 1, 1, false },
        { "type 1", 1, 0, 0, true },
        { "type 5", 5, 0, 1, true },
        { "ResetNotify (type 11)", 11, 0, 1, true },
        { "ResetNotify sub 1", 11, 1, 1, false },
        { "type 12", 12, 0, 1, false },
        { "type 255", 255, 0, 1, false },
        { "hdrclass 0", 6, 0, 0, true },
        { "hdrclass 2", 6, 0, 2, false },
        { "hdrclass 255", 6, 0, 255, false },
    };
    for (const auto& c : cases)
    {
        auto f = markedFrame (c.type, c.subType, kConfigNotifyLength);
        f[32] = c.hdrclass;
        EXPECT_EQ (LyrLinkSysMgrTCP::isLinkFrame (f.data(), f.size()), c.passes) << c.what;
    }
}

TEST (TcpFrameTest, MagicAndLength)
{
    const auto good = markedFrame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength);
    for (size_t i = 0; i < 10; ++i)
    {
        auto f = good;
        f[i] ^= 0x20;
        EXPECT_FALSE (LyrLinkSysMgrTCP::isLinkFrame (f.data(), f.size())) << "magic octet " << i;
    }

    // Exactly 33 octets is enough: the test reads nothing beyond octet 32 (a heap block of that
    // size lets the address sanitizer catch a read past it).
    const std::vector<uint8_t> exact (good.begin(), good.begin() + 33);
    EXPECT_TRUE (LyrLinkSysMgrTCP::isLinkFrame (exact.data(), exact.size()));
    const std::vector<uint8_t> shortRead (good.begin(), good.begin() + 32);
    EXPECT_FALSE (LyrLinkSysMgrTCP::isLinkFrame (shortRead.data(), shortRead.size()));
    EXPECT_FALSE (LyrLinkSysMgrTCP::isLinkFrame (nullptr, 0));
}

//==============================================================================
TEST (TcpServerTest, OpensThePortWithABacklogOfOneBeforeItsThreadStarts)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);
    {
        const std::lock_guard<std::mutex> g (s.hub->lock);
        EXPECT_EQ (s.hub->opens, 1);
        EXPECT_EQ (s.hub->openedPort, 50000);
        EXPECT_EQ (s.hub->openedBacklog, 1);
    }
    EXPECT_TRUE (s.server->isThreadRunning());
    EXPECT_EQ (s.server->getThreadName(), "LyrLinkTCPServer Thread");
    EXPECT_EQ (s.server->getBoundPort(), 50000);
}

TEST (TcpServerTest, OneFrameIsHandedOnOnceAndTheConnectionStaysOpen)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);

    auto peer = s.hub->connect();
    const auto first = markedFrame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 0x11);
    peer->send (first);
    ASSERT_TRUE (s.callback.waitFor (1));

    const auto second = markedFrame (FRAME_ID_RESPONSE, 1, kIdUseResponseLength, 0x22);
    peer->send (second);
    ASSERT_TRUE (s.callback.waitFor (2));
    ASSERT_TRUE (peer->waitUntilDrained());
    EXPECT_FALSE (peer->isClosedByServer());

    const auto reads = s.callback.reads();
    ASSERT_EQ (reads.size(), 2u);
    EXPECT_EQ (hex (reads[0].bytes), hex (first));
    EXPECT_EQ (hex (reads[1].bytes), hex (second));
    for (const auto& r : reads)
    {
        EXPECT_EQ (r.source, (std::array<uint8_t, 4> {}));
        EXPECT_EQ (r.threadName, "LyrLinkTCPServer Thread");
    }

    // Closing the server ends the connection (a connection has no write operation at all).
    s.server.reset();
    EXPECT_TRUE (peer->wasShutDown());
    EXPECT_TRUE (peer->isClosedByServer());
}

TEST (TcpServerTest, DropsReadsThatFailTheHeaderTest)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);

    std::vector<std::vector<uint8_t>> dropped = {
        markedFrame (12, 0, kConfigNotifyLength),
        markedFrame (FRAME_CONFIG_NOTIFY, 1, kConfigNotifyLength),
        markedFrame (FRAME_ID_USE, 2, 68),
        std::vector<uint8_t> (kConfigNotifyLength, 0x51),
        std::vector<uint8_t> (20, 0),
    };
    auto hdrclass2 = markedFrame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength);
    hdrclass2[32] = 2;
    dropped.push_back (hdrclass2);

    // A dropped read does not close the connection: the good frame after them still arrives, and
    // once the server waits in the next read every earlier read has been handed on or dropped.
    auto peer = s.hub->connect();
    for (const auto& bytes : dropped)
        peer->send (bytes);
    const auto good = markedFrame (FRAME_ID_USE, 1, kIdUseRequestLength, 0x33);
    peer->send (good);
    ASSERT_TRUE (s.callback.waitFor (1));
    ASSERT_TRUE (peer->waitUntilDrained());

    const auto reads = s.callback.reads();
    ASSERT_EQ (reads.size(), 1u);
    EXPECT_EQ (hex (reads[0].bytes), hex (good));
    EXPECT_FALSE (peer->isClosedByServer());
    EXPECT_EQ (peer->readCapacities().size(), dropped.size() + 2) << "one read per write, then the waiting one";
}

TEST (TcpServerTest, TwoFramesInOneReadGoOnAsOne)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);
    auto peer = s.hub->connect();

    const auto a = markedFrame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 0xAA);
    const auto b = markedFrame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 0xBB);
    auto both = a;
    both.insert (both.end(), b.begin(), b.end());
    peer->send (both);
    ASSERT_TRUE (s.callback.waitFor (1));
    ASSERT_TRUE (peer->waitUntilDrained());

    const auto reads = s.callback.reads();
    ASSERT_EQ (reads.size(), 1u);
    EXPECT_EQ (hex (reads[0].bytes), hex (both));
}

TEST (TcpServerTest, AFrameSplitAcrossTwoReadsIsTestedAsTwoReads)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);
    auto peer = s.hub->connect();

    // The head carries a whole header and passes; the tail starts with no magic and is dropped.
    const auto f = markedFrame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 0x55);
    const std::vector<uint8_t> head (f.begin(), f.begin() + 40);
    const std::vector<uint8_t> tail (f.begin() + 40, f.end());
    peer->send (head);
    peer->send (tail);
    ASSERT_TRUE (s.callback.waitFor (1));
    ASSERT_TRUE (peer->waitUntilDrained());

    const auto reads = s.callback.reads();
    ASSERT_EQ (reads.size(), 1u);
    EXPECT_EQ (hex (reads[0].bytes), hex (head));
}

TEST (TcpServerTest, ReadsAreAtMost1024Bytes)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);
    auto peer = s.hub->connect();

    auto big = markedFrame (FRAME_CONFIG_NOTIFY, 0, 1500, 0x44);
    peer->send (big);
    ASSERT_TRUE (s.callback.waitFor (1));
    // The tail after the first 1024 bytes starts with no magic and is dropped.
    ASSERT_TRUE (peer->waitUntilDrained());
    const auto reads = s.callback.reads();
    ASSERT_EQ (reads.size(), 1u);
    EXPECT_EQ (reads[0].bytes.size(), 1024u);
    EXPECT_TRUE (std::equal (reads[0].bytes.begin(), reads[0].bytes.end(), big.begin()));
    for (const auto capacity : peer->readCapacities())
        EXPECT_EQ (capacity, 1024u);
}

TEST (TcpServerTest, ASecondClientIsServedAfterTheFirstCloses)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);

    auto first = s.hub->connect();
    first->send (markedFrame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 1));
    ASSERT_TRUE (s.callback.waitFor (1));

    // The second connection waits in the backlog while the first is open: a later frame of the
    // first still arrives, and the second has not been accepted.
    auto second = s.hub->connect();
    second->send (markedFrame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 2));
    first->send (markedFrame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 3));
    ASSERT_TRUE (s.callback.waitFor (2));
    ASSERT_TRUE (first->waitUntilDrained());
    EXPECT_FALSE (second->isAccepted());
    EXPECT_EQ (s.callback.reads().size(), 2u);
    EXPECT_EQ (s.callback.reads()[1].bytes[kFrameHeaderSize], 3);

    first->close();
    ASSERT_TRUE (first->waitUntilClosed());
    ASSERT_TRUE (s.callback.waitFor (3));
    const auto reads = s.callback.reads();
    ASSERT_EQ (reads.size(), 3u);
    EXPECT_EQ (reads[2].bytes[kFrameHeaderSize], 2);
    EXPECT_TRUE (second->isAccepted());
}

TEST (TcpServerTest, AFailedReadClosesTheConnectionAndTheServerWaitsForTheNext)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);

    auto broken = s.hub->connect();
    broken->fail();
    ASSERT_TRUE (broken->waitUntilClosed());
    EXPECT_FALSE (broken->wasShutDown()) << "the server closes it without being told to stop";

    auto next = s.hub->connect();
    next->send (markedFrame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 7));
    ASSERT_TRUE (s.callback.waitFor (1));
    EXPECT_EQ (s.callback.reads()[0].bytes[kFrameHeaderSize], 7);
}

TEST (TcpServerTest, ClosingShutsDownABlockedRead)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);
    auto peer = s.hub->connect();
    peer->send (markedFrame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength));
    // Once the frame is handed on, the server thread is back in a read on the open connection.
    ASSERT_TRUE (s.callback.waitFor (1));
    ASSERT_TRUE (peer->waitUntilDrained());

    s.server.reset();
    EXPECT_TRUE (peer->wasShutDown()) << "the blocked read was not woken";
    EXPECT_TRUE (peer->isClosedByServer());
    const std::lock_guard<std::mutex> g (s.hub->lock);
    EXPECT_TRUE (s.hub->shutDown);
    EXPECT_FALSE (s.hub->listening);
}

TEST (TcpServerTest, ClosingAnIdleServerClosesTheListener)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);
    EXPECT_TRUE (s.server->isThreadRunning());
    EXPECT_FALSE (s.server->openServer()) << "there is no reopening";

    s.server.reset();
    const std::lock_guard<std::mutex> g (s.hub->lock);
    EXPECT_EQ (s.hub->opens, 1);
    EXPECT_TRUE (s.hub->shutDown);
    EXPECT_FALSE (s.hub->listening);
}

TEST (TcpServerTest, AListenerThatCannotOpenLeavesNoThread)
{
    auto hub = std::make_shared<FakeStreamHub>();
    hub->openSucceeds = false;
    LyrLinkSysMgrTCP server (std::make_unique<FakeStreamListener> (hub), 50000);
    EXPECT_FALSE (server.openServer());
    EXPECT_FALSE (server.isThreadRunning());
    EXPECT_FALSE (server.isOpen());
}

//==============================================================================
TEST (TcpServerStartUp, TheManagerOpensTheTcpPortOfItsPlatform)
{
    LinkHarness h;
    auto* tcp = h.mc->getTcpServer();
    ASSERT_NE (tcp, nullptr);
    EXPECT_TRUE (tcp->isThreadRunning());
    EXPECT_EQ (tcp->m_callback.load(), h.mc.get());
    const std::lock_guard<std::mutex> g (h.platform.tcp->lock);
    EXPECT_EQ (h.platform.tcp->openedPort, 50000);
    EXPECT_TRUE (h.platform.tcp->listening);
}

TEST (TcpServerStartUp, TheManagerStopsPromptlyWithAClientConnected)
{
    LinkHarness h;
    auto* tcp = h.mc->getTcpServer();
    ASSERT_NE (tcp, nullptr);
    ASSERT_TRUE (tcp->isThreadRunning());
    EXPECT_EQ (tcp->getThreadName(), "LyrLinkTCPServer Thread");

    auto peer = h.platform.tcp->connect();
    peer->send (FrameBuilder::configNotify (1, 1, 0x0a00000a, { 1, 2, 3, 4, 5, 6 }));
    ASSERT_TRUE (peer->waitUntilDrained());

    const auto start = std::chrono::steady_clock::now();
    h.mc.reset();
    EXPECT_LT (std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_TRUE (peer->wasShutDown());
    EXPECT_TRUE (peer->isClosedByServer());
}

TEST (TcpServerStartUp, ABusyPortIsLoggedAndStartUpGoesOn)
{
    FakePlatform platform;
    platform.tcp->openSucceeds = false;
    auto mc = std::make_unique<MainComponent> (platform);

    auto* tcp = mc->getTcpServer();
    ASSERT_NE (tcp, nullptr);
    EXPECT_FALSE (tcp->isThreadRunning());
    EXPECT_EQ (tcp->m_callback.load(), mc.get());
    // Start-up went on past the failed step: the timers exist and the monitors run.
    EXPECT_EQ (platform.scheduler.periodOf (TIMER_NET_MONITOR), kNetMonitorPeriodMs);
    EXPECT_EQ (platform.scheduler.periodOf (TIMER_APP_MONITOR), kAppMonitorPeriodMs);

    const auto logFile = mc->getLog().getLogFile();
    mc.reset();
    EXPECT_TRUE (logFile.loadFileAsString().contains ("  MainComponent::MainComponent NG TCP port open"));
}
