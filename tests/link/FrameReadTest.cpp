// Frame reception: the client gates, the suspended report, the wireless block rule, the dispatch
// table, and short frames, which are dropped before anything reads past their end.
#include "link/LinkScenario.h"

#include <thread>

using namespace lyrlink;
using namespace lyrlink::test;

namespace
{
class FrameRead : public LinkScenario
{
protected:
    /** Everything a frame can change, to compare before and after. */
    struct Snapshot
    {
        std::vector<uint8_t> status;
        std::vector<uint8_t> table;
        size_t sent;
        size_t notes;
        size_t logLines;
        bool rejected;

        bool operator== (const Snapshot& o) const
        {
            return status == o.status && table == o.table && sent == o.sent && notes == o.notes
                && logLines == o.logLines && rejected == o.rejected;
        }
    };

    Snapshot snapshot() const
    {
        Snapshot s;
        const auto st = status();
        const auto* raw = reinterpret_cast<const uint8_t*> (&st);
        s.status.assign (raw, raw + sizeof (st));
        for (int id = 1; id <= kMaxDeviceId; ++id)
        {
            const auto e = h.mc->getDeviceEntry (id);
            const auto* r = reinterpret_cast<const uint8_t*> (&e);
            s.table.insert (s.table.end(), r, r + sizeof (e));
        }
        s.sent = h.sent().size();
        s.notes = h.pipeMessages().size();
        s.logLines = h.log().size();
        s.rejected = h.mc->isRejected();
        return s;
    }
};
} // namespace

TEST_F (FrameRead, NothingHappensBeforeAClientConnects)
{
    addWiredInterface();
    const auto player = wiredPlayer();
    const auto before = snapshot();
    send (player);
    receive (player, FrameBuilder::simple (FRAME_REJECT, 0, 0));
    receive (player, FrameBuilder::simple (FRAME_RESET_NOTIFY, 0, 0));
    EXPECT_TRUE (snapshot() == before);
    EXPECT_FALSE (h.mc->isRejected());
}

TEST_F (FrameRead, WhileSuspendedOnlyConfigNotifyIsReported)
{
    addWiredInterface();
    h.connectClient (kClientPid, true);
    clearRecords();
    const auto player = wiredPlayer();

    send (player);
    auto notes = h.notifications();
    ASSERT_EQ (notes.size(), 1u);
    EXPECT_EQ (notes[0].msg.kind, KIND_CONFIG_SEEN_WHILE_SUSPENDED);
    EXPECT_EQ (notes[0].msg.id, 3);
    EXPECT_EQ (notes[0].linkStatus().state, STATE_IDLE);
    EXPECT_EQ (notes[0].linkStatus().id, 17);
    EXPECT_TRUE (h.logTexts().empty());
    EXPECT_EQ (status().state, STATE_IDLE);

    // Any subtype of type 6 is reported; id 0 is refused by the notification itself.
    h.clearPipeMessages();
    auto other = player.configNotify();
    other[11] = 1;
    receive (player, other);
    Device zero = player;
    zero.id = 0;
    send (zero);
    EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_CONFIG_SEEN_WHILE_SUSPENDED, 3 } }));
    EXPECT_EQ (h.logTexts(), (std::vector<std::string> { "MainComponent::notifyMessage NG id =0" }));

    // Everything else is dropped, block rule and reject included.
    h.clearPipeMessages();
    h.clearLog();
    const auto before = snapshot();
    receive (player, FrameBuilder::simple (FRAME_REJECT, 0, 0));
    receive (player, FrameBuilder::discoveryRequest (1, player.mac));
    EXPECT_TRUE (snapshot() == before);

    // After Resume the next notice brings the link up.
    h.request (1, KIND_RESUME, kClientPid);
    send (player);
    EXPECT_EQ (status().state, STATE_DISCOVERY);
}

TEST_F (FrameRead, SuspendWhileUpThenResume)
{
    const auto player = wiredPlayer();
    bringUpWired (player);
    send (player);
    clearRecords();

    h.request (1, KIND_SUSPEND, kClientPid);
    EXPECT_EQ (sentOfType (FRAME_DISCONNECT).size(), 1u);
    EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_DEVICE_CHANGED, 3 },
                                                                          { KIND_LINK_STATUS_CHANGED, 17 } }));
    EXPECT_EQ (status().state, STATE_IDLE);
    expectDevcountInvariant();

    // Frames now only report notices; the protocol timers are stopped.
    clearRecords();
    send (player);
    EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_CONFIG_SEEN_WHILE_SUSPENDED, 3 } }));
    h.scheduler.advance (20000);
    EXPECT_TRUE (sentOfType (FRAME_CONFIG_NOTIFY).empty());

    h.request (1, KIND_RESUME, kClientPid);
    send (player);
    h.scheduler.advance (3900);
    EXPECT_EQ (status().state, STATE_RUN);
    EXPECT_EQ (status().devcount, 1);
}

