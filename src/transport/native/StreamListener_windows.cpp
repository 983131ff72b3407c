#include "transport/native/StreamListener_windows.h"
#include "transport/native/Winsock_windows.h"

#include <atomic>

namespace lyrlink
{

namespace
{

class WindowsStreamConnection final : public StreamConnection
{
public:
    explicit WindowsStreamConnection (SOCKET s) : m_socket (s) {}
    ~WindowsStreamConnection() override { ::closesocket (m_socket); }

    int read (uint8_t* buffer, size_t capacity) override
    {
        const int received = ::recv (m_socket, reinterpret_cast<char*> (buffer), static_cast<int> (capacity), 0);
        return received == SOCKET_ERROR ? -1 : received;
    }

    void shutdown() override { ::shutdown (m_socket, SD_BOTH); }

private:
    const SOCKET m_socket;
};

class WindowsStreamListener final : public StreamListener
{
public:
    WindowsStreamListener() { startWinsockOnce(); }
    ~WindowsStreamListener() override { close(); }

    bool open (uint16_t port, int backlog) override
    {
        if (m_socket.load() != INVALID_SOCKET)
            return false;

        const SOCKET s = ::socket (AF_INET, SOCK_STREAM, 0);
        if (s == INVALID_SOCKET)
            return false;

        const BOOL one = TRUE;
        (void) ::setsockopt (s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*> (&one), sizeof (one));

        sockaddr_in sa {};
        sa.sin_family = AF_INET;
        sa.sin_port = htons (port);
        sa.sin_addr.s_addr = htonl (INADDR_ANY);

        if (::bind (s, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) != 0 || ::listen (s, backlog) != 0)
        {
            ::closesocket (s);
            return false;
        }

        sockaddr_in bound {};
        int len = sizeof (bound);
        if (::getsockname (s, reinterpret_cast<sockaddr*> (&bound), &len) == 0)
            m_boundPort = ntohs (bound.sin_port);

        m_socket = s;
        return true;
    }

    uint16_t getBoundPort() const override { return m_boundPort; }

    WaitResult waitForConnection (int timeoutMs) override
    {
        const SOCKET s = m_socket.load();
        if (s == INVALID_SOCKET || m_shutdown.load())
            return WaitResult::broken;
        fd_set readable;
        FD_ZERO (&readable);
        FD_SET (s, &readable);
        fd_set failed;
        FD_ZERO (&failed);
        FD_SET (s, &failed);
        timeval wait {};
        wait.tv_sec = timeoutMs / 1000;
        wait.tv_usec = (timeoutMs % 1000) * 1000;
        // The first argument is ignored by Winsock.
        const int ready = ::select (0, &readable, nullptr, &failed, &wait);
        if (ready == SOCKET_ERROR)
            return m_shutdown.load() || m_socket.load() == INVALID_SOCKET ? WaitResult::broken : WaitResult::idle;
        if (ready == 0)
            return m_shutdown.load() ? WaitResult::broken : WaitResult::idle;
        if (FD_ISSET (s, &failed))
            return WaitResult::broken;
        return FD_ISSET (s, &readable) ? WaitResult::pending : WaitResult::idle;
    }

    std::unique_ptr<StreamConnection> accept() override
    {
        const SOCKET c = ::accept (m_socket.load(), nullptr, nullptr);
        if (c == INVALID_SOCKET)
            return nullptr;
        return std::make_unique<WindowsStreamConnection> (c);
    }

    void shutdown() override
    {
        // Winsock's shutdown of a listening socket does not wake a select on it; the flag makes
        // this and every later wait report the socket as broken, at the latest when the wait
        // that is running times out.
        m_shutdown = true;
    }

    void close() override
    {
        const SOCKET s = m_socket.exchange (INVALID_SOCKET);
        if (s != INVALID_SOCKET)
            ::closesocket (s);
    }

private:
    std::atomic<SOCKET> m_socket { INVALID_SOCKET };
    std::atomic<bool> m_shutdown { false };
    uint16_t m_boundPort = 0;
};

} // namespace

std::unique_ptr<StreamListener> createWindowsStreamListener() { return std::make_unique<WindowsStreamListener>(); }

} // namespace lyrlink
