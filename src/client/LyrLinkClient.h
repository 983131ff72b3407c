// The client side of the manager's pipes, without JUCE: what lyrlinkctl and the end-to-end tests
// use. A PipeClient is one open connection to one pipe; a ManagerClient speaks the requests on top
// of it. Each pipe serves one client at a time, so a ManagerClient keeps the master pipe open only
// for the length of one request.
#pragma once

#include "ipc/ProcMsg.h"
#include "link/LinkRecords.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lyrlink::client
{

/** How a client operation ended. */
enum class Status
{
    ok,
    noManager,     // nobody holds the pipe name
    timeout,       // no connection, reply or room to write in time
    malformed,     // the bytes received are not a message of the manager's
    refused,       // the manager answered with result 0
    closed,        // the manager ended the connection
    ioError,       // any other failure of the socket
    startFailed,   // the manager program could not be run, or ended before it opened its pipe
    startTimeout   // a started manager did not open its pipe in time
};

/** A short English description of a status. */
const char* describe (Status status) noexcept;

/** This process's id, as the manager knows it. */
uint32_t currentProcessId() noexcept;

/** The pipe name of a client process, as the manager forms it. */
using lyrlink::clientPipeName;

class PipeClient
{
public:
    /** scope is put before every pipe name, as the manager's endpoint does (tests only). */
    explicit PipeClient (std::string scope = {});
    ~PipeClient();

    PipeClient (const PipeClient&) = delete;
    PipeClient& operator= (const PipeClient&) = delete;

    /** Connects to the pipe of that name, waiting at most timeoutMs while its queue is full.
        A connection may be made while the manager still serves another client on the same pipe:
        it is served when that client lets go. */
    Status open (const std::string& name, int timeoutMs);
    bool isOpen() const noexcept { return m_handle != kNoHandle; }
    void close();

    /** Frames msg and writes it, waiting at most timeoutMs for room. */
    Status send (const ProcMsg& msg, int timeoutMs);
    /** Writes bytes as they are (tests send broken frames this way). */
    Status sendRaw (const void* data, size_t size, int timeoutMs);

    /** Waits at most timeoutMs for one whole message. Every message of the manager is one
        1296-byte record behind a header; anything else is malformed, and the connection is then
        of no further use. Bytes of a message that is not complete yet are kept for the next call. */
    Status receive (ProcMsg& msg, int timeoutMs);

    /** True when bytes (or the end of the stream) are waiting, after at most timeoutMs. */
    bool waitReadable (int timeoutMs);

    /** What an application's event loop waits on for this connection: on Linux the socket's
        descriptor, readable (POLLIN) while bytes or the end of the stream are waiting; kNoHandle
        when not open. Only for waiting: reading stays with receive, which keeps a message that
        has only partly arrived. A Windows version must hand out a handle that is signalled in the
        same way (the event of an overlapped read, for instance). */
    std::intptr_t getPollHandle() const noexcept { return m_handle; }

    /** The process id of the server at the other end, that is of the process that claimed the
        pipe's name; 0 when it cannot be told or the pipe is not open. (Native; on Windows the
        pipe's server process id.) */
    uint32_t getServerProcessId() const;

    static constexpr std::intptr_t kNoHandle = -1;

private:
    // The operating system's part (native/PipeClient_<system>.cpp).

    /** Waits at most timeoutMs for bytes (or the end of the stream) on the connection. */
    bool waitForBytes (int timeoutMs);
    /** Reads what has arrived, waiting at most timeoutMs for the first byte. ok with count > 0
        for bytes, ok with count 0 at the end of the stream; closed when the manager reset the
        connection, timeout or ioError otherwise. */
    Status readSome (uint8_t* buffer, size_t capacity, size_t& count, int timeoutMs);

    std::string m_scope;
    std::intptr_t m_handle = kNoHandle;  // the connection's descriptor or handle
    std::vector<uint8_t> m_pending;
};

/** Options shared by every request. */
struct ClientOptions
{
    std::string scope;       // pipe name prefix; empty for the real manager
    int timeoutMs = 5000;    // for connecting, writing and each reply
};

class ManagerClient
{
public:
    explicit ManagerClient (ClientOptions options = {});

    /** One request on the master pipe and its reply, checked to echo kind and pid. */
    Status request (const ProcMsg& request, ProcMsg& reply);
    /** One request on the master pipe that has no reply. */
    Status post (const ProcMsg& request);
    /** Opens the master pipe on master and sends request on it. */
    Status sendOnMaster (PipeClient& master, const ProcMsg& request);

    Status getLinkStatus (LinkStatus& status);
    /** refused when id is not a device id the manager knows (1..80). */
    Status getDevice (int id, DeviceEntry& entry);
    Status getDeviceList (PeerTable& table);
    Status suspend();
    Status resume();

    /** Becomes a full client: ProcessConnect with pid on the master pipe (startSuspended asks the
        manager to start suspended), then its own pipe is opened and LinkPermit sent on it. */
    Status connectProcess (uint32_t pid, bool startSuspended = false);
    /** The next notification on the own pipe, after at most timeoutMs (0: only what has arrived;
        a message that has only partly arrived stays for the next call). */
    Status nextNotification (ProcMsg& msg, int timeoutMs);
    /** The own pipe, for an event loop to wait on (getPollHandle). */
    const PipeClient& getOwnPipe() const noexcept { return m_own; }

    /** Makes sure a manager holds the master pipe: when nobody does, starts program and waits at
        most timeoutMs for a manager to claim it. Whoever claims the name first is the manager:
        when another one wins the race, the one started here is stopped again. startFailed when
        the program cannot be run or ends before any manager is there, startTimeout when none
        came in time (the started program is then stopped). */
    Status ensureManager (const std::string& program, int timeoutMs);
    /** ProcessDisconnect on the own pipe, which is then closed. The manager ends when no other
        client is left. */
    Status disconnectProcess();
    bool isProcessConnected() const noexcept { return m_own.isOpen(); }

    /** What went wrong in the last failed operation, in words. */
    const std::string& getLastError() const noexcept { return m_lastError; }

private:
    Status fail (Status status, const std::string& what);

    ClientOptions m_options;
    PipeClient m_own;
    uint32_t m_pid = 0;
    std::string m_lastError;
};

} // namespace lyrlink::client
