// The peer table: devices added, refreshed, overwritten and removed by configuration notices,
// leave notices, renewed discovery and aging, with their log lines, notifications and devcount.
#include "link/LinkScenario.h"

using namespace lyrlink;
using namespace lyrlink::test;

namespace
{
class Peers : public LinkScenario
{
protected:
    const Device player = wiredPlayer (3);

    std::vector<uint8_t> entryBytes (int id) const
    {
        const auto e = h.mc->getDeviceEntry (id);
        const auto* raw = reinterpret_cast<const uint8_t*> (&e);
        return { raw, raw + sizeof (e) };
    }

    static std::vector<uint8_t> expectedEntry (uint8_t state, const Device& d)
    {
        return concat ({ { state, d.type, 1, 8 }, octetsOf (d.ip), octetsOf (d.mac), { 0, 0 } });
    }

    static std::vector<uint8_t> bytesOf (const DeviceEntry& e)
    {
        const auto* raw = reinterpret_cast<const uint8_t*> (&e);
        return { raw, raw + sizeof (e) };
    }
};

const Device kUnit9 { 9, 7, makeIpv4 (192, 168, 1, 9), { 0xDD, 0, 0, 0, 0, 9 }, "WMR-900" };
} // namespace

TEST_F (Peers, AddRefreshAndAgingOnAWiredLink)
{
    bringUpWired (player);

    send (player);
    EXPECT_EQ (h.logTexts(), (std::vector<std::string> { "MainComponent::readConfigNotify add id = 3 ip = 192.168.1.3" }));
    EXPECT_EQ (status().devcount, 2);
    EXPECT_EQ (entryBytes (3), expectedEntry (DEVICE_PRESENT, player));
    auto notes = h.notifications();
    ASSERT_EQ (notes.size(), 1u);
    EXPECT_EQ (notes[0].msg.kind, KIND_DEVICE_CHANGED);
    EXPECT_EQ (notes[0].msg.id, 3);
    EXPECT_EQ (notes[0].msg.result, 1u);
    EXPECT_EQ (bytesOf (notes[0].device()), expectedEntry (DEVICE_PRESENT, player));
    EXPECT_EQ (h.scheduler.periodOf (TIMER_AGING_FIRST + 2), 10000);

    // A refresh 6 s later says nothing and restarts the aging from then.
    h.scheduler.advance (6000);
    clearRecords();
    send (player);
    EXPECT_TRUE (h.logTexts().empty());
    EXPECT_TRUE (h.notifications().empty());
    EXPECT_EQ (status().devcount, 2);
    EXPECT_EQ (h.scheduler.dueOf (TIMER_AGING_FIRST + 2), h.scheduler.now() + 10000);

    // The keep-alive announces the device count.
    h.scheduler.advance (2000);
    const auto keepAlive = sentOfType (FRAME_CONFIG_NOTIFY);
    ASSERT_FALSE (keepAlive.empty());
    EXPECT_EQ (keepAlive.back().bytes[36 + 12], 2);

    h.scheduler.advance (7999);
    EXPECT_EQ (h.mc->getDeviceEntry (3).state, DEVICE_PRESENT);
    h.clearPipeMessages();
    h.scheduler.advance (1);
    EXPECT_TRUE (h.logged ("MainComponent::timerFuncAging TIMEREXP Aging delid = 3 ip = 192.168.1.3"));
    EXPECT_EQ (entryBytes (3), expectedEntry (DEVICE_REMOVED, player));
    notes = h.notifications();
    ASSERT_EQ (notes.size(), 1u);
    EXPECT_EQ (notes[0].device().state, DEVICE_REMOVED);
    EXPECT_EQ (status().devcount, 1);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_AGING_FIRST + 2), 0);
    expectDevcountInvariant();

    // The same device comes back: added again.
    h.clearLog();
    send (player);
    EXPECT_TRUE (h.logged ("MainComponent::readConfigNotify add id = 3 ip = 192.168.1.3"));
    EXPECT_EQ (status().devcount, 2);
}

