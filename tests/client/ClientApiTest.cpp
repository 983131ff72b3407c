// The C interface against a scripted manager on real pipes: every field of the decoded records,
// the error codes and their texts, notifications dispatched from bytes that arrive in pieces, and
// the start of a manager program that cannot serve.
#include "client/ClientApi.h"
#include "client/ManagerLauncher.h"
#include "ipc/RealPipeHarness.h"
#include "ipc/native/PipeEndpoint_linux.h"
#include "lyrlink/client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>
#include <unistd.h>

using namespace lyrlink;
using namespace lyrlink::client;
using namespace lyrlink::test;

namespace
{

using Bytes = std::vector<uint8_t>;

template <typename Record> ProcMsg withRecord (ProcMsg m, const Record& r)
{
    std::memcpy (m.data, &r, sizeof (r));
    return m;
}

uint32_t ownPid() { return currentProcessId(); }

/**
    A manager made of two endpoints under a scope of its own: the master pipe answers each request
    with what answer makes of it (nothing for an empty reply), and the process's own pipe is there
    for the test to write notifications on, byte by byte if it likes.
*/
class ScriptedManager
{
public:
    using Answer = std::function<Bytes (const RequestFields&)>;

    explicit ScriptedManager (Answer answer)
        : scope (uniquePipeScope()), m_master (createLinuxPipeEndpoint (scope)), own (createLinuxPipeEndpoint (scope)),
          m_answer (std::move (answer))
    {
        EXPECT_TRUE (m_master->create (kPipeBaseName));
        EXPECT_TRUE (own->create (clientPipeName (ownPid())));
        m_thread = std::thread ([this] { serve(); });
        // The endpoint takes a client on only while it is read, as the manager's reader does.
        m_ownReader = std::thread ([this] {
            uint8_t buffer[2048];
            for (;;)
            {
                const int n = own->read (buffer, sizeof (buffer));
                if (n < 0)
                    return;
                const std::lock_guard<std::mutex> g (m_lock);
                m_ownBytes.insert (m_ownBytes.end(), buffer, buffer + n);
            }
        });
    }
    ~ScriptedManager()
    {
        m_master->close();
        own->close();
        m_thread.join();
        m_ownReader.join();
    }

    /** What the client wrote on its own pipe so far. */
    Bytes ownBytes() const
    {
        const std::lock_guard<std::mutex> g (m_lock);
        return m_ownBytes;
    }

    /** Writes bytes on the own pipe; they are in the client's socket when this returns. */
    void writeOwn (const Bytes& bytes) { ASSERT_TRUE (own->write (bytes.data(), bytes.size(), 1000, 1000)); }

    std::vector<int32_t> kindsSeen() const
    {
        const std::lock_guard<std::mutex> g (m_lock);
        return m_kinds;
    }

    const std::string scope;

private:
    void serve()
    {
        Bytes frame;
        uint8_t buffer[2048];
        for (;;)
        {
            const int n = m_master->read (buffer, sizeof (buffer));
            if (n < 0)
                return;
            if (n == 0)
            {
                frame.clear(); // the client left: the next one starts afresh
                continue;
            }
            frame.insert (frame.end(), buffer, buffer + n);
            if (frame.size() < kPipeHeaderSize + sizeof (ProcMsg))
                continue;
            const auto request = decodeRequest (frame.data() + kPipeHeaderSize, sizeof (ProcMsg));
            frame.clear();
            {
                const std::lock_guard<std::mutex> g (m_lock);
                m_kinds.push_back (request.kind);
            }
            const auto reply = m_answer (request);
            if (! reply.empty())
                m_master->write (reply.data(), reply.size(), 1000, 1000);
        }
    }

