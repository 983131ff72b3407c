#include "netenv/native/Nl80211Parse_linux.h"

#include "netenv/NetRows.h"

#include <netlink/attr.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>

#include <linux/genetlink.h>
#include <linux/if.h>
#include <linux/netlink.h>
#include <linux/nl80211.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace lyrlink
{

namespace
{
constexpr uint16_t kMacLength = 6;

/** The sizes the kernel gives the top-level attributes of its answers that are read here. libnl
    refuses a message in which one of them has another size, or a name that does not end in a
    zero, before anything is read. */
struct AnswerPolicy
{
    nla_policy entries[NL80211_ATTR_MAX + 1] {};

    AnswerPolicy()
    {
        entries[NL80211_ATTR_IFINDEX].type = NLA_U32;
        entries[NL80211_ATTR_IFINDEX].maxlen = sizeof (uint32_t);
        entries[NL80211_ATTR_IFNAME].type = NLA_STRING;
        entries[NL80211_ATTR_IFNAME].maxlen = IFNAMSIZ;
        entries[NL80211_ATTR_MAC].minlen = kMacLength;
        entries[NL80211_ATTR_MAC].maxlen = kMacLength;
        entries[NL80211_ATTR_SSID].maxlen = static_cast<uint16_t> (kSsidMaxLength);
        entries[NL80211_ATTR_BSS].type = NLA_NESTED;
    }
};

/** The same for the attributes of a BSS. */
struct BssPolicy
{
    nla_policy entries[NL80211_BSS_MAX + 1] {};

    BssPolicy()
    {
        entries[NL80211_BSS_BSSID].minlen = kMacLength;
        entries[NL80211_BSS_BSSID].maxlen = kMacLength;
        entries[NL80211_BSS_STATUS].type = NLA_U32;
        entries[NL80211_BSS_STATUS].maxlen = sizeof (uint32_t);
    }
};

const AnswerPolicy kAnswerPolicy;
const BssPolicy kBssPolicy;

using AttributeTable = std::array<nlattr*, NL80211_ATTR_MAX + 1>;

/** The top-level attributes of a generic netlink message of which length bytes are readable. */
bool parseAttributes (const nlmsghdr* message, size_t length, AttributeTable& attributes)
{
    if (message == nullptr || length < NLMSG_HDRLEN)
        return false;
    // Copied out, so that the check holds for a buffer of any alignment.
    uint32_t messageLength = 0;
    std::memcpy (&messageLength, reinterpret_cast<const uint8_t*> (message) + offsetof (nlmsghdr, nlmsg_len),
                 sizeof (messageLength));
    if (messageLength < NLMSG_HDRLEN + GENL_HDRLEN || messageLength > length)
        return false;
    // libnl only reads through this pointer.
    auto* header = const_cast<nlmsghdr*> (message);
    return genlmsg_parse (header, 0, attributes.data(), NL80211_ATTR_MAX, kAnswerPolicy.entries) == 0;
}

uint32_t u32Of (const nlattr* attribute)
{
    uint32_t value = 0;
    std::memcpy (&value, nla_data (attribute), sizeof (value));
    return value;
}

std::string bytesOf (const nlattr* attribute, size_t limit)
{
    const auto length = std::min (static_cast<size_t> (std::max (nla_len (attribute), 0)), limit);
    return std::string (static_cast<const char*> (nla_data (attribute)), length);
}

void copyMac (const nlattr* attribute, std::array<uint8_t, 6>& mac)
{
    std::memcpy (mac.data(), nla_data (attribute), mac.size());
}
} // namespace

//==============================================================================
std::optional<Nl80211Interface> parseNl80211Interface (const nlmsghdr* message, size_t length)
{
    AttributeTable attributes {};
    if (!parseAttributes (message, length, attributes) || attributes[NL80211_ATTR_IFINDEX] == nullptr)
        return std::nullopt;

    Nl80211Interface found;
    found.ifIndex = u32Of (attributes[NL80211_ATTR_IFINDEX]);
    if (found.ifIndex == 0)
        return std::nullopt;
    if (const auto* name = attributes[NL80211_ATTR_IFNAME])
    {
        // Zero-terminated within the attribute, as the policy made sure.
        const auto* text = static_cast<const char*> (nla_data (name));
        found.name.assign (text, strnlen (text, static_cast<size_t> (nla_len (name))));
    }
    if (const auto* mac = attributes[NL80211_ATTR_MAC])
    {
        copyMac (mac, found.mac);
        found.hasMac = true;
    }
    if (const auto* ssid = attributes[NL80211_ATTR_SSID])
        found.ssid = bytesOf (ssid, kSsidMaxLength);
    return found;
}

std::optional<Nl80211Bss> parseNl80211Bss (const nlmsghdr* message, size_t length)
{
    AttributeTable attributes {};
    if (!parseAttributes (message, length, attributes) || attributes[NL80211_ATTR_BSS] == nullptr)
        return std::nullopt;

    nlattr* bss[NL80211_BSS_MAX + 1] {};
    if (nla_parse_nested (bss, NL80211_BSS_MAX, attributes[NL80211_ATTR_BSS], kBssPolicy.entries) != 0 ||
        bss[NL80211_BSS_BSSID] == nullptr)
        return std::nullopt;

    Nl80211Bss found;
    copyMac (bss[NL80211_BSS_BSSID], found.bssid);
    if (const auto* status = bss[NL80211_BSS_STATUS])
    {
        const uint32_t value = u32Of (status);
        found.connected = value == NL80211_BSS_STATUS_ASSOCIATED || value == NL80211_BSS_STATUS_IBSS_JOINED;
    }
    for (const int kind : { NL80211_BSS_INFORMATION_ELEMENTS, NL80211_BSS_BEACON_IES })
    {
        const nlattr* elements = bss[kind];
        if (elements != nullptr && nla_len (elements) > 0 &&
            findSsidElement (static_cast<const uint8_t*> (nla_data (elements)),
                             static_cast<size_t> (nla_len (elements)), found.ssid))
            break;
    }
    return found;
}

bool findSsidElement (const uint8_t* elements, size_t length, std::string& ssid)
{
    size_t at = 0;
    while (elements != nullptr && at + 2 <= length)
    {
        const uint8_t id = elements[at];
        const size_t size = elements[at + 1];
        if (at + 2 + size > length)
            return false;
        if (id == 0)
        {
            ssid.assign (reinterpret_cast<const char*> (elements + at + 2), std::min (size, kSsidMaxLength));
            return true;
        }
        at += 2 + size;
    }
    return false;
}

} // namespace lyrlink
