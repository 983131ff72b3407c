// Where every byte of an equipment frame lies: the 36-byte header, the frame types, the body fields
// of each frame (offset, width, and whether the manager's handler reads it), the length of each
// frame the manager sends and the shortest frame each handler can read. The builders, the readers,
// the simulator and the tests' frame builders all take their offsets from here.
//
// Plain constants only, no dependencies: this header is included by code that links none of the
// manager.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lyrlink
{

constexpr char kFrameMagic[10] = { 'Q', 's', 'p', 't', '1', 'W', 'm', 'J', 'O', 'L' };
constexpr size_t kFrameHeaderSize = 36;
constexpr size_t kModelFieldSize = 20;

#pragma pack(push, 1)
struct FrameHeader
{
    char magic[10];
    uint8_t frameType;
    uint8_t frameSubType;
    char model[kModelFieldSize];
    uint8_t hdrclass;
    uint8_t minorver;
    uint8_t length[2]; // big-endian, header included
};
#pragma pack(pop)

static_assert (sizeof (FrameHeader) == kFrameHeaderSize, "FrameHeader is a wire format");
static_assert (offsetof (FrameHeader, frameType) == 10);
static_assert (offsetof (FrameHeader, frameSubType) == 11);
static_assert (offsetof (FrameHeader, model) == 12);
static_assert (offsetof (FrameHeader, hdrclass) == 32);
static_assert (offsetof (FrameHeader, minorver) == 33);
static_assert (offsetof (FrameHeader, length) == 34);

/** Frame types (FrameHeader::frameType). */
enum FrameType : uint8_t
{
    FRAME_DISCOVERY_REQUEST = 0,
    FRAME_ID_USE = 2,      // sub 0 IdUseRequest, 1 IdSetRequest, 2 IdUseRequestFromBlk
    FRAME_ID_RESPONSE = 3, // sub 0 IdUseResponse, 1 IdSetResponse
    FRAME_TIME_SERVER_REQUEST = 4,
    FRAME_CONFIG_NOTIFY = 6,
    FRAME_LEAVE_NOTIFY = 7,
    FRAME_DISCONNECT = 8,
    FRAME_REJECT = 9,
    FRAME_COMPATI_REQUEST = 10,
    FRAME_RESET_NOTIFY = 11
};

constexpr uint8_t kLastFrameType = 11;

//==============================================================================
/** One field of a frame body: offset from the start of the body (frame byte 36), width, and
    whether the manager's handler of that frame reads it. A frame is handled only once it holds
    every field its handler reads (minimumFrameLength), so the readers fetch fields through
    bodyByte and bodyBytes (FrameFormat.h), which refuse, at compile time, a field not marked read. */
struct FrameField
{
    size_t offset;
    size_t size;
    bool read;

    constexpr size_t end() const noexcept { return offset + size; }
};

/** Values of FrameField::read. */
constexpr bool kRead = true;
constexpr bool kNotRead = false;

/** The end of the last field that is read; 0 when none is. */
template <size_t N> constexpr size_t lastReadEnd (const FrameField (&fields)[N]) noexcept
{
    size_t end = 0;
    for (size_t i = 0; i < N; ++i)
        if (fields[i].read && fields[i].end() > end)
            end = fields[i].end();
    return end;
}

/** Fields in ascending order, none overlapping the next, all inside a body of bodySize bytes. */
template <size_t N> constexpr bool isLaidOut (const FrameField (&fields)[N], size_t bodySize) noexcept
{
    for (size_t i = 0; i < N; ++i)
        if (fields[i].size == 0 || fields[i].end() > bodySize || (i > 0 && fields[i - 1].end() > fields[i].offset))
            return false;
    return true;
}

/** DiscoveryRequest (type 0). */
struct DiscoveryRequestBody
{
    static constexpr FrameField requestNumber { 0, 1, kNotRead }; // 1, 2, 3 over one link-up
    static constexpr FrameField type { 1, 1, kRead };             // device type of the sender
    static constexpr FrameField mac { 2, 6, kRead };
    static constexpr FrameField fields[] { requestNumber, type, mac };
    static constexpr size_t size = 8;
    static constexpr size_t readEnd = lastReadEnd (fields);
};

/** IdUseRequest (type 2, sub 0) and IdSetRequest (type 2, sub 1); only an IdUseRequest is read. */
struct IdRequestBody
{
    static constexpr FrameField ip { 0, 4, kRead }; // where the answer goes
    static constexpr FrameField mac { 4, 6, kNotRead };
    static constexpr FrameField id { 10, 1, kRead };            // the id asked for (IdSetRequest: the own id)
    static constexpr FrameField requestNumber { 11, 1, kRead }; // echoed in the answer
    static constexpr FrameField type { 12, 1, kNotRead };
    static constexpr FrameField trailer { 13, 1, kNotRead }; // always 1
    static constexpr FrameField fields[] { ip, mac, id, requestNumber, type, trailer };
    static constexpr size_t size = 14;
    static constexpr size_t readEnd = lastReadEnd (fields);
};

/** IdUseRequestFromBlk (type 2, sub 2): received only; the body is at least this long. */
struct IdUseRequestFromBlkBody
{
    static constexpr FrameField ip { 0, 4, kRead };             // where the answer goes
    static constexpr FrameField wiredMask { 12, 1, kRead };     // bit n: id 17 + n is asked for
    static constexpr FrameField wirelessMask { 15, 1, kRead };  // bit n: id 41 + n is asked for
    static constexpr FrameField requestNumber { 31, 1, kRead }; // echoed in the answer
    static constexpr FrameField fields[] { ip, wiredMask, wirelessMask, requestNumber };
    static constexpr size_t size = 32;
    static constexpr size_t readEnd = lastReadEnd (fields);
};

/** IdUseResponse (type 3, sub 0) and IdSetResponse (type 3, sub 1). */
struct IdResponseBody
{
    static constexpr FrameField id { 0, 1, kRead };
    static constexpr FrameField requestNumber { 1, 1, kNotRead };
    // IdUseResponse 1: the id is in use; IdSetResponse 0: granted, 2: refused.
    static constexpr FrameField statuscode { 2, 1, kRead };
    static constexpr FrameField fields[] { id, requestNumber, statuscode };
    static constexpr size_t size = 3;
    static constexpr size_t readEnd = lastReadEnd (fields);
};

/** TimeServerRequest (type 4): received only. */
struct TimeServerRequestBody
{
    static constexpr FrameField id { 0, 1, kRead }; // the sender's id
    static constexpr FrameField fields[] { id };
    static constexpr size_t size = 1;
    static constexpr size_t readEnd = lastReadEnd (fields);
};

/** ConfigNotify (type 6, sub 0). */
struct ConfigNotifyBody
{
    static constexpr FrameField id { 0, 1, kRead };
    static constexpr FrameField idClaimed { 1, 1, kRead };
    static constexpr FrameField mac { 2, 6, kRead };
    static constexpr FrameField ip { 8, 4, kRead };
    static constexpr FrameField devcount { 12, 1, kNotRead };
    // Bytes 13 to 15 belong to no field: the manager's builder leaves there what the frame before
    // left in the send buffer.
    static constexpr FrameField type { 16, 1, kRead };
    static constexpr FrameField cfg17 { 17, 1, kRead };
    static constexpr FrameField fields[] { id, idClaimed, mac, ip, devcount, type, cfg17 };
    static constexpr size_t size = 18;
    static constexpr size_t readEnd = lastReadEnd (fields);
};

/** LeaveNotify (type 7): received only. */
struct LeaveNotifyBody
{
    static constexpr FrameField id { 0, 1, kRead }; // the device that leaves
    static constexpr FrameField fields[] { id };
    static constexpr size_t size = 1;
    static constexpr size_t readEnd = lastReadEnd (fields);
};

/** Disconnect (type 8). */
struct DisconnectBody
{
    static constexpr FrameField id { 0, 1, kRead }; // the device that leaves
    static constexpr FrameField ip { 1, 4, kNotRead };
    static constexpr FrameField fields[] { id, ip };
    static constexpr size_t size = 5;
    static constexpr size_t readEnd = lastReadEnd (fields);
};

/** CompatiRequest (type 10, sub 0): sent only. */
struct CompatiRequestBody
{
    static constexpr FrameField type { 0, 1, kNotRead };
    static constexpr FrameField fields[] { type };
    static constexpr size_t size = 1;
    static constexpr size_t readEnd = lastReadEnd (fields);
};

// Reject (type 9) and ResetNotify (type 11) carry nothing that is read.

static_assert (isLaidOut (DiscoveryRequestBody::fields, DiscoveryRequestBody::size));
static_assert (isLaidOut (IdRequestBody::fields, IdRequestBody::size));
static_assert (isLaidOut (IdUseRequestFromBlkBody::fields, IdUseRequestFromBlkBody::size));
static_assert (isLaidOut (IdResponseBody::fields, IdResponseBody::size));
static_assert (isLaidOut (TimeServerRequestBody::fields, TimeServerRequestBody::size));
static_assert (isLaidOut (ConfigNotifyBody::fields, ConfigNotifyBody::size));
static_assert (isLaidOut (LeaveNotifyBody::fields, LeaveNotifyBody::size));
static_assert (isLaidOut (DisconnectBody::fields, DisconnectBody::size));
static_assert (isLaidOut (CompatiRequestBody::fields, CompatiRequestBody::size));

// LeaveNotify and Disconnect share one handler, which reads the id of either.
static_assert (LeaveNotifyBody::id.offset == DisconnectBody::id.offset);

//==============================================================================
/** Bytes sent for each frame the manager builds. */
constexpr size_t kDiscoveryRequestLength = kFrameHeaderSize + DiscoveryRequestBody::size;
constexpr size_t kIdUseRequestLength = kFrameHeaderSize + IdRequestBody::size; // and IdSetRequest
constexpr size_t kIdUseResponseLength = kFrameHeaderSize + IdResponseBody::size;
constexpr size_t kConfigNotifyLength = kFrameHeaderSize + ConfigNotifyBody::size;
constexpr size_t kDisconnectLength = kFrameHeaderSize + DisconnectBody::size;
constexpr size_t kCompatiRequestLength = kFrameHeaderSize + CompatiRequestBody::size;

static_assert (kDiscoveryRequestLength == 44 && kIdUseRequestLength == 50 && kIdUseResponseLength == 39 &&
               kConfigNotifyLength == 54 && kDisconnectLength == 41 && kCompatiRequestLength == 37);

/** The shortest frame whose handler reads everything it needs: the header plus the body up to the
    end of the last field read. Frames of types that are dropped need only the header. */
constexpr size_t minimumFrameLength (uint8_t type, uint8_t subType) noexcept
{
    switch (type)
    {
    case FRAME_DISCOVERY_REQUEST:
        return kFrameHeaderSize + DiscoveryRequestBody::readEnd;
    case FRAME_ID_USE:
        return kFrameHeaderSize + (subType == 0   ? IdRequestBody::readEnd
                                   : subType == 2 ? IdUseRequestFromBlkBody::readEnd
                                                  : 0);
    case FRAME_ID_RESPONSE:
        return kFrameHeaderSize + ((subType == 0 || subType == 1) ? IdResponseBody::readEnd : 0);
    case FRAME_TIME_SERVER_REQUEST:
        return kFrameHeaderSize + TimeServerRequestBody::readEnd;
    case FRAME_LEAVE_NOTIFY:
        return kFrameHeaderSize + LeaveNotifyBody::readEnd;
    case FRAME_DISCONNECT:
        return kFrameHeaderSize + DisconnectBody::readEnd;
    case FRAME_CONFIG_NOTIFY:
        return kFrameHeaderSize + (subType == 0 ? ConfigNotifyBody::readEnd : 0);
    default:
        return kFrameHeaderSize;
    }
}

// The minimum of every handled frame written out: the derivation above must arrive at these.
static_assert (minimumFrameLength (FRAME_DISCOVERY_REQUEST, 0) == 44);
static_assert (minimumFrameLength (FRAME_ID_USE, 0) == 48);
static_assert (minimumFrameLength (FRAME_ID_USE, 2) == 68);
static_assert (minimumFrameLength (FRAME_ID_RESPONSE, 0) == 39 && minimumFrameLength (FRAME_ID_RESPONSE, 1) == 39);
static_assert (minimumFrameLength (FRAME_TIME_SERVER_REQUEST, 0) == 37);
static_assert (minimumFrameLength (FRAME_LEAVE_NOTIFY, 0) == 37 && minimumFrameLength (FRAME_DISCONNECT, 0) == 37);
static_assert (minimumFrameLength (FRAME_CONFIG_NOTIFY, 0) == 54);
static_assert (minimumFrameLength (FRAME_REJECT, 0) == 36 && minimumFrameLength (FRAME_RESET_NOTIFY, 0) == 36);

// Every frame the manager sends holds what a manager reading it would read.
static_assert (kDiscoveryRequestLength >= minimumFrameLength (FRAME_DISCOVERY_REQUEST, 0));
static_assert (kIdUseRequestLength >= minimumFrameLength (FRAME_ID_USE, 0));
static_assert (kIdUseResponseLength >= minimumFrameLength (FRAME_ID_RESPONSE, 0));
static_assert (kConfigNotifyLength >= minimumFrameLength (FRAME_CONFIG_NOTIFY, 0));
static_assert (kDisconnectLength >= minimumFrameLength (FRAME_DISCONNECT, 0));

} // namespace lyrlink
