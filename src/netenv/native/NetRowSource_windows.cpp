#include "netenv/native/NetRowSource_windows.h"

#include "netenv/native/NetRowConversion_windows.h"

#include <cstdint>
#include <new>
#include <vector>

namespace lyrlink
{

namespace
{

/** A table may grow between the call that sizes it and the call that reads it; it is sized again
    a few times at most. */
constexpr int kReadAttempts = 3;

/** Memory for a table, aligned for its records. */
class TableBuffer
{
public:
    void resize (size_t bytes) { m_words.assign ((bytes + sizeof (uint64_t) - 1) / sizeof (uint64_t), 0); }
    size_t size() const noexcept { return m_words.size() * sizeof (uint64_t); }
    void* data() noexcept { return m_words.empty() ? nullptr : m_words.data(); }
    template <typename Table> const Table& as() const noexcept
    {
        return *reinterpret_cast<const Table*> (m_words.data());
    }

private:
    std::vector<uint64_t> m_words;
};

/** Reads a table with one of IP Helper's "GetXTable (buffer, &size, sorted)" calls: asks for the
    size, then reads, sizing again while the table outgrows the buffer. False when it cannot be
    read; an empty buffer for a table with no rows at all. */
template <typename Table, typename Get> bool readTable (TableBuffer& buffer, Get get)
{
    ULONG size = 0;
    buffer.resize (0);
    for (int attempt = 0; attempt < kReadAttempts; ++attempt)
    {
        const DWORD result = get (static_cast<Table*> (buffer.data()), &size, FALSE);
        if (result == NO_ERROR)
            return true;
        if (result == ERROR_NO_DATA)
        {
            buffer.resize (0);
            return true;
        }
        if (result != ERROR_INSUFFICIENT_BUFFER || size == 0)
            return false;
        buffer.resize (size);
        size = static_cast<ULONG> (buffer.size());
    }
    return false;
}

bool readAddresses (std::vector<IpAddrRow>& rows)
{
    TableBuffer buffer;
    if (! readTable<MIB_IPADDRTABLE> (buffer, ::GetIpAddrTable))
        return false;
    rows = buffer.size() == 0 ? std::vector<IpAddrRow>() : addressRowsOf (buffer.as<MIB_IPADDRTABLE>(), buffer.size());
    return true;
}

/** The route table as read, and its rows. */
bool readRoutes (TableBuffer& buffer, std::vector<RouteRow>& rows)
{
    std::vector<IpAddrRow> addresses;
    if (! readAddresses (addresses) || ! readTable<MIB_IPFORWARDTABLE> (buffer, ::GetIpForwardTable))
        return false;
    rows = buffer.size() == 0 ? std::vector<RouteRow>()
                              : routeRowsOf (buffer.as<MIB_IPFORWARDTABLE>(), buffer.size(), addresses);
    return true;
}

bool sameRoute (const RouteRow& a, const RouteRow& b)
{
    return a.destination == b.destination && a.netmask == b.netmask && a.nextHop == b.nextHop &&
           a.ifIndex == b.ifIndex && a.hasGateway == b.hasGateway && a.protocol == b.protocol &&
           a.priority == b.priority;
}

/** The WLAN service's handle, closed with it. */
class WlanSession
{
public:
    WlanSession()
    {
        // Client version 1 is understood by every version of the service.
        DWORD negotiated = 0;
        if (::WlanOpenHandle (1, nullptr, &negotiated, &m_handle) != ERROR_SUCCESS)
            m_handle = nullptr;
    }
    ~WlanSession()
    {
        if (m_handle != nullptr)
            ::WlanCloseHandle (m_handle, nullptr);
    }
    WlanSession (const WlanSession&) = delete;
    WlanSession& operator= (const WlanSession&) = delete;

    HANDLE get() const noexcept { return m_handle; }

private:
    HANDLE m_handle = nullptr;
};

/** Memory the WLAN API handed out, freed with it. */
template <typename Record> struct WlanMemory
{
    Record* record = nullptr;
    ~WlanMemory()
    {
        if (record != nullptr)
            ::WlanFreeMemory (record);
    }
};

class WindowsNetRowSource final : public NetRowSource
{
public:
    bool readAddressTable (std::vector<IpAddrRow>& rows) override { return readAddresses (rows); }

