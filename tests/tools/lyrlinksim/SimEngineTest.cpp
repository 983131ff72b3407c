#include "lyrlinksim/SimEngine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace lyrlinksim;
using lyrlink::makeIpv4;

namespace
{

const Ipv4 kManager = makeIpv4 (10, 50, 0, 1);
const Ipv4 kBroadcast = makeIpv4 (10, 50, 0, 255);

DeviceIdentity device (uint8_t id, uint8_t type, uint8_t lastOctet)
{
    DeviceIdentity d;
    d.id = id;
    d.type = type;
    d.model = type == 7 ? "WMR-7000" : "DKP-3000";
    d.ip = makeIpv4 (10, 50, 0, lastOctet);
    d.mac = { 2, 0, 10, 50, 0, lastOctet };
    return d;
}

SimConfig config (std::vector<DeviceIdentity> devices, bool join = false, std::vector<std::string> timeline = {})
{
    SimConfig c;
    c.devices = std::move (devices);
    c.join = join;
    for (const auto& t : timeline)
    {
        TimedEvent e;
        std::string error;
        EXPECT_TRUE (parseTimedEvent (t, e, error)) << error;
        c.timeline.push_back (e);
    }
    return c;
}

SimEvent event (const std::string& text)
{
    SimEvent e;
    std::string error;
    EXPECT_TRUE (parseEvent (text, e, error)) << error;
    return e;
}

/** "t=<ms> <device id> <name> to=<last octet>[ id=<body 0>]" for each datagram, easy to compare. */
struct Recorder
{
    SimEngine& engine;
    std::vector<std::string> lines;
    std::vector<std::string> events;

    void take (int64_t at, EngineOutput& out)
    {
        for (const auto& dg : out.datagrams)
        {
            const auto s = describeFrame (ByteView (dg.bytes.data(), dg.bytes.size()));
            std::string line = "t=" + std::to_string (at) + " " + std::to_string (engine.getDevice (dg.device).id) + " "
                             + s.name + " to=" + std::to_string (lyrlink::ipv4Octet (dg.to, 3));
            for (const auto& f : s.fields)
                if (f.key == "id" || f.key == "req")
                    line += " " + f.key + "=" + f.value;
            lines.push_back (line);
        }
        for (const auto& e : out.events)
            events.push_back (std::to_string (e.atMs) + " " + e.text + (e.error.empty() ? "" : " ! " + e.error));
        out = EngineOutput();
    }

    /** Runs the engine exactly at each moment it has work, up to and including untilMs. */
    void runUntil (int64_t untilMs)
    {
        EngineOutput out;
        for (auto next = engine.getNextDueMs(); next <= untilMs; next = engine.getNextDueMs())
        {
            engine.advance (next, out);
            take (next, out);
        }
    }

    void apply (const std::string& text, int64_t at)
    {
        EngineOutput out;
        engine.apply (event (text), at, out);
        take (at, out);
    }

    void receive (Ipv4 from, const Bytes& datagram, int64_t at)
    {
        EngineOutput out;
        engine.receive (from, ByteView (datagram.data(), datagram.size()), out);
        take (at, out);
    }
};

DeviceIdentity managerIdentity()
{
    auto m = device (17, 4, 1);
    m.model = "velantrix";
    return m;
}

} // namespace

TEST (SimEngine, AJoiningDeviceDiscoversRequestsItsIdThenAnnouncesEvery2000ms)
{
    SimEngine engine (config ({ device (3, 1, 13) }, true));
    Recorder r { engine };
    r.runUntil (4600);
    const std::vector<std::string> expected = {
        "t=0 3 DiscoveryRequest to=255 req=1",
        "t=100 3 DiscoveryRequest to=255 req=2",
        "t=200 3 DiscoveryRequest to=255 req=3",
        "t=300 3 IdUseRequest to=255 id=3 req=1",
        "t=400 3 IdUseRequest to=255 id=3 req=2",
        "t=500 3 IdUseRequest to=255 id=3 req=3",
        "t=600 3 ConfigNotify to=255 id=3",
        "t=2600 3 ConfigNotify to=255 id=3",
        "t=4600 3 ConfigNotify to=255 id=3",
    };
    EXPECT_EQ (r.lines, expected);
}

TEST (SimEngine, KeepsTheCadenceWhenWokenLateAndRestartsItAfterAStall)
{
    SimEngine engine (config ({ device (3, 1, 13) }));
    EngineOutput out;
    engine.advance (0, out);
    ASSERT_EQ (out.datagrams.size(), 1u);
    EXPECT_EQ (engine.getNextDueMs(), 2000);

    out = EngineOutput();
    engine.advance (2030, out);  // woken 30 ms late: the next one is still due at 4000
    ASSERT_EQ (out.datagrams.size(), 1u);
    EXPECT_EQ (engine.getNextDueMs(), 4000);

    out = EngineOutput();
    engine.advance (9000, out);  // stalled for several periods: one frame, not a burst
    EXPECT_EQ (out.datagrams.size(), 1u);
    EXPECT_EQ (engine.getNextDueMs(), 11000);
}

