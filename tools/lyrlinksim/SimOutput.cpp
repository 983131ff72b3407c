#include "lyrlinksim/SimOutput.h"

#include <cstdio>

namespace lyrlinksim
{

namespace
{

/** The first bytes of a datagram that is no frame, in hex. */
constexpr size_t kHeadBytes = 16;

std::string hexHead (ByteView datagram)
{
    std::string s;
    char pair[3];
    for (size_t i = 0; i < datagram.size() && i < kHeadBytes; ++i)
    {
        std::snprintf (pair, sizeof (pair), "%02x", datagram[i]);
        s += pair;
    }
    return s;
}

std::string timeColumn (int64_t timeMs)
{
    char text[24];
    std::snprintf (text, sizeof (text), "%7lld", static_cast<long long> (timeMs));
    return text;
}

} // namespace

std::string quoteText (const std::string& raw) { return lyrlink::client::quoteEscaped (raw, "\\x%02x"); }

std::string formatFrameLine (int64_t timeMs, const char* direction, Ipv4 source, Ipv4 destination,
                             ByteView datagram, bool json)
{
    const auto f = describeFrame (datagram);
    const auto src = lyrlink::formatIpv4 (source);
    const auto dst = lyrlink::formatIpv4 (destination);

    if (json)
    {
        std::string s = "{\"t\":" + std::to_string (timeMs) + ",\"dir\":" + quoteJson (direction)
                      + ",\"src\":" + quoteJson (src) + ",\"dst\":" + quoteJson (dst)
                      + ",\"name\":" + quoteJson (f.name) + ",\"len\":" + std::to_string (f.length);
        if (! f.isFrame)
            return s + ",\"head\":" + quoteJson (hexHead (datagram)) + "}";
        s += ",\"type\":" + std::to_string (f.type) + ",\"sub\":" + std::to_string (f.subType)
           + ",\"model\":" + quoteJson (f.model) + ",\"minor\":" + std::to_string (f.minor);
        if (f.isShort)
            s += ",\"short\":true";
        for (const auto& field : f.fields)
            s += "," + quoteJson (field.key) + ":" + (field.isNumber ? field.value : quoteJson (field.value));
        return s + "}";
    }

    std::string s = timeColumn (timeMs) + " " + direction + " " + src + " > " + dst + " " + f.name
                  + " len=" + std::to_string (f.length);
    if (! f.isFrame)
        return s + " head=" + hexHead (datagram);
    s += " model=" + quoteText (f.model) + " minor=" + std::to_string (f.minor);
    if (f.isShort)
        s += " short";
    for (const auto& field : f.fields)
        s += " " + field.key + "=" + field.value;
    return s;
}

std::string formatEventLine (const EventOutcome& event, bool json)
{
    if (json)
    {
        std::string s = "{\"t\":" + std::to_string (event.atMs) + ",\"dir\":\"event\",\"event\":" + quoteJson (event.text);
        if (! event.error.empty())
            s += ",\"error\":" + quoteJson (event.error);
        return s + "}";
    }
    std::string s = timeColumn (event.atMs) + " event " + event.text;
    if (! event.error.empty())
        s += " (not done: " + event.error + ")";
    return s;
}

std::string formatNoteLine (int64_t timeMs, const std::string& text, bool json)
{
    if (json)
        return "{\"t\":" + std::to_string (timeMs) + ",\"dir\":\"info\",\"text\":" + quoteJson (text) + "}";
    return timeColumn (timeMs) + " info " + text;
}

} // namespace lyrlinksim
