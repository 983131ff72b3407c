// JSON for the machine-readable output of the client library and the tools, built with
// nlohmann-json. Internal: no public header of the client library includes this one, so an
// application that links the library never compiles nlohmann-json.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace lyrlink::client
{

/** A JSON value whose objects keep their fields in the order they were added. */
using Json = nlohmann::ordered_json;

/** Raw bytes as a JSON string. Names and models come from the network and need not be UTF-8, so
    each byte is taken as the code point of the same value (0xe9 becomes U+00E9): the serialiser
    never meets invalid UTF-8, and with ASCII output every byte outside printable ASCII reads
    \u00XX, which a reader maps back to the byte. */
inline Json jsonBytes (const std::string& raw)
{
    std::string utf8;
    utf8.reserve (raw.size() * 2);
    for (const unsigned char c : raw)
    {
        if (c < 0x80)
        {
            utf8 += static_cast<char> (c);
        }
        else
        {
            utf8 += static_cast<char> (0xc0 | (c >> 6));
            utf8 += static_cast<char> (0x80 | (c & 0x3f));
        }
    }
    return Json (std::move (utf8));
}

/** One line of printable ASCII, without blanks between the tokens. */
inline std::string dumpJson (const Json& value) { return value.dump (-1, ' ', true); }

} // namespace lyrlink::client
