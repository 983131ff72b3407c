#include "ipc/ProcMsg.h"

#include <algorithm>

namespace lyrlink
{

RequestFields decodeRequest (const void* payload, size_t size) noexcept
{
    uint8_t head[16] {};
    std::memcpy (head, payload, std::min<size_t> (size, sizeof (head)));
    RequestFields f;
    f.kind = static_cast<int32_t> (readLe32 (head));
    f.pid = readLe32 (head + 4);
    f.id = static_cast<int32_t> (readLe32 (head + 8));
    f.result = readLe32 (head + 12);
    return f;
}

ProcMsg makeProcMsg (int32_t kind, uint32_t pid, int32_t id, uint32_t result) noexcept
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

void encodePipeHeader (uint8_t* header, uint32_t length) noexcept
{
    writeLe32 (header, PIPE_MAGIC);
    writeLe32 (header + 4, length);
}

FramedProcMsg frameProcMsg (const ProcMsg& msg) noexcept
{
    FramedProcMsg f;
    encodePipeHeader (f.bytes, static_cast<uint32_t> (sizeof (ProcMsg)));
    std::memcpy (f.bytes + kPipeHeaderSize, &msg, sizeof (ProcMsg));
    return f;
}

bool isAcceptablePipeHeader (const uint8_t* header, uint32_t& length) noexcept
{
    if (readLe32 (header) != PIPE_MAGIC)
        return false;
    length = readLe32 (header + 4);
    return length >= 1 && length <= kPipeMaxLength;
}

} // namespace lyrlink
