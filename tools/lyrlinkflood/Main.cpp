// lyrlinkflood: load for the manager's receive path. Sends the ConfigNotify of a few devices to one
// address at a fixed rate, round-robin from each device's own address, for a fixed time: to a
// manager that lists those devices every frame is a refresh of a present entry. With --sink it is
// instead a receiver that does nothing but read port 50000, the yardstick the manager is held to.
//
// The frames are the ones lyrlinksim sends for the same --device text, so a flood from the devices
// that a simulator brought into the manager's table changes nothing in it.
#include "lyrlinksim/SimConfig.h"
#include "lyrlinksim/SimFrames.h"
#include "transport/native/DatagramPort_linux.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace
{

using lyrlinksim::Bytes;

constexpr const char* kUsage =
    "usage: lyrlinkflood --to IP --device DEVICE [--device DEVICE ...] [--rate N] [--duration TIME] [--port N]\n"
    "       lyrlinkflood --sink [--duration TIME] [--port N] [--rcvbuf BYTES]\n"
    "\n"
    "  --to IP          where the frames go (unicast)\n"
    "  --device DEVICE  a device as lyrlinksim reads it (id=1,type=1,ip=10.50.0.11[,mac=..]); its\n"
    "                   address must be one of this host's\n"
    "  --rate N         frames per second, all devices together (default 100000)\n"
    "  --duration TIME  how long to send, or to receive with --sink (default 3s)\n"
    "  --port N         destination port, or the port --sink binds (default 50000)\n"
    "  --sink           bind 0.0.0.0:port and read datagrams, doing nothing with them\n"
    "  --rcvbuf BYTES   with --sink: the socket's receive buffer (SO_RCVBUF); default the system's\n"
    "\n"
    "Prints one line at the end: sent (or received) frames, the time taken and the rate.\n";

std::atomic<bool> stopRequested { false };

void onSignal (int) { stopRequested.store (true); }

int64_t nowNs()
{
    timespec ts {};
    ::clock_gettime (CLOCK_MONOTONIC, &ts);
    return int64_t (ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleepUntil (int64_t deadlineNs)
{
    timespec ts { static_cast<time_t> (deadlineNs / 1000000000), static_cast<long> (deadlineNs % 1000000000) };
    while (::clock_nanosleep (CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR && ! stopRequested)
    {
    }
}

struct Options
{
    std::vector<lyrlinksim::DeviceIdentity> devices;
    lyrlink::Ipv4 to = 0;
    bool haveTo = false;
    long rate = 100000;
    int64_t durationMs = 3000;
    uint16_t port = lyrlink::kEquipmentPort;
    bool sink = false;
    int rcvbuf = 0;
};

bool parseArguments (int argc, char** argv, Options& o, std::string& error)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string option = argv[i];
        if (option == "--sink")
        {
            o.sink = true;
            continue;
        }
        if (i + 1 >= argc)
        {
            error = option + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        if (option == "--to")
        {
            if (! lyrlinksim::parseIpv4 (value, o.to))
                return (error = "bad address " + value), false;
            o.haveTo = true;
        }
        else if (option == "--device")
        {
            lyrlinksim::DeviceIdentity d;
            if (! lyrlinksim::parseDevice (value, d, error))
                return false;
            o.devices.push_back (d);
        }
        else if (option == "--rate")
        {
            o.rate = std::strtol (value.c_str(), nullptr, 10);
            if (o.rate < 1 || o.rate > 10000000)
                return (error = "bad rate " + value), false;
        }
        else if (option == "--duration")
        {
            if (! lyrlinksim::parseDuration (value, o.durationMs) || o.durationMs < 1)
                return (error = "bad duration " + value), false;
        }
        else if (option == "--rcvbuf")
        {
            o.rcvbuf = static_cast<int> (std::strtol (value.c_str(), nullptr, 10));
            if (o.rcvbuf < 1)
                return (error = "bad buffer size " + value), false;
        }
        else if (option == "--port")
        {
            const long p = std::strtol (value.c_str(), nullptr, 10);
            if (p < 1 || p > 65535)
                return (error = "bad port " + value), false;
            o.port = static_cast<uint16_t> (p);
        }
        else
        {
            error = "unknown option " + option;
            return false;
        }
    }
    if (! o.sink && (! o.haveTo || o.devices.empty()))
    {
        error = "--to and at least one --device are needed";
        return false;
    }
    return true;
}

int runSink (const Options& o)
{
    const int fd = ::socket (AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const auto sa = lyrlink::makeSocketAddress (0, o.port);
    if (fd < 0 || ::bind (fd, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) != 0)
    {
        std::fprintf (stderr, "lyrlinkflood: cannot bind port %u: %s\n", o.port, std::strerror (errno));
        return 1;
    }
    if (o.rcvbuf > 0)
        ::setsockopt (fd, SOL_SOCKET, SO_RCVBUF, &o.rcvbuf, sizeof (o.rcvbuf));
    timeval tv { 0, 100000 };
    ::setsockopt (fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof (tv));
    std::printf ("sink: listening on port %u\n", o.port);
    std::fflush (stdout);

    uint8_t buffer[1472];
    long received = 0;
    const int64_t end = nowNs() + o.durationMs * 1000000;
    while (! stopRequested && nowNs() < end)
        if (::recv (fd, buffer, sizeof (buffer), 0) > 0)
            ++received;
    ::close (fd);
    std::printf ("received %ld frames\n", received);
    return 0;
}

int runFlood (const Options& o)
{
    // One socket per device, bound to its address: the manager sees each device's own source.
    std::vector<int> sockets;
    std::vector<Bytes> frames;
    for (const auto& d : o.devices)
    {
        const int fd = ::socket (AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const auto local = lyrlink::makeSocketAddress (d.ip, 0);
        if (fd < 0 || ::bind (fd, reinterpret_cast<const sockaddr*> (&local), sizeof (local)) != 0)
        {
            std::fprintf (stderr, "lyrlinkflood: cannot bind to the address of device %d: %s\n", d.id,
                          std::strerror (errno));
            return 1;
        }
        sockets.push_back (fd);
        frames.push_back (lyrlinksim::encodeConfigNotify (d, d.id, d.type, static_cast<uint8_t> (o.devices.size())));
    }

    // Sent in batches once a millisecond, each device's frames with one sendmmsg.
    constexpr int kTickNs = 1000000;
    constexpr size_t kMaxBatch = 1024;
    const auto destination = lyrlink::makeSocketAddress (o.to, o.port);
    std::vector<iovec> iov (kMaxBatch);
    std::vector<mmsghdr> msgs (kMaxBatch);

    const long total = static_cast<long> ((o.rate * o.durationMs) / 1000);
    long sent = 0, failed = 0;
    size_t next = 0;
    const int64_t start = nowNs();
    int64_t tick = start;
    while (sent + failed < total && ! stopRequested)
    {
        const long due = std::min (total, static_cast<long> ((o.rate * (nowNs() - start)) / 1000000000) + 1);
        while (sent + failed < due)
        {
            // Round-robin over the devices, a run of frames for each.
            const size_t device = next++ % sockets.size();
            const size_t batch =
                std::min<size_t> (kMaxBatch, std::max<long> (1, (due - sent - failed) / long (sockets.size())));
            for (size_t i = 0; i < batch; ++i)
            {
                iov[i] = { frames[device].data(), frames[device].size() };
                msgs[i] = {};
                msgs[i].msg_hdr.msg_name = const_cast<sockaddr_in*> (&destination);
                msgs[i].msg_hdr.msg_namelen = sizeof (destination);
                msgs[i].msg_hdr.msg_iov = &iov[i];
                msgs[i].msg_hdr.msg_iovlen = 1;
            }
            const int n = ::sendmmsg (sockets[device], msgs.data(), static_cast<unsigned> (batch), 0);
            if (n < 0)
            {
                if (errno == EINTR)
                    continue;
                failed += static_cast<long> (batch);
            }
            else
            {
                sent += n;
                failed += static_cast<long> (batch) - n;
            }
        }
        tick += kTickNs;
        sleepUntil (tick);
    }
    const double seconds = double (nowNs() - start) / 1e9;
    for (const int fd : sockets)
        ::close (fd);
    std::printf ("sent %ld frames in %.3f s (%.0f per second), %ld failed\n", sent, seconds, double (sent) / seconds,
                 failed);
    return failed == 0 ? 0 : 1;
}

} // namespace

int main (int argc, char** argv)
{
    Options options;
    std::string error;
    if (argc == 2 && (std::strcmp (argv[1], "--help") == 0 || std::strcmp (argv[1], "-h") == 0))
    {
        std::fputs (kUsage, stdout);
        return 0;
    }
    if (! parseArguments (argc, argv, options, error))
    {
        std::fprintf (stderr, "lyrlinkflood: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    struct sigaction sa
    {
    };
    sa.sa_handler = onSignal;
    sigemptyset (&sa.sa_mask);
    sigaction (SIGINT, &sa, nullptr);
    sigaction (SIGTERM, &sa, nullptr);
    return options.sink ? runSink (options) : runFlood (options);
}