    AdapterListResult readAdapters (std::vector<AdapterRow>& rows) override
    {
        constexpr ULONG flags = GAA_FLAG_INCLUDE_PREFIX;
        ULONG size = 0;
        if (::GetAdaptersAddresses (AF_UNSPEC, flags, nullptr, nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0)
            return AdapterListResult::cannotSize;

        TableBuffer buffer;
        for (int attempt = 0; attempt < kReadAttempts; ++attempt)
        {
            try
            {
                buffer.resize (size);
            }
            catch (const std::bad_alloc&)
            {
                return AdapterListResult::noMemory;
            }
            size = static_cast<ULONG> (buffer.size());
            const ULONG result = ::GetAdaptersAddresses (AF_UNSPEC, flags, nullptr,
                                                         static_cast<IP_ADAPTER_ADDRESSES*> (buffer.data()), &size);
            if (result == ERROR_SUCCESS)
            {
                rows = adapterRowsOf (&buffer.as<IP_ADAPTER_ADDRESSES>());
                return AdapterListResult::ok;
            }
            if (result != ERROR_BUFFER_OVERFLOW)
                break;
        }
        return AdapterListResult::cannotRead;
    }

    bool readInterfaceTable (std::vector<IfRow>& rows) override
    {
        TableBuffer buffer;
        if (! readTable<MIB_IFTABLE> (buffer, ::GetIfTable))
            return false;
        rows = buffer.size() == 0 ? std::vector<IfRow>() : interfaceRowsOf (buffer.as<MIB_IFTABLE>(), buffer.size());
        return true;
    }

    bool readRouteTable (std::vector<RouteRow>& rows) override
    {
        TableBuffer buffer;
        return readRoutes (buffer, rows);
    }

    bool deleteRoute (const RouteRow& row) override
    {
        // The route is deleted as the system reports it now, with every field it was read with.
        TableBuffer buffer;
        std::vector<RouteRow> rows;
        if (! readRoutes (buffer, rows))
            return false;
        for (size_t i = 0; i < rows.size(); ++i)
            if (sameRoute (rows[i], row))
            {
                MIB_IPFORWARDROW route = buffer.as<MIB_IPFORWARDTABLE>().table[i];
                return ::DeleteIpForwardEntry (&route) == NO_ERROR;
            }
        return false;
    }

    bool readUdpTable (std::vector<UdpRow>& rows) override
    {
        TableBuffer buffer;
        if (! readTable<MIB_UDPTABLE> (buffer, ::GetUdpTable))
            return false;
        rows = buffer.size() == 0 ? std::vector<UdpRow>() : udpRowsOf (buffer.as<MIB_UDPTABLE>(), buffer.size());
        return true;
    }

    WlanResult readWlanInterfaces (std::vector<WlanInterfaceRow>& rows) override
    {
        const WlanSession session;
        if (session.get() == nullptr)
            return WlanResult::serviceUnavailable;

        WlanMemory<WLAN_INTERFACE_INFO_LIST> list;
        if (::WlanEnumInterfaces (session.get(), nullptr, &list.record) != ERROR_SUCCESS || list.record == nullptr)
            return WlanResult::listFailed;

        rows.clear();
        for (DWORD i = 0; i < list.record->dwNumberOfItems; ++i)
        {
            const auto& info = list.record->InterfaceInfo[i];
            WlanMemory<WLAN_CONNECTION_ATTRIBUTES> connection;
            DWORD size = 0;
            const DWORD queried =
                ::WlanQueryInterface (session.get(), &info.InterfaceGuid, wlan_intf_opcode_current_connection, nullptr,
                                      &size, reinterpret_cast<void**> (&connection.record), nullptr);
            const bool answered =
                queried == ERROR_SUCCESS && connection.record != nullptr && size >= sizeof (WLAN_CONNECTION_ATTRIBUTES);
            rows.push_back (wlanRowOf (info, answered ? connection.record : nullptr));
        }
        return WlanResult::ok;
    }

    bool getOsMajorVersion (int& major) override
    {
        OSVERSIONINFOEXW version {};
        version.dwOSVersionInfoSize = sizeof (version);
        if (! ::GetVersionExW (reinterpret_cast<OSVERSIONINFOW*> (&version)))
            return false;
        major = static_cast<int> (version.dwMajorVersion);
        return true;
    }
};

} // namespace

std::unique_ptr<NetRowSource> createWindowsNetRowSource() { return std::make_unique<WindowsNetRowSource>(); }

} // namespace lyrlink
