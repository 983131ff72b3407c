// The equipment frame: a 36-byte header and a body at fixed offsets. Received frames are read
// through FrameView, whose accessors never read past the received bytes; handlers are only called
// once frameRead has checked that the frame holds everything that handler reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lyrlink
{

constexpr char kFrameMagic[10] = { 'Q', 's', 'p', 't', '1', 'W', 'm', 'J', 'O', 'L' };
constexpr size_t kFrameHeaderSize = 36;
constexpr size_t kMaxDatagramSize = 1472;
constexpr size_t kModelFieldSize = 20;
constexpr const char* kOwnModelName = "velantrix";
constexpr uint8_t kOwnDeviceType = 4;
constexpr uint8_t kOwnHdrClass = 1;
constexpr uint8_t kOwnMinorVersion = 3;
constexpr uint16_t kEquipmentPort = 50000;

#pragma pack(push, 1)
struct FrameHeader
{
    char magic[10];
    uint8_t frameType;
    uint8_t frameSubType;
    char model[kModelFieldSize];
    uint8_t hdrclass;
    uint8_t minorver;
    uint8_t length[2];  // big-endian, header included
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
    FRAME_ID_USE = 2,          // sub 0 IdUseRequest, 1 IdSetRequest, 2 IdUseRequestFromBlk
    FRAME_ID_RESPONSE = 3,     // sub 0 IdUseResponse, 1 IdSetResponse
    FRAME_TIME_SERVER_REQUEST = 4,
    FRAME_CONFIG_NOTIFY = 6,
    FRAME_LEAVE_NOTIFY = 7,
    FRAME_DISCONNECT = 8,
    FRAME_REJECT = 9,
    FRAME_COMPATI_REQUEST = 10,
    FRAME_RESET_NOTIFY = 11
};

constexpr uint8_t kLastFrameType = 11;

/** Bytes sent for each frame the manager builds. */
constexpr size_t kDiscoveryRequestLength = 44;
constexpr size_t kIdUseRequestLength = 50;
constexpr size_t kIdUseResponseLength = 39;
constexpr size_t kConfigNotifyLength = 54;
constexpr size_t kDisconnectLength = 41;
constexpr size_t kCompatiRequestLength = 37;

/** The shortest frame whose handler reads everything it needs: header plus the body bytes read.
    Frames of types that are dropped need only the header. */
constexpr size_t minimumFrameLength (uint8_t type, uint8_t subType) noexcept
{
    switch (type)
    {
        case FRAME_DISCOVERY_REQUEST: return 44;
        case FRAME_ID_USE:
            return subType == 0 ? 48 : subType == 2 ? 68 : kFrameHeaderSize;
        case FRAME_ID_RESPONSE: return (subType == 0 || subType == 1) ? 39 : kFrameHeaderSize;
        case FRAME_TIME_SERVER_REQUEST:
        case FRAME_LEAVE_NOTIFY:
        case FRAME_DISCONNECT: return 37;
        case FRAME_CONFIG_NOTIFY: return subType == 0 ? 54 : kFrameHeaderSize;
        default: return kFrameHeaderSize;
    }
}

/** A read-only view of received bytes, valid only during the call that delivered them. */
class ByteView
{
public:
    ByteView() noexcept = default;
    ByteView (const void* data, size_t size) noexcept : m_data (static_cast<const uint8_t*> (data)), m_size (size) {}

    size_t size() const noexcept { return m_size; }
    const uint8_t* data() const noexcept { return m_data; }
    bool holds (size_t count) const noexcept { return m_size >= count; }

    /** The byte at index, or 0 past the end: callers check holds() first, this is the safety net. */
    uint8_t operator[] (size_t index) const noexcept { return index < m_size ? m_data[index] : 0; }

    /** The view from offset on (empty past the end). */
    ByteView from (size_t offset) const noexcept
    {
        return offset < m_size ? ByteView (m_data + offset, m_size - offset) : ByteView();
    }

    /** Copies count bytes from offset into out; the bytes past the end read as zero. */
    void copyTo (size_t offset, void* out, size_t count) const noexcept
    {
        auto* o = static_cast<uint8_t*> (out);
        for (size_t i = 0; i < count; ++i)
            o[i] = (*this)[offset + i];
    }

private:
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

/** Header fields of a received frame. */
inline uint8_t frameType (ByteView f) noexcept { return f[10]; }
inline uint8_t frameSubType (ByteView f) noexcept { return f[11]; }
inline uint8_t frameHdrClass (ByteView f) noexcept { return f[32]; }
inline uint8_t frameMinorVersion (ByteView f) noexcept { return f[33]; }
inline ByteView frameBody (ByteView f) noexcept { return f.from (kFrameHeaderSize); }

/** The model field as text of at most 20 bytes, NUL-terminated even when the field holds no NUL. */
struct ModelName
{
    char text[kModelFieldSize + 1] {};
};

inline ModelName frameModel (ByteView f) noexcept
{
    ModelName m;
    for (size_t i = 0; i < kModelFieldSize; ++i)
    {
        const auto c = static_cast<char> (f[12 + i]);
        if (c == 0)
            break;
        m.text[i] = c;
    }
    return m;
}

/** The models whose minor version 0 is blocked on a wireless link. */
inline bool isBlockedModel (ByteView f) noexcept
{
    const auto m = frameModel (f);
    return frameMinorVersion (f) == 0 && (std::strcmp (m.text, "DKP-5100") == 0 || std::strcmp (m.text, "DKP-410") == 0);
}

/** The shared send buffer: the header template is written by the link reset, builders write only
    type, subtype, length and their body bytes. */
using SendBuffer = std::array<uint8_t, kMaxDatagramSize>;

/** Clears the buffer and writes magic, model "velantrix", hdrclass 1 and minorver 3. */
void writeHeaderTemplate (SendBuffer& buffer) noexcept;

} // namespace lyrlink
