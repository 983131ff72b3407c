// The network rows of a Linux system: addresses, links and routes from rtnetlink (libnl-route),
// wireless interfaces from nl80211 (libnl-genl), bound UDP addresses from the kernel's UDP table.
// Nl80211Parse_linux reads the nl80211 answers; the connection they come through can be replaced.
// Every read opens its own netlink socket in the calling thread's network namespace, so the
// source holds no state and may be used from any thread.
#pragma once

#include "netenv/NetRows.h"
#include "netenv/native/Nl80211Parse_linux.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lyrlink
{

/** One connection to nl80211: the kernel's generic netlink socket, or a test's stand-in. */
class Nl80211Connection
{
public:
    using Message = std::vector<uint8_t>;

    virtual ~Nl80211Connection() = default;

    /** The answer messages of one dump of command, of the interface ifIndex when it is not 0,
        each message's bytes whole and in the order received. False when the dump failed. */
    virtual bool dump (uint8_t command, uint32_t ifIndex, std::vector<Message>& messages) = 0;
};

/** Opens a connection to nl80211; null when the system has none. Called for every read. */
using Nl80211Opener = std::function<std::unique_ptr<Nl80211Connection>()>;

/** Rows from rtnetlink (libnl-route), nl80211 (libnl-genl) and /proc/net/udp. */
std::unique_ptr<NetRowSource> createLinuxNetRowSource();

/** The same rows with the wireless ones from the connections that openWireless makes. */
std::unique_ptr<NetRowSource> createLinuxNetRowSource (Nl80211Opener openWireless);

/** The local addresses of the text of /proc/net/udp, in file order. Lines that do not parse are
    skipped; false when the header line is missing. */
bool parseProcNetUdp (const std::string& text, std::vector<UdpRow>& rows);

} // namespace lyrlink
