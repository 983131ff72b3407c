#include "transport/LyrLinkSysMgrTCP.h"

#include "link/FrameFormat.h"

#include <cstring>

namespace lyrlink
{

namespace
{
// The header test reads octets 0 to 32 and nothing beyond.
constexpr size_t kHeaderTestLength = offsetof (FrameHeader, hdrclass) + 1;
} // namespace

LyrLinkSysMgrTCP::LyrLinkSysMgrTCP (std::unique_ptr<StreamListener> listener, uint16_t port)
    : LyrLinkTCPServer (std::move (listener), port)
{
}

LyrLinkSysMgrTCP::~LyrLinkSysMgrTCP() { closeServer(); }

bool LyrLinkSysMgrTCP::isLinkFrame (const uint8_t* bytes, size_t size) noexcept
{
    if (bytes == nullptr || size < kHeaderTestLength)
        return false;
    if (std::memcmp (bytes, kFrameMagic, sizeof (kFrameMagic)) != 0)
        return false;

    const uint8_t hdrclass = bytes[offsetof (FrameHeader, hdrclass)];
    const uint8_t type = bytes[offsetof (FrameHeader, frameType)];
    const uint8_t subType = bytes[offsetof (FrameHeader, frameSubType)];

    if (hdrclass > 1 || type > kLastFrameType)
        return false;
    if (type == FRAME_ID_USE || type == FRAME_ID_RESPONSE)
        return subType <= 1;
    return subType == 0;
}

void LyrLinkSysMgrTCP::dataReceived (const uint8_t* sourceAddress, const juce::MemoryBlock& data)
{
    if (! isLinkFrame (static_cast<const uint8_t*> (data.getData()), data.getSize()))
        return;
    if (auto* callback = m_callback.load())
        callback->frameRead (sourceAddress, ByteView (data.getData(), data.getSize()));
}

} // namespace lyrlink
