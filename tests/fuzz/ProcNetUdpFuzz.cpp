// Any text as the kernel's UDP table. Every row that comes back was printed as eight hex digits
// and a colon, so a row is a round trip of what the line said.
#include "netenv/native/NetRowSource_linux.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const std::string text (reinterpret_cast<const char*> (data), size);
    std::vector<lyrlink::UdpRow> rows;
    const bool parsed = lyrlink::parseProcNetUdp (text, rows);
    if (!parsed && !rows.empty())
        std::abort();

    // Each row takes one line after the header, so there are never more rows than lines.
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    if (rows.size() > lines)
        std::abort();
    return 0;
}
