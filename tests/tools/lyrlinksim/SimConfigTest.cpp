#include "lyrlinksim/SimConfig.h"

#include <gtest/gtest.h>

using namespace lyrlinksim;
using lyrlink::makeIpv4;

TEST (SimConfigEvents, ParsesEveryEventWithItsArguments)
{
    using K = DeviceSelector::Kind;
    struct Case
    {
        const char* text;
        EventKind kind;
        K selector;
        int selectedId;
        int claimedId;
        const char* canonical;
    };
    const Case cases[] = {
        { "silent:id=3", EventKind::Silent, K::Id, 3, 0, "silent id=3" },
        { "  silent id=3 ", EventKind::Silent, K::Id, 3, 0, "silent id=3" },
        { "resume:id=all", EventKind::Resume, K::All, 0, 0, "resume id=all" },
        { "leave id=2", EventKind::Leave, K::Id, 2, 0, "leave id=2" },
        { "disconnect:dev=0x0b", EventKind::Disconnect, K::Id, 11, 0, "disconnect dev=0x0b" },
        { "rediscover:ip=10.50.0.11", EventKind::Rediscover, K::Address, 0, 0, "rediscover ip=10.50.0.11" },
        { "reject", EventKind::Reject, K::First, 0, 0, "reject" },
        { "reset:id=4", EventKind::Reset, K::Id, 4, 0, "reset id=4" },
        { "timeserver id=17", EventKind::TimeServer, K::First, 0, 17, "timeserver id=17" },
        { "config:id=17,dev=3", EventKind::Config, K::Id, 3, 17, "config id=17 dev=3" },
        { "idblk", EventKind::IdBlk, K::First, 0, 0, "idblk" },
        { "mac:ip=10.50.0.11,mac=02:00:00:00:00:99", EventKind::Mac, K::Address, 0, 0,
          "mac ip=10.50.0.11 mac=02:00:00:00:00:99" },
        { "quit", EventKind::Quit, K::First, 0, 0, "quit" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.text);
        SimEvent e;
        std::string error;
        ASSERT_TRUE (parseEvent (c.text, e, error)) << error;
        EXPECT_EQ (e.kind, c.kind);
        EXPECT_EQ (e.devices.kind, c.selector);
        if (c.selector == K::Id)
        {
            EXPECT_EQ (e.devices.id, c.selectedId);
        }
        if (c.selector == K::Address)
        {
            EXPECT_EQ (e.devices.address, makeIpv4 (10, 50, 0, 11));
        }
        EXPECT_EQ (e.claimedId, c.claimedId);
        EXPECT_EQ (e.text, c.canonical);
    }
}

TEST (SimConfigEvents, ReadsTheOptionalArgumentsOfOneFrameEvents)
{
    SimEvent e;
    std::string error;
    ASSERT_TRUE (parseEvent ("idblk:wired=0x01,wireless=0x0c,req=7,to=10.50.0.1,len=40", e, error)) << error;
    EXPECT_EQ (e.wiredMask, 0x01);
    EXPECT_EQ (e.wirelessMask, 0x0c);
    EXPECT_EQ (e.requestNumber, 7);
    ASSERT_TRUE (e.to.has_value());
    EXPECT_EQ (*e.to, makeIpv4 (10, 50, 0, 1));
    ASSERT_TRUE (e.length.has_value());
    EXPECT_EQ (*e.length, 40u);

    ASSERT_TRUE (parseEvent ("config id=5 type=7", e, error)) << error;
    ASSERT_TRUE (e.type.has_value());
    EXPECT_EQ (*e.type, 7);

    ASSERT_TRUE (parseEvent ("raw:hex=5173ff00,dev=2", e, error)) << error;
    EXPECT_EQ (e.raw, (Bytes { 0x51, 0x73, 0xff, 0x00 }));

    ASSERT_TRUE (parseEvent ("mac id=3 mac=02:aa:bb:cc:dd:ee", e, error)) << error;
    ASSERT_TRUE (e.mac.has_value());
    EXPECT_EQ (*e.mac, (MacAddress { 0x02, 0xaa, 0xbb, 0xcc, 0xdd, 0xee }));
}

