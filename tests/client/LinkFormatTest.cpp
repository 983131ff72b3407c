#include "client/LinkFormat.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace lyrlink;
using namespace lyrlink::client;

namespace
{

// Parsed output compares field by field; ordered objects compare their fields' order as well.
using Json = nlohmann::ordered_json;

/** One JSON object on one line of printable ASCII, parsed. */
Json parseLine (const std::string& text)
{
    for (const char c : text)
        EXPECT_TRUE (c >= 0x20 && c < 0x7f) << "one line of printable ASCII: " << text;
    return Json::parse (text);
}

Json runningStatusJson()
{
    return Json { { "state", 8 },
                  { "stateName", "RUN" },
                  { "id", 18 },
                  { "idClaimed", 1 },
                  { "reqid", 18 },
                  { "type", 4 },
                  { "ip", "192.168.1.10" },
                  { "mac", "02:00:ab:00:00:0a" },
                  { "netmask", "255.255.255.0" },
                  { "linkif", 1 },
                  { "interface", "wired" },
                  { "devcount", 2 },
                  { "bssid", "00:00:00:00:00:00" },
                  { "apmode", 0 },
                  { "apconnected", 0 },
                  { "discoverycnt", 3 },
                  { "idcnt", 36 },
                  { "inusecnt", 1 },
                  { "compaticnt", 0 },
                  { "vtconnection", 1 } };
}

Json playerJson (int id, int state, const char* stateName, const char* ip, const char* mac)
{
    return Json { { "id", id },  { "state", state }, { "stateName", stateName }, { "type", 1 },
                  { "ip", ip },  { "mac", mac },     { "cfg1", 1 },              { "cfg17", 8 } };
}

LinkStatus runningStatus()
{
    LinkStatus s {};
    s.state = STATE_RUN;
    s.type = 4;
    s.idClaimed = 1;
    const uint8_t ip[4] = { 192, 168, 1, 10 };
    std::memcpy (s.ip, ip, 4);
    const uint8_t mac[6] = { 0x02, 0, 0xab, 0, 0, 0x0a };
    std::memcpy (s.mac, mac, 6);
    s.id = 18;
    s.reqid = 18;
    s.devcount = 2;
    s.discoverycnt = 3;
    s.idcnt = 36;
    s.inusecnt = 1;
    s.linkif = LINKIF_WIRED;
    const uint8_t mask[4] = { 255, 255, 255, 0 };
    std::memcpy (s.netmask, mask, 4);
    setVtConnection (s, 1);
    return s;
}

DeviceEntry player (uint8_t last)
{
    DeviceEntry d {};
    d.state = DEVICE_PRESENT;
    d.type = 1;
    d.cfg1 = 1;
    d.cfg17 = 8;
    const uint8_t ip[4] = { 192, 168, 1, last };
    std::memcpy (d.ip, ip, 4);
    const uint8_t mac[6] = { 0x02, 0, 0, 0, 0, last };
    std::memcpy (d.mac, mac, 6);
    return d;
}

} // namespace

TEST (LinkFormat, NamesStatesKindsAndInterfaces)
{
    const std::pair<uint8_t, const char*> states[] = { { 0, "IDLE" }, { 2, "DISCOVERY" }, { 3, "IDWAIT" },
                                                       { 5, "IDUSE" }, { 8, "RUN" },      { 7, "UNKNOWN" } };
    for (auto [v, n] : states)
        EXPECT_STREQ (linkStateName (v), n);
    EXPECT_STREQ (interfaceKindName (1), "wired");
    EXPECT_STREQ (interfaceKindName (0), "wireless");
    EXPECT_STREQ (interfaceKindName (255), "unknown");
    EXPECT_STREQ (notificationName (92), "ConfigSeenWhileSuspended");
    EXPECT_STREQ (notificationName (5), "");
}

