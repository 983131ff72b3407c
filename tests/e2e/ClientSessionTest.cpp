// The real program and its clients on real pipes, without equipment: start-up while another
// program holds port 50000, a client that is killed without a word, and garbage on the pipes.
// Each test has a network namespace of its own, so the port and the pipe names are its alone.
#include "e2e/E2eScenario.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace lyrlink;
using namespace lyrlink::e2e;
using namespace std::chrono_literals;
using client::Status;

namespace
{

using Namespace = LoopbackNamespace;

/** A socket bound to port 50000 on all addresses inside netns, as another program would hold it. */
int holdPort (const std::string& netns, int socketType)
{
    int fd = -1;
    runInNetns (netns, [&] {
        fd = ::socket (AF_INET, socketType | SOCK_CLOEXEC, 0);
        sockaddr_in sa {};
        sa.sin_family = AF_INET;
        sa.sin_port = htons (50000);
        if (fd >= 0
            && (::bind (fd, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) != 0
                || (socketType == SOCK_STREAM && ::listen (fd, 1) != 0)))
        {
            ::close (fd);
            fd = -1;
        }
    });
    return fd;
}

/** The log lines between the first line and the pipe line of start-up. */
std::vector<std::string> startupLines (const Manager& manager)
{
    std::vector<std::string> lines;
    for (const auto& line : manager.log())
    {
        if (line.rfind ("MainComponent::MainComponent", 0) == 0)
            lines.push_back (line);
        if (line.find ("IPC PIPE Create") != std::string::npos)
            break;
    }
    return lines;
}

void expectIdleStatus (TestClient& client)
{
    LinkStatus status {};
    ASSERT_EQ (client.getLinkStatus (status), Status::ok);
    EXPECT_EQ (status.state, STATE_IDLE);
    EXPECT_EQ (status.type, 4);
    EXPECT_EQ (status.id, 17);
    EXPECT_EQ (status.linkif, 255);
}

} // namespace

TEST (ClientSession, APortHeldByAnotherProgramIsLoggedAndTheManagerServesOn)
{
    LYRLINK_REQUIRE_E2E();
    struct Case
    {
        const char* what;
        int socketType;
        const char* line;
    };
    for (const Case c : { Case { "udp", SOCK_DGRAM, "MainComponent::MainComponent NG UDP port open" },
                          Case { "tcp", SOCK_STREAM, "MainComponent::MainComponent NG TCP port open" } })
    {
        SCOPED_TRACE (c.what);
        Namespace ns (std::string ("port") + c.what);
        ASSERT_TRUE (ns.ready);
        const int held = holdPort (ns.name, c.socketType);
        ASSERT_GE (held, 0);

        Manager manager (ns.name);
        ASSERT_TRUE (manager.waitForLog ("MainComponent::MainComponent OK IPC PIPE Create", kStepTimeout)) << manager.describe();
        EXPECT_EQ (startupLines (manager), (std::vector<std::string> { "MainComponent::MainComponent OK", c.line,
                                                                       "MainComponent::MainComponent OK IPC PIPE Create" }))
            << manager.describe();

        // It runs on and answers on its pipes.
        TestClient client (ns.name, static_cast<uint32_t> (::getpid()));
        expectIdleStatus (client);
        EXPECT_TRUE (manager.process().isRunning());
        EXPECT_EQ (manager.process().stop (SIGTERM, 5s), 0);
        ::close (held);
    }
}

TEST (ClientSession, AClientKilledWithoutDisconnectLeavesTheManagerServing)
{
    LYRLINK_REQUIRE_E2E();
    Namespace ns ("killed");
    ASSERT_TRUE (ns.ready);
    Manager manager (ns.name);
    ASSERT_TRUE (manager.waitForLog ("MainComponent::MainComponent OK IPC PIPE Create", kStepTimeout)) << manager.describe();

    // A real client process, connected with its own pipe, then killed.
    TempDir out;
    auto watcher = Process::start ({ builtProgram ("tools/lyrlinkctl/lyrlinkctl"), "watch" }, ns.name, {},
                                   out.path() + "/watch.txt");
    const auto created = "MainComponent::createPipe OK Create Pipe = " + std::to_string (watcher.pid()) + " size = 2";
    ASSERT_TRUE (manager.waitForLog (created, kStepTimeout)) << manager.describe() << readFile (out.path() + "/watch.txt");
    ASSERT_TRUE (waitFor ([&] { return manager.hasLog ("MainComponent::replyMessage NG pzProcMsg->kind = 51"); }, kStepTimeout))
        << manager.describe();
    const auto killedPid = watcher.pid();
    ASSERT_EQ (watcher.stop (SIGKILL, 5s), 128 + SIGKILL);

    // The manager runs on and serves: requests are answered and a new client gets a pipe, while
    // the dead client's pipe stays listed (only the application monitor would notice it). A pipe
    // serves one client at a time, so a request answered on the dead client's own pipe shows that
    // the manager has seen that client's end.
    const auto deadPipe = std::string (kPipeBaseName) + std::to_string (killedPid);
    const auto request = frameProcMsg (makeProcMsg (KIND_GET_LINK_STATUS, static_cast<uint32_t> (killedPid), 0, 0));
    TestClient next (ns.name, static_cast<uint32_t> (::getpid()));
    ProcMsg reply {};
    ASSERT_EQ (next.sendRaw (deadPipe, Bytes (request.bytes, request.bytes + sizeof (request.bytes)), 5000, &reply), Status::ok)
        << manager.describe();
    EXPECT_EQ (decodeProcMsg (reply).kind, KIND_GET_LINK_STATUS);
    EXPECT_EQ (decodeProcMsg (reply).result, 1u);
    EXPECT_TRUE (manager.process().isRunning());
    expectIdleStatus (next);
    ASSERT_EQ (next.connect(), Status::ok) << manager.describe();
    EXPECT_TRUE (manager.hasLog ("MainComponent::createPipe OK Create Pipe = " + std::to_string (::getpid()) + " size = 3"))
        << manager.describe();
    PeerTable table {};
    EXPECT_EQ (next.getDeviceList (table), Status::ok);
    EXPECT_FALSE (manager.hasLog ("MainComponent::messageAnalize ProcessDisconnect"));
    EXPECT_FALSE (manager.hasLog ("MainComponent::removePipe OK size = 1")) << "pipe of " << killedPid << " removed";

    // Its own disconnect leaves the dead client listed, so the manager does not end. The end would
    // be decided while that ProcessDisconnect is handled; a request answered afterwards comes
    // after it.
    EXPECT_EQ (next.disconnect(), Status::ok);
    ASSERT_TRUE (manager.waitForLog ("MainComponent::removePipe OK size = 2", kStepTimeout)) << manager.describe();
    expectIdleStatus (next);
    EXPECT_TRUE (manager.process().isRunning());
    EXPECT_FALSE (manager.hasLog ("MainComponent::messageAnalize LyrLinkSysMgr END"));
}

