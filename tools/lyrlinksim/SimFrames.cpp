#include "lyrlinksim/SimFrames.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace lyrlinksim
{

using namespace lyrlink;

namespace
{

/** A field of the frame layout (not to be confused with a FrameField of a summary). */
using BodyField = lyrlink::FrameField;

uint8_t* bodyOf (Bytes& f) { return f.data() + kFrameHeaderSize; }

void putIp (Bytes& f, const BodyField& field, Ipv4 ip) { ipv4ToOctets (ip, bodyOf (f) + field.offset); }

void putMac (Bytes& f, const BodyField& field, const MacAddress& mac)
{
    std::memcpy (bodyOf (f) + field.offset, mac.data(), mac.size());
}

void putByte (Bytes& f, const BodyField& field, uint8_t value) { bodyOf (f)[field.offset] = value; }

std::string toNumber (unsigned v) { return std::to_string (v); }

std::string toHexByte (unsigned v)
{
    char text[8];
    std::snprintf (text, sizeof (text), "0x%02x", v & 0xffu);
    return text;
}

/** Adds fields to a summary, leaving out those that lie past the end of the datagram. */
class FieldWriter
{
public:
    FieldWriter (FrameSummary& s, ByteView body) : m_summary (s), m_body (body) {}

    void byte (const char* key, const BodyField& field)
    {
        if (m_body.holds (field.end()))
            m_summary.fields.push_back ({ key, toNumber (m_body[field.offset]), true });
    }

    void hexByte (const char* key, const BodyField& field)
    {
        if (m_body.holds (field.end()))
            m_summary.fields.push_back ({ key, toHexByte (m_body[field.offset]), false });
    }

    void ip (const char* key, const BodyField& field)
    {
        if (m_body.holds (field.end()))
            m_summary.fields.push_back ({ key, formatIpv4 (ipv4FromOctets (m_body.data() + field.offset)), false });
    }

    void mac (const char* key, const BodyField& field)
    {
        if (m_body.holds (field.end()))
            m_summary.fields.push_back ({ key, formatMac (m_body.data() + field.offset), false });
    }

private:
    FrameSummary& m_summary;
    ByteView m_body;
};

void describeBody (FrameSummary& s, ByteView body)
{
    FieldWriter w (s, body);
    switch (s.type)
    {
        case FRAME_DISCOVERY_REQUEST:
            w.byte ("req", DiscoveryRequestBody::requestNumber);
            w.byte ("devtype", DiscoveryRequestBody::type);
            w.mac ("mac", DiscoveryRequestBody::mac);
            break;
        case FRAME_ID_USE:
            if (s.subType == 2)
            {
                w.ip ("ip", IdUseRequestFromBlkBody::ip);
                w.hexByte ("wired", IdUseRequestFromBlkBody::wiredMask);
                w.hexByte ("wireless", IdUseRequestFromBlkBody::wirelessMask);
                w.byte ("req", IdUseRequestFromBlkBody::requestNumber);
            }
            else
            {
                w.ip ("ip", IdRequestBody::ip);
                w.mac ("mac", IdRequestBody::mac);
                w.byte ("id", IdRequestBody::id);
                w.byte ("req", IdRequestBody::requestNumber);
                w.byte ("devtype", IdRequestBody::type);
            }
            break;
        case FRAME_ID_RESPONSE:
            w.byte ("id", IdResponseBody::id);
            w.byte ("req", IdResponseBody::requestNumber);
            w.byte ("status", IdResponseBody::statuscode);
            break;
        case FRAME_TIME_SERVER_REQUEST:
            w.byte ("id", TimeServerRequestBody::id);
            break;
        case FRAME_CONFIG_NOTIFY:
            w.byte ("id", ConfigNotifyBody::id);
            w.byte ("claimed", ConfigNotifyBody::idClaimed);
            w.mac ("mac", ConfigNotifyBody::mac);
            w.ip ("ip", ConfigNotifyBody::ip);
            w.byte ("devcount", ConfigNotifyBody::devcount);
            w.byte ("devtype", ConfigNotifyBody::type);
            w.byte ("cfg17", ConfigNotifyBody::cfg17);
            break;
        case FRAME_LEAVE_NOTIFY:
        case FRAME_DISCONNECT:
            // Equipment sends a LeaveNotify in the layout of a Disconnect.
            w.byte ("id", DisconnectBody::id);
            w.ip ("ip", DisconnectBody::ip);
            break;
        case FRAME_COMPATI_REQUEST:
            w.byte ("devtype", CompatiRequestBody::type);
            break;
        default:
            break;
    }
}

} // namespace

Bytes makeFrame (const DeviceIdentity& device, uint8_t type, uint8_t subType, size_t length)
{
    Bytes f (length < kFrameHeaderSize ? kFrameHeaderSize : length, 0);
    std::memcpy (f.data(), kFrameMagic, sizeof (kFrameMagic));
    f[offsetof (FrameHeader, frameType)] = type;
    f[offsetof (FrameHeader, frameSubType)] = subType;
    std::memcpy (f.data() + offsetof (FrameHeader, model), device.model.data(),
                 std::min (device.model.size(), kModelFieldSize));
    f[offsetof (FrameHeader, hdrclass)] = kOwnHdrClass;
    f[offsetof (FrameHeader, minorver)] = device.minor;
    f[offsetof (FrameHeader, length)] = static_cast<uint8_t> (f.size() >> 8);
    f[offsetof (FrameHeader, length) + 1] = static_cast<uint8_t> (f.size() & 0xff);
    return f;
}

Bytes encodeDiscoveryRequest (const DeviceIdentity& device, uint8_t requestNumber)
{
    auto f = makeFrame (device, FRAME_DISCOVERY_REQUEST, 0, kDiscoveryRequestLength);
    putByte (f, DiscoveryRequestBody::requestNumber, requestNumber);
    putByte (f, DiscoveryRequestBody::type, device.type);
    putMac (f, DiscoveryRequestBody::mac, device.mac);
    return f;
}

Bytes encodeIdUseRequest (const DeviceIdentity& device, uint8_t requestedId, uint8_t requestNumber)
{
    auto f = makeFrame (device, FRAME_ID_USE, 0, kIdUseRequestLength);
    putIp (f, IdRequestBody::ip, device.ip);
    putMac (f, IdRequestBody::mac, device.mac);
    putByte (f, IdRequestBody::id, requestedId);
    putByte (f, IdRequestBody::requestNumber, requestNumber);
    putByte (f, IdRequestBody::type, device.type);
    putByte (f, IdRequestBody::trailer, 1);
    return f;
}

Bytes encodeIdUseResponse (const DeviceIdentity& device, uint8_t id, uint8_t requestNumber, uint8_t status)
{
    auto f = makeFrame (device, FRAME_ID_RESPONSE, 0, kIdUseResponseLength);
    putByte (f, IdResponseBody::id, id);
    putByte (f, IdResponseBody::requestNumber, requestNumber);
    putByte (f, IdResponseBody::statuscode, status);
    return f;
}

Bytes encodeConfigNotify (const DeviceIdentity& device, uint8_t claimedId, uint8_t type, uint8_t deviceCount)
{
    auto f = makeFrame (device, FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength);
    putByte (f, ConfigNotifyBody::id, claimedId);
    putByte (f, ConfigNotifyBody::idClaimed, device.idClaimed);
    putMac (f, ConfigNotifyBody::mac, device.mac);
    putIp (f, ConfigNotifyBody::ip, device.ip);
    putByte (f, ConfigNotifyBody::devcount, deviceCount);
    putByte (f, ConfigNotifyBody::type, type);
    putByte (f, ConfigNotifyBody::cfg17, device.cfg17);
    return f;
}

Bytes encodeLeaveNotify (const DeviceIdentity& device)
{
    // As a Disconnect: the id, then the address.
    auto f = makeFrame (device, FRAME_LEAVE_NOTIFY, 0, kLeaveNotifyLength);
    putByte (f, LeaveNotifyBody::id, device.id);
    putIp (f, DisconnectBody::ip, device.ip);
    return f;
}

Bytes encodeDisconnect (const DeviceIdentity& device)
{
    auto f = makeFrame (device, FRAME_DISCONNECT, 0, kDisconnectLength);
    putByte (f, DisconnectBody::id, device.id);
    putIp (f, DisconnectBody::ip, device.ip);
    return f;
}

Bytes encodeTimeServerRequest (const DeviceIdentity& device, uint8_t claimedId)
{
    // The id, then the address, as in a Disconnect.
    auto f = makeFrame (device, FRAME_TIME_SERVER_REQUEST, 0, kTimeServerRequestLength);
    putByte (f, TimeServerRequestBody::id, claimedId);
    putIp (f, DisconnectBody::ip, device.ip);
    return f;
}

Bytes encodeIdUseRequestFromBlk (const DeviceIdentity& device, uint8_t wiredMask, uint8_t wirelessMask,
                                 uint8_t requestNumber)
{
    // The body opens as an IdUseRequest's: address, MAC and the sender's own id.
    auto f = makeFrame (device, FRAME_ID_USE, 2, kIdUseRequestFromBlkLength);
    putIp (f, IdUseRequestFromBlkBody::ip, device.ip);
    putMac (f, IdRequestBody::mac, device.mac);
    putByte (f, IdRequestBody::id, device.id);
    putByte (f, IdUseRequestFromBlkBody::wiredMask, wiredMask);
    putByte (f, IdUseRequestFromBlkBody::wirelessMask, wirelessMask);
    putByte (f, IdUseRequestFromBlkBody::requestNumber, requestNumber);
    return f;
}

Bytes encodeReject (const DeviceIdentity& device) { return makeFrame (device, FRAME_REJECT, 0, kHeaderOnlyLength); }

Bytes encodeResetNotify (const DeviceIdentity& device)
{
    return makeFrame (device, FRAME_RESET_NOTIFY, 0, kHeaderOnlyLength);
}

std::optional<IdUseRequestFields> decodeIdUseRequest (ByteView datagram)
{
    if (! datagram.holds (minimumFrameLength (FRAME_ID_USE, 0))
        || std::memcmp (datagram.data(), kFrameMagic, sizeof (kFrameMagic)) != 0
        || frameType (datagram) != FRAME_ID_USE || frameSubType (datagram) != 0)
        return std::nullopt;

    const auto body = frameBody (datagram);
    IdUseRequestFields r;
    r.replyTo = ipv4FromOctets (bodyBytes<IdRequestBody::ip> (body));
    r.id = bodyByte<IdRequestBody::id> (body);
    r.requestNumber = bodyByte<IdRequestBody::requestNumber> (body);
    return r;
}

std::string frameTypeName (uint8_t type, uint8_t subType)
{
    switch (type)
    {
        case FRAME_DISCOVERY_REQUEST: return "DiscoveryRequest";
        case FRAME_ID_USE:
            if (subType == 0) return "IdUseRequest";
            if (subType == 1) return "IdSetRequest";
            if (subType == 2) return "IdUseRequestFromBlk";
            break;
        case FRAME_ID_RESPONSE:
            if (subType == 0) return "IdUseResponse";
            if (subType == 1) return "IdSetResponse";
            break;
        case FRAME_TIME_SERVER_REQUEST: return "TimeServerRequest";
        case FRAME_CONFIG_NOTIFY:
            if (subType == 0) return "ConfigNotify";
            break;
        case FRAME_LEAVE_NOTIFY: return "LeaveNotify";
        case FRAME_DISCONNECT: return "Disconnect";
        case FRAME_REJECT: return "Reject";
        case FRAME_COMPATI_REQUEST:
            if (subType == 0) return "CompatiRequest";
            break;
        case FRAME_RESET_NOTIFY: return "ResetNotify";
        default: break;
    }
    return "Type" + std::to_string (type) + "/" + std::to_string (subType);
}

FrameSummary describeFrame (ByteView datagram)
{
    FrameSummary s;
    s.length = datagram.size();
    if (! datagram.holds (kFrameHeaderSize) || std::memcmp (datagram.data(), kFrameMagic, sizeof (kFrameMagic)) != 0)
    {
        s.name = "NotAFrame";
        return s;
    }

    s.isFrame = true;
    s.type = frameType (datagram);
    s.subType = frameSubType (datagram);
    s.name = frameTypeName (s.type, s.subType);
    s.minor = frameMinorVersion (datagram);
    constexpr size_t model = offsetof (FrameHeader, model);
    for (size_t i = 0; i < kModelFieldSize && datagram[model + i] != 0; ++i)
        s.model.push_back (static_cast<char> (datagram[model + i]));
    s.isShort = ! datagram.holds (minimumFrameLength (s.type, s.subType));
    describeBody (s, frameBody (datagram));
    return s;
}

} // namespace lyrlinksim
