#include "netenv/native/NetRowConversion_windows.h"

#include <algorithm>
#include <bitset>
#include <cstring>
#include <iterator>

namespace lyrlink
{

namespace
{

/** Rows of a table of the form { DWORD dwNumEntries; ROW table[ANY_SIZE]; } that lie within
    bytes bytes. */
template <typename Table> size_t rowCountOf (const Table& table, size_t bytes)
{
    constexpr size_t first = offsetof (Table, table);
    if (bytes < first)
        return 0;
    return std::min<size_t> (table.dwNumEntries, (bytes - first) / sizeof (table.table[0]));
}

} // namespace

std::string utf8Of (const wchar_t* text, size_t maxLength)
{
    if (text == nullptr)
        return {};
    size_t length = 0;
    while (length < maxLength && text[length] != L'\0')
        ++length;
    if (length == 0)
        return {};

    const int wide = static_cast<int> (std::min<size_t> (length, 0x7fffffff));
    const int size = ::WideCharToMultiByte (CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string out (static_cast<size_t> (size), '\0');
    ::WideCharToMultiByte (CP_UTF8, 0, text, wide, out.data(), size, nullptr, nullptr);
    return out;
}

std::vector<IpAddrRow> addressRowsOf (const MIB_IPADDRTABLE& table, size_t bytes)
{
    std::vector<IpAddrRow> rows;
    const size_t count = rowCountOf (table, bytes);
    for (size_t i = 0; i < count; ++i)
    {
        // The addresses are held as in a socket address: network order, as Ipv4 keeps them.
        const auto& row = table.table[i];
        rows.push_back (
            { static_cast<Ipv4> (row.dwAddr), static_cast<uint32_t> (row.dwIndex), static_cast<Ipv4> (row.dwMask) });
    }
    return rows;
}

std::vector<IfRow> interfaceRowsOf (const MIB_IFTABLE& table, size_t bytes)
{
    std::vector<IfRow> rows;
    const size_t count = rowCountOf (table, bytes);
    for (size_t i = 0; i < count; ++i)
        rows.push_back (
            { static_cast<uint32_t> (table.table[i].dwIndex), static_cast<uint32_t> (table.table[i].dwOperStatus) });
    return rows;
}

std::vector<UdpRow> udpRowsOf (const MIB_UDPTABLE& table, size_t bytes)
{
    std::vector<UdpRow> rows;
    const size_t count = rowCountOf (table, bytes);
    for (size_t i = 0; i < count; ++i)
        rows.push_back ({ static_cast<Ipv4> (table.table[i].dwLocalAddr) });
    return rows;
}

std::vector<RouteRow> routeRowsOf (const MIB_IPFORWARDTABLE& table, size_t bytes,
                                   const std::vector<IpAddrRow>& addresses)
{
    std::vector<RouteRow> rows;
    const size_t count = rowCountOf (table, bytes);
    for (size_t i = 0; i < count; ++i)
    {
        const auto& route = table.table[i];
        RouteRow row;
        row.destination = static_cast<Ipv4> (route.dwForwardDest);
        row.netmask = static_cast<Ipv4> (route.dwForwardMask);
        row.nextHop = static_cast<Ipv4> (route.dwForwardNextHop);
        row.ifIndex = static_cast<uint32_t> (route.dwForwardIfIndex);
        row.prefixLength = static_cast<uint8_t> (std::bitset<32> (route.dwForwardMask).count());
        row.hasGateway = route.dwForwardType == MIB_IPROUTE_TYPE_INDIRECT;
        row.protocol = static_cast<uint8_t> (route.dwForwardProto);
        row.priority = static_cast<uint32_t> (route.dwForwardMetric1);

        // Windows names the interface's own address as the next hop of an on-link route; should
        // it name none, the route counts as leading to that address all the same. Taking it as
        // 0.0.0.0 would make the link-local route of an interface that holds a 169.254 address
        // look misdirected.
        if (! row.hasGateway && row.nextHop == 0)
        {
            const auto own = std::find_if (addresses.begin(), addresses.end(),
                                           [&row] (const IpAddrRow& a) { return a.ifIndex == row.ifIndex; });
            row.nextHop = own != addresses.end() ? own->address : 0;
        }
        rows.push_back (row);
    }
    return rows;
}

std::vector<AdapterRow> adapterRowsOf (const IP_ADAPTER_ADDRESSES* first)
{
    std::vector<AdapterRow> rows;
    for (const auto* adapter = first; adapter != nullptr; adapter = adapter->Next)
    {
        AdapterRow row;
        row.ifIndex = static_cast<uint32_t> (adapter->IfIndex);
        row.type = static_cast<uint32_t> (adapter->IfType);
        row.macLength = static_cast<uint32_t> (adapter->PhysicalAddressLength);
        std::memcpy (row.mac.data(), adapter->PhysicalAddress,
                     std::min<size_t> ({ row.macLength, row.mac.size(), sizeof (adapter->PhysicalAddress) }));
        row.description = utf8Of (adapter->Description);
        rows.push_back (std::move (row));
    }
    return rows;
}

WlanInterfaceRow wlanRowOf (const WLAN_INTERFACE_INFO& info, const WLAN_CONNECTION_ATTRIBUTES* connection)
{
    WlanInterfaceRow row;
    row.description = utf8Of (info.strInterfaceDescription, std::size (info.strInterfaceDescription));
    if (connection == nullptr)
    {
        row.queryFailed = true;
        return row;
    }

    row.connected = connection->isState == wlan_interface_state_connected;
    if (row.connected)
    {
        const auto& association = connection->wlanAssociationAttributes;
        const auto length = std::min<size_t> (association.dot11Ssid.uSSIDLength, kSsidMaxLength);
        row.ssid.assign (reinterpret_cast<const char*> (association.dot11Ssid.ucSSID), length);
        std::memcpy (row.bssid.data(), association.dot11Bssid, row.bssid.size());
    }
    return row;
}

} // namespace lyrlink
