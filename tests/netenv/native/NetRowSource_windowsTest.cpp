// The Windows row source on the system's own tables. What Wine only stubs (the WLAN API, the UDP
// table) is skipped under Wine, by name, and checked on Windows.
#include "netenv/native/NetRowSource_windows.h"
#include "support/native/Wine_windows.h"

#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>

using namespace lyrlink;
using namespace lyrlink::test;

namespace
{

const IpAddrRow* findAddress (const std::vector<IpAddrRow>& rows, Ipv4 address)
{
    const auto found =
        std::find_if (rows.begin(), rows.end(), [address] (const IpAddrRow& r) { return r.address == address; });
    return found != rows.end() ? &*found : nullptr;
}

/** A UDP socket bound to 127.0.0.1 on a port the system chooses. */
struct BoundUdpSocket
{
    BoundUdpSocket()
    {
        WSADATA data {};
        started = ::WSAStartup (MAKEWORD (2, 2), &data) == 0;
        s = ::socket (AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = makeIpv4 (127, 0, 0, 1);
        bound = s != INVALID_SOCKET && ::bind (s, reinterpret_cast<const sockaddr*> (&a), sizeof (a)) == 0;
    }
    ~BoundUdpSocket()
    {
        if (s != INVALID_SOCKET)
            ::closesocket (s);
        if (started)
            ::WSACleanup();
    }

    bool started = false;
    SOCKET s = INVALID_SOCKET;
    bool bound = false;
};

} // namespace

TEST (NetRowSourceWindows, TheLoopbackAddressSitsOnAnOperationalLoopbackInterface)
{
    const auto source = createWindowsNetRowSource();
    std::vector<IpAddrRow> addresses;
    ASSERT_TRUE (source->readAddressTable (addresses));
    const auto* loopback = findAddress (addresses, makeIpv4 (127, 0, 0, 1));
    ASSERT_NE (loopback, nullptr);
    EXPECT_EQ (loopback->netmask, makeIpv4 (255, 0, 0, 0));

    std::vector<IfRow> interfaces;
    ASSERT_TRUE (source->readInterfaceTable (interfaces));
    const auto row = std::find_if (interfaces.begin(), interfaces.end(),
                                   [loopback] (const IfRow& r) { return r.ifIndex == loopback->ifIndex; });
    ASSERT_NE (row, interfaces.end());
    EXPECT_EQ (row->operStatus, kIfOperStatusOperational);

    std::vector<AdapterRow> adapters;
    ASSERT_EQ (source->readAdapters (adapters), AdapterListResult::ok);
    const auto adapter = std::find_if (adapters.begin(), adapters.end(),
                                       [loopback] (const AdapterRow& a) { return a.ifIndex == loopback->ifIndex; });
    ASSERT_NE (adapter, adapters.end());
    EXPECT_EQ (adapter->type, kIfTypeSoftwareLoopback);
    for (const auto& a : adapters)
    {
        if (a.type == kIfTypeEthernet || a.type == kIfTypeIeee80211)
        {
            EXPECT_GE (a.macLength, 6u) << a.description;
        }
    }
}

TEST (NetRowSourceWindows, TheUdpTableListsTheAddressOfABoundSocket)
{
    const BoundUdpSocket socket;
    ASSERT_TRUE (socket.bound);
    const auto source = createWindowsNetRowSource();
    std::vector<UdpRow> rows;
    ASSERT_TRUE (source->readUdpTable (rows));
    if (rows.empty() && isWine())
        GTEST_SKIP() << underWine ("returns an empty UDP endpoint table");
    EXPECT_TRUE (std::any_of (rows.begin(), rows.end(),
                              [] (const UdpRow& r) { return r.localAddress == makeIpv4 (127, 0, 0, 1); }));
}

TEST (NetRowSourceWindows, EveryWirelessInterfaceIsAWirelessAdapter)
{
    const auto source = createWindowsNetRowSource();
    std::vector<WlanInterfaceRow> wireless;
    const auto result = source->readWlanInterfaces (wireless);
    if (result == WlanResult::serviceUnavailable)
        GTEST_SKIP() << (isWine() ? underWine ("has no WLAN service") : "this system runs no WLAN service");
    ASSERT_EQ (result, WlanResult::ok);
    if (wireless.empty())
        GTEST_SKIP() << (isWine() ? underWine ("answers the WLAN API with no interface")
                                  : "this system has no wireless interface");

    std::vector<AdapterRow> adapters;
    ASSERT_EQ (source->readAdapters (adapters), AdapterListResult::ok);
    for (const auto& row : wireless)
    {
        SCOPED_TRACE (row.description);
        EXPECT_TRUE (std::any_of (adapters.begin(), adapters.end(), [&row] (const AdapterRow& a) {
            return a.description == row.description && a.type == kIfTypeIeee80211;
        }));
        if (row.connected)
        {
            EXPECT_LE (row.ssid.size(), kSsidMaxLength);
            EXPECT_NE (row.bssid, (std::array<uint8_t, 6> {}));
        }
    }
}

TEST (NetRowSourceWindows, RoutesAreReadAndOnlyARouteAsReadIsDeleted)
{
    const auto source = createWindowsNetRowSource();
    std::vector<RouteRow> rows;
    ASSERT_TRUE (source->readRouteTable (rows));

    // A route that is not in the table: nothing is deleted, and the table stays as it was.
    RouteRow absent;
    absent.destination = makeIpv4 (169, 254, 0, 0);
    absent.netmask = makeIpv4 (255, 255, 0, 0);
    absent.nextHop = makeIpv4 (203, 0, 113, 77);
    absent.ifIndex = 0xFFF1;
    absent.hasGateway = true;
    EXPECT_FALSE (source->deleteRoute (absent));
    std::vector<RouteRow> after;
    ASSERT_TRUE (source->readRouteTable (after));
    EXPECT_EQ (after.size(), rows.size());
}

TEST (NetRowSourceWindows, TheSystemIsNotOfTheOldGeneration)
{
    const auto source = createWindowsNetRowSource();
    int major = 0;
    ASSERT_TRUE (source->getOsMajorVersion (major));
    EXPECT_GE (major, 6);
}
