#include "link/FrameFormat.h"

namespace lyrlink
{

void writeHeaderTemplate (SendBuffer& buffer) noexcept
{
    buffer.fill (0);
    std::memcpy (buffer.data(), kFrameMagic, sizeof (kFrameMagic));
    std::memcpy (buffer.data() + 12, kOwnModelName, std::strlen (kOwnModelName));
    buffer[32] = kOwnHdrClass;
    buffer[33] = kOwnMinorVersion;
}

} // namespace lyrlink
