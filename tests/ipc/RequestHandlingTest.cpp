// Requests, replies and notifications on fake pipes: exact records, log lines and list changes.
#include "support/LinkHarness.h"

#include <gtest/gtest.h>

using namespace lyrlink;
using namespace lyrlink::test;

namespace
{

const std::string kAnalize = "MainComponent::messageAnalize";

std::string clientPipe (uint32_t pid) { return std::string (kPipeBaseName) + std::to_string (pid); }

bool allZero (const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

/** Drives a link-up with one player (device 3) on a wired interface; false when the link does
    not reach STATE_RUN (the link protocol is not there yet). */
bool bringLinkUp (LinkHarness& h)
{
    h.platform.rows.addWiredInterface (2, makeIpv4 (192, 168, 1, 10), makeIpv4 (255, 255, 255, 0), { 2, 0, 0, 0, 0, 10 });
    h.connectClient (4321);
    const auto notice = FrameBuilder::configNotify (3, 1, makeIpv4 (192, 168, 1, 20), { 2, 0, 0, 0, 0, 20 });
    h.receive (makeIpv4 (192, 168, 1, 20), notice);
    h.scheduler.advance (4000);
    // The first notice only brought the link up; the next one, in STATE_RUN, records device 3.
    h.receive (makeIpv4 (192, 168, 1, 20), notice);
    return h.mc->getLinkStatus().state == STATE_RUN;
}

bool isDisconnectFrame (const SentDatagram& d)
{
    return d.bytes.size() > kFrameHeaderSize && std::memcmp (d.bytes.data(), kFrameMagic, 10) == 0
        && d.bytes[10] == FRAME_DISCONNECT;
}

} // namespace

TEST (RequestHandling, StartsWithTheMasterPipeAlone)
{
    LinkHarness h;
    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0 }));
    // Written before a test can watch the log: the file has it.
    EXPECT_TRUE (h.mc->getLog().getLogFile().loadFileAsString().contains ("MainComponent::MainComponent OK IPC PIPE Create"));
}

TEST (RequestHandling, MasterPipeThatCannotBeCreatedLeavesTheListEmpty)
{
    // The name is taken before the component starts, as by a manager already running.
    LinkHarness first;
    FakePlatform platform;
    platform.pipes = first.platform.pipes;
    MainComponent mc (platform);
    const auto text = mc.getLog().getLogFile().loadFileAsString();
    EXPECT_TRUE (text.contains ("MainComponent::MainComponent NG IPC PIPE Create"));
    EXPECT_EQ (mc.getConnections().size(), 0);

    // With no connection at all, a notification sends nothing and says why.
    mc.notifyMessage (3, KIND_DEVICE_CHANGED);
    EXPECT_TRUE (mc.getLog().getLogFile().loadFileAsString().contains ("MainComponent::notifyMessage NG m_ipcs.size()"));
}

TEST (RequestHandling, ProcessConnectCreatesTheClientPipeAndRepliesOnTheMaster)
{
    LinkHarness h;
    h.request (0, KIND_PROCESS_CONNECT, 1234);

    EXPECT_TRUE (h.mc->isProcessConnected());
    EXPECT_FALSE (h.mc->isSuspended());
    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0, 1234 }));
    EXPECT_TRUE (h.logged (kAnalize + " ProcessConnect"));
    EXPECT_TRUE (h.logged ("MainComponent::createPipe OK Create Pipe = 1234 size = 2"));

    const auto messages = h.pipeMessages();
    ASSERT_EQ (messages.size(), 1u);
    EXPECT_EQ (messages[0].pipe, kPipeBaseName);
    const auto expected = makeProcMsg (KIND_PROCESS_CONNECT, 1234, 0, 1);
    EXPECT_EQ (0, std::memcmp (&messages[0].msg, &expected, sizeof (ProcMsg)));
}

TEST (RequestHandling, ProcessConnectTakesTheSuspendedFlagFromResult)
{
    struct Case
    {
        uint32_t result;
        bool suspended;
    };
    for (const auto c : { Case { 1, true }, Case { 0, false }, Case { 2, false }, Case { 0xFFFFFFFF, false } })
    {
        LinkHarness h;
        h.request (0, KIND_PROCESS_CONNECT, 77, 0, c.result);
        EXPECT_EQ (h.mc->isSuspended(), c.suspended) << c.result;
    }
}

