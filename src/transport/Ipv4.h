// IPv4 addresses are held as 32-bit values in network order: the bytes of the value in memory are
// the four octets, first octet first, exactly as in frames, records and socket addresses. Masks and
// subnet tests work on these values directly, since AND and OR act octet by octet.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace lyrlink
{

using Ipv4 = uint32_t;

inline Ipv4 ipv4FromOctets (const uint8_t* octets) noexcept
{
    Ipv4 a;
    std::memcpy (&a, octets, 4);
    return a;
}

inline void ipv4ToOctets (Ipv4 a, uint8_t* octets) noexcept { std::memcpy (octets, &a, 4); }

inline Ipv4 makeIpv4 (uint8_t a, uint8_t b, uint8_t c, uint8_t d) noexcept
{
    const uint8_t o[4] { a, b, c, d };
    return ipv4FromOctets (o);
}

inline uint8_t ipv4Octet (Ipv4 a, int index) noexcept
{
    uint8_t o[4];
    ipv4ToOctets (a, o);
    return o[index & 3];
}

/** The four octets of an address by value, for printf-style "%d.%d.%d.%d" arguments. */
struct Ipv4Octets
{
    uint8_t o[4];
};

inline Ipv4Octets octets (Ipv4 a) noexcept
{
    Ipv4Octets r;
    ipv4ToOctets (a, r.o);
    return r;
}

/** "%d.%d.%d.%d" of the four octets. */
inline std::string formatIpv4 (Ipv4 a)
{
    uint8_t o[4];
    ipv4ToOctets (a, o);
    return std::to_string (o[0]) + "." + std::to_string (o[1]) + "." + std::to_string (o[2]) + "."
         + std::to_string (o[3]);
}

} // namespace lyrlink
