#include "transport/native/StreamListener_windows.h"
#include "transport/native/Winsock_windows.h"

#include <atomic>
#include <initializer_list>

namespace lyrlink
{

namespace
{

class WindowsStreamConnection final : public StreamConnection
{
public:
    explicit WindowsStreamConnection (SOCKET s) : m_socket (s)
    {
        // A blocked recv is not reliably ended by shutdown from another thread (Wine leaves it
        // waiting), so reads wait for one of two events, bytes (or the end) or shutdown(), and
        // then read without blocking. The event selection makes the socket non-blocking.
        m_data = ::WSACreateEvent();
        m_wake = ::WSACreateEvent();
        if (m_data != WSA_INVALID_EVENT)
            (void) ::WSAEventSelect (m_socket, m_data, FD_READ | FD_CLOSE);
    }

    ~WindowsStreamConnection() override
    {
        ::closesocket (m_socket);
        for (auto e : { m_data, m_wake })
            if (e != WSA_INVALID_EVENT)
                ::WSACloseEvent (e);
    }

    int read (uint8_t* buffer, size_t capacity) override
    {
        if (m_data == WSA_INVALID_EVENT || m_wake == WSA_INVALID_EVENT)
            return -1;
        for (;;)
        {
            if (m_shutdown.load())
                return 0;
            const int received = ::recv (m_socket, reinterpret_cast<char*> (buffer), static_cast<int> (capacity), 0);
            if (received != SOCKET_ERROR)
                return received;
            if (::WSAGetLastError() != WSAEWOULDBLOCK)
                return -1;
            const WSAEVENT events[2] { m_wake, m_data };
            const DWORD woken = ::WSAWaitForMultipleEvents (2, events, FALSE, WSA_INFINITE, FALSE);
            if (woken == WSA_WAIT_EVENT_0)
                return 0;
            if (woken != WSA_WAIT_EVENT_0 + 1)
                return -1;
            // Resets the event; the next recv records FD_READ again while bytes remain.
            WSANETWORKEVENTS what {};
            (void) ::WSAEnumNetworkEvents (m_socket, m_data, &what);
        }
    }

    void shutdown() override
    {
        m_shutdown = true;
        ::shutdown (m_socket, SD_BOTH);
        if (m_wake != WSA_INVALID_EVENT)
            ::WSASetEvent (m_wake);
    }

private:
    const SOCKET m_socket;
    WSAEVENT m_data = WSA_INVALID_EVENT;  // FD_READ and FD_CLOSE of the connection
    WSAEVENT m_wake = WSA_INVALID_EVENT;  // set by shutdown()
    std::atomic<bool> m_shutdown { false };
};

class WindowsStreamListener final : public StreamListener
{
public:
    WindowsStreamListener()
    {
        startWinsockOnce();
        m_wake = ::WSACreateEvent();
    }

    ~WindowsStreamListener() override
    {
        close();
        if (m_wake != WSA_INVALID_EVENT)
            ::WSACloseEvent (m_wake);
    }

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

        // Waits are for either of two events: a connection to accept, or shutdown(). Winsock's
        // shutdown does not wake a wait on a listening socket, so the second event does.
        const WSAEVENT accepted = ::WSACreateEvent();
        if (accepted == WSA_INVALID_EVENT || m_wake == WSA_INVALID_EVENT
            || ::bind (s, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) != 0 || ::listen (s, backlog) != 0
            || ::WSAEventSelect (s, accepted, FD_ACCEPT) != 0)
        {
            if (accepted != WSA_INVALID_EVENT)
                ::WSACloseEvent (accepted);
            ::closesocket (s);
            return false;
        }

        sockaddr_in bound {};
        int len = sizeof (bound);
        if (::getsockname (s, reinterpret_cast<sockaddr*> (&bound), &len) == 0)
            m_boundPort = ntohs (bound.sin_port);

        m_accepted = accepted;
        m_socket = s;
        return true;
    }

    uint16_t getBoundPort() const override { return m_boundPort; }

    WaitResult waitForConnection (int timeoutMs) override
    {
        const SOCKET s = m_socket.load();
        if (s == INVALID_SOCKET)
            return WaitResult::broken;
        const WSAEVENT events[2] { m_wake, m_accepted };
        const DWORD woken = ::WSAWaitForMultipleEvents (2, events, FALSE, static_cast<DWORD> (timeoutMs), FALSE);
        if (woken == WSA_WAIT_EVENT_0)
            return WaitResult::broken;  // shut down: stays set, so every later wait returns at once
        if (woken != WSA_WAIT_EVENT_0 + 1)
            return woken == WSA_WAIT_TIMEOUT ? WaitResult::idle : WaitResult::broken;
        // Resets the event; accept() records FD_ACCEPT again while connections are still waiting.
        WSANETWORKEVENTS what {};
        if (::WSAEnumNetworkEvents (s, m_accepted, &what) != 0)
            return WaitResult::broken;
        if ((what.lNetworkEvents & FD_ACCEPT) == 0)
            return WaitResult::idle;
        return what.iErrorCode[FD_ACCEPT_BIT] == 0 ? WaitResult::pending : WaitResult::broken;
    }

    std::unique_ptr<StreamConnection> accept() override
    {
        const SOCKET c = ::accept (m_socket.load(), nullptr, nullptr);
        if (c == INVALID_SOCKET)
            return nullptr;
        // An accepted socket inherits the listener's event selection; the connection makes its
        // own.
        (void) ::WSAEventSelect (c, nullptr, 0);
        return std::make_unique<WindowsStreamConnection> (c);
    }

    void shutdown() override
    {
        if (m_wake != WSA_INVALID_EVENT)
            ::WSASetEvent (m_wake);
    }

    void close() override
    {
        const SOCKET s = m_socket.exchange (INVALID_SOCKET);
        if (s != INVALID_SOCKET)
            ::closesocket (s);
        if (m_accepted != WSA_INVALID_EVENT)
        {
            ::WSACloseEvent (m_accepted);
            m_accepted = WSA_INVALID_EVENT;
        }
    }

private:
    std::atomic<SOCKET> m_socket { INVALID_SOCKET };
    WSAEVENT m_wake = WSA_INVALID_EVENT;      // set by shutdown()
    WSAEVENT m_accepted = WSA_INVALID_EVENT;  // FD_ACCEPT of the open socket
    uint16_t m_boundPort = 0;
};

} // namespace

std::unique_ptr<StreamListener> createWindowsStreamListener() { return std::make_unique<WindowsStreamListener>(); }

} // namespace lyrlink