    std::unique_ptr<PipeEndpoint> m_master;

public:
    std::unique_ptr<PipeEndpoint> own;

private:
    Answer m_answer;
    std::thread m_thread, m_ownReader;
    mutable std::mutex m_lock;
    std::vector<int32_t> m_kinds;
    Bytes m_ownBytes;
};

/** The reply a manager gives: kind and pid echoed, id 0, result 1. */
ProcMsg replyTo (const RequestFields& r, uint32_t result = 1) { return makeProcMsg (r.kind, r.pid, 0, result); }

/** A link status with a distinct value in every field the interface decodes. */
LinkStatus sampleStatus()
{
    LinkStatus s {};
    s.state = STATE_RUN;
    s.type = 4;
    s.idClaimed = 1;
    const uint8_t ip[] = { 10, 50, 0, 1 };
    const uint8_t mac[] = { 0x02, 0x00, 0x0a, 0x32, 0x00, 0x01 };
    const uint8_t mask[] = { 255, 255, 255, 0 };
    const uint8_t bssid[] = { 0x0e, 0x1d, 0x2c, 0x3b, 0x4a, 0x59 };
    std::memcpy (s.ip, ip, 4);
    std::memcpy (s.mac, mac, 6);
    std::memcpy (s.netmask, mask, 4);
    std::memcpy (s.bssid, bssid, 6);
    s.id = 18;
    s.reqid = 41;
    s.devcount = 3;
    s.linkif = LINKIF_WIRED;
    s.apmode = 1;
    s.apconnected = 1;
    setVtConnection (s, 0x05);
    return s;
}

DeviceEntry sampleDevice (uint8_t state, uint8_t last)
{
    DeviceEntry e {};
    e.state = state;
    e.type = 2;
    e.cfg1 = 0x77;
    const uint8_t ip[] = { 10, 50, 0, last };
    const uint8_t mac[] = { 0x02, 0x00, 0x0a, 0x32, 0x00, last };
    std::memcpy (e.ip, ip, 4);
    std::memcpy (e.mac, mac, 6);
    return e;
}

/** A manager that accepts the connection and answers every query with the samples. */
ScriptedManager::Answer friendlyAnswer()
{
    return [] (const RequestFields& r) -> Bytes {
        switch (r.kind)
        {
            case KIND_PROCESS_CONNECT: return framed (replyTo (r));
            case KIND_GET_LINK_STATUS: return framed (withRecord (replyTo (r), sampleStatus()));
            case KIND_GET_DEVICE:
                if (! isDeviceId (r.id))
                    return framed (replyTo (r, 0));
                return framed (withRecord (replyTo (r), sampleDevice (DEVICE_PRESENT, static_cast<uint8_t> (r.id))));
            case KIND_GET_DEVICE_LIST:
            {
                PeerTable t {};
                t[1] = sampleDevice (DEVICE_PRESENT, 2);
                t[79] = sampleDevice (DEVICE_REMOVED, 80);
                return framed (withRecord (replyTo (r), t));
            }
            default: return {};
        }
    };
}

struct Connected
{
    explicit Connected (ScriptedManager::Answer answer = friendlyAnswer(), int timeoutMs = 2000)
        : manager (std::move (answer))
    {
        lyrlink_connect_options o;
        lyrlink_connect_options_init (&o);
        o.timeout_ms = timeoutMs;
        result = connectScoped (&o, manager.scope, &client);
    }
    ~Connected() { lyrlink_disconnect (client); }

