#include "lyrlinksim/SimOutput.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace lyrlinksim;
using lyrlink::makeIpv4;

namespace
{

// Parsed output compares field by field; ordered objects compare their fields' order as well.
using Json = nlohmann::ordered_json;

Bytes managerConfigNotify()
{
    DeviceIdentity m;
    m.id = 17;
    m.type = 4;
    m.model = "velantrix";
    m.ip = makeIpv4 (10, 50, 0, 1);
    m.mac = { 0x02, 0xaa, 0, 0, 0, 1 };
    m.cfg17 = 8;
    return encodeConfigNotify (m, 17, 4, 3);
}

} // namespace

TEST (SimOutput, PrintsAReceivedFrameAsTextAndAsJson)
{
    const auto f = managerConfigNotify();
    const ByteView v (f.data(), f.size());
    const auto src = makeIpv4 (10, 50, 0, 1), dst = makeIpv4 (10, 50, 0, 255);

    EXPECT_EQ (formatFrameLine (1234, "rx", src, dst, v, false),
               "   1234 rx 10.50.0.1 > 10.50.0.255 ConfigNotify len=54 model=\"velantrix\" minor=3 id=17 claimed=1 "
               "mac=02:aa:00:00:00:01 ip=10.50.0.1 devcount=3 devtype=4 cfg17=8");
    const auto json = formatFrameLine (1234, "rx", src, dst, v, true);
    EXPECT_EQ (json.find ('\n'), std::string::npos);
    EXPECT_EQ (Json::parse (json), (Json { { "t", 1234 },
                                           { "dir", "rx" },
                                           { "src", "10.50.0.1" },
                                           { "dst", "10.50.0.255" },
                                           { "name", "ConfigNotify" },
                                           { "len", 54 },
                                           { "type", 6 },
                                           { "sub", 0 },
                                           { "model", "velantrix" },
                                           { "minor", 3 },
                                           { "id", 17 },
                                           { "claimed", 1 },
                                           { "mac", "02:aa:00:00:00:01" },
                                           { "ip", "10.50.0.1" },
                                           { "devcount", 3 },
                                           { "devtype", 4 },
                                           { "cfg17", 8 } }));

    // Short frames are marked; datagrams that are no frame show their first bytes.
    EXPECT_EQ (Json::parse (formatFrameLine (0, "rx", src, dst, ByteView (f.data(), 40), true)).value ("short", false),
               true);
    const uint8_t junk[] = { 0xde, 0xad, 0xbe, 0xef };
    EXPECT_EQ (formatFrameLine (7, "rx", src, dst, ByteView (junk, sizeof (junk)), false),
               "      7 rx 10.50.0.1 > 10.50.0.255 NotAFrame len=4 head=deadbeef");
    EXPECT_EQ (Json::parse (formatFrameLine (7, "rx", src, dst, ByteView (junk, sizeof (junk)), true)),
               (Json { { "t", 7 },
                       { "dir", "rx" },
                       { "src", "10.50.0.1" },
                       { "dst", "10.50.0.255" },
                       { "name", "NotAFrame" },
                       { "len", 4 },
                       { "head", "deadbeef" } }));
}

TEST (SimOutput, EscapesEveryUnprintableByteOfAModelName)
{
    auto f = managerConfigNotify();
    const char model[] = "A\"\\\x01\x7f\xe9Z";
    std::fill (f.begin() + 12, f.begin() + 32, 0);
    std::copy (model, model + sizeof (model) - 1, f.begin() + 12);
    const ByteView v (f.data(), f.size());

    const auto text = formatFrameLine (0, "rx", 0, 0, v, false);
    EXPECT_NE (text.find ("model=\"A\\\"\\\\\\x01\\x7f\\xe9Z\""), std::string::npos) << text;
    const auto json = formatFrameLine (0, "rx", 0, 0, v, true);
    EXPECT_NE (json.find ("\"model\":\"A\\\"\\\\\\u0001\\u007f\\u00e9Z\""), std::string::npos) << json;
    for (const char c : json)
        EXPECT_TRUE (c >= 0x20 && c < 0x7f) << "JSON output stays printable ASCII";
}

TEST (SimOutput, JsonGivesBackEveryByteOfAModelThatIsNotUtf8)
{
    // A model from the network is bytes, not text: a lone continuation byte, a cut sequence, an
    // overlong form and bytes that happen to be UTF-8 all come out one \u00XX per byte, and a
    // reader gets each byte back as the code point of the same value.
    auto f = managerConfigNotify();
    const std::string model = "\x80\xc3\xff\xc0\xaf\xc3\xa9\x09x";
    std::fill (f.begin() + 12, f.begin() + 32, 0);
    std::copy (model.begin(), model.end(), f.begin() + 12);
    const auto json = formatFrameLine (0, "rx", 0, 0, ByteView (f.data(), f.size()), true);
    EXPECT_NE (json.find ("\"model\":\"\\u0080\\u00c3\\u00ff\\u00c0\\u00af\\u00c3\\u00a9\\tx\""), std::string::npos) << json;

    const auto read = Json::parse (json).at ("model").get<std::string>();
    std::string bytes;
    for (size_t i = 0; i < read.size(); ++i)
    {
        const auto c = static_cast<unsigned char> (read[i]);
        if (c < 0x80)
            bytes += static_cast<char> (c);
        else
        {
            ASSERT_LT (i + 1, read.size());
            bytes += static_cast<char> (((c & 0x03) << 6) | (static_cast<unsigned char> (read[++i]) & 0x3f));
        }
    }
    EXPECT_EQ (bytes, model);
}

TEST (SimOutput, PrintsEventsAndNotes)
{
    EventOutcome done { 5000, "silent id=3", "" };
    EventOutcome refused { 6000, "leave id=9", "no such device" };
    EXPECT_EQ (formatEventLine (done, false), "   5000 event silent id=3");
    EXPECT_EQ (formatEventLine (refused, false), "   6000 event leave id=9 (not done: no such device)");
    EXPECT_EQ (Json::parse (formatEventLine (done, true)),
               (Json { { "t", 5000 }, { "dir", "event" }, { "event", "silent id=3" } }));
    EXPECT_EQ (Json::parse (formatEventLine (refused, true)),
               (Json { { "t", 6000 }, { "dir", "event" }, { "event", "leave id=9" }, { "error", "no such device" } }));
    EXPECT_EQ (Json::parse (formatNoteLine (10, "end: quit", true)),
               (Json { { "t", 10 }, { "dir", "info" }, { "text", "end: quit" } }));
}
