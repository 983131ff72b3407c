// The loopback test sockets on Linux.
#include "support/native/LoopbackSockets.h"

#include "transport/native/DatagramPort_linux.h"
#include "transport/native/StreamListener_linux.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lyrlink::test
{

std::unique_ptr<StreamListener> createSystemStreamListener() { return createLinuxStreamListener(); }

std::unique_ptr<DatagramPort> createSystemDatagramPort() { return createLinuxDatagramPort(); }

LoopbackTcpClient::LoopbackTcpClient (uint16_t port) : m_socket (::socket (AF_INET, SOCK_STREAM, 0))
{
    const int fd = static_cast<int> (m_socket);
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons (port);
    sa.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
    const int one = 1;
    (void) ::setsockopt (fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof (one));
    m_connected = ::connect (fd, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) == 0;
}

LoopbackTcpClient::~LoopbackTcpClient() { close(); }

bool LoopbackTcpClient::send (const std::vector<uint8_t>& bytes)
{
    return ::send (static_cast<int> (m_socket), bytes.data(), bytes.size(), MSG_NOSIGNAL)
        == static_cast<ssize_t> (bytes.size());
}

std::vector<uint8_t> LoopbackTcpClient::readToEnd()
{
    const int fd = static_cast<int> (m_socket);
    timeval tv { 5, 0 };
    (void) ::setsockopt (fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof (tv));
    std::vector<uint8_t> all;
    uint8_t b[256];
    ssize_t n;
    while ((n = ::recv (fd, b, sizeof (b), 0)) > 0)
        all.insert (all.end(), b, b + n);
    m_sawEnd = (n == 0);
    return all;
}

void LoopbackTcpClient::close()
{
    if (m_socket >= 0)
        ::close (static_cast<int> (m_socket));
    m_socket = -1;
}

} // namespace lyrlink::test