TEST_F (Peers, OverwriteReportsTheOldDeviceLeavingThenTheNewOneArriving)
{
    bringUpWired (player);
    send (player);

    struct Case
    {
        const char* what;
        Device next;
    };
    Device movedIp = player;
    movedIp.ip = makeIpv4 (192, 168, 1, 4);
    Device movedMac = movedIp;
    movedMac.mac[0] = 0xAB;
    for (const auto& c : { Case { "new address", movedIp }, Case { "new MAC", movedMac } })
    {
        const auto before = h.mc->getDeviceEntry (3);
        clearRecords();
        send (c.next);
        EXPECT_EQ (h.logTexts(), (std::vector<std::string> {
                                     "MainComponent::readConfigNotify overwrite id = 3 ip = " + c.next.ipText(),
                                     "MainComponent::readConfigNotify add id = 3 ip = " + c.next.ipText(),
                                 }))
            << c.what;
        const auto notes = h.notifications();
        ASSERT_EQ (notes.size(), 2u) << c.what;
        auto removed = before;
        removed.state = DEVICE_REMOVED;
        EXPECT_EQ (bytesOf (notes[0].device()), bytesOf (removed)) << c.what;
        EXPECT_EQ (bytesOf (notes[1].device()), expectedEntry (DEVICE_PRESENT, c.next)) << c.what;
        EXPECT_EQ (status().devcount, 2) << c.what;
        expectDevcountInvariant();
    }
}

TEST_F (Peers, AllInOneUnitOccupiesTwoIds)
{
    bringUpWired (kUnit9);
    ASSERT_EQ (status().apmode, 1);

    send (kUnit9);
    EXPECT_EQ (h.logTexts(), (std::vector<std::string> {
                                 "MainComponent::readConfigNotify add id = 9 ip = 192.168.1.9",
                                 "MainComponent::readConfigNotify add id = 9 ip = 192.168.1.9",
                             }));
    EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_DEVICE_CHANGED, 9 },
                                                                          { KIND_DEVICE_CHANGED, 10 } }));
    EXPECT_EQ (entryBytes (10), expectedEntry (DEVICE_PRESENT, kUnit9));
    EXPECT_EQ (status().devcount, 3);
    // Only the main record ages.
    EXPECT_EQ (h.scheduler.periodOf (TIMER_AGING_FIRST + 8), 10000);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_AGING_FIRST + 9), 0);

    // An overwrite is logged once, for the main record; both records are renewed.
    Device moved = kUnit9;
    moved.ip = makeIpv4 (192, 168, 1, 10);
    clearRecords();
    send (moved);
    EXPECT_EQ (h.logTexts(), (std::vector<std::string> {
                                 "MainComponent::readConfigNotify overwrite id = 9 ip = 192.168.1.10",
                                 "MainComponent::readConfigNotify add id = 9 ip = 192.168.1.10",
                                 "MainComponent::readConfigNotify add id = 9 ip = 192.168.1.10",
                             }));
    EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_DEVICE_CHANGED, 9 },
                                                                          { KIND_DEVICE_CHANGED, 9 },
                                                                          { KIND_DEVICE_CHANGED, 10 },
                                                                          { KIND_DEVICE_CHANGED, 10 } }));
    EXPECT_EQ (status().devcount, 3);

    // Aging of 9 takes 10 with it.
    clearRecords();
    h.scheduler.advance (10000);
    EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_DEVICE_CHANGED, 9 },
                                                                          { KIND_DEVICE_CHANGED, 10 } }));
    EXPECT_EQ (h.mc->getDeviceEntry (10).state, DEVICE_REMOVED);
    EXPECT_EQ (status().devcount, 1);

    // A Disconnect naming 10 afterwards changes nothing.
    h.clearPipeMessages();
    receive (kUnit9, FrameBuilder::simple (FRAME_DISCONNECT, 0, 5, 10));
    EXPECT_TRUE (h.notifications().empty());
    EXPECT_EQ (status().devcount, 1);
    expectDevcountInvariant();
}

TEST_F (Peers, RemovingTheMainRecordByAnyRoadRemovesTheCompanion)
{
    const Device unit11 { 11, 7, makeIpv4 (192, 168, 1, 11), { 0xDD, 0, 0, 0, 0, 11 }, "WMR-900" };
    struct Case
    {
        const char* what;
        std::vector<uint8_t> frame;
    };
    const std::vector<Case> cases {
        { "Disconnect", FrameBuilder::simple (FRAME_DISCONNECT, 0, 5, 11) },
        { "LeaveNotify", FrameBuilder::simple (FRAME_LEAVE_NOTIFY, 0, 1, 11) },
        { "DiscoveryRequest", FrameBuilder::discoveryRequest (7, unit11.mac) },
    };
    bringUpWired (kUnit9);
    for (const auto& c : cases)
    {
        send (unit11);
        ASSERT_EQ (status().devcount, 3) << c.what;
        h.clearPipeMessages();
        receive (unit11, c.frame);
        EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_DEVICE_CHANGED, 11 },
                                                                              { KIND_DEVICE_CHANGED, 12 } }))
            << c.what;
        EXPECT_EQ (status().devcount, 1) << c.what;
        expectDevcountInvariant();
    }
}

