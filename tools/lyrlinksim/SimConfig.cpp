#include "lyrlinksim/SimConfig.h"

#include "common/CliMessages.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <charconv>
#include <cmath>

namespace lyrlinksim
{

using namespace lyrlink;

namespace
{

struct Argument
{
    std::string key;
    std::string value;
};

bool isBlank (char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trim (const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && isBlank (s[b]))
        ++b;
    while (e > b && isBlank (s[e - 1]))
        --e;
    return s.substr (b, e - b);
}

/** Splits "k=v,k=v" or "k=v k=v" into pairs; false on a token without '=' or an empty key. */
bool splitArguments (const std::string& text, std::vector<Argument>& out, std::string& error)
{
    std::string token;
    auto flush = [&]() {
        if (token.empty())
            return true;
        const auto eq = token.find ('=');
        if (eq == std::string::npos || eq == 0)
        {
            error = "expected key=value, got \"" + token + "\"";
            return false;
        }
        out.push_back ({ token.substr (0, eq), token.substr (eq + 1) });
        token.clear();
        return true;
    };
    for (char c : text)
    {
        if (c == ',' || isBlank (c))
        {
            if (! flush())
                return false;
        }
        else
            token.push_back (c);
    }
    return flush();
}

/** Decimal or 0x-prefixed hexadecimal, within [low, high]; nothing before or after the digits. */
bool parseNumber (const std::string& text, unsigned long low, unsigned long high, unsigned long& value)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.data() + (hex ? 2 : 0);
    const char* end = text.data() + text.size();
    // from_chars takes a minus sign for signed types only, and neither a plus sign nor blanks.
    unsigned long v = 0;
    const auto [ptr, ec] = std::from_chars (begin, end, v, hex ? 16 : 10);
    if (begin == end || ec != std::errc() || ptr != end || v < low || v > high)
        return false;
    value = v;
    return true;
}

bool parseByte (const std::string& text, uint8_t& value)
{
    unsigned long v = 0;
    if (! parseNumber (text, 0, 255, v))
        return false;
    value = static_cast<uint8_t> (v);
    return true;
}

int hexDigit (char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parseHexBytes (const std::string& text, Bytes& out)
{
    if (text.size() % 2 != 0 || text.size() / 2 > kMaxUdpPayload)
        return false;
    out.clear();
    for (size_t i = 0; i < text.size(); i += 2)
    {
        const int hi = hexDigit (text[i]), lo = hexDigit (text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back (static_cast<uint8_t> (hi * 16 + lo));
    }
    return true;
}

/** Resolves \xHH and \\ in a model name. */
bool unescapeModel (const std::string& text, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] != '\\')
        {
            out.push_back (text[i]);
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\')
        {
            out.push_back ('\\');
            ++i;
            continue;
        }
        if (i + 3 < text.size() && text[i + 1] == 'x' && hexDigit (text[i + 2]) >= 0 && hexDigit (text[i + 3]) >= 0)
        {
            out.push_back (static_cast<char> (hexDigit (text[i + 2]) * 16 + hexDigit (text[i + 3])));
            i += 3;
            continue;
        }
        return false;
    }
    return true;
}

struct EventName
{
    const char* name;
    EventKind kind;
};

constexpr EventName kEventNames[] = {
    { "silent", EventKind::Silent },         { "resume", EventKind::Resume },
    { "leave", EventKind::Leave },           { "disconnect", EventKind::Disconnect },
    { "reject", EventKind::Reject },         { "reset", EventKind::Reset },
    { "timeserver", EventKind::TimeServer }, { "config", EventKind::Config },
    { "rediscover", EventKind::Rediscover }, { "idblk", EventKind::IdBlk },
    { "raw", EventKind::Raw },               { "mac", EventKind::Mac },
    { "quit", EventKind::Quit },
};

/** Events that change a device's state rather than send one frame: they must name their devices. */
bool changesDeviceState (EventKind k)
{
    return k == EventKind::Silent || k == EventKind::Resume || k == EventKind::Leave || k == EventKind::Disconnect
        || k == EventKind::Rediscover || k == EventKind::Mac;
}

bool claimsAnId (EventKind k) { return k == EventKind::TimeServer || k == EventKind::Config; }

/** Events that send exactly one datagram per device, which to= and len= shape. */
bool sendsOneFrame (EventKind k)
{
    return k != EventKind::Silent && k != EventKind::Resume && k != EventKind::Rediscover && k != EventKind::Mac
        && k != EventKind::Quit;
}

bool parseSelector (const std::string& key, const std::string& value, DeviceSelector& s)
{
    if (key == "ip")
    {
        s.kind = DeviceSelector::Kind::Address;
        return parseIpv4 (value, s.address);
    }
    if (value == "all")
    {
        s.kind = DeviceSelector::Kind::All;
        return true;
    }
    s.kind = DeviceSelector::Kind::Id;
    return parseByte (value, s.id);
}

bool applyArgument (SimEvent& e, const Argument& a, bool& hasClaim, std::string& error)
{
    const auto bad = [&]() {
        error = "bad value for " + a.key + ": \"" + a.value + "\"";
        return false;
    };
    const bool isSelector = a.key == "dev" || a.key == "ip" || (a.key == "id" && ! claimsAnId (e.kind));

    if (e.kind == EventKind::Quit)
    {
        error = "quit takes no arguments";
        return false;
    }
    if (isSelector)
        return parseSelector (a.key, a.value, e.devices) || bad();
    if (a.key == "id")
    {
        hasClaim = true;
        return parseByte (a.value, e.claimedId) || bad();
    }
    if (a.key == "to" && sendsOneFrame (e.kind))
    {
        Ipv4 to = 0;
        if (! parseIpv4 (a.value, to))
            return bad();
        e.to = to;
        return true;
    }
    if (a.key == "len" && sendsOneFrame (e.kind))
    {
        unsigned long n = 0;
        if (! parseNumber (a.value, 1, kMaxUdpPayload, n))
            return bad();
        e.length = n;
        return true;
    }
    if (a.key == "type" && e.kind == EventKind::Config)
    {
        uint8_t t = 0;
        if (! parseByte (a.value, t))
            return bad();
        e.type = t;
        return true;
    }
    if (e.kind == EventKind::IdBlk && a.key == "wired")
        return parseByte (a.value, e.wiredMask) || bad();
    if (e.kind == EventKind::IdBlk && a.key == "wireless")
        return parseByte (a.value, e.wirelessMask) || bad();
    if (e.kind == EventKind::IdBlk && a.key == "req")
        return parseByte (a.value, e.requestNumber) || bad();
    if (e.kind == EventKind::Raw && a.key == "hex")
        return parseHexBytes (a.value, e.raw) || bad();
    if (e.kind == EventKind::Mac && a.key == "mac")
    {
        MacAddress mac {};
        if (! parseMac (a.value, mac))
            return bad();
        e.mac = mac;
        return true;
    }

    error = "unknown argument \"" + a.key + "\" for this event";
    return false;
}

} // namespace

