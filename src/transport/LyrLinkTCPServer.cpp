#include "transport/LyrLinkTCPServer.h"

#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lyrlink
{

LyrLinkTCPServer::LyrLinkTCPServer (uint16_t port) : juce::Thread ("LyrLinkTCPServer Thread"), m_port (port) {}

LyrLinkTCPServer::~LyrLinkTCPServer() { closeServer(); }

bool LyrLinkTCPServer::openServer()
{
    if (m_socket.load() >= 0 || isThreadRunning())
        return false;  // opened once; there is no reopening

    const int fd = ::socket (AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;

    const int one = 1;
    (void) ::setsockopt (fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof (one));

    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons (m_port);
    sa.sin_addr.s_addr = htonl (INADDR_ANY);

    // Listening before the thread starts means a client can connect as soon as this returns.
    if (::bind (fd, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) != 0 || ::listen (fd, kBacklog) != 0)
    {
        ::close (fd);
        return false;
    }

    sockaddr_in bound {};
    socklen_t len = sizeof (bound);
    if (::getsockname (fd, reinterpret_cast<sockaddr*> (&bound), &len) == 0)
        m_boundPort = ntohs (bound.sin_port);

    m_socket = fd;
    m_isOpen = true;
    if (! startThread())
    {
        m_isOpen = false;
        m_socket = -1;
        ::close (fd);
        return false;
    }
    return true;
}

void LyrLinkTCPServer::run()
{
    while (! threadShouldExit())
    {
        const int listenFd = m_socket.load();
        if (listenFd < 0)
            break;

        pollfd pfd { listenFd, POLLIN, 0 };
        const int ready = ::poll (&pfd, 1, kPollMs);
        if (threadShouldExit())
            break;
        if (ready <= 0)
            continue;
        if ((pfd.revents & POLLIN) == 0)
        {
            // An error state of the listening socket would make poll return at once; pace the
            // loop so it still checks for exit without spinning.
            wait (kPollMs);
            continue;
        }

        const int clientFd = ::accept4 (listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (clientFd < 0)
            continue;

        {
            const std::lock_guard<std::mutex> g (m_clientLock);
            if (threadShouldExit())
            {
                ::close (clientFd);
                break;
            }
            m_clientSocket = clientFd;
        }
        serveConnection (clientFd);
        closeClient();
    }
}

void LyrLinkTCPServer::serveConnection (int fd)
{
    uint8_t buffer[kReadSize];
    for (;;)
    {
        const ssize_t received = ::recv (fd, buffer, sizeof (buffer), 0);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0 || threadShouldExit())
            return;

        const juce::MemoryBlock block (buffer, static_cast<size_t> (received));
        dataReceived (m_srcAddr, block);
    }
}

void LyrLinkTCPServer::closeClient()
{
    const std::lock_guard<std::mutex> g (m_clientLock);
    const int fd = m_clientSocket.exchange (-1);
    if (fd >= 0)
        ::close (fd);
}

void LyrLinkTCPServer::closeServer()
{
    m_isOpen = false;
    signalThreadShouldExit();

    // Shutting the sockets down wakes a poll or a read that is blocked on them; the descriptors
    // stay valid until the thread has ended, so the thread never touches a closed or reused one.
    const int listenFd = m_socket.load();
    if (listenFd >= 0)
        ::shutdown (listenFd, SHUT_RDWR);
    {
        const std::lock_guard<std::mutex> g (m_clientLock);
        const int clientFd = m_clientSocket.load();
        if (clientFd >= 0)
            ::shutdown (clientFd, SHUT_RDWR);
    }

    stopThread (kStopWaitMs);

    closeClient();
    const int fd = m_socket.exchange (-1);
    if (fd >= 0)
        ::close (fd);
}

} // namespace lyrlink
