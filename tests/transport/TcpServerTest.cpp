#include "support/LinkHarness.h"
#include "transport/LyrLinkSysMgrTCP.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace lyrlink;
using namespace lyrlink::test;
using namespace std::chrono_literals;

namespace
{

/** What the server handed on, with the thread it ran on. */
class RecordingCallback final : public LyrLinkNetworkAccessCallback
{
public:
    struct Read
    {
        std::array<uint8_t, 4> source;
        std::vector<uint8_t> bytes;
        juce::String threadName;
    };

    void frameRead (const uint8_t* sourceAddress, const juce::MemoryBlock& data) override
    {
        Read r;
        std::memcpy (r.source.data(), sourceAddress, 4);
        const auto* p = static_cast<const uint8_t*> (data.getData());
        r.bytes.assign (p, p + data.getSize());
        if (auto* t = juce::Thread::getCurrentThread())
            r.threadName = t->getThreadName();
        {
            const std::lock_guard<std::mutex> g (m_lock);
            m_reads.push_back (std::move (r));
        }
        m_changed.notify_all();
    }

    /** Waits (for the server thread, not for a timer) until count reads arrived. */
    bool waitFor (size_t count, std::chrono::milliseconds limit = 5s)
    {
        std::unique_lock<std::mutex> l (m_lock);
        return m_changed.wait_for (l, limit, [&] { return m_reads.size() >= count; });
    }

    std::vector<Read> reads()
    {
        const std::lock_guard<std::mutex> g (m_lock);
        return m_reads;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Read> m_reads;
};

/** A loopback TCP client. */
class Client
{
public:
    explicit Client (uint16_t port) : m_fd (::socket (AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in sa {};
        sa.sin_family = AF_INET;
        sa.sin_port = htons (port);
        sa.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
        const int one = 1;
        (void) ::setsockopt (m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof (one));
        m_connected = ::connect (m_fd, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) == 0;
    }
    ~Client() { close(); }

    bool isConnected() const { return m_connected; }

    bool send (const std::vector<uint8_t>& bytes)
    {
        return ::send (m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t> (bytes.size());
    }

    /** Reads until the server closes the connection; returns what it wrote back. */
    std::vector<uint8_t> readToEnd()
    {
        timeval tv { 5, 0 };
        (void) ::setsockopt (m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof (tv));
        std::vector<uint8_t> all;
        uint8_t b[256];
        ssize_t n;
        while ((n = ::recv (m_fd, b, sizeof (b), 0)) > 0)
            all.insert (all.end(), b, b + n);
        m_sawEnd = (n == 0);
        return all;
    }

    bool sawEnd() const { return m_sawEnd; }

    void close()
    {
        if (m_fd >= 0)
            ::close (m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
    bool m_connected = false;
    bool m_sawEnd = false;
};

std::vector<uint8_t> frame (uint8_t type, uint8_t subType, size_t length, uint8_t marker = 0)
{
    auto f = FrameBuilder::header (type, subType, length);
    if (length > kFrameHeaderSize)
        f[kFrameHeaderSize] = marker;
    return f;
}

struct OpenServer
{
    OpenServer()
    {
        server->m_callback = &callback;
        ok = server->openServer();
    }

    RecordingCallback callback;
    std::unique_ptr<LyrLinkSysMgrTCP> server = std::make_unique<LyrLinkSysMgrTCP> (0);
    bool ok = false;
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
        auto f = frame (c.type, c.subType, kConfigNotifyLength);
        f[32] = c.hdrclass;
        EXPECT_EQ (LyrLinkSysMgrTCP::isLinkFrame (f.data(), f.size()), c.passes) << c.what;
    }
}

TEST (TcpFrameTest, MagicAndLength)
{
    const auto good = frame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength);
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
TEST (TcpServerTest, OneFrameIsHandedOnOnceAndTheConnectionStaysOpen)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);
    ASSERT_NE (s.server->getBoundPort(), 0);

    Client c (s.server->getBoundPort());
    ASSERT_TRUE (c.isConnected());
    const auto first = frame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 0x11);
    ASSERT_TRUE (c.send (first));
    ASSERT_TRUE (s.callback.waitFor (1));

