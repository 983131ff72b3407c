// The Windows pipe endpoint and the client library on real named pipes: one instance per name,
// one client at a time, the project's frame reader on top, the time limits of writes, and the
// access list that admits only the manager's own user.
#include "ipc/native/PipeEndpoint_windows.h"
#include "client/LyrLinkClient.h"
#include "ipc/PipeFrameReader.h"
#include "ipc/ProcMsg.h"
#include "ipc/native/PipeAddress_windows.h"
#include "support/PipeTestSupport.h"
#include "support/native/Wine_windows.h"

#include <aclapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

using namespace lyrlink;
using namespace lyrlink::test;
using client::PipeClient;
using client::Status;
using Clock = std::chrono::steady_clock;

TEST (PipeEndpointWindows, ANameIsHeldUntilCloseAndALongerNameIsAnotherPipe)
{
    const auto scope = uniquePipeScope();
    auto a = createWindowsPipeEndpoint (scope);
    auto c = createWindowsPipeEndpoint (scope);
    ASSERT_TRUE (a->create ("LyrLinkSysMgrPIPE7"));
    EXPECT_TRUE (c->create ("LyrLinkSysMgrPIPE70"));
    EXPECT_FALSE (a->create ("LyrLinkSysMgrPIPE8")) << "one name per endpoint";

    PipeClient client (scope);
    EXPECT_EQ (client.open ("LyrLinkSysMgrPIPE7", 1000), Status::ok);
    client.close();

    a->close();
    EXPECT_EQ (client.open ("LyrLinkSysMgrPIPE7", 1000), Status::noManager) << "the name is free after close";
    auto b = createWindowsPipeEndpoint (scope);
    EXPECT_TRUE (b->create ("LyrLinkSysMgrPIPE7"));
    EXPECT_FALSE (a->create ("LyrLinkSysMgrPIPE7")) << "a closed endpoint stays closed";
}

TEST (PipeEndpointWindows, ASecondServerOnATakenNameFails)
{
    const auto scope = uniquePipeScope();
    auto a = createWindowsPipeEndpoint (scope);
    auto b = createWindowsPipeEndpoint (scope);
    ASSERT_TRUE (a->create (kPipeBaseName));
    const bool second = b->create (kPipeBaseName);
    if (second && isWine())
        GTEST_SKIP() << underWine ("lets a second instance be created on a name whose pipe allows one");
    EXPECT_FALSE (second);
}