bool parseEvent (const std::string& input, SimEvent& event, std::string& error)
{
    const auto text = trim (input);
    size_t nameEnd = 0;
    while (nameEnd < text.size() && text[nameEnd] != ':' && ! isBlank (text[nameEnd]))
        ++nameEnd;
    const auto name = text.substr (0, nameEnd);
    const auto argsText = nameEnd < text.size() ? text.substr (nameEnd + 1) : std::string();

    const auto* found = std::find_if (std::begin (kEventNames), std::end (kEventNames),
                                      [&] (const EventName& n) { return name == n.name; });
    if (found == std::end (kEventNames))
    {
        error = name.empty() ? "empty event" : "unknown event \"" + name + "\"";
        return false;
    }

    SimEvent e;
    e.kind = found->kind;
    std::vector<Argument> args;
    if (! splitArguments (argsText, args, error))
        return false;

    bool hasClaim = false;
    e.text = name;
    for (const auto& a : args)
    {
        if (! applyArgument (e, a, hasClaim, error))
            return false;
        e.text += " " + a.key + "=" + a.value;
    }

    if (changesDeviceState (e.kind) && e.devices.kind == DeviceSelector::Kind::First)
    {
        error = name + " needs id=N, id=all or ip=A.B.C.D";
        return false;
    }
    if (claimsAnId (e.kind) && ! hasClaim)
    {
        error = name + " needs id=N, the id it claims";
        return false;
    }
    if (e.kind == EventKind::Raw && e.raw.empty())
    {
        error = "raw needs hex=BYTES";
        return false;
    }
    if (e.kind == EventKind::Mac && ! e.mac)
    {
        error = "mac needs mac=XX:XX:XX:XX:XX:XX";
        return false;
    }
    event = std::move (e);
    return true;
}

