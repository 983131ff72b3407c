// What takes a running link away and how it comes back, end to end: an id duplication announced by
// a TimeServerRequest or a ConfigNotify, a reset and a reject from the network, and a client's
// suspend and resume.
#include "e2e/E2eScenario.h"

using namespace lyrlink;
using namespace lyrlink::e2e;
using namespace std::chrono_literals;
using client::Status;

namespace
{

const std::string kManagerIp = "10.50.0.1";

/** Brings the link up with two players and waits for both to be in the table. */
void bringUp (E2eScenario& s)
{
    ASSERT_EQ (s.problem(), "");
    ASSERT_TRUE (s.startSimulator ({ "id=1,type=1,ip=10.50.0.11", "id=2,type=1,ip=10.50.0.12" }));
    ASSERT_GE (s.waitForLinkState (STATE_RUN, 17, kLinkUpTimeout), 0) << s.describe();
    for (const int id : { 1, 2 })
        ASSERT_GE (s.client->waitFor ([id] (const Received& r) { return r.isDeviceChanged (id, DEVICE_PRESENT); }, kStepTimeout), 0)
            << s.describe();
}

/** Waits for both players to be reported removed and then for a LinkStatusChanged to state, all
    after message index from; the index of the LinkStatusChanged. */
int waitForPeersRemovedThen (const E2eScenario& s, uint8_t state, size_t from)
{
    const int change = s.waitForLinkState (state, 17, kStepTimeout, from);
    for (const int id : { 1, 2 })
    {
        const int removed = s.client->waitFor ([id] (const Received& r) { return r.isDeviceChanged (id, DEVICE_REMOVED); }, 0ms, from);
        EXPECT_GE (removed, 0) << "id " << id;
        EXPECT_LT (removed, change) << "id " << id;
    }
    return change;
}

} // namespace

TEST (LinkEvents, AnIdDuplicationBacksOffAndClaimsTheIdAgain)
{
    LYRLINK_REQUIRE_E2E();
    E2eScenario s ("dup");
    bringUp (s);
    if (HasFatalFailure())
        return;
    auto& client = *s.client;

    struct Case
    {
        const char* event;
        const char* logLine;
        bool sendsDisconnect;
    };
    for (const Case c : { Case { "timeserver id=17", "MainComponent::readTimeServerRequest ID duplication id = 17", false },
                          Case { "config id=17", "MainComponent::readConfigNotify ID duplication id = 17 ip = 10.50.0.11", true } })
    {
        SCOPED_TRACE (c.event);
        const auto mark = client.receivedCount();
        const auto simMark = s.sim->lineCount();
        ASSERT_TRUE (s.sim->command (c.event));
        ASSERT_TRUE (s.manager->waitForLog (c.logLine, kStepTimeout)) << s.describe();

        // The clients hear the peers go and the link wait, still under the duplicated id.
        const int wait = waitForPeersRemovedThen (s, STATE_IDWAIT, mark);
        ASSERT_GE (wait, 0) << s.describe();
        EXPECT_EQ (client.received()[(size_t) wait].fields.id, 17);

        // Within the back-off of at most 300 ms the id is requested again, and after the rotation
        // claimed: no new discovery, straight from STATE_IDWAIT to STATE_RUN.
        const int run = s.waitForLinkState (STATE_RUN, 17, kLinkUpTimeout, (size_t) wait);
        ASSERT_GE (run, 0) << s.describe();
        EXPECT_LT (s.waitForLinkState (STATE_DISCOVERY, 0, 0ms, mark), 0);
        EXPECT_EQ (s.sim->waitForReceived ("DiscoveryRequest", kManagerIp, 0ms, simMark), -1);
        const int request = s.sim->waitForReceived ("IdUseRequest", kManagerIp, 0ms, simMark);
        ASSERT_GE (request, 0);
        EXPECT_EQ (s.sim->waitForReceived ("Disconnect", kManagerIp, 0ms, simMark) >= 0, c.sendsDisconnect) << s.describe();
        if (c.sendsDisconnect)
            EXPECT_EQ (s.sim->lines()[(size_t) s.sim->waitForReceived ("Disconnect", kManagerIp, 0ms, simMark)].number ("id"), 17);

        // The players come back with their next announcements.
        for (const int id : { 1, 2 })
            EXPECT_GE (client.waitFor ([id] (const Received& r) { return r.isDeviceChanged (id, DEVICE_PRESENT); }, kStepTimeout, (size_t) run), 0);
    }
}

