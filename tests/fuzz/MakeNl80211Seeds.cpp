// Writes nl80211 answers as the kernel sends them, one message a file, into the folder given: the
// seeds of nl80211_parse_fuzz.
#include "netenv/native/Nl80211Messages_linux.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

using namespace lyrlink::test;

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf (stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const Octets6 mac { 0x02, 0x11, 0x22, 0x33, 0x44, 0x55 };
    const Octets6 bssid { 0x3c, 0x52, 0xa1, 0x10, 0x20, 0x30 };
    const std::vector<std::pair<const char*, Bytes>> seeds {
        { "interface-connected", interfaceAnswer (3, "wlan0", mac, "Booth").build() },
        { "interface-idle", interfaceAnswer (4, "wlp2s0", mac, "").build() },
        { "interface-p2p-device", Nl80211Answer (NL80211_CMD_NEW_INTERFACE)
                                      .u32 (NL80211_ATTR_WIPHY, 0)
                                      .u32 (NL80211_ATTR_IFTYPE, NL80211_IFTYPE_P2P_DEVICE)
                                      .u64 (NL80211_ATTR_WDEV, 2)
                                      .mac (NL80211_ATTR_MAC, mac)
                                      .build() },
        { "scan-associated",
          scanAnswer (3, bssid, NL80211_BSS_STATUS_ASSOCIATED, ssidElements ("Booth"), ssidElements ("Booth"))
              .build() },
        { "scan-ibss", scanAnswer (3, bssid, NL80211_BSS_STATUS_IBSS_JOINED, ssidElements ("Adhoc")).build() },
        { "scan-seen", scanAnswer (3, { 2, 2, 2, 2, 2, 2 }, std::nullopt, ssidElements ("Other")).build() },
        { "scan-beacon-only",
          scanAnswer (3, bssid, NL80211_BSS_STATUS_ASSOCIATED, { 1, 1, 0x82 }, ssidElements (std::string (32, 'S')))
              .build() },
    };
    for (const auto& [name, bytes] : seeds)
    {
        const std::string path = std::string (argv[1]) + "/" + name;
        std::ofstream out (path, std::ios::binary);
        out.write (reinterpret_cast<const char*> (bytes.data()), static_cast<std::streamsize> (bytes.size()));
        if (!out)
        {
            std::fprintf (stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