bool parseTimedEvent (const std::string& text, TimedEvent& event, std::string& error)
{
    const auto colon = text.find (':');
    if (colon == std::string::npos)
    {
        error = "expected TIME:EVENT, got \"" + text + "\"";
        return false;
    }
    int64_t at = 0;
    if (! parseDuration (text.substr (0, colon), at))
    {
        error = "bad time \"" + text.substr (0, colon) + "\"";
        return false;
    }
    SimEvent e;
    if (! parseEvent (text.substr (colon + 1), e, error))
        return false;
    event.atMs = at;
    event.event = std::move (e);
    return true;
}

bool parseDuration (const std::string& input, int64_t& milliseconds)
{
    const auto text = trim (input);
    size_t i = 0;
    while (i < text.size() && (std::isdigit (static_cast<unsigned char> (text[i])) || text[i] == '.'))
        ++i;
    const auto number = text.substr (0, i);
    const auto unit = text.substr (i);
    if (number.empty() || number == "." || std::count (number.begin(), number.end(), '.') > 1)
        return false;

    double scale = 0;
    if (unit == "ms")
        scale = 1;
    else if (unit == "s" || unit.empty())
        scale = 1000;
    else if (unit == "m")
        scale = 60000;
    else
        return false;

    double parsed = 0;
    const auto end = number.data() + number.size();
    const auto [ptr, ec] = std::from_chars (number.data(), end, parsed, std::chars_format::fixed);
    if (ec != std::errc() || ptr != end)
        return false;
    const double v = parsed * scale;
    if (! std::isfinite (v) || v > 1e12)
        return false;
    milliseconds = static_cast<int64_t> (std::llround (v));
    return true;
}

bool parseIpv4 (const std::string& text, Ipv4& address)
{
    // Four decimal octets and nothing else: inet_pton refuses leading zeros ("010.1.1.1", which
    // inet_aton would read as octal) and the short forms ("10.1").
    in_addr parsed {};
    if (text.find ('\0') != std::string::npos || ::inet_pton (AF_INET, text.c_str(), &parsed) != 1)
        return false;
    address = ipv4FromOctets (reinterpret_cast<const uint8_t*> (&parsed.s_addr));
    return true;
}

bool parseMac (const std::string& text, MacAddress& mac)
{
    if (text.size() != 17)
        return false;
    for (size_t i = 0; i < 6; ++i)
    {
        const int hi = hexDigit (text[i * 3]), lo = hexDigit (text[i * 3 + 1]);
        if (hi < 0 || lo < 0 || (i < 5 && text[i * 3 + 2] != ':' && text[i * 3 + 2] != '-'))
            return false;
        mac[i] = static_cast<uint8_t> (hi * 16 + lo);
    }
    return true;
}

bool parseNetmask (const std::string& text, Ipv4& netmask)
{
    if (text.find ('.') != std::string::npos)
    {
        if (! parseIpv4 (text, netmask))
            return false;
        // A netmask is a run of ones followed by zeros.
        uint8_t o[4];
        ipv4ToOctets (netmask, o);
        const uint32_t host = (uint32_t (o[0]) << 24) | (uint32_t (o[1]) << 16) | (uint32_t (o[2]) << 8) | o[3];
        const uint32_t inverted = ~host;
        return (inverted & (inverted + 1)) == 0;
    }
    unsigned long bits = 0;
    if (text.empty() || ! parseNumber (text[0] == '/' ? text.substr (1) : text, 0, 32, bits))
        return false;
    const uint32_t host = bits == 0 ? 0 : ~uint32_t (0) << (32 - bits);
    netmask = makeIpv4 (uint8_t (host >> 24), uint8_t (host >> 16), uint8_t (host >> 8), uint8_t (host));
    return true;
}

