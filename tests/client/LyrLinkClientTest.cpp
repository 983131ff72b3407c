// The client library against a manager on real pipes, and against servers that misbehave.
#include "client/LyrLinkClient.h"
#include "ipc/RealPipeHarness.h"

#include <gtest/gtest.h>

#include <future>

using namespace lyrlink;
using namespace lyrlink::client;
using namespace lyrlink::test;

namespace
{

/** Runs fn on a thread of its own while the test thread pumps the manager's message loop. */
template <typename Fn> auto whilePumping (Fn fn, int timeoutMs = 10000)
{
    auto f = std::async (std::launch::async, std::move (fn));
    pumpUntil ([&f] { return f.wait_for (std::chrono::seconds (0)) == std::future_status::ready; }, timeoutMs);
    return f.get();
}

/** A server on name that reads one request and answers with reply (as raw bytes), or never. */
struct ScriptedServer
{
    ScriptedServer (const std::string& scope, std::vector<uint8_t> replyBytes)
        : endpoint (createRealPipeEndpoint (scope))
    {
        EXPECT_TRUE (endpoint->create (kPipeBaseName));
        thread = std::thread ([this, reply = std::move (replyBytes)] {
            uint8_t b[8 + sizeof (ProcMsg)];
            size_t got = 0;
            while (got < sizeof (b))
            {
                const int n = endpoint->read (b + got, sizeof (b) - got);
                if (n <= 0)
                    return;
                got += static_cast<size_t> (n);
            }
            if (! reply.empty())
                endpoint->write (reply.data(), reply.size(), 1000, 1000);
            uint8_t rest[16];
            while (endpoint->read (rest, sizeof (rest)) > 0)
            {
            }
        });
    }
    ~ScriptedServer()
    {
        endpoint->close();
        thread.join();
    }

    std::unique_ptr<PipeEndpoint> endpoint;
    std::thread thread;
};

} // namespace

TEST (LyrLinkClient, PipeNamesFollowTheProcessId)
{
    EXPECT_EQ (clientPipeName (7), "LyrLinkSysMgrPIPE7");
    EXPECT_EQ (clientPipeName (0), "LyrLinkSysMgrPIPE0");
}

TEST (LyrLinkClient, APipeTellsWhichProcessClaimedItsName)
{
    RealPipeHarness h;
    const auto master = h.open (kPipeBaseName);
    EXPECT_EQ (master->getServerProcessId(), currentProcessId());
    EXPECT_GE (master->getPollHandle(), 0);
    master->close();
    EXPECT_EQ (master->getServerProcessId(), 0u);
    EXPECT_EQ (master->getPollHandle(), PipeClient::kNoHandle);
}

TEST (LyrLinkClient, RequestsAndAFullClientAgainstTheManager)
{
    RealPipeHarness h;
    ManagerClient client ({ h.scope, 3000 });

    LinkStatus status {};
    ASSERT_EQ (whilePumping ([&] { return client.getLinkStatus (status); }), Status::ok);
    EXPECT_EQ (status.id, 17);
    EXPECT_EQ (status.linkif, LINKIF_UNKNOWN);

    DeviceEntry entry {};
    EXPECT_EQ (whilePumping ([&] { return client.getDevice (81, entry); }), Status::refused);
    EXPECT_EQ (client.getLastError(), "no device id 81 (ids are 1 to 80)");
    EXPECT_EQ (whilePumping ([&] { return client.getDevice (80, entry); }), Status::ok);

    ASSERT_EQ (whilePumping ([&] { return client.connectProcess (6060); }), Status::ok);
    ASSERT_TRUE (pumpUntil ([&] { return h.mc->isLinkPermitted(); }));
    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0, 6060 }));

    // The client reads while the manager sends: a pipe's buffer may hold less than a message.
    ProcMsg note;
    auto noting = std::async (std::launch::async, [&] { return client.nextNotification (note, 3000); });
    h.mc->notifyMessage (17, KIND_LINK_STATUS_CHANGED);
    ASSERT_EQ (noting.get(), Status::ok);
    EXPECT_EQ (note.kind, KIND_LINK_STATUS_CHANGED);
    EXPECT_EQ (note.pid, 6060u);

    // The same process id cannot connect twice.
    ManagerClient twin ({ h.scope, 3000 });
    EXPECT_EQ (whilePumping ([&] { return twin.connectProcess (6060); }), Status::refused);

    ASSERT_EQ (client.disconnectProcess(), Status::ok);
    ASSERT_TRUE (pumpUntil ([&] { return h.platform.quitRequests.load() == 1; }));
    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0 }));
}

TEST (LyrLinkClient, SuspendAndResumeReachTheManager)
{
    RealPipeHarness h;
    ManagerClient client ({ h.scope, 3000 });
    ASSERT_EQ (whilePumping ([&] { return client.connectProcess (7070); }), Status::ok);
    EXPECT_FALSE (h.mc->isSuspended());
    ASSERT_EQ (client.suspend(), Status::ok);
    ASSERT_TRUE (pumpUntil ([&] { return h.mc->isSuspended(); }));
    ASSERT_EQ (client.resume(), Status::ok);
    ASSERT_TRUE (pumpUntil ([&] { return ! h.mc->isSuspended(); }));
}

TEST (LyrLinkClient, ReportsAMissingManagerATimeOutAndMalformedReplies)
{
    const auto scope = uniquePipeScope();
    LinkStatus status {};
    {
        ManagerClient client ({ scope, 300 });
        EXPECT_EQ (client.getLinkStatus (status), Status::noManager);
        EXPECT_EQ (client.getLastError(), "opening pipe LyrLinkSysMgrPIPE: no manager is running");
    }
    {
        ScriptedServer silent (scope, {});
        ManagerClient client ({ scope, 300 });
        EXPECT_EQ (client.getLinkStatus (status), Status::timeout);
    }

    auto wrongMagic = framed (makeProcMsg (KIND_GET_LINK_STATUS, 0, 0, 1));
    wrongMagic[0] ^= 1;
    auto shortRecord = framed (makeProcMsg (KIND_GET_LINK_STATUS, 0, 0, 1));
    writeLe32 (shortRecord.data() + 4, 16);
    shortRecord.resize (8 + 16);
    const std::vector<std::vector<uint8_t>> malformed = {
        wrongMagic,
        shortRecord,
        framed (makeProcMsg (KIND_GET_DEVICE, static_cast<uint32_t> (::getpid()), 0, 1)),          // wrong kind
        framed (makeProcMsg (KIND_GET_LINK_STATUS, static_cast<uint32_t> (::getpid()) + 1, 0, 1)), // wrong pid
        framed (makeProcMsg (KIND_GET_LINK_STATUS, static_cast<uint32_t> (::getpid()), 0, 7)),     // result 7
    };
    for (size_t i = 0; i < malformed.size(); ++i)
    {
        ScriptedServer server (scope, malformed[i]);
        ManagerClient client ({ scope, 1000 });
        EXPECT_EQ (client.getLinkStatus (status), Status::malformed) << i;
    }
}