TEST (LinkFormat, LinkStatusAsTextAndJson)
{
    const auto s = runningStatus();
    EXPECT_EQ (formatLinkStatusText (s), "state          RUN (8)\n"
                                         "own id         18 (claimed)\n"
                                         "requested id   18\n"
                                         "device type    4\n"
                                         "address        192.168.1.10\n"
                                         "MAC            02:00:ab:00:00:0a\n"
                                         "netmask        255.255.255.0\n"
                                         "interface      wired (1)\n"
                                         "devices        2\n"
                                         "BSSID          00:00:00:00:00:00\n"
                                         "AP mode        0, AP connected 0\n"
                                         "negotiation    discovery 3, id 36, in use 1, compati 0\n"
                                         "ids in use     0x00000001\n");
    EXPECT_EQ (parseLine (formatLinkStatusJson (s)), runningStatusJson());
}

TEST (LinkFormat, DeviceTableListsPresentAndRemovedEntriesOnly)
{
    PeerTable table {};
    EXPECT_EQ (formatDeviceTableText (table), "no devices seen\n");
    EXPECT_EQ (parseLine (formatDeviceTableJson (table)), (Json { { "devices", Json::array() } }));

    table[2] = player (20);
    table[10] = player (31);
    table[10].state = DEVICE_REMOVED;
    EXPECT_EQ (formatDeviceTableText (table), " ID  STATE    TYPE  ADDRESS          MAC                CFG1 CFG17\n"
                                              "  3  present     1  192.168.1.20     02:00:00:00:00:14     1     8\n"
                                              " 11  removed     1  192.168.1.31     02:00:00:00:00:1f     1     8\n");
    EXPECT_EQ (parseLine (formatDeviceTableJson (table)),
               (Json { { "devices", Json::array ({ playerJson (3, 1, "present", "192.168.1.20", "02:00:00:00:00:14"),
                                      playerJson (11, 2, "removed", "192.168.1.31", "02:00:00:00:00:1f") }) } }));
    EXPECT_EQ (formatDeviceText (5, DeviceEntry {}), "device 5: never seen\n");
}

TEST (LinkFormat, NotificationsAreOneLineEach)
{
    auto status = makeProcMsg (KIND_LINK_STATUS_CHANGED, 77, 18, 1);
    const auto s = runningStatus();
    std::memcpy (status.data, &s, sizeof (s));
    EXPECT_EQ (formatNotificationText ("T", status),
               "T  LinkStatusChanged id 18: state RUN, own id 18, wired 192.168.1.10, devices 2");

    auto device = makeProcMsg (KIND_DEVICE_CHANGED, 77, 3, 1);
    auto d = player (20);
    d.state = DEVICE_REMOVED;
    std::memcpy (device.data, &d, sizeof (d));
    EXPECT_EQ (formatNotificationText ("T", device), "T  DeviceChanged id 3: removed, type 1, 192.168.1.20, 02:00:00:00:00:14");
    EXPECT_EQ (parseLine (formatNotificationJson ("T", device)),
               (Json { { "time", "T" },
                       { "kind", 4 },
                       { "name", "DeviceChanged" },
                       { "id", 3 },
                       { "pid", 77 },
                       { "result", 1 },
                       { "device", playerJson (3, 2, "removed", "192.168.1.20", "02:00:00:00:00:14") } }));

    const auto other = makeProcMsg (40, 77, 9, 1);
    EXPECT_EQ (formatNotificationText ("T", other), "T  kind 40 id 9");
    const auto json = formatNotificationJson ("T", status);
    EXPECT_EQ (json.find ('\n'), std::string::npos);
    EXPECT_EQ (parseLine (json), (Json { { "time", "T" },
                                         { "kind", 3 },
                                         { "name", "LinkStatusChanged" },
                                         { "id", 18 },
                                         { "pid", 77 },
                                         { "result", 1 },
                                         { "status", runningStatusJson() } }));
    EXPECT_EQ (parseLine (formatNotificationJson ("T", other)),
               (Json { { "time", "T" }, { "kind", 40 }, { "name", "" }, { "id", 9 }, { "pid", 77 }, { "result", 1 } }));
}

TEST (LinkFormat, TimeStampsHaveMilliseconds)
{
    const auto t = localTimeStamp();
    ASSERT_EQ (t.size(), 23u);
    EXPECT_EQ (t[10], ' ');
    EXPECT_EQ (t[19], '.');
}
