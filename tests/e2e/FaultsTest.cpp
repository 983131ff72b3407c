// Faults from outside the protocol, on the real program: a client that stops reading its pipe,
// and a manager killed with SIGKILL and started again at once. The delays are measured and
// printed ("[ figure ]"); they are held only to generous bounds, never to exact times.
#include "e2e/E2eScenario.h"

#include "ipc/native/PipeAddress_linux.h"
#include "link/FrameFormat.h"

#include <csignal>
#include <iostream>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace lyrlink;
using namespace lyrlink::e2e;
using namespace std::chrono_literals;
using client::Status;

namespace
{

long long msSince (Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds> (Clock::now() - start).count();
}

/** A send to a pipe waits at most this long for a client and then for the write. */
constexpr long long kSendBoundMs = 2000 + 2000;
/** What a loaded machine (and the sanitizers) may add to any measured delay. */
constexpr long long kMarginMs = 3000;

/**
    A client that connects like any other (ProcessConnect, its own pipe, LinkPermit) and then
    never reads its pipe. Its socket is its own, so the test sees how much the manager has queued
    on it.
*/
class NonReadingClient
{
public:
    NonReadingClient (const std::string& netns, uint32_t pid) : m_netns (netns), m_pid (pid) {}
    ~NonReadingClient()
    {
        if (m_fd >= 0)
            ::close (m_fd);
    }

    bool connect()
    {
        runInNetns (m_netns, [&] {
            ProcMsg reply;
            if (client::ManagerClient().request (makeProcMsg (KIND_PROCESS_CONNECT, m_pid, 0, 0), reply) != Status::ok)
                return;
            const auto address = makePipeSocketAddress (clientPipeName (m_pid));
            const int fd = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd >= 0 && ::connect (fd, address.get(), address.length) == 0)
                m_fd = fd;
            else if (fd >= 0)
                ::close (fd);
        });
        return m_fd >= 0 && send (makeProcMsg (KIND_LINK_PERMIT, m_pid, 0, 0));
    }

    /** Sends a request on the own pipe. */
    bool send (const ProcMsg& msg)
    {
        const auto framed = frameProcMsg (msg);
        return ::send (m_fd, framed.bytes, sizeof (framed.bytes), MSG_NOSIGNAL) ==
               static_cast<ssize_t> (sizeof (framed.bytes));
    }

    /** Bytes that arrived and were not read. */
    int queued() const
    {
        int n = 0;
        return ::ioctl (m_fd, FIONREAD, &n) == 0 ? n : -1;
    }

    /** True while the manager has not closed the connection. */
    bool isConnected() const
    {
        pollfd p { m_fd, POLLRDHUP, 0 };
        return ::poll (&p, 1, 0) == 0;
    }

    /**
        Asks for the link status on the own pipe until a reply does not arrive: the reply that
        finds the pipe full waits out its write limit (2000 ms) and is lost, so one that has not
        come after 2500 ms never will. From then on every send to this client waits out the
        limit. Returns the replies that arrived, or -1 when the pipe never filled.
    */
    int fillPipe()
    {
        for (int replies = 0; replies < 5000; ++replies)
        {
            const int before = queued();
            if (! send (makeProcMsg (KIND_GET_LINK_STATUS, m_pid, 0, 0)))
                return -1;
            if (! waitFor ([&] { return queued() > before; }, 2500ms))
                return replies;
        }
        return -1;
    }

private:
    std::string m_netns;
    uint32_t m_pid;
    int m_fd = -1;
};

} // namespace

