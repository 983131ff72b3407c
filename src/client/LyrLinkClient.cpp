// The portable part of the client: status texts, message framing on top of the pipe's byte stream,
// and the requests. Opening, reading and writing the pipe itself is the operating system's part, in
// native/PipeClient_<system>.cpp.
#include "client/LyrLinkClient.h"

#include "client/ClientClock.h"
#include "client/ManagerLauncher.h"

#include <cstddef>
#include <cstring>
#include <thread>

namespace lyrlink::client
{

const char* describe (Status status) noexcept
{
    switch (status)
    {
        case Status::ok: return "ok";
        case Status::noManager: return "no manager is running";
        case Status::timeout: return "timed out";
        case Status::malformed: return "malformed reply";
        case Status::refused: return "refused by the manager";
        case Status::closed: return "the manager closed the pipe";
        case Status::ioError: return "input/output error";
        case Status::startFailed: return "the manager could not be started";
        case Status::startTimeout: return "the started manager did not open its pipe in time";
    }
    return "unknown";
}

//==============================================================================
PipeClient::PipeClient (std::string scope) : m_scope (std::move (scope)) {}

PipeClient::~PipeClient() { close(); }

Status PipeClient::send (const ProcMsg& msg, int timeoutMs)
{
    const auto framed = frameProcMsg (msg);
    return sendRaw (framed.bytes, sizeof (framed.bytes), timeoutMs);
}

bool PipeClient::waitReadable (int timeoutMs)
{
    if (! isOpen())
        return false;
    if (m_pending.size() >= kPipeHeaderSize + sizeof (ProcMsg))
        return true;
    return waitForBytes (timeoutMs);
}

Status PipeClient::receive (ProcMsg& msg, int timeoutMs)
{
    if (! isOpen())
        return Status::closed;
    const auto deadline = Clock::now() + std::chrono::milliseconds (timeoutMs);
    constexpr size_t frameSize = kPipeHeaderSize + sizeof (ProcMsg);

    for (;;)
    {
        if (m_pending.size() >= kPipeHeaderSize)
        {
            // The manager only ever sends whole 1296-byte records.
            uint32_t length = 0;
            if (! isAcceptablePipeHeader (m_pending.data(), length) || length != sizeof (ProcMsg))
                return Status::malformed;
            if (m_pending.size() >= frameSize)
            {
                std::memcpy (&msg, m_pending.data() + kPipeHeaderSize, sizeof (ProcMsg));
                m_pending.erase (m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t> (frameSize));
                return Status::ok;
            }
        }

        uint8_t buffer[4096];
        size_t count = 0;
        const auto status = readSome (buffer, sizeof (buffer), count, msLeft (deadline));
        if (status != Status::ok)
            return status;
        if (count == 0)  // the manager ended the stream, perhaps inside a message
            return m_pending.empty() ? Status::closed : Status::malformed;
        m_pending.insert (m_pending.end(), buffer, buffer + count);
    }
}

//==============================================================================
ManagerClient::ManagerClient (ClientOptions options) : m_options (std::move (options)), m_own (m_options.scope) {}

Status ManagerClient::fail (Status status, const std::string& what)
{
    m_lastError = what + ": " + describe (status);
    return status;
}

Status ManagerClient::sendOnMaster (PipeClient& master, const ProcMsg& request)
{
    auto s = master.open (kPipeBaseName, m_options.timeoutMs);
    if (s != Status::ok)
        return fail (s, std::string ("opening pipe ") + kPipeBaseName);
    s = master.send (request, m_options.timeoutMs);
    if (s != Status::ok)
        return fail (s, "sending the request");
    return Status::ok;
}

Status ManagerClient::post (const ProcMsg& request)
{
    PipeClient master (m_options.scope);
    return sendOnMaster (master, request);
}

Status ManagerClient::request (const ProcMsg& request, ProcMsg& reply)
{
    PipeClient master (m_options.scope);
    auto s = sendOnMaster (master, request);
    if (s != Status::ok)
        return s;
    s = master.receive (reply, m_options.timeoutMs);
    if (s == Status::closed)
        return fail (s, "waiting for the reply (a manager refuses clients of other users)");
    if (s != Status::ok)
        return fail (s, "waiting for the reply");

    // Replies carry the request's kind and pid; anything else is not the answer to this request.
    const auto asked = decodeProcMsg (request);
    const auto got = decodeProcMsg (reply);
    if (got.kind != asked.kind || got.pid != asked.pid)
        return fail (Status::malformed, "reply of kind " + std::to_string (got.kind) + " pid " + std::to_string (got.pid)
                                            + " to a request of kind " + std::to_string (asked.kind));
    if (got.result != 1)
        return fail (got.result == 0 ? Status::refused : Status::malformed,
                     "reply with result " + std::to_string (got.result));
    return Status::ok;
}

Status ManagerClient::getLinkStatus (LinkStatus& status)
{
    ProcMsg reply;
    const auto s = request (makeProcMsg (KIND_GET_LINK_STATUS, currentProcessId(), 0, 0), reply);
    if (s == Status::ok)
        status = recordOf<LinkStatus> (reply);
    return s;
}

Status ManagerClient::getDevice (int id, DeviceEntry& entry)
{
    ProcMsg reply;
    const auto s = request (makeProcMsg (KIND_GET_DEVICE, currentProcessId(), id, 0), reply);
    if (s == Status::ok)
        entry = recordOf<DeviceEntry> (reply);
    else if (s == Status::refused)
        m_lastError = "no device id " + std::to_string (id) + " (ids are 1 to 80)";
    return s;
}

Status ManagerClient::getDeviceList (PeerTable& table)
{
    ProcMsg reply;
    const auto s = request (makeProcMsg (KIND_GET_DEVICE_LIST, currentProcessId(), 0, 0), reply);
    if (s == Status::ok)
        table = recordOf<PeerTable> (reply);
    return s;
}

Status ManagerClient::suspend() { return post (makeProcMsg (KIND_SUSPEND, currentProcessId(), 0, 0)); }

Status ManagerClient::resume() { return post (makeProcMsg (KIND_RESUME, currentProcessId(), 0, 0)); }

Status ManagerClient::connectProcess (uint32_t pid, bool startSuspended)
{
    ProcMsg reply;
    auto s = request (makeProcMsg (KIND_PROCESS_CONNECT, pid, 0, startSuspended ? 1u : 0u), reply);
    if (s == Status::refused)
        return fail (s, "ProcessConnect (pipe " + clientPipeName (pid) + " could not be created; is a client with that process id connected?)");
    if (s != Status::ok)
        return s;

    // The pipe exists before the reply is sent.
    m_pid = pid;
    s = m_own.open (clientPipeName (pid), m_options.timeoutMs);
    if (s != Status::ok)
        return fail (s, "opening pipe " + clientPipeName (pid));
    s = m_own.send (makeProcMsg (KIND_LINK_PERMIT, pid, 0, 0), m_options.timeoutMs);
    if (s != Status::ok)
    {
        m_own.close();
        return fail (s, "sending LinkPermit");
    }
    return Status::ok;
}

Status ManagerClient::nextNotification (ProcMsg& msg, int timeoutMs)
{
    const auto s = m_own.receive (msg, timeoutMs);
    if (s != Status::ok && s != Status::timeout)
        return fail (s, "reading pipe " + clientPipeName (m_pid));
    return s;
}

Status ManagerClient::disconnectProcess()
{
    if (! m_own.isOpen())
        return fail (Status::closed, "ProcessDisconnect");
    const auto s = m_own.send (makeProcMsg (KIND_PROCESS_DISCONNECT, m_pid, 0, 0), m_options.timeoutMs);
    m_own.close();
    if (s != Status::ok)
        return fail (s, "sending ProcessDisconnect");
    return Status::ok;
}

Status ManagerClient::ensureManager (const std::string& program, int timeoutMs)
{
    // Opening the master pipe and closing it again without a word costs the manager nothing: it
    // reads the end of the stream and serves the next client.
    PipeClient probe (m_options.scope);
    auto s = probe.open (kPipeBaseName, m_options.timeoutMs);
    probe.close();
    if (s != Status::noManager)
        return s == Status::ok ? Status::ok : fail (s, std::string ("opening pipe ") + kPipeBaseName);

    uint32_t started = 0;
    std::string why;
    s = launchManagerProgram (program, started, why);
    if (s != Status::ok)
        return fail (s, "starting " + why);

    // Whoever claims the name first is the manager. Another application may have started one
    // at the same moment: the one that lost the race serves nobody and is stopped again.
    const auto deadline = deadlineIn (timeoutMs);
    for (;;)
    {
        // Looked at before the pipe, so that a manager that ended after claiming it is not taken
        // for one that never started.
        const bool alive = isProcessAlive (started);
        PipeClient master (m_options.scope);
        s = master.open (kPipeBaseName, msLeft (deadline));
        if (s == Status::ok)
        {
            // A holder that cannot be told is left alone rather than risk stopping the winner.
            const auto holder = master.getServerProcessId();
            master.close();
            if (holder != 0 && holder != started)
                stopProcess (started, 2000);
            return Status::ok;
        }
        if (s != Status::noManager && s != Status::timeout)
        {
            stopProcess (started, 2000);
            return fail (s, std::string ("opening pipe ") + kPipeBaseName);
        }
        if (! alive)
            return fail (Status::startFailed, program + " ended before it opened pipe " + kPipeBaseName);
        if (msLeft (deadline) == 0)
        {
            stopProcess (started, 2000);
            return fail (Status::startTimeout, program + " did not open pipe " + kPipeBaseName + " within "
                                                   + std::to_string (timeoutMs) + " ms");
        }
        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    }
}

} // namespace lyrlink::client