    ScriptedManager manager;
    lyrlink_client* client = nullptr;
    int result = LYRLINK_ERR_IO;
};

void expectSampleStatus (const lyrlink_link_status& d)
{
    EXPECT_EQ (d.state, LYRLINK_STATE_RUN);
    EXPECT_EQ (d.own_id, 18);
    EXPECT_EQ (d.requested_id, 41);
    EXPECT_EQ (d.id_claimed, 1);
    EXPECT_EQ (Bytes (d.address, d.address + 4), (Bytes { 10, 50, 0, 1 }));
    EXPECT_EQ (Bytes (d.mac, d.mac + 6), (Bytes { 0x02, 0x00, 0x0a, 0x32, 0x00, 0x01 }));
    EXPECT_EQ (Bytes (d.netmask, d.netmask + 4), (Bytes { 255, 255, 255, 0 }));
    EXPECT_EQ (d.interface_kind, LYRLINK_INTERFACE_WIRED);
    EXPECT_EQ (d.device_count, 3);
    EXPECT_EQ (Bytes (d.bssid, d.bssid + 6), (Bytes { 0x0e, 0x1d, 0x2c, 0x3b, 0x4a, 0x59 }));
    EXPECT_EQ (d.ap_mode, 1);
    EXPECT_EQ (d.ap_connected, 1);
    EXPECT_EQ (d.ids_in_use, 0x05u);
}

void expectSampleDevice (const lyrlink_device& d, int id, int state)
{
    EXPECT_EQ (d.id, id);
    EXPECT_EQ (d.state, state);
    EXPECT_EQ (d.type, 2);
    EXPECT_EQ (Bytes (d.address, d.address + 4), (Bytes { 10, 50, 0, static_cast<uint8_t> (id) }));
    EXPECT_EQ (Bytes (d.mac, d.mac + 6), (Bytes { 0x02, 0x00, 0x0a, 0x32, 0x00, static_cast<uint8_t> (id) }));
}

/** What the dispatch callback was handed. */
std::vector<lyrlink_notification>* collected (void* user)
{
    return static_cast<std::vector<lyrlink_notification>*> (user);
}
void collect (const lyrlink_notification* n, void* user) { collected (user)->push_back (*n); }

ProcMsg deviceChanged (int id, uint8_t state)
{
    return withRecord (makeProcMsg (KIND_DEVICE_CHANGED, ownPid(), id, 1),
                       sampleDevice (state, static_cast<uint8_t> (id)));
}

ProcMsg linkStatusChanged()
{
    return withRecord (makeProcMsg (KIND_LINK_STATUS_CHANGED, ownPid(), 18, 1), sampleStatus());
}

} // namespace

TEST (ClientApi, ConnectsAsAFullClientAndDecodesEveryQuery)
{
    Connected c;
    ASSERT_EQ (c.result, LYRLINK_OK) << lyrlink_strerror (c.result);
    ASSERT_NE (c.client, nullptr);
    EXPECT_GE (lyrlink_fd (c.client), 0);

    lyrlink_link_status status {};
    ASSERT_EQ (lyrlink_get_link_status (c.client, &status), LYRLINK_OK);
    expectSampleStatus (status);

    lyrlink_device device {};
    ASSERT_EQ (lyrlink_get_device (c.client, 7, &device), LYRLINK_OK);
    expectSampleDevice (device, 7, LYRLINK_DEVICE_PRESENT);

    lyrlink_device_table table {};
    ASSERT_EQ (lyrlink_get_device_table (c.client, &table), LYRLINK_OK);
    expectSampleDevice (table.devices[1], 2, LYRLINK_DEVICE_PRESENT);
    expectSampleDevice (table.devices[79], 80, LYRLINK_DEVICE_REMOVED);
    EXPECT_EQ (table.devices[0].id, 1);
    EXPECT_EQ (table.devices[0].state, LYRLINK_DEVICE_NEVER_SEEN);

    EXPECT_EQ (lyrlink_suspend (c.client), LYRLINK_OK);
    EXPECT_EQ (lyrlink_resume (c.client), LYRLINK_OK);
    // Suspend and resume have no reply: a query after them shows they were read in order.
    ASSERT_EQ (lyrlink_get_link_status (c.client, &status), LYRLINK_OK);
    EXPECT_EQ (c.manager.kindsSeen(),
               (std::vector<int32_t> { KIND_PROCESS_CONNECT, KIND_GET_LINK_STATUS, KIND_GET_DEVICE,
                                       KIND_GET_DEVICE_LIST, KIND_SUSPEND, KIND_RESUME, KIND_GET_LINK_STATUS }));

    // LinkPermit and, at the end, ProcessDisconnect go on the process's own pipe.
    // LinkPermit was written before connect returned.
    constexpr size_t frame = kPipeHeaderSize + sizeof (ProcMsg);
    ASSERT_TRUE (pumpUntil ([&] { return c.manager.ownBytes().size() >= frame; }));
    const auto permit = c.manager.ownBytes();
    EXPECT_EQ (decodeRequest (permit.data() + kPipeHeaderSize, sizeof (ProcMsg)).kind, KIND_LINK_PERMIT);
    EXPECT_EQ (decodeRequest (permit.data() + kPipeHeaderSize, sizeof (ProcMsg)).pid, ownPid());
    lyrlink_disconnect (c.client);
    c.client = nullptr;
    ASSERT_TRUE (pumpUntil ([&] { return c.manager.ownBytes().size() >= 2 * frame; }));
    EXPECT_EQ (decodeRequest (c.manager.ownBytes().data() + frame + kPipeHeaderSize, sizeof (ProcMsg)).kind,
               KIND_PROCESS_DISCONNECT);
}

