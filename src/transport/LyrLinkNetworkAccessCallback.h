#pragma once

#include "link/FrameFormat.h"

namespace lyrlink
{

/** How received frames reach their handler: the UDP endpoint and the TCP server call frameRead on
    their own thread, with the 4 octets of the sender's address and the received bytes, which are
    valid only during the call. */
class LyrLinkNetworkAccessCallback
{
public:
    virtual ~LyrLinkNetworkAccessCallback() = default;
    virtual void frameRead (const uint8_t* sourceAddress, ByteView data) = 0;
};

} // namespace lyrlink
