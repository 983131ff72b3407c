// Bad input of every kind, end to end on a link that is up: frames too short for their type,
// datagrams larger than the link's 1472 bytes, values out of range, model names without a NUL or
// with control characters, frame types the manager does not know, and garbage on the pipes.
// Afterwards the link is still up, the devices are still there and the manager answers.
#include "e2e/E2eScenario.h"

#include "link/FrameFormat.h"

using namespace lyrlink;
using namespace lyrlink::e2e;
using namespace std::chrono_literals;
using client::Status;

namespace
{

const std::string kManagerIp = "10.50.0.1";
const std::array<uint8_t, 4> kPlayerIp { 10, 50, 0, 11 };
const std::array<uint8_t, 6> kPlayerMac { 0x02, 0x00, 0x0a, 0x32, 0x00, 0x0b };

/** Players 1, 5 and 6, whose model names are a plain one, 26 characters (the field holds 20, so
    no NUL is left), and control characters with a byte above 127. */
void bringUp (E2eScenario& s)
{
    ASSERT_EQ (s.problem(), "");
    ASSERT_TRUE (s.startSimulator ({ "id=1,type=1,ip=10.50.0.11", "id=5,type=1,ip=10.50.0.15,model=ABCDEFGHIJKLMNOPQRSTUVWXYZ",
                                     "id=6,type=1,ip=10.50.0.16,model=\\x01\\x1b[2J\\x0a%s%n\\x7f\\xff" }));
    ASSERT_GE (s.waitForLinkState (STATE_RUN, 17, kLinkUpTimeout), 0) << s.describe();
    for (const int id : { 1, 5, 6 })
        ASSERT_GE (s.client->waitFor ([id] (const Received& r) { return r.isDeviceChanged (id, DEVICE_PRESENT); }, kStepTimeout), 0)
            << "id " << id << "\n" << s.describe();
}

/** Since message index from: no change of the link and no device removed; the link is in
    STATE_RUN as 17 and all three players are present. */
void expectLinkStillUp (const E2eScenario& s, size_t from)
{
    const auto received = s.client->received();
    for (size_t i = from; i < received.size(); ++i)
    {
        EXPECT_NE (received[i].fields.kind, KIND_LINK_STATUS_CHANGED) << s.describe();
        EXPECT_FALSE (received[i].fields.kind == KIND_DEVICE_CHANGED && received[i].device().state == DEVICE_REMOVED)
            << "id " << received[i].fields.id;
    }
    LinkStatus status {};
    ASSERT_EQ (s.client->getLinkStatus (status), Status::ok);
    EXPECT_EQ (status.state, STATE_RUN);
    EXPECT_EQ (status.id, 17);
    PeerTable table {};
    ASSERT_EQ (s.client->getDeviceList (table), Status::ok);
    for (const int id : { 1, 5, 6 })
        EXPECT_EQ (table[(size_t) id - 1].state, DEVICE_PRESENT) << "id " << id;
    for (const char* prefix : { "MainComponent::timerFuncNetMonitor Link DOWN", "MainComponent::readReject",
                                "MainComponent::readTimeServerRequest ID duplication", "MainComponent::readConfigNotify ID duplication" })
        EXPECT_TRUE (s.manager->logStartingWith (prefix).empty()) << prefix;
    EXPECT_TRUE (s.manager->process().isRunning());
}

Bytes bodyOf (std::initializer_list<uint8_t> head, size_t size)
{
    Bytes b (head);
    b.resize (size, 0);
    return b;
}

Bytes pipeFrame (uint32_t magic, uint32_t length, const Bytes& payload = {})
{
    Bytes b (8);
    writeLe32 (b.data(), magic);
    writeLe32 (b.data() + 4, length);
    b.insert (b.end(), payload.begin(), payload.end());
    return b;
}

Bytes requestFrame (int32_t kind, int32_t id = 0)
{
    const auto msg = makeProcMsg (kind, static_cast<uint32_t> (::getpid()), id, 0);
    const auto framed = frameProcMsg (msg);
    return Bytes (framed.bytes, framed.bytes + sizeof (framed.bytes));
}

Bytes operator+ (Bytes a, const Bytes& b)
{
    a.insert (a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST (BadInput, MalformedFramesAreDroppedAndTheLinkStaysUp)
{
    LYRLINK_REQUIRE_E2E();
    E2eScenario s ("badframes");
    bringUp (s);
    if (HasFatalFailure())
        return;
    const auto mark = s.client->receivedCount();
    const auto simMark = s.sim->lineCount();

    // Frames one byte shorter than what their handler reads, each of which would change something
    // if it were read whole: remove player 1, answer for 17, log a response, claim the manager's id,
    // add a device, remove one, reject or reset the link.
    const Bytes discovery = makeFrame (FRAME_DISCOVERY_REQUEST, 0, bodyOf ({ 1, 1, 0x02, 0x00, 0x0a, 0x32, 0x00, 0x0b }, 8));
    const Bytes idUseRequest = makeFrame (FRAME_ID_USE, 0, bodyOf ({ 10, 50, 0, 11, 0x02, 0x00, 0x0a, 0x32, 0x00, 0x0b, 17, 7, 1, 1 }, 14));
    const Bytes idUseResponse = makeFrame (FRAME_ID_RESPONSE, 0, { 17, 1, 1 });
    const Bytes idSetResponse = makeFrame (FRAME_ID_RESPONSE, 1, { 17, 1, 0 });
    const Bytes leave = makeFrame (FRAME_LEAVE_NOTIFY, 0, { 1, 10, 50, 0, 11 });
    const Bytes disconnect = makeFrame (FRAME_DISCONNECT, 0, { 1, 10, 50, 0, 11 });
    const std::vector<std::string> shortFrames {
        "raw hex=" + toHex (resized (discovery, 43)),
        "raw hex=" + toHex (resized (idUseRequest, 47)),
        "idblk wired=0x01 req=3 len=67",
        "raw hex=" + toHex (resized (idUseResponse, 38)),
        "raw hex=" + toHex (resized (idSetResponse, 38)),
        "timeserver id=17 len=36",
        "config id=20 len=53",
        "raw hex=" + toHex (resized (leave, 36)),
        "raw hex=" + toHex (resized (disconnect, 36)),
        "reject len=35",
        "reset len=35",
        "raw hex=" + toHex (resized (discovery, 11)),
        "raw hex=51",
    };
    // Datagrams over 1472 bytes are not delivered at all, not even cut to size.
    const std::vector<std::string> oversize { "reject len=1473", "reset len=2000", "timeserver id=17 len=1500", "config id=22 len=65507" };
    // Values out of range and frame types the manager does not know.
    const std::vector<std::string> outOfRange {
        "config id=0", "config id=81", "config id=23 type=0", "config id=24 type=10",
        "raw hex=" + toHex (makeFrame (FRAME_LEAVE_NOTIFY, 0, { 0, 10, 50, 0, 11 })),
        "raw hex=" + toHex (makeFrame (FRAME_DISCONNECT, 0, { 81, 10, 50, 0, 11 })),
        "raw hex=" + toHex (makeFrame (FRAME_CONFIG_NOTIFY, 1, configNotifyBody (25, 1, kPlayerIp, kPlayerMac))),
        "raw hex=" + toHex (makeFrame (12, 0, configNotifyBody (26, 1, kPlayerIp, kPlayerMac))),
        "raw hex=" + toHex (makeFrame (255, 0, { 1, 2, 3 })),
        "raw hex=" + toHex (makeFrame (FRAME_ID_USE, 1, bodyOf ({ 10, 50, 0, 11 }, 14))),
        "raw hex=" + toHex (makeFrame (FRAME_ID_RESPONSE, 7, { 17, 1, 1 })),
    };
    for (const auto* list : { &shortFrames, &oversize, &outOfRange })
        for (const auto& event : *list)
            ASSERT_TRUE (s.sim->command (event)) << event;
    ASSERT_TRUE (sendDatagram (s.net.equipmentNs(), "10.50.0.2", kManagerIp, 50000, {})) << "an empty datagram";
    EXPECT_LT (s.sim->waitFor ([] (const SimLine& l) { return ! l.get ("error").empty(); }, 500ms, simMark), 0) << s.sim->output();

    // Then whole frames of the same kinds, which the manager does handle: it answers the requests
    // for its id, and adds a device announced in a datagram of exactly 1472 bytes. Frames of one
    // sender arrive in order, so once these are handled all of the above have been seen.
    ASSERT_TRUE (s.sim->command ("raw hex=" + toHex (idUseRequest)));
    ASSERT_TRUE (s.sim->command ("idblk wired=0x01 req=4"));
    ASSERT_TRUE (s.sim->command ("config id=21 len=1472"));
    const int answer = s.sim->waitFor ([] (const SimLine& l) { return l.isRx ("IdUseResponse") && l.number ("req") == 7; }, kStepTimeout, simMark);
    const int blkAnswer = s.sim->waitFor ([] (const SimLine& l) { return l.isRx ("IdUseResponse") && l.number ("req") == 4; }, kStepTimeout, simMark);
    ASSERT_TRUE (s.manager->waitForLog ("MainComponent::readConfigNotify add id = 21 ip = 10.50.0.11", kStepTimeout)) << s.describe();
    ASSERT_GE (answer, 0) << s.describe();
    ASSERT_GE (blkAnswer, 0) << s.describe();
    for (const int index : { answer, blkAnswer })
    {
        const auto line = s.sim->lines()[(size_t) index];
        EXPECT_EQ (line.get ("src"), kManagerIp);
        EXPECT_EQ (line.get ("dst"), "10.50.0.11");
        EXPECT_EQ (line.number ("id"), 17);
        EXPECT_EQ (line.number ("status"), 1);
    }

    // None of the bad frames did anything.
    const auto responses = s.sim->received ("IdUseResponse", kManagerIp);
    EXPECT_EQ (responses.size(), 2u) << "only the whole requests are answered\n" << s.describe();
    EXPECT_TRUE (s.manager->logStartingWith ("MainComponent::readDiscoveryRequest").empty()) << s.describe();
    EXPECT_TRUE (s.manager->logStartingWith ("MainComponent::readIdUseResponse").empty()) << s.describe();
    for (const int id : { 0, 20, 22, 23, 24, 25, 26, 81 })
        EXPECT_TRUE (s.manager->logStartingWith ("MainComponent::readConfigNotify add id = " + std::to_string (id) + " ").empty()) << "id " << id;
    EXPECT_TRUE (s.manager->logStartingWith ("MainComponent::readConfigNotify overwrite").empty());
    expectLinkStillUp (s, mark);

    // The players with the odd model names go on refreshing themselves like any other.
    const auto refreshFrom = s.sim->lineCount();
    ASSERT_GE (s.sim->waitFor ([] (const SimLine& l) { return l.isTx ("ConfigNotify") && l.get ("src") == "10.50.0.16"; }, kStepTimeout, refreshFrom), 0);
    std::this_thread::sleep_for (200ms);
    expectLinkStillUp (s, mark);
}

TEST (BadInput, GarbageOnThePipesIsSkippedAndTheLinkStaysUp)
{
    LYRLINK_REQUIRE_E2E();
    E2eScenario s ("pipes");
    bringUp (s);
    if (HasFatalFailure())
        return;
    auto& client = *s.client;
    const auto mark = client.receivedCount();

    // A header that the reader skips, followed on the same connection by a request: the request is
    // read as the next frame and answered.
    struct Case
    {
        const char* what;
        Bytes garbage;
    };
    const Case skipped[] = {
        { "wrong magic", pipeFrame (0x12345678u, sizeof (ProcMsg)) },
        { "length 0", pipeFrame (PIPE_MAGIC, 0) },
        { "length of 10 MiB", pipeFrame (PIPE_MAGIC, 0xA00000u) },
        { "length of 4 GiB", pipeFrame (PIPE_MAGIC, 0xFFFFFFFFu) },
    };
    for (const auto& c : skipped)
    {
        SCOPED_TRACE (c.what);
        ProcMsg reply {};
        ASSERT_EQ (client.sendRaw (kPipeBaseName, c.garbage + requestFrame (KIND_GET_LINK_STATUS), 5000, &reply), Status::ok)
            << s.describe();
        EXPECT_EQ (decodeProcMsg (reply).kind, KIND_GET_LINK_STATUS);
        EXPECT_EQ (decodeProcMsg (reply).result, 1u);
        EXPECT_EQ (reply.data[0], STATE_RUN);
    }

    // Requests that the manager refuses or cannot take whole, on connections of their own.
    enum class Answer
    {
        none,
        refusal,  // result 0
        either    // a request shorter than its four fields may be ignored or read with zeros
    };
    struct Refused
    {
        const char* what;
        Bytes garbage;
        Answer answer;
    };
    const Refused refused[] = {
        { "unknown kind", requestFrame (77), Answer::none },
        { "negative kind", requestFrame (-1), Answer::none },
        { "GetDevice for id 81", requestFrame (KIND_GET_DEVICE, 81), Answer::refusal },
        { "GetDevice for id 0", requestFrame (KIND_GET_DEVICE, 0), Answer::refusal },
        { "request of 4 bytes", pipeFrame (PIPE_MAGIC, 4, { 3, 0, 0, 0 }), Answer::either },
        { "half a header", Bytes { 0x2c, 0x9e, 0xb4 }, Answer::none },
        { "payload cut short by the client closing", pipeFrame (PIPE_MAGIC, 100000, Bytes (300, 0x41)), Answer::none },
    };
    for (const auto& c : refused)
    {
        SCOPED_TRACE (c.what);
        ProcMsg reply {};
        const auto status = client.sendRaw (kPipeBaseName, c.garbage, c.answer == Answer::none ? 300 : 5000, &reply);
        if (c.answer == Answer::none)
            EXPECT_TRUE (status == Status::timeout || status == Status::closed) << client::describe (status);
        if (c.answer == Answer::refusal)
        {
            ASSERT_EQ (status, Status::ok);
            EXPECT_EQ (decodeProcMsg (reply).result, 0u);
            EXPECT_EQ (std::count (reply.data, reply.data + sizeof (reply.data), 0), static_cast<long> (sizeof (reply.data)));
        }
    }
    EXPECT_TRUE (s.manager->hasLog ("MainComponent::messageAnalize NG pzProcMsg->kind = 77")) << s.describe();
    EXPECT_TRUE (s.manager->hasLog ("MainComponent::messageAnalize NG pzProcMsg->kind = -1")) << s.describe();

    // The same on the client's own pipe: garbage, then a request answered on that pipe.
    const auto before = client.receivedCount();
    ASSERT_EQ (client.sendOwnRaw (pipeFrame (0xdeadbeefu, 16) + pipeFrame (PIPE_MAGIC, 0) + requestFrame (77)
                                  + requestFrame (KIND_GET_DEVICE_LIST)),
              Status::ok);
    EXPECT_GE (client.waitFor ([] (const Received& r) { return r.fields.kind == KIND_GET_DEVICE_LIST && r.fields.result == 1; },
                               kStepTimeout, before),
               0)
        << s.describe();

    // And on a fresh connection the manager answers as ever, with the link up all along.
    expectLinkStillUp (s, mark);
}