TEST (RequestHandling, ASecondProcessConnectWithTheSamePidFails)
{
    LinkHarness h;
    h.request (0, KIND_PROCESS_CONNECT, 1234);
    h.clearPipeMessages();
    h.request (0, KIND_PROCESS_CONNECT, 1234);

    EXPECT_TRUE (h.logged ("MainComponent::createPipe NG Create Pipe = 1234 size = 2"));
    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0, 1234 }));
    const auto messages = h.pipeMessages();
    ASSERT_EQ (messages.size(), 1u);
    EXPECT_EQ (messages[0].msg.kind, KIND_PROCESS_CONNECT);
    EXPECT_EQ (messages[0].msg.pid, 1234u);
    EXPECT_EQ (messages[0].msg.result, 0u);
}

TEST (RequestHandling, LinkPermitSetsTheFlagAndGetsNoReply)
{
    LinkHarness h;
    h.request (0, KIND_PROCESS_CONNECT, 99);
    h.clearPipeMessages();
    h.request (1, KIND_LINK_PERMIT, 99);

    EXPECT_TRUE (h.mc->isLinkPermitted());
    EXPECT_TRUE (h.pipeMessages().empty());
    EXPECT_TRUE (h.logged ("MainComponent::replyMessage NG pzProcMsg->kind = 51"));
}

TEST (RequestHandling, GetDeviceOutsideOneToEightyFailsWithZeroData)
{
    for (const int32_t id : { 0, 81, -1, INT32_MIN, INT32_MAX })
    {
        LinkHarness h;
        h.request (0, KIND_GET_DEVICE, 555, id);
        const auto messages = h.pipeMessages();
        ASSERT_EQ (messages.size(), 1u) << id;
        const auto expected = makeProcMsg (KIND_GET_DEVICE, 555, 0, 0);
        EXPECT_EQ (0, std::memcmp (&messages[0].msg, &expected, sizeof (ProcMsg))) << id;
    }
}

TEST (RequestHandling, RepliesCarryTheRecordsOfTheirKind)
{
    LinkHarness h;
    h.request (0, KIND_GET_LINK_STATUS, 10);
    h.request (0, KIND_GET_DEVICE, 11, 80);
    h.request (0, KIND_GET_DEVICE_LIST, 12);
    const auto messages = h.pipeMessages();
    ASSERT_EQ (messages.size(), 3u);

    const auto status = h.mc->getLinkStatus();
    EXPECT_EQ (messages[0].msg.kind, KIND_GET_LINK_STATUS);
    EXPECT_EQ (messages[0].msg.pid, 10u);
    EXPECT_EQ (messages[0].msg.result, 1u);
    EXPECT_EQ (0, std::memcmp (messages[0].msg.data, &status, sizeof (status)));
    EXPECT_TRUE (allZero (messages[0].msg.data + sizeof (status), 1280 - sizeof (status)));

    EXPECT_EQ (messages[1].msg.result, 1u);
    EXPECT_EQ (messages[1].msg.id, 0);
    EXPECT_TRUE (allZero (messages[1].msg.data, 1280));

    EXPECT_EQ (messages[2].msg.kind, KIND_GET_DEVICE_LIST);
    EXPECT_EQ (messages[2].msg.result, 1u);
    EXPECT_TRUE (allZero (messages[2].msg.data, 1280));
}

TEST (RequestHandling, GetDeviceListPutsDeviceNAtOffset16Plus16TimesNMinus1)
{
    LinkHarness h;
    ASSERT_TRUE (bringLinkUp (h));
    ASSERT_EQ (h.mc->getDeviceEntry (3).state, DEVICE_PRESENT);
    h.clearPipeMessages();
    h.request (0, KIND_GET_DEVICE_LIST, 12);
    const auto messages = h.pipeMessages();
    ASSERT_EQ (messages.size(), 1u);
    const auto* raw = reinterpret_cast<const uint8_t*> (&messages[0].msg);
    EXPECT_TRUE (allZero (raw + 16, 32));
    EXPECT_EQ (raw[48], DEVICE_PRESENT);
    const auto entry = h.mc->getDeviceEntry (3);
    EXPECT_EQ (0, std::memcmp (raw + 48, &entry, 16));
    EXPECT_TRUE (allZero (raw + 64, 1296 - 64));
}

