#include "lyrlinksim/SimFrames.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace lyrlinksim
{

using namespace lyrlink;

namespace
{

constexpr size_t kBody = kFrameHeaderSize;

void putIp (Bytes& f, size_t offset, Ipv4 ip) { ipv4ToOctets (ip, f.data() + offset); }

void putMac (Bytes& f, size_t offset, const MacAddress& mac) { std::memcpy (f.data() + offset, mac.data(), mac.size()); }

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

    void byte (const char* key, size_t offset)
    {
        if (m_body.holds (offset + 1))
            m_summary.fields.push_back ({ key, toNumber (m_body[offset]), true });
    }

    void hexByte (const char* key, size_t offset)
    {
        if (m_body.holds (offset + 1))
            m_summary.fields.push_back ({ key, toHexByte (m_body[offset]), false });
    }

    void ip (const char* key, size_t offset)
    {
        if (m_body.holds (offset + 4))
            m_summary.fields.push_back ({ key, formatIpv4 (ipv4FromOctets (m_body.data() + offset)), false });
    }

    void mac (const char* key, size_t offset)
    {
        if (m_body.holds (offset + 6))
            m_summary.fields.push_back ({ key, formatMac (m_body.data() + offset), false });
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
            w.byte ("req", 0);
            w.byte ("devtype", 1);
            w.mac ("mac", 2);
            break;
        case FRAME_ID_USE:
            if (s.subType == 2)
            {
                w.ip ("ip", 0);
                w.hexByte ("wired", 12);
                w.hexByte ("wireless", 15);
                w.byte ("req", 31);
            }
            else
            {
                w.ip ("ip", 0);
                w.mac ("mac", 4);
                w.byte ("id", 10);
                w.byte ("req", 11);
                w.byte ("devtype", 12);
            }
            break;
        case FRAME_ID_RESPONSE:
            w.byte ("id", 0);
            w.byte ("req", 1);
            w.byte ("status", 2);
            break;
        case FRAME_TIME_SERVER_REQUEST:
            w.byte ("id", 0);
            break;
        case FRAME_CONFIG_NOTIFY:
            w.byte ("id", 0);
            w.byte ("claimed", 1);
            w.mac ("mac", 2);
            w.ip ("ip", 8);
            w.byte ("devcount", 12);
            w.byte ("devtype", 16);
            w.byte ("cfg17", 17);
            break;
        case FRAME_LEAVE_NOTIFY:
        case FRAME_DISCONNECT:
            w.byte ("id", 0);
            w.ip ("ip", 1);
            break;
        case FRAME_COMPATI_REQUEST:
            w.byte ("devtype", 0);
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
    f[10] = type;
    f[11] = subType;
    std::memcpy (f.data() + 12, device.model.data(), std::min (device.model.size(), kModelFieldSize));
    f[32] = kOwnHdrClass;
    f[33] = device.minor;
    f[34] = static_cast<uint8_t> (f.size() >> 8);
    f[35] = static_cast<uint8_t> (f.size() & 0xff);
    return f;
}

Bytes encodeDiscoveryRequest (const DeviceIdentity& device, uint8_t requestNumber)
{
    auto f = makeFrame (device, FRAME_DISCOVERY_REQUEST, 0, kDiscoveryRequestLength);
    f[kBody + 0] = requestNumber;
    f[kBody + 1] = device.type;
    putMac (f, kBody + 2, device.mac);
    return f;
}

Bytes encodeIdUseRequest (const DeviceIdentity& device, uint8_t requestedId, uint8_t requestNumber)
{
    auto f = makeFrame (device, FRAME_ID_USE, 0, kIdUseRequestLength);
    putIp (f, kBody + 0, device.ip);
    putMac (f, kBody + 4, device.mac);
    f[kBody + 10] = requestedId;
    f[kBody + 11] = requestNumber;
    f[kBody + 12] = device.type;
    f[kBody + 13] = 1;
    return f;
}

Bytes encodeIdUseResponse (const DeviceIdentity& device, uint8_t id, uint8_t requestNumber, uint8_t status)
{
    auto f = makeFrame (device, FRAME_ID_RESPONSE, 0, kIdUseResponseLength);
    f[kBody + 0] = id;
    f[kBody + 1] = requestNumber;
    f[kBody + 2] = status;
    return f;
}

Bytes encodeConfigNotify (const DeviceIdentity& device, uint8_t claimedId, uint8_t type, uint8_t deviceCount)
{
    auto f = makeFrame (device, FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength);
    f[kBody + 0] = claimedId;
    f[kBody + 1] = device.idClaimed;
    putMac (f, kBody + 2, device.mac);
    putIp (f, kBody + 8, device.ip);
    f[kBody + 12] = deviceCount;
    f[kBody + 16] = type;
    f[kBody + 17] = device.cfg17;
    return f;
}

Bytes encodeLeaveNotify (const DeviceIdentity& device)
{
    auto f = makeFrame (device, FRAME_LEAVE_NOTIFY, 0, kLeaveNotifyLength);
    f[kBody + 0] = device.id;
    putIp (f, kBody + 1, device.ip);
    return f;
}

Bytes encodeDisconnect (const DeviceIdentity& device)
{
    auto f = makeFrame (device, FRAME_DISCONNECT, 0, kDisconnectLength);
    f[kBody + 0] = device.id;
    putIp (f, kBody + 1, device.ip);
    return f;
}

Bytes encodeTimeServerRequest (const DeviceIdentity& device, uint8_t claimedId)
{
    auto f = makeFrame (device, FRAME_TIME_SERVER_REQUEST, 0, kTimeServerRequestLength);
    f[kBody + 0] = claimedId;
    putIp (f, kBody + 1, device.ip);
    return f;
}

Bytes encodeIdUseRequestFromBlk (const DeviceIdentity& device, uint8_t wiredMask, uint8_t wirelessMask,
                                 uint8_t requestNumber)
{
    auto f = makeFrame (device, FRAME_ID_USE, 2, kIdUseRequestFromBlkLength);
    putIp (f, kBody + 0, device.ip);
    putMac (f, kBody + 4, device.mac);
    f[kBody + 10] = device.id;
    f[kBody + 12] = wiredMask;
    f[kBody + 15] = wirelessMask;
    f[kBody + 31] = requestNumber;
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
    r.replyTo = ipv4FromOctets (body.data());
    r.id = body[10];
    r.requestNumber = body[11];
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
    for (size_t i = 0; i < kModelFieldSize && datagram[12 + i] != 0; ++i)
        s.model.push_back (static_cast<char> (datagram[12 + i]));
    s.isShort = ! datagram.holds (minimumFrameLength (s.type, s.subType));
    describeBody (s, frameBody (datagram));
    return s;
}

} // namespace lyrlinksim
