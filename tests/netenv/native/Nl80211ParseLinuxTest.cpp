// The nl80211 answers turned into interfaces and BSSes: answers built with libnl as the kernel
// builds them, then broken in the ways a message can be broken.
#include "netenv/native/Nl80211Messages_linux.h"
#include "netenv/native/Nl80211Parse_linux.h"

#include <gtest/gtest.h>

#include <functional>

using namespace lyrlink;
using namespace lyrlink::test;

namespace
{
const Octets6 kMac { 0x02, 0x11, 0x22, 0x33, 0x44, 0x55 };
const Octets6 kBssid { 0x3c, 0x52, 0xa1, 0x10, 0x20, 0x30 };
constexpr uint32_t kIndex = 7;
constexpr size_t kAttributesStart = NLMSG_HDRLEN + GENL_HDRLEN;

const nlmsghdr* headerOf (const Bytes& message)
{
    return reinterpret_cast<const nlmsghdr*> (message.data());
}

void setMessageLength (Bytes& message, uint32_t length)
{
    std::memcpy (message.data(), &length, sizeof (length));
}

Bytes withMessageLength (Bytes message, size_t length)
{
    setMessageLength (message, static_cast<uint32_t> (length));
    return message;
}

uint16_t attributeLengthAt (const Bytes& message, size_t at)
{
    uint16_t length = 0;
    std::memcpy (&length, message.data() + at, sizeof (length));
    return length;
}

/** Offset of the first attribute of type among those in [from, to). */
size_t findAttribute (const Bytes& message, int type, size_t from = kAttributesStart, size_t to = 0)
{
    to = to == 0 ? message.size() : to;
    for (size_t at = from; at + NLA_HDRLEN <= to;)
    {
        uint16_t attributeType = 0;
        std::memcpy (&attributeType, message.data() + at + 2, sizeof (attributeType));
        if ((attributeType & NLA_TYPE_MASK) == type)
            return at;
        at += NLA_ALIGN (attributeLengthAt (message, at));
    }
    throw std::runtime_error ("no such attribute");
}

/** The message with the length field of the attribute at offset at replaced. */
Bytes withAttributeLength (Bytes message, size_t at, uint16_t length)
{
    std::memcpy (message.data() + at, &length, sizeof (length));
    return message;
}

/** The attribute of type inside the BSS of a scan answer. */
size_t findBssAttribute (const Bytes& message, int type)
{
    const size_t bss = findAttribute (message, NL80211_ATTR_BSS);
    return findAttribute (message, type, bss + NLA_HDRLEN, bss + attributeLengthAt (message, bss));
}

//==============================================================================
struct InterfaceCase
{
    const char* name;
    Bytes message;
    std::optional<Nl80211Interface> expected;
    /** Bytes readable, when fewer than the message holds. */
    std::optional<size_t> length = std::nullopt;
};

Nl80211Interface interfaceOf (uint32_t ifIndex, const std::string& name, std::optional<Octets6> mac,
                              const std::string& ssid)
{
    Nl80211Interface expected;
    expected.ifIndex = ifIndex;
    expected.name = name;
    expected.hasMac = mac.has_value();
    expected.mac = mac.value_or (Octets6 {});
    expected.ssid = ssid;
    return expected;
}

void expectInterface (const std::optional<Nl80211Interface>& found, const std::optional<Nl80211Interface>& expected)
{
    ASSERT_EQ (found.has_value(), expected.has_value());
    if (!expected)
        return;
    EXPECT_EQ (found->ifIndex, expected->ifIndex);
    EXPECT_EQ (found->name, expected->name);
    EXPECT_EQ (found->hasMac, expected->hasMac);
    EXPECT_EQ (found->mac, expected->mac);
    EXPECT_EQ (found->ssid, expected->ssid);
}

Bytes station()
{
    return interfaceAnswer (kIndex, "wlan0", kMac, "Booth").build();
}

Bytes interfaceWith (const std::function<void (Nl80211Answer&)>& attributes)
{
    Nl80211Answer answer (NL80211_CMD_NEW_INTERFACE);
    attributes (answer);
    return answer.build();
}

TEST (Nl80211Parse, InterfaceAnswers)
{
    const auto nameAt = findAttribute (station(), NL80211_ATTR_IFNAME);
    const auto headerOnly = withMessageLength (Bytes (kAttributesStart, 0), kAttributesStart);
    const auto indexOnly = withMessageLength (station(), kAttributesStart + NLA_HDRLEN + 4);

    const InterfaceCase cases[] = {
        { "station with index, name, MAC and SSID", station(), interfaceOf (kIndex, "wlan0", kMac, "Booth") },
        { "not connected: no SSID", interfaceAnswer (kIndex, "wlan0", kMac, "").build(),
          interfaceOf (kIndex, "wlan0", kMac, "") },
        { "SSID of 32 octets", interfaceAnswer (kIndex, "wlan0", kMac, std::string (32, 'S')).build(),
          interfaceOf (kIndex, "wlan0", kMac, std::string (32, 'S')) },
        { "SSID octets are unconverted", interfaceAnswer (kIndex, "wlan0", kMac, std::string ("A\0\xff", 3)).build(),
          interfaceOf (kIndex, "wlan0", kMac, std::string ("A\0\xff", 3)) },
        { "only an index", interfaceWith ([] (Nl80211Answer& a) { a.u32 (NL80211_ATTR_IFINDEX, 3); }),
          interfaceOf (3, "", std::nullopt, "") },
        { "attributes of unknown types are passed over",
          interfaceWith (
              [] (Nl80211Answer& a)
              { a.u32 (NL80211_ATTR_MAX + 1, 1).u32 (NL80211_ATTR_IFINDEX, 3).bytes (NL80211_ATTR_MAX + 2, "x"); }),
          interfaceOf (3, "", std::nullopt, "") },

        // Not a network interface.
        { "P2P device: no index",
          interfaceWith (
              [] (Nl80211Answer& a) {
                  a.u32 (NL80211_ATTR_IFTYPE, NL80211_IFTYPE_P2P_DEVICE)
                      .u64 (NL80211_ATTR_WDEV, 2)
                      .mac (NL80211_ATTR_MAC, kMac);
              }),
          std::nullopt },
        { "index 0", interfaceAnswer (0, "wlan0", kMac, "Booth").build(), std::nullopt },

        // Attributes of sizes the kernel never sends: the answer is not trusted at all.
        { "index of 2 octets",
          interfaceWith (
              [] (Nl80211Answer& a) {
                  a.bytes (NL80211_ATTR_IFINDEX, Bytes { 7, 0 });
              }),
          std::nullopt },
        { "index of 8 octets", interfaceWith ([] (Nl80211Answer& a) { a.u64 (NL80211_ATTR_IFINDEX, kIndex); }),
          std::nullopt },
        { "MAC of 5 octets",
          interfaceWith ([] (Nl80211Answer& a)
                         { a.u32 (NL80211_ATTR_IFINDEX, kIndex).bytes (NL80211_ATTR_MAC, Bytes (5, 0x22)); }),
          std::nullopt },
        { "MAC of 7 octets",
          interfaceWith ([] (Nl80211Answer& a)
                         { a.u32 (NL80211_ATTR_IFINDEX, kIndex).bytes (NL80211_ATTR_MAC, Bytes (7, 0x22)); }),
          std::nullopt },
        { "SSID of 33 octets", interfaceAnswer (kIndex, "wlan0", kMac, std::string (33, 'S')).build(), std::nullopt },
        { "name without its terminating zero",
          interfaceWith ([] (Nl80211Answer& a)
                         { a.u32 (NL80211_ATTR_IFINDEX, kIndex).bytes (NL80211_ATTR_IFNAME, "wlan0"); }),
          std::nullopt },
        { "empty name attribute",
          interfaceWith ([] (Nl80211Answer& a)
                         { a.u32 (NL80211_ATTR_IFINDEX, kIndex).bytes (NL80211_ATTR_IFNAME, Bytes {}); }),
          std::nullopt },
        { "name longer than an interface name",
          interfaceWith ([] (Nl80211Answer& a)
                         { a.u32 (NL80211_ATTR_IFINDEX, kIndex).string (NL80211_ATTR_IFNAME, std::string (16, 'w')); }),
          std::nullopt },

        // Attributes that do not fit: the stream ends before them, nothing past it is read.
        { "name running past the message", withAttributeLength (station(), nameAt, 400),
          interfaceOf (kIndex, "", std::nullopt, "") },
        { "name shorter than an attribute header", withAttributeLength (station(), nameAt, 2),
          interfaceOf (kIndex, "", std::nullopt, "") },
        { "message length ending after the index", indexOnly, interfaceOf (kIndex, "", std::nullopt, "") },

        // Messages that do not fit.
        { "message longer than the bytes given", station(), std::nullopt, station().size() - 1 },
        { "headers only", headerOnly, std::nullopt },
        { "message length shorter than its headers", withMessageLength (station(), NLMSG_HDRLEN), std::nullopt },
        { "fewer bytes than a header", Bytes (NLMSG_HDRLEN - 1, 0xff), std::nullopt },
        { "no bytes", Bytes {}, std::nullopt },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        expectInterface (parseNl80211Interface (headerOf (c.message), c.length.value_or (c.message.size())),
                         c.expected);
    }
    EXPECT_FALSE (parseNl80211Interface (nullptr, 100));
}

TEST (Nl80211Parse, EveryTruncatedInterfaceAnswerIsReadWithinItsBytes)
{
    const auto whole = station();
    for (size_t length = 0; length < whole.size(); ++length)
    {
        SCOPED_TRACE (length);
        // Cut short without its header knowing, a message is refused.
        const Bytes cut (whole.begin(), whole.begin() + static_cast<std::ptrdiff_t> (length));
        EXPECT_FALSE (parseNl80211Interface (headerOf (cut), cut.size()));

        // Cut short with its header saying so, what remains whole is read; the index comes first.
        Bytes consistent = cut;
        if (consistent.size() >= sizeof (uint32_t))
            setMessageLength (consistent, static_cast<uint32_t> (length));
        if (const auto found = parseNl80211Interface (headerOf (consistent), consistent.size()))
        {
            EXPECT_EQ (found->ifIndex, kIndex);
            EXPECT_TRUE (found->name.empty() || found->name == "wlan0") << found->name;
            EXPECT_TRUE (found->ssid.empty() || found->ssid == "Booth") << found->ssid;
        }
    }
}

//==============================================================================
struct BssCase
{
    const char* name;
    Bytes message;
    std::optional<Nl80211Bss> expected;
};

Nl80211Bss bssOf (const Octets6& bssid, bool connected, const std::string& ssid)
{
    Nl80211Bss expected;
    expected.bssid = bssid;
    expected.connected = connected;
    expected.ssid = ssid;
    return expected;
}

Bytes associated()
{
    return scanAnswer (kIndex, kBssid, NL80211_BSS_STATUS_ASSOCIATED, ssidElements ("Booth")).build();
}

Bytes scanWith (const std::function<void (Nl80211Answer&)>& bss)
{
    Nl80211Answer answer (NL80211_CMD_NEW_SCAN_RESULTS);
    answer.u32 (NL80211_ATTR_GENERATION, 9).u32 (NL80211_ATTR_IFINDEX, kIndex).beginNest (NL80211_ATTR_BSS);
    bss (answer);
    return answer.endNest().build();
}

TEST (Nl80211Parse, ScanAnswers)
{
    std::vector<uint8_t> long34 { 0, 34 };
    long34.insert (long34.end(), 34, 'S');
    const Bytes noSsid { 1, 1, 0x82 };
    const Bytes runsPast { 1, 9, 0x82, 0, 2, 'X', 'Y' };
    const auto ssidOf = [] (const std::string& ssid) { return ssidElements (ssid); };

    const BssCase cases[] = {
        { "associated BSS", associated(), bssOf (kBssid, true, "Booth") },
        { "joined IBSS", scanAnswer (kIndex, kBssid, NL80211_BSS_STATUS_IBSS_JOINED, ssidOf ("Adhoc")).build(),
          bssOf (kBssid, true, "Adhoc") },
        { "authenticated only", scanAnswer (kIndex, kBssid, NL80211_BSS_STATUS_AUTHENTICATED, ssidOf ("Booth")).build(),
          bssOf (kBssid, false, "Booth") },
        { "an unknown status", scanAnswer (kIndex, kBssid, 77, ssidOf ("Booth")).build(),
          bssOf (kBssid, false, "Booth") },
        { "seen, not used: no status", scanAnswer (kIndex, kBssid, std::nullopt, ssidOf ("Other")).build(),
          bssOf (kBssid, false, "Other") },

        // Where the SSID comes from.
        { "the probe response's SSID before the beacon's",
          scanAnswer (kIndex, kBssid, NL80211_BSS_STATUS_ASSOCIATED, ssidOf ("Probe"), ssidOf ("Beacon")).build(),
          bssOf (kBssid, true, "Probe") },
        { "the beacon's SSID when the probe response has none",
          scanAnswer (kIndex, kBssid, NL80211_BSS_STATUS_ASSOCIATED, noSsid, ssidOf ("Beacon")).build(),
          bssOf (kBssid, true, "Beacon") },
        { "the beacon's SSID when the probe response's elements run past their end",
          scanAnswer (kIndex, kBssid, NL80211_BSS_STATUS_ASSOCIATED, runsPast, ssidOf ("Beacon")).build(),
          bssOf (kBssid, true, "Beacon") },
        { "SSID element of 34 octets: 32 taken",
          scanAnswer (kIndex, kBssid, NL80211_BSS_STATUS_ASSOCIATED, long34).build(),
          bssOf (kBssid, true, std::string (32, 'S')) },
        { "hidden network", scanAnswer (kIndex, kBssid, NL80211_BSS_STATUS_ASSOCIATED, ssidOf ("")).build(),
          bssOf (kBssid, true, "") },
        { "no elements",
          scanWith ([] (Nl80211Answer& a)
                    { a.mac (NL80211_BSS_BSSID, kBssid).u32 (NL80211_BSS_STATUS, NL80211_BSS_STATUS_ASSOCIATED); }),
          bssOf (kBssid, true, "") },

        // No BSS.
        { "an interface answer", station(), std::nullopt },
        { "no BSS attribute",
          []
          {
              Nl80211Answer a (NL80211_CMD_NEW_SCAN_RESULTS);
              return a.u32 (NL80211_ATTR_GENERATION, 9).u32 (NL80211_ATTR_IFINDEX, kIndex).build();
          }(),
          std::nullopt },
        { "BSS without BSSID",
          scanWith ([] (Nl80211Answer& a) { a.u32 (NL80211_BSS_STATUS, NL80211_BSS_STATUS_ASSOCIATED); }),
          std::nullopt },
        { "BSS attribute that holds no attributes",
          []
          {
              Nl80211Answer a (NL80211_CMD_NEW_SCAN_RESULTS);
              return a.u32 (NL80211_ATTR_IFINDEX, kIndex).u32 (NL80211_ATTR_BSS, 5).build();
          }(),
          std::nullopt },

        // Sizes the kernel never sends.
        { "BSSID of 5 octets", scanWith ([] (Nl80211Answer& a) { a.bytes (NL80211_BSS_BSSID, Bytes (5, 1)); }),
          std::nullopt },
        { "BSSID of 7 octets", scanWith ([] (Nl80211Answer& a) { a.bytes (NL80211_BSS_BSSID, Bytes (7, 1)); }),
          std::nullopt },
        { "status of 2 octets",
          scanWith (
              [] (Nl80211Answer& a) {
                  a.mac (NL80211_BSS_BSSID, kBssid).bytes (NL80211_BSS_STATUS, Bytes { 1, 0 });
              }),
          std::nullopt },
        { "status of 8 octets",
          scanWith ([] (Nl80211Answer& a) { a.mac (NL80211_BSS_BSSID, kBssid).u64 (NL80211_BSS_STATUS, 1); }),
          std::nullopt },
        { "interface index of 2 octets",
          []
          {
              Nl80211Answer a (NL80211_CMD_NEW_SCAN_RESULTS);
              a.bytes (NL80211_ATTR_IFINDEX, Bytes { 7, 0 })
                  .beginNest (NL80211_ATTR_BSS)
                  .mac (NL80211_BSS_BSSID, kBssid);
              return a.endNest().build();
          }(),
          std::nullopt },

        // An attribute of the BSS that does not fit in it ends the BSS's attributes there.
        { "elements running past the BSS",
          withAttributeLength (associated(), findBssAttribute (associated(), NL80211_BSS_INFORMATION_ELEMENTS), 2000),
          bssOf (kBssid, false, "") },
        { "BSS running past the message",
          withAttributeLength (associated(), findAttribute (associated(), NL80211_ATTR_BSS), 4000), std::nullopt },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto found = parseNl80211Bss (headerOf (c.message), c.message.size());
        ASSERT_EQ (found.has_value(), c.expected.has_value());
        if (!c.expected)
            continue;
        EXPECT_EQ (found->bssid, c.expected->bssid);
        EXPECT_EQ (found->connected, c.expected->connected);
        EXPECT_EQ (found->ssid, c.expected->ssid);
    }
}

TEST (Nl80211Parse, EveryTruncatedScanAnswerIsReadWithinItsBytes)
{
    const auto whole = associated();
    for (size_t length = 0; length < whole.size(); ++length)
    {
        SCOPED_TRACE (length);
        const Bytes cut (whole.begin(), whole.begin() + static_cast<std::ptrdiff_t> (length));
        EXPECT_FALSE (parseNl80211Bss (headerOf (cut), cut.size()));
        Bytes consistent = cut;
        if (consistent.size() >= sizeof (uint32_t))
            setMessageLength (consistent, static_cast<uint32_t> (length));
        if (const auto found = parseNl80211Bss (headerOf (consistent), consistent.size()))
        {
            EXPECT_EQ (found->bssid, kBssid);
        }
    }
}

//==============================================================================
TEST (Nl80211Parse, SsidElementIsFoundWithinBounds)
{
    struct Case
    {
        const char* name;
        std::vector<uint8_t> elements;
        bool found;
        std::string ssid;
    };
    std::vector<uint8_t> long34 { 0, 34 };
    long34.insert (long34.end(), 34, 'S');
    const Case cases[] = {
        { "first element", { 0, 5, 'B', 'o', 'o', 't', 'h', 1, 1, 0x82 }, true, "Booth" },
        { "after others", { 1, 2, 0x82, 0x84, 3, 1, 6, 0, 3, 'A', 0, 'B' }, true, std::string ("A\0B", 3) },
        { "hidden network", { 0, 0, 1, 1, 0x82 }, true, "" },
        { "too long: 32 taken", long34, true, std::string (32, 'S') },
        { "none", { 1, 2, 0x82, 0x84 }, false, "" },
        { "element runs past the end", { 1, 9, 0x82, 0, 2, 'X', 'Y' }, false, "" },
        { "ssid runs past the end", { 0, 6, 'B', 'o' }, false, "" },
        { "one stray octet", { 1 }, false, "" },
        { "empty", {}, false, "" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        std::string ssid;
        EXPECT_EQ (findSsidElement (c.elements.data(), c.elements.size(), ssid), c.found);
        EXPECT_EQ (ssid, c.ssid);
    }
}

} // namespace
