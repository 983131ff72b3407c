// The client library's Windows end against servers on real named pipes: opening a free, a busy
// and a missing pipe, the time limits of reads, and requests with their replies.
#include "client/LyrLinkClient.h"
#include "ipc/native/PipeEndpoint_windows.h"
#include "support/PipeTestSupport.h"

#include "app/native/WinApi_windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

using namespace lyrlink;
using namespace lyrlink::client;
using namespace lyrlink::test;
using Clock = std::chrono::steady_clock;

namespace
{

/** A master pipe that answers every whole request with reply(request), read and written on a
    thread of its own, for as many clients as come. */
struct AnsweringServer
{
    AnsweringServer (const std::string& scope, std::function<std::vector<uint8_t> (const ProcMsg&)> replyTo)
        : endpoint (createWindowsPipeEndpoint (scope))
    {
        EXPECT_TRUE (endpoint->create (kPipeBaseName));
        thread = std::thread ([this, replyTo = std::move (replyTo)] {
            std::vector<uint8_t> got;
            uint8_t b[4096];
            for (;;)
            {
                const int n = endpoint->read (b, sizeof (b));
                if (n < 0)
                    return;
                if (n == 0)
                {
                    got.clear();
                    continue;
                }
                got.insert (got.end(), b, b + n);
                while (got.size() >= kPipeHeaderSize + sizeof (ProcMsg))
                {
                    ProcMsg request;
                    std::memcpy (&request, got.data() + kPipeHeaderSize, sizeof (request));
                    got.erase (got.begin(),
                               got.begin() + static_cast<std::ptrdiff_t> (kPipeHeaderSize + sizeof (ProcMsg)));
                    ++requests;
                    const auto reply = replyTo (request);
                    if (! reply.empty())
                        endpoint->write (reply.data(), reply.size(), 1000, 1000);
                }
            }
        });
    }
    ~AnsweringServer()
    {
        endpoint->close();
        thread.join();
    }

    std::unique_ptr<PipeEndpoint> endpoint;
    std::atomic<int> requests { 0 };
    std::thread thread;
};

/** The reply a manager gives: kind and pid echoed, result 1, the link id 17 in the record. */
std::vector<uint8_t> statusReply (const ProcMsg& request)
{
    const auto asked = decodeProcMsg (request);
    auto reply = makeProcMsg (asked.kind, asked.pid, 0, 1);
    LinkStatus status {};
    status.id = 17;
    std::memcpy (reply.data, &status, sizeof (status));
    return framed (reply);
}

} // namespace

TEST (PipeClientWindows, TheProcessIdIsTheSystemsOne) { EXPECT_EQ (currentProcessId(), ::GetCurrentProcessId()); }

TEST (PipeClientWindows, OpeningAPipeThatNobodyServesFindsNoManagerAtOnce)
{
    PipeClient c (uniquePipeScope());
    const auto t = Clock::now();
    EXPECT_EQ (c.open (kPipeBaseName, 3000), Status::noManager);
    EXPECT_LT (msSince (t), 1000);
    EXPECT_FALSE (c.isOpen());

    LinkStatus status {};
    ManagerClient manager ({ uniquePipeScope(), 500 });
    EXPECT_EQ (manager.getLinkStatus (status), Status::noManager);
}

TEST (PipeClientWindows, ReadsWaitWithinTheirTimeLimitAndKeepWhatArrived)
{
    const auto scope = uniquePipeScope();
    auto e = createWindowsPipeEndpoint (scope);
    ASSERT_TRUE (e->create ("P"));
    std::thread reader ([&e] {
        uint8_t b[64];
        while (e->read (b, sizeof (b)) >= 0)
        {
        }
    });

    PipeClient c (scope);
    ASSERT_EQ (c.open ("P", 1000), Status::ok);
    EXPECT_FALSE (c.waitReadable (0));
    auto t = Clock::now();
    EXPECT_FALSE (c.waitReadable (200));
    EXPECT_GE (msSince (t), 190);
    ProcMsg msg;
    t = Clock::now();
    EXPECT_EQ (c.receive (msg, 200), Status::timeout);
    EXPECT_GE (msSince (t), 190);
    EXPECT_LT (msSince (t), 2000);

    // A message that arrives while waitReadable waits is kept whole for receive.
    const auto sent = makeProcMsg (KIND_DEVICE_CHANGED, 9, 3, 1);
    const auto bytes = framed (sent);
    auto writing = std::async (std::launch::async, [&] { return e->write (bytes.data(), bytes.size(), 1000, 2000); });
    EXPECT_TRUE (c.waitReadable (2000));
    ASSERT_EQ (c.receive (msg, 2000), Status::ok);
    EXPECT_TRUE (writing.get());
    EXPECT_EQ (std::memcmp (&msg, &sent, sizeof (msg)), 0);

    // The server's end of the connection is the client's end of the stream.
    e->close();
    reader.join();
    EXPECT_TRUE (c.waitReadable (1000));
    EXPECT_EQ (c.receive (msg, 1000), Status::closed);
    EXPECT_EQ (c.sendRaw ("x", 1, 500), Status::closed);
}

TEST (PipeClientWindows, RequestsWaitForABusyMasterPipe)
{
    const auto scope = uniquePipeScope();
    AnsweringServer server (scope, statusReply);

    LinkStatus status {};
    ManagerClient manager ({ scope, 3000 });
    ASSERT_EQ (manager.getLinkStatus (status), Status::ok);
    EXPECT_EQ (status.id, 17);

    // Another client holds the one instance: a request waits for it within its time limit.
    PipeClient holder (scope);
    ASSERT_EQ (holder.open (kPipeBaseName, 1000), Status::ok);
    ManagerClient impatient ({ scope, 200 });
    const auto t = Clock::now();
    EXPECT_EQ (impatient.getLinkStatus (status), Status::timeout);
    EXPECT_LT (msSince (t), 2000);

    auto waiting = std::async (std::launch::async, [&] { return manager.getLinkStatus (status); });
    std::this_thread::sleep_for (std::chrono::milliseconds (100));
    holder.close();
    EXPECT_EQ (waiting.get(), Status::ok);
    EXPECT_EQ (server.requests.load(), 2);

    // A request without a reply reaches the server although the client lets go at once.
    EXPECT_EQ (manager.suspend(), Status::ok);
    const auto end = Clock::now() + std::chrono::seconds (3);
    while (server.requests.load() < 3 && Clock::now() < end)
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    EXPECT_EQ (server.requests.load(), 3);
}