//==============================================================================
struct BlockCase
{
    const char* model;
    uint8_t minorver;
    bool blocked;
};

void PrintTo (const BlockCase& c, std::ostream* os)
{
    *os << c.model << " minorver " << int (c.minorver);
}

class BlockRule : public FrameRead, public ::testing::WithParamInterface<BlockCase>
{
};

TEST_P (BlockRule, AppliesOnAWirelessLink)
{
    const auto& c = GetParam();
    bringUpWireless();
    Device d = wirelessPlayer (2);
    d.model = c.model;
    d.minorver = c.minorver;
    send (d);
    if (c.blocked)
    {
        EXPECT_EQ (h.logTexts(), (std::vector<std::string> { std::string ("MainComponent::frameRead NG DKP-5100 DKP-410 "
                                                                           "BLOCK linkif = 0 frmHeader->minorver = 0 "
                                                                           "model = ")
                                                              + c.model }));
        EXPECT_EQ (h.mc->getDeviceEntry (2).state, DEVICE_NEVER_USED);
    }
    else
    {
        EXPECT_EQ (h.mc->getDeviceEntry (2).state, DEVICE_PRESENT);
    }
}

TEST_P (BlockRule, NeverAppliesOnAWiredLink)
{
    const auto& c = GetParam();
    bringUpWired();
    Device d = wiredPlayer (2);
    d.model = c.model;
    d.minorver = c.minorver;
    send (d);
    EXPECT_EQ (h.mc->getDeviceEntry (2).state, DEVICE_PRESENT);
}

INSTANTIATE_TEST_SUITE_P (FrameRead, BlockRule,
                          ::testing::Values (BlockCase { "DKP-410", 0, true }, BlockCase { "DKP-5100", 0, true },
                                             BlockCase { "DKP-410", 1, false }, BlockCase { "DKP-5100", 255, false },
                                             BlockCase { "DKP-4100", 0, false }, BlockCase { "DKP-410X", 0, false },
                                             BlockCase { "DKP-41", 0, false },
                                             // a model field without a terminating NUL
                                             BlockCase { "DKP-410DKP-410DKP-41", 0, false }));

TEST_F (FrameRead, BlockRuleWaitsForTheInterfaceKind)
{
    // Before link-up linkif is 255: even a blocked model is dispatched (and refused by link-up
    // only once the interface is known to be wireless).
    addWiredInterface();
    connectClient();
    Device old = wiredPlayer();
    old.model = "DKP-410";
    old.minorver = 0;
    send (old);
    EXPECT_EQ (status().state, STATE_DISCOVERY);
}

//==============================================================================
TEST_F (FrameRead, TypesWithoutAHandlerAreDroppedSilently)
{
    const auto player = wiredPlayer();
    bringUpWired (player);
    send (player);
    clearRecords();
    const auto before = snapshot();

    const std::vector<std::vector<uint8_t>> frames {
        FrameBuilder::simple (1, 0, 20, 3),
        FrameBuilder::simple (5, 0, 20, 3),
        FrameBuilder::simple (FRAME_COMPATI_REQUEST, 0, 1, 4),
        FrameBuilder::simple (12, 0, 20, 3),
        FrameBuilder::simple (255, 0, 20, 3),
        [] { auto f = FrameBuilder::idUseRequest (17, 1, makeIpv4 (192, 168, 1, 3)); f[11] = 1; return f; }(),
        [] { auto f = FrameBuilder::idUseRequest (17, 1, makeIpv4 (192, 168, 1, 3)); f[11] = 3; return f; }(),
        FrameBuilder::idUseResponse (17, 1, 2),
        [] { auto f = wiredPlayer (5).configNotify(); f[11] = 1; return f; }(),
    };
    for (const auto& f : frames)
        receive (player, f);
    EXPECT_TRUE (snapshot() == before);
}

//==============================================================================
// Short frames: each handled type and subtype cut one byte short of what its handler reads is
// dropped whole; at exactly that length it is handled. The minimums are written out here, not taken
// from the layout. The frame reaches frameRead in a buffer of exactly its length, so a read past the
// end shows under AddressSanitizer.

struct ShortCase
{
    const char* what;
    size_t minimum;
    std::function<std::vector<uint8_t>()> frame;
    /** Puts the running link where the frame has an effect, if bringing it up is not enough. */
    std::function<void (LinkHarness&)> prepare = {};
};

void PrintTo (const ShortCase& c, std::ostream* os)
{
    *os << c.what;
}

class ShortFrame : public FrameRead, public ::testing::WithParamInterface<ShortCase>
{
};

TEST_P (ShortFrame, IsDroppedOneByteShortAndHandledAtItsMinimum)
{
    const auto& c = GetParam();
    const auto player = wiredPlayer();
    bringUpWired (player);
    send (player);
    clearRecords();

    auto full = c.frame();
    ASSERT_GE (full.size(), c.minimum);
    full.resize (c.minimum);
    if (c.prepare)
        c.prepare (h);

    const auto before = snapshot();
    h.frameRead (std::vector<uint8_t> (full.begin(), full.end() - 1));
    EXPECT_TRUE (snapshot() == before) << c.what << " handled at " << c.minimum - 1 << " bytes";

    h.frameRead (full);
    EXPECT_FALSE (snapshot() == before) << c.what << " not handled at " << c.minimum << " bytes";
    expectDevcountInvariant();
}