    const auto second = frame (FRAME_ID_RESPONSE, 1, kIdUseResponseLength, 0x22);
    ASSERT_TRUE (c.send (second));
    ASSERT_TRUE (s.callback.waitFor (2));

    const auto reads = s.callback.reads();
    ASSERT_EQ (reads.size(), 2u);
    EXPECT_EQ (hex (reads[0].bytes), hex (first));
    EXPECT_EQ (hex (reads[1].bytes), hex (second));
    for (const auto& r : reads)
    {
        EXPECT_EQ (r.source, (std::array<uint8_t, 4> {}));
        EXPECT_EQ (r.threadName, "LyrLinkTCPServer Thread");
    }

    // Nothing is ever written back: closing the server ends the stream with no bytes in it.
    s.server.reset();
    EXPECT_TRUE (c.readToEnd().empty());
    EXPECT_TRUE (c.sawEnd());
}

TEST (TcpServerTest, DropsReadsThatFailTheHeaderTest)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);

    std::vector<std::vector<uint8_t>> dropped = {
        frame (12, 0, kConfigNotifyLength),
        frame (FRAME_CONFIG_NOTIFY, 1, kConfigNotifyLength),
        frame (FRAME_ID_USE, 2, 68),
        std::vector<uint8_t> (kConfigNotifyLength, 0x51),
        std::vector<uint8_t> (20, 0),
    };
    auto hdrclass2 = frame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength);
    hdrclass2[32] = 2;
    dropped.push_back (hdrclass2);

    // A dropped read does not close the connection: the good frame after them still arrives.
    // The pauses keep the server's reads apart (TCP may join writes that meet in its buffer).
    Client c (s.server->getBoundPort());
    ASSERT_TRUE (c.isConnected());
    for (const auto& bytes : dropped)
    {
        ASSERT_TRUE (c.send (bytes));
        std::this_thread::sleep_for (30ms);
    }
    const auto good = frame (FRAME_ID_USE, 1, kIdUseRequestLength, 0x33);
    std::this_thread::sleep_for (100ms);
    ASSERT_TRUE (c.send (good));
    ASSERT_TRUE (s.callback.waitFor (1));

    std::this_thread::sleep_for (100ms);
    const auto reads = s.callback.reads();
    ASSERT_EQ (reads.size(), 1u);
    EXPECT_EQ (hex (reads[0].bytes), hex (good));
}

TEST (TcpServerTest, TwoFramesInOneReadGoOnAsOne)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);
    Client c (s.server->getBoundPort());

    const auto a = frame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 0xAA);
    const auto b = frame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 0xBB);
    auto both = a;
    both.insert (both.end(), b.begin(), b.end());
    ASSERT_TRUE (c.send (both));
    ASSERT_TRUE (s.callback.waitFor (1));

    const auto reads = s.callback.reads();
    ASSERT_EQ (reads.size(), 1u);
    EXPECT_EQ (hex (reads[0].bytes), hex (both));
}

TEST (TcpServerTest, ReadsAreAtMost1024Bytes)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);
    Client c (s.server->getBoundPort());

    auto big = frame (FRAME_CONFIG_NOTIFY, 0, 1500, 0x44);
    ASSERT_TRUE (c.send (big));
    ASSERT_TRUE (s.callback.waitFor (1));
    // The tail after the first 1024 bytes starts with no magic and is dropped.
    std::this_thread::sleep_for (100ms);
    const auto reads = s.callback.reads();
    ASSERT_EQ (reads.size(), 1u);
    EXPECT_EQ (reads[0].bytes.size(), 1024u);
    EXPECT_TRUE (std::equal (reads[0].bytes.begin(), reads[0].bytes.end(), big.begin()));
}

