// The pipe message record and its framing: an 8-byte header (magic and length, little-endian)
// followed by one ProcMsg. Encoding and decoding work on plain bytes. Header-only and free of JUCE,
// so the client library shares the very same definitions with the manager.
#pragma once

#include "link/LinkRecords.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

namespace lyrlink
{

constexpr uint32_t PIPE_MAGIC = 0xF2B49E2Cu;
constexpr size_t kPipeHeaderSize = 8;
constexpr uint32_t kPipeMaxLength = 0x9FFFFFu;
constexpr size_t kPipeReadPiece = 0x10000;
constexpr int kPipeConnectWaitMs = 2000;
constexpr int kPipeWriteTimeoutMs = 2000;
constexpr const char* kPipeBaseName = "LyrLinkSysMgrPIPE";

/** The pipe name of a client process: "LyrLinkSysMgrPIPE" and the process id as "%d" formats it. */
inline std::string clientPipeName (uint32_t pid)
{
    return std::string (kPipeBaseName) + std::to_string (static_cast<int32_t> (pid));
}

/** Request and notification kinds. */
enum ProcMsgKind : int32_t
{
    KIND_PROCESS_CONNECT = 1,
    KIND_PROCESS_DISCONNECT = 2,
    KIND_GET_LINK_STATUS = 3,
    KIND_GET_DEVICE = 4,
    KIND_GET_DEVICE_LIST = 5,
    KIND_LINK_PERMIT = 51,
    KIND_SUSPEND = 90,
    KIND_RESUME = 91,

    KIND_LINK_STATUS_CHANGED = 3,
    KIND_DEVICE_CHANGED = 4,
    KIND_LINK_REJECTED = 21,
    KIND_AP_DEVICE_LINK_UP = 75,
    KIND_CONFIG_SEEN_WHILE_SUSPENDED = 92
};

#pragma pack(push, 1)
/** The one message record (1296 bytes, integers little-endian). */
struct ProcMsg
{
    int32_t kind;
    uint32_t pid;
    int32_t id;
    uint32_t result;
    uint8_t data[1280];
};
#pragma pack(pop)

static_assert (sizeof (ProcMsg) == 1296, "ProcMsg is a wire format");
static_assert (offsetof (ProcMsg, data) == 16);

/** Little-endian field access on raw bytes (the record's layout on every platform). */
inline uint32_t readLe32 (const uint8_t* p) noexcept
{
    return static_cast<uint32_t> (p[0]) | (static_cast<uint32_t> (p[1]) << 8) | (static_cast<uint32_t> (p[2]) << 16)
         | (static_cast<uint32_t> (p[3]) << 24);
}

inline void writeLe32 (uint8_t* p, uint32_t v) noexcept
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t> (v >> (8 * i));
}

/** The four header fields of a record. */
struct RequestFields
{
    int32_t kind = 0;
    uint32_t pid = 0;
    int32_t id = 0;
    uint32_t result = 0;
};

/** The header fields of a received request; bytes missing from a short request read as zero. */
inline RequestFields decodeRequest (const void* payload, size_t size) noexcept
{
    uint8_t head[16] {};
    if (payload != nullptr)
        std::memcpy (head, payload, size < sizeof (head) ? size : sizeof (head));
    RequestFields f;
    f.kind = static_cast<int32_t> (readLe32 (head));
    f.pid = readLe32 (head + 4);
    f.id = static_cast<int32_t> (readLe32 (head + 8));
    f.result = readLe32 (head + 12);
    return f;
}

/** A zeroed record with kind, pid, id and result set. */
inline ProcMsg makeProcMsg (int32_t kind, uint32_t pid, int32_t id, uint32_t result) noexcept
{
    ProcMsg m;
    std::memset (&m, 0, sizeof (m));
    auto* raw = reinterpret_cast<uint8_t*> (&m);
    writeLe32 (raw, static_cast<uint32_t> (kind));
    writeLe32 (raw + 4, pid);
    writeLe32 (raw + 8, static_cast<uint32_t> (id));
    writeLe32 (raw + 12, result);
    return m;
}

/** The four header fields of any record (requests, replies and notifications alike). */
inline RequestFields decodeProcMsg (const ProcMsg& msg) noexcept { return decodeRequest (&msg, sizeof (msg)); }

/** The record carried in a message's data (a LinkStatus, a DeviceEntry or the whole PeerTable),
    copied out since the data field has no alignment of its own. */
template <typename Record>
inline Record recordOf (const ProcMsg& msg) noexcept
{
    static_assert (std::is_trivially_copyable_v<Record> && sizeof (Record) <= sizeof (ProcMsg::data));
    Record record;
    std::memcpy (&record, msg.data, sizeof (record));
    return record;
}

/** Sets the pid field of a record (notifications carry the pid of each receiving client). */
inline void setProcMsgPid (ProcMsg& msg, uint32_t pid) noexcept { writeLe32 (reinterpret_cast<uint8_t*> (&msg) + 4, pid); }

/** Writes the 8-byte frame header for a payload of the given length. */
inline void encodePipeHeader (uint8_t* header, uint32_t length) noexcept
{
    writeLe32 (header, PIPE_MAGIC);
    writeLe32 (header + 4, length);
}

/** Header and record in one buffer, ready for a single write. */
struct FramedProcMsg
{
    uint8_t bytes[kPipeHeaderSize + sizeof (ProcMsg)];
};

inline FramedProcMsg frameProcMsg (const ProcMsg& msg) noexcept
{
    FramedProcMsg f;
    encodePipeHeader (f.bytes, static_cast<uint32_t> (sizeof (ProcMsg)));
    std::memcpy (f.bytes + kPipeHeaderSize, &msg, sizeof (ProcMsg));
    return f;
}

/** What a received header says: true with the payload length to read, or false to skip these
    8 bytes (wrong magic, or a length outside 1..0x9FFFFF). */
inline bool isAcceptablePipeHeader (const uint8_t* header, uint32_t& length) noexcept
{
    if (readLe32 (header) != PIPE_MAGIC)
        return false;
    length = readLe32 (header + 4);
    return length >= 1 && length <= kPipeMaxLength;
}

} // namespace lyrlink
