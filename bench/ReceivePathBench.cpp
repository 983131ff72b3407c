// The UDP receive path as the flood meets it: a datagram read from a real socket, the endpoint's
// filter, frameRead and the refresh of a present device, with the link up as id 17. Compared with
// a reader that does nothing but read the same socket.
//
// Each iteration (its time is that of one batch) queues a batch of refresh frames on the loopback interface (outside
// the timing: by the time sendmmsg returns they are in the socket's queue), then reads and handles all of them on this
// thread. Reported per frame: wall time, the CPU time of the whole process meanwhile (other threads woken by the
// handling count too: JUCE's timer thread above all), the context switches of the process and the heap allocations made
// on this thread.
//
// The endpoint's own receive thread is kept off the socket (it sees only time-outs), so that this
// thread reads every datagram; with Arg 1 the manager's timers are JUCE's own, as in the program,
// with Arg 0 they are virtual and never reach JUCE.
#include "AllocationCounter.h"
#include "app/MainComponent.h"
#include "ipc/ProcMsg.h"
#include "netenv/LyrLinkNetworkAccess.h"
#include "support/FakePlatform.h"
#include "support/TestFrames.h"
#include "transport/native/DatagramPort_linux.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace lyrlink::bench
{
namespace
{

using test::FakePlatform;

constexpr size_t kBatch = 64;
const Ipv4 kOwnIp = makeIpv4 (127, 0, 0, 20);
const Ipv4 kPeerIp = makeIpv4 (127, 0, 0, 3);
const Ipv4 kNetmask = makeIpv4 (255, 255, 255, 0);
constexpr uint32_t kClientPid = 4242;

class IdleTimers final : public TimerObserver
{
public:
    void timerStarted (LyrLinkSysMgrTimer&, int) override {}
    void timerStopped (LyrLinkSysMgrTimer&) override {}
    void timerDestroyed (LyrLinkSysMgrTimer&) override {}
};

/** The real socket, read only by one chosen thread: any other sees a time-out. */
class GatedPort final : public DatagramPort
{
public:
    GatedPort (std::unique_ptr<DatagramPort> port, std::thread::id reader)
        : m_port (std::move (port)), m_reader (reader)
    {
    }

    bool isValid() const override { return m_port->isValid(); }
    bool bindAny (uint16_t port) override { return m_port->bindAny (port); }
    uint16_t getBoundPort() const override { return m_port->getBoundPort(); }
    void setReceiveTimeout (int milliseconds) override
    {
        if (std::this_thread::get_id() == m_reader)
            m_port->setReceiveTimeout (milliseconds);
    }
    int receive (uint8_t* buffer, size_t capacity, Ipv4& source) override
    {
        if (std::this_thread::get_id() == m_reader)
            return m_port->receive (buffer, capacity, source);
        std::this_thread::sleep_for (std::chrono::milliseconds (LyrLinkUDP::kReceiveTimeoutMs));
        return -1;
    }
    bool sendTo (Ipv4 destination, uint16_t port, const uint8_t* data, size_t length) override
    {
        return m_port->sendTo (destination, port, data, length);
    }
    std::unique_ptr<DatagramSender> openBroadcastSender (Ipv4 localAddress) override
    {
        return m_port->openBroadcastSender (localAddress);
    }
    bool resolve (const char* host, Ipv4& address) override { return m_port->resolve (host, address); }
    void close() override { m_port->close(); }

private:
    std::unique_ptr<DatagramPort> m_port;
    const std::thread::id m_reader;
};

/** A socket bound to the peer's address that queues frames for the manager's port. */
class Peer
{
public:
    explicit Peer (uint16_t port)
        : m_fd (::socket (AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)),
          m_to (makeSocketAddress (makeIpv4 (127, 0, 0, 1), port))
    {
        const auto local = makeSocketAddress (kPeerIp, 0);
        m_ok = m_fd >= 0 && ::bind (m_fd, reinterpret_cast<const sockaddr*> (&local), sizeof (local)) == 0;
    }
    ~Peer()
    {
        if (m_fd >= 0)
            ::close (m_fd);
    }

    bool isReady() const { return m_ok; }

    /** Queues count copies of frame; true when all went out. */
    bool send (const std::vector<uint8_t>& frame, size_t count)
    {
        iovec iov[kBatch];
        mmsghdr msgs[kBatch] {};
        for (size_t i = 0; i < count; ++i)
        {
            iov[i] = { const_cast<uint8_t*> (frame.data()), frame.size() };
            msgs[i].msg_hdr.msg_name = &m_to;
            msgs[i].msg_hdr.msg_namelen = sizeof (m_to);
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
        }
        return ::sendmmsg (m_fd, msgs, static_cast<unsigned> (count), 0) == static_cast<int> (count);
    }

private:
    int m_fd;
    sockaddr_in m_to;
    bool m_ok = false;
};

std::vector<uint8_t> refreshFrame()
{
    return test::FrameBuilder::configNotify (3, 1, kPeerIp, { 0xAA, 0, 0, 0, 0, 3 });
}

/** A manager on a real, loopback-bound UDP socket with the link up as id 17 on 127.0.0.20/24
    and device 3 (127.0.0.3) present. */
class SocketLink
{
public:
    explicit SocketLink (bool juceTimers)
    {
        if (! juceTimers)
            platform.timerObserver = &m_timers;
        else
            platform.timerObserver = nullptr;
        platform.udpPort = 0;
        const auto reader = std::this_thread::get_id();
        platform.makeDatagramPort = [reader] {
            return std::make_unique<GatedPort> (createLinuxDatagramPort(), reader);
        };
        platform.rows.addWiredInterface (2, kOwnIp, kNetmask, { 0x00, 0x11, 0x22, 0x33, 0x44, 0x55 }, "lo");
        mc = std::make_unique<MainComponent> (platform);
        port = mc->getNetworkAccess()->getDatagramPort().getBoundPort();
        peer = std::make_unique<Peer> (port);
        mc->getNetworkAccess()->getDatagramPort().setReceiveTimeout (1000);

        request (0, KIND_PROCESS_CONNECT);
        request (mc->getConnections().size() - 1, KIND_LINK_PERMIT);

        // Link-up from the device's first ConfigNotify, then the discovery and ID-use jobs run by
        // hand; the next ConfigNotify lists the device.
        receive (1);
        for (int i = 0; i < 4; ++i)
            mc->timerFuncDiscoveryResponse();
        for (int i = 0; i < 37; ++i)
            mc->timerFuncIdResponse();
        receive (1);

        // JUCE starts its timer thread from the message loop, which a benchmark does not run:
        // one short turn of it makes the timers the program's.
        if (juceTimers)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    }

    ~SocketLink() { mc.reset(); }

    bool isReady() const
    {
        return port != 0 && peer->isReady() && mc->getLinkStatus().state == STATE_RUN &&
               mc->getDeviceEntry (3).state == DEVICE_PRESENT;
    }

    /** Queues count refreshes and handles them; false when one did not arrive. */
    bool receive (size_t count)
    {
        if (! peer->send (m_frame, count))
            return false;
        for (size_t i = 0; i < count; ++i)
            if (! mc->getNetworkAccess()->receiveOnce())
                return false;
        return true;
    }

    IdleTimers m_timers;
    FakePlatform platform;
    std::unique_ptr<MainComponent> mc;
    uint16_t port = 0;
    std::unique_ptr<Peer> peer;
    const std::vector<uint8_t> m_frame = refreshFrame();

private:
    void request (int index, int32_t kind)
    {
        const auto msg = makeProcMsg (kind, kClientPid, 0, 0);
        mc->messageAnalize (index, juce::MemoryBlock (&msg, sizeof (msg)));
    }
};

int64_t processCpuNs()
{
    timespec ts {};
    ::clock_gettime (CLOCK_PROCESS_CPUTIME_ID, &ts);
    return int64_t (ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

long contextSwitches()
{
    rusage ru {};
    ::getrusage (RUSAGE_SELF, &ru);
    return ru.ru_nvcsw + ru.ru_nivcsw;
}

/** Measures handle(count) per batch and reports the per-frame counters. */
template <typename Send, typename Handle> void measure (benchmark::State& state, Send&& send, Handle&& handle)
{
    int64_t cpuNs = 0, wallNs = 0;
    long switches = 0;
    size_t allocations = 0;
    for (auto _ : state)
    {
        if (! send())
        {
            state.SkipWithError ("the frames could not be queued");
            return;
        }
        const auto cpu0 = processCpuNs();
        const auto switches0 = contextSwitches();
        const auto allocs0 = allocationsOnThisThread();
        const auto t0 = std::chrono::steady_clock::now();
        if (! handle())
        {
            state.SkipWithError ("a frame did not arrive");
            return;
        }
        const auto t1 = std::chrono::steady_clock::now();
        allocations += allocationsOnThisThread() - allocs0;
        switches += contextSwitches() - switches0;
        cpuNs += processCpuNs() - cpu0;
        wallNs += std::chrono::duration_cast<std::chrono::nanoseconds> (t1 - t0).count();
        state.SetIterationTime (std::chrono::duration<double> (t1 - t0).count());
    }
    const auto frames = static_cast<double> (state.iterations()) * double (kBatch);
    state.counters["ns/frame"] = benchmark::Counter (double (wallNs) / frames);
    state.counters["cpu_ns/frame"] = benchmark::Counter (double (cpuNs) / frames);
    state.counters["csw/frame"] = benchmark::Counter (double (switches) / frames);
    state.counters["allocs/frame"] = benchmark::Counter (double (allocations) / frames);
    state.SetItemsProcessed (static_cast<int64_t> (frames));
}

/** A reader that does nothing with what it reads: the floor of any receive path. */
void receiveOnly (benchmark::State& state)
{
    auto socket = createLinuxDatagramPort();
    if (! socket->bindAny (0))
    {
        state.SkipWithError ("no socket");
        return;
    }
    socket->setReceiveTimeout (1000);
    Peer peer (socket->getBoundPort());
    const auto frame = refreshFrame();
    uint8_t buffer[1472];
    measure (
        state, [&] { return peer.send (frame, kBatch); },
        [&] {
            Ipv4 source = 0;
            for (size_t i = 0; i < kBatch; ++i)
                if (socket->receive (buffer, sizeof (buffer), source) < 1)
                    return false;
            return true;
        });
}
BENCHMARK (receiveOnly)->UseManualTime();

/** The manager's receive path; Arg 1: JUCE's timers, Arg 0: virtual ones. */
void receiveRefresh (benchmark::State& state)
{
    SocketLink link (state.range (0) == 1);
    if (! link.isReady())
    {
        state.SkipWithError ("the link did not come up on the socket");
        return;
    }
    measure (
        state, [&] { return link.peer->send (link.m_frame, kBatch); },
        [&] {
            for (size_t i = 0; i < kBatch; ++i)
                if (! link.mc->getNetworkAccess()->receiveOnce())
                    return false;
            return link.mc->getDeviceEntry (3).state == DEVICE_PRESENT;
        });
}
BENCHMARK (receiveRefresh)->Arg (0)->Arg (1)->UseManualTime();

} // namespace
} // namespace lyrlink::bench
