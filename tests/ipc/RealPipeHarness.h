// A MainComponent whose pipes are the system's real ones (abstract Unix sockets on Linux, named
// pipes on Windows; under a name prefix of the test's own, so no running manager is met), everything else on the fakes
// and virtual time of LinkHarness. The test thread is the message thread: received messages are handled only while a
// test pumps the loop.
#pragma once

#include "app/LyrLinkSysMgrLog.h"
#include "app/MainComponent.h"
#include "client/LyrLinkClient.h"
#include "ipc/LyrLinkIPCServer.h"
#include "netenv/LyrLinkNetworkAccess.h"
#ifdef _WIN32
#include "ipc/native/PipeEndpoint_windows.h"
#else
#include "ipc/native/PipeEndpoint_linux.h"
#endif
#include "support/LinkHarness.h"
#include "support/PipeTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <vector>

namespace lyrlink::test
{

/** A real pipe server end of this system, under scope. */
inline std::unique_ptr<PipeEndpoint> createRealPipeEndpoint (const std::string& scope)
{
#ifdef _WIN32
    return createWindowsPipeEndpoint (scope);
#else
    return createLinuxPipeEndpoint (scope);
#endif
}

/** Runs the message loop until done() or the time is up; true when done. */
inline bool pumpUntil (const std::function<bool()>& done, int timeoutMs = 3000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);
    while (! done())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    }
    return true;
}

/** Runs the message loop for a while (to show that something does not happen). */
inline void pumpFor (int ms)
{
    pumpUntil ([] { return false; }, ms);
}

/** A LinkHarness whose platform makes real pipes under a prefix of its own. */
class RealPipeHarness : public LinkHarness
{
public:
    explicit RealPipeHarness (const std::string& pipeScope = uniquePipeScope())
        : LinkHarness ([pipeScope] (FakePlatform& p) {
              p.makePipeEndpoint = [pipeScope] { return createRealPipeEndpoint (pipeScope); };
          }),
          scope (pipeScope)
    {
    }

    const std::string scope;

    /** A client connection to the pipe of that name under this harness's prefix. */
    std::unique_ptr<client::PipeClient> open (const std::string& name)
    {
        auto c = std::make_unique<client::PipeClient> (scope);
        EXPECT_EQ (c->open (name, 2000), client::Status::ok) << name;
        return c;
    }

    /** Waits (pumping) for one message on c. The client reads on a thread of its own: a pipe's
        buffer may hold less than a message (Windows pipes hold 64 bytes), and then the manager's
        send on the message thread completes only while the client reads. */
    client::Status receive (client::PipeClient& c, ProcMsg& msg, int timeoutMs = 3000)
    {
        auto reading = std::async (std::launch::async, [&c, &msg, timeoutMs] { return c.receive (msg, timeoutMs); });
        pumpUntil ([&reading] { return reading.wait_for (std::chrono::seconds (0)) == std::future_status::ready; },
                   timeoutMs + 1000);
        return reading.get();
    }

    /** Sends a request on c and waits (pumping) for the reply. */
    client::Status exchange (client::PipeClient& c, const ProcMsg& request, ProcMsg& reply, int timeoutMs = 3000)
    {
        const auto s = c.send (request, 1000);
        return s != client::Status::ok ? s : receive (c, reply, timeoutMs);
    }

    /** Pumps until a request has been handled: the log grows by a line containing text. */
    bool waitForLog (const std::string& text, int timeoutMs = 3000)
    {
        return pumpUntil ([&] { return logged (text); }, timeoutMs);
    }
};

/** ProcessConnect on a fresh master connection (closed afterwards); the reply's result. */
inline uint32_t connectProcess (RealPipeHarness& h, uint32_t pid)
{
    auto master = h.open (kPipeBaseName);
    ProcMsg reply;
    EXPECT_EQ (h.exchange (*master, makeProcMsg (KIND_PROCESS_CONNECT, pid, 0, 0), reply), client::Status::ok);
    return reply.result;
}

} // namespace lyrlink::test
