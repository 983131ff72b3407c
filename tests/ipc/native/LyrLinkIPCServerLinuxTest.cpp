// The manager's pipes on abstract Unix sockets, where only Linux can show it: a client of another
// user is refused (the kernel's peer credentials), and removal meets a sender that the kernel has
// put to sleep waiting for a client.
#include "ipc/RealPipeHarness.h"
#include "ipc/native/PipeAddress_linux.h"

#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <fstream>
#include <thread>

using namespace lyrlink;
using namespace lyrlink::test;
using client::Status;

namespace
{

/** What a watched endpoint's sender is doing: set by the sending thread, read by the test. */
struct WriteWatch
{
    std::atomic<pid_t> writer { 0 };  // kernel thread id of the last thread to enter write
    std::atomic<bool> entered { false };
    std::atomic<bool> returned { false };
    std::atomic<bool> result { false };
};

/** Passes everything to the real endpoint and reports when a write starts and ends. */
class WatchedEndpoint final : public PipeEndpoint
{
public:
    WatchedEndpoint (std::unique_ptr<PipeEndpoint> inner, std::shared_ptr<WriteWatch> watch)
        : m_inner (std::move (inner)), m_watch (std::move (watch))
    {
    }

    bool create (const std::string& name) override { return m_inner->create (name); }
    int read (uint8_t* buffer, size_t size) override { return m_inner->read (buffer, size); }
    void close() override { m_inner->close(); }
    void setRefusalObserver (RefusalObserver observer) override { m_inner->setRefusalObserver (std::move (observer)); }

    bool write (const uint8_t* data, size_t size, int connectWaitMs, int writeTimeoutMs) override
    {
        m_watch->writer = static_cast<pid_t> (::syscall (SYS_gettid));
        m_watch->entered = true;
        const bool ok = m_inner->write (data, size, connectWaitMs, writeTimeoutMs);
        m_watch->result = ok;
        m_watch->returned = true;
        return ok;
    }

private:
    std::unique_ptr<PipeEndpoint> m_inner;
    std::shared_ptr<WriteWatch> m_watch;
};

/** True while the thread is blocked in the kernel (state S in its stat line), which is where a
    sender waiting for a client sits. */
bool isThreadAsleep (pid_t tid)
{
    std::ifstream stat ("/proc/self/task/" + std::to_string (tid) + "/stat");
    std::string line;
    if (! std::getline (stat, line))
        return false;
    // The state follows the name, which is in parentheses and may hold anything.
    const auto end = line.rfind (')');
    return end != std::string::npos && end + 2 < line.size() && line[end + 2] == 'S';
}

} // namespace

TEST (LyrLinkIPCServer, AClientRunningAsAnotherUserIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a client as another user";
    const passwd* nobody = ::getpwnam ("nobody");
    if (nobody == nullptr)
        GTEST_SKIP() << "no user nobody";
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;

    RealPipeHarness h;
    const auto address = makePipeSocketAddress (h.scope + kPipeBaseName);
    const auto request = frameProcMsg (makeProcMsg (KIND_GET_LINK_STATUS, 5, 0, 0));

    const pid_t child = ::fork();
    ASSERT_GE (child, 0);
    if (child == 0)
    {
        // Only system calls from here on: the parent has threads.
        if (::setgid (gid) != 0 || ::setuid (uid) != 0)
            ::_exit (10);
        const int fd = ::socket (AF_UNIX, SOCK_STREAM, 0);
        if (::connect (fd, address.get(), address.length) != 0)
            ::_exit (11);
        ::send (fd, request.bytes, sizeof (request.bytes), MSG_NOSIGNAL);
        pollfd p { fd, POLLIN, 0 };
        if (::poll (&p, 1, 5000) != 1)
            ::_exit (12);  // neither a reply nor the end
        // Closed without a reply: the end of the stream, or a reset since our request was
        // never read.
        uint8_t b[16];
        const auto n = ::recv (fd, b, sizeof (b), 0);
        ::_exit (n == 0 || (n < 0 && errno == ECONNRESET) ? 0 : 13);
    }

    int status = -1;
    ASSERT_TRUE (pumpUntil ([&] { return ::waitpid (child, &status, WNOHANG) == child; }, 8000));
    ASSERT_TRUE (WIFEXITED (status));
    EXPECT_EQ (WEXITSTATUS (status), 0);
    EXPECT_TRUE (h.logged ("LyrLinkIPCServer::run NG " + std::string (kPipeBaseName) + " client refused uid = "
                           + std::to_string (uid) + " pid = " + std::to_string (child)));

    // The pipe goes on serving its own user.
    auto master = h.open (kPipeBaseName);
    ProcMsg reply;
    ASSERT_EQ (h.exchange (*master, makeProcMsg (KIND_GET_LINK_STATUS, 6, 0, 0), reply), Status::ok);
    EXPECT_EQ (reply.pid, 6u);
}

TEST (LyrLinkIPCServer, RemovingAPipeEndsASendWaitingOnItWithoutFreeingItUnderTheSender)
{
    RealPipeHarness h;
    const auto watch = std::make_shared<WriteWatch>();
    const auto realPipes = h.platform.makePipeEndpoint;
    h.platform.makePipeEndpoint = [realPipes, watch]() -> std::unique_ptr<PipeEndpoint> {
        return std::make_unique<WatchedEndpoint> (realPipes(), watch);
    };
    ASSERT_EQ (connectProcess (h, 111), 1u);  // nobody opens pipe 111: a send waits for a client
    h.platform.makePipeEndpoint = realPipes;

    std::atomic<bool> done { false };
    std::chrono::steady_clock::time_point started, finished;
    std::thread notifier ([&] {
        const juce::ScopedLock sl (h.mc->getLinkLock());  // as the receive thread notifies
        started = std::chrono::steady_clock::now();
        h.mc->notifyMessage (3, KIND_DEVICE_CHANGED);
        finished = std::chrono::steady_clock::now();
        done = true;
    });

    // The send has reached pipe 111 and its thread has gone to sleep inside the write, which with
    // no client can only be the wait for one: removal below meets a send that is waiting.
    const bool waiting = pumpUntil ([&] { return watch->entered.load() && isThreadAsleep (watch->writer.load()); }, 3000);
    EXPECT_TRUE (waiting) << "the send never waited on pipe 111";
    EXPECT_FALSE (watch->returned.load());

    // Removal runs on the message thread and does not need the link lock.
    h.mc->removePipe (111);
    EXPECT_EQ (h.listedPids(), (std::vector<uint32_t> { 0 }));
    ASSERT_TRUE (pumpUntil ([&] { return done.load(); }, 3000));
    notifier.join();
    EXPECT_TRUE (watch->returned.load());
    EXPECT_FALSE (watch->result.load()) << "nothing could have been delivered";
    EXPECT_LT (std::chrono::duration_cast<std::chrono::milliseconds> (finished - started).count(), 1500);
}
