// Any bytes as one nl80211 answer. The input is placed to end right at a page that cannot be read,
// so that a read past its end faults even inside libnl, which the sanitizers do not instrument;
// the inputs have any length, so the message is not always aligned either.
#include "netenv/native/Nl80211Parse_linux.h"

#include <linux/if.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{
constexpr size_t kLargestInput = 1 << 20;

/** kLargestInput readable octets followed by one page that is not. */
uint8_t* guardedEnd()
{
    static uint8_t* end = []
    {
        const auto page = static_cast<size_t> (::sysconf (_SC_PAGESIZE));
        const size_t readable = (kLargestInput + page - 1) / page * page;
        void* region = ::mmap (nullptr, readable + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (region == MAP_FAILED || ::mprotect (static_cast<uint8_t*> (region) + readable, page, PROT_NONE) != 0)
            std::abort();
        return static_cast<uint8_t*> (region) + readable;
    }();
    return end;
}

void require (bool condition)
{
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    if (size > kLargestInput)
        return 0;
    uint8_t* input = guardedEnd() - size;
    std::memcpy (input, data, size);
    const auto* message = reinterpret_cast<const nlmsghdr*> (input);

    // What is given back keeps within the limits that the rows rely on.
    if (const auto found = lyrlink::parseNl80211Interface (message, size))
    {
        require (found->ifIndex != 0);
        require (found->name.size() < IFNAMSIZ);
        require (found->ssid.size() <= 32);
    }
    if (const auto found = lyrlink::parseNl80211Bss (message, size))
        require (found->ssid.size() <= 32);

    std::string ssid;
    if (lyrlink::findSsidElement (input, size, ssid))
        require (ssid.size() <= 32);
    return 0;
}
