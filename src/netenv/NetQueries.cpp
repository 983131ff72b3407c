// The queries about the network interfaces. Every decision is made here on plain rows that the
// NetRowSource reads afresh at each call; the rows keep the platform's order, which matters where
// a rule takes the first or the last matching row.
#include "netenv/LyrLinkNetworkAccess.h"

#include <algorithm>
#include <cstring>

namespace lyrlink
{

namespace
{
/** Interface indexes are stored and compared as 16-bit values. */
constexpr uint32_t lowIndex (uint32_t ifIndex) noexcept { return ifIndex & 0xffffu; }

bool isEthernetOrWireless (const AdapterRow& adapter) noexcept
{
    return adapter.type == kIfTypeEthernet || adapter.type == kIfTypeIeee80211;
}

bool hasMac (const AdapterRow& adapter, const uint8_t* mac) noexcept
{
    return std::memcmp (adapter.mac.data(), mac, adapter.mac.size()) == 0;
}

/** Hands every connected wireless interface to onConnected, in list order, once for each adapter
    that has the MAC. The wireless interfaces are not matched to the adapter: an adapter with that
    MAC only has to exist. 0 when a connected interface was seen, else -1. */
template <typename OnConnected>
int visitConnectedWireless (NetRowSource& source, const uint8_t* mac, OnConnected&& onConnected)
{
    std::vector<AdapterRow> adapters;
    if (source.readAdapters (adapters) != AdapterListResult::ok)
        return -1;

    int result = -1;
    for (const auto& adapter : adapters)
    {
        if (! hasMac (adapter, mac))
            continue;

        std::vector<WlanInterfaceRow> wireless;
        if (source.readWlanInterfaces (wireless) != WlanResult::ok)
            return result;

        for (const auto& row : wireless)
        {
            if (row.queryFailed)
                break;
            if (row.connected)
            {
                onConnected (row);
                result = 0;
            }
        }
    }
    return result;
}

void copySsid (char* ssid, const WlanInterfaceRow& row) noexcept
{
    const size_t length = std::min (row.ssid.size(), kSsidMaxLength);
    std::memcpy (ssid, row.ssid.data(), length);
    ssid[length] = 0;
}
} // namespace

//==============================================================================
bool LyrLinkNetworkAccess::prepareLinkInterface()
{
    const Ipv4 peer = getSourceAddress();
    if (ipv4Octet (peer, 0) == 0)
        return false;

    deleteLinkLocalRoutes();
    collectLocalAddresses();

    // Outputs that no row overwrites keep their values, as the record did.
    uint32_t count = 0;
    uint32_t ifIndex = m_ifIndex.load();
    Ipv4 address = m_ipAddr.load();
    Ipv4 netmask = m_netmask.load();
    const bool chosen = findInterfaceByPeer (peer, count, ifIndex, address, m_macAddr, netmask);

    // The address goes last: the receive thread's filter lets everything through while it is
    // 0.0.0.0, and filters on the new subnet only once mask and network address are in place.
    m_matchCount = count;
    m_ifIndex = ifIndex;
    m_netmask = netmask;
    m_networkAddr = address & netmask;
    m_ipAddr = address;
    return chosen;
}

bool LyrLinkNetworkAccess::findInterfaceByPeer (Ipv4 peer, uint32_t& count, uint32_t& ifIndex, Ipv4& address,
                                                uint8_t* mac, Ipv4& netmask)
{
    count = 0;
    std::vector<IpAddrRow> rows;
    if (! m_rows.readAddressTable (rows) || rows.empty())
        return false;

    for (const auto& row : rows)
    {
        if (row.address == 0)
            continue;
        if ((row.address | ~row.netmask) == (peer | ~row.netmask))
        {
            ifIndex = lowIndex (row.ifIndex);
            address = row.address;
            netmask = row.netmask;
            ++count;
        }
    }

    if (count != 1)
        return false;

    // An interface without an Ethernet or wireless adapter (a tunnel, say) has no MAC: report
    // zeros rather than the MAC of whichever interface carried the link before.
    if (mac != nullptr)
    {
        std::memset (mac, 0, 6);
        getMacAddress (ifIndex, mac);
    }
    return true;
}

bool LyrLinkNetworkAccess::getMacAddress (uint32_t ifIndex, uint8_t* mac)
{
    std::vector<AdapterRow> adapters;
    if (m_rows.readAdapters (adapters) != AdapterListResult::ok)
        return false;

    for (const auto& adapter : adapters)
        if (mac != nullptr && isEthernetOrWireless (adapter) && lowIndex (adapter.ifIndex) == lowIndex (ifIndex))
            std::memcpy (mac, adapter.mac.data(), adapter.mac.size());
    return true;
}

void LyrLinkNetworkAccess::collectLocalAddresses()
{
    m_localAddrCount = 0;
    for (auto& entry : m_localAddrs)
    {
        entry.used = 0;
        entry.address = 0;
    }
    m_ipAddr = 0;

    std::vector<UdpRow> rows;
    if (! m_rows.readUdpTable (rows))
        return;

    for (const auto& row : rows)
    {
        const Ipv4 address = row.localAddress;
        const uint8_t first = ipv4Octet (address, 0);
        if (first == 0 || first == 127)
            continue;

        for (auto& entry : m_localAddrs)
        {
            if (entry.used.load() == 0)
            {
                entry.address = address;
                entry.used = 1;
                ++m_localAddrCount;
                break;
            }
            if (entry.address.load() == address)
                break;
        }
    }
}

void LyrLinkNetworkAccess::deleteLinkLocalRoutes()
{
    // Link-local traffic may leave only through an interface that holds a link-local address.
    const Ipv4 linkLocal = makeIpv4 (169, 254, 0, 0);
    std::vector<RouteRow> rows;
    if (! m_rows.readRouteTable (rows))
        return;

    for (const auto& row : rows)
        if (row.destination == linkLocal && (row.netmask & row.nextHop) != linkLocal)
            m_rows.deleteRoute (row);
}

int LyrLinkNetworkAccess::getInterfaceKind (const uint8_t* mac, int& errorCode)
{
    errorCode = 0;
    if (mac == nullptr)
    {
        errorCode = 8;
        return -1;
    }

    std::vector<AdapterRow> adapters;
    const auto listed = m_rows.readAdapters (adapters);
    if (listed != AdapterListResult::ok)
    {
        errorCode = static_cast<int> (listed);
        return -1;
    }

    const auto adapter = std::find_if (adapters.begin(), adapters.end(),
                                       [mac] (const AdapterRow& row) { return hasMac (row, mac); });
    if (adapter == adapters.end())
    {
        errorCode = 7;
        return -1;
    }

    if (! isOldOsVersion())
    {
        if (adapter->type == kIfTypeIeee80211)
            return 0;
        if (adapter->type == kIfTypeEthernet)
            return 1;
        errorCode = 6;
        return -1;
    }

    // Old systems type many wireless adapters as Ethernet: the wireless service's own list decides.
    std::vector<WlanInterfaceRow> wireless;
    const auto enumerated = m_rows.readWlanInterfaces (wireless);
    if (enumerated != WlanResult::ok)
    {
        errorCode = static_cast<int> (enumerated);
        return -1;
    }
    for (const auto& row : wireless)
        if (row.description == adapter->description)
            return 0;
    return 1;
}

int LyrLinkNetworkAccess::getBssid (const uint8_t* mac, uint8_t* bssid)
{
    if (mac == nullptr || bssid == nullptr)
        return -1;
    return visitConnectedWireless (m_rows, mac, [bssid] (const WlanInterfaceRow& row)
                                   { std::memcpy (bssid, row.bssid.data(), row.bssid.size()); });
}

int LyrLinkNetworkAccess::getSsidBssid (char* ssid, const uint8_t* mac, uint8_t* bssid)
{
    if (ssid != nullptr)
        std::memset (ssid, 0, kSsidBufferSize);
    if (ssid == nullptr || mac == nullptr || bssid == nullptr)
        return -1;
    return visitConnectedWireless (m_rows, mac, [ssid, bssid] (const WlanInterfaceRow& row)
                                   {
                                       copySsid (ssid, row);
                                       std::memcpy (bssid, row.bssid.data(), row.bssid.size());
                                   });
}

int LyrLinkNetworkAccess::getSsid (char* ssid, const uint8_t* mac)
{
    if (ssid != nullptr)
        std::memset (ssid, 0, kSsidBufferSize);
    if (ssid == nullptr || mac == nullptr)
        return -1;
    return visitConnectedWireless (m_rows, mac, [ssid] (const WlanInterfaceRow& row) { copySsid (ssid, row); });
}

bool LyrLinkNetworkAccess::isAddressChanged (Ipv4 address, uint32_t ifIndex)
{
    std::vector<IpAddrRow> rows;
    if (! m_rows.readAddressTable (rows) || rows.empty())
        return false;

    for (const auto& row : rows)
        if (lowIndex (row.ifIndex) == lowIndex (ifIndex) && row.address != address)
            return true;
    return false;
}

bool LyrLinkNetworkAccess::isInterfaceDown (uint32_t ifIndex)
{
    std::vector<IfRow> rows;
    if (! m_rows.readInterfaceTable (rows))
        return true;

    for (const auto& row : rows)
        if (lowIndex (row.ifIndex) == lowIndex (ifIndex) && row.operStatus == kIfOperStatusOperational)
            return false;
    return true;
}

bool LyrLinkNetworkAccess::isOldOsVersion()
{
    int major = 0;
    return m_rows.getOsMajorVersion (major) && major < 6;
}

} // namespace lyrlink
