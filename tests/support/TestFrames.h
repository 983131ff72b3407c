// Equipment frames as the tests' devices send them, laid out by link/FrameLayout.h. Header-only
// and free of JUCE and of MainComponent, so that the unit tests, the end-to-end tests (which link
// only the client library) and the benchmarks share one builder.
//
// What the manager itself sends is checked elsewhere against bytes written out by hand, so these
// builders and the manager's never vouch for each other alone.
#pragma once

#include "link/FrameFormat.h"
#include "transport/Ipv4.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace lyrlink::test
{

/** Builds equipment frames for tests. */
struct FrameBuilder
{
    /** The header (magic, type, subtype, model NUL-padded and cut to 20 bytes, hdrclass, minorver,
        big-endian length) followed by length - 36 zero bytes. */
    static std::vector<uint8_t> header (uint8_t type, uint8_t subType, size_t length,
                                        const std::string& model = "DKP-3000", uint8_t minorver = 3,
                                        uint8_t hdrclass = 1)
    {
        std::vector<uint8_t> f (std::max (length, kFrameHeaderSize), 0);
        std::memcpy (f.data(), kFrameMagic, sizeof (kFrameMagic));
        f[offsetof (FrameHeader, frameType)] = type;
        f[offsetof (FrameHeader, frameSubType)] = subType;
        std::memcpy (f.data() + offsetof (FrameHeader, model), model.data(), std::min (model.size(), kModelFieldSize));
        f[offsetof (FrameHeader, hdrclass)] = hdrclass;
        f[offsetof (FrameHeader, minorver)] = minorver;
        f[offsetof (FrameHeader, length)] = static_cast<uint8_t> (length >> 8);
        f[offsetof (FrameHeader, length) + 1] = static_cast<uint8_t> (length);
        return f;
    }

    /** A ConfigNotify: idClaimed 1, device count 1, cfg17 8. */
    static std::vector<uint8_t> configNotify (uint8_t id, uint8_t type, Ipv4 ip, std::array<uint8_t, 6> mac,
                                              const std::string& model = "DKP-3000", uint8_t minorver = 3)
    {
        auto f = header (FRAME_CONFIG_NOTIFY, 0, kConfigNotifyLength, model, minorver);
        auto* body = bodyOf (f);
        putBodyByte<ConfigNotifyBody::id> (body, id);
        putBodyByte<ConfigNotifyBody::idClaimed> (body, 1);
        putBodyBytes<ConfigNotifyBody::mac> (body, mac);
        putIpv4<ConfigNotifyBody::ip> (body, ip);
        putBodyByte<ConfigNotifyBody::devcount> (body, 1);
        putBodyByte<ConfigNotifyBody::type> (body, type);
        putBodyByte<ConfigNotifyBody::cfg17> (body, 8);
        return f;
    }

    /** A DiscoveryRequest with request number 1. */
    static std::vector<uint8_t> discoveryRequest (uint8_t type, std::array<uint8_t, 6> mac)
    {
        auto f = header (FRAME_DISCOVERY_REQUEST, 0, kDiscoveryRequestLength);
        auto* body = bodyOf (f);
        putBodyByte<DiscoveryRequestBody::requestNumber> (body, 1);
        putBodyByte<DiscoveryRequestBody::type> (body, type);
        putBodyBytes<DiscoveryRequestBody::mac> (body, mac);
        return f;
    }

    /** An IdUseRequest from a player (device type 1) with no MAC. */
    static std::vector<uint8_t> idUseRequest (uint8_t id, uint8_t requestNumber, Ipv4 replyTo)
    {
        auto f = header (FRAME_ID_USE, 0, kIdUseRequestLength);
        auto* body = bodyOf (f);
        putIpv4<IdRequestBody::ip> (body, replyTo);
        putBodyByte<IdRequestBody::id> (body, id);
        putBodyByte<IdRequestBody::requestNumber> (body, requestNumber);
        putBodyByte<IdRequestBody::type> (body, 1);
        putBodyByte<IdRequestBody::trailer> (body, 1);
        return f;
    }

    /** An IdUseResponse (or, with subType 1, an IdSetResponse) with request number 1. */
    static std::vector<uint8_t> idUseResponse (uint8_t id, uint8_t status, uint8_t subType = 0)
    {
        auto f = header (FRAME_ID_RESPONSE, subType, kIdUseResponseLength);
        auto* body = bodyOf (f);
        putBodyByte<IdResponseBody::id> (body, id);
        putBodyByte<IdResponseBody::requestNumber> (body, 1);
        putBodyByte<IdResponseBody::statuscode> (body, status);
        return f;
    }

    /** An IdUseRequestFromBlk of its shortest length; echo is the request number. */
    static std::vector<uint8_t> idUseRequestFromBlk (Ipv4 replyTo, uint8_t wiredMask, uint8_t wirelessMask,
                                                     uint8_t echo)
    {
        auto f = header (FRAME_ID_USE, 2, kFrameHeaderSize + IdUseRequestFromBlkBody::size);
        auto* body = bodyOf (f);
        putIpv4<IdUseRequestFromBlkBody::ip> (body, replyTo);
        putBodyByte<IdUseRequestFromBlkBody::wiredMask> (body, wiredMask);
        putBodyByte<IdUseRequestFromBlkBody::wirelessMask> (body, wirelessMask);
        putBodyByte<IdUseRequestFromBlkBody::requestNumber> (body, echo);
        return f;
    }

    /** A frame of type with a body of bodySize bytes, body byte 0 = firstBodyByte. */
    static std::vector<uint8_t> simple (uint8_t type, uint8_t subType, size_t bodySize, uint8_t firstBodyByte = 0)
    {
        auto f = header (type, subType, kFrameHeaderSize + bodySize);
        if (bodySize > 0)
            f[kFrameHeaderSize] = firstBodyByte;
        return f;
    }

    static uint8_t* bodyOf (std::vector<uint8_t>& frame) { return frame.data() + kFrameHeaderSize; }

    template <const FrameField& field> static void putIpv4 (uint8_t* body, Ipv4 address)
    {
        static_assert (field.size == 4, "an IPv4 address field");
        ipv4ToOctets (address, body + field.offset);
    }
};

} // namespace lyrlink::test
