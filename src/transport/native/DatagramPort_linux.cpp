#include "transport/native/DatagramPort_linux.h"
#include "transport/native/HostLookup.h"

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lyrlink
{

namespace
{

// The receive buffer of the bound socket. One thread reads it, and on a busy machine that thread
// can be kept off the processor for milliseconds at a time; the default buffer (212992 bytes)
// holds about 270 small frames, under 3 ms of a flood of 100,000 frames per second, so frames
// were lost while the thread waited for its turn, even when it kept up on average. 2 MiB (the
// kernel books twice that) holds about 40 ms of such a flood. Asked for with SO_RCVBUFFORCE
// where the process may (CAP_NET_ADMIN), which passes the system's net.core.rmem_max (208 KiB on
// a stock Debian), else with SO_RCVBUF, which that limit caps; the results are not looked at:
// the socket works with any size.
constexpr int kReceiveBufferBytes = 2 * 1024 * 1024;

bool sendDatagram (int fd, Ipv4 destination, uint16_t port, const uint8_t* data, size_t length)
{
    const auto sa = makeSocketAddress (destination, port);
    const auto sent = ::sendto (fd, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa));
    return sent == static_cast<ssize_t> (length);
}

class LinuxDatagramSender final : public DatagramSender
{
public:
    explicit LinuxDatagramSender (int fd) : m_fd (fd) {}
    ~LinuxDatagramSender() override { ::close (m_fd); }

    bool send (Ipv4 destination, uint16_t port, const uint8_t* data, size_t length) override
    {
        return sendDatagram (m_fd, destination, port, data, length);
    }

private:
    const int m_fd;
};

class LinuxDatagramPort final : public DatagramPort
{
public:
    LinuxDatagramPort() : m_fd (::socket (AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~LinuxDatagramPort() override { close(); }

    bool isValid() const override { return m_fd.load() >= 0; }

    bool bindAny (uint16_t port) override
    {
        const int fd = m_fd.load();
        if (fd < 0)
            return false;
        const int one = 1;
        (void) ::setsockopt (fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof (one));
        if (::setsockopt (fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBufferBytes, sizeof (kReceiveBufferBytes)) != 0)
            (void) ::setsockopt (fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof (kReceiveBufferBytes));
        const auto sa = makeSocketAddress (INADDR_ANY, port);
        return ::bind (fd, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) == 0;
    }

    uint16_t getBoundPort() const override
    {
        sockaddr_in sa {};
        socklen_t len = sizeof (sa);
        if (::getsockname (m_fd.load(), reinterpret_cast<sockaddr*> (&sa), &len) != 0)
            return 0;
        return ntohs (sa.sin_port);
    }

    void setReceiveTimeout (int milliseconds) override
    {
        timeval tv {};
        tv.tv_sec = milliseconds / 1000;
        tv.tv_usec = (milliseconds % 1000) * 1000;
        (void) ::setsockopt (m_fd.load(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof (tv));
    }

    int receive (uint8_t* buffer, size_t capacity, Ipv4& source) override
    {
        sockaddr_in from {};
        socklen_t fromLen = sizeof (from);
        // MSG_TRUNC makes the kernel report the datagram's real length, so one that did not fit
        // is recognised and dropped instead of being delivered cut short.
        const auto n = ::recvfrom (m_fd.load(), buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*> (&from), &fromLen);
        if (n < 0)
            return -1;
        source = from.sin_addr.s_addr;
        return static_cast<int> (n);
    }

    bool sendTo (Ipv4 destination, uint16_t port, const uint8_t* data, size_t length) override
    {
        return sendDatagram (m_fd.load(), destination, port, data, length);
    }

    std::unique_ptr<DatagramSender> openBroadcastSender (Ipv4 localAddress) override
    {
        const int fd = ::socket (AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return nullptr;
        const int one = 1;
        (void) ::setsockopt (fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof (one));
        (void) ::setsockopt (fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof (one));
        const auto sa = makeSocketAddress (localAddress, 0);
        if (::bind (fd, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) != 0)
        {
            ::close (fd);
            return nullptr;
        }
        return std::make_unique<LinuxDatagramSender> (fd);
    }

    bool resolve (const char* host, Ipv4& address) override { return resolveIpv4 (host, address); }

    void close() override
    {
        const int fd = m_fd.exchange (-1);
        if (fd >= 0)
        {
            ::shutdown (fd, SHUT_RDWR);
            ::close (fd);
        }
    }

private:
    std::atomic<int> m_fd;
};

} // namespace

std::unique_ptr<DatagramPort> createLinuxDatagramPort() { return std::make_unique<LinuxDatagramPort>(); }

} // namespace lyrlink
