// The client's end of a pipe on Linux: a non-blocking Unix stream socket connected to the abstract
// address that the manager's endpoint listens on.
#include "client/LyrLinkClient.h"

#include "client/ClientClock.h"

#include "ipc/native/PipeAddress_linux.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lyrlink::client
{

namespace
{
/** poll() on one descriptor until events or the deadline; -1 on failure, 0 on time-out. */
int pollUntil (int fd, short events, Clock::time_point deadline)
{
    for (;;)
    {
        pollfd p { fd, events, 0 };
        const int r = ::poll (&p, 1, msLeft (deadline));
        if (r < 0 && errno == EINTR)
            continue;
        return r;
    }
}
} // namespace

uint32_t currentProcessId() noexcept { return static_cast<uint32_t> (::getpid()); }

void PipeClient::close()
{
    if (m_handle != kNoHandle)
        ::close (static_cast<int> (m_handle));
    m_handle = kNoHandle;
    m_pending.clear();
}

Status PipeClient::open (const std::string& name, int timeoutMs)
{
    close();
    const auto address = makePipeSocketAddress (m_scope + name);
    if (! address.isValid())
        return Status::noManager;

    const int fd = ::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return Status::ioError;

    const auto deadline = Clock::now() + std::chrono::milliseconds (timeoutMs);
    for (;;)
    {
        if (::connect (fd, address.get(), address.length) == 0)
            break;
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN && msLeft (deadline) > 0)
        {
            // The server's queue is full: try again shortly.
            ::usleep (10000);
            continue;
        }
        ::close (fd);
        if (error == ECONNREFUSED || error == ENOENT)
            return Status::noManager;
        return error == EAGAIN ? Status::timeout : Status::ioError;
    }
    m_handle = fd;
    return Status::ok;
}

Status PipeClient::sendRaw (const void* data, size_t size, int timeoutMs)
{
    if (! isOpen())
        return Status::closed;
    const int fd = static_cast<int> (m_handle);
    const auto* bytes = static_cast<const uint8_t*> (data);
    const auto deadline = Clock::now() + std::chrono::milliseconds (timeoutMs);
    size_t sent = 0;
    while (sent < size)
    {
        const auto n = ::send (fd, bytes + sent, size - sent, MSG_NOSIGNAL);
        if (n > 0)
        {
            sent += static_cast<size_t> (n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EPIPE || errno == ECONNRESET))
            return Status::closed;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return Status::ioError;
        const int r = pollUntil (fd, POLLOUT, deadline);
        if (r < 0)
            return Status::ioError;
        if (r == 0)
            return Status::timeout;
    }
    return Status::ok;
}

uint32_t PipeClient::getServerProcessId() const
{
    // For a connected stream socket the kernel keeps the credentials that the listening process
    // had when it called listen(): those of the process that claimed the name.
    ucred credentials {};
    socklen_t size = sizeof (credentials);
    if (! isOpen()
        || ::getsockopt (static_cast<int> (m_handle), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0
        || credentials.pid <= 0)
        return 0;
    return static_cast<uint32_t> (credentials.pid);
}

bool PipeClient::waitForBytes (int timeoutMs)
{
    return pollUntil (static_cast<int> (m_handle), POLLIN, Clock::now() + std::chrono::milliseconds (timeoutMs)) > 0;
}

Status PipeClient::readSome (uint8_t* buffer, size_t capacity, size_t& count, int timeoutMs)
{
    const int fd = static_cast<int> (m_handle);
    const auto deadline = Clock::now() + std::chrono::milliseconds (timeoutMs);
    count = 0;
    for (;;)
    {
        const auto n = ::recv (fd, buffer, capacity, MSG_DONTWAIT);
        if (n >= 0)
        {
            count = static_cast<size_t> (n);
            return Status::ok;
        }
        if (errno == EINTR)
            continue;
        if (errno == ECONNRESET)
            return Status::closed;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return Status::ioError;
        const int r = pollUntil (fd, POLLIN, deadline);
        if (r < 0)
            return Status::ioError;
        if (r == 0)
            return Status::timeout;
    }
}

} // namespace lyrlink::client