TEST (SimConfigEvents, RefusesMalformedEventsWithAReason)
{
    const char* bad[] = {
        "",                          // nothing
        "explode:id=3",              // unknown event
        "silent",                    // a state change must name its devices
        "leave:3",                   // not key=value
        "leave:=3",                  // empty key
        "silent:id=300",             // id out of range
        "silent:id=-1",
        "silent:id=3x",
        "silent:id=+3",              // digits only, in decimal or after 0x
        "silent:id=0x",
        "silent:id=0x1g",
        "silent:id=99999999999999999999",
        "timeserver",                // the claimed id is missing
        "config:dev=3",
        "silent:id=3,to=10.0.0.1",   // to= only for events that send one frame
        "rediscover:id=3,len=40",
        "reject:len=0",              // a datagram has at least one byte
        "reject:len=65508",          // and fits in UDP
        "reject:to=10.0.0",
        "reject:type=3",             // type= only for config
        "reset:wired=1",             // masks only for idblk
        "raw",                       // raw needs bytes
        "raw:hex=abc",               // odd number of digits
        "raw:hex=zz",
        "mac:mac=02:00:00:00:00:01", // a MAC change must name its device
        "mac:id=3",                  // and give the MAC
        "mac:id=3,mac=02:00:00:00:01",
        "mac:id=3,mac=02:00:00:00:00:01,len=40",
        "quit:id=1",
    };
    for (const auto* text : bad)
    {
        SimEvent e;
        std::string error;
        EXPECT_FALSE (parseEvent (text, e, error)) << "\"" << text << "\"";
        EXPECT_FALSE (error.empty()) << "\"" << text << "\"";
    }
}

TEST (SimConfigEvents, ReadsTimesAndTimedEvents)
{
    const std::pair<const char*, int64_t> good[] = { { "250ms", 250 }, { "5s", 5000 }, { "1.5s", 1500 },
                                                     { "2m", 120000 }, { "3", 3000 },     { "0", 0 } };
    for (const auto& [text, ms] : good)
    {
        int64_t v = -1;
        EXPECT_TRUE (parseDuration (text, v)) << text;
        EXPECT_EQ (v, ms) << text;
    }
    for (const auto* text : { "", "s", "5h", "-5s", "1.2.3s", ".", "5 s5", "+5s", "1e3s", "0x10s" })
    {
        int64_t v = 0;
        EXPECT_FALSE (parseDuration (text, v)) << text;
    }

    TimedEvent t;
    std::string error;
    ASSERT_TRUE (parseTimedEvent ("8s:leave:id=2", t, error)) << error;
    EXPECT_EQ (t.atMs, 8000);
    EXPECT_EQ (t.event.kind, EventKind::Leave);
    EXPECT_FALSE (parseTimedEvent ("leave:id=2", t, error));
    EXPECT_FALSE (parseTimedEvent ("8s", t, error));
}

TEST (SimConfigDevices, ReadsADeviceAndFillsTheDefaults)
{
    DeviceIdentity d;
    std::string error;
    ASSERT_TRUE (parseDevice ("id=1,type=1,model=DKP-3000,ip=10.50.0.11,mac=02:00:00:00:00:11,minor=0,cfg=2,claimed=0",
                              d, error))
        << error;
    EXPECT_EQ (d.id, 1);
    EXPECT_EQ (d.type, 1);
    EXPECT_EQ (d.model, "DKP-3000");
    EXPECT_EQ (d.ip, makeIpv4 (10, 50, 0, 11));
    EXPECT_EQ (d.mac, (MacAddress { 2, 0, 0, 0, 0, 0x11 }));
    EXPECT_EQ (d.minor, 0);
    EXPECT_EQ (d.cfg17, 2);
    EXPECT_EQ (d.idClaimed, 0);

    ASSERT_TRUE (parseDevice ("id=9 type=7 ip=10.50.0.19", d, error)) << error;
    EXPECT_EQ (d.mac, (MacAddress { 2, 0, 10, 50, 0, 19 })) << "the default MAC follows the address";
    EXPECT_EQ (d.minor, 3);
    EXPECT_EQ (d.model, "WMR-7000");

    // Escapes give model names with control characters and commas.
    ASSERT_TRUE (parseDevice ("id=2,ip=10.50.0.12,model=A\\x01B\\x2cC\\\\", d, error)) << error;
    EXPECT_EQ (d.model, std::string ("A\x01" "B,C\\"));
}