bool parseDevice (const std::string& text, DeviceIdentity& device, std::string& error)
{
    std::vector<Argument> args;
    if (! splitArguments (text, args, error))
        return false;

    DeviceIdentity d;
    bool hasId = false, hasIp = false, hasMac = false, hasModel = false;
    for (const auto& a : args)
    {
        bool ok = false;
        if (a.key == "id")
            ok = hasId = parseByte (a.value, d.id);
        else if (a.key == "type")
            ok = parseByte (a.value, d.type);
        else if (a.key == "model")
            ok = hasModel = unescapeModel (a.value, d.model);
        else if (a.key == "ip")
            ok = hasIp = parseIpv4 (a.value, d.ip);
        else if (a.key == "mac")
            ok = hasMac = parseMac (a.value, d.mac);
        else if (a.key == "minor")
            ok = parseByte (a.value, d.minor);
        else if (a.key == "cfg")
            ok = parseByte (a.value, d.cfg17);
        else if (a.key == "claimed")
            ok = parseByte (a.value, d.idClaimed);
        else
        {
            error = "unknown device key \"" + a.key + "\"";
            return false;
        }
        if (! ok)
        {
            error = "bad device value for " + a.key + ": \"" + a.value + "\"";
            return false;
        }
    }
    if (! hasId || ! hasIp)
    {
        error = "a device needs id= and ip=";
        return false;
    }
    if (! hasMac)
    {
        d.mac = { 0x02, 0x00, 0, 0, 0, 0 };
        ipv4ToOctets (d.ip, d.mac.data() + 2);
    }
    if (! hasModel)
        d.model = d.type == 7 ? "WMR-7000" : d.type == 1 ? "DKP-3000" : "SIM-DEVICE";
    device = std::move (d);
    return true;
}

Ipv4 SimConfig::broadcastFor (const DeviceIdentity& device) const
{
    return broadcast ? *broadcast : (device.ip | ~netmask);
}

CommandLineResult parseCommandLine (const std::vector<std::string>& args, SimConfig& config, std::string& error)
{
    SimConfig c;
    bool help = false, noJoin = false, noStdin = false;
    std::vector<std::string> devices, events;
    std::string netmask, broadcast, duration, port;

    // The usage text is this program's own; the parser only reads the words. Devices and events
    // are read with their own mini-language below, each option value as one word.
    CLI::App app { "", "lyrlinksim" };
    app.set_help_flag();
    app.allow_extras();
    // An option given twice keeps its last value.
    app.option_defaults()->multi_option_policy (CLI::MultiOptionPolicy::TakeLast);
    app.add_flag ("-h,--help", help);
    for (auto [name, flag] : { std::pair { "--json", &c.json }, std::pair { "--verbose", &c.verbose },
                               std::pair { "--no-join", &noJoin }, std::pair { "--no-stdin", &noStdin } })
        app.add_flag (name, *flag)->disable_flag_override();
    for (auto [name, values] : { std::pair { "--device", &devices }, std::pair { "--at", &events } })
        app.add_option (name, *values)
            ->expected (1)
            ->allow_extra_args (false)
            ->multi_option_policy (CLI::MultiOptionPolicy::TakeAll);
    for (auto [name, value] : { std::pair { "--netmask", &netmask }, std::pair { "--broadcast", &broadcast },
                                std::pair { "--duration", &duration }, std::pair { "--port", &port } })
        app.add_option (name, *value);

    std::vector<std::string> reversed (args.rbegin(), args.rend());
    try
    {
        app.parse (reversed);
    }
    catch (const CLI::Error& e)
    {
        if (help)
            return CommandLineResult::Help;
        error = tools::describeParseError (e);
        return CommandLineResult::Error;
    }
    if (help)
        return CommandLineResult::Help;
    if (const auto extra = app.remaining(); ! extra.empty())
    {
        error =
            (extra.front().rfind ("-", 0) == 0 ? "unknown option \"" : "unexpected argument \"") + extra.front() + "\"";
        return CommandLineResult::Error;
    }

    const auto bad = [&] (const char* option, const std::string& value) {
        if (error.empty())
            error = std::string ("bad value for ") + option + ": \"" + value + "\"";
        return CommandLineResult::Error;
    };
    c.join = ! noJoin;
    c.readStdin = ! noStdin;
    for (const auto& text : devices)
    {
        DeviceIdentity d;
        if (! parseDevice (text, d, error))
            return bad ("--device", text);
        c.devices.push_back (std::move (d));
    }
    for (const auto& text : events)
    {
        TimedEvent e;
        if (! parseTimedEvent (text, e, error))
            return bad ("--at", text);
        c.timeline.push_back (std::move (e));
    }
    if (app.count ("--netmask") > 0 && ! parseNetmask (netmask, c.netmask))
        return bad ("--netmask", netmask);
    if (app.count ("--broadcast") > 0)
    {
        Ipv4 b = 0;
        if (! parseIpv4 (broadcast, b))
            return bad ("--broadcast", broadcast);
        c.broadcast = b;
    }
    if (app.count ("--duration") > 0)
    {
        int64_t ms = 0;
        if (! parseDuration (duration, ms) || ms <= 0)
            return bad ("--duration", duration);
        c.durationMs = ms;
    }
    if (app.count ("--port") > 0)
    {
        unsigned long value = 0;
        if (! parseNumber (port, 1, 65535, value))
            return bad ("--port", port);
        c.port = static_cast<uint16_t> (value);
    }

    if (c.devices.empty())
    {
        error = "give at least one --device";
        return CommandLineResult::Error;
    }
    for (size_t i = 0; i < c.devices.size(); ++i)
        for (size_t j = i + 1; j < c.devices.size(); ++j)
            if (c.devices[i].ip == c.devices[j].ip)
            {
                error = "two devices on " + formatIpv4 (c.devices[i].ip) + ": each needs an address of its own";
                return CommandLineResult::Error;
            }

    // A timeline event naming no device is a typing error better reported now than at its time.
    for (const auto& t : c.timeline)
    {
        const auto& sel = t.event.devices;
        const bool named = sel.kind == DeviceSelector::Kind::Id || sel.kind == DeviceSelector::Kind::Address;
        const bool found = std::any_of (c.devices.begin(), c.devices.end(), [&sel] (const DeviceIdentity& d) {
            return sel.kind == DeviceSelector::Kind::Id ? d.id == sel.id : d.ip == sel.address;
        });
        if (named && ! found)
        {
            error = "--at " + t.event.text + ": no such device";
            return CommandLineResult::Error;
        }
    }

    // Events at the same time keep the order in which they were given.
    std::stable_sort (c.timeline.begin(), c.timeline.end(),
                      [] (const TimedEvent& a, const TimedEvent& b) { return a.atMs < b.atMs; });
    config = std::move (c);
    return CommandLineResult::Run;
}

