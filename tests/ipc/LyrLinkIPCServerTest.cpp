// The manager's pipes end to end on real pipes (the system's own: abstract Unix sockets on Linux,
// named pipes on Windows): requests from a client, replies, notifications, one client at a time,
// broken frames and removal while another thread sends. The Linux-only cases (another user's
// client, a sender asleep in the kernel) are in native/LyrLinkIPCServerLinuxTest.cpp.
#include "ipc/RealPipeHarness.h"

#include <atomic>
#include <future>
#include <thread>

using namespace lyrlink;
using namespace lyrlink::test;
using client::Status;

namespace
{

std::string clientPipe (uint32_t pid) { return std::string (kPipeBaseName) + std::to_string (pid); }

bool allZero (const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

} // namespace

TEST (LyrLinkIPCServer, ProcessConnectCreatesTheClientPipeAndReplies)
{
    RealPipeHarness h;
    auto master = h.open (kPipeBaseName);
    ProcMsg reply;
    ASSERT_EQ (h.exchange (*master, makeProcMsg (KIND_PROCESS_CONNECT, 4242, 0, 0), reply), Status::ok);
    const auto expected = makeProcMsg (KIND_PROCESS_CONNECT, 4242, 0, 1);
    EXPECT_EQ (0, std::memcmp (&reply, &expected, sizeof (reply)));
    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0, 4242 }));

    // The same process id again: the name is taken.
    ASSERT_EQ (h.exchange (*master, makeProcMsg (KIND_PROCESS_CONNECT, 4242, 0, 0), reply), Status::ok);
    EXPECT_EQ (reply.result, 0u);
    EXPECT_EQ (reply.pid, 4242u);
    EXPECT_TRUE (h.logged ("MainComponent::createPipe NG Create Pipe = 4242 size = 2"));
    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0, 4242 }));

    // The client's own pipe serves requests; LinkPermit on it gets no reply.
    auto own = h.open (clientPipe (4242));
    ASSERT_EQ (own->send (makeProcMsg (KIND_LINK_PERMIT, 4242, 0, 0), 1000), Status::ok);
    ASSERT_TRUE (h.waitForLog ("MainComponent::replyMessage NG pzProcMsg->kind = 51"));
    EXPECT_TRUE (h.mc->isLinkPermitted());
    ASSERT_EQ (h.exchange (*own, makeProcMsg (KIND_GET_LINK_STATUS, 4242, 0, 0), reply), Status::ok);
    EXPECT_EQ (reply.kind, KIND_GET_LINK_STATUS); // the first message on the pipe is this reply
    EXPECT_EQ (reply.result, 1u);
}

TEST (LyrLinkIPCServer, GetDeviceOutOfRangeAndGetDeviceListReplies)
{
    RealPipeHarness h;
    auto master = h.open (kPipeBaseName);
    ProcMsg reply;
    for (const int32_t id : { 0, 81 })
    {
        ASSERT_EQ (h.exchange (*master, makeProcMsg (KIND_GET_DEVICE, 7, id, 0), reply), Status::ok);
        const auto expected = makeProcMsg (KIND_GET_DEVICE, 7, 0, 0);
        EXPECT_EQ (0, std::memcmp (&reply, &expected, sizeof (reply))) << id;
    }
    ASSERT_EQ (h.exchange (*master, makeProcMsg (KIND_GET_DEVICE_LIST, 8, 0, 0), reply), Status::ok);
    EXPECT_EQ (reply.kind, KIND_GET_DEVICE_LIST);
    EXPECT_EQ (reply.result, 1u);
    EXPECT_TRUE (allZero (reply.data, sizeof (reply.data)));
}

TEST (LyrLinkIPCServer, NotificationsReachEveryClientPipeAndNeverTheMaster)
{
    RealPipeHarness h;
    ASSERT_EQ (connectProcess (h, 100), 1u);
    ASSERT_EQ (connectProcess (h, 200), 1u);
    auto a = h.open (clientPipe (100));
    auto b = h.open (clientPipe (200));
    auto master = h.open (kPipeBaseName);
    pumpFor (50); // both pipes have accepted their clients

    // The clients read while the manager sends: a pipe's buffer may hold less than a message.
    ProcMsg messages[2];
    auto readingA = std::async (std::launch::async, [&] { return a->receive (messages[0], 5000); });
    auto readingB = std::async (std::launch::async, [&] { return b->receive (messages[1], 5000); });
    h.mc->notifyMessage (17, KIND_LINK_STATUS_CHANGED);
    ASSERT_EQ (readingA.get(), Status::ok);
    ASSERT_EQ (readingB.get(), Status::ok);

    for (auto [msg, pid] : { std::pair { messages[0], 100u }, std::pair { messages[1], 200u } })
    {
        EXPECT_EQ (msg.kind, KIND_LINK_STATUS_CHANGED);
        EXPECT_EQ (msg.pid, pid);
        EXPECT_EQ (msg.id, 17);
        EXPECT_EQ (msg.result, 1u);
    }
    EXPECT_FALSE (master->waitReadable (200));
}