TEST (Faults, AClientThatStopsReadingHoldsUpEachSendOnlyWithinItsBound)
{
    LYRLINK_REQUIRE_E2E();
    VethNetwork net (uniqueName ("stuck"), "10.50.0.1/24", "10.50.0.2/24");
    ASSERT_TRUE (net.isReady());
    Manager manager (net.managerNs());
    ASSERT_TRUE (manager.waitForLog ("MainComponent::MainComponent OK IPC PIPE Create", kStepTimeout))
        << manager.describe();

    // The client that stops reading connects first: every notification meets it before the
    // other client. It stands for a process of its own, which the manager could look up.
    auto standIn = Process::start ({ "/bin/sleep", "600" }, net.managerNs());
    NonReadingClient stuck (net.managerNs(), static_cast<uint32_t> (standIn.pid()));
    ASSERT_TRUE (stuck.connect()) << manager.describe();
    TestClient reader (net.managerNs(), static_cast<uint32_t> (::getpid()));
    ASSERT_EQ (reader.connect(), Status::ok) << manager.describe();

    ASSERT_EQ (net.addEquipmentAddress ("10.50.0.11/24"), 0);
    Simulator sim (net.equipmentNs(), { "--device", "id=1,type=1,ip=10.50.0.11" });
    ASSERT_GE (reader.waitFor ([] (const Received& r) { return r.isLinkStatusChanged (STATE_RUN); }, kLinkUpTimeout), 0)
        << manager.describe() << reader.describe();
    ASSERT_GE (reader.waitFor ([] (const Received& r) { return r.isDeviceChanged (1, DEVICE_PRESENT); }, kStepTimeout),
               0)
        << reader.describe();

    // Fill the pipe; the reply that found it full has been waited out by the time this returns.
    const int replies = stuck.fillPipe();
    ASSERT_GT (replies, 0) << "the pipe never filled";
    std::cout << "[ figure ] the non-reading client's pipe filled after " << replies << " replies (" << stuck.queued()
              << " bytes queued)\n";

    // Two devices join, one after the other: each DeviceChanged waits out its send to the full
    // pipe, then reaches the reading client.
    const auto phaseStart = Clock::now();
    for (const int id : { 6, 7 })
    {
        const auto mark = reader.receivedCount();
        const auto sent = Clock::now();
        ASSERT_TRUE (sim.command ("config id=" + std::to_string (id) + " dev=1"));
        ASSERT_GE (reader.waitFor ([&] (const Received& r) { return r.isDeviceChanged (id, DEVICE_PRESENT); },
                                   std::chrono::milliseconds (kSendBoundMs + kMarginMs), mark),
                   0)
            << manager.describe() << reader.describe();
        const auto delay = msSince (sent);
        std::cout << "[ figure ] DeviceChanged " << id << " reached the reading client " << delay
                  << " ms after the frame was sent\n";
        // The send to the full pipe was waited out (no sooner), and within its bound.
        EXPECT_GE (delay, 1900);
        EXPECT_LT (delay, kSendBoundMs + kMarginMs);
    }

    // Meanwhile requests on the master pipe are answered and the link stays up.
    const auto asked = Clock::now();
    LinkStatus status {};
    ASSERT_EQ (reader.getLinkStatus (status), Status::ok);
    std::cout << "[ figure ] GetLinkStatus answered in " << msSince (asked) << " ms\n";
    EXPECT_EQ (status.state, STATE_RUN);
    EXPECT_EQ (status.id, 17);

    // Keep-alives kept leaving: the link lock was held by each stuck send for at most its bound.
    std::this_thread::sleep_for (1500ms);
    std::vector<long long> keepAlives;
    for (const auto& line : sim.lines())
        if (line.isRx ("ConfigNotify") && line.get ("src") == "10.50.0.1")
            keepAlives.push_back (line.number ("t"));
    std::vector<long long> gaps;
    const auto phaseStartT =
        std::chrono::duration_cast<std::chrono::milliseconds> (phaseStart - sim.startedAt()).count();
    for (size_t i = 1; i < keepAlives.size(); ++i)
        if (keepAlives[i] >= phaseStartT)
            gaps.push_back (keepAlives[i] - keepAlives[i - 1]);
    std::cout << "[ figure ] keep-alive gaps while the pipe was full (ms):";
    for (const auto g : gaps)
        std::cout << " " << g;
    std::cout << "\n";
    // At least one keep-alive left while the pipe was full, and none is overdue now.
    ASSERT_GE (gaps.size(), 1u) << sim.output();
    gaps.push_back (std::chrono::duration_cast<std::chrono::milliseconds> (Clock::now() - sim.startedAt()).count() -
                    keepAlives.back());
    for (const auto g : gaps)
        EXPECT_LT (g, 2000 + kSendBoundMs + kMarginMs) << sim.output();
    EXPECT_TRUE (stuck.isConnected());
    EXPECT_FALSE (manager.hasLog ("MainComponent::removePipe OK size = 2")) << manager.describe();

    // A quit while a send to the full pipe is under way: shutdown waits for it at most its bound.
    ASSERT_TRUE (sim.command ("config id=8 dev=1"));
    ASSERT_TRUE (manager.waitForLog ("MainComponent::readConfigNotify add id = 8 ip = 10.50.0.11", kStepTimeout))
        << manager.describe();
    const auto quit = Clock::now();
    const auto exit = manager.process().stop (SIGTERM, std::chrono::milliseconds (kSendBoundMs + kMarginMs + 2000));
    const auto shutdownMs = msSince (quit);
    std::cout << "[ figure ] shutdown during a send to the full pipe took " << shutdownMs << " ms\n";
    ASSERT_TRUE (exit.has_value()) << "the manager did not end\n" << manager.describe();
    EXPECT_EQ (*exit, 0) << manager.describe();
    EXPECT_LT (shutdownMs, kSendBoundMs + kMarginMs);
}

