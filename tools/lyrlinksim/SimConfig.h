// The simulator's command line and its event language. An event is written "NAME[:ARGS]" or
// "NAME ARGS", where ARGS are key=value pairs separated by commas or blanks; on the command line
// it is prefixed by the time at which it happens ("5s:silent:id=3").
#pragma once

#include "lyrlinksim/SimFrames.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lyrlinksim
{

enum class EventKind
{
    Silent,      // stop sending and answering
    Resume,      // announce again at once, every 2000 ms
    Leave,       // LeaveNotify, then silent
    Disconnect,  // Disconnect, then silent
    Reject,
    Reset,       // ResetNotify
    TimeServer,  // TimeServerRequest claiming an id
    Config,      // one ConfigNotify claiming an id
    Rediscover,  // the join phase again: DiscoveryRequests, IdUseRequests, then ConfigNotify
    IdBlk,       // IdUseRequestFromBlk
    Raw,         // any bytes as one datagram
    Mac,         // the device's frames carry another MAC from now on
    Quit
};

/** Which simulated devices an event acts on. */
struct DeviceSelector
{
    enum class Kind
    {
        First,   // the first device given (events that send one frame, when none is named)
        All,
        Id,
        Address
    };

    Kind kind = Kind::First;
    uint8_t id = 0;
    Ipv4 address = 0;
};

struct SimEvent
{
    EventKind kind = EventKind::Quit;
    DeviceSelector devices;
    /** TimeServerRequest and ConfigNotify: the id claimed in body byte 0. */
    uint8_t claimedId = 0;
    /** ConfigNotify: the device type announced, if not the device's own. */
    std::optional<uint8_t> type;
    /** IdUseRequestFromBlk: id masks and the request number echoed in the answer. */
    uint8_t wiredMask = 0x03;
    uint8_t wirelessMask = 0x0f;
    uint8_t requestNumber = 1;
    /** Unicast destination instead of the directed broadcast. */
    std::optional<Ipv4> to;
    /** The datagram cut or zero-padded to this many bytes; the length field is left as built. */
    std::optional<size_t> length;
    Bytes raw;
    /** Mac: the device's new MAC address. */
    std::optional<MacAddress> mac;
    /** The event as written back in the output: name, then its arguments separated by blanks. */
    std::string text;
};

struct TimedEvent
{
    int64_t atMs = 0;
    SimEvent event;
};

/** The largest UDP payload over IPv4. */
constexpr size_t kMaxUdpPayload = 65507;

bool parseEvent (const std::string& text, SimEvent& event, std::string& error);

/** "TIME:EVENT", TIME as parseDuration reads it. */
bool parseTimedEvent (const std::string& text, TimedEvent& event, std::string& error);

/** "250ms", "5s", "1.5s", "2m", or a bare number of seconds. */
bool parseDuration (const std::string& text, int64_t& milliseconds);

bool parseIpv4 (const std::string& text, Ipv4& address);
bool parseMac (const std::string& text, MacAddress& mac);

/** "255.255.255.0", "/24" or "24". */
bool parseNetmask (const std::string& text, Ipv4& netmask);

/** "id=1,type=1,model=DKP-3000,ip=10.50.0.11[,mac=...][,minor=3][,cfg=0][,claimed=1]". The model
    takes \xHH and \\ escapes, so it can hold any byte. Without a MAC the device gets 02:00 followed
    by its address. */
bool parseDevice (const std::string& text, DeviceIdentity& device, std::string& error);

struct SimConfig
{
    std::vector<DeviceIdentity> devices;
    Ipv4 netmask = lyrlink::makeIpv4 (255, 255, 255, 0);
    std::optional<Ipv4> broadcast;
    bool join = true;
    std::vector<TimedEvent> timeline;
    std::optional<int64_t> durationMs;
    bool json = false;
    bool verbose = false;
    bool readStdin = true;
    uint16_t port = lyrlink::kEquipmentPort;

    /** Where this device broadcasts: --broadcast, else its subnet's directed broadcast. */
    Ipv4 broadcastFor (const DeviceIdentity& device) const;
};

enum class CommandLineResult
{
    Run,
    Help,
    Error
};

CommandLineResult parseCommandLine (const std::vector<std::string>& args, SimConfig& config, std::string& error);

std::string usageText();

} // namespace lyrlinksim