TEST (SimConfigDevices, RefusesIncompleteOrMalformedDevices)
{
    for (const auto* text : { "ip=10.50.0.11", "id=1", "id=1,ip=10.50.0.256", "id=1,ip=10.50.0.11,mac=02:00:00:00:00",
                              "id=1,ip=10.50.0.11,colour=red", "id=1,ip=10.50.0.11,model=bad\\q",
                              "id=1,ip=10.50.0.11,model=bad\\x4", "id=1,ip=10.50.0.11,type=256" })
    {
        DeviceIdentity d;
        std::string error;
        EXPECT_FALSE (parseDevice (text, d, error)) << text;
        EXPECT_FALSE (error.empty()) << text;
    }
}

TEST (SimConfigDevices, ReadsNetmasksAndAddresses)
{
    Ipv4 m = 0;
    ASSERT_TRUE (parseNetmask ("/24", m));
    EXPECT_EQ (m, makeIpv4 (255, 255, 255, 0));
    ASSERT_TRUE (parseNetmask ("16", m));
    EXPECT_EQ (m, makeIpv4 (255, 255, 0, 0));
    ASSERT_TRUE (parseNetmask ("255.255.254.0", m));
    EXPECT_EQ (m, makeIpv4 (255, 255, 254, 0));
    ASSERT_TRUE (parseNetmask ("0", m));
    EXPECT_EQ (m, 0u);
    for (const auto* text : { "", "/33", "255.0.255.0", "255.255.255", "abc" })
        EXPECT_FALSE (parseNetmask (text, m)) << text;

    Ipv4 a = 0;
    for (const auto* text : { "1.2.3", "1.2.3.4.5", "1..3.4", "1.2.3.4 ", "1234.1.1.1", "a.b.c.d" })
        EXPECT_FALSE (parseIpv4 (text, a)) << text;
    // A leading zero would read as octal elsewhere ("010" as 8): refused rather than guessed.
    for (const auto* text : { "010.1.1.1", "10.1.1.01", "0x0a.1.1.1", "10.1", "", " 10.1.1.1" })
        EXPECT_FALSE (parseIpv4 (text, a)) << text;
    EXPECT_FALSE (parseIpv4 (std::string ("10.1.1.1\0", 9), a)) << "an embedded NUL";
    const std::pair<const char*, Ipv4> good[] = { { "10.1.1.1", makeIpv4 (10, 1, 1, 1) },
                                                  { "0.0.0.0", 0 },
                                                  { "255.255.255.255", makeIpv4 (255, 255, 255, 255) },
                                                  { "10.0.100.250", makeIpv4 (10, 0, 100, 250) } };
    for (const auto& [text, address] : good)
    {
        ASSERT_TRUE (parseIpv4 (text, a)) << text;
        EXPECT_EQ (a, address) << text;
    }
    std::string error;
    DeviceIdentity d;
    EXPECT_FALSE (parseDevice ("id=1,ip=010.50.0.11", d, error));
    EXPECT_EQ (error, "bad device value for ip: \"010.50.0.11\"");
}

TEST (SimConfigCommandLine, ReadsOptionsAndOrdersTheTimeline)
{
    SimConfig c;
    std::string error;
    const std::vector<std::string> args = { "--device",   "id=1,ip=10.50.0.11",  "--device=id=2,ip=10.50.0.12",
                                            "--at",       "8s:leave:id=2",       "--at",
                                            "5s:silent:id=1", "--at=5s:resume:id=2", "--netmask",
                                            "/16",        "--duration",          "30s",
                                            "--json",     "--no-join",           "--no-stdin",
                                            "--verbose",  "--port",              "47000" };
    ASSERT_EQ (parseCommandLine (args, c, error), CommandLineResult::Run) << error;
    ASSERT_EQ (c.devices.size(), 2u);
    ASSERT_EQ (c.timeline.size(), 3u);
    EXPECT_EQ (c.timeline[0].event.text, "silent id=1") << "same time: given order kept";
    EXPECT_EQ (c.timeline[1].event.text, "resume id=2");
    EXPECT_EQ (c.timeline[2].event.text, "leave id=2");
    EXPECT_EQ (c.durationMs.value_or (0), 30000);
    EXPECT_TRUE (c.json && c.verbose && ! c.join && ! c.readStdin);
    EXPECT_EQ (c.port, 47000);
    EXPECT_EQ (c.broadcastFor (c.devices[0]), makeIpv4 (10, 50, 255, 255));

    c.broadcast = makeIpv4 (10, 50, 0, 255);
    EXPECT_EQ (c.broadcastFor (c.devices[0]), makeIpv4 (10, 50, 0, 255));
}