struct FamilyCase
{
    Device bringsUp;
    Device refused;
};

void PrintTo (const FamilyCase& c, std::ostream* os)
{
    *os << "id " << int (c.refused.id) << " on a link brought up by id " << int (c.bringsUp.id);
}

class FamilyRule : public Peers, public ::testing::WithParamInterface<FamilyCase>
{
};

// Players and all-in-one units never share a link: the family that brought it up stays.
TEST_P (FamilyRule, RefusesTheOtherFamily)
{
    const auto& c = GetParam();
    bringUpWired (c.bringsUp);
    send (c.refused);
    EXPECT_EQ (h.logTexts(), (std::vector<std::string> { "MainComponent::readConfigNotify NG DKP AND WMR EXIST ip = "
                                                          + c.refused.ipText() }));
    EXPECT_EQ (h.mc->getDeviceEntry (c.refused.id).state, DEVICE_NEVER_USED);
    EXPECT_TRUE (h.notifications().empty());
    EXPECT_EQ (status().devcount, 1);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_AGING_FIRST + c.refused.id - 1), 0);
}

INSTANTIATE_TEST_SUITE_P (Peers, FamilyRule,
                          ::testing::Values (FamilyCase { wiredPlayer (3), { 11, 7, makeIpv4 (192, 168, 1, 11), { 0xDD, 0, 0, 0, 0, 11 } } },
                                             FamilyCase { wiredPlayer (3), { 12, 7, makeIpv4 (192, 168, 1, 12), { 0xDD, 0, 0, 0, 0, 12 } } },
                                             FamilyCase { kUnit9, wiredPlayer (1) },
                                             FamilyCase { kUnit9, wiredPlayer (4) }));

TEST_F (Peers, RediscoveryRemovesTheDeviceWithThatMac)
{
    bringUpWired (player);
    const auto second = wiredPlayer (2);
    send (player);
    send (second);
    clearRecords();

    receive (second, FrameBuilder::discoveryRequest (1, second.mac));
    EXPECT_EQ (h.logTexts(), (std::vector<std::string> { "MainComponent::readDiscoveryRequest RE LINKUP DELETE id =2" }));
    EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_DEVICE_CHANGED, 2 } }));
    EXPECT_EQ (h.mc->getDeviceEntry (3).state, DEVICE_PRESENT);
    EXPECT_EQ (status().devcount, 2);

    // The MAC of a removed record still matches: the line appears, nothing else happens.
    clearRecords();
    receive (second, FrameBuilder::discoveryRequest (1, second.mac));
    EXPECT_EQ (h.logTexts(), (std::vector<std::string> { "MainComponent::readDiscoveryRequest RE LINKUP DELETE id =2" }));
    EXPECT_TRUE (h.notifications().empty());

    // The type decides which ids are looked at: a player's MAC under type 6 removes nothing.
    clearRecords();
    receive (player, FrameBuilder::discoveryRequest (6, player.mac));
    EXPECT_TRUE (h.logTexts().empty());
    EXPECT_EQ (h.mc->getDeviceEntry (3).state, DEVICE_PRESENT);

    for (uint8_t type : { 0, 5, 8, 9, 200 })
    {
        clearRecords();
        receive (player, FrameBuilder::discoveryRequest (type, player.mac));
        EXPECT_EQ (h.logTexts(), (std::vector<std::string> { "MainComponent::readDiscoveryRequest frmData->type = "
                                                              + std::to_string (type) }));
    }
    EXPECT_EQ (h.mc->getDeviceEntry (3).state, DEVICE_PRESENT);
    expectDevcountInvariant();
}

TEST_F (Peers, LeaveAndDisconnectRemoveOnlyValidPresentIds)
{
    bringUpWired (player);
    send (player);
    clearRecords();
    for (uint8_t id : { 0, 81, 255, 40 })
        receive (player, FrameBuilder::simple (FRAME_DISCONNECT, 0, 5, id));
    EXPECT_TRUE (h.notifications().empty());
    EXPECT_TRUE (h.logTexts().empty());

    receive (player, FrameBuilder::simple (FRAME_LEAVE_NOTIFY, 0, 1, 3));
    EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_DEVICE_CHANGED, 3 } }));
    expectDevcountInvariant();
}