TEST (ClientSession, TwoClientsShareTheLinkAndTheLastDisconnectEndsTheProgram)
{
    LYRLINK_REQUIRE_E2E();
    E2eScenario s ("twoclients");
    ASSERT_EQ (s.problem(), "");
    // The second client stands for a process of its own, which the manager could look up.
    auto standIn = Process::start ({ "/bin/sleep", "600" }, s.net.managerNs());
    TestClient second (s.net.managerNs(), static_cast<uint32_t> (standIn.pid()));
    ASSERT_EQ (second.connect(), Status::ok) << s.describe();
    EXPECT_TRUE (s.manager->hasLog ("MainComponent::createPipe OK Create Pipe = " + std::to_string (standIn.pid()) + " size = 3"));

    ASSERT_TRUE (s.startSimulator ({ "id=1,type=1,ip=10.50.0.11" }));
    ASSERT_GE (s.waitForLinkState (STATE_RUN, 17, kLinkUpTimeout), 0) << s.describe();
    ASSERT_GE (second.waitFor ([] (const Received& r) { return r.isLinkStatusChanged (STATE_RUN); }, kStepTimeout), 0)
        << second.describe();
    ASSERT_GE (second.waitFor ([] (const Received& r) { return r.isDeviceChanged (1, DEVICE_PRESENT); }, kStepTimeout), 0)
        << second.describe();

    // The first ProcessDisconnect: a Disconnect frame goes out, that client's pipe is removed, and
    // the manager keeps the link and serves the other client, ignoring the equipment meanwhile.
    auto simMark = s.sim->lineCount();
    ASSERT_EQ (second.disconnect(), Status::ok);
    ASSERT_TRUE (s.manager->waitForLog ("MainComponent::removePipe OK size = 2", kStepTimeout)) << s.describe();
    int disconnect = s.sim->waitForReceived ("Disconnect", "10.50.0.1", kStepTimeout, simMark);
    ASSERT_GE (disconnect, 0) << s.describe();
    EXPECT_EQ (s.sim->lines()[(size_t) disconnect].number ("id"), 17);
    const auto ignoredMark = s.client->receivedCount();
    ASSERT_TRUE (s.sim->command ("config id=6 dev=1"));
    ASSERT_GE (s.sim->waitFor ([] (const SimLine& l) { return l.isTx ("ConfigNotify") && l.number ("id") == 6; }, kStepTimeout, simMark), 0)
        << s.describe();
    std::this_thread::sleep_for (500ms);  // the manager reads it meanwhile
    LinkStatus status {};
    ASSERT_EQ (s.client->getLinkStatus (status), Status::ok);
    EXPECT_EQ (status.state, STATE_RUN);
    EXPECT_TRUE (s.manager->process().isRunning());

    // A client that connects makes the manager hear the equipment again. It handles one sender's
    // frames in order, so once a later announcement is added the one above has been read: it must
    // have been dropped.
    TestClient again (s.net.managerNs(), static_cast<uint32_t> (standIn.pid()));
    ASSERT_EQ (again.connect(), Status::ok) << s.describe();
    ASSERT_TRUE (s.sim->command ("config id=7 dev=1"));
    ASSERT_TRUE (s.manager->waitForLog ("MainComponent::readConfigNotify add id = 7 ip = 10.50.0.11", kStepTimeout)) << s.describe();
    EXPECT_FALSE (s.manager->hasLog ("MainComponent::readConfigNotify add id = 6 ip = 10.50.0.11")) << s.describe();
    EXPECT_LT (s.client->waitFor ([] (const Received& r) { return r.isDeviceChanged (6, DEVICE_PRESENT); }, 0ms, ignoredMark), 0)
        << s.describe();
    ASSERT_EQ (again.disconnect(), Status::ok);
    ASSERT_TRUE (s.manager->waitForLog ("MainComponent::removePipe OK size = 2", kStepTimeout, 2)) << s.describe();

    // The last one ends the program, after sending its Disconnect too.
    simMark = s.sim->lineCount();
    ASSERT_EQ (s.client->disconnect(), Status::ok);
    EXPECT_EQ (s.manager->process().wait (5s), 0) << s.describe();
    const auto log = s.manager->log();
    ASSERT_FALSE (log.empty());
    EXPECT_EQ (log.back(), "MainComponent::messageAnalize LyrLinkSysMgr END") << s.describe();
    disconnect = s.sim->waitForReceived ("Disconnect", "10.50.0.1", kStepTimeout, simMark);
    EXPECT_GE (disconnect, 0) << s.describe();
}