TEST (TcpServerTest, ASecondClientIsServedAfterTheFirstCloses)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);

    Client first (s.server->getBoundPort());
    ASSERT_TRUE (first.send (frame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 1)));
    ASSERT_TRUE (s.callback.waitFor (1));

    // The second connection waits in the backlog while the first is open.
    Client second (s.server->getBoundPort());
    ASSERT_TRUE (second.isConnected());
    ASSERT_TRUE (second.send (frame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 2)));
    EXPECT_FALSE (s.callback.waitFor (2, 300ms));

    first.close();
    ASSERT_TRUE (s.callback.waitFor (2));
    const auto reads = s.callback.reads();
    ASSERT_EQ (reads.size(), 2u);
    EXPECT_EQ (reads[1].bytes[kFrameHeaderSize], 2);
}

TEST (TcpServerTest, ClosingEndsABlockedReadPromptly)
{
    OpenServer s;
    ASSERT_TRUE (s.ok);
    Client c (s.server->getBoundPort());
    ASSERT_TRUE (c.send (frame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength)));
    // Once the frame is handed on, the server thread is back in a read on the open connection.
    ASSERT_TRUE (s.callback.waitFor (1));
    std::this_thread::sleep_for (50ms);

    const auto start = std::chrono::steady_clock::now();
    s.server.reset();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT (took, 500ms) << "the thread was not woken and ran into the stop wait";
    // The client sees its connection closed.
    EXPECT_TRUE (c.readToEnd().empty());
    EXPECT_TRUE (c.sawEnd());
}

TEST (TcpServerTest, ClosingAnIdleServerIsPrompt)
{
    auto server = std::make_unique<LyrLinkSysMgrTCP> (0);
    ASSERT_TRUE (server->openServer());
    EXPECT_TRUE (server->isThreadRunning());
    EXPECT_FALSE (server->openServer()) << "there is no reopening";

    const auto start = std::chrono::steady_clock::now();
    server.reset();
    EXPECT_LT (std::chrono::steady_clock::now() - start, 500ms);
}

TEST (TcpServerTest, ABusyPortFailsToOpenWithoutAThread)
{
    LyrLinkSysMgrTCP first (0);
    ASSERT_TRUE (first.openServer());

    LyrLinkSysMgrTCP second (first.getBoundPort());
    EXPECT_FALSE (second.openServer());
    EXPECT_FALSE (second.isThreadRunning());
    EXPECT_FALSE (second.isOpen());
}

//==============================================================================
TEST (TcpServerStartUp, TheManagerStopsPromptlyWithAClientConnected)
{
    LinkHarness h;
    auto* tcp = h.mc->getTcpServer();
    ASSERT_NE (tcp, nullptr);
    ASSERT_TRUE (tcp->isThreadRunning());
    EXPECT_EQ (tcp->getThreadName(), "LyrLinkTCPServer Thread");

    Client c (tcp->getBoundPort());
    ASSERT_TRUE (c.isConnected());
    ASSERT_TRUE (c.send (FrameBuilder::configNotify (1, 1, 0x0a00000a, { 1, 2, 3, 4, 5, 6 })));
    std::this_thread::sleep_for (100ms);

    const auto start = std::chrono::steady_clock::now();
    h.mc.reset();
    EXPECT_LT (std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_TRUE (c.readToEnd().empty());
}

TEST (TcpServerStartUp, ABusyPortIsLoggedAndStartUpGoesOn)
{
    LyrLinkSysMgrTCP holder (0);
    ASSERT_TRUE (holder.openServer());

    VirtualScheduler scheduler;
    FakePlatform platform;
    platform.tcpPort = holder.getBoundPort();
    auto mc = std::make_unique<MainComponent> (platform);

    auto* tcp = mc->getTcpServer();
    ASSERT_NE (tcp, nullptr);
    EXPECT_FALSE (tcp->isThreadRunning());
    EXPECT_EQ (tcp->m_callback.load(), mc.get());
    // Start-up went on past the failed step: the timers exist and the monitors run.
    EXPECT_EQ (scheduler.periodOf (TIMER_NET_MONITOR), kNetMonitorPeriodMs);
    EXPECT_EQ (scheduler.periodOf (TIMER_APP_MONITOR), kAppMonitorPeriodMs);

    const auto logFile = mc->getLog().getLogFile();
    mc.reset();
    EXPECT_TRUE (logFile.loadFileAsString().contains ("  MainComponent::MainComponent NG TCP port open"));
}
