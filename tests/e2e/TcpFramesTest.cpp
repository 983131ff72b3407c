// Equipment frames over TCP port 50000, end to end: the manager takes each read that passes the
// header test as one frame, exactly as a datagram, serves one connection at a time, keeps it open
// between frames and never writes back.
#include "e2e/E2eScenario.h"

#include "link/FrameFormat.h"

#include <csignal>
#include <sys/socket.h>

using namespace lyrlink;
using namespace lyrlink::e2e;
using namespace std::chrono_literals;
using client::Status;

namespace
{

Bytes configNotify (uint8_t id)
{
    return makeFrame (FRAME_CONFIG_NOTIFY, 0,
                      configNotifyBody (id, 1, { 10, 50, 0, id }, { 0x02, 0x00, 0x0a, 0x32, 0x00, id }));
}

Bytes withHeaderByte (Bytes frame, size_t offset, uint8_t value)
{
    frame[offset] = value;
    return frame;
}

bool added (const E2eScenario& s, int id)
{
    return s.manager->hasLog ("MainComponent::readConfigNotify add id = " + std::to_string (id) + " ip = 10.50.0." + std::to_string (id));
}

} // namespace

TEST (TcpFrames, ReadsThatPassTheHeaderTestAreHandledLikeDatagrams)
{
    LYRLINK_REQUIRE_E2E();
    E2eScenario s ("tcp");
    ASSERT_EQ (s.problem(), "");
    ASSERT_TRUE (s.startSimulator ({ "id=1,type=1,ip=10.50.0.11" }));
    ASSERT_GE (s.waitForLinkState (STATE_RUN, 17, kLinkUpTimeout), 0) << s.describe();
    auto& client = *s.client;
    const auto mark = client.receivedCount();
    const auto simMark = s.sim->lineCount();

    TcpConnection first (s.net.equipmentNs(), "10.50.0.1", 50000);
    ASSERT_TRUE (first.isConnected());
    // Each write is given time to arrive as a read of its own.
    const auto sendAlone = [] (TcpConnection& c, const Bytes& bytes) {
        const bool sent = c.send (bytes);
        std::this_thread::sleep_for (150ms);
        return sent;
    };

    // A ConfigNotify adds its device (from the address in its body: the TCP source is 0.0.0.0).
    ASSERT_TRUE (sendAlone (first, configNotify (30)));
    ASSERT_TRUE (s.manager->waitForLog ("MainComponent::readConfigNotify add id = 30 ip = 10.50.0.30", kStepTimeout)) << s.describe();
    ASSERT_GE (client.waitFor ([] (const Received& r) { return r.isDeviceChanged (30, DEVICE_PRESENT); }, kStepTimeout, mark), 0);

    // Reads that fail the header test are dropped, though each would change the link as a datagram.
    const Bytes reject = makeFrame (FRAME_REJECT, 0, {});
    const Bytes reset = makeFrame (FRAME_RESET_NOTIFY, 0, {});
    const Bytes blk = makeFrame (FRAME_ID_USE, 2, [] { Bytes b (32, 0); b[0] = 10; b[1] = 50; b[3] = 11; b[12] = 1; return b; }());
    for (const auto& bad : { withHeaderByte (reject, 32, 2),                // hdrclass 2
                             withHeaderByte (reset, 11, 1),                 // subtype 1 of a type that has none
                             withHeaderByte (configNotify (31), 11, 1),     // subtype 1 with type 6
                             withHeaderByte (configNotify (31), 10, 12),    // type 12
                             withHeaderByte (configNotify (31), 0, 'X'),    // no magic
                             blk,                                           // subtype 2 with type 2
                             resized (reject, 32) })                        // shorter than 33 bytes
        ASSERT_TRUE (sendAlone (first, bad));

    // Two frames in one read go on as one: the second is not seen.
    auto twoFrames = configNotify (32);
    const auto second = configNotify (33);
    twoFrames.insert (twoFrames.end(), second.begin(), second.end());
    ASSERT_TRUE (sendAlone (first, twoFrames));

    // The connection stays open for further frames: a LeaveNotify removes device 30.
    ASSERT_TRUE (sendAlone (first, makeFrame (FRAME_LEAVE_NOTIFY, 0, { 30, 10, 50, 0, 30 })));
    ASSERT_GE (client.waitFor ([] (const Received& r) { return r.isDeviceChanged (30, DEVICE_REMOVED); }, kStepTimeout, mark), 0)
        << s.describe();
    EXPECT_TRUE (added (s, 32)) << s.describe();
    EXPECT_FALSE (added (s, 31));
    EXPECT_FALSE (added (s, 33));
    EXPECT_EQ (s.sim->waitForReceived ("IdUseResponse", "10.50.0.1", 0ms, simMark), -1);
    EXPECT_LT (s.waitForLinkState (STATE_IDLE, 0, 0ms, mark), 0);
    EXPECT_TRUE (s.manager->logStartingWith ("MainComponent::readReject").empty());

    // One connection at a time: a second client is served only once the first has closed.
    TcpConnection next (s.net.equipmentNs(), "10.50.0.1", 50000);
    ASSERT_TRUE (next.isConnected());
    ASSERT_TRUE (sendAlone (next, configNotify (34)));
    std::this_thread::sleep_for (350ms);
    EXPECT_FALSE (added (s, 34)) << s.describe();
    first.close();
    ASSERT_TRUE (waitFor ([&] { return added (s, 34); }, kStepTimeout)) << s.describe();

    // Nothing was ever written back, and the link is still up.
    uint8_t byte = 0;
    EXPECT_EQ (next.receiveNow (&byte, 1), -1);
    LinkStatus status {};
    ASSERT_EQ (client.getLinkStatus (status), Status::ok);
    EXPECT_EQ (status.state, STATE_RUN);

    // The manager stops promptly while a TCP client holds its connection open.
    const auto start = Clock::now();
    EXPECT_EQ (s.manager->process().stop (SIGTERM, 5s), 0);
    EXPECT_LT (Clock::now() - start, 1500ms);
}