TEST (RequestHandling, RequestsOfUnknownKindAreLoggedAndDropped)
{
    LinkHarness h;
    for (const int32_t kind : { 0, 6, 50, 52, 89, 92, -1 })
    {
        h.request (0, kind, 1);
        EXPECT_TRUE (h.logged (kAnalize + " NG pzProcMsg->kind = " + std::to_string (kind))) << kind;
    }
    EXPECT_TRUE (h.pipeMessages().empty());
    EXPECT_EQ (h.mc->getConnections().size(), 1);
}

TEST (RequestHandling, ARequestShorterThanSixteenBytesReadsZeroForTheRest)
{
    LinkHarness h;
    const uint8_t bytes[6] = { KIND_GET_DEVICE, 0, 0, 0, 0x39, 0x30 };
    h.mc->messageAnalize (0, juce::MemoryBlock (bytes, sizeof (bytes)));
    const auto messages = h.pipeMessages();
    ASSERT_EQ (messages.size(), 1u);
    EXPECT_EQ (messages[0].msg.pid, 0x3039u);
    EXPECT_EQ (messages[0].msg.result, 0u);  // id 0
}

TEST (RequestHandling, ReplyToAConnectionBeyondTheListIsNotSent)
{
    LinkHarness h;
    h.mc->replyMessage ({ KIND_GET_LINK_STATUS, 1, 0, 0 }, 1, true);
    h.mc->replyMessage ({ KIND_GET_LINK_STATUS, 1, 0, 0 }, -1, true);
    EXPECT_EQ (h.logTexts().back(), "MainComponent::replyMessage NG m_ipcs.size() < index");
    EXPECT_TRUE (h.pipeMessages().empty());
}

TEST (RequestHandling, NotificationsGoToEveryClientPipeWithItsPidAndNeverToTheMaster)
{
    LinkHarness h;
    h.connectClient (100);
    h.connectClient (200);
    h.clearPipeMessages();

    h.mc->notifyMessage (17, KIND_LINK_STATUS_CHANGED);
    h.mc->notifyMessage (5, KIND_DEVICE_CHANGED);
    const auto messages = h.pipeMessages();
    ASSERT_EQ (messages.size(), 4u);
    const auto status = h.mc->getLinkStatus();
    const std::string pipes[4] = { clientPipe (100), clientPipe (200), clientPipe (100), clientPipe (200) };
    for (size_t i = 0; i < 4; ++i)
    {
        const auto& m = messages[i];
        EXPECT_EQ (m.pipe, pipes[i]);
        EXPECT_EQ (m.msg.pid, i % 2 == 0 ? 100u : 200u);
        EXPECT_EQ (m.msg.result, 1u);
        if (i < 2)
        {
            EXPECT_EQ (m.msg.kind, KIND_LINK_STATUS_CHANGED);
            EXPECT_EQ (m.msg.id, 17);
            EXPECT_EQ (0, std::memcmp (m.msg.data, &status, sizeof (status)));
        }
        else
        {
            EXPECT_EQ (m.msg.kind, KIND_DEVICE_CHANGED);
            EXPECT_EQ (m.msg.id, 5);
            EXPECT_TRUE (allZero (m.msg.data, 1280));
        }
    }
}

TEST (RequestHandling, NotificationsThatCannotBeSentAreLogged)
{
    LinkHarness h;
    h.mc->notifyMessage (3, KIND_LINK_STATUS_CHANGED);
    EXPECT_EQ (h.logTexts().back(), "MainComponent::notifyMessage NG m_ipcs.size() < 1");

    h.connectClient (100);
    h.clearPipeMessages();
    for (const int id : { 0, 81, -5 })
    {
        h.mc->notifyMessage (id, KIND_DEVICE_CHANGED);
        EXPECT_EQ (h.logTexts().back(), "MainComponent::notifyMessage NG id =" + std::to_string (id));
    }
    EXPECT_TRUE (h.pipeMessages().empty());

    // An unknown kind is logged and still sent, without data.
    h.mc->notifyMessage (9, 7);
    EXPECT_EQ (h.logTexts().back(), "MainComponent::notifyMessage NG kind = 7");
    const auto messages = h.pipeMessages();
    ASSERT_EQ (messages.size(), 1u);
    const auto expected = makeProcMsg (7, 100, 9, 1);
    EXPECT_EQ (0, std::memcmp (&messages[0].msg, &expected, sizeof (ProcMsg)));
}

