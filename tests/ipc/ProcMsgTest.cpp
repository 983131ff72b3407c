#include "ipc/ProcMsg.h"

#include <gtest/gtest.h>

#include <vector>

using namespace lyrlink;

TEST (ProcMsg, FramesARecordAsHeaderAndRecordInOneBuffer)
{
    auto msg = makeProcMsg (4, 0x01020304u, -2, 1);
    msg.data[0] = 0xAA;
    msg.data[1279] = 0xBB;
    const auto framed = frameProcMsg (msg);

    const uint8_t header[8] = { 0x2C, 0x9E, 0xB4, 0xF2, 0x10, 0x05, 0x00, 0x00 };
    EXPECT_EQ (0, std::memcmp (framed.bytes, header, 8));
    // Fields little-endian at offsets 0, 4, 8 and 12; data from 16.
    const uint8_t fields[16] = { 4, 0, 0, 0, 4, 3, 2, 1, 0xFE, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0 };
    EXPECT_EQ (0, std::memcmp (framed.bytes + 8, fields, 16));
    EXPECT_EQ (framed.bytes[8 + 16], 0xAA);
    EXPECT_EQ (framed.bytes[8 + 1295], 0xBB);
    EXPECT_EQ (sizeof (framed.bytes), 1304u);
}

TEST (ProcMsg, ShortRequestsReadTheirMissingBytesAsZero)
{
    const uint8_t bytes[16] = { 3, 0, 0, 0, 0x39, 0x30, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0 };
    struct Case
    {
        size_t size;
        int32_t kind;
        uint32_t pid;
        int32_t id;
        uint32_t result;
    };
    const Case cases[] = {
        { 0, 0, 0, 0, 0 },      { 1, 3, 0, 0, 0 },       { 5, 3, 0x39, 0, 0 },
        { 8, 3, 12345, 0, 0 },  { 12, 3, 12345, 7, 0 },  { 16, 3, 12345, 7, 1 },
    };
    for (const auto& c : cases)
    {
        const auto f = decodeRequest (bytes, c.size);
        EXPECT_EQ (f.kind, c.kind) << c.size;
        EXPECT_EQ (f.pid, c.pid) << c.size;
        EXPECT_EQ (f.id, c.id) << c.size;
        EXPECT_EQ (f.result, c.result) << c.size;
    }
    EXPECT_EQ (decodeRequest (nullptr, 0).kind, 0);
}

TEST (ProcMsg, AcceptsHeadersWithTheMagicAndALengthFromOneTo0x9FFFFF)
{
    struct Case
    {
        uint32_t magic;
        uint32_t length;
        bool accepted;
    };
    const Case cases[] = {
        { PIPE_MAGIC, 1296, true }, { PIPE_MAGIC, 1, true },         { PIPE_MAGIC, 0x9FFFFF, true },
        { PIPE_MAGIC, 0, false },   { PIPE_MAGIC, 0xA00000, false }, { PIPE_MAGIC, 0xFFFFFFFF, false },
        { 0x2C9EB4F2, 1296, false }, { 0, 1296, false },
    };
    for (const auto& c : cases)
    {
        uint8_t header[8];
        writeLe32 (header, c.magic);
        writeLe32 (header + 4, c.length);
        uint32_t length = 0;
        EXPECT_EQ (isAcceptablePipeHeader (header, length), c.accepted) << std::hex << c.magic << " " << c.length;
        if (c.accepted)
        {
            EXPECT_EQ (length, c.length);
        }
    }
}