TEST (ClientApi, StartsSuspendedWhenAsked)
{
    std::atomic<uint32_t> result { 99 };
    ScriptedManager manager ([&] (const RequestFields& r) -> Bytes {
        if (r.kind == KIND_PROCESS_CONNECT)
            result = r.result;
        return framed (replyTo (r));
    });
    lyrlink_connect_options o;
    lyrlink_connect_options_init (&o);
    o.start_suspended = 1;
    lyrlink_client* client = nullptr;
    ASSERT_EQ (connectScoped (&o, manager.scope, &client), LYRLINK_OK);
    EXPECT_EQ (result.load(), 1u);
    lyrlink_disconnect (client);
}

TEST (ClientApi, ErrorsHaveCodesAndWords)
{
    // Every code has its own text; anything else is an unknown error.
    std::set<std::string> texts;
    for (int code = LYRLINK_OK; code >= LYRLINK_ERR_NO_MEMORY; --code)
    {
        const std::string text = lyrlink_strerror (code);
        EXPECT_NE (text, "unknown error") << code;
        texts.insert (text);
    }
    EXPECT_EQ (texts.size(), static_cast<size_t> (1 - LYRLINK_ERR_NO_MEMORY));
    EXPECT_STREQ (lyrlink_strerror (LYRLINK_ERR_NO_MEMORY - 1), "unknown error");
    EXPECT_STREQ (lyrlink_strerror (1), "unknown error");

    // Each status of the C++ client has a code of its own.
    std::set<int> codes;
    for (const auto s : { Status::ok, Status::noManager, Status::timeout, Status::malformed, Status::refused,
                          Status::closed, Status::ioError, Status::startFailed, Status::startTimeout })
        codes.insert (errorCodeOf (s));
    EXPECT_EQ (codes.size(), 9u);

    // No manager: no handle.
    lyrlink_client* client = reinterpret_cast<lyrlink_client*> (1);
    lyrlink_connect_options o;
    lyrlink_connect_options_init (&o);
    o.timeout_ms = 300;
    EXPECT_EQ (connectScoped (&o, uniquePipeScope(), &client), LYRLINK_ERR_NO_MANAGER);
    EXPECT_EQ (client, nullptr);

    // Arguments.
    EXPECT_EQ (lyrlink_connect (&o, nullptr), LYRLINK_ERR_INVALID_ARGUMENT);
    auto tooOld = o;
    tooOld.struct_size = sizeof (size_t);
    EXPECT_EQ (lyrlink_connect (&tooOld, &client), LYRLINK_ERR_INVALID_ARGUMENT);
    auto noTime = o;
    noTime.timeout_ms = 0;
    EXPECT_EQ (lyrlink_connect (&noTime, &client), LYRLINK_ERR_INVALID_ARGUMENT);
    EXPECT_EQ (lyrlink_get_link_status (nullptr, nullptr), LYRLINK_ERR_INVALID_ARGUMENT);
    EXPECT_EQ (lyrlink_dispatch (nullptr, collect, nullptr), LYRLINK_ERR_INVALID_ARGUMENT);
    EXPECT_EQ (lyrlink_fd (nullptr), -1);
    EXPECT_EQ (lyrlink_disconnect (nullptr), LYRLINK_OK);
    EXPECT_STREQ (lyrlink_last_error (nullptr), "");
}

