// Windows' network tables as the plain rows of NetRows.h. Pure conversions of the records that
// IP Helper and the WLAN API fill in, kept apart from the calls that fetch them so that they can
// be checked on records built by hand (the WLAN API and the UDP table give nothing under some
// stand-ins for Windows).
#pragma once

#include "netenv/NetRows.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
// winsock2.h comes before everything that includes windows.h.
#include <winsock2.h>

#include <iphlpapi.h>
#include <wlanapi.h>
#include <ws2tcpip.h>

#include <cstddef>
#include <string>
#include <vector>

namespace lyrlink
{

/** The text of a wide string of at most maxLength characters (stopping at its terminating zero)
    as UTF-8; empty for null. */
std::string utf8Of (const wchar_t* text, size_t maxLength = 0xffff);

/** The rows of a table that the IP Helper call wrote into bytes bytes: the address table. A count
    that claims more rows than the bytes hold is cut to the rows that are there. */
std::vector<IpAddrRow> addressRowsOf (const MIB_IPADDRTABLE& table, size_t bytes);

/** The interface table: index and operational status of every interface. */
std::vector<IfRow> interfaceRowsOf (const MIB_IFTABLE& table, size_t bytes);

/** The bound local address of every UDP endpoint. */
std::vector<UdpRow> udpRowsOf (const MIB_UDPTABLE& table, size_t bytes);

/** The route table, one row per route and in the same order, so that row i is route i of the
    table. An on-link route has no gateway; where its next hop is not given, it leads to the first
    address of its interface in addresses. */
std::vector<RouteRow> routeRowsOf (const MIB_IPFORWARDTABLE& table, size_t bytes,
                                   const std::vector<IpAddrRow>& addresses);

/** The adapters of GetAdaptersAddresses' list, from first along Next. */
std::vector<AdapterRow> adapterRowsOf (const IP_ADAPTER_ADDRESSES* first);

/** One wireless interface with its current connection; connection is null when it could not be
    queried. */
WlanInterfaceRow wlanRowOf (const WLAN_INTERFACE_INFO& info, const WLAN_CONNECTION_ATTRIBUTES* connection);

} // namespace lyrlink
