// The network rows of a Linux system: addresses, links and routes from rtnetlink (libnl-route),
// wireless interfaces from nl80211 (libnl-genl), bound UDP addresses from the kernel's UDP table.
// Every read opens its own netlink socket in the calling thread's network namespace, so the
// source holds no state and may be used from any thread.
#pragma once

#include "netenv/NetRows.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lyrlink
{

/** Rows from rtnetlink (libnl-route), nl80211 (libnl-genl) and /proc/net/udp. */
std::unique_ptr<NetRowSource> createLinuxNetRowSource();

/** The local addresses of the text of /proc/net/udp, in file order. Lines that do not parse are
    skipped; false when the header line is missing. */
bool parseProcNetUdp (const std::string& text, std::vector<UdpRow>& rows);

/** The SSID element (id 0) of 802.11 information elements; at most 32 octets are taken. False
    when there is none or the elements run past the end of the buffer before it. */
bool findSsidElement (const uint8_t* elements, size_t length, std::string& ssid);

} // namespace lyrlink
