// A sequence of equipment frames into frameRead, from any start. Input: one byte of StartFlags,
// then records of
//   source (1 byte): bits 0-1 the path: 0 a host of the wired subnet, 1 of the wireless one, 2 of
//                    a subnet this computer is not on (each through the endpoint's filter), 3 straight
//                    to frameRead as the TCP server delivers; bits 2-7 the host number;
//   length (2 bytes, big-endian, at most 2048), the frame;
//   time (1 byte): virtual time to let pass, so timers, aging and the id phase run: t < 200 is
//                  t x 25 ms, above that (t - 200) x 5 s.
#include "fuzz/FuzzLink.h"

using namespace lyrlink;
using namespace lyrlink::fuzz;

namespace
{
int64_t delayOf (uint8_t t)
{
    return t < 200 ? t * 25 : (t - 200) * 5000;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    if (size > 16384)
        return 0;
    InputReader in (data, size);
    startInput (StartFlags::of (in.byte()));
    auto& h = harness();

    while (!in.isEmpty())
    {
        const uint8_t source = in.byte();
        const size_t length = std::min<size_t> (((size_t)in.byte() << 8) | in.byte(), 2048);
        const auto frame = in.bytes (length);
        const uint8_t host = static_cast<uint8_t> (source >> 2);
        switch (source & 3)
        {
        case 0:
            h.receive (makeIpv4 (192, 168, 1, host), frame);
            break;
        case 1:
            h.receive (makeIpv4 (10, 0, 0, host), frame);
            break;
        case 2:
            h.receive (makeIpv4 (172, 16, 0, host), frame);
            break;
        default:
            h.frameRead (frame);
            break;
        }
        h.scheduler.advance (delayOf (in.byte()));
        checkInvariants();
    }
    finishInput();
    return 0;
}
