#include "transport/native/StreamListener_linux.h"

#include <atomic>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lyrlink
{

namespace
{

class LinuxStreamConnection final : public StreamConnection
{
public:
    explicit LinuxStreamConnection (int fd) : m_fd (fd) {}
    ~LinuxStreamConnection() override { ::close (m_fd); }

    int read (uint8_t* buffer, size_t capacity) override
    {
        for (;;)
        {
            const ssize_t received = ::recv (m_fd, buffer, capacity, 0);
            if (received < 0 && errno == EINTR)
                continue;
            return received < 0 ? -1 : static_cast<int> (received);
        }
    }

    void shutdown() override { ::shutdown (m_fd, SHUT_RDWR); }

private:
    const int m_fd;
};

class LinuxStreamListener final : public StreamListener
{
public:
    ~LinuxStreamListener() override { close(); }

    bool open (uint16_t port, int backlog) override
    {
        if (m_fd.load() >= 0)
            return false;

        const int fd = ::socket (AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;

        const int one = 1;
        (void) ::setsockopt (fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof (one));

        sockaddr_in sa {};
        sa.sin_family = AF_INET;
        sa.sin_port = htons (port);
        sa.sin_addr.s_addr = htonl (INADDR_ANY);

        if (::bind (fd, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) != 0 || ::listen (fd, backlog) != 0)
        {
            ::close (fd);
            return false;
        }

        sockaddr_in bound {};
        socklen_t len = sizeof (bound);
        if (::getsockname (fd, reinterpret_cast<sockaddr*> (&bound), &len) == 0)
            m_boundPort = ntohs (bound.sin_port);

        m_fd = fd;
        return true;
    }

    uint16_t getBoundPort() const override { return m_boundPort; }

    WaitResult waitForConnection (int timeoutMs) override
    {
        pollfd pfd { m_fd.load(), POLLIN, 0 };
        if (pfd.fd < 0)
            return WaitResult::broken;
        const int ready = ::poll (&pfd, 1, timeoutMs);
        if (ready <= 0)
            return WaitResult::idle;
        return (pfd.revents & POLLIN) != 0 ? WaitResult::pending : WaitResult::broken;
    }

    std::unique_ptr<StreamConnection> accept() override
    {
        const int fd = ::accept4 (m_fd.load(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return nullptr;
        return std::make_unique<LinuxStreamConnection> (fd);
    }

    void shutdown() override
    {
        const int fd = m_fd.load();
        if (fd >= 0)
            ::shutdown (fd, SHUT_RDWR);
    }

    void close() override
    {
        const int fd = m_fd.exchange (-1);
        if (fd >= 0)
            ::close (fd);
    }

private:
    std::atomic<int> m_fd { -1 };
    uint16_t m_boundPort = 0;
};

} // namespace

std::unique_ptr<StreamListener> createLinuxStreamListener() { return std::make_unique<LinuxStreamListener>(); }

} // namespace lyrlink
