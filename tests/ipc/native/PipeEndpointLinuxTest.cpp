// The Linux pipe endpoint on real abstract sockets: names, one client at a time, and the time
// limits and failure rules of writes.
#include "client/LyrLinkClient.h"
#include "ipc/RealPipeHarness.h"
#include "ipc/native/PipeEndpoint_linux.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <future>
#include <thread>

using namespace lyrlink;
using namespace lyrlink::test;
using client::Status;
using Clock = std::chrono::steady_clock;

TEST (PipeEndpointLinux, ANameIsHeldByOneServerAndFreedByClose)
{
    const auto scope = uniquePipeScope();
    auto a = createLinuxPipeEndpoint (scope);
    auto b = createLinuxPipeEndpoint (scope);
    auto c = createLinuxPipeEndpoint (scope);
    ASSERT_TRUE (a->create ("LyrLinkSysMgrPIPE7"));
    EXPECT_FALSE (b->create ("LyrLinkSysMgrPIPE7"));
    // The address covers exactly the name: a longer name is another pipe.
    EXPECT_TRUE (c->create ("LyrLinkSysMgrPIPE70"));

    a->close();
    EXPECT_TRUE (b->create ("LyrLinkSysMgrPIPE7"));
    // Nothing is left in the file system.
    EXPECT_FALSE (juce::File ("/tmp/LyrLinkSysMgrPIPE7").exists());
}

TEST (PipeEndpointLinux, ReadServesOneClientAtATimeAndReportsItsEnd)
{
    const auto scope = uniquePipeScope();
    auto e = createLinuxPipeEndpoint (scope);
    ASSERT_TRUE (e->create ("P"));
    PipeEndpointReader reader (*e);

    client::PipeClient first (scope), second (scope);
    ASSERT_EQ (first.open ("P", 1000), Status::ok);
    ASSERT_EQ (second.open ("P", 1000), Status::ok);  // waits in the queue
    ASSERT_EQ (second.sendRaw ("BB", 2, 1000), Status::ok);
    ASSERT_EQ (first.sendRaw ("A", 1, 1000), Status::ok);
    ASSERT_TRUE (reader.waitFor ([] (const std::vector<int>& r) { return r.size() >= 1; }));
    std::this_thread::sleep_for (std::chrono::milliseconds (100));
    EXPECT_EQ (reader.snapshot(), (std::vector<int> { 1 }));  // nothing of the second yet

    first.close();
    ASSERT_TRUE (reader.waitFor ([] (const std::vector<int>& r) { return r.size() >= 3; }));
    EXPECT_EQ (reader.snapshot(), (std::vector<int> { 1, 0, 2 }));

    e->close();
    ASSERT_TRUE (reader.waitFor ([] (const std::vector<int>& r) { return ! r.empty() && r.back() == -1; }));
}

TEST (PipeEndpointLinux, AWriteWaitsAtMostTheConnectTimeForAClient)
{
    const auto scope = uniquePipeScope();
    auto e = createLinuxPipeEndpoint (scope);
    ASSERT_TRUE (e->create ("P"));
    const uint8_t bytes[4] = { 1, 2, 3, 4 };

    auto t = Clock::now();
    EXPECT_FALSE (e->write (bytes, sizeof (bytes), 150, 150));
    EXPECT_GE (msSince (t), 140);
    EXPECT_LT (msSince (t), 1000);

    // A client that connects while the write waits gets the bytes.
    PipeEndpointReader reader (*e);
    auto pending = std::async (std::launch::async, [&] { return e->write (bytes, sizeof (bytes), 2000, 2000); });
    client::PipeClient c (scope);
    ASSERT_EQ (c.open ("P", 1000), Status::ok);
    EXPECT_TRUE (pending.get());
    ASSERT_TRUE (c.waitReadable (1000));

    // Closing the endpoint ends a write that waits for a client at once.
    c.close();
    ASSERT_TRUE (reader.waitFor ([] (const std::vector<int>& r) { return ! r.empty() && r.back() == 0; }));
    t = Clock::now();
    auto waiting = std::async (std::launch::async, [&] { return e->write (bytes, sizeof (bytes), 2000, 2000); });
    std::this_thread::sleep_for (std::chrono::milliseconds (50));
    e->close();
    EXPECT_FALSE (waiting.get());
    EXPECT_LT (msSince (t), 1000);
}

TEST (PipeEndpointLinux, WritesToAClientThatLeftFailWithoutSigpipe)
{
    const auto scope = uniquePipeScope();
    auto e = createLinuxPipeEndpoint (scope);
    ASSERT_TRUE (e->create ("P"));
    client::PipeClient c (scope);
    ASSERT_EQ (c.open ("P", 1000), Status::ok);
    ASSERT_EQ (c.sendRaw ("x", 1, 1000), Status::ok);
    uint8_t b[8];
    ASSERT_EQ (e->read (b, sizeof (b)), 1);  // accepted; nobody reads on, so the end goes unnoticed
    c.close();

    // With the default action in place, a SIGPIPE would end the test program here.
    struct sigaction previous {};
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction (SIGPIPE, &fallback, &previous);
    const auto framed = frameProcMsg (makeProcMsg (3, 1, 0, 1));
    EXPECT_FALSE (e->write (framed.bytes, sizeof (framed.bytes), 100, 100));
    ::sigaction (SIGPIPE, &previous, nullptr);
}

TEST (PipeEndpointLinux, AWriteToAClientThatDoesNotReadGivesUpAfterTheWriteTime)
{
    const auto scope = uniquePipeScope();
    auto e = createLinuxPipeEndpoint (scope);
    ASSERT_TRUE (e->create ("P"));
    PipeEndpointReader reader (*e);
    client::PipeClient c (scope);
    ASSERT_EQ (c.open ("P", 1000), Status::ok);

    const auto framed = frameProcMsg (makeProcMsg (3, 1, 0, 1));
    int written = 0;
    long failedAfterMs = -1;
    while (written < 10000)
    {
        const auto t = Clock::now();
        if (! e->write (framed.bytes, sizeof (framed.bytes), 1000, 150))
        {
            failedAfterMs = msSince (t);
            break;
        }
        ++written;
    }
    EXPECT_GT (written, 0);
    EXPECT_GE (failedAfterMs, 140);
    EXPECT_LT (failedAfterMs, 1000);

    // What the client reads is whole messages, then (if the last one was cut) the end.
    ProcMsg msg;
    int whole = 0;
    Status s;
    while ((s = c.receive (msg, 500)) == Status::ok)
        ++whole;
    EXPECT_EQ (whole, written);
    EXPECT_TRUE (s == Status::timeout || s == Status::malformed) << client::describe (s);
    e->close();
}
