#include "lyrlinksim/SimOutput.h"

#include "client/JsonBytes.h"

#include <charconv>
#include <cstdio>

namespace lyrlinksim
{

namespace
{

using lyrlink::client::dumpJson;
using lyrlink::client::Json;
using lyrlink::client::jsonBytes;

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

/** A field the frame description wrote as a decimal number; a JSON number again. */
Json numberJson (const std::string& decimal)
{
    unsigned long value = 0;
    const auto end = decimal.data() + decimal.size();
    const auto [ptr, ec] = std::from_chars (decimal.data(), end, value);
    return ec == std::errc() && ptr == end ? Json (value) : jsonBytes (decimal);
}

} // namespace

std::string quoteText (const std::string& raw) { return lyrlink::client::quoteEscaped (raw, "\\x%02x"); }

std::string formatFrameLine (int64_t timeMs, const char* direction, Ipv4 source, Ipv4 destination, ByteView datagram,
                             bool json)
{
    const auto f = describeFrame (datagram);
    const auto src = lyrlink::formatIpv4 (source);
    const auto dst = lyrlink::formatIpv4 (destination);

    if (json)
    {
        Json j { { "t", timeMs }, { "dir", jsonBytes (direction) }, { "src", src },
                 { "dst", dst },  { "name", jsonBytes (f.name) },   { "len", f.length } };
        if (! f.isFrame)
        {
            j["head"] = hexHead (datagram);
            return dumpJson (j);
        }
        j["type"] = f.type;
        j["sub"] = f.subType;
        j["model"] = jsonBytes (f.model);
        j["minor"] = f.minor;
        if (f.isShort)
            j["short"] = true;
        for (const auto& field : f.fields)
            j[field.key] = field.isNumber ? numberJson (field.value) : jsonBytes (field.value);
        return dumpJson (j);
    }

    std::string s = timeColumn (timeMs) + " " + direction + " " + src + " > " + dst + " " + f.name +
                    " len=" + std::to_string (f.length);
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
        Json j { { "t", event.atMs }, { "dir", "event" }, { "event", jsonBytes (event.text) } };
        if (! event.error.empty())
            j["error"] = jsonBytes (event.error);
        return dumpJson (j);
    }
    std::string s = timeColumn (event.atMs) + " event " + event.text;
    if (! event.error.empty())
        s += " (not done: " + event.error + ")";
    return s;
}

std::string formatNoteLine (int64_t timeMs, const std::string& text, bool json)
{
    if (json)
        return dumpJson (Json { { "t", timeMs }, { "dir", "info" }, { "text", jsonBytes (text) } });
    return timeColumn (timeMs) + " info " + text;
}

} // namespace lyrlinksim
