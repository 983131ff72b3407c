#include "fuzz/FuzzLink.h"

#include <cstdlib>
#include <thread>

namespace lyrlink::fuzz
{

std::vector<uint8_t> InputReader::bytes (size_t size)
{
    const size_t n = std::min (size, remaining());
    std::vector<uint8_t> out (m_data + m_pos, m_data + m_pos + n);
    m_pos += n;
    return out;
}

StartFlags StartFlags::of (uint8_t b) noexcept
{
    // The common start (connected, running, permitted) is the one with all flag bits clear, so
    // that mutations of the other bits explore the rest.
    return { (b & 1) == 0, (b & 2) != 0, (b & 4) == 0, (b >> 3) & 3 };
}

void require (bool condition)
{
    if (! condition)
        std::abort();
}

namespace
{
/** The same numbers after every reset, whatever link-up seeds it with: link-up seeds with the
    time, which would make an input take a different path in every run. */
class ReplayableRandom final : public LinkRandom
{
public:
    void seed (unsigned) override {}
    int next() override
    {
        m_state = m_state * 1103515245u + 12345u;
        return static_cast<int> ((m_state >> 1) % (static_cast<unsigned> (kMax) + 1u));
    }
    void reset() noexcept { m_state = 1; }

private:
    unsigned m_state = 1;
};

ReplayableRandom g_random;

/** A client pipe whose reader thread finds it closed at once and ends: the targets hand the
    pipe's frames to messageAnalize themselves, and a reader thread still blocked when the reset
    drops the pipe would cost milliseconds of JUCE's polling stop on every input. Everything else
    is the fake pipe's. */
class ReaderlessPipe final : public PipeEndpoint
{
public:
    explicit ReaderlessPipe (std::shared_ptr<test::FakePipeHub> hub) : m_pipe (std::move (hub)) {}
    bool create (const std::string& name) override { return m_pipe.create (name); }
    int read (uint8_t*, size_t) override { return -1; }
    bool write (const uint8_t* data, size_t size, int connectWaitMs, int writeTimeoutMs) override
    {
        return m_pipe.write (data, size, connectWaitMs, writeTimeoutMs);
    }
    void close() override { m_pipe.close(); }

private:
    test::FakePipeEndpoint m_pipe;
};
} // namespace

test::LinkHarness& harness()
{
    // Never destroyed: the process ends while it is still in use, and it stays reachable.
    static test::LinkHarness* made = [] {
        auto* h = new test::LinkHarness ([] (test::FakePlatform& p) {
            p.rows.addWiredInterface (2, kWiredIp, kNetmask, { 0x00, 0x11, 0x22, 0x33, 0x44, 0x55 });
            p.rows.addWirelessInterface (3, kWirelessIp, kNetmask, { 0x00, 0x11, 0x22, 0x33, 0x44, 0x66 }, "fuzz",
                                         { 0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE });
        });
        h->mc->getLog().setWritesFile (false);
        // The master pipe keeps its reader; the client pipes made from here on have none.
        h->platform.makePipeEndpoint = [hub = h->platform.pipes] { return std::make_unique<ReaderlessPipe> (hub); };
        return h;
    }();
    return *made;
}

namespace
{
void resetManager (const StartFlags& flags)
{
    auto& h = harness();
    h.mc->resetForTests (flags.processConnected, flags.suspended, flags.linkPermitted);
    h.clearSent();
    h.clearPipeMessages();
    h.clearLog();
    h.scheduler.clearEvents();
}
} // namespace

void finishInput()
{
    // A client pipe's reader ends as soon as it runs (ReaderlessPipe); dropping the pipe while
    // its thread is still starting would put JUCE's stop into its 2 ms polling sleep.
    auto& connections = harness().mc->getConnections();
    for (int i = 1; i < connections.size(); ++i)
        if (const auto c = connections.get (i))
            for (int spins = 0; c->isThreadRunning() && spins < 1000000; ++spins)
                std::this_thread::yield();
    resetManager (StartFlags::of (0));
}

void startInput (const StartFlags& flags)
{
    auto& h = harness();
    // The random back-off delays: the same input must take the same path whenever it runs.
    g_random.reset();
    resetManager (flags);

    if (flags.phase == 0)
        return;
    const Ipv4 peer = makeIpv4 (192, 168, 1, 3);
    h.receive (peer, test::FrameBuilder::configNotify (3, 1, peer, { 0xAA, 0, 0, 0, 0, 3 }));
    static constexpr uint8_t kPhaseStates[] = { STATE_IDLE, STATE_DISCOVERY, STATE_IDUSE, STATE_RUN };
    for (int i = 0; i < 64 && h.mc->getLinkStatus().state != kPhaseStates[flags.phase]; ++i)
        if (! h.scheduler.fireNext())
            break;
}

void checkInvariants()
{
    const auto status = harness().mc->getLinkStatus();
    const auto state = status.state;
    require (state == STATE_IDLE || state == STATE_DISCOVERY || state == STATE_IDWAIT || state == STATE_IDUSE ||
             state == STATE_RUN);
    // A running link holds an id that a device may have.
    require (state != STATE_RUN || isDeviceId (status.id));
}

} // namespace lyrlink::fuzz
