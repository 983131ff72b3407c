// A MainComponent on fakes in virtual time: frames go in through the real UDP endpoint's filter
// (or straight to frameRead), timers run through the VirtualScheduler, and the harness records
// every frame sent, every pipe message and every log line with its virtual time.
#pragma once

#include "app/LyrLinkSysMgrLog.h"
#include "app/MainComponent.h"
#include "ipc/LyrLinkIPCServer.h"
#include "netenv/LyrLinkNetworkAccess.h"
#include "transport/LyrLinkSysMgrTCP.h"
#include "ipc/ProcMsg.h"
#include "support/FakePlatform.h"
#include "support/TestFrames.h"
#include "support/VirtualScheduler.h"

#include <memory>
#include <string>
#include <vector>

namespace lyrlink::test
{

/** A pipe message the manager wrote, decoded. */
struct PipeMessage
{
    std::string pipe;
    ProcMsg msg;
    LinkStatus linkStatus() const;   // data as a LinkStatus
    DeviceEntry device() const;      // data as a DeviceEntry
};

struct LogLine
{
    int64_t atMs;
    std::string text;
};

class LinkHarness
{
public:
    /** configure runs on the fake platform before the component is made. */
    explicit LinkHarness (const std::function<void (FakePlatform&)>& configure = {});
    ~LinkHarness();

    FakePlatform platform;
    VirtualScheduler& scheduler = platform.scheduler;
    std::unique_ptr<MainComponent> mc;

    /** A datagram from source through the endpoint's receive and filter, on this thread. */
    void receive (Ipv4 source, const std::vector<uint8_t>& bytes);
    /** Straight to frameRead, as the TCP server delivers (source 0.0.0.0). */
    void frameRead (const std::vector<uint8_t>& bytes);

    /** A request on the connection at index, as the pipe reader would deliver it. */
    void request (int index, int32_t kind, uint32_t pid, int32_t id = 0, uint32_t result = 0);
    /** ProcessConnect on the master pipe and LinkPermit on the client's own pipe. */
    void connectClient (uint32_t pid, bool startSuspended = false);

    std::vector<SentDatagram> sent() const;
    void clearSent();
    std::vector<PipeMessage> pipeMessages() const;
    /** Messages written to per-client pipes (notifications), in order. */
    std::vector<PipeMessage> notifications() const;
    void clearPipeMessages();
    /** The pid of every listed connection, master first. */
    std::vector<uint32_t> listedPids() const;

    std::vector<LogLine> log() const;
    std::vector<std::string> logTexts() const;
    bool logged (const std::string& text) const;
    void clearLog();

private:
    mutable std::mutex m_logLock;
    std::vector<LogLine> m_log;
};

std::string hex (const std::vector<uint8_t>& bytes);

} // namespace lyrlink::test