TEST (SimEngine, AnswersIdUseRequestsForHeldIdsToTheAddressInTheBody)
{
    auto unit = device (9, 7, 19);  // an all-in-one unit on 9 also holds 10
    SimEngine engine (config ({ device (17, 4, 17), device (3, 1, 13), unit }));
    Recorder r { engine };
    r.runUntil (0);
    r.lines.clear();

    const auto manager = managerIdentity();
    auto request = encodeIdUseRequest (manager, 17, 5);
    // The answer goes to the address in the body, not to the datagram's source.
    request[36 + 3] = 77;
    r.receive (makeIpv4 (10, 50, 0, 200), request, 10);
    r.receive (kManager, encodeIdUseRequest (manager, 10, 6), 11);
    r.receive (kManager, encodeIdUseRequest (manager, 18, 7), 12);    // nobody holds 18
    r.receive (kManager, encodeIdUseRequest (manager, 11, 8), 13);    // 9+1 only, not 9+2
    r.receive (kManager, encodeConfigNotify (manager, 17, 4, 1), 14); // only requests are answered

    const std::vector<std::string> expected = {
        "t=10 17 IdUseResponse to=77 id=17 req=5",
        "t=11 9 IdUseResponse to=1 id=10 req=6",
    };
    EXPECT_EQ (r.lines, expected);

    // Byte 2 of the answer says "in use".
    EngineOutput out;
    engine.receive (kManager, ByteView (request.data(), request.size()), out);
    ASSERT_EQ (out.datagrams.size(), 1u);
    EXPECT_EQ (out.datagrams[0].bytes[38], 1);
}

TEST (SimEngine, IgnoresItsOwnFramesSilentDevicesAndUnanswerableRequests)
{
    SimEngine engine (config ({ device (17, 4, 17), device (18, 4, 18) }));
    Recorder r { engine };
    r.runUntil (0);
    r.lines.clear();

    // Device 18's own IdUseRequest for 17 comes back on the broadcast listener: not a manager's.
    r.receive (makeIpv4 (10, 50, 0, 18), encodeIdUseRequest (device (18, 4, 18), 17, 1), 1);
    auto noAddress = encodeIdUseRequest (managerIdentity(), 17, 1);
    std::fill (noAddress.begin() + 36, noAddress.begin() + 40, 0);
    r.receive (kManager, noAddress, 2);
    const auto request = encodeIdUseRequest (managerIdentity(), 17, 1);
    r.receive (kManager, Bytes (request.begin(), request.begin() + 47), 3);
    r.apply ("silent id=17", 4);
    r.receive (kManager, request, 5);
    EXPECT_TRUE (r.lines.empty()) << r.lines.front();

    r.apply ("resume id=17", 6);
    r.receive (kManager, request, 7);
    EXPECT_EQ (r.lines, (std::vector<std::string> { "t=7 17 IdUseResponse to=1 id=17 req=1" }));
}

TEST (SimEngine, LeaveDisconnectSilentAndResumeChangeWhatADeviceSends)
{
    SimEngine engine (config ({ device (1, 1, 11), device (2, 1, 12), device (3, 1, 13) }, false,
                              { "1s:leave:id=1", "1s:disconnect:ip=10.50.0.12", "2s:silent:id=3", "3s:resume:id=all" }));
    Recorder r { engine };
    r.runUntil (6000);
    const std::vector<std::string> expected = {
        "t=0 1 ConfigNotify to=255 id=1",
        "t=0 2 ConfigNotify to=255 id=2",
        "t=0 3 ConfigNotify to=255 id=3",
        "t=1000 1 LeaveNotify to=255 id=1",
        "t=1000 2 Disconnect to=255 id=2",
        // the event at 2000 ms runs before the ConfigNotify due then, which is not sent
        "t=3000 1 ConfigNotify to=255 id=1",
        "t=3000 2 ConfigNotify to=255 id=2",
        "t=3000 3 ConfigNotify to=255 id=3",
        "t=5000 1 ConfigNotify to=255 id=1",
        "t=5000 2 ConfigNotify to=255 id=2",
        "t=5000 3 ConfigNotify to=255 id=3",
    };
    EXPECT_EQ (r.lines, expected);
    const std::vector<std::string> events = { "1000 leave id=1", "1000 disconnect ip=10.50.0.12", "2000 silent id=3",
                                              "3000 resume id=all" };
    EXPECT_EQ (r.events, events);
}

TEST (SimEngine, RediscoverRunsTheJoinPhaseAgain)
{
    SimEngine engine (config ({ device (3, 1, 13) }, false, { "3s:rediscover:id=3" }));
    Recorder r { engine };
    r.runUntil (4000);
    const std::vector<std::string> expected = {
        "t=0 3 ConfigNotify to=255 id=3",
        "t=2000 3 ConfigNotify to=255 id=3",
        "t=3000 3 DiscoveryRequest to=255 req=1",
        "t=3100 3 DiscoveryRequest to=255 req=2",
        "t=3200 3 DiscoveryRequest to=255 req=3",
        "t=3300 3 IdUseRequest to=255 id=3 req=1",
        "t=3400 3 IdUseRequest to=255 id=3 req=2",
        "t=3500 3 IdUseRequest to=255 id=3 req=3",
        "t=3600 3 ConfigNotify to=255 id=3",
    };
    EXPECT_EQ (r.lines, expected);
}