TEST (Faults, AManagerKilledWithSigkillIsReplacedAtOnceAndLinksUp)
{
    LYRLINK_REQUIRE_E2E();
    E2eScenario s ("sigkill");
    ASSERT_EQ (s.problem(), "");
    ASSERT_TRUE (s.startSimulator ({ "id=1,type=1,ip=10.50.0.11" }));
    ASSERT_GE (s.waitForLinkState (STATE_RUN, 17, kLinkUpTimeout), 0) << s.describe();

    // A frame connection from the equipment is being served when the manager dies: the kernel
    // finishes closing the manager's end after the process is gone, so a socket on port 50000
    // outlives it, which the new listener must bind past.
    const auto frame =
        makeFrame (FRAME_CONFIG_NOTIFY, 0, configNotifyBody (5, 1, { 10, 50, 0, 11 }, { 2, 0, 10, 50, 0, 11 }));
    TcpConnection tcp (s.net.equipmentNs(), "10.50.0.1", 50000);
    ASSERT_TRUE (tcp.isConnected());
    ASSERT_TRUE (tcp.send (frame));
    ASSERT_TRUE (s.manager->waitForLog ("MainComponent::readConfigNotify add id = 5 ip = 10.50.0.11", kStepTimeout))
        << s.describe();

    // Killed, and started again the moment it has been reaped (as a supervisor would).
    const auto killed = Clock::now();
    ASSERT_EQ (s.manager->process().stop (SIGKILL, 5s), 128 + SIGKILL);
    Manager second (s.net.managerNs());
    ASSERT_TRUE (second.waitForLog ("MainComponent::MainComponent OK IPC PIPE Create", kStepTimeout))
        << second.describe();
    std::cout << "[ figure ] from SIGKILL to the new manager's master pipe: " << msSince (killed) << " ms\n";

    // It got both ports and the master pipe: start-up logged no failure.
    std::vector<std::string> startup;
    for (const auto& line : second.log())
    {
        startup.push_back (line);
        if (line.find ("IPC PIPE Create") != std::string::npos)
            break;
    }
    EXPECT_EQ (startup, (std::vector<std::string> { "MainComponent::MainComponent OK",
                                                    "MainComponent::MainComponent OK IPC PIPE Create" }))
        << second.describe();

    // The client connects again (its pipe name is free: it went with the old manager) and the
    // link comes up on the player's next ConfigNotify.
    s.client->abandon();
    TestClient again (s.net.managerNs(), static_cast<uint32_t> (::getpid()));
    ASSERT_EQ (again.connect(), Status::ok) << second.describe();
    ASSERT_GE (
        again.waitFor ([] (const Received& r) { return r.isLinkStatusChanged (STATE_RUN) && r.linkStatus().id == 17; },
                       kLinkUpTimeout),
        0)
        << second.describe() << again.describe();
    std::cout << "[ figure ] from SIGKILL to STATE_RUN of the new manager: " << msSince (killed) << " ms\n";
    ASSERT_GE (again.waitFor ([] (const Received& r) { return r.isDeviceChanged (1, DEVICE_PRESENT); }, kStepTimeout),
               0)
        << again.describe();

    // Frames over TCP reach the new manager too.
    TcpConnection fresh (s.net.equipmentNs(), "10.50.0.1", 50000);
    ASSERT_TRUE (fresh.isConnected());
    ASSERT_TRUE (fresh.send (frame));
    EXPECT_TRUE (second.waitForLog ("MainComponent::readConfigNotify add id = 5 ip = 10.50.0.11", kStepTimeout))
        << second.describe();

    EXPECT_EQ (again.disconnect(), Status::ok);
    EXPECT_EQ (second.process().wait (5s), 0) << second.describe();
}
