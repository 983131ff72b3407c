// The network monitor against the real kernel: with the link up on a veth, the link goes down
// within about two seconds when the interface goes down, and when a second address appears on it.
#include "e2e/E2eScenario.h"

#include <iostream>

using namespace lyrlink;
using namespace lyrlink::e2e;
using namespace std::chrono_literals;
using client::Status;

TEST (NetMonitor, TheLinkGoesDownWithItsInterfaceAndWhenItsAddressChanges)
{
    LYRLINK_REQUIRE_E2E();
    E2eScenario s ("netmon");
    ASSERT_EQ (s.problem(), "");
    ASSERT_TRUE (s.startSimulator ({ "id=1,type=1,ip=10.50.0.11" }));
    ASSERT_GE (s.waitForLinkState (STATE_RUN, 17, kLinkUpTimeout), 0) << s.describe();
    auto& client = *s.client;

    struct Case
    {
        const char* what;
        std::string command;
        const char* logLine;
        std::string undo;
    };
    const Case cases[] = {
        { "interface down", "link set lyrm0 down", "MainComponent::timerFuncNetMonitor Link DOWN net disconnect", "link set lyrm0 up" },
        { "second address", "addr add 10.50.0.100/24 dev lyrm0", "MainComponent::timerFuncNetMonitor Link DOWN ipchange", {} },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        // The link is up with the device in the table before the change.
        ASSERT_TRUE (waitFor ([&] {
            PeerTable table {};
            LinkStatus status {};
            return client.getDeviceList (table) == Status::ok && table[0].state == DEVICE_PRESENT
                && client.getLinkStatus (status) == Status::ok && status.state == STATE_RUN;
        }, kStepTimeout)) << s.describe();
        const auto mark = client.receivedCount();
        const auto changedAt = Clock::now();
        ASSERT_EQ (s.net.ipInManager (c.command), 0);

        const int idle = s.waitForLinkState (STATE_IDLE, 17, kStepTimeout, mark);
        ASSERT_GE (idle, 0) << s.describe();
        const auto downAfterMs = std::chrono::duration_cast<std::chrono::milliseconds> (client.received()[(size_t) idle].at - changedAt).count();
        std::cout << "[ figure ] link down " << downAfterMs << " ms after the " << c.what << "\n";
        EXPECT_LE (downAfterMs, 2300);
        EXPECT_TRUE (s.manager->hasLog (c.logLine)) << s.describe();
        const int removed = client.waitFor ([] (const Received& r) { return r.isDeviceChanged (1, DEVICE_REMOVED); }, 0ms, mark);
        EXPECT_GE (removed, 0);
        EXPECT_LT (removed, idle);
        LinkStatus status {};
        ASSERT_EQ (client.getLinkStatus (status), Status::ok);
        EXPECT_EQ (status.state, STATE_IDLE);
        EXPECT_EQ (status.linkif, LINKIF_UNKNOWN);

        // Back to normal, the device's next announcement brings the link up again.
        if (! c.undo.empty())
        {
            ASSERT_EQ (s.net.ipInManager (c.undo), 0);
            ASSERT_GE (s.waitForLinkState (STATE_RUN, 17, kLinkUpTimeout, (size_t) idle), 0) << s.describe();
        }
    }
    EXPECT_EQ (s.manager->logStartingWith ("MainComponent::timerFuncNetMonitor Link DOWN").size(), 2u) << s.describe();
}
