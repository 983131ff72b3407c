#include "netenv/native/NetRowSource_linux.h"

#include <netlink/attr.h>
#include <netlink/errno.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/link.h>
#include <netlink/route/nexthop.h>
#include <netlink/route/route.h>
#include <netlink/route/rtnl.h>
#include <netlink/socket.h>

#include <arpa/inet.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/nl80211.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace lyrlink
{

namespace
{
/** A dump that the kernel marks as interrupted (the table changed meanwhile) is read again, a
    few times at most. */
constexpr int kDumpAttempts = 3;

struct SocketDeleter
{
    void operator() (nl_sock* socket) const { nl_socket_free (socket); }
};
using SocketPtr = std::unique_ptr<nl_sock, SocketDeleter>;

struct ObjectDeleter
{
    void operator() (nl_object* object) const { nl_object_put (object); }
};
using ObjectPtr = std::unique_ptr<nl_object, ObjectDeleter>;
using ObjectList = std::vector<ObjectPtr>;

struct MessageDeleter
{
    void operator() (nl_msg* message) const { nlmsg_free (message); }
};

SocketPtr openRouteSocket()
{
    SocketPtr socket (nl_socket_alloc());
    if (socket == nullptr || nl_connect (socket.get(), NETLINK_ROUTE) != 0)
        return {};
    return socket;
}

//==============================================================================
// rtnetlink dumps, parsed into libnl objects in the order the kernel sent them

void keepObject (nl_object* object, void* arg)
{
    nl_object_get (object);
    ObjectPtr kept (object);
    static_cast<ObjectList*> (arg)->push_back (std::move (kept));
}

int parseRouteMessage (nl_msg* message, void* arg)
{
    nl_msg_parse (message, keepObject, arg);
    return NL_OK;
}

bool dumpTable (nl_sock* socket, int requestType, int family, ObjectList& objects)
{
    for (int attempt = 0; attempt < kDumpAttempts; ++attempt)
    {
        objects.clear();
        if (nl_rtgen_request (socket, requestType, family, NLM_F_DUMP) < 0)
            return false;
        if (nl_socket_modify_cb (socket, NL_CB_VALID, NL_CB_CUSTOM, parseRouteMessage, &objects) < 0)
            return false;
        const int result = nl_recvmsgs_default (socket);
        if (result >= 0)
            return true;
        if (result != -NLE_DUMP_INTR)
            return false;
    }
    return false;
}

bool isObjectOfType (nl_object* object, const char* type)
{
    const char* name = nl_object_get_type (object);
    return name != nullptr && std::strcmp (name, type) == 0;
}

bool ipv4Of (nl_addr* address, Ipv4& out)
{
    if (address == nullptr || nl_addr_get_family (address) != AF_INET || nl_addr_get_len (address) < 4)
        return false;
    out = ipv4FromOctets (static_cast<const uint8_t*> (nl_addr_get_binary_addr (address)));
    return true;
}

Ipv4 netmaskOfPrefix (unsigned prefixLength)
{
    prefixLength = std::min (prefixLength, 32u);
    return prefixLength == 0 ? 0 : htonl (0xffffffffu << (32 - prefixLength));
}

bool readAddresses (nl_sock* socket, std::vector<IpAddrRow>& rows)
{
    ObjectList objects;
    if (! dumpTable (socket, RTM_GETADDR, AF_INET, objects))
        return false;

    rows.clear();
    for (const auto& object : objects)
    {
        if (! isObjectOfType (object.get(), "route/addr"))
            continue;
        auto* address = reinterpret_cast<rtnl_addr*> (object.get());
        IpAddrRow row;
        if (rtnl_addr_get_family (address) != AF_INET || ! ipv4Of (rtnl_addr_get_local (address), row.address))
            continue;
        row.ifIndex = static_cast<uint32_t> (rtnl_addr_get_ifindex (address));
        row.netmask = netmaskOfPrefix (static_cast<unsigned> (rtnl_addr_get_prefixlen (address)));
        rows.push_back (row);
    }
    return true;
}

struct LinkInfo
{
    uint32_t ifIndex = 0;
    unsigned hardwareType = 0;
    std::array<uint8_t, 6> hardwareAddress {};
    uint32_t hardwareAddressLength = 0;
    std::string name;
    bool operational = false;
};

bool readLinks (std::vector<LinkInfo>& links)
{
    const auto socket = openRouteSocket();
    ObjectList objects;
    if (socket == nullptr || ! dumpTable (socket.get(), RTM_GETLINK, AF_UNSPEC, objects))
        return false;

    links.clear();
    for (const auto& object : objects)
    {
        if (! isObjectOfType (object.get(), "route/link"))
            continue;
        auto* link = reinterpret_cast<rtnl_link*> (object.get());
        LinkInfo info;
        info.ifIndex = static_cast<uint32_t> (rtnl_link_get_ifindex (link));
        info.hardwareType = rtnl_link_get_arptype (link);
        if (auto* address = rtnl_link_get_addr (link))
        {
            info.hardwareAddressLength = nl_addr_get_len (address);
            std::memcpy (info.hardwareAddress.data(), nl_addr_get_binary_addr (address),
                         std::min<size_t> (info.hardwareAddressLength, info.hardwareAddress.size()));
        }
        if (const char* name = rtnl_link_get_name (link))
            info.name = name;

        // Links without carrier detection (veth, dummy, tun) report an unknown operational state
        // and show that they carry traffic only through IFF_UP and IFF_RUNNING.
        const uint8_t state = rtnl_link_get_operstate (link);
        const unsigned flags = rtnl_link_get_flags (link);
        info.operational = state == IF_OPER_UP
                        || (state == IF_OPER_UNKNOWN && (flags & IFF_UP) != 0 && (flags & IFF_RUNNING) != 0);
        links.push_back (std::move (info));
    }
    return true;
}

//==============================================================================
// Routes

/** The route's IPv4 next hop. A route through a gateway leads to the gateway. An on-link route
    has none; it counts as leading to the interface's own address, its preferred source or else
    the first IPv4 address of its output interface. Counting it as 0.0.0.0 would make the
    link-local route of an interface that holds a 169.254 address look misdirected. */
bool routeRowOf (rtnl_route* route, const std::vector<IpAddrRow>& addresses, RouteRow& row)
{
    if (rtnl_route_get_family (route) != AF_INET || rtnl_route_get_table (route) != RT_TABLE_MAIN
        || rtnl_route_get_type (route) != RTN_UNICAST)
        return false;

    row = RouteRow();
    if (auto* destination = rtnl_route_get_dst (route))
    {
        row.prefixLength = static_cast<uint8_t> (std::min (nl_addr_get_prefixlen (destination), 32u));
        ipv4Of (destination, row.destination);
    }
    row.netmask = netmaskOfPrefix (row.prefixLength);
    row.table = rtnl_route_get_table (route);
    row.protocol = rtnl_route_get_protocol (route);
    row.scope = rtnl_route_get_scope (route);
    row.priority = rtnl_route_get_priority (route);
    row.tos = rtnl_route_get_tos (route);

    // A multipath route is one row, led by its first next hop.
    if (auto* nextHop = rtnl_route_get_nnexthops (route) > 0 ? rtnl_route_nexthop_n (route, 0) : nullptr)
    {
        row.ifIndex = static_cast<uint32_t> (rtnl_route_nh_get_ifindex (nextHop));
        if (ipv4Of (rtnl_route_nh_get_gateway (nextHop), row.nextHop))
            row.hasGateway = true;
        else if (rtnl_route_nh_get_via (nextHop) != nullptr)
            row.hasGateway = true;  // a gateway of another family: no IPv4 next hop
    }

    if (! row.hasGateway && ! ipv4Of (rtnl_route_get_pref_src (route), row.nextHop))
    {
        const auto first = std::find_if (addresses.begin(), addresses.end(),
                                         [&row] (const IpAddrRow& a) { return a.ifIndex == row.ifIndex; });
        row.nextHop = first != addresses.end() ? first->address : 0;
    }
    return true;
}

bool sameRoute (const RouteRow& a, const RouteRow& b)
{
    return a.destination == b.destination && a.prefixLength == b.prefixLength && a.table == b.table
        && a.protocol == b.protocol && a.scope == b.scope && a.priority == b.priority && a.tos == b.tos
        && a.ifIndex == b.ifIndex && a.hasGateway == b.hasGateway && (! a.hasGateway || a.nextHop == b.nextHop);
}

/** The routes of the main table as rows, each with its libnl object (owned by objects). */
bool readRoutes (nl_sock* socket, ObjectList& objects, std::vector<RouteRow>& rows, std::vector<rtnl_route*>& routes)
{
    std::vector<IpAddrRow> addresses;
    if (! readAddresses (socket, addresses) || ! dumpTable (socket, RTM_GETROUTE, AF_INET, objects))
        return false;

    rows.clear();
    routes.clear();
    for (const auto& object : objects)
    {
        if (! isObjectOfType (object.get(), "route/route"))
            continue;
        auto* route = reinterpret_cast<rtnl_route*> (object.get());
        RouteRow row;
        if (routeRowOf (route, addresses, row))
        {
            rows.push_back (row);
            routes.push_back (route);
        }
    }
    return true;
}

//==============================================================================
// nl80211

/** The kernel's nl80211, through a generic netlink socket of the calling thread's namespace. */
class KernelNl80211 final : public Nl80211Connection
{
public:
    /** Null when there is no generic netlink or no nl80211 family. */
    static std::unique_ptr<Nl80211Connection> open()
    {
        SocketPtr socket (nl_socket_alloc());
        if (socket == nullptr || genl_connect (socket.get()) != 0)
            return nullptr;
        const int family = genl_ctrl_resolve (socket.get(), "nl80211");
        if (family < 0)
            return nullptr;
        return std::unique_ptr<Nl80211Connection> (new KernelNl80211 (std::move (socket), family));
    }

    bool dump (uint8_t command, uint32_t ifIndex, std::vector<Message>& messages) override
    {
        for (int attempt = 0; attempt < kDumpAttempts; ++attempt)
        {
            messages.clear();
            std::unique_ptr<nl_msg, MessageDeleter> request (nlmsg_alloc());
            const bool built =
                request != nullptr
                && genlmsg_put (request.get(), NL_AUTO_PORT, NL_AUTO_SEQ, m_family, 0, NLM_F_DUMP, command, 0)
                       != nullptr
                && (ifIndex == 0 || nla_put_u32 (request.get(), NL80211_ATTR_IFINDEX, ifIndex) == 0);
            if (! built)
                return false;
            if (nl_send_auto (m_socket.get(), request.get()) < 0
                || nl_socket_modify_cb (m_socket.get(), NL_CB_VALID, NL_CB_CUSTOM, keepMessage, &messages) < 0)
                return false;
            const int outcome = nl_recvmsgs_default (m_socket.get());
            if (outcome >= 0)
                return true;
            if (outcome != -NLE_DUMP_INTR)
                return false;
        }
        return false;
    }

private:
    KernelNl80211 (SocketPtr socket, int family) : m_socket (std::move (socket)), m_family (family) {}

    /** libnl has made sure that the message's own length lies within what was received. */
    static int keepMessage (nl_msg* message, void* arg)
    {
        const auto* header = nlmsg_hdr (message);
        const auto* bytes = reinterpret_cast<const uint8_t*> (header);
        static_cast<std::vector<Message>*> (arg)->emplace_back (bytes, bytes + header->nlmsg_len);
        return NL_OK;
    }

    SocketPtr m_socket;
    int m_family = 0;
};

const nlmsghdr* headerOf (const Nl80211Connection::Message& message)
{
    return reinterpret_cast<const nlmsghdr*> (message.data());
}

/** The network interfaces that nl80211 lists, in its order. */
bool readWirelessInterfaces (Nl80211Connection& connection, std::vector<Nl80211Interface>& interfaces)
{
    std::vector<Nl80211Connection::Message> messages;
    if (! connection.dump (NL80211_CMD_GET_INTERFACE, 0, messages))
        return false;
    interfaces.clear();
    for (const auto& message : messages)
        if (auto found = parseNl80211Interface (headerOf (message), message.size()))
            interfaces.push_back (std::move (*found));
    return true;
}

/** The connection of one interface: the last BSS of its scan results that it is associated with.
    The row is left as it was when the scan results cannot be read. */
bool readConnection (Nl80211Connection& connection, uint32_t ifIndex, WlanInterfaceRow& row)
{
    std::vector<Nl80211Connection::Message> messages;
    if (! connection.dump (NL80211_CMD_GET_SCAN, ifIndex, messages))
        return false;
    for (const auto& message : messages)
    {
        const auto bss = parseNl80211Bss (headerOf (message), message.size());
        if (bss && bss->connected)
        {
            row.connected = true;
            row.ssid = bss->ssid;
            row.bssid = bss->bssid;
        }
    }
    return true;
}

/** Indexes of the links that nl80211 lists as wireless; none without nl80211. */
std::set<uint32_t> wirelessIndexes (const Nl80211Opener& openWireless)
{
    std::set<uint32_t> indexes;
    std::vector<Nl80211Interface> interfaces;
    const auto connection = openWireless();
    if (connection != nullptr && readWirelessInterfaces (*connection, interfaces))
        for (const auto& wireless : interfaces)
            indexes.insert (wireless.ifIndex);
    return indexes;
}

bool readText (const char* path, std::string& text)
{
    std::ifstream in (path);
    if (! in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

//==============================================================================
class LinuxNetRowSource final : public NetRowSource
{
public:
    explicit LinuxNetRowSource (Nl80211Opener openWireless) : m_openWireless (std::move (openWireless)) {}

    bool readAddressTable (std::vector<IpAddrRow>& rows) override
    {
        const auto socket = openRouteSocket();
        return socket != nullptr && readAddresses (socket.get(), rows);
    }

    AdapterListResult readAdapters (std::vector<AdapterRow>& rows) override
    {
        std::vector<LinkInfo> links;
        if (! readLinks (links))
            return AdapterListResult::cannotRead;

        const auto wireless = wirelessIndexes (m_openWireless);
        rows.clear();
        for (const auto& link : links)
        {
            AdapterRow row;
            row.ifIndex = link.ifIndex;
            if (link.hardwareType == ARPHRD_ETHER)
                row.type = wireless.count (link.ifIndex) != 0 ? kIfTypeIeee80211 : kIfTypeEthernet;
            else
                row.type = link.hardwareType == ARPHRD_LOOPBACK ? kIfTypeSoftwareLoopback : kIfTypeOther;
            row.mac = link.hardwareAddress;
            row.macLength = link.hardwareAddressLength;
            row.description = link.name;
            rows.push_back (std::move (row));
        }
        return AdapterListResult::ok;
    }

    bool readInterfaceTable (std::vector<IfRow>& rows) override
    {
        std::vector<LinkInfo> links;
        if (! readLinks (links))
            return false;
        rows.clear();
        for (const auto& link : links)
            rows.push_back ({ link.ifIndex, link.operational ? kIfOperStatusOperational : kIfOperStatusDisconnected });
        return true;
    }

    bool readRouteTable (std::vector<RouteRow>& rows) override
    {
        const auto socket = openRouteSocket();
        ObjectList objects;
        std::vector<rtnl_route*> routes;
        return socket != nullptr && readRoutes (socket.get(), objects, rows, routes);
    }

    bool deleteRoute (const RouteRow& row) override
    {
        // The route is deleted as the kernel reports it, with every attribute it was read with.
        const auto socket = openRouteSocket();
        ObjectList objects;
        std::vector<RouteRow> rows;
        std::vector<rtnl_route*> routes;
        if (socket == nullptr || ! readRoutes (socket.get(), objects, rows, routes))
            return false;
        for (size_t i = 0; i < rows.size(); ++i)
            if (sameRoute (rows[i], row))
                return rtnl_route_delete (socket.get(), routes[i], 0) == 0;
        return false;
    }

    bool readUdpTable (std::vector<UdpRow>& rows) override
    {
        // The calling thread's own view, which is that of its network namespace.
        std::string text;
        if (! readText ("/proc/thread-self/net/udp", text) && ! readText ("/proc/net/udp", text))
            return false;
        rows.clear();
        return parseProcNetUdp (text, rows);
    }

    WlanResult readWlanInterfaces (std::vector<WlanInterfaceRow>& rows) override
    {
        const auto connection = m_openWireless();
        if (connection == nullptr)
            return WlanResult::serviceUnavailable;

        std::vector<Nl80211Interface> interfaces;
        if (! readWirelessInterfaces (*connection, interfaces))
            return WlanResult::listFailed;

        rows.clear();
        for (const auto& wireless : interfaces)
        {
            WlanInterfaceRow row;
            row.description = wireless.name;
            row.queryFailed = ! readConnection (*connection, wireless.ifIndex, row);
            rows.push_back (std::move (row));
        }
        return WlanResult::ok;
    }

    bool getOsMajorVersion (int&) override
    {
        // The version check concerns releases of another system; Linux has no version on that
        // scale and is never the old one.
        return false;
    }

private:
    Nl80211Opener m_openWireless;
};
} // namespace

//==============================================================================
bool parseProcNetUdp (const std::string& text, std::vector<UdpRow>& rows)
{
    std::istringstream in (text);
    std::string line;
    if (! std::getline (in, line) || line.find ("local_address") == std::string::npos)
        return false;

    while (std::getline (in, line))
    {
        std::istringstream fields (line);
        std::string slot, local;
        if (! (fields >> slot >> local) || local.size() < 9 || local[8] != ':')
            continue;

        // The kernel prints the address as the 32-bit value it holds in network order, so the
        // parsed value has the address's octets in memory as they were.
        uint32_t value = 0;
        bool isHex = true;
        for (size_t i = 0; i < 8 && isHex; ++i)
        {
            const char c = local[i];
            const int digit = c >= '0' && c <= '9' ? c - '0'
                            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                            : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                   : -1;
            isHex = digit >= 0;
            value = (value << 4) | static_cast<uint32_t> (digit & 0xf);
        }
        if (isHex)
            rows.push_back ({ static_cast<Ipv4> (value) });
    }
    return true;
}

std::unique_ptr<NetRowSource> createLinuxNetRowSource() { return createLinuxNetRowSource (KernelNl80211::open); }

std::unique_ptr<NetRowSource> createLinuxNetRowSource (Nl80211Opener openWireless)
{
    return std::make_unique<LinuxNetRowSource> (std::move (openWireless));
}

} // namespace lyrlink
