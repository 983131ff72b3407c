// The frame server on the system's own sockets over the loopback (Linux sockets, or Winsock under
// Wine as on Windows): what the fake listener cannot show (a real backlog, a blocked read woken by
// shutdown, a wait woken by shutdown, a port held by another socket, nothing written back).
#include "support/LinkHarness.h"
#include "support/RecordingServer.h"
#include "support/native/LoopbackSockets.h"
#include "transport/LyrLinkSysMgrTCP.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace lyrlink;
using namespace lyrlink::test;
using namespace std::chrono_literals;

//==============================================================================
TEST (TcpServerLoopback, OneFrameIsHandedOnOnceAndTheConnectionStaysOpen)
{
    RecordingServer s (createSystemStreamListener(), 0);
    ASSERT_TRUE (s.ok);
    ASSERT_NE (s.server->getBoundPort(), 0);

    LoopbackTcpClient c (s.server->getBoundPort());
    ASSERT_TRUE (c.isConnected());
    const auto first = markedFrame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 0x11);
    ASSERT_TRUE (c.send (first));
    ASSERT_TRUE (s.callback.waitFor (1));

    const auto second = markedFrame (FRAME_ID_RESPONSE, 1, kIdUseResponseLength, 0x22);
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

TEST (TcpServerLoopback, ASecondClientIsServedAfterTheFirstCloses)
{
    RecordingServer s (createSystemStreamListener(), 0);
    ASSERT_TRUE (s.ok);

    LoopbackTcpClient first (s.server->getBoundPort());
    ASSERT_TRUE (first.send (markedFrame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 1)));
    ASSERT_TRUE (s.callback.waitFor (1));

    // The second connection waits in the backlog while the first is open.
    LoopbackTcpClient second (s.server->getBoundPort());
    ASSERT_TRUE (second.isConnected());
    ASSERT_TRUE (second.send (markedFrame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, 2)));
    EXPECT_FALSE (s.callback.waitFor (2, 300ms));

    first.close();
    ASSERT_TRUE (s.callback.waitFor (2));
    const auto reads = s.callback.reads();
    ASSERT_EQ (reads.size(), 2u);
    EXPECT_EQ (reads[1].bytes[kFrameHeaderSize], 2);
}

TEST (TcpServerLoopback, ClosingEndsABlockedReadPromptly)
{
    RecordingServer s (createSystemStreamListener(), 0);
    ASSERT_TRUE (s.ok);
    LoopbackTcpClient c (s.server->getBoundPort());
    ASSERT_TRUE (c.send (markedFrame (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength)));
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

TEST (TcpServerLoopback, ClosingAnIdleServerIsPrompt)
{
    auto server = std::make_unique<LyrLinkSysMgrTCP> (createSystemStreamListener(), 0);
    ASSERT_TRUE (server->openServer());
    EXPECT_TRUE (server->isThreadRunning());
    EXPECT_FALSE (server->openServer()) << "there is no reopening";

    const auto start = std::chrono::steady_clock::now();
    server.reset();
    EXPECT_LT (std::chrono::steady_clock::now() - start, 500ms);
}

TEST (TcpServerLoopback, ABusyPortFailsToOpenWithoutAThread)
{
    LyrLinkSysMgrTCP first (createSystemStreamListener(), 0);
    ASSERT_TRUE (first.openServer());

    LyrLinkSysMgrTCP second (createSystemStreamListener(), first.getBoundPort());
    EXPECT_FALSE (second.openServer());
    EXPECT_FALSE (second.isThreadRunning());
    EXPECT_FALSE (second.isOpen());
}

//==============================================================================
TEST (StreamListenerLoopback, WaitsAcceptsReadsAndSeesThePeerClose)
{
    auto listener = createSystemStreamListener();
    ASSERT_TRUE (listener->open (0, 1));
    ASSERT_NE (listener->getBoundPort(), 0);
    EXPECT_FALSE (listener->open (0, 1)) << "an open listener does not open again";
    EXPECT_EQ (listener->waitForConnection (0), StreamListener::WaitResult::idle);

    LoopbackTcpClient c (listener->getBoundPort());
    ASSERT_TRUE (c.isConnected());
    ASSERT_EQ (listener->waitForConnection (5000), StreamListener::WaitResult::pending);
    auto connection = listener->accept();
    ASSERT_NE (connection, nullptr);

    ASSERT_TRUE (c.send ({ 1, 2, 3, 4, 5 }));
    uint8_t buffer[3];
    EXPECT_EQ (connection->read (buffer, sizeof (buffer)), 3) << "a read takes at most its capacity";
    EXPECT_EQ (connection->read (buffer, sizeof (buffer)), 2);
    c.close();
    EXPECT_EQ (connection->read (buffer, sizeof (buffer)), 0);
}

TEST (StreamListenerLoopback, ShutdownWakesABlockedReadAndAWait)
{
    auto listener = createSystemStreamListener();
    ASSERT_TRUE (listener->open (0, 1));
    LoopbackTcpClient c (listener->getBoundPort());
    ASSERT_EQ (listener->waitForConnection (5000), StreamListener::WaitResult::pending);
    auto connection = listener->accept();
    ASSERT_NE (connection, nullptr);

    int result = 1;
    std::thread reader ([&] {
        uint8_t buffer[16];
        result = connection->read (buffer, sizeof (buffer));
    });
    std::this_thread::sleep_for (50ms);
    connection->shutdown();
    reader.join();
    EXPECT_LE (result, 0);

    std::thread waiter ([&] { (void) listener->waitForConnection (5000); });
    std::this_thread::sleep_for (50ms);
    const auto start = std::chrono::steady_clock::now();
    listener->shutdown();
    waiter.join();
    EXPECT_LT (std::chrono::steady_clock::now() - start, 1000ms);
    listener->close();
    listener->close();
}
