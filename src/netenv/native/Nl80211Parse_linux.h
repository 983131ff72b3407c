// What the nl80211 answers of the kernel say about wireless interfaces and their connections,
// read from the bytes of one answer message. Nothing here touches a socket: the row source hands
// over each message it received, and tests and the fuzzer hand over messages they built. An answer
// that does not have the kernel's shape (too short, attributes running past their end, an
// attribute of the wrong size, a name without its terminating zero) gives nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

struct nlmsghdr;

namespace lyrlink
{

/** A wireless network interface as an interface answer (NL80211_CMD_GET_INTERFACE) describes it. */
struct Nl80211Interface
{
    /** Never 0: a wireless device without a network interface (a P2P device) is no interface. */
    uint32_t ifIndex = 0;
    /** The interface name; empty when the answer has none. */
    std::string name;
    /** The interface's MAC address, when hasMac. */
    std::array<uint8_t, 6> mac {};
    bool hasMac = false;
    /** The SSID the interface is connected to, up to 32 octets as sent; empty when the answer has
        none (not connected, or an older kernel). */
    std::string ssid;
};

/** One BSS of a scan answer (NL80211_CMD_GET_SCAN). */
struct Nl80211Bss
{
    std::array<uint8_t, 6> bssid {};
    /** The interface is associated with this BSS, or has joined it as an IBSS. */
    bool connected = false;
    /** The SSID element of the BSS's information elements (those of the probe response, else
        those of the beacon), at most 32 octets; empty when there is none. */
    std::string ssid;
};

/** The interface that one answer message describes; nothing when the message is malformed or
    names no network interface. length is the number of bytes readable at message; the message's
    own length must fit in it. */
std::optional<Nl80211Interface> parseNl80211Interface (const nlmsghdr* message, size_t length);

/** The BSS that one scan answer message describes; nothing when the message is malformed or has
    no BSS with a BSSID. length as for parseNl80211Interface. */
std::optional<Nl80211Bss> parseNl80211Bss (const nlmsghdr* message, size_t length);

/** The SSID element (id 0) of 802.11 information elements; at most 32 octets are taken. False
    when there is none or the elements run past the end of the buffer before it. */
bool findSsidElement (const uint8_t* elements, size_t length, std::string& ssid);

} // namespace lyrlink