TEST (SimEngine, MacChangesTheAddressCarriedByTheDevicesLaterFrames)
{
    SimEngine engine (config ({ device (3, 1, 13), device (4, 1, 14) }, false, { "3s:mac:id=3,mac=02:aa:bb:cc:dd:ee" }));
    std::vector<std::string> seen;
    EngineOutput out;
    for (auto next = engine.getNextDueMs(); next <= 4000; next = engine.getNextDueMs())
    {
        engine.advance (next, out);
        for (const auto& dg : out.datagrams)
        {
            std::string line = std::to_string (next) + " " + std::to_string (engine.getDevice (dg.device).id);
            for (const auto& f : describeFrame (ByteView (dg.bytes.data(), dg.bytes.size())).fields)
                if (f.key == "mac")
                    line += " " + f.value;
            seen.push_back (line);
        }
        out = EngineOutput();
    }
    const std::vector<std::string> expected = {
        "0 3 02:00:0a:32:00:0d", "0 4 02:00:0a:32:00:0e",    "2000 3 02:00:0a:32:00:0d",
        "2000 4 02:00:0a:32:00:0e", "4000 3 02:aa:bb:cc:dd:ee", "4000 4 02:00:0a:32:00:0e",
    };
    EXPECT_EQ (seen, expected);
    EXPECT_EQ (engine.getDevice (0).mac, (MacAddress { 0x02, 0xaa, 0xbb, 0xcc, 0xdd, 0xee }));
}

TEST (SimEngine, OneFrameEventsSendFromTheChosenDevice)
{
    SimEngine engine (config ({ device (1, 1, 11), device (2, 1, 12) }));
    Recorder r { engine };
    r.runUntil (0);
    r.lines.clear();

    r.apply ("reject", 5);
    r.apply ("reset id=2", 6);
    r.apply ("timeserver id=17 dev=2", 7);
    r.apply ("config id=17", 8);
    r.apply ("idblk dev=2 to=10.50.0.1", 9);
    r.apply ("raw hex=0102 dev=1", 10);
    r.apply ("silent id=9", 11);
    const std::vector<std::string> expected = {
        "t=5 1 Reject to=255",
        "t=6 2 ResetNotify to=255",
        "t=7 2 TimeServerRequest to=255 id=17",
        "t=8 1 ConfigNotify to=255 id=17",
        "t=9 2 IdUseRequestFromBlk to=1 req=1",
        "t=10 1 NotAFrame to=255",
    };
    EXPECT_EQ (r.lines, expected);
    EXPECT_EQ (r.events.back(), "11 silent id=9 ! no such device");

    // config keeps the device's own address and MAC, so the manager sees a second holder of the id.
    EngineOutput out;
    engine.apply (event ("config id=17 type=4"), 12, out);
    ASSERT_EQ (out.datagrams.size(), 1u);
    const auto& f = out.datagrams[0].bytes;
    EXPECT_EQ (f[36 + 0], 17);
    EXPECT_EQ (f[36 + 7], 11);
    EXPECT_EQ (f[36 + 11], 11);
    EXPECT_EQ (f[36 + 16], 4);
}

TEST (SimEngine, LenCutsOrPadsTheDatagramButKeepsItsLengthField)
{
    SimEngine engine (config ({ device (1, 1, 11) }));
    for (const size_t n : { size_t (40), size_t (2000) })
    {
        EngineOutput out;
        engine.apply (event ("config id=1 len=" + std::to_string (n)), 0, out);
        ASSERT_EQ (out.datagrams.size(), 1u);
        const auto& f = out.datagrams[0].bytes;
        ASSERT_EQ (f.size(), n);
        EXPECT_EQ (f[35], 54) << "the length field still says 54";
        if (n > 54)
        {
            EXPECT_EQ (f[n - 1], 0);
        }
    }
}

TEST (SimEngine, QuitStopsEverything)
{
    SimEngine engine (config ({ device (1, 1, 11) }, false, { "1s:quit", "1s:leave:id=1" }));
    Recorder r { engine };
    r.runUntil (10000);
    EXPECT_EQ (r.lines, (std::vector<std::string> { "t=0 1 ConfigNotify to=255 id=1" }));
    EXPECT_EQ (r.events, (std::vector<std::string> { "1000 quit" }));
    EXPECT_TRUE (engine.isQuitRequested());
    EXPECT_EQ (engine.getNextDueMs(), SimEngine::kNever);

    r.receive (kManager, encodeIdUseRequest (managerIdentity(), 1, 1), 10001);
    EXPECT_EQ (r.lines.size(), 1u);
}