const Device kShortPeer = wiredPlayer (3);
const Ipv4 kReplyTo = makeIpv4 (192, 168, 1, 99);

/** The reserved STATE_IDSET, the one state in which an IdSetResponse is read; the manager does not
    count itself there yet. */
void enterIdSet (LinkHarness& h)
{
    auto s = h.mc->getLinkStatus();
    s.state = STATE_IDSET;
    --s.devcount;
    h.mc->setLinkStatusForTests (s);
}

std::vector<uint8_t> withSubType (std::vector<uint8_t> frame, uint8_t subType)
{
    frame[11] = subType;
    return frame;
}

INSTANTIATE_TEST_SUITE_P (
    FrameRead, ShortFrame,
    ::testing::Values (
        ShortCase { "DiscoveryRequest", 44, [] { return FrameBuilder::discoveryRequest (1, kShortPeer.mac); } },
        ShortCase { "DiscoveryRequestOtherSubtype", 44,
                    [] { return withSubType (FrameBuilder::discoveryRequest (1, kShortPeer.mac), 7); } },
        ShortCase { "IdUseRequest", 48, [] { return FrameBuilder::idUseRequest (17, 2, kReplyTo); } },
        ShortCase { "IdUseRequestFromBlk", 68, [] { return FrameBuilder::idUseRequestFromBlk (kReplyTo, 1, 0, 5); } },
        ShortCase { "IdUseResponse", 39, [] { return FrameBuilder::idUseResponse (17, 1); } },
        ShortCase { "IdSetResponse", 39, [] { return FrameBuilder::idUseResponse (17, 0, 1); }, enterIdSet },
        ShortCase { "TimeServerRequest", 37, [] { return FrameBuilder::simple (FRAME_TIME_SERVER_REQUEST, 0, 1, 17); } },
        ShortCase { "ConfigNotify", 54, [] { return wiredPlayer (5).configNotify(); } },
        ShortCase { "LeaveNotify", 37, [] { return FrameBuilder::simple (FRAME_LEAVE_NOTIFY, 0, 1, 3); } },
        ShortCase { "Disconnect", 37, [] { return FrameBuilder::simple (FRAME_DISCONNECT, 0, 5, 3); } },
        ShortCase { "DisconnectOtherSubtype", 37, [] { return FrameBuilder::simple (FRAME_DISCONNECT, 3, 5, 3); } },
        ShortCase { "Reject", 36, [] { return FrameBuilder::simple (FRAME_REJECT, 0, 0); } },
        ShortCase { "ResetNotify", 36, [] { return FrameBuilder::simple (FRAME_RESET_NOTIFY, 0, 0); } }),
    [] (const auto& info) { return std::string (info.param.what); });

TEST_F (FrameRead, ShortFramesWhileSuspendedAndWithoutHeader)
{
    addWiredInterface();
    h.connectClient (kClientPid, true);
    clearRecords();

    // A ConfigNotify header without the id byte reports nothing.
    h.frameRead (FrameBuilder::header (FRAME_CONFIG_NOTIFY, 0, 36));
    EXPECT_TRUE (h.notifications().empty());
    EXPECT_TRUE (h.logTexts().empty());

    // Anything shorter than the header is nothing at all.
    h.request (1, KIND_RESUME, kClientPid);
    clearRecords();
    const auto before = snapshot();
    for (size_t n : { 0, 1, 10, 11, 35 })
    {
        auto f = wiredPlayer().configNotify();
        f.resize (n);
        h.frameRead (f);
    }
    EXPECT_TRUE (snapshot() == before);
}

//==============================================================================
// Frames from the receive thread interleaved with timer jobs and client requests on this thread:
// every change and every copy for a client goes through the link lock, so the table and devcount
// stay consistent (and the thread sanitizer sees no race).
TEST_F (FrameRead, FramesFromAnotherThreadInterleaveWithTimersAndRequests)
{
    bringUpWired();
    std::atomic<bool> done { false };
    std::thread receiver ([this, &done] {
        for (int round = 0; round < 200; ++round)
            for (uint8_t id : { 2, 3, 5, 6 })
            {
                h.frameRead (wiredPlayer (id).configNotify());
                if (round % 50 == 0)
                    h.frameRead (FrameBuilder::simple (FRAME_DISCONNECT, 0, 5, id));
            }
        done = true;
    });
    int step = 0;
    while (! done)
    {
        h.scheduler.advance (250);
        if (++step % 4 == 0)
            h.request (1, KIND_GET_DEVICE_LIST, kClientPid);
    }
    receiver.join();
    expectDevcountInvariant();
}