TEST (SimConfigCommandLine, RefusesBadCommandLines)
{
    const std::vector<std::vector<std::string>> bad = {
        {},                                                                       // no device
        { "--at", "5s:silent:id=1" },                                             // still no device
        { "--device", "id=1,ip=10.50.0.11", "--device", "id=2,ip=10.50.0.11" },   // one address, two devices
        { "--device", "id=1,ip=10.50.0.11", "--duration" },                       // value missing
        { "--device", "id=1,ip=10.50.0.11", "--duration", "0" },
        { "--device", "id=1,ip=10.50.0.11", "--port", "0" },
        { "--device", "id=1,ip=10.50.0.11", "--json=yes" },
        { "--device", "id=1,ip=10.50.0.11", "--colour" },
        { "--device", "id=1,ip=10.50.0.11", "--at", "soon:quit" },
        { "--device", "id=1,ip=10.50.0.11", "--at", "5s:leave:id=2" },             // no device 2
        { "--device", "id=1,ip=10.50.0.11", "--at", "5s:reject:ip=10.50.0.12" },
        { "--device", "id=1,ip=10.50.0.11", "stray" }, // no positional words
        { "--device" },
        { "--device", "id=1,ip=10.50.0.11", "--broadcast", "010.50.0.255" },
        { "--device", "id=1,ip=10.50.0.11", "--port", "+5" },
        { "--device", "id=1,ip=10.50.0.11", "--port", "65536" },
    };
    for (const auto& args : bad)
    {
        SimConfig c;
        std::string error;
        EXPECT_EQ (parseCommandLine (args, c, error), CommandLineResult::Error) << (args.empty() ? "" : args.back());
        EXPECT_FALSE (error.empty());
    }
    SimConfig c;
    std::string error;
    EXPECT_EQ (parseCommandLine ({ "--help" }, c, error), CommandLineResult::Help);
    EXPECT_EQ (parseCommandLine ({ "--device", "id=1,ip=10.50.0.11", "-h" }, c, error), CommandLineResult::Help);

    // What was wrong, in words.
    const std::vector<std::string> device = { "--device", "id=1,ip=10.50.0.11" };
    const std::pair<std::vector<std::string>, const char*> messages[] = {
        { {}, "give at least one --device" },
        { { "--duration" }, "--duration needs a value" },
        { { "--json=yes" }, "--json takes no value" },
        { { "--colour" }, "unknown option \"--colour\"" },
        { { "stray" }, "unexpected argument \"stray\"" },
        { { "--port", "0" }, "bad value for --port: \"0\"" },
        { { "--netmask", "/33" }, "bad value for --netmask: \"/33\"" },
        { { "--at", "soon:quit" }, "bad time \"soon\"" },
        { { "--at", "5s:leave:id=2" }, "--at leave id=2: no such device" },
    };
    for (const auto& [extra, message] : messages)
    {
        auto args = extra.empty() ? extra : device;
        args.insert (args.end(), extra.begin(), extra.end());
        SimConfig ignored;
        error.clear();
        EXPECT_EQ (parseCommandLine (args, ignored, error), CommandLineResult::Error) << message;
        EXPECT_EQ (error, message);
    }
}

TEST (SimConfigCommandLine, AnOptionGivenTwiceKeepsItsLastValue)
{
    SimConfig c;
    std::string error;
    ASSERT_EQ (parseCommandLine ({ "--device", "id=1,ip=10.50.0.11", "--port", "47000", "--port=47001", "--netmask",
                                   "/8", "--netmask", "/16" },
                                 c, error),
               CommandLineResult::Run)
        << error;
    EXPECT_EQ (c.port, 47001);
    EXPECT_EQ (c.netmask, makeIpv4 (255, 255, 0, 0));
}