TEST (ClientApi, RefusalsAndBrokenRepliesGiveTheirCodes)
{
    // A manager that refuses device ids outside 1..80 and garbles the device table.
    Connected c (
        [] (const RequestFields& r) -> Bytes {
            if (r.kind == KIND_GET_DEVICE_LIST)
                return framed (makeProcMsg (KIND_GET_DEVICE, r.pid, 0, 1)); // the wrong kind
            if (r.kind == KIND_GET_LINK_STATUS)
                return {}; // never answers
            return friendlyAnswer() (r);
        },
        300);
    ASSERT_EQ (c.result, LYRLINK_OK);

    lyrlink_device device {};
    EXPECT_EQ (lyrlink_get_device (c.client, 81, &device), LYRLINK_ERR_REFUSED);
    EXPECT_STREQ (lyrlink_last_error (c.client), "no device id 81 (ids are 1 to 80)");
    EXPECT_EQ (lyrlink_get_device (c.client, 80, &device), LYRLINK_OK);
    EXPECT_STREQ (lyrlink_last_error (c.client), "");

    lyrlink_device_table table {};
    EXPECT_EQ (lyrlink_get_device_table (c.client, &table), LYRLINK_ERR_MALFORMED);

    lyrlink_link_status status {};
    EXPECT_EQ (lyrlink_get_link_status (c.client, &status), LYRLINK_ERR_TIMEOUT);
    EXPECT_STREQ (lyrlink_last_error (c.client), "waiting for the reply: timed out");
}

TEST (ClientApi, DispatchHandsOverOnlyCompleteNotificationsAndKeepsTheRest)
{
    Connected c;
    ASSERT_EQ (c.result, LYRLINK_OK);
    std::vector<lyrlink_notification> got;

    // Nothing there: dispatch returns at once.
    EXPECT_EQ (lyrlink_dispatch (c.client, collect, &got), 0);

    auto first = framed (deviceChanged (2, DEVICE_PRESENT));
    auto second = framed (linkStatusChanged());
    Bytes stream = first;
    stream.insert (stream.end(), second.begin(), second.end());
    const auto third = framed (deviceChanged (80, DEVICE_REMOVED));
    stream.insert (stream.end(), third.begin(), third.end());

    // Pieces cut inside the header, inside the record, and across message boundaries; after each
    // piece, exactly the messages complete by then have been handed over.
    const size_t frame = first.size();
    struct Piece
    {
        size_t end;
        size_t completeMessages;
    };
    const Piece pieces[] = { { 3, 0 },         { 8, 0 },     { 9, 0 },         { 700, 0 },
                             { frame - 1, 0 }, { frame, 1 }, { frame + 5, 1 }, { 2 * frame + 100, 2 },
                             { 3 * frame, 3 } };
    size_t sent = 0;
    for (const auto& p : pieces)
    {
        SCOPED_TRACE (p.end);
        c.manager.writeOwn (Bytes (stream.begin() + static_cast<std::ptrdiff_t> (sent),
                                   stream.begin() + static_cast<std::ptrdiff_t> (p.end)));
        sent = p.end;
        const size_t before = got.size();
        const int handed = lyrlink_dispatch (c.client, collect, &got);
        EXPECT_EQ (handed, static_cast<int> (p.completeMessages - before));
        EXPECT_EQ (got.size(), p.completeMessages);
    }

    ASSERT_EQ (got.size(), 3u);
    EXPECT_EQ (got[0].kind, LYRLINK_NOTIFY_DEVICE_CHANGED);
    EXPECT_EQ (got[0].id, 2);
    EXPECT_EQ (got[0].has_device, 1);
    EXPECT_EQ (got[0].has_status, 0);
    expectSampleDevice (got[0].device, 2, LYRLINK_DEVICE_PRESENT);
    EXPECT_EQ (got[1].kind, LYRLINK_NOTIFY_LINK_STATUS_CHANGED);
    EXPECT_EQ (got[1].id, 18);
    EXPECT_EQ (got[1].has_status, 1);
    EXPECT_EQ (got[1].has_device, 0);
    expectSampleStatus (got[1].status);
    expectSampleDevice (got[2].device, 80, LYRLINK_DEVICE_REMOVED);
    EXPECT_STREQ (lyrlink_notification_name (got[2].kind), "DeviceChanged");

    // Every kind that carries a link status is decoded as one.
    for (const int32_t kind : { KIND_LINK_REJECTED, KIND_AP_DEVICE_LINK_UP, KIND_CONFIG_SEEN_WHILE_SUSPENDED })
    {
        const auto n = decodeNotification (withRecord (makeProcMsg (kind, ownPid(), 5, 1), sampleStatus()));
        EXPECT_EQ (n.kind, kind);
        EXPECT_EQ (n.id, 5);
        EXPECT_EQ (n.has_status, 1);
        expectSampleStatus (n.status);
    }
}

