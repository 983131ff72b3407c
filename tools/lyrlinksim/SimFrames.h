// Equipment frames as a simulated device writes them, and a description of any received datagram
// for printing. Everything here works on plain bytes: no sockets, no clock.
#pragma once

#include "client/LinkFormat.h"
#include "link/FrameFormat.h"
#include "transport/Ipv4.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lyrlinksim
{

using lyrlink::ByteView;
using lyrlink::Ipv4;
using Bytes = std::vector<uint8_t>;
using MacAddress = std::array<uint8_t, 6>;

/** What one simulated device writes into its frames. */
struct DeviceIdentity
{
    uint8_t id = 1;
    uint8_t type = 1;
    /** Raw bytes of the header's model field: up to 20 are sent, NUL-padded; 20 or more leave no NUL. */
    std::string model;
    uint8_t minor = 3;
    Ipv4 ip = 0;
    MacAddress mac {};
    /** ConfigNotify body byte 17. */
    uint8_t cfg17 = 0;
    /** ConfigNotify body byte 1. */
    uint8_t idClaimed = 1;
};

/** Header of a frame from this device: magic, type, subtype, model, hdrclass 1, minor version and
    the big-endian length; the body bytes are zero. */
Bytes makeFrame (const DeviceIdentity& device, uint8_t type, uint8_t subType, size_t length);

Bytes encodeDiscoveryRequest (const DeviceIdentity& device, uint8_t requestNumber);
Bytes encodeIdUseRequest (const DeviceIdentity& device, uint8_t requestedId, uint8_t requestNumber);
Bytes encodeIdUseResponse (const DeviceIdentity& device, uint8_t id, uint8_t requestNumber, uint8_t status = 1);

/** A ConfigNotify in the device's name; claimedId and type are what body bytes 0 and 16 announce
    (normally the device's own). */
Bytes encodeConfigNotify (const DeviceIdentity& device, uint8_t claimedId, uint8_t type, uint8_t deviceCount);

Bytes encodeLeaveNotify (const DeviceIdentity& device);
Bytes encodeDisconnect (const DeviceIdentity& device);
Bytes encodeTimeServerRequest (const DeviceIdentity& device, uint8_t claimedId);
Bytes encodeIdUseRequestFromBlk (const DeviceIdentity& device, uint8_t wiredMask, uint8_t wirelessMask,
                                 uint8_t requestNumber);
Bytes encodeReject (const DeviceIdentity& device);
Bytes encodeResetNotify (const DeviceIdentity& device);

/** Frame lengths this tool sends where the manager's builders do not fix one: LeaveNotify and
    TimeServerRequest as long as a Disconnect, IdUseRequestFromBlk as long as its layout. */
constexpr size_t kLeaveNotifyLength = lyrlink::kDisconnectLength;
constexpr size_t kTimeServerRequestLength = lyrlink::kDisconnectLength;
constexpr size_t kIdUseRequestFromBlkLength = lyrlink::kFrameHeaderSize + lyrlink::IdUseRequestFromBlkBody::size;
static_assert (kLeaveNotifyLength == 41 && kIdUseRequestFromBlkLength == 68);
constexpr size_t kHeaderOnlyLength = lyrlink::kFrameHeaderSize;

/** The fields of a received IdUseRequest that an answer needs. */
struct IdUseRequestFields
{
    Ipv4 replyTo = 0;
    uint8_t id = 0;
    uint8_t requestNumber = 0;
};

/** The IdUseRequest (type 2, sub 0) in the datagram, if it is one: right magic and long enough
    for every byte the answer uses. */
std::optional<IdUseRequestFields> decodeIdUseRequest (ByteView datagram);

/** One named value of a described frame. Numbers are printed bare in JSON, text quoted. */
struct FrameField
{
    std::string key;
    std::string value;
    bool isNumber = true;
};

/** A received datagram, described for one line of output. Fields that lie past the end of a short
    datagram are left out and the datagram is marked short. */
struct FrameSummary
{
    size_t length = 0;
    bool isFrame = false;   // at least a header with the right magic
    bool isShort = false;   // shorter than what its type carries
    uint8_t type = 0;
    uint8_t subType = 0;
    std::string name;
    std::string model;      // raw bytes up to the first NUL of the 20-byte field
    uint8_t minor = 0;
    std::vector<FrameField> fields;
};

/** The name of a frame type and subtype ("ConfigNotify"; "Type6/3" for one without a name). */
std::string frameTypeName (uint8_t type, uint8_t subType);

FrameSummary describeFrame (ByteView datagram);

/** "02:00:0a:32:00:0b", as the client library writes MAC addresses. */
using lyrlink::client::formatMac;

} // namespace lyrlinksim
