// A MainComponent whose pipes are real abstract Unix sockets (under a name prefix of the test's
// own, so no running manager is met), everything else on fakes and virtual time. The test thread
// is the message thread: received messages are handled only while a test pumps the loop.
#pragma once

#include "app/LyrLinkSysMgrLog.h"
#include "app/MainComponent.h"
#include "ipc/LyrLinkIPCServer.h"
#include "netenv/LyrLinkNetworkAccess.h"
#include "client/LyrLinkClient.h"
#include "ipc/native/PipeEndpoint_linux.h"
#include "support/FakePlatform.h"
#include "support/VirtualScheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace lyrlink::test
{

/** A name prefix no other test (or process) uses. */
inline std::string uniquePipeScope()
{
    static std::atomic<int> counter { 0 };
    return "lyrlink-test-" + std::to_string (::getpid()) + "-" + std::to_string (++counter) + "-";
}

/** The fake platform with real pipes. */
class RealPipePlatform final : public LinkPlatform
{
public:
    explicit RealPipePlatform (std::string scope) : m_scope (std::move (scope)) {}

    std::unique_ptr<DatagramPort> createDatagramPort() override { return fake.createDatagramPort(); }
    std::unique_ptr<StreamListener> createStreamListener() override { return fake.createStreamListener(); }
    uint16_t getTcpPort() override { return fake.getTcpPort(); }
    NetRowSource& getNetRowSource() override { return fake.getNetRowSource(); }
    std::unique_ptr<PipeEndpoint> createPipeEndpoint() override { return createLinuxPipeEndpoint (m_scope); }
    bool isProcessRunning (uint32_t pid) override { return fake.isProcessRunning (pid); }
    juce::File getAppDataFolder() override { return fake.getAppDataFolder(); }
    void requestQuit() override { ++quitRequests; }
    TimerObserver* getTimerObserver() override { return fake.getTimerObserver(); }
    LinkRandom& getRandom() override { return fake.getRandom(); }

    FakePlatform fake;
    std::atomic<int> quitRequests { 0 };

private:
    std::string m_scope;
};

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

class RealPipeHarness
{
public:
    RealPipeHarness() : scope (uniquePipeScope()), platform (scope)
    {
        platform.fake.udp->receivingThread = std::this_thread::get_id();
        mc = std::make_unique<MainComponent> (platform);
        mc->getLog().setObserver ([this] (const std::string& text) {
            const std::lock_guard<std::mutex> g (m_logLock);
            m_log.push_back (text);
        });
    }

    ~RealPipeHarness() { mc.reset(); }

    const std::string scope;
    RealPipePlatform platform;
    VirtualScheduler& scheduler = platform.fake.scheduler;
    std::unique_ptr<MainComponent> mc;

    /** A client connection to the pipe of that name under this harness's prefix. */
    std::unique_ptr<client::PipeClient> open (const std::string& name)
    {
        auto c = std::make_unique<client::PipeClient> (scope);
        EXPECT_EQ (c->open (name, 2000), client::Status::ok) << name;
        return c;
    }

    /** Waits (pumping) for one message on c. */
    client::Status receive (client::PipeClient& c, ProcMsg& msg, int timeoutMs = 3000)
    {
        if (! pumpUntil ([&c] { return c.waitReadable (0); }, timeoutMs))
            return client::Status::timeout;
        return c.receive (msg, 1000);
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

    bool logged (const std::string& text) const
    {
        const std::lock_guard<std::mutex> g (m_logLock);
        for (const auto& l : m_log)
            if (l == text)
                return true;
        return false;
    }

    std::vector<std::string> logTexts() const
    {
        const std::lock_guard<std::mutex> g (m_logLock);
        return m_log;
    }

    std::vector<uint32_t> listedPids() const
    {
        std::vector<uint32_t> pids;
        for (int i = 0; i < mc->getConnections().size(); ++i)
            if (auto c = mc->getConnections().get (i))
                pids.push_back (c->pid);
        return pids;
    }

private:
    mutable std::mutex m_logLock;
    std::vector<std::string> m_log;
};

} // namespace lyrlink::test