std::string usageText()
{
    return R"(usage: lyrlinksim --device DEVICE [--device DEVICE ...] [options]

Plays equipment on the link network: each device sends from its own IPv4 address on UDP port
50000, announces itself with a ConfigNotify every 2000 ms and answers IdUseRequests for its id.
Every frame received from another host is printed, one line each, with the milliseconds since
the start.

  --device DEVICE   id=N,ip=A.B.C.D[,type=T][,model=NAME][,mac=XX:XX:XX:XX:XX:XX][,minor=N]
                    [,cfg=N][,claimed=N]; the address must be configured on this host. The model
                    takes \xHH escapes. Defaults: type 1, minor 3, mac 02:00 + the address.
  --netmask MASK    the devices' subnet (255.255.255.0, /24); broadcasts go to its directed
                    broadcast address (default /24)
  --broadcast ADDR  broadcast to this address instead
  --no-join         announce at once, without DiscoveryRequests and IdUseRequests first
  --at TIME:EVENT   run EVENT at TIME after the start (250ms, 5s, 1.5s, 2m; bare = seconds)
  --duration TIME   stop after TIME
  --json            print one JSON object per line
  --verbose         print the frames sent as well
  --no-stdin        do not read commands from standard input
  --port N          UDP port (default 50000)
  -h, --help        print this text

Events (also read from standard input, one a line, without the time):
  silent id=N|all          stop sending and answering      resume id=N|all   announce again
  leave id=N|all           LeaveNotify, then silent        disconnect id=N|all   Disconnect, then silent
  rediscover id=N|all      DiscoveryRequests and IdUseRequests again, then ConfigNotify
  reject [dev=N]           Reject                          reset [dev=N]     ResetNotify
  timeserver id=N [dev=N]  TimeServerRequest claiming id N
  config id=N [dev=N] [type=T]   one ConfigNotify claiming id N
  idblk [dev=N] [wired=0x03] [wireless=0x0f] [req=N]   IdUseRequestFromBlk
  raw hex=BYTES [dev=N]    any bytes as one datagram
  mac id=N|ip=A.B.C.D mac=XX:XX:XX:XX:XX:XX   the device's frames carry this MAC from now on
  quit
  Devices are named by id=N or ip=A.B.C.D (dev=N where id= is the claimed id); events that send
  one frame take to=A.B.C.D (unicast instead of broadcast) and len=N (cut or zero-pad the datagram).
  Arguments are separated by commas or blanks: "5s:silent:id=3", "leave id=2".

Standard input at its end stops the run unless --duration is given.
)";
}

} // namespace lyrlinksim
