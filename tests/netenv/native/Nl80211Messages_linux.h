// nl80211 answers laid out as the kernel lays them out, built with libnl: for the tests of the
// parser and of the row source, and for the fuzzer's seed corpus.
#pragma once

#include <netlink/attr.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>

#include <linux/netlink.h>
#include <linux/nl80211.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lyrlink::test
{

using Bytes = std::vector<uint8_t>;
using Octets6 = std::array<uint8_t, 6>;

/** A family id such as the kernel gives nl80211; nothing reads it back. */
constexpr int kNl80211TestFamily = 0x1c;

/** One answer message under construction. */
class Nl80211Answer
{
public:
    /** An answer of command, as one part of a dump. */
    explicit Nl80211Answer (uint8_t command) : m_message (nlmsg_alloc_size (16384), nlmsg_free)
    {
        check (m_message != nullptr &&
               genlmsg_put (m_message.get(), 4242, 7, kNl80211TestFamily, 0, NLM_F_MULTI, command, 1) != nullptr);
    }

    Nl80211Answer& u16 (int type, uint16_t value) { return put (nla_put_u16 (m_message.get(), type, value)); }
    Nl80211Answer& u32 (int type, uint32_t value) { return put (nla_put_u32 (m_message.get(), type, value)); }
    Nl80211Answer& u64 (int type, uint64_t value) { return put (nla_put_u64 (m_message.get(), type, value)); }
    /** A zero-terminated string, as the kernel sends names. */
    Nl80211Answer& string (int type, const std::string& text)
    {
        return put (nla_put_string (m_message.get(), type, text.c_str()));
    }
    /** Any octets, of any length. */
    Nl80211Answer& bytes (int type, const Bytes& data)
    {
        return put (nla_put (m_message.get(), type, static_cast<int> (data.size()), data.data()));
    }
    Nl80211Answer& bytes (int type, const std::string& data) { return bytes (type, Bytes (data.begin(), data.end())); }
    Nl80211Answer& mac (int type, const Octets6& octets) { return bytes (type, Bytes (octets.begin(), octets.end())); }

    /** Attributes up to the matching endNest go inside an attribute of type. */
    Nl80211Answer& beginNest (int type)
    {
        m_nests.push_back (nla_nest_start (m_message.get(), type));
        check (m_nests.back() != nullptr);
        return *this;
    }
    Nl80211Answer& endNest()
    {
        check (!m_nests.empty() && nla_nest_end (m_message.get(), m_nests.back()) == 0);
        m_nests.pop_back();
        return *this;
    }

    /** The message's bytes, as many as its header gives. */
    Bytes build() const
    {
        check (m_nests.empty());
        const auto* header = nlmsg_hdr (m_message.get());
        const auto* octets = reinterpret_cast<const uint8_t*> (header);
        return Bytes (octets, octets + header->nlmsg_len);
    }

private:
    static void check (bool ok)
    {
        if (!ok)
            throw std::runtime_error ("cannot build the nl80211 answer");
    }

    Nl80211Answer& put (int result)
    {
        check (result == 0);
        return *this;
    }

    std::unique_ptr<nl_msg, void (*) (nl_msg*)> m_message;
    std::vector<nlattr*> m_nests;
};

/** Information elements as a beacon carries them: the SSID, the supported rates, the channel. */
inline Bytes ssidElements (const std::string& ssid)
{
    Bytes elements { 0, static_cast<uint8_t> (ssid.size()) };
    for (const char octet : ssid)
        elements.push_back (static_cast<uint8_t> (octet));
    for (const uint8_t octet : { 1, 4, 0x82, 0x84, 0x8b, 0x96, 3, 1, 6 })
        elements.push_back (octet);
    return elements;
}

/** The interface answer of a station interface; no SSID attribute when ssid is empty. */
inline Nl80211Answer interfaceAnswer (uint32_t ifIndex, const std::string& name, const Octets6& mac,
                                      const std::string& ssid)
{
    Nl80211Answer answer (NL80211_CMD_NEW_INTERFACE);
    answer.u32 (NL80211_ATTR_IFINDEX, ifIndex)
        .string (NL80211_ATTR_IFNAME, name)
        .u32 (NL80211_ATTR_WIPHY, 0)
        .u32 (NL80211_ATTR_IFTYPE, NL80211_IFTYPE_STATION)
        .u64 (NL80211_ATTR_WDEV, 1)
        .mac (NL80211_ATTR_MAC, mac)
        .u32 (NL80211_ATTR_GENERATION, 5);
    if (!ssid.empty())
        answer.bytes (NL80211_ATTR_SSID, ssid);
    return answer;
}

/** The scan answer of one BSS seen by the interface ifIndex; no status when status is empty, no
    beacon elements when beaconElements is empty. */
inline Nl80211Answer scanAnswer (uint32_t ifIndex, const Octets6& bssid, std::optional<uint32_t> status,
                                 const Bytes& elements, const Bytes& beaconElements = {})
{
    Nl80211Answer answer (NL80211_CMD_NEW_SCAN_RESULTS);
    answer.u32 (NL80211_ATTR_GENERATION, 9).u32 (NL80211_ATTR_IFINDEX, ifIndex).u64 (NL80211_ATTR_WDEV, 1);
    answer.beginNest (NL80211_ATTR_BSS)
        .mac (NL80211_BSS_BSSID, bssid)
        .u32 (NL80211_BSS_FREQUENCY, 2437)
        .u64 (NL80211_BSS_TSF, 123456789)
        .u16 (NL80211_BSS_BEACON_INTERVAL, 100)
        .u16 (NL80211_BSS_CAPABILITY, 0x0411)
        .bytes (NL80211_BSS_INFORMATION_ELEMENTS, elements);
    if (!beaconElements.empty())
        answer.bytes (NL80211_BSS_BEACON_IES, beaconElements);
    answer.u32 (NL80211_BSS_SIGNAL_MBM, static_cast<uint32_t> (-4500));
    if (status)
        answer.u32 (NL80211_BSS_STATUS, *status);
    answer.u32 (NL80211_BSS_SEEN_MS_AGO, 40).endNest();
    return answer;
}

} // namespace lyrlink::test