TEST (LyrLinkIPCServer, AClientThatClosesItsPipeAndOpensItAgainIsServedAgain)
{
    RealPipeHarness h;
    ASSERT_EQ (connectProcess (h, 300), 1u);
    ProcMsg reply;
    for (int round = 0; round < 3; ++round)
    {
        auto own = h.open (clientPipe (300));
        ASSERT_EQ (h.exchange (*own, makeProcMsg (KIND_GET_LINK_STATUS, 300, 0, 0), reply), Status::ok) << round;
        EXPECT_EQ (reply.result, 1u);
    }
    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0, 300 }));
}

TEST (LyrLinkIPCServer, ASecondClientWaitsUntilTheFirstCloses)
{
    RealPipeHarness h;
    auto first = h.open (kPipeBaseName);
    ProcMsg reply;
    ASSERT_EQ (h.exchange (*first, makeProcMsg (KIND_GET_LINK_STATUS, 1, 0, 0), reply), Status::ok);

    // The second client queues behind the first (a Unix socket connects and queues its request;
    // a Windows pipe, whose one instance is busy, lets the open itself wait) and gets no reply.
    client::PipeClient second (h.scope);
    std::atomic<bool> answered { false };
    auto asking = std::async (std::launch::async, [&] {
        auto s = second.open (kPipeBaseName, 5000);
        if (s == Status::ok)
            s = second.send (makeProcMsg (KIND_GET_LINK_STATUS, 2, 0, 0), 5000);
        if (s == Status::ok)
        {
            ProcMsg r;
            s = second.receive (r, 5000);
            answered = true;
            if (s == Status::ok && r.pid != 2u)
                s = Status::malformed;
        }
        return s;
    });
    pumpFor (300);
    EXPECT_FALSE (answered.load());

    // The first keeps being served meanwhile. Requests are handled on the message thread in the
    // order they were read, and the second's was sent first: had it been read, its reply would
    // have gone out before this one.
    ASSERT_EQ (h.exchange (*first, makeProcMsg (KIND_GET_LINK_STATUS, 1, 0, 0), reply), Status::ok);
    EXPECT_EQ (reply.pid, 1u);
    EXPECT_FALSE (answered.load());

    first.reset();
    ASSERT_TRUE (
        pumpUntil ([&] { return asking.wait_for (std::chrono::seconds (0)) == std::future_status::ready; }, 5000));
    EXPECT_EQ (asking.get(), Status::ok) << "the second is answered, with its own pid, once the first has gone";
}

TEST (LyrLinkIPCServer, BrokenFramesAreSkippedAndTheConnectionKeepsWorking)
{
    RealPipeHarness h;
    auto master = h.open (kPipeBaseName);

    std::vector<uint8_t> bytes;
    auto header = [&bytes] (uint32_t magic, uint32_t length) {
        uint8_t hd[8];
        writeLe32 (hd, magic);
        writeLe32 (hd + 4, length);
        bytes.insert (bytes.end(), hd, hd + 8);
    };
    header (0xF2B49E2D, 1296);         // wrong magic
    header (PIPE_MAGIC, 0);            // length 0
    header (PIPE_MAGIC, 0x9FFFFF + 1); // too long
    const auto good = frameProcMsg (makeProcMsg (KIND_GET_LINK_STATUS, 31, 0, 0));
    bytes.insert (bytes.end(), good.bytes, good.bytes + sizeof (good.bytes));
    ASSERT_EQ (master->sendRaw (bytes.data(), bytes.size(), 1000), Status::ok);

    ProcMsg reply;
    ASSERT_EQ (h.receive (*master, reply), Status::ok);
    EXPECT_EQ (reply.pid, 31u);
    EXPECT_FALSE (master->waitReadable (100));

    // The longest acceptable frame is read whole; only its first 16 bytes matter.
    std::vector<uint8_t> longest (8 + 0x9FFFFF, 0xEE);
    encodePipeHeader (longest.data(), 0x9FFFFF);
    const auto request = makeProcMsg (KIND_GET_LINK_STATUS, 32, 0, 0);
    std::memcpy (longest.data() + 8, &request, 16);
    std::thread writer ([&] { EXPECT_EQ (master->sendRaw (longest.data(), longest.size(), 5000), Status::ok); });
    const auto s = h.receive (*master, reply, 5000);
    writer.join();
    ASSERT_EQ (s, Status::ok);
    EXPECT_EQ (reply.pid, 32u);
    EXPECT_EQ (reply.result, 1u);
}

