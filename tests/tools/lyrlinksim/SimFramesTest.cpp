#include "lyrlinksim/SimFrames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace lyrlinksim;
using lyrlink::makeIpv4;

namespace
{

DeviceIdentity player()
{
    DeviceIdentity d;
    d.id = 3;
    d.type = 1;
    d.model = "DKP-3000";
    d.minor = 2;
    d.ip = makeIpv4 (10, 50, 0, 13);
    d.mac = { 0x02, 0x00, 0x0a, 0x32, 0x00, 0x0d };
    d.cfg17 = 5;
    d.idClaimed = 1;
    return d;
}

ByteView view (const Bytes& b) { return ByteView (b.data(), b.size()); }

} // namespace

TEST (SimFrames, HeaderCarriesMagicModelMinorAndBigEndianLength)
{
    auto d = player();
    const auto f = makeFrame (d, 6, 0, 300);
    ASSERT_EQ (f.size(), 300u);
    EXPECT_EQ (std::memcmp (f.data(), "Qspt1WmJOL", 10), 0);
    EXPECT_EQ (f[10], 6);
    EXPECT_EQ (f[11], 0);
    EXPECT_EQ (std::string (reinterpret_cast<const char*> (f.data() + 12)), "DKP-3000");
    for (size_t i = 12 + 8; i < 32; ++i)
        EXPECT_EQ (f[i], 0) << "model padding byte " << i;
    EXPECT_EQ (f[32], 1);
    EXPECT_EQ (f[33], 2);
    EXPECT_EQ (f[34], 0x01);
    EXPECT_EQ (f[35], 0x2c);
}

