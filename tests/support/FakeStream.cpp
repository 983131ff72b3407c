#include "support/FakeStream.h"

#include <algorithm>
#include <cstring>

namespace lyrlink::test
{

class FakeStreamConnection final : public StreamConnection
{
public:
    explicit FakeStreamConnection (std::shared_ptr<FakeStreamPeer> peer) : m_peer (std::move (peer)) {}

    ~FakeStreamConnection() override
    {
        {
            const std::lock_guard<std::mutex> g (m_peer->m_lock);
            m_peer->m_serverClosed = true;
        }
        m_peer->m_changed.notify_all();
    }

    int read (uint8_t* buffer, size_t capacity) override
    {
        auto& p = *m_peer;
        std::unique_lock<std::mutex> l (p.m_lock);
        p.m_capacities.push_back (capacity);
        ++p.m_waitingReads;
        p.m_changed.notify_all();
        p.m_changed.wait (l, [&p] { return ! p.m_chunks.empty() || p.m_peerClosed || p.m_failed || p.m_shutDown; });
        --p.m_waitingReads;
        if (! p.m_chunks.empty() && ! p.m_shutDown)
        {
            auto& chunk = p.m_chunks.front();
            const size_t n = std::min (capacity, chunk.size());
            std::memcpy (buffer, chunk.data(), n);
            chunk.erase (chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t> (n));
            if (chunk.empty())
                p.m_chunks.pop_front();
            return static_cast<int> (n);
        }
        return p.m_failed && ! p.m_shutDown ? -1 : 0;
    }

    void shutdown() override
    {
        {
            const std::lock_guard<std::mutex> g (m_peer->m_lock);
            m_peer->m_shutDown = true;
        }
        m_peer->m_changed.notify_all();
    }

private:
    std::shared_ptr<FakeStreamPeer> m_peer;
};

//==============================================================================
void FakeStreamPeer::send (std::vector<uint8_t> bytes)
{
    {
        const std::lock_guard<std::mutex> g (m_lock);
        if (! bytes.empty())
            m_chunks.push_back (std::move (bytes));
    }
    m_changed.notify_all();
}

void FakeStreamPeer::close()
{
    {
        const std::lock_guard<std::mutex> g (m_lock);
        m_peerClosed = true;
    }
    m_changed.notify_all();
}

void FakeStreamPeer::fail()
{
    {
        const std::lock_guard<std::mutex> g (m_lock);
        m_failed = true;
    }
    m_changed.notify_all();
}

bool FakeStreamPeer::waitUntilDrained (std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> l (m_lock);
    return m_changed.wait_for (l, limit, [this] { return (m_chunks.empty() && m_waitingReads > 0) || m_serverClosed; });
}

bool FakeStreamPeer::waitUntilClosed (std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> l (m_lock);
    return m_changed.wait_for (l, limit, [this] { return m_serverClosed; });
}

bool FakeStreamPeer::isAccepted() const
{
    const std::lock_guard<std::mutex> g (m_lock);
    return m_accepted;
}

bool FakeStreamPeer::isClosedByServer() const
{
    const std::lock_guard<std::mutex> g (m_lock);
    return m_serverClosed;
}

bool FakeStreamPeer::wasShutDown() const
{
    const std::lock_guard<std::mutex> g (m_lock);
    return m_shutDown;
}

std::vector<size_t> FakeStreamPeer::readCapacities() const
{
    const std::lock_guard<std::mutex> g (m_lock);
    return m_capacities;
}

//==============================================================================
std::shared_ptr<FakeStreamPeer> FakeStreamHub::connect()
{
    auto peer = std::make_shared<FakeStreamPeer>();
    {
        const std::lock_guard<std::mutex> g (lock);
        pending.push_back (peer);
    }
    changed.notify_all();
    return peer;
}

bool FakeStreamListener::open (uint16_t port, int backlog)
{
    const std::lock_guard<std::mutex> g (m_hub->lock);
    if (m_open || ! m_hub->openSucceeds)
        return false;
    m_open = true;
    m_port = port == 0 ? 50000 : port;
    ++m_hub->opens;
    m_hub->openedPort = port;
    m_hub->openedBacklog = backlog;
    m_hub->listening = true;
    m_hub->shutDown = false;
    return true;
}

StreamListener::WaitResult FakeStreamListener::waitForConnection (int timeoutMs)
{
    std::unique_lock<std::mutex> l (m_hub->lock);
    m_hub->changed.wait_for (l, std::chrono::milliseconds (timeoutMs),
                             [this] { return ! m_hub->pending.empty() || m_hub->shutDown; });
    return ! m_hub->shutDown && ! m_hub->pending.empty() ? WaitResult::pending : WaitResult::idle;
}

std::unique_ptr<StreamConnection> FakeStreamListener::accept()
{
    std::shared_ptr<FakeStreamPeer> peer;
    {
        const std::lock_guard<std::mutex> g (m_hub->lock);
        if (m_hub->pending.empty())
            return nullptr;
        peer = std::move (m_hub->pending.front());
        m_hub->pending.pop_front();
    }
    {
        const std::lock_guard<std::mutex> g (peer->m_lock);
        peer->m_accepted = true;
    }
    peer->m_changed.notify_all();
    return std::make_unique<FakeStreamConnection> (std::move (peer));
}

void FakeStreamListener::shutdown()
{
    {
        const std::lock_guard<std::mutex> g (m_hub->lock);
        m_hub->shutDown = true;
    }
    m_hub->changed.notify_all();
}

void FakeStreamListener::close()
{
    const std::lock_guard<std::mutex> g (m_hub->lock);
    if (! m_open)
        return;
    m_open = false;
    m_hub->listening = false;
}

} // namespace lyrlink::test