TEST (LinkEvents, AResetTakesTheLinkDownUntilTheNextAnnouncementAndARejectForGood)
{
    LYRLINK_REQUIRE_E2E();
    E2eScenario s ("reset");
    bringUp (s);
    if (HasFatalFailure())
        return;
    auto& client = *s.client;

    // Reset: peers removed, STATE_IDLE, and the next ConfigNotify brings the link up again.
    auto mark = client.receivedCount();
    ASSERT_TRUE (s.sim->command ("reset"));
    const int idle = waitForPeersRemovedThen (s, STATE_IDLE, mark);
    ASSERT_GE (idle, 0) << s.describe();
    const int discovery = s.waitForLinkState (STATE_DISCOVERY, 17, kStepTimeout, (size_t) idle);
    ASSERT_GE (discovery, 0) << s.describe();
    ASSERT_GE (s.waitForLinkState (STATE_RUN, 17, kLinkUpTimeout, (size_t) discovery), 0) << s.describe();
    EXPECT_EQ (s.manager->countLog ("MainComponent::readConfigNotify FIRST RCV CONFIG    "), 2u);

    // Reject: a Disconnect goes out, the clients hear LinkStatusChanged and then LinkRejected, and
    // every later announcement is refused until the program starts again.
    mark = client.receivedCount();
    const auto simMark = s.sim->lineCount();
    ASSERT_TRUE (s.sim->command ("reject"));
    ASSERT_TRUE (s.manager->waitForLog ("MainComponent::readReject DKP AND WMR EXIST ", kStepTimeout)) << s.describe();
    const int changed = client.waitFor ([] (const Received& r) { return r.fields.kind == KIND_LINK_STATUS_CHANGED && r.fields.id == 17; }, kStepTimeout, mark);
    const int rejected = client.waitFor ([] (const Received& r) { return r.fields.kind == KIND_LINK_REJECTED && r.fields.id == 17; }, kStepTimeout, mark);
    ASSERT_GE (changed, 0) << s.describe();
    EXPECT_GT (rejected, changed) << s.describe();
    const int disconnect = s.sim->waitForReceived ("Disconnect", kManagerIp, kStepTimeout, simMark);
    ASSERT_GE (disconnect, 0) << s.describe();
    EXPECT_EQ (s.sim->lines()[(size_t) disconnect].number ("id"), 17);

    ASSERT_TRUE (s.manager->waitForLog ("MainComponent::linkUpFunc NG Rejected", kStepTimeout)) << s.describe();
    LinkStatus status {};
    ASSERT_EQ (client.getLinkStatus (status), Status::ok);
    EXPECT_EQ (status.state, STATE_IDLE);
    EXPECT_EQ (status.id, 17);
    EXPECT_EQ (s.sim->waitForReceived ("DiscoveryRequest", kManagerIp, 0ms, simMark), -1);
    EXPECT_LT (s.waitForLinkState (STATE_DISCOVERY, 0, 0ms, (size_t) rejected), 0);
}

TEST (LinkEvents, WhileSuspendedAnnouncementsAreOnlyReportedAndResumeBringsTheLinkBack)
{
    LYRLINK_REQUIRE_E2E();
    E2eScenario s ("suspend");
    bringUp (s);
    if (HasFatalFailure())
        return;
    auto& client = *s.client;

    // Suspend: a Disconnect goes out, the peers are reported removed, then STATE_IDLE.
    const auto mark = client.receivedCount();
    const auto simMark = s.sim->lineCount();
    ASSERT_EQ (client.suspend(), Status::ok);
    ASSERT_TRUE (s.manager->waitForLog ("MainComponent::suspend", kStepTimeout)) << s.describe();
    const int idle = waitForPeersRemovedThen (s, STATE_IDLE, mark);
    ASSERT_GE (idle, 0) << s.describe();
    const int disconnect = s.sim->waitForReceived ("Disconnect", kManagerIp, kStepTimeout, simMark);
    ASSERT_GE (disconnect, 0) << s.describe();
    EXPECT_EQ (s.sim->lines()[(size_t) disconnect].number ("id"), 17);

    // Each announcement is reported as ConfigSeenWhileSuspended with the sender's id, and nothing else happens.
    for (const int id : { 1, 2 })
    {
        const int seen = client.waitFor ([id] (const Received& r) { return r.fields.kind == KIND_CONFIG_SEEN_WHILE_SUSPENDED && r.fields.id == id; },
                                         kStepTimeout, (size_t) idle);
        ASSERT_GE (seen, 0) << "id " << id << "\n" << s.describe();
        EXPECT_EQ (client.received()[(size_t) seen].linkStatus().state, STATE_IDLE);
    }
    EXPECT_LT (s.waitForLinkState (STATE_DISCOVERY, 0, 0ms, (size_t) idle), 0);
    EXPECT_EQ (s.manager->countLog ("MainComponent::readConfigNotify FIRST RCV CONFIG    "), 1u);
    LinkStatus status {};
    ASSERT_EQ (client.getLinkStatus (status), Status::ok);
    EXPECT_EQ (status.state, STATE_IDLE);

    // Resume: the next announcement brings the link up again.
    const auto resumeMark = client.receivedCount();
    ASSERT_EQ (client.resume(), Status::ok);
    ASSERT_TRUE (s.manager->waitForLog ("MainComponent::resume", kStepTimeout)) << s.describe();
    const int discovery = s.waitForLinkState (STATE_DISCOVERY, 17, kStepTimeout, resumeMark);
    ASSERT_GE (discovery, 0) << s.describe();
    ASSERT_GE (s.waitForLinkState (STATE_RUN, 17, kLinkUpTimeout, (size_t) discovery), 0) << s.describe();
}
