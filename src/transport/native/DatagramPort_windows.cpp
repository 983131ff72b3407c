#include "transport/native/DatagramPort_windows.h"
#include "transport/native/HostLookup.h"
#include "transport/native/Winsock_windows.h"

#include <ws2tcpip.h>

#include <atomic>

namespace lyrlink
{

namespace
{

sockaddr_in makeAddress (Ipv4 address, uint16_t port) noexcept
{
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons (port);
    sa.sin_addr.s_addr = address;
    return sa;
}

bool sendDatagram (SOCKET s, Ipv4 destination, uint16_t port, const uint8_t* data, size_t length)
{
    const auto sa = makeAddress (destination, port);
    const int sent = ::sendto (s, reinterpret_cast<const char*> (data), static_cast<int> (length), 0,
                               reinterpret_cast<const sockaddr*> (&sa), sizeof (sa));
    return sent != SOCKET_ERROR && static_cast<size_t> (sent) == length;
}

void setFlag (SOCKET s, int option)
{
    const BOOL one = TRUE;
    (void) ::setsockopt (s, SOL_SOCKET, option, reinterpret_cast<const char*> (&one), sizeof (one));
}

class WindowsDatagramSender final : public DatagramSender
{
public:
    explicit WindowsDatagramSender (SOCKET s) : m_socket (s) {}
    ~WindowsDatagramSender() override { ::closesocket (m_socket); }

    bool send (Ipv4 destination, uint16_t port, const uint8_t* data, size_t length) override
    {
        return sendDatagram (m_socket, destination, port, data, length);
    }

private:
    const SOCKET m_socket;
};

class WindowsDatagramPort final : public DatagramPort
{
public:
    WindowsDatagramPort()
    {
        startWinsockOnce();
        m_socket = ::socket (AF_INET, SOCK_DGRAM, 0);
    }
    ~WindowsDatagramPort() override { close(); }

    bool isValid() const override { return m_socket.load() != INVALID_SOCKET; }

    bool bindAny (uint16_t port) override
    {
        const SOCKET s = m_socket.load();
        if (s == INVALID_SOCKET)
            return false;
        setFlag (s, SO_BROADCAST);
        // A receive buffer that holds bursts while the one receive thread waits for its turn (the
        // same size as on Linux); the result is not looked at: the socket works with any size.
        const int receiveBufferBytes = 2 * 1024 * 1024;
        (void) ::setsockopt (s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*> (&receiveBufferBytes),
                             sizeof (receiveBufferBytes));
        // Winsock lets a second socket bind a port that is in use only with SO_REUSEADDR, which is
        // left unset here; SO_EXCLUSIVEADDRUSE is not wanted either (the broadcast senders bind
        // with SO_REUSEADDR to addresses of their own).
        const auto sa = makeAddress (INADDR_ANY, port);
        return ::bind (s, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) == 0;
    }

    uint16_t getBoundPort() const override
    {
        sockaddr_in sa {};
        int len = sizeof (sa);
        if (::getsockname (m_socket.load(), reinterpret_cast<sockaddr*> (&sa), &len) != 0)
            return 0;
        return ntohs (sa.sin_port);
    }

    void setReceiveTimeout (int milliseconds) override
    {
        // Winsock takes SO_RCVTIMEO as a DWORD of milliseconds, not a timeval.
        const DWORD ms = static_cast<DWORD> (milliseconds);
        (void) ::setsockopt (m_socket.load(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*> (&ms), sizeof (ms));
    }

    int receive (uint8_t* buffer, size_t capacity, Ipv4& source) override
    {
        sockaddr_in from {};
        int fromLen = sizeof (from);
        const int n = ::recvfrom (m_socket.load(), reinterpret_cast<char*> (buffer), static_cast<int> (capacity), 0,
                                  reinterpret_cast<sockaddr*> (&from), &fromLen);
        if (n == SOCKET_ERROR)
        {
            // A datagram larger than the buffer fails with WSAEMSGSIZE (its first bytes are in the
            // buffer, the rest is gone). Its real length is not told; one more than the capacity
            // says "did not fit", so the endpoint drops it whole as on other systems.
            if (::WSAGetLastError() == WSAEMSGSIZE)
            {
                source = from.sin_addr.s_addr;
                return static_cast<int> (capacity) + 1;
            }
            return -1;
        }
        source = from.sin_addr.s_addr;
        return n;
    }

    bool sendTo (Ipv4 destination, uint16_t port, const uint8_t* data, size_t length) override
    {
        return sendDatagram (m_socket.load(), destination, port, data, length);
    }

    std::unique_ptr<DatagramSender> openBroadcastSender (Ipv4 localAddress) override
    {
        const SOCKET s = ::socket (AF_INET, SOCK_DGRAM, 0);
        if (s == INVALID_SOCKET)
            return nullptr;
        setFlag (s, SO_REUSEADDR);
        setFlag (s, SO_BROADCAST);
        const auto sa = makeAddress (localAddress, 0);
        if (::bind (s, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) != 0)
        {
            ::closesocket (s);
            return nullptr;
        }
        return std::make_unique<WindowsDatagramSender> (s);
    }

    bool resolve (const char* host, Ipv4& address) override { return resolveIpv4 (host, address); }

    void close() override
    {
        // closesocket ends a recvfrom blocked on the socket in another thread.
        const SOCKET s = m_socket.exchange (INVALID_SOCKET);
        if (s != INVALID_SOCKET)
            ::closesocket (s);
    }

private:
    std::atomic<SOCKET> m_socket { INVALID_SOCKET };
};

} // namespace

std::unique_ptr<DatagramPort> createWindowsDatagramPort() { return std::make_unique<WindowsDatagramPort>(); }

} // namespace lyrlink
