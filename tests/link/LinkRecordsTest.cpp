#include "link/FrameFormat.h"
#include "link/LinkRecords.h"

#include <gtest/gtest.h>

using namespace lyrlink;

TEST (LinkRecords, VtConnectionIsLittleEndian)
{
    LinkStatus s {};
    setVtConnection (s, (1u << candidateBit (17)) | (1u << candidateBit (41)));
    EXPECT_EQ (s.vtconnection[0], 0x05);
    EXPECT_EQ (s.vtconnection[1], 0);
    EXPECT_EQ (s.vtconnection[2], 0);
    EXPECT_EQ (s.vtconnection[3], 0);
    EXPECT_EQ (getVtConnection (s), 5u);
    EXPECT_EQ (candidateBit (44), 5);
    EXPECT_EQ (candidateBit (45), -1);
}

TEST (LinkRecords, PeerTableIsIndexedByIdMinusOne)
{
    PeerTable t {};
    t[79].state = DEVICE_PRESENT;
    const auto* raw = reinterpret_cast<const uint8_t*> (t.data());
    EXPECT_EQ (raw[1280 - 16], DEVICE_PRESENT);  // the record of id 80 is the last 16 bytes
}

TEST (SendBuffer, HeaderTemplate)
{
    SendBuffer b;
    b.fill (0xee);
    writeHeaderTemplate (b);
    const uint8_t expected[36] = { 'Q', 's', 'p', 't', '1', 'W', 'm', 'J', 'O', 'L', 0, 0,
                                   'v', 'e', 'l', 'a', 'n', 't', 'r', 'i', 'x', 0, 0, 0,
                                   0,   0,   0,   0,   0,   0,   0,   0,   1,   3,   0, 0 };
    for (size_t i = 0; i < 36; ++i)
        EXPECT_EQ (b[i], expected[i]) << "byte " << i;
    for (size_t i = 36; i < b.size(); ++i)
        ASSERT_EQ (b[i], 0) << "byte " << i;
}

TEST (FrameView, ReadsNothingPastTheEnd)
{
    const uint8_t bytes[12] = { 'Q', 's', 'p', 't', '1', 'W', 'm', 'J', 'O', 'L', 6, 0 };
    const ByteView f (bytes, sizeof (bytes));
    EXPECT_EQ (frameType (f), 6);
    EXPECT_EQ (frameMinorVersion (f), 0);  // past the end reads as zero
    EXPECT_EQ (frameBody (f).size(), 0u);
    EXPECT_STREQ (frameModel (f).text, "");
}

TEST (FrameView, ModelWithoutNulIsCutAtTwentyBytes)
{
    uint8_t frame[36] {};
    std::memset (frame + 12, 'M', 20);
    frame[32] = 'X';  // hdrclass right behind the field must not leak into the name
    EXPECT_EQ (std::string (frameModel (ByteView (frame, sizeof (frame))).text), std::string (20, 'M'));
}

TEST (FrameView, BlockedModelsAreExactNamesWithMinorVersionZero)
{
    struct Case
    {
        const char* model;
        uint8_t minor;
        bool blocked;
    };
    const Case cases[] = {
        { "DKP-410", 0, true },    { "DKP-5100", 0, true }, { "DKP-410", 1, false },
        { "DKP-4100", 0, false },  { "DKP-41", 0, false },  { "DKP-3000", 0, false },
    };
    for (const auto& c : cases)
    {
        uint8_t frame[36] {};
        std::memcpy (frame + 12, c.model, std::strlen (c.model));
        frame[33] = c.minor;
        EXPECT_EQ (isBlockedModel (ByteView (frame, sizeof (frame))), c.blocked) << c.model << " " << int (c.minor);
    }
}
