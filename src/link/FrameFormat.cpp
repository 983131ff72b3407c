#include "link/FrameFormat.h"

namespace lyrlink
{

void writeHeaderTemplate (SendBuffer& buffer) noexcept
{
    buffer.fill (0);
    std::memcpy (buffer.data(), kFrameMagic, sizeof (kFrameMagic));
    std::memcpy (buffer.data() + offsetof (FrameHeader, model), kOwnModelName, std::strlen (kOwnModelName));
    buffer[offsetof (FrameHeader, hdrclass)] = kOwnHdrClass;
    buffer[offsetof (FrameHeader, minorver)] = kOwnMinorVersion;
}

} // namespace lyrlink
