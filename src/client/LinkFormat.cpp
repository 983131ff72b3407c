#include "client/LinkFormat.h"

#include "client/JsonBytes.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>

namespace lyrlink::client
{

namespace
{

bool carriesLinkStatus (int32_t kind)
{
    return kind == KIND_LINK_STATUS_CHANGED || kind == KIND_LINK_REJECTED || kind == KIND_AP_DEVICE_LINK_UP
        || kind == KIND_CONFIG_SEEN_WHILE_SUSPENDED;
}

} // namespace

std::string quoteEscaped (const std::string& raw, const char* escapeFormat)
{
    std::string out = "\"";
    for (const unsigned char c : raw)
    {
        if (c == '"' || c == '\\')
        {
            out += '\\';
            out += static_cast<char> (c);
        }
        else if (c < 0x20 || c >= 0x7F)
        {
            char b[8];
            std::snprintf (b, sizeof (b), escapeFormat, c);
            out += b;
        }
        else
        {
            out += static_cast<char> (c);
        }
    }
    return out + "\"";
}

const char* linkStateName (uint8_t state) noexcept
{
    switch (state)
    {
        case STATE_IDLE: return "IDLE";
        case STATE_COMPATI: return "COMPATI";
        case STATE_DISCOVERY: return "DISCOVERY";
        case STATE_IDWAIT: return "IDWAIT";
        case STATE_IDSET: return "IDSET";
        case STATE_IDUSE: return "IDUSE";
        case STATE_RUN: return "RUN";
        default: return "UNKNOWN";
    }
}

const char* interfaceKindName (uint8_t linkif) noexcept
{
    switch (linkif)
    {
        case LINKIF_WIRED: return "wired";
        case LINKIF_WIRELESS: return "wireless";
        default: return "unknown";
    }
}

const char* deviceStateName (uint8_t state) noexcept
{
    switch (state)
    {
        case DEVICE_NEVER_USED: return "never seen";
        case DEVICE_PRESENT: return "present";
        case DEVICE_REMOVED: return "removed";
        default: return "unknown";
    }
}

const char* notificationName (int32_t kind) noexcept
{
    switch (kind)
    {
        case KIND_LINK_STATUS_CHANGED: return "LinkStatusChanged";
        case KIND_DEVICE_CHANGED: return "DeviceChanged";
        case KIND_LINK_REJECTED: return "LinkRejected";
        case KIND_AP_DEVICE_LINK_UP: return "ApDeviceLinkUp";
        case KIND_CONFIG_SEEN_WHILE_SUSPENDED: return "ConfigSeenWhileSuspended";
        default: return "";
    }
}

std::string formatMac (const uint8_t* mac)
{
    char b[24];
    std::snprintf (b, sizeof (b), "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return b;
}

std::string formatIp (const uint8_t* ip)
{
    char b[20];
    std::snprintf (b, sizeof (b), "%u.%u.%u.%u", ip[0], ip[1], ip[2], ip[3]);
    return b;
}

std::string formatLinkStatusText (const LinkStatus& s)
{
    std::ostringstream o;
    char vt[16];
    std::snprintf (vt, sizeof (vt), "0x%08x", getVtConnection (s));
    o << "state          " << linkStateName (s.state) << " (" << int (s.state) << ")\n"
      << "own id         " << int (s.id) << (s.idClaimed != 0 ? " (claimed)" : "") << "\n"
      << "requested id   " << int (s.reqid) << "\n"
      << "device type    " << int (s.type) << "\n"
      << "address        " << formatIp (s.ip) << "\n"
      << "MAC            " << formatMac (s.mac) << "\n"
      << "netmask        " << formatIp (s.netmask) << "\n"
      << "interface      " << interfaceKindName (s.linkif) << " (" << int (s.linkif) << ")\n"
      << "devices        " << int (s.devcount) << "\n"
      << "BSSID          " << formatMac (s.bssid) << "\n"
      << "AP mode        " << int (s.apmode) << ", AP connected " << int (s.apconnected) << "\n"
      << "negotiation    discovery " << int (s.discoverycnt) << ", id " << int (s.idcnt) << ", in use "
      << int (s.inusecnt) << ", compati " << int (s.compaticnt) << "\n"
      << "ids in use     " << vt << "\n";
    return o.str();
}

namespace
{

Json linkStatusJson (const LinkStatus& s)
{
    return Json { { "state", s.state },
                  { "stateName", linkStateName (s.state) },
                  { "id", s.id },
                  { "idClaimed", s.idClaimed },
                  { "reqid", s.reqid },
                  { "type", s.type },
                  { "ip", formatIp (s.ip) },
                  { "mac", formatMac (s.mac) },
                  { "netmask", formatIp (s.netmask) },
                  { "linkif", s.linkif },
                  { "interface", interfaceKindName (s.linkif) },
                  { "devcount", s.devcount },
                  { "bssid", formatMac (s.bssid) },
                  { "apmode", s.apmode },
                  { "apconnected", s.apconnected },
                  { "discoverycnt", s.discoverycnt },
                  { "idcnt", s.idcnt },
                  { "inusecnt", s.inusecnt },
                  { "compaticnt", s.compaticnt },
                  { "vtconnection", getVtConnection (s) } };
}

} // namespace

std::string formatLinkStatusJson (const LinkStatus& s) { return dumpJson (linkStatusJson (s)); }

std::string formatDeviceText (int id, const DeviceEntry& d)
{
    std::ostringstream o;
    o << "device " << id << ": " << deviceStateName (d.state) << "\n";
    if (d.state != DEVICE_NEVER_USED)
        o << "  type     " << int (d.type) << "\n"
          << "  address  " << formatIp (d.ip) << "\n"
          << "  MAC      " << formatMac (d.mac) << "\n"
          << "  config   " << int (d.cfg1) << " " << int (d.cfg17) << "\n";
    return o.str();
}

namespace
{

Json deviceJson (int id, const DeviceEntry& d)
{
    return Json { { "id", id },       { "state", d.state },      { "stateName", deviceStateName (d.state) },
                  { "type", d.type }, { "ip", formatIp (d.ip) }, { "mac", formatMac (d.mac) },
                  { "cfg1", d.cfg1 }, { "cfg17", d.cfg17 } };
}

} // namespace

std::string formatDeviceJson (int id, const DeviceEntry& d) { return dumpJson (deviceJson (id, d)); }

std::string formatDeviceTableText (const PeerTable& table)
{
    std::string out;
    char line[128];
    std::snprintf (line, sizeof (line), "%3s  %-8s %4s  %-15s  %-17s  %4s %5s\n", "ID", "STATE", "TYPE", "ADDRESS",
                   "MAC", "CFG1", "CFG17");
    out += line;
    int shown = 0;
    for (int id = 1; id <= kMaxDeviceId; ++id)
    {
        const auto& d = table[static_cast<size_t> (id - 1)];
        if (d.state == DEVICE_NEVER_USED)
            continue;
        std::snprintf (line, sizeof (line), "%3d  %-8s %4d  %-15s  %-17s  %4d %5d\n", id, deviceStateName (d.state),
                       d.type, formatIp (d.ip).c_str(), formatMac (d.mac).c_str(), d.cfg1, d.cfg17);
        out += line;
        ++shown;
    }
    if (shown == 0)
        out = "no devices seen\n";
    return out;
}

std::string formatDeviceTableJson (const PeerTable& table)
{
    auto devices = Json::array();
    for (int id = 1; id <= kMaxDeviceId; ++id)
    {
        const auto& d = table[static_cast<size_t> (id - 1)];
        if (d.state != DEVICE_NEVER_USED)
            devices.push_back (deviceJson (id, d));
    }
    return dumpJson (Json { { "devices", std::move (devices) } });
}

std::string formatNotificationText (const std::string& timeText, const ProcMsg& msg)
{
    const auto f = decodeProcMsg (msg);
    std::ostringstream o;
    o << timeText << "  ";
    const std::string name = notificationName (f.kind);
    o << (name.empty() ? "kind " + std::to_string (f.kind) : name) << " id " << f.id;
    if (carriesLinkStatus (f.kind))
    {
        const auto s = recordOf<LinkStatus> (msg);
        o << ": state " << linkStateName (s.state) << ", own id " << int (s.id) << ", " << interfaceKindName (s.linkif)
          << " " << formatIp (s.ip) << ", devices " << int (s.devcount);
    }
    else if (f.kind == KIND_DEVICE_CHANGED)
    {
        const auto d = recordOf<DeviceEntry> (msg);
        o << ": " << deviceStateName (d.state) << ", type " << int (d.type) << ", " << formatIp (d.ip) << ", "
          << formatMac (d.mac);
    }
    return o.str();
}

std::string formatNotificationJson (const std::string& timeText, const ProcMsg& msg)
{
    const auto f = decodeProcMsg (msg);
    Json j { { "time", jsonBytes (timeText) },
             { "kind", f.kind },
             { "name", notificationName (f.kind) },
             { "id", f.id },
             { "pid", f.pid },
             { "result", f.result } };
    if (carriesLinkStatus (f.kind))
        j["status"] = linkStatusJson (recordOf<LinkStatus> (msg));
    else if (f.kind == KIND_DEVICE_CHANGED)
        j["device"] = deviceJson (f.id, recordOf<DeviceEntry> (msg));
    return dumpJson (j);
}

std::string localTimeStamp()
{
    const auto now = std::chrono::system_clock::now();
    const auto t = std::chrono::system_clock::to_time_t (now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds> (now.time_since_epoch()).count() % 1000;
    std::tm local {};
#ifdef _WIN32
    ::localtime_s (&local, &t);
#else
    ::localtime_r (&t, &local);
#endif
    char b[40];
    const size_t n = std::strftime (b, sizeof (b), "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf (b + n, sizeof (b) - n, ".%03d", static_cast<int> (ms));
    return b;
}

} // namespace lyrlink::client