TEST (ClientApi, DispatchReportsTheEndOfThePipeAfterWhatCameBeforeIt)
{
    struct Case
    {
        const char* what;
        size_t tail; // bytes of a second message written before the end
        int code;
    };
    for (const auto& k :
         { Case { "clean end", 0, LYRLINK_ERR_CLOSED }, Case { "end inside a message", 20, LYRLINK_ERR_MALFORMED } })
    {
        SCOPED_TRACE (k.what);
        Connected c;
        ASSERT_EQ (c.result, LYRLINK_OK);
        auto bytes = framed (deviceChanged (3, DEVICE_PRESENT));
        const auto next = framed (deviceChanged (4, DEVICE_PRESENT));
        bytes.insert (bytes.end(), next.begin(), next.begin() + static_cast<std::ptrdiff_t> (k.tail));
        c.manager.writeOwn (bytes);
        c.manager.own->close();

        std::vector<lyrlink_notification> got;
        ASSERT_EQ (lyrlink_dispatch (c.client, collect, &got), k.code) << lyrlink_last_error (c.client);
        ASSERT_EQ (got.size(), 1u);
        EXPECT_EQ (got[0].id, 3);
    }
}

TEST (ClientApi, WaitBlocksUpToItsLimitForTheNextNotification)
{
    Connected c;
    ASSERT_EQ (c.result, LYRLINK_OK);
    lyrlink_notification n {};
    EXPECT_EQ (lyrlink_wait (c.client, 0, &n), LYRLINK_ERR_TIMEOUT);
    EXPECT_STREQ (lyrlink_last_error (c.client), "no notification within 0 ms");
    EXPECT_EQ (lyrlink_wait (c.client, -1, &n), LYRLINK_ERR_INVALID_ARGUMENT);

    // Half a message stays for the wait that follows.
    const auto bytes = framed (linkStatusChanged());
    c.manager.writeOwn (Bytes (bytes.begin(), bytes.begin() + 600));
    EXPECT_EQ (lyrlink_wait (c.client, 0, &n), LYRLINK_ERR_TIMEOUT);
    std::thread rest ([&] { c.manager.writeOwn (Bytes (bytes.begin() + 600, bytes.end())); });
    EXPECT_EQ (lyrlink_wait (c.client, 5000, &n), LYRLINK_OK);
    rest.join();
    EXPECT_EQ (n.kind, LYRLINK_NOTIFY_LINK_STATUS_CHANGED);
    expectSampleStatus (n.status);
}

