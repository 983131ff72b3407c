// The peer table end to end on one wired link: devices are added, refreshed by their own
// announcements, overwritten by another device claiming their id, removed when they leave,
// disconnect or start their join again, and aged out 10 s after they fall silent. Every change
// reaches the client as a DeviceChanged with the entry after the change.
#include "e2e/E2eScenario.h"

#include <iostream>

using namespace lyrlink;
using namespace lyrlink::e2e;
using namespace std::chrono_literals;
using client::Status;

namespace
{

bool isChange (const Received& r, int id, uint8_t state, const std::string& ip)
{
    return r.isDeviceChanged (id, state) && ipText (r.device().ip) == ip;
}

} // namespace

TEST (PeerTable, DevicesAreAddedRefreshedOverwrittenRemovedAndAgedOut)
{
    LYRLINK_REQUIRE_E2E();
    E2eScenario s ("peers");
    ASSERT_EQ (s.problem(), "");
    ASSERT_TRUE (s.startSimulator ({ "id=1,type=1,ip=10.50.0.11", "id=2,type=1,ip=10.50.0.12", "id=3,type=1,ip=10.50.0.13",
                                     "id=4,type=1,ip=10.50.0.14,cfg=5,claimed=0" }));
    ASSERT_GE (s.waitForLinkState (STATE_RUN, 17, kLinkUpTimeout), 0) << s.describe();
    auto& client = *s.client;

    // Add: each device with its first ConfigNotify in STATE_RUN, reported once.
    for (int id = 1; id <= 4; ++id)
        ASSERT_GE (client.waitFor ([&] (const Received& r) { return isChange (r, id, DEVICE_PRESENT, "10.50.0.1" + std::to_string (id)); }, kStepTimeout), 0)
            << "id " << id << "\n" << s.describe();
    DeviceEntry four {};
    ASSERT_EQ (client.getDevice (4, four), Status::ok);
    EXPECT_EQ (four.cfg17, 5);
    EXPECT_EQ (four.cfg1, 0);
    EXPECT_EQ (client::Status::refused, client.getDevice (81, four));

    // Aging: device 4 falls silent now and is removed 10 s after its last announcement.
    ASSERT_TRUE (s.sim->command ("silent id=4"));

    // Leave and Disconnect remove at once; the entry keeps its last address.
    const auto mark = client.receivedCount();
    ASSERT_TRUE (s.sim->command ("leave id=2"));
    ASSERT_GE (client.waitFor ([] (const Received& r) { return isChange (r, 2, DEVICE_REMOVED, "10.50.0.12"); }, kStepTimeout, mark), 0)
        << s.describe();
    ASSERT_TRUE (s.sim->command ("disconnect id=3"));
    ASSERT_GE (client.waitFor ([] (const Received& r) { return isChange (r, 3, DEVICE_REMOVED, "10.50.0.13"); }, kStepTimeout, mark), 0)
        << s.describe();

    // Overwrite: id 5 first announced from device 1's address, then from device 2's: the old entry
    // is reported removed, then the new one added, and the count stays.
    ASSERT_TRUE (s.sim->command ("config id=5 dev=1"));
    ASSERT_TRUE (s.manager->waitForLog ("MainComponent::readConfigNotify add id = 5 ip = 10.50.0.11", kStepTimeout)) << s.describe();
    LinkStatus before {};
    ASSERT_EQ (client.getLinkStatus (before), Status::ok);
    const auto overwriteMark = client.receivedCount();
    ASSERT_TRUE (s.sim->command ("config id=5 dev=2"));
    ASSERT_TRUE (s.manager->waitForLog ("MainComponent::readConfigNotify overwrite id = 5 ip = 10.50.0.12", kStepTimeout)) << s.describe();
    const int removed = client.waitFor ([] (const Received& r) { return isChange (r, 5, DEVICE_REMOVED, "10.50.0.11"); }, kStepTimeout, overwriteMark);
    const int added = client.waitFor ([] (const Received& r) { return isChange (r, 5, DEVICE_PRESENT, "10.50.0.12"); }, kStepTimeout, overwriteMark);
    ASSERT_GE (removed, 0) << s.describe();
    EXPECT_GT (added, removed);
    LinkStatus after {};
    ASSERT_EQ (client.getLinkStatus (after), Status::ok);
    EXPECT_EQ (after.devcount, before.devcount);

    // Refresh: the same announcement again changes nothing and reports nothing. The next
    // announcement from the same sender adds id 6; the manager handles one sender's frames in
    // order and reports each change before it reads the next frame, so once id 6 is reported the
    // refresh has been handled and anything it reported has arrived.
    const auto refreshMark = client.receivedCount();
    ASSERT_TRUE (s.sim->command ("config id=5 dev=2"));
    ASSERT_TRUE (s.sim->command ("config id=6 dev=2"));
    const int six = client.waitFor ([] (const Received& r) { return isChange (r, 6, DEVICE_PRESENT, "10.50.0.12"); }, kStepTimeout, refreshMark);
    ASSERT_GE (six, 0) << s.describe();
    EXPECT_LT (client.waitFor ([] (const Received& r) { return r.fields.id == 5; }, 0ms, refreshMark), 0) << s.describe();
    EXPECT_EQ (s.manager->countLog ("MainComponent::readConfigNotify add id = 5 ip = 10.50.0.12"), 1u);

    // Rediscovery: a device that starts its join again is removed on its DiscoveryRequest, and
    // added again with its next ConfigNotify.
    const auto rediscoverMark = client.receivedCount();
    ASSERT_TRUE (s.sim->command ("rediscover id=1"));
    ASSERT_TRUE (s.manager->waitForLog ("MainComponent::readDiscoveryRequest RE LINKUP DELETE id =1", kStepTimeout)) << s.describe();
    const int gone = client.waitFor ([] (const Received& r) { return isChange (r, 1, DEVICE_REMOVED, "10.50.0.11"); }, kStepTimeout, rediscoverMark);
    ASSERT_GE (gone, 0) << s.describe();
    EXPECT_GE (client.waitFor ([] (const Received& r) { return isChange (r, 1, DEVICE_PRESENT, "10.50.0.11"); }, kStepTimeout, (size_t) gone), 0)
        << s.describe();

    // The family rule: an all-in-one unit's id on a link that a player brought up is refused.
    ASSERT_TRUE (s.sim->command ("config id=9 dev=1 type=7"));
    ASSERT_TRUE (s.manager->waitForLog ("MainComponent::readConfigNotify NG DKP AND WMR EXIST ip = 10.50.0.11", kStepTimeout)) << s.describe();

    // Device 4 ages out about 10 s after its last ConfigNotify; device 1, announcing itself every
    // 2 s, has been present the whole time.
    ASSERT_TRUE (s.manager->waitForLog ("MainComponent::timerFuncAging TIMEREXP Aging delid = 4 ip = 10.50.0.14", 15s)) << s.describe();
    const int aged = client.waitFor ([] (const Received& r) { return isChange (r, 4, DEVICE_REMOVED, "10.50.0.14"); }, kStepTimeout);
    ASSERT_GE (aged, 0) << s.describe();
    long long lastAnnouncement = -1;
    for (const auto& l : s.sim->lines())
        if (l.isTx ("ConfigNotify") && l.get ("src") == "10.50.0.14")
            lastAnnouncement = l.number ("t");
    const auto lastAt = s.sim->startedAt() + std::chrono::milliseconds (lastAnnouncement);
    const auto agedAfterMs = std::chrono::duration_cast<std::chrono::milliseconds> (client.received()[(size_t) aged].at - lastAt).count();
    std::cout << "[ figure ] device aged out " << agedAfterMs << " ms after its last ConfigNotify\n";
    EXPECT_GE (agedAfterMs, 9500);
    EXPECT_LE (agedAfterMs, 12000);

    PeerTable table {};
    ASSERT_EQ (client.getDeviceList (table), Status::ok);
    EXPECT_EQ (table[0].state, DEVICE_PRESENT);
    EXPECT_EQ (table[1].state, DEVICE_REMOVED);
    EXPECT_EQ (table[2].state, DEVICE_REMOVED);
    EXPECT_EQ (table[3].state, DEVICE_REMOVED);
    EXPECT_EQ (table[8].state, DEVICE_NEVER_USED);
    LinkStatus status {};
    ASSERT_EQ (client.getLinkStatus (status), Status::ok);
    const int present = (int) std::count_if (table.begin(), table.end(), [] (const DeviceEntry& e) { return e.state == DEVICE_PRESENT; });
    EXPECT_EQ (status.devcount, present + 1) << "the manager counts itself";
    EXPECT_EQ (status.state, STATE_RUN);
}
