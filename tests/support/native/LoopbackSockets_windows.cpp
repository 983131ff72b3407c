// The loopback test sockets on Windows (under Wine as on Windows).
#include "support/native/LoopbackSockets.h"

#include "transport/native/DatagramPort_windows.h"
#include "transport/native/StreamListener_windows.h"
#include "transport/native/Winsock_windows.h"

namespace lyrlink::test
{

namespace
{
SOCKET socketOf (intptr_t handle) { return static_cast<SOCKET> (handle); }
} // namespace

std::unique_ptr<StreamListener> createSystemStreamListener() { return createWindowsStreamListener(); }

std::unique_ptr<DatagramPort> createSystemDatagramPort() { return createWindowsDatagramPort(); }

LoopbackTcpClient::LoopbackTcpClient (uint16_t port)
{
    startWinsockOnce();
    const SOCKET s = ::socket (AF_INET, SOCK_STREAM, 0);
    m_socket = static_cast<intptr_t> (s);
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons (port);
    sa.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
    const BOOL one = TRUE;
    (void) ::setsockopt (s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*> (&one), sizeof (one));
    m_connected = ::connect (s, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) == 0;
}

LoopbackTcpClient::~LoopbackTcpClient() { close(); }

bool LoopbackTcpClient::send (const std::vector<uint8_t>& bytes)
{
    return ::send (socketOf (m_socket), reinterpret_cast<const char*> (bytes.data()), static_cast<int> (bytes.size()), 0)
        == static_cast<int> (bytes.size());
}

std::vector<uint8_t> LoopbackTcpClient::readToEnd()
{
    const SOCKET s = socketOf (m_socket);
    const DWORD ms = 5000;
    (void) ::setsockopt (s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*> (&ms), sizeof (ms));
    std::vector<uint8_t> all;
    char b[256];
    int n;
    while ((n = ::recv (s, b, sizeof (b), 0)) > 0)
        all.insert (all.end(), b, b + n);
    // A reset is the end too: Winsock reports one where the server closed a connection it had not
    // read to the end.
    m_sawEnd = n == 0 || (n == SOCKET_ERROR && ::WSAGetLastError() == WSAECONNRESET);
    return all;
}

void LoopbackTcpClient::close()
{
    if (socketOf (m_socket) != INVALID_SOCKET)
        ::closesocket (socketOf (m_socket));
    m_socket = static_cast<intptr_t> (INVALID_SOCKET);
}

} // namespace lyrlink::test
