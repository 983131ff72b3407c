// The operating system's network tables as plain rows. Every decision about interfaces, local
// addresses, routes and wireless state is made on these rows (NetQueries), and a NetRowSource
// supplies them: the Linux one reads netlink and /proc, the test one holds rows a test wrote.
#pragma once

#include "transport/Ipv4.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lyrlink
{

/** Interface types of the adapter list. */
constexpr uint32_t kIfTypeEthernet = 6;
constexpr uint32_t kIfTypeIeee80211 = 71;
/** Types a link gets that is neither: the loopback link, and every other kind. */
constexpr uint32_t kIfTypeSoftwareLoopback = 24;
constexpr uint32_t kIfTypeOther = 1;
/** Operational status of the interface table that means operational. */
constexpr uint32_t kIfOperStatusOperational = 5;
/** Status of an interface that is not operational (down, no carrier, dormant). */
constexpr uint32_t kIfOperStatusDisconnected = 2;

/** The SSID buffer of the wireless queries: up to 32 SSID octets and a terminating zero. */
constexpr size_t kSsidMaxLength = 32;
constexpr size_t kSsidBufferSize = kSsidMaxLength + 1;

/** One IPv4 address of this computer. */
struct IpAddrRow
{
    Ipv4 address = 0;
    uint32_t ifIndex = 0;
    Ipv4 netmask = 0;
};

/** One network adapter. */
struct AdapterRow
{
    uint32_t ifIndex = 0;
    uint32_t type = 0;  // kIfTypeEthernet, kIfTypeIeee80211 or another value
    std::array<uint8_t, 6> mac {};
    uint32_t macLength = 0;
    std::string description;
};

/** One row of the interface table. */
struct IfRow
{
    uint32_t ifIndex = 0;
    uint32_t operStatus = 0;
};

/** One IPv4 route of the main table. */
struct RouteRow
{
    Ipv4 destination = 0;
    Ipv4 netmask = 0;
    /** The gateway; for an on-link route (no gateway) the address of the interface itself: the
        route's preferred source, else the first IPv4 address of its output interface. */
    Ipv4 nextHop = 0;
    uint32_t ifIndex = 0;
    uint8_t prefixLength = 0;
    bool hasGateway = false;  // source detail the deletion needs
    uint32_t table = 0;
    uint8_t protocol = 0;
    uint8_t scope = 0;
    uint32_t priority = 0;
    uint8_t tos = 0;
};

/** One local address bound by a UDP endpoint. */
struct UdpRow
{
    Ipv4 localAddress = 0;
};

/** One wireless interface with its current connection. */
struct WlanInterfaceRow
{
    std::string description;
    bool connected = false;
    std::string ssid;  // up to 32 octets, unconverted
    std::array<uint8_t, 6> bssid {};
    /** The connection of this interface could not be queried; the wireless queries stop
        examining the list at this row. */
    bool queryFailed = false;
};

/** Outcome of reading the adapter list, with getInterfaceKind's error codes. */
enum class AdapterListResult
{
    ok = 0,
    cannotSize = 1,
    noMemory = 2,
    cannotRead = 3
};

/** Outcome of reading the wireless interfaces. */
enum class WlanResult
{
    ok = 0,
    serviceUnavailable = 4,
    listFailed = 5
};

/** Supplies fresh rows at every call; nothing is cached. */
class NetRowSource
{
public:
    virtual ~NetRowSource() = default;
    /** IPv4 address table in the platform's order; false when it cannot be read. */
    virtual bool readAddressTable (std::vector<IpAddrRow>& rows) = 0;
    /** Adapter list (Ethernet and wireless adapters and others). */
    virtual AdapterListResult readAdapters (std::vector<AdapterRow>& rows) = 0;
    /** Interface table with operational status. */
    virtual bool readInterfaceTable (std::vector<IfRow>& rows) = 0;
    /** Main IPv4 route table. */
    virtual bool readRouteTable (std::vector<RouteRow>& rows) = 0;
    /** Deletes a route as read; false when it could not be deleted. */
    virtual bool deleteRoute (const RouteRow& row) = 0;
    /** Local addresses of the UDP endpoints, in table order. */
    virtual bool readUdpTable (std::vector<UdpRow>& rows) = 0;
    /** Wireless interfaces and their connections. */
    virtual WlanResult readWlanInterfaces (std::vector<WlanInterfaceRow>& rows) = 0;
    /** Major version of the operating system; false when unknown. */
    virtual bool getOsMajorVersion (int& major) = 0;
};

} // namespace lyrlink
