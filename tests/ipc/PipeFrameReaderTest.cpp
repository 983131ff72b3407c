#include "ipc/PipeFrameReader.h"
#include "ipc/ProcMsg.h"

#include <gtest/gtest.h>

#include <deque>

using namespace lyrlink;

namespace
{

/** A scripted stream: each step is a chunk of bytes the next read may return (at most the size
    asked for; the rest stays for the next read), or an end (0) or close (-1). */
struct ScriptedStream
{
    struct Step
    {
        std::vector<uint8_t> bytes;
        int end = 1; // 1: bytes; 0: client left; -1: closed
    };
    std::deque<Step> steps;
    std::vector<size_t> asked; // size of every read

    void bytes (const std::vector<uint8_t>& b) { steps.push_back ({ b, 1 }); }
    void clientLeaves() { steps.push_back ({ {}, 0 }); }

    int read (uint8_t* buffer, size_t size)
    {
        asked.push_back (size);
        if (steps.empty())
            return -1;
        auto& s = steps.front();
        if (s.end != 1)
        {
            const int r = s.end;
            steps.pop_front();
            return r;
        }
        const size_t n = std::min (size, s.bytes.size());
        std::memcpy (buffer, s.bytes.data(), n);
        s.bytes.erase (s.bytes.begin(), s.bytes.begin() + static_cast<long> (n));
        if (s.bytes.empty())
            steps.pop_front();
        return static_cast<int> (n);
    }
};

std::vector<uint8_t> header (uint32_t magic, uint32_t length)
{
    std::vector<uint8_t> h (8);
    writeLe32 (h.data(), magic);
    writeLe32 (h.data() + 4, length);
    return h;
}

std::vector<uint8_t> frame (const std::vector<uint8_t>& payload)
{
    auto f = header (PIPE_MAGIC, static_cast<uint32_t> (payload.size()));
    f.insert (f.end(), payload.begin(), payload.end());
    return f;
}

struct PipeFrameReaderTest : ::testing::Test
{
    ScriptedStream stream;
    bool stop = false;
    PipeFrameReader reader { [this] (uint8_t* b, size_t n) { return stream.read (b, n); }, [this] { return stop; } };
    std::vector<uint8_t> payload;
};

} // namespace

TEST_F (PipeFrameReaderTest, SkipsUnacceptableHeadersAndReadsTheNextFrame)
{
    // Each bad header costs exactly its 8 bytes; the bytes after it are read as the next header.
    stream.bytes (header (0x12345678, 4));
    stream.bytes (header (PIPE_MAGIC, 0));
    stream.bytes (header (PIPE_MAGIC, 0x9FFFFF + 1));
    stream.bytes (frame ({ 1, 2, 3 }));

    ASSERT_EQ (reader.readFrame (payload), PipeFrameReader::Result::frame);
    EXPECT_EQ (payload, (std::vector<uint8_t> { 1, 2, 3 }));
}

TEST_F (PipeFrameReaderTest, CollectsAHeaderThatArrivesInPieces)
{
    const auto f = frame ({ 9, 8, 7, 6 });
    for (auto b : f)
        stream.bytes ({ b });
    ASSERT_EQ (reader.readFrame (payload), PipeFrameReader::Result::frame);
    EXPECT_EQ (payload, (std::vector<uint8_t> { 9, 8, 7, 6 }));
}

TEST_F (PipeFrameReaderTest, ReadsLargePayloadsInPiecesOfAtMost64KiB)
{
    std::vector<uint8_t> big (0x9FFFFF);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t> (i * 7);
    stream.bytes (frame (big));

    ASSERT_EQ (reader.readFrame (payload), PipeFrameReader::Result::frame);
    EXPECT_EQ (payload, big);
    ASSERT_GE (stream.asked.size(), 2u);
    for (size_t i = 1; i < stream.asked.size(); ++i)
        EXPECT_LE (stream.asked[i], 0x10000u);
    EXPECT_EQ (stream.asked[1], 0x10000u);
}

TEST_F (PipeFrameReaderTest, DropsAFrameCutShortByTheClientLeaving)
{
    auto f = frame (std::vector<uint8_t> (1296, 0x55));
    f.resize (8 + 10);
    stream.bytes (f);
    stream.clientLeaves();
    stream.bytes (frame ({ 4 }));

    EXPECT_EQ (reader.readFrame (payload), PipeFrameReader::Result::clientLeft);
    EXPECT_TRUE (payload.empty());
    // The next client starts with a fresh header.
    ASSERT_EQ (reader.readFrame (payload), PipeFrameReader::Result::frame);
    EXPECT_EQ (payload, (std::vector<uint8_t> { 4 }));
}

TEST_F (PipeFrameReaderTest, DropsAHalfHeaderWhenTheClientLeaves)
{
    stream.bytes ({ 0x2C, 0x9E, 0xB4 });
    stream.clientLeaves();
    stream.bytes (frame ({ 5 }));
    EXPECT_EQ (reader.readFrame (payload), PipeFrameReader::Result::clientLeft);
    ASSERT_EQ (reader.readFrame (payload), PipeFrameReader::Result::frame);
    EXPECT_EQ (payload, (std::vector<uint8_t> { 5 }));
}

TEST_F (PipeFrameReaderTest, EndsOnCloseAndOnStopWithoutDelivering)
{
    stream.bytes (header (PIPE_MAGIC, 100));
    EXPECT_EQ (reader.readFrame (payload), PipeFrameReader::Result::closed);
    EXPECT_TRUE (payload.empty());

    stream.bytes (frame ({ 1 }));
    stop = true;
    EXPECT_EQ (reader.readFrame (payload), PipeFrameReader::Result::stopped);
    EXPECT_TRUE (stream.asked.size() == 2u); // nothing read once told to stop
}

TEST_F (PipeFrameReaderTest, AHeaderReservesNoMoreThanTheBytesThatFollowIt)
{
    // A header may claim the longest frame and send almost nothing: the reader's buffer (the
    // payload it fills) grows with what arrives, a read piece ahead at most, whether the client
    // then leaves or closes; the whole frame still arrives when it is sent.
    struct Case
    {
        size_t sent;
        bool closes;
    };
    for (const Case c : { Case { 0, false }, Case { 100, false }, Case { kPipeReadPiece, true },
                          Case { 3 * kPipeReadPiece + 1, false }, Case { 1000, true } })
    {
        SCOPED_TRACE (c.sent);
        stream = {};
        payload = std::vector<uint8_t>(); // no capacity left from the case before
        auto f = header (PIPE_MAGIC, kPipeMaxLength);
        f.resize (f.size() + c.sent, 0x5A);
        stream.bytes (f);
        if (! c.closes)
            stream.clientLeaves();

        EXPECT_EQ (reader.readFrame (payload),
                   c.closes ? PipeFrameReader::Result::closed : PipeFrameReader::Result::clientLeft);
        EXPECT_TRUE (payload.empty());
        EXPECT_LE (payload.capacity(), 2 * (c.sent + kPipeReadPiece));
    }

    // The same reader then takes a whole frame of the longest length.
    stream = {};
    std::vector<uint8_t> big (kPipeMaxLength, 0xA5);
    big.back() = 1;
    stream.bytes (frame (big));
    ASSERT_EQ (reader.readFrame (payload), PipeFrameReader::Result::frame);
    EXPECT_EQ (payload, big);
}