TEST (RequestHandling, FailedSendsDoNotStopTheOtherClients)
{
    LinkHarness h;
    h.connectClient (100);
    h.connectClient (200);
    h.platform.pipes->writesFail = true;
    h.mc->notifyMessage (17, KIND_LINK_STATUS_CHANGED);
    h.platform.pipes->writesFail = false;
    h.mc->notifyMessage (17, KIND_LINK_STATUS_CHANGED);
    EXPECT_EQ (h.notifications().size(), 2u);
}

TEST (RequestHandling, ProcessDisconnectRemovesTheNamedClient)
{
    LinkHarness h;
    h.connectClient (100);
    h.connectClient (200);
    h.request (2, KIND_PROCESS_DISCONNECT, 200);

    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0, 100 }));
    EXPECT_FALSE (h.mc->isProcessConnected());
    EXPECT_TRUE (h.logged (kAnalize + " ProcessDisconnect"));
    EXPECT_TRUE (h.logged ("MainComponent::removePipe OK size = 2"));
    EXPECT_EQ (h.platform.quitRequests, 0);

    // The name is free again at once: the same process may connect anew.
    h.request (0, KIND_PROCESS_CONNECT, 200);
    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0, 100, 200 }));
}

TEST (RequestHandling, ProcessDisconnectForAnUnknownPidRemovesTheOldestClient)
{
    // pid 0 is the master's and is treated like any id that no client has.
    for (const uint32_t unknown : { 999u, 0u })
    {
        LinkHarness h;
        h.connectClient (0x4d2);
        h.connectClient (300);
        h.request (0, KIND_PROCESS_DISCONNECT, unknown);

        EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0, 300 })) << unknown;
        EXPECT_TRUE (h.logged ("MainComponent::removePipe Illigal OK logpid = 4d2")) << unknown;
        EXPECT_EQ (h.platform.quitRequests, 0);
    }
}

TEST (RequestHandling, AClientConnectedAsPidZeroGoesOnlyWhenZeroIsNamed)
{
    LinkHarness h;
    h.connectClient (0);
    h.connectClient (300);

    // An unknown id takes the oldest client that has a process id of its own.
    h.request (0, KIND_PROCESS_DISCONNECT, 999);
    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0, 0 }));
    EXPECT_TRUE (h.logged ("MainComponent::removePipe Illigal OK logpid = 12c"));

    // Naming 0 takes that client, never the master.
    h.request (0, KIND_PROCESS_DISCONNECT, 0);
    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0 }));
    EXPECT_EQ (h.mc->getConnections().get (0)->getPipeName(), kPipeBaseName);
    EXPECT_TRUE (h.logged ("MainComponent::removePipe OK size = 1"));
}

TEST (RequestHandling, TheLastProcessDisconnectEndsTheManager)
{
    LinkHarness h;
    h.connectClient (100);
    h.request (1, KIND_PROCESS_DISCONNECT, 100);

    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0 }));
    const auto lines = h.logTexts();
    ASSERT_GE (lines.size(), 3u);
    EXPECT_EQ (lines[lines.size() - 3], kAnalize + " ProcessDisconnect");
    EXPECT_EQ (lines[lines.size() - 2], "MainComponent::removePipe OK size = 1");
    EXPECT_EQ (lines[lines.size() - 1], kAnalize + " LyrLinkSysMgr END");
    EXPECT_EQ (h.platform.quitRequests, 1);
    EXPECT_EQ (h.mc->getLinkStatus().state, STATE_IDLE);
}

TEST (RequestHandling, ProcessDisconnectWithOnlyTheMasterListedEndsTheManagerToo)
{
    LinkHarness h;
    h.request (0, KIND_PROCESS_DISCONNECT, 100);
    EXPECT_TRUE (h.logged ("MainComponent::removePipe NG size = 1"));
    EXPECT_EQ (h.logTexts().back(), kAnalize + " LyrLinkSysMgr END");
    EXPECT_EQ (h.platform.quitRequests, 1);
    EXPECT_EQ (h.mc->getConnections().size(), 1);  // the master stays
}

