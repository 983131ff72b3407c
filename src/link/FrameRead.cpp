// Frame reception: the one entry for every frame from the equipment network, on the UDP receive
// thread or the TCP server thread. The client gates and the model block rule run on flags and header
// bytes only; everything that reads or changes link state runs under the link lock.
//
// Received frames are not trusted to be as long as their type promises: a frame shorter than what
// its handler reads (minimumFrameLength) is dropped before any handler sees it, so no handler ever
// reads past the received bytes.
#include "app/LyrLinkSysMgrLog.h"
#include "app/MainComponent.h"
#include "ipc/ProcMsg.h"

namespace lyrlink
{

namespace
{
constexpr const char* kFrameReadName = "MainComponent::frameRead";

/** States in which a LeaveNotify or Disconnect removes the device it names. */
constexpr bool removesPeersOnLeave (uint8_t state) noexcept
{
    return state == STATE_DISCOVERY || state == STATE_IDWAIT || state == STATE_IDSET || state == STATE_IDUSE
        || state == STATE_RUN;
}
} // namespace

void MainComponent::frameRead (const uint8_t* sourceAddress, const juce::MemoryBlock& data)
{
    frameRead (sourceAddress, ByteView (data.getData(), data.getSize()));
}

void MainComponent::frameRead (const uint8_t*, ByteView frame)
{
    // No client has announced itself: nobody would learn of anything the frame changes.
    if (processConnected.load (std::memory_order_acquire) == 0)
        return;

    // Everything below reads header fields.
    if (! frame.holds (kFrameHeaderSize))
        return;

    const auto type = frameType (frame);
    const auto subType = frameSubType (frame);
    const auto body = frameBody (frame);

    if (suspended.load (std::memory_order_acquire) != 0)
    {
        // While suspended the clients only hear which devices announce themselves.
        if (type == FRAME_CONFIG_NOTIFY && body.holds (ConfigNotifyBody::id.end()))
        {
            const juce::ScopedLock lock (m_linkLock);
            notifyMessage (bodyByte<ConfigNotifyBody::id> (body), KIND_CONFIG_SEEN_WHILE_SUSPENDED);
        }
        return;
    }

    // From here on the frame meets link state: the block rule reads linkif, and the handlers take
    // the (re-entrant) lock again themselves.
    const juce::ScopedLock sl (m_linkLock);

    if (m_linkStatus.linkif == LINKIF_WIRELESS && isBlockedModel (frame))
    {
        const auto model = frameModel (frame);
        m_log->write ("%s NG DKP-5100 DKP-410 BLOCK linkif = %d frmHeader->minorver = %d model = %s", kFrameReadName,
                      0, frameMinorVersion (frame), model.text);
        return;
    }

    if (type > kLastFrameType)
        return;

    if (! frame.holds (minimumFrameLength (type, subType)))
        return;

    switch (type)
    {
        case FRAME_DISCOVERY_REQUEST:
            readDiscoveryRequest (body);
            break;

        case FRAME_ID_USE:
            if (subType == 0)
            {
                if (m_linkStatus.state == STATE_RUN && bodyByte<IdRequestBody::id> (body) == m_linkStatus.id)
                    frameSendIdUseResponse (body);
            }
            else if (subType == 2)
            {
                readIdUseRequestFromBlk (body);
            }
            break;

        case FRAME_ID_RESPONSE:
            if (subType == 0)
                readIdUseResponse (body);
            else if (subType == 1)
                readIdSetResponse (body);
            break;

        case FRAME_TIME_SERVER_REQUEST:
            readTimeServerRequest (body);
            break;

        case FRAME_CONFIG_NOTIFY:
            if (subType == 0)
                readConfigNotify (body, frame);
            break;

        case FRAME_LEAVE_NOTIFY:
        case FRAME_DISCONNECT:
        {
            const int id = bodyByte<DisconnectBody::id> (body);  // LeaveNotify: the same byte
            if (isDeviceId (id) && removesPeersOnLeave (m_linkStatus.state))
                deletePeer (id);
            break;
        }

        case FRAME_REJECT:
            readReject();
            break;

        case FRAME_RESET_NOTIFY:
            readResetNotify();
            break;

        default:  // 1, 5 and 10 carry nothing for the manager
            break;
    }
}

} // namespace lyrlink
