// The frame builders. Each writes only the frame type and subtype, the length and the body bytes of
// its frame into the shared send buffer, whose header template the link reset wrote; body bytes a
// builder does not set keep what the previous frame left there, and peers see those bytes. The
// link lock (re-entrant; most callers hold it already) serialises all use of the buffer.
#include "app/LinkPlatform.h"
#include "app/LyrLinkSysMgrLog.h"
#include "app/MainComponent.h"
#include "netenv/LyrLinkNetworkAccess.h"

#include <cstdlib>

namespace lyrlink
{

namespace
{
constexpr uint8_t kIdRequestTrailer = 1;  // IdUseRequest and IdSetRequest trailer
constexpr uint8_t kStatusInUse = 1;       // IdUseResponse statuscode: the id is in use
constexpr uint8_t kConfigNotifyCfg17 = 8; // ConfigNotify cfg17

uint8_t* bodyOf (SendBuffer& buffer) noexcept { return buffer.data() + kFrameHeaderSize; }

/** Type and subtype as one two-byte store, then the length big-endian. */
void writeFrameHead (SendBuffer& buffer, uint8_t type, uint8_t subType, size_t length) noexcept
{
    const uint8_t typeAndSubType[2] { type, subType };
    static_assert (offsetof (FrameHeader, frameSubType) == offsetof (FrameHeader, frameType) + 1);
    std::memcpy (buffer.data() + offsetof (FrameHeader, frameType), typeAndSubType, sizeof (typeAndSubType));
    buffer[offsetof (FrameHeader, length)] = static_cast<uint8_t> (length >> 8);
    buffer[offsetof (FrameHeader, length) + 1] = static_cast<uint8_t> (length & 0xff);
}

/** The body shared by IdUseRequest and IdSetRequest; id is the id asked for. */
void writeIdRequestBody (SendBuffer& buffer, const LinkStatus& status, uint8_t id) noexcept
{
    auto* body = bodyOf (buffer);
    putBodyBytes<IdRequestBody::ip> (body, status.ip);
    putBodyBytes<IdRequestBody::mac> (body, status.mac);
    putBodyByte<IdRequestBody::id> (body, id);
    putBodyByte<IdRequestBody::requestNumber> (body, static_cast<uint8_t> (status.idcnt + 1));
    putBodyByte<IdRequestBody::type> (body, status.type);
    putBodyByte<IdRequestBody::trailer> (body, kIdRequestTrailer);
}

/** Unicast of the first length bytes to the four octets at address, UDP port 50000. An address
    of the 0.x.x.x block names no host (on this platform 0.0.0.0 would reach this computer
    itself), so it counts as a failed send. Negative on failure. */
int sendUnicast (LyrLinkNetworkAccess* access, const uint8_t* address, const SendBuffer& buffer, size_t length)
{
    if (access == nullptr || address[0] == 0)
        return -1;
    return access->sendToAddress (address, buffer.data(), static_cast<int> (length));
}
} // namespace

bool MainComponent::sendBroadcastFrame (size_t length, const char* name)
{
    const juce::ScopedLock sl (m_linkLock);

    // Without a chosen interface nothing goes out and nothing is logged; to the caller this counts
    // as sent, so the counters of discovery and compatibility requests still advance.
    if (m_networkAccess == nullptr)
        return true;
    const Ipv4 localAddr = m_networkAccess->m_ipAddr;
    if (ipv4Octet (localAddr, 0) == 0)
        return true;

    if (m_networkAccess->sendBroadcast (localAddr, m_networkAccess->m_netmask, m_sendBuffer.data(),
                                        static_cast<int> (length))
        < 0)
    {
        m_log->write ("%s FrameSend ", name);
        return false;
    }
    return true;
}

void MainComponent::frameSendDiscoveryRequest()
{
    const juce::ScopedLock sl (m_linkLock);
    writeFrameHead (m_sendBuffer, FRAME_DISCOVERY_REQUEST, 0, kDiscoveryRequestLength);
    auto* body = bodyOf (m_sendBuffer);
    putBodyByte<DiscoveryRequestBody::requestNumber> (body, static_cast<uint8_t> (m_linkStatus.discoverycnt + 1));
    putBodyByte<DiscoveryRequestBody::type> (body, m_linkStatus.type);
    putBodyBytes<DiscoveryRequestBody::mac> (body, m_linkStatus.mac);

    // A failed send leaves the counter, so the next discovery tick repeats the same request.
    if (sendBroadcastFrame (kDiscoveryRequestLength, "MainComponent::frameSendDiscoveryRequest"))
        ++m_linkStatus.discoverycnt;
}

void MainComponent::frameSendIdUseRequest (uint8_t requestedId)
{
    const juce::ScopedLock sl (m_linkLock);
    writeFrameHead (m_sendBuffer, FRAME_ID_USE, 0, kIdUseRequestLength);
    writeIdRequestBody (m_sendBuffer, m_linkStatus, requestedId);
    sendBroadcastFrame (kIdUseRequestLength, "MainComponent::frameSendIdUseRequest");
}

void MainComponent::frameSendIdSetRequest()
{
    const juce::ScopedLock sl (m_linkLock);
    writeFrameHead (m_sendBuffer, FRAME_ID_USE, 1, kIdUseRequestLength);
    writeIdRequestBody (m_sendBuffer, m_linkStatus, m_linkStatus.id);

    if (sendUnicast (m_networkAccess.get(), m_linkStatus.idSetTarget, m_sendBuffer, kIdUseRequestLength) < 0)
        m_log->write ("%s FrameSend ", "MainComponent::frameSendIdSetRequest");
    else
        ++m_linkStatus.idcnt;
}

void MainComponent::frameSendIdUseResponse (ByteView requestBody)
{
    const juce::ScopedLock sl (m_linkLock);
    // frameRead passes only bodies that hold the requester's address, the id and the request
    // number; anything shorter is not answered.
    if (! requestBody.holds (IdRequestBody::readEnd))
        return;

    writeFrameHead (m_sendBuffer, FRAME_ID_RESPONSE, 0, kIdUseResponseLength);
    auto* body = bodyOf (m_sendBuffer);
    putBodyByte<IdResponseBody::id> (body, bodyByte<IdRequestBody::id> (requestBody));
    putBodyByte<IdResponseBody::requestNumber> (body, bodyByte<IdRequestBody::requestNumber> (requestBody));
    putBodyByte<IdResponseBody::statuscode> (body, kStatusInUse);

    // The answer goes to the address the request names, not to the datagram's source.
    if (sendUnicast (m_networkAccess.get(), bodyBytes<IdRequestBody::ip> (requestBody), m_sendBuffer,
                     kIdUseResponseLength)
        < 0)
        m_log->write ("%s FrameSend ", "MainComponent::frameSendIdUseResponse");
}

void MainComponent::frameSendIdUseResponseFromBlk (ByteView requestBody)
{
    const juce::ScopedLock sl (m_linkLock);
    // The requester's address and the request number (echoed) are read.
    if (! requestBody.holds (IdUseRequestFromBlkBody::readEnd))
        return;

    writeFrameHead (m_sendBuffer, FRAME_ID_RESPONSE, 0, kIdUseResponseLength);
    auto* body = bodyOf (m_sendBuffer);
    putBodyByte<IdResponseBody::id> (body, m_linkStatus.id);
    putBodyByte<IdResponseBody::requestNumber> (body, bodyByte<IdUseRequestFromBlkBody::requestNumber> (requestBody));
    putBodyByte<IdResponseBody::statuscode> (body, kStatusInUse);

    if (sendUnicast (m_networkAccess.get(), bodyBytes<IdUseRequestFromBlkBody::ip> (requestBody), m_sendBuffer,
                     kIdUseResponseLength)
        < 0)
        m_log->write ("%s FrameSend ", "MainComponent::frameSendIdUseResponseFromBlk");
}

void MainComponent::frameSendConfigNotify()
{
    const juce::ScopedLock sl (m_linkLock);
    writeFrameHead (m_sendBuffer, FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength);
    auto* body = bodyOf (m_sendBuffer);
    putBodyByte<ConfigNotifyBody::id> (body, m_linkStatus.id);
    putBodyByte<ConfigNotifyBody::idClaimed> (body, m_linkStatus.idClaimed);
    putBodyBytes<ConfigNotifyBody::mac> (body, m_linkStatus.mac);
    putBodyBytes<ConfigNotifyBody::ip> (body, m_linkStatus.ip);
    putBodyByte<ConfigNotifyBody::devcount> (body, m_linkStatus.devcount);
    // Bytes 13 to 15 are not ours: they carry what the IdUseRequest before STATE_RUN left (1, 0, 0).
    putBodyByte<ConfigNotifyBody::type> (body, m_linkStatus.type);
    putBodyByte<ConfigNotifyBody::cfg17> (body, kConfigNotifyCfg17);
    sendBroadcastFrame (kConfigNotifyLength, "MainComponent::frameSendConfigNotify");
}

void MainComponent::frameSendDisconnect()
{
    const juce::ScopedLock sl (m_linkLock);
    writeFrameHead (m_sendBuffer, FRAME_DISCONNECT, 0, kDisconnectLength);
    auto* body = bodyOf (m_sendBuffer);
    putBodyByte<DisconnectBody::id> (body, m_linkStatus.id);
    putBodyBytes<DisconnectBody::ip> (body, m_linkStatus.ip);
    sendBroadcastFrame (kDisconnectLength, "MainComponent::frameSendDisconnect");
}

void MainComponent::frameSendCompatiRequest()
{
    const juce::ScopedLock sl (m_linkLock);
    writeFrameHead (m_sendBuffer, FRAME_COMPATI_REQUEST, 0, kCompatiRequestLength);
    putBodyByte<CompatiRequestBody::type> (bodyOf (m_sendBuffer), m_linkStatus.type);
    if (sendBroadcastFrame (kCompatiRequestLength, "MainComponent::frameSendCompatiRequest"))
        ++m_linkStatus.compaticnt;
}

int MainComponent::randomDelay (int max)
{
    if (max <= 0)
        return 0;
    // rand() taken down to 15 bits (0 to 32767) whatever RAND_MAX is, then scaled to 0..max and
    // truncated. linkUpFunc seeds the generator with the current time.
    const long long r = m_platform.getRandom().next() / (LinkRandom::kMax / 32768 + 1);
    return static_cast<int> (r * (static_cast<long long> (max) + 1) / 32768);
}

} // namespace lyrlink