TEST (SimFrames, ModelOfTwentyBytesOrMoreFillsTheFieldWithoutNul)
{
    auto d = player();
    d.model = std::string ("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const auto f = makeFrame (d, 6, 0, 54);
    EXPECT_EQ (std::memcmp (f.data() + 12, "ABCDEFGHIJKLMNOPQRST", 20), 0);
    EXPECT_EQ (f[32], 1) << "the model must not run into hdrclass";
}

TEST (SimFrames, EveryEncoderWritesItsTypeLengthAndBody)
{
    const auto d = player();
    struct Case
    {
        const char* name;
        std::function<Bytes()> build;
        uint8_t type, sub;
        size_t length;
        std::vector<std::pair<size_t, uint8_t>> body;  // body offset, value
    };
    const std::vector<Case> cases = {
        { "DiscoveryRequest", [&] { return encodeDiscoveryRequest (d, 2); }, 0, 0, 44,
          { { 0, 2 }, { 1, 1 }, { 2, 0x02 }, { 7, 0x0d } } },
        { "IdUseRequest", [&] { return encodeIdUseRequest (d, 3, 4); }, 2, 0, 50,
          { { 0, 10 }, { 1, 50 }, { 2, 0 }, { 3, 13 }, { 4, 0x02 }, { 9, 0x0d }, { 10, 3 }, { 11, 4 }, { 12, 1 }, { 13, 1 } } },
        { "IdUseResponse", [&] { return encodeIdUseResponse (d, 17, 5); }, 3, 0, 39, { { 0, 17 }, { 1, 5 }, { 2, 1 } } },
        { "ConfigNotify", [&] { return encodeConfigNotify (d, 18, 4, 3); }, 6, 0, 54,
          { { 0, 18 }, { 1, 1 }, { 2, 0x02 }, { 7, 0x0d }, { 8, 10 }, { 11, 13 }, { 12, 3 }, { 13, 0 }, { 16, 4 }, { 17, 5 } } },
        { "LeaveNotify", [&] { return encodeLeaveNotify (d); }, 7, 0, 41, { { 0, 3 }, { 1, 10 }, { 4, 13 } } },
        { "Disconnect", [&] { return encodeDisconnect (d); }, 8, 0, 41, { { 0, 3 }, { 1, 10 }, { 4, 13 } } },
        { "TimeServerRequest", [&] { return encodeTimeServerRequest (d, 17); }, 4, 0, 41, { { 0, 17 } } },
        { "IdUseRequestFromBlk", [&] { return encodeIdUseRequestFromBlk (d, 0x03, 0x0f, 9); }, 2, 2, 68,
          { { 0, 10 }, { 3, 13 }, { 12, 0x03 }, { 15, 0x0f }, { 31, 9 } } },
        { "Reject", [&] { return encodeReject (d); }, 9, 0, 36, {} },
        { "ResetNotify", [&] { return encodeResetNotify (d); }, 11, 0, 36, {} },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto f = c.build();
        ASSERT_EQ (f.size(), c.length);
        EXPECT_EQ (f[10], c.type);
        EXPECT_EQ (f[11], c.sub);
        EXPECT_EQ ((size_t (f[34]) << 8) | f[35], c.length);
        for (const auto& [offset, value] : c.body)
            EXPECT_EQ (f[36 + offset], value) << "body byte " << offset;
        EXPECT_EQ (describeFrame (view (f)).name, c.name);
        EXPECT_FALSE (describeFrame (view (f)).isShort);
    }
}

TEST (SimFrames, DecodesAnIdUseRequestOnlyWhenItIsCompleteAndGenuine)
{
    auto manager = player();
    manager.ip = makeIpv4 (10, 50, 0, 1);
    const auto request = encodeIdUseRequest (manager, 17, 5);

    const auto r = decodeIdUseRequest (view (request));
    ASSERT_TRUE (r.has_value());
    EXPECT_EQ (r->replyTo, makeIpv4 (10, 50, 0, 1));
    EXPECT_EQ (r->id, 17);
    EXPECT_EQ (r->requestNumber, 5);

    // The answer reads body bytes up to 11: 48 bytes are enough, 47 are not.
    EXPECT_TRUE (decodeIdUseRequest (ByteView (request.data(), 48)).has_value());
    EXPECT_FALSE (decodeIdUseRequest (ByteView (request.data(), 47)).has_value());

    auto badMagic = request;
    badMagic[0] = 'X';
    EXPECT_FALSE (decodeIdUseRequest (view (badMagic)).has_value());
    auto setRequest = request;
    setRequest[11] = 1;
    EXPECT_FALSE (decodeIdUseRequest (view (setRequest)).has_value());
    EXPECT_FALSE (decodeIdUseRequest (view (encodeIdUseRequestFromBlk (manager, 3, 15, 1))).has_value());
}

TEST (SimFrames, DescribesAReceivedConfigNotifyFieldByField)
{
    auto manager = player();
    manager.model = "velantrix";
    manager.minor = 3;
    manager.cfg17 = 8;
    const auto f = encodeConfigNotify (manager, 17, 4, 2);
    const auto s = describeFrame (view (f));
    EXPECT_TRUE (s.isFrame);
    EXPECT_EQ (s.model, "velantrix");
    EXPECT_EQ (s.minor, 3);
    std::string all;
    for (const auto& field : s.fields)
        all += field.key + "=" + field.value + " ";
    EXPECT_EQ (all, "id=17 claimed=1 mac=02:00:0a:32:00:0d ip=10.50.0.13 devcount=2 devtype=4 cfg17=8 ");
}

TEST (SimFrames, DescribesTruncatedDatagramsWithoutReadingPastTheirEnd)
{
    const auto d = player();
    const std::vector<Bytes> frames = { encodeDiscoveryRequest (d, 1), encodeIdUseRequest (d, 3, 1),
                                        encodeIdUseResponse (d, 3, 1), encodeConfigNotify (d, 3, 1, 1),
                                        encodeDisconnect (d), encodeIdUseRequestFromBlk (d, 3, 15, 1) };
    for (const auto& full : frames)
        for (size_t n = 0; n <= full.size(); ++n)
        {
            // A copy of exactly n bytes, so that a read past the end is caught by the sanitizer.
            const Bytes cut (full.begin(), full.begin() + static_cast<std::ptrdiff_t> (n));
            const auto s = describeFrame (view (cut));
            EXPECT_EQ (s.length, n);
            EXPECT_EQ (s.isFrame, n >= 36);
            if (n < 36)
            {
                EXPECT_EQ (s.name, "NotAFrame");
                EXPECT_TRUE (s.fields.empty());
            }
            else
                EXPECT_EQ (s.isShort, n < lyrlink::minimumFrameLength (full[10], full[11])) << s.name << " " << n;
        }

    // A ConfigNotify cut after its IP keeps the fields it holds and drops the rest.
    const auto config = encodeConfigNotify (d, 3, 1, 1);
    const auto s = describeFrame (ByteView (config.data(), 36 + 12));
    ASSERT_EQ (s.fields.size(), 4u);
    EXPECT_EQ (s.fields.back().key, "ip");
    EXPECT_TRUE (s.isShort);
}

TEST (SimFrames, NamesEveryTypeAndSubtype)
{
    EXPECT_EQ (frameTypeName (2, 1), "IdSetRequest");
    EXPECT_EQ (frameTypeName (3, 1), "IdSetResponse");
    EXPECT_EQ (frameTypeName (10, 0), "CompatiRequest");
    EXPECT_EQ (frameTypeName (6, 3), "Type6/3");
    EXPECT_EQ (frameTypeName (3, 2), "Type3/2");
    EXPECT_EQ (frameTypeName (1, 0), "Type1/0");
    EXPECT_EQ (frameTypeName (200, 0), "Type200/0");
}
