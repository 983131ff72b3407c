#include "lyrlinksim/SimLoop.h"

#include "lyrlinksim/SimOutput.h"
#include "transport/native/DatagramPort_linux.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lyrlinksim
{

namespace
{

/** Longest command line accepted; the rest of a longer one is dropped. */
constexpr size_t kMaxCommandLine = 4096;
/** Upper bound of one poll, so that the stop flag is seen promptly. */
constexpr int64_t kMaxPollMs = 100;

} // namespace

SimLoop::SimLoop (const SimConfig& config, LineSink out, LineSink errors)
    : m_config (config), m_engine (config), m_out (std::move (out)), m_errors (std::move (errors)),
      m_start (std::chrono::steady_clock::now()), m_receiveBuffer (65536)
{
}

SimLoop::~SimLoop()
{
    for (const auto& s : m_sockets)
        if (s.fd >= 0)
            ::close (s.fd);
}

int SimLoop::openSocket (Ipv4 address, uint16_t port, std::string& error)
{
    const int fd = ::socket (AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
    {
        error = std::strerror (errno);
        return -1;
    }
    // Several simulated devices (and their broadcast listener) share the port on one host, each
    // on an address of its own.
    const int one = 1;
    (void) ::setsockopt (fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof (one));
    (void) ::setsockopt (fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof (one));
    (void) ::setsockopt (fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof (one));
    const auto sa = lyrlink::makeSocketAddress (address, port);
    if (::bind (fd, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) != 0)
    {
        error = std::strerror (errno);
        ::close (fd);
        return -1;
    }
    return fd;
}

bool SimLoop::open()
{
    std::string error;
    for (size_t i = 0; i < m_engine.getNumDevices(); ++i)
    {
        const auto& d = m_engine.getDevice (i);
        const int fd = openSocket (d.ip, m_config.port, error);
        if (fd < 0)
        {
            m_errors ("lyrlinksim: cannot bind " + lyrlink::formatIpv4 (d.ip) + ":" + std::to_string (m_config.port)
                      + ": " + error + (error == std::strerror (EADDRNOTAVAIL) ? " (is the address configured on an interface?)" : ""));
            return false;
        }
        m_sockets.push_back ({ fd, d.ip, true });
    }

    // A socket bound to a unicast address does not see broadcasts: one more socket per broadcast
    // address hears the manager's DiscoveryRequests, IdUseRequests and ConfigNotify frames.
    for (size_t i = 0; i < m_engine.getNumDevices(); ++i)
    {
        const auto b = m_engine.getBroadcast (i);
        const bool known = std::any_of (m_sockets.begin(), m_sockets.end(), [b] (const Socket& s) { return s.address == b; });
        if (known)
            continue;
        const int fd = openSocket (b, m_config.port, error);
        if (fd < 0)
        {
            m_errors ("lyrlinksim: cannot listen on " + lyrlink::formatIpv4 (b) + ":" + std::to_string (m_config.port)
                      + ": " + error + "; broadcasts to it are not seen");
            continue;
        }
        m_sockets.push_back ({ fd, b, false });
    }

    for (size_t i = 0; i < m_engine.getNumDevices(); ++i)
    {
        const auto& d = m_engine.getDevice (i);
        emit (formatNoteLine (0,
                              "device id=" + std::to_string (d.id) + " type=" + std::to_string (d.type) + " model="
                                  + quoteText (d.model) + " ip=" + lyrlink::formatIpv4 (d.ip) + " mac="
                                  + formatMac (d.mac.data()) + " broadcast=" + lyrlink::formatIpv4 (m_engine.getBroadcast (i)),
                              m_config.json));
    }
    return true;
}

int64_t SimLoop::elapsedMs() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds> (std::chrono::steady_clock::now() - m_start).count();
}

bool SimLoop::emit (const std::string& line)
{
    if (! m_outputFailed && ! m_out (line))
        m_outputFailed = true;
    return ! m_outputFailed;
}

bool SimLoop::flush (EngineOutput& out)
{
    const auto now = elapsedMs();
    for (const auto& e : out.events)
        emit (formatEventLine (e, m_config.json));

    for (const auto& dg : out.datagrams)
    {
        if (dg.device >= m_engine.getNumDevices())
            continue;
        const auto& from = m_sockets[dg.device];
        const auto sa = lyrlink::makeSocketAddress (dg.to, m_config.port);
        const auto sent = ::sendto (from.fd, dg.bytes.data(), dg.bytes.size(), MSG_NOSIGNAL,
                                    reinterpret_cast<const sockaddr*> (&sa), sizeof (sa));
        if (sent != static_cast<ssize_t> (dg.bytes.size()))
            m_errors ("lyrlinksim: send from " + lyrlink::formatIpv4 (from.address) + " to "
                      + lyrlink::formatIpv4 (dg.to) + " failed: " + std::strerror (errno));
        else if (m_config.verbose)
            emit (formatFrameLine (now, "tx", from.address, dg.to, ByteView (dg.bytes.data(), dg.bytes.size()),
                                   m_config.json));
    }
    out = EngineOutput();
    return ! m_outputFailed;
}

bool SimLoop::drainSocket (const Socket& s)
{
    for (;;)
    {
        sockaddr_in from {};
        socklen_t fromLength = sizeof (from);
        const auto n = ::recvfrom (s.fd, m_receiveBuffer.data(), m_receiveBuffer.size(), 0,
                                   reinterpret_cast<sockaddr*> (&from), &fromLength);
        if (n < 0)
            return true;  // EAGAIN: drained; other errors are transient on UDP

        const Ipv4 source = from.sin_addr.s_addr;
        if (m_engine.isOwnAddress (source))
            continue;  // a simulated device's own broadcast, heard on the listener

        const ByteView datagram (m_receiveBuffer.data(), static_cast<size_t> (n));
        if (! emit (formatFrameLine (elapsedMs(), "rx", source, s.address, datagram, m_config.json)))
            return false;
        EngineOutput out;
        m_engine.receive (source, datagram, out);
        if (! flush (out))
            return false;
    }
}

bool SimLoop::handleCommand (const std::string& line)
{
    size_t b = 0;
    while (b < line.size() && (line[b] == ' ' || line[b] == '\t' || line[b] == '\r'))
        ++b;
    if (b == line.size() || line[b] == '#')
        return true;

    SimEvent event;
    std::string error;
    EngineOutput out;
    if (! parseEvent (line, event, error))
    {
        EventOutcome bad;
        bad.atMs = elapsedMs();
        bad.text = line.substr (b);
        bad.error = error;
        out.events.push_back (std::move (bad));
    }
    else
        m_engine.apply (event, elapsedMs(), out);
    return flush (out);
}

bool SimLoop::readInput (int fd, bool& endOfInput)
{
    char chunk[1024];
    const auto n = ::read (fd, chunk, sizeof (chunk));
    if (n < 0)
    {
        if (errno == EAGAIN || errno == EINTR)
            return true;
        endOfInput = true;
        return true;
    }
    if (n == 0)
    {
        endOfInput = true;
        // A last line without its newline still counts.
        const auto rest = std::move (m_inputLine);
        m_inputLine.clear();
        return m_discardingLine || handleCommand (rest);
    }

    for (ssize_t i = 0; i < n && ! m_engine.isQuitRequested(); ++i)
    {
        const char c = chunk[i];
        if (c == '\n')
        {
            const auto line = std::move (m_inputLine);
            m_inputLine.clear();
            if (m_discardingLine)
                m_discardingLine = false;
            else if (! handleCommand (line))
                return false;
        }
        else if (! m_discardingLine)
        {
            m_inputLine.push_back (c);
            if (m_inputLine.size() > kMaxCommandLine)
            {
                m_errors ("lyrlinksim: command line longer than " + std::to_string (kMaxCommandLine)
                          + " bytes dropped");
                m_inputLine.clear();
                m_discardingLine = true;
            }
        }
    }
    return true;
}

int SimLoop::run (int inputFd, const std::atomic<bool>& stop)
{
    bool readingInput = inputFd >= 0;
    std::string reason = "stopped";

    for (;;)
    {
        const auto now = elapsedMs();
        if (stop.load())
        {
            reason = "stopped by signal";
            break;
        }
        if (m_config.durationMs && now >= *m_config.durationMs)
        {
            reason = "duration reached";
            break;
        }

        EngineOutput out;
        m_engine.advance (now, out);
        if (! flush (out))
            return 1;
        if (m_engine.isQuitRequested())
        {
            reason = "quit";
            break;
        }

        int64_t wait = std::min (m_engine.getNextDueMs(), m_config.durationMs.value_or (SimEngine::kNever)) - now;
        wait = std::clamp<int64_t> (wait, 0, kMaxPollMs);

        std::vector<pollfd> fds;
        for (const auto& s : m_sockets)
            fds.push_back ({ s.fd, POLLIN, 0 });
        if (readingInput)
            fds.push_back ({ inputFd, POLLIN, 0 });

        if (::poll (fds.data(), fds.size(), static_cast<int> (wait)) < 0)
            continue;  // EINTR: the stop flag is checked at the top

        for (size_t i = 0; i < m_sockets.size(); ++i)
            if ((fds[i].revents & POLLIN) != 0 && ! drainSocket (m_sockets[i]))
                return 1;

        if (readingInput && (fds.back().revents & (POLLIN | POLLHUP | POLLERR)) != 0)
        {
            bool endOfInput = false;
            if (! readInput (inputFd, endOfInput))
                return 1;
            if (endOfInput)
            {
                readingInput = false;
                if (! m_config.durationMs)
                {
                    reason = "end of input";
                    break;
                }
            }
        }
        if (m_engine.isQuitRequested())
        {
            reason = "quit";
            break;
        }
    }

    emit (formatNoteLine (elapsedMs(), "end: " + reason, m_config.json));
    return m_outputFailed ? 1 : 0;
}

} // namespace lyrlinksim
