// frameRead, the receive threads' entry, on the two paths that matter in a running link:
//  - a present device refreshing itself (every device does so every 2 s), which must not touch the
//    heap: the allocations made on the calling thread are counted and reported per frame;
//  - a new device joining, with one client connected: the add, its log line and one DeviceChanged.
//
// The manager runs on the test fakes. Its timers are virtual and never fire (a no-op observer), so
// the numbers are those of the frame handling alone; the link is brought up by calling the timer
// jobs directly.
#include "AllocationCounter.h"
#include "app/LyrLinkSysMgrLog.h"
#include "app/MainComponent.h"
#include "ipc/LyrLinkIPCServer.h"
#include "ipc/ProcMsg.h"
#include "netenv/LyrLinkNetworkAccess.h"
#include "support/FakePlatform.h"
#include "support/TestFrames.h"

#include <benchmark/benchmark.h>

namespace lyrlink::bench
{

using test::FakeDatagramPort;
using test::FakePlatform;

/** Timers that never fire and cost nothing. */
class IdleTimers final : public TimerObserver
{
public:
    void timerStarted (LyrLinkSysMgrTimer&, int) override {}
    void timerStopped (LyrLinkSysMgrTimer&) override {}
    void timerDestroyed (LyrLinkSysMgrTimer&) override {}
};

const Ipv4 kOwnIp = makeIpv4 (192, 168, 1, 20);
const Ipv4 kNetmask = makeIpv4 (255, 255, 255, 0);
constexpr uint32_t kClientPid = 4242;

/** A ConfigNotify from the player with that id. */
std::vector<uint8_t> configNotify (uint8_t id, Ipv4 ip, const std::array<uint8_t, 6>& mac)
{
    return test::FrameBuilder::configNotify (id, 1, ip, mac);
}

std::array<uint8_t, 6> macOf (uint8_t id) { return { 0xAA, 0, 0, 0, 0, id }; }

/** A manager with one client whose link is up as id 17 on 192.168.1.20/24. */
class RunningLink
{
public:
    RunningLink()
    {
        platform.timerObserver = &m_timers;
        platform.udp->receivingThread = std::this_thread::get_id();
        platform.rows.addWiredInterface (2, kOwnIp, kNetmask, { 0x00, 0x11, 0x22, 0x33, 0x44, 0x55 });
        mc = std::make_unique<MainComponent> (platform);

        request (0, KIND_PROCESS_CONNECT);
        request (mc->getConnections().size() - 1, KIND_LINK_PERMIT);

        const auto peer = makeIpv4 (192, 168, 1, 3);
        FakeDatagramPort::deliver (*platform.udp, peer, configNotify (3, peer, macOf (3)));
        mc->getNetworkAccess()->receiveOnce();
        for (int i = 0; i < 4; ++i)
            mc->timerFuncDiscoveryResponse();
        for (int i = 0; i < 37; ++i)
            mc->timerFuncIdResponse();
    }

    ~RunningLink() { mc.reset(); }

    bool isRunning() const { return mc->getLinkStatus().state == STATE_RUN; }

    void frameRead (const juce::MemoryBlock& block)
    {
        const uint8_t source[4] { 192, 168, 1, 3 };
        mc->frameRead (source, block);
    }

    IdleTimers m_timers;
    FakePlatform platform;
    std::unique_ptr<MainComponent> mc;

private:
    void request (int index, int32_t kind)
    {
        const auto msg = makeProcMsg (kind, kClientPid, 0, 0);
        mc->messageAnalize (index, juce::MemoryBlock (&msg, sizeof (msg)));
    }
};

void frameReadRefresh (benchmark::State& state)
{
    RunningLink link;
    const auto bytes = configNotify (3, makeIpv4 (192, 168, 1, 3), macOf (3));
    const juce::MemoryBlock frame (bytes.data(), bytes.size());
    link.frameRead (frame);  // the device is now present
    if (! link.isRunning() || link.mc->getDeviceEntry (3).state != DEVICE_PRESENT)
    {
        state.SkipWithError ("the link did not come up");
        return;
    }

    const auto before = allocationsOnThisThread();
    for (auto _ : state)
        link.frameRead (frame);
    const auto allocations = allocationsOnThisThread() - before;

    state.counters["allocs/frame"] = benchmark::Counter (static_cast<double> (allocations),
                                                         benchmark::Counter::kAvgIterations);
    if (allocations != 0)
        state.SkipWithError ("a refresh allocated on the heap");
}
BENCHMARK (frameReadRefresh);

void frameReadAddDevice (benchmark::State& state)
{
    RunningLink link;
    if (! link.isRunning())
    {
        state.SkipWithError ("the link did not come up");
        return;
    }

    // Ids 20 to 79: players' ids that are neither the manager's nor an all-in-one unit's.
    std::vector<juce::MemoryBlock> frames;
    for (uint8_t id = 20; id < 80; ++id)
    {
        const auto bytes = configNotify (id, makeIpv4 (192, 168, 1, id), macOf (id));
        frames.emplace_back (bytes.data(), bytes.size());
    }

    auto takeNotifications = [&link] {
        const std::lock_guard<std::mutex> g (link.platform.pipes->lock);
        const auto n = link.platform.pipes->written.size();
        link.platform.pipes->written.clear();
        return n;
    };
    takeNotifications();

    size_t next = 0;
    size_t notifications = 0;
    for (auto _ : state)
    {
        link.frameRead (frames[next]);
        if (++next == frames.size())
        {
            // Empty the table again, outside the measurement.
            state.PauseTiming();
            notifications += takeNotifications();
            link.mc->deleteAllPeers();
            takeNotifications();
            next = 0;
            state.ResumeTiming();
        }
    }
    notifications += takeNotifications();
    // One DeviceChanged to the one client per frame.
    state.counters["notes/frame"] = benchmark::Counter (static_cast<double> (notifications),
                                                        benchmark::Counter::kAvgIterations);
}
BENCHMARK (frameReadAddDevice);

} // namespace lyrlink::bench