TEST_F (Peers, MalformedConfigNotifyIsIgnoredSilently)
{
    bringUpWired (player);
    for (auto [id, type] : { std::pair<uint8_t, uint8_t> { 0, 1 }, { 81, 1 }, { 3, 0 }, { 3, 10 }, { 255, 255 } })
    {
        Device d = player;
        d.id = id;
        d.type = type;
        send (d);
        EXPECT_TRUE (h.logTexts().empty()) << int (id) << "/" << int (type);
    }
    EXPECT_TRUE (h.notifications().empty());
    EXPECT_EQ (status().devcount, 1);
    // Types without an id range are accepted.
    for (uint8_t type : { 5, 8, 9 })
    {
        Device d = wiredPlayer (static_cast<uint8_t> (50 + type));
        d.type = type;
        send (d);
    }
    EXPECT_EQ (status().devcount, 4);
    expectDevcountInvariant();
}

TEST_F (Peers, OnlyPlayersAndAllInOneUnitsBringTheLinkUp)
{
    addWiredInterface();
    connectClient();
    for (uint8_t type : { 4, 5, 6, 8, 9 })
    {
        Device d = player;
        d.type = type;
        send (d);
    }
    EXPECT_TRUE (h.logTexts().empty());
    EXPECT_EQ (status().state, STATE_IDLE);

    Device mixer = wiredPlayer (33);
    mixer.type = 3;
    send (mixer);
    EXPECT_EQ (status().state, STATE_DISCOVERY);
    EXPECT_EQ (status().apmode, 0);
    // The notice that brought the link up does not enter the table.
    EXPECT_EQ (h.mc->getDeviceEntry (33).state, DEVICE_NEVER_USED);
    EXPECT_EQ (h.scheduler.periodOf (TIMER_AGING_FIRST + 32), 0);
}

TEST_F (Peers, NoticesBetweenLinkUpAndRunWriteNothing)
{
    addWiredInterface();
    connectClient();
    send (player);
    // STATE_DISCOVERY
    send (wiredPlayer (2));
    h.scheduler.advance (350);
    ASSERT_EQ (status().state, STATE_IDUSE);
    // STATE_IDUSE: only the six candidates are noted, in the mask
    const Device far { 45, 4, makeIpv4 (192, 168, 1, 45), { 0xBB, 0, 0, 0, 0, 45 } };
    send (far);
    send (wiredPlayer (2));
    EXPECT_EQ (getVtConnection (status()), 0u);
    for (int id : { 2, 45 })
        EXPECT_EQ (h.mc->getDeviceEntry (id).state, DEVICE_NEVER_USED) << id;
    EXPECT_TRUE (linesOf ("MainComponent::readConfigNotify").size() == 1);  // FIRST RCV CONFIG only
    EXPECT_EQ (status().devcount, 0);
}

TEST_F (Peers, ClientsFollowAWholeLink)
{
    // LinkStatusChanged for discovery and run, then DeviceChanged for each device.
    addWiredInterface();
    connectClient();
    send (player);
    h.scheduler.advance (3900);
    send (player);
    send (wiredPlayer (2));
    EXPECT_EQ (notificationKinds(), (std::vector<std::pair<int, int>> { { KIND_LINK_STATUS_CHANGED, 17 },
                                                                          { KIND_LINK_STATUS_CHANGED, 17 },
                                                                          { KIND_DEVICE_CHANGED, 3 },
                                                                          { KIND_DEVICE_CHANGED, 2 } }));
    for (auto& n : h.notifications())
    {
        EXPECT_EQ (n.pipe, kClientPipe);
        EXPECT_EQ (n.msg.pid, kClientPid);
    }
    expectDevcountInvariant();
}

TEST_F (Peers, AgingOutsideTheTimerArrayIsRefused)
{
    bringUpWired (player);
    send (player);
    clearRecords();
    for (int index : { -1, 80, 1000 })
        h.mc->timerFuncAging (index);
    EXPECT_EQ (h.logTexts(), (std::vector<std::string> { "MainComponent::timerFuncAging NG index = -1",
                                                          "MainComponent::timerFuncAging NG index = 80",
                                                          "MainComponent::timerFuncAging NG index = 1000" }));
    // The aging of an absent device says nothing.
    h.mc->timerFuncAging (40);
    EXPECT_EQ (h.logTexts().size(), 3u);
    EXPECT_EQ (h.mc->getDeviceEntry (3).state, DEVICE_PRESENT);
}