TEST (LyrLinkIPCServer, ProcessDisconnectForAnUnknownPidRemovesTheOldestClient)
{
    RealPipeHarness h;
    ASSERT_EQ (connectProcess (h, 0x1234), 1u);
    ASSERT_EQ (connectProcess (h, 0x5678), 1u);
    auto oldest = h.open (clientPipe (0x1234));

    auto master = h.open (kPipeBaseName);
    ASSERT_EQ (master->send (makeProcMsg (KIND_PROCESS_DISCONNECT, 77777, 0, 0), 1000), Status::ok);
    ASSERT_TRUE (h.waitForLog ("MainComponent::removePipe Illigal OK logpid = 1234"));
    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0, 0x5678 }));
    EXPECT_EQ (h.platform.quitRequests.load(), 0);

    // The removed pipe is gone: its client sees the end, and the name is free.
    ProcMsg msg;
    EXPECT_EQ (oldest->receive (msg, 1000), Status::closed);
    client::PipeClient again (h.scope);
    EXPECT_EQ (again.open (clientPipe (0x1234), 1000), Status::noManager);
}

TEST (LyrLinkIPCServer, TheLastProcessDisconnectEndsTheProgram)
{
    RealPipeHarness h;
    ASSERT_EQ (connectProcess (h, 900), 1u);
    auto own = h.open (clientPipe (900));
    ASSERT_EQ (own->send (makeProcMsg (KIND_PROCESS_DISCONNECT, 900, 0, 0), 1000), Status::ok);
    ASSERT_TRUE (h.waitForLog ("MainComponent::messageAnalize LyrLinkSysMgr END"));
    EXPECT_EQ (h.platform.quitRequests.load(), 1);
    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0 }));
}

TEST (LyrLinkIPCServer, NotificationsFromAnotherThreadWhileClientsComeAndGo)
{
    RealPipeHarness h;
    ASSERT_EQ (connectProcess (h, 50), 1u);
    auto steady = h.open (clientPipe (50));

    std::atomic<bool> stop { false };
    std::atomic<int> rounds { 0 };
    std::thread notifier ([&] {
        while (! stop.load())
        {
            {
                const juce::ScopedLock sl (h.mc->getLinkLock());
                h.mc->notifyMessage (1 + rounds % 80, KIND_DEVICE_CHANGED);
                ++rounds;
            }
            // Frames come at network pace; a thread that retakes the lock at once would starve
            // the message thread, which needs it for ProcessDisconnect.
            std::this_thread::sleep_for (std::chrono::microseconds (500));
        }
    });
    // The steady client must read, or its socket fills and every send waits.
    std::atomic<int> received { 0 };
    std::thread reader ([&] {
        ProcMsg m;
        while (! stop.load())
            if (steady->receive (m, 50) == Status::ok)
                ++received;
    });

    for (uint32_t pid = 1000; pid < 1012; ++pid)
    {
        ASSERT_EQ (connectProcess (h, pid), 1u);
        auto own = h.open (clientPipe (pid));
        pumpUntil ([&] { return own->waitReadable (0); }, 500);
        ASSERT_EQ (own->send (makeProcMsg (KIND_PROCESS_DISCONNECT, pid, 0, 0), 1000), Status::ok);
        ASSERT_TRUE (pumpUntil ([&] { return h.listedPids().size() == 2; }, 3000));
    }
    stop = true;
    notifier.join();
    reader.join();
    EXPECT_GT (rounds.load(), 0);
    EXPECT_GT (received.load(), 0);
    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0, 50 }));
}