TEST (ClientApi, NamesForNumbersAndTheInstalledManager)
{
    // The program that on-demand start runs by default is the installed one, by absolute path.
    const std::string installed = lyrlink_default_manager_path();
    EXPECT_EQ (installed.front(), '/');
    EXPECT_EQ (installed.substr (installed.size() - std::strlen ("/bin/LyrLinkSysMgr")), "/bin/LyrLinkSysMgr");

    EXPECT_STREQ (lyrlink_state_name (LYRLINK_STATE_RUN), "RUN");
    EXPECT_STREQ (lyrlink_state_name (300), "UNKNOWN");
    EXPECT_STREQ (lyrlink_interface_kind_name (LYRLINK_INTERFACE_WIRELESS), "wireless");
    EXPECT_STREQ (lyrlink_device_state_name (LYRLINK_DEVICE_REMOVED), "removed");
    EXPECT_STREQ (lyrlink_notification_name (LYRLINK_NOTIFY_CONFIG_SEEN_WHILE_SUSPENDED), "ConfigSeenWhileSuspended");
    EXPECT_STREQ (lyrlink_notification_name (5), "unknown");
}

//==============================================================================
namespace
{
/** An executable script in a folder of its own, removed at the end. */
struct Script
{
    explicit Script (const std::string& body)
    {
        char pattern[] = "/tmp/lyrlink-client-test-XXXXXX";
        folder = ::mkdtemp (pattern);
        path = folder + "/manager";
        std::ofstream (path) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions (path, std::filesystem::perms::owner_all);
    }
    ~Script() { std::filesystem::remove_all (folder); }

    std::string folder, path;
};

int connectStarting (const std::string& scope, const char* program, int startTimeoutMs, lyrlink_client** client)
{
    lyrlink_connect_options o;
    lyrlink_connect_options_init (&o);
    o.start_manager = 1;
    o.manager_path = program;
    o.start_timeout_ms = startTimeoutMs;
    o.timeout_ms = 1000;
    return connectScoped (&o, scope, client);
}
} // namespace

TEST (ClientApi, AManagerThatCannotStartGivesAClearErrorNotAHang)
{
    const auto scope = uniquePipeScope();
    lyrlink_client* client = nullptr;

    // Nothing to run, or a program that ends at once: start failed, long before the limit.
    Script ends ("exit 3");
    for (const std::string& program : { std::string ("/nonexistent/LyrLinkSysMgr"), ends.path })
    {
        SCOPED_TRACE (program);
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ (connectStarting (scope, program.c_str(), 20000, &client), LYRLINK_ERR_START_FAILED);
        EXPECT_EQ (client, nullptr);
        EXPECT_LT (std::chrono::steady_clock::now() - before, std::chrono::seconds (10));
    }

    // A program that runs on but never opens the pipe: the limit, then it is stopped again.
    Script hangs ("echo $$ > \"$(dirname \"$0\")/pid\"; exec sleep 60");
    EXPECT_EQ (connectStarting (scope, hangs.path.c_str(), 1000, &client), LYRLINK_ERR_START_TIMEOUT);
    std::ifstream pidFile (hangs.folder + "/pid");
    uint32_t pid = 0;
    ASSERT_TRUE (pidFile >> pid);
    EXPECT_NE (pid, ownPid());
    EXPECT_FALSE (isProcessAlive (pid));
}

TEST (ClientApi, ARunningManagerIsUsedAndNoneIsStarted)
{
    Connected running; // holds the master pipe under its scope
    ASSERT_EQ (running.result, LYRLINK_OK);
    lyrlink_disconnect (running.client);
    running.client = nullptr;

    // The program does not exist, so a start would fail: the connection shows none was tried.
    lyrlink_client* client = nullptr;
    EXPECT_EQ (connectStarting (running.manager.scope, "/nonexistent/LyrLinkSysMgr", 1000, &client), LYRLINK_OK);
    lyrlink_disconnect (client);
}