TEST (PipeEndpointWindows, ThePipeHasOneInstanceOf64ByteBuffersForTheOwnUserOnly)
{
    const auto scope = uniquePipeScope();
    auto e = createWindowsPipeEndpoint (scope);
    ASSERT_TRUE (e->create ("P"));
    const HANDLE pipe = ::CreateFileW (makePipePath (scope + "P").c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL,
                                       0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE (pipe, INVALID_HANDLE_VALUE) << ::GetLastError();

    DWORD flags = 0, outSize = 0, inSize = 0, instances = 0;
    ASSERT_TRUE (::GetNamedPipeInfo (pipe, &flags, &outSize, &inSize, &instances));
    EXPECT_EQ (flags, static_cast<DWORD> (PIPE_CLIENT_END | PIPE_TYPE_BYTE));
    EXPECT_EQ (instances, 1u);
    EXPECT_EQ (outSize, 64u);
    EXPECT_EQ (inSize, 64u);

    // The access list holds one entry: the user this process runs as.
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ (::GetSecurityInfo (pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                  &descriptor),
               static_cast<DWORD> (ERROR_SUCCESS));
    ASSERT_NE (dacl, nullptr);
    ASSERT_EQ (dacl->AceCount, 1);
    void* ace = nullptr;
    ASSERT_TRUE (::GetAce (dacl, 0, &ace));
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*> (ace);
    EXPECT_EQ (allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);

    HANDLE token = nullptr;
    ASSERT_TRUE (::OpenProcessToken (::GetCurrentProcess(), TOKEN_QUERY, &token));
    std::vector<uint8_t> user (256);
    DWORD size = 0;
    ASSERT_TRUE (::GetTokenInformation (token, TokenUser, user.data(), static_cast<DWORD> (user.size()), &size));
    EXPECT_TRUE (
        ::EqualSid (const_cast<DWORD*> (&allowed->SidStart), reinterpret_cast<TOKEN_USER*> (user.data())->User.Sid));
    ::CloseHandle (token);
    ::LocalFree (descriptor);
    ::CloseHandle (pipe);
}

TEST (PipeEndpointWindows, ReadServesOneClientAtATimeAndReportsItsEnd)
{
    const auto scope = uniquePipeScope();
    auto e = createWindowsPipeEndpoint (scope);
    ASSERT_TRUE (e->create ("P"));
    PipeEndpointReader reader (*e);

    PipeClient first (scope), second (scope);
    ASSERT_EQ (first.open ("P", 1000), Status::ok);
    ASSERT_EQ (first.sendRaw ("A", 1, 1000), Status::ok);
    ASSERT_TRUE (reader.waitFor ([] (const std::vector<int>& r) { return r.size() >= 1; }));

    // The one instance is taken: a second client waits for it, within its time limit.
    auto t = Clock::now();
    EXPECT_EQ (second.open ("P", 200), Status::timeout);
    EXPECT_GE (msSince (t), 190);
    EXPECT_LT (msSince (t), 2000);

    auto waiting = std::async (std::launch::async, [&] { return second.open ("P", 5000); });
    std::this_thread::sleep_for (std::chrono::milliseconds (100));
    first.close();
    ASSERT_EQ (waiting.get(), Status::ok);
    ASSERT_EQ (second.sendRaw ("BB", 2, 1000), Status::ok);
    ASSERT_TRUE (reader.waitFor ([] (const std::vector<int>& r) { return r.size() >= 3; }));
    EXPECT_EQ (reader.snapshot(), (std::vector<int> { 1, 0, 2 }));

    // Closing ends the blocked read with -1 and cuts the client off.
    e->close();
    ASSERT_TRUE (reader.waitFor ([] (const std::vector<int>& r) { return ! r.empty() && r.back() == -1; }));
    ProcMsg msg;
    EXPECT_EQ (second.receive (msg, 1000), Status::closed);
}

TEST (PipeEndpointWindows, FramesMakeTheRoundTripThroughTheFrameReader)
{
    const auto scope = uniquePipeScope();
    auto e = createWindowsPipeEndpoint (scope);
    ASSERT_TRUE (e->create (kPipeBaseName));
    PipeFrameReader frames ([&e] (uint8_t* b, size_t n) { return e->read (b, n); }, [] { return false; });

    // The pipe buffers hold 64 bytes: a whole message passes only while the other end reads.
    std::vector<uint8_t> payload;
    auto reading = std::async (std::launch::async, [&] { return frames.readFrame (payload); });
    PipeClient c (scope);
    ASSERT_EQ (c.open (kPipeBaseName, 1000), Status::ok);
    ASSERT_EQ (c.send (makeProcMsg (KIND_GET_LINK_STATUS, 4242, 0, 0), 1000), Status::ok);
    ASSERT_EQ (reading.get(), PipeFrameReader::Result::frame);
    ASSERT_EQ (payload.size(), sizeof (ProcMsg));
    const auto request = decodeRequest (payload.data(), payload.size());
    EXPECT_EQ (request.kind, KIND_GET_LINK_STATUS);
    EXPECT_EQ (request.pid, 4242u);

    auto reply = makeProcMsg (KIND_GET_LINK_STATUS, 4242, 0, 1);
    reply.data[83] = 0x5A;
    const auto bytes = framed (reply);
    auto writing = std::async (std::launch::async, [&] {
        return e->write (bytes.data(), bytes.size(), kPipeConnectWaitMs, kPipeWriteTimeoutMs);
    });
    ProcMsg got {};
    ASSERT_EQ (c.receive (got, 2000), Status::ok);
    EXPECT_TRUE (writing.get());
    EXPECT_EQ (std::memcmp (&got, &reply, sizeof (ProcMsg)), 0);
    e->close();
}

TEST (PipeEndpointWindows, AClientThatLeavesMidFrameLosesThatFrameOnly)
{
    const auto scope = uniquePipeScope();
    auto e = createWindowsPipeEndpoint (scope);
    ASSERT_TRUE (e->create ("P"));
    PipeFrameReader frames ([&e] (uint8_t* b, size_t n) { return e->read (b, n); }, [] { return false; });

    const auto whole = framed (makeProcMsg (KIND_SUSPEND, 1, 0, 0));
    std::vector<uint8_t> payload;
    auto reading = std::async (std::launch::async, [&] { return frames.readFrame (payload); });
    {
        PipeClient leaving (scope);
        ASSERT_EQ (leaving.open ("P", 1000), Status::ok);
        ASSERT_EQ (leaving.sendRaw (whole.data(), 8 + 100, 1000), Status::ok);
    }
    EXPECT_EQ (reading.get(), PipeFrameReader::Result::clientLeft);

    // The next client on the same name is served from a clean start.
    reading = std::async (std::launch::async, [&] { return frames.readFrame (payload); });
    PipeClient next (scope);
    ASSERT_EQ (next.open ("P", 1000), Status::ok);
    const auto other = framed (makeProcMsg (KIND_RESUME, 2, 0, 0));
    ASSERT_EQ (next.sendRaw (other.data(), other.size(), 1000), Status::ok);
    ASSERT_EQ (reading.get(), PipeFrameReader::Result::frame);
    EXPECT_EQ (decodeRequest (payload.data(), payload.size()).kind, KIND_RESUME);
    e->close();
}

TEST (PipeEndpointWindows, AWriteWaitsAtMostTheConnectTimeForAClient)
{
    const auto scope = uniquePipeScope();
    auto e = createWindowsPipeEndpoint (scope);
    ASSERT_TRUE (e->create ("P"));
    const uint8_t bytes[4] = { 1, 2, 3, 4 };

    auto t = Clock::now();
    EXPECT_FALSE (e->write (bytes, sizeof (bytes), 150, 150));
    EXPECT_GE (msSince (t), 140);
    EXPECT_LT (msSince (t), 1000);

    // A client that connects while the write waits gets the bytes.
    PipeEndpointReader reader (*e);
    auto pending = std::async (std::launch::async, [&] { return e->write (bytes, sizeof (bytes), 2000, 2000); });
    PipeClient c (scope);
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

TEST (PipeEndpointWindows, AWriteToAClientThatLeftFails)
{
    const auto scope = uniquePipeScope();
    auto e = createWindowsPipeEndpoint (scope);
    ASSERT_TRUE (e->create ("P"));
    PipeClient c (scope);
    ASSERT_EQ (c.open ("P", 1000), Status::ok);
    ASSERT_EQ (c.sendRaw ("x", 1, 1000), Status::ok);
    uint8_t b[8];
    ASSERT_EQ (e->read (b, sizeof (b)), 1); // connected; nobody reads on, so the end goes unnoticed
    c.close();

    const auto bytes = framed (makeProcMsg (3, 1, 0, 1));
    EXPECT_FALSE (e->write (bytes.data(), bytes.size(), 100, 100));
    e->close();
}

TEST (PipeEndpointWindows, AWriteToAClientThatDoesNotReadGivesUpAfterTheWriteTime)
{
    const auto scope = uniquePipeScope();
    auto e = createWindowsPipeEndpoint (scope);
    ASSERT_TRUE (e->create ("P"));
    PipeEndpointReader reader (*e);
    PipeClient c (scope);
    ASSERT_EQ (c.open ("P", 1000), Status::ok);

    const auto bytes = framed (makeProcMsg (3, 1, 0, 1));
    int written = 0;
    long failedAfterMs = -1;
    while (written < 10000)
    {
        const auto t = Clock::now();
        if (! e->write (bytes.data(), bytes.size(), 1000, 150))
        {
            failedAfterMs = msSince (t);
            break;
        }
        ++written;
    }
    EXPECT_GE (failedAfterMs, 140);
    EXPECT_LT (failedAfterMs, 1000);

    // The pipe's buffers hold less than one message, so the first write already waits for the
    // client to read. What the client reads is whole messages and then the end of the connection:
    // a write that was given up may have left part of its message in the pipe.
    ProcMsg msg;
    int whole = 0;
    Status s;
    while ((s = c.receive (msg, 500)) == Status::ok)
        ++whole;
    EXPECT_EQ (whole, written);
    EXPECT_TRUE (s == Status::malformed || s == Status::closed) << client::describe (s);
    ASSERT_TRUE (reader.waitFor ([] (const std::vector<int>& r) { return ! r.empty() && r.back() == 0; }));

    // The next client is served.
    PipeClient next (scope);
    ASSERT_EQ (next.open ("P", 1000), Status::ok);
    ASSERT_EQ (next.sendRaw ("z", 1, 1000), Status::ok);
    ASSERT_TRUE (reader.waitFor ([] (const std::vector<int>& r) { return ! r.empty() && r.back() == 1; }));
    e->close();
}