TEST (RequestHandling, SuspendStopsTheLinkTimersAndReportsTheIdleLink)
{
    LinkHarness h;
    h.connectClient (100);
    h.request (1, KIND_RESUME, 100);
    EXPECT_FALSE (h.mc->isSuspended());
    EXPECT_TRUE (h.logged ("MainComponent::resume"));

    // Every timer running, as in the middle of a link with two devices aging.
    const uint32_t ids[] = { 1, 2, 4, 5, 6, 7, 8, 9, 102, 140 };
    for (auto id : ids)
        h.mc->getTimer (id)->startTimer (1000);
    h.scheduler.clearEvents();
    h.clearPipeMessages();

    h.request (1, KIND_SUSPEND, 100);

    EXPECT_TRUE (h.mc->isSuspended());
    EXPECT_TRUE (h.logged ("MainComponent::suspend"));
    std::vector<uint32_t> stopped;
    for (const auto& e : h.scheduler.events())
    {
        EXPECT_FALSE (e.started);
        stopped.push_back (e.timerId);
    }
    EXPECT_EQ (stopped, (std::vector<uint32_t> { 102, 140, 1, 5, 6, 2, 4 }));
    EXPECT_EQ (h.scheduler.running(), (std::map<uint32_t, int> { { 7, 1000 }, { 8, 1000 }, { 9, 1000 } }));

    const auto messages = h.pipeMessages();
    ASSERT_EQ (messages.size(), 1u);
    EXPECT_EQ (messages[0].pipe, clientPipe (100));
    EXPECT_EQ (messages[0].msg.kind, KIND_LINK_STATUS_CHANGED);
    EXPECT_EQ (messages[0].msg.id, 17);
    EXPECT_EQ (messages[0].linkStatus().state, STATE_IDLE);
    EXPECT_EQ (messages[0].linkStatus().id, 17);
}

TEST (RequestHandling, SuspendWhileTheLinkIsUpSendsDisconnectAndRemovesEveryDevice)
{
    LinkHarness h;
    ASSERT_TRUE (bringLinkUp (h));
    const uint8_t ownId = h.mc->getLinkStatus().id;
    h.clearSent();
    h.clearPipeMessages();

    h.request (1, KIND_SUSPEND, 4321);

    const auto sent = h.sent();
    ASSERT_FALSE (sent.empty());
    EXPECT_TRUE (isDisconnectFrame (sent[0]));
    const auto notes = h.notifications();
    ASSERT_GE (notes.size(), 2u);
    for (size_t i = 0; i + 1 < notes.size(); ++i)
    {
        EXPECT_EQ (notes[i].msg.kind, KIND_DEVICE_CHANGED);
        EXPECT_EQ (notes[i].device().state, DEVICE_REMOVED);
    }
    EXPECT_EQ (notes.back().msg.kind, KIND_LINK_STATUS_CHANGED);
    EXPECT_EQ (notes.back().linkStatus().state, STATE_IDLE);
    EXPECT_EQ (notes.back().msg.id, ownId);
}

TEST (RequestHandling, ProcessDisconnectWhileTheLinkIsUpSendsDisconnectFirst)
{
    LinkHarness h;
    ASSERT_TRUE (bringLinkUp (h));
    h.connectClient (5555);
    h.clearSent();

    // One of two clients leaves: the frame goes out, the link stays up, the manager runs on.
    h.request (2, KIND_PROCESS_DISCONNECT, 5555);
    auto sent = h.sent();
    ASSERT_EQ (sent.size(), 1u);
    EXPECT_TRUE (isDisconnectFrame (sent[0]));
    EXPECT_EQ (h.mc->getLinkStatus().state, STATE_RUN);
    EXPECT_EQ (h.platform.quitRequests, 0);

    // The last one: frame again, then the end.
    h.clearSent();
    h.request (1, KIND_PROCESS_DISCONNECT, 4321);
    sent = h.sent();
    ASSERT_FALSE (sent.empty());
    EXPECT_TRUE (isDisconnectFrame (sent[0]));
    EXPECT_EQ (h.platform.quitRequests, 1);
    EXPECT_EQ (h.mc->getLinkStatus().state, STATE_IDLE);
}
