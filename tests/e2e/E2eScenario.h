// The pieces from which the end-to-end scenarios are built: the real manager with its log, a
// client on its pipes, the equipment simulator with its JSON output, a veth network with all three
// in place, and equipment frames made by hand for what the simulator does not send.
//
// The manager's pipes are abstract Unix sockets, which belong to a network namespace: every client
// operation that connects runs on a thread that has entered the manager's namespace.
#pragma once

#include "client/LyrLinkClient.h"
#include "e2e/E2eSupport.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lyrlink::e2e
{

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

/** "a.b.c.d" of four octets. */
std::string ipText (const uint8_t* ip);

/** A name for namespaces of this test run: "lyr-", what, "-" and the process id. */
std::string uniqueName (const std::string& what);

/** A network namespace of uniqueName (what) with only its loopback, up; deleted at the end with
    everything still in it. */
struct LoopbackNamespace
{
    explicit LoopbackNamespace (const std::string& what);
    ~LoopbackNamespace();
    LoopbackNamespace (const LoopbackNamespace&) = delete;
    LoopbackNamespace& operator= (const LoopbackNamespace&) = delete;

    std::string name;
    bool ready = false;
};

//==============================================================================
/** LyrLinkSysMgr running in a network namespace, with a home folder (and so a log) of its own. */
class Manager
{
public:
    explicit Manager (const std::string& netns);

    const std::string& home() const { return m_home.path(); }
    Process& process() { return m_process; }

    /** The log's message texts, in order. */
    std::vector<std::string> log() const;
    bool hasLog (const std::string& line) const;
    size_t countLog (const std::string& line) const;
    /** Waits until the log holds the exact line (count times). */
    bool waitForLog (const std::string& line, std::chrono::milliseconds timeout, size_t count = 1) const;
    /** The log lines that begin with prefix. */
    std::vector<std::string> logStartingWith (const std::string& prefix) const;
    /** The log and the program's own output, for failure messages. */
    std::string describe() const;

private:
    TempDir m_home;
    Process m_process;
};

//==============================================================================
/** One message that a client received on its own pipe, with the time it arrived. */
struct Received
{
    Clock::time_point at;
    RequestFields fields;
    ProcMsg msg;

    LinkStatus linkStatus() const;
    DeviceEntry device() const;
    bool isLinkStatusChanged (uint8_t state) const;
    bool isDeviceChanged (int id, uint8_t state) const;
};

/**
    A client application: ProcessConnect with a process id on the master pipe, its own pipe opened
    and LinkPermit sent, then every message on its own pipe collected by a reader thread. Requests
    with a reply go over the master pipe, as lyrlinkctl sends them.
*/
class TestClient
{
public:
    TestClient (std::string netns, uint32_t pid);
    ~TestClient();

    TestClient (const TestClient&) = delete;
    TestClient& operator= (const TestClient&) = delete;

    uint32_t pid() const { return m_pid; }

    client::Status connect (bool startSuspended = false);
    /** ProcessDisconnect on the own pipe, which is then closed. */
    client::Status disconnect();
    /** Closes the own pipe without a word, as a client that crashes. */
    void abandon();

    /** Sends a request or any bytes on the own pipe. */
    client::Status sendOwn (const ProcMsg& msg);
    client::Status sendOwnRaw (const Bytes& bytes);

    /** Requests on the master pipe. */
    client::Status getLinkStatus (LinkStatus& status);
    client::Status getDevice (int id, DeviceEntry& entry);
    client::Status getDeviceList (PeerTable& table);
    client::Status suspend();
    client::Status resume();
    /** Opens the pipe of that name, sends bytes as they are, waits up to replyWaitMs for a reply
        (the reply is returned in reply when one came) and closes. */
    client::Status sendRaw (const std::string& pipeName, const Bytes& bytes, int replyWaitMs = 0, ProcMsg* reply = nullptr);

    /** Everything received on the own pipe so far. */
    std::vector<Received> received() const;
    size_t receivedCount() const;
    /** Waits for a message from index from on that fulfils predicate; its index, or -1. */
    int waitFor (const std::function<bool (const Received&)>& predicate, std::chrono::milliseconds timeout,
                 size_t from = 0) const;
    /** The messages received, one line each, for failure messages. */
    std::string describe() const;

private:
    void startReader();
    void stopReader();

    std::string m_netns;
    uint32_t m_pid;
    client::PipeClient m_own;
    client::ManagerClient m_requests;
    std::thread m_reader;
    std::atomic<bool> m_stop { false };
    mutable std::mutex m_lock;
    std::vector<Received> m_received;
};

//==============================================================================
/** One line of the simulator's --json output: a flat object, values kept as text. */
struct SimLine
{
    std::map<std::string, std::string> fields;

    std::string get (const std::string& key) const;
    long long number (const std::string& key, long long fallback = -1) const;
    bool isRx (const std::string& name) const { return get ("dir") == "rx" && get ("name") == name; }
    bool isTx (const std::string& name) const { return get ("dir") == "tx" && get ("name") == name; }
};

/** Parses one flat JSON object (strings, numbers, true/false); false if the line is not one. */
bool parseSimLine (const std::string& text, SimLine& line);

/** lyrlinksim with --json --verbose, its standard input open for events. */
class Simulator
{
public:
    Simulator (const std::string& netns, const std::vector<std::string>& args);

    Process& process() { return m_process; }
    /** When the simulator was started: its time stamps ("t") count from about then. */
    Clock::time_point startedAt() const { return m_startedAt; }
    /** Sends one event line ("leave id=2"). */
    bool command (const std::string& event);

    std::vector<SimLine> lines() const;
    /** Waits for a line from index from on that fulfils predicate; its index, or -1. */
    int waitFor (const std::function<bool (const SimLine&)>& predicate, std::chrono::milliseconds timeout,
                 size_t from = 0) const;
    size_t lineCount() const { return lines().size(); }
    /** The frames of that name that the simulator received from source. */
    std::vector<SimLine> received (const std::string& name, const std::string& source) const;
    /** Waits for a frame of that name from source, from line index from on; its index, or -1. */
    int waitForReceived (const std::string& name, const std::string& source, std::chrono::milliseconds timeout,
                         size_t from = 0) const;
    std::string output() const;

private:
    TempDir m_folder;
    Clock::time_point m_startedAt;
    Process m_process;
};

//==============================================================================
/** An equipment frame: the 36-byte header and body. */
Bytes makeFrame (uint8_t type, uint8_t subType, const Bytes& body, const std::string& model = "DKP-3000",
                 uint8_t minor = 3, uint8_t hdrclass = 1);
/** A ConfigNotify body of 18 bytes. */
Bytes configNotifyBody (uint8_t id, uint8_t deviceType, const std::array<uint8_t, 4>& ip,
                        const std::array<uint8_t, 6>& mac);
/** Lower-case hex digits, for the simulator's raw event. */
std::string toHex (const Bytes& bytes);
/** bytes cut to size (or padded with zeros). */
Bytes resized (Bytes bytes, size_t size);

/** Sends one UDP datagram from a socket bound to from (port 0) inside netns to to:port. */
bool sendDatagram (const std::string& netns, const std::string& from, const std::string& to, uint16_t port,
                   const Bytes& bytes);

/** A TCP connection made from inside a network namespace. */
class TcpConnection
{
public:
    TcpConnection (const std::string& netns, const std::string& address, uint16_t port);
    ~TcpConnection();
    TcpConnection (const TcpConnection&) = delete;
    TcpConnection& operator= (const TcpConnection&) = delete;

    bool isConnected() const { return m_fd >= 0; }
    bool send (const Bytes& bytes);
    /** Reads what has arrived without waiting: the byte count, 0 at the end of the stream, -1 when
        nothing is there. */
    int receiveNow (uint8_t* buffer, size_t size);
    void close();

private:
    int m_fd = -1;
};

//==============================================================================
/**
    The stage of every link scenario: two namespaces joined by a veth pair, the manager in its
    own, one client connected (with the test's own process id) that permits link-up, and the
    simulator in the equipment's namespace once startSimulator is called.
*/
class E2eScenario
{
public:
    explicit E2eScenario (const std::string& name, const std::string& managerCidr = "10.50.0.1/24",
                          const std::string& equipmentCidr = "10.50.0.2/24");

    /** Empty when the stage is set, else what failed. */
    const std::string& problem() const { return m_problem; }

    /** Starts the simulator with these --device descriptions (their addresses are added to the
        equipment side first) and further arguments. */
    bool startSimulator (const std::vector<std::string>& devices, const std::vector<std::string>& extraArgs = {});

    /** Waits for a LinkStatusChanged to state (with own id id when not 0) from message index from on. */
    int waitForLinkState (uint8_t state, int id, std::chrono::milliseconds timeout, size_t from = 0) const;

    /** The log, the client's messages and the simulator's output. */
    std::string describe() const;

    VethNetwork net;
    std::unique_ptr<Manager> manager;
    std::unique_ptr<TestClient> client;
    std::unique_ptr<Simulator> sim;

private:
    std::string m_prefixLength;
    std::string m_problem;
};

/** Generous limits for a machine under load: the protocol itself needs about 4 s to come up. */
constexpr std::chrono::milliseconds kLinkUpTimeout { 15000 };
constexpr std::chrono::milliseconds kStepTimeout { 5000 };

} // namespace lyrlink::e2e
