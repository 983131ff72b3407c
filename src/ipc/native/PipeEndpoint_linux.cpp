// Pipes as Unix-domain stream sockets in the abstract namespace (the address: PipeAddress_linux.h).
// An abstract name belongs to one listening socket at a time (a second bind fails, which is how a
// taken name shows) and vanishes with the process that holds it, so a killed manager leaves nothing
// behind.
//
// Threads: one reader (the connection's thread) accepts clients and reads; any number of writers
// (serialised per connection above this class). The reader touches the sockets only under m_lock
// and without blocking there: it waits in poll() outside the lock on the socket and on m_wakeFd,
// which close() makes readable for good. Writers work on a duplicate of the client socket, so the
// reader may drop the client while a write is under way.
#include "ipc/native/PipeEndpoint_linux.h"

#include "ipc/native/PipeAddress_linux.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lyrlink
{

namespace
{

constexpr int kListenBacklog = 8;

class LinuxPipeEndpoint final : public PipeEndpoint
{
public:
    explicit LinuxPipeEndpoint (std::string scope) : m_scope (std::move (scope))
    {
        m_wakeFd = ::eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK);
    }

    ~LinuxPipeEndpoint() override
    {
        close();
        if (m_wakeFd >= 0)
            ::close (m_wakeFd);
    }

    bool create (const std::string& name) override
    {
        const auto address = makePipeSocketAddress (m_scope + name);
        if (m_wakeFd < 0 || ! address.isValid())
            return false;

        const int fd = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return false;
        if (::bind (fd, address.get(), address.length) != 0 || ::listen (fd, kListenBacklog) != 0)
        {
            ::close (fd);
            return false;
        }

        const std::lock_guard<std::mutex> g (m_lock);
        if (m_closed || m_listenFd >= 0)
        {
            ::close (fd);
            return false;
        }
        m_listenFd = fd;
        return true;
    }

    int read (uint8_t* buffer, size_t size) override
    {
        for (;;)
        {
            int client = -1;
            {
                const std::lock_guard<std::mutex> g (m_lock);
                if (m_closed || m_listenFd < 0)
                    return -1;
                client = m_clientFd;
            }

            if (client < 0)
            {
                if (! acceptClient())
                    return -1;
                continue;
            }

            if (! waitReadable (client))
                continue;  // woken: the loop sees the endpoint closed

            const std::lock_guard<std::mutex> g (m_lock);
            if (m_closed || m_clientFd != client)
                continue;
            const auto n = ::recv (client, buffer, size, MSG_DONTWAIT);
            if (n > 0)
                return static_cast<int> (n);
            if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
                continue;
            // End of stream or a broken connection: this client is gone.
            ::close (m_clientFd);
            m_clientFd = -1;
            return 0;
        }
    }

    bool write (const uint8_t* data, size_t size, int connectWaitMs, int writeTimeoutMs) override
    {
        int fd = -1;
        {
            std::unique_lock<std::mutex> l (m_lock);
            m_clientChanged.wait_for (l, std::chrono::milliseconds (connectWaitMs),
                                      [this] { return m_closed || m_clientFd >= 0; });
            if (m_closed || m_clientFd < 0)
                return false;
            fd = ::fcntl (m_clientFd, F_DUPFD_CLOEXEC, 0);
        }
        if (fd < 0)
            return false;

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (writeTimeoutMs);
        size_t sent = 0;
        while (sent < size)
        {
            const auto n = ::send (fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
            {
                sent += static_cast<size_t> (n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                break;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                break;
            pollfd p { fd, POLLOUT, 0 };
            if (::poll (&p, 1, static_cast<int> (left)) < 0 && errno != EINTR)
                break;
        }

        // A message cut off part way would leave the client reading the rest of it as the next
        // header; ending the connection instead lets the client see a clean end of the stream.
        if (sent > 0 && sent < size)
            ::shutdown (fd, SHUT_RDWR);
        ::close (fd);
        return sent == size;
    }

    void close() override
    {
        {
            const std::lock_guard<std::mutex> g (m_lock);
            if (m_closed)
                return;
            m_closed = true;
            if (m_clientFd >= 0)
            {
                // Also ends any write still going on a duplicate of this socket.
                ::shutdown (m_clientFd, SHUT_RDWR);
                ::close (m_clientFd);
                m_clientFd = -1;
            }
            if (m_listenFd >= 0)
            {
                ::close (m_listenFd);  // the name is free from here on
                m_listenFd = -1;
            }
            if (m_wakeFd >= 0)
            {
                const uint64_t one = 1;
                [[maybe_unused]] const auto written = ::write (m_wakeFd, &one, sizeof (one));
            }
        }
        m_clientChanged.notify_all();
    }

    void setRefusalObserver (RefusalObserver observer) override { m_onRefused = std::move (observer); }

private:
    /** Waits until fd is readable; false when woken by close() (or on a poll failure). The fd may
        have been closed meanwhile: the wake descriptor makes poll return all the same, and the
        caller checks under the lock before using it. */
    bool waitReadable (int fd)
    {
        pollfd p[2] { { fd, POLLIN, 0 }, { m_wakeFd, POLLIN, 0 } };
        for (;;)
        {
            const int r = ::poll (p, 2, -1);
            if (r < 0 && errno == EINTR)
                continue;
            return r > 0 && p[1].revents == 0;
        }
    }

    /** Waits for the next client that may be served; false once the endpoint is closed. */
    bool acceptClient()
    {
        for (;;)
        {
            int listenFd = -1;
            {
                const std::lock_guard<std::mutex> g (m_lock);
                if (m_closed)
                    return false;
                listenFd = m_listenFd;
            }
            if (! waitReadable (listenFd))
            {
                const std::lock_guard<std::mutex> g (m_lock);
                if (m_closed)
                    return false;
                continue;
            }

            int fd = -1;
            int error = 0;
            {
                const std::lock_guard<std::mutex> g (m_lock);
                if (m_closed)
                    return false;
                fd = ::accept4 (m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
                error = errno;
            }
            if (fd < 0)
            {
                if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM)
                    backOff();
                continue;
            }

            ucred peer {};
            socklen_t peerSize = sizeof (peer);
            const bool known = ::getsockopt (fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) == 0;
            if (! known || (peer.uid != ::geteuid() && peer.uid != 0))
            {
                // Anyone on the machine can reach an abstract name; only the manager's own user
                // (or root) may drive it.
                ::close (fd);
                if (m_onRefused)
                    m_onRefused (known ? static_cast<uint32_t> (peer.uid) : 0xFFFFFFFFu, known ? static_cast<int32_t> (peer.pid) : -1);
                continue;
            }

            {
                const std::lock_guard<std::mutex> g (m_lock);
                if (m_closed)
                {
                    ::close (fd);
                    return false;
                }
                m_clientFd = fd;
            }
            m_clientChanged.notify_all();
            return true;
        }
    }

    /** Out of descriptors: waits a little (or until closed) instead of spinning on accept. */
    void backOff()
    {
        pollfd p { m_wakeFd, POLLIN, 0 };
        ::poll (&p, 1, 100);
    }

    const std::string m_scope;
    std::mutex m_lock;
    std::condition_variable m_clientChanged;
    int m_listenFd = -1;
    int m_clientFd = -1;
    int m_wakeFd = -1;
    bool m_closed = false;
    RefusalObserver m_onRefused;
};

} // namespace

std::unique_ptr<PipeEndpoint> createLinuxPipeEndpoint (const std::string& scope)
{
    return std::make_unique<LinuxPipeEndpoint> (scope);
}

} // namespace lyrlink
