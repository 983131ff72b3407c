// A fake of the TCP listener and its connections: a test queues connections and writes bytes
// into them, and the frame server's own thread accepts and reads them as from real sockets.
// Every write of the test comes out as at most one read per call, cut at the read's capacity,
// so the split of the byte stream into reads is the test's to choose.
#pragma once

#include "transport/StreamListener.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace lyrlink::test
{

/** The test's end of one fake connection. */
class FakeStreamPeer
{
public:
    /** What the peer writes; the server reads it as one read (or several, at most capacity each). */
    void send (std::vector<uint8_t> bytes);
    /** The peer closes: a read that finds nothing more returns 0. */
    void close();
    /** The connection breaks: the next read that finds nothing more returns -1. */
    void fail();

    /** Waits until the server has taken everything written and waits in a read again, or has
        closed the connection. Every read taken before then has been handed on. */
    bool waitUntilDrained (std::chrono::milliseconds limit = std::chrono::seconds (5));
    /** Waits until the server's side of the connection is closed (its object destroyed). */
    bool waitUntilClosed (std::chrono::milliseconds limit = std::chrono::seconds (5));

    bool isAccepted() const;
    bool isClosedByServer() const;
    bool wasShutDown() const;
    /** The capacity of every read the server made, in order. */
    std::vector<size_t> readCapacities() const;

private:
    friend class FakeStreamConnection;
    friend class FakeStreamListener;
    friend struct FakeStreamHub;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::vector<uint8_t>> m_chunks;
    bool m_peerClosed = false;
    bool m_failed = false;
    bool m_accepted = false;
    bool m_shutDown = false;
    bool m_serverClosed = false;
    int m_waitingReads = 0;
    std::vector<size_t> m_capacities;
};

/** The listener's state, shared by the test and the fake listeners of one platform. */
struct FakeStreamHub
{
    /** Queues a connection for the listener to accept; its peer end. */
    std::shared_ptr<FakeStreamPeer> connect();

    std::mutex lock;
    std::condition_variable changed;
    bool openSucceeds = true;
    int opens = 0;             // successful opens
    uint16_t openedPort = 0;   // port and backlog of the last open
    int openedBacklog = 0;
    bool listening = false;
    bool shutDown = false;
    std::deque<std::shared_ptr<FakeStreamPeer>> pending;
};

class FakeStreamListener final : public StreamListener
{
public:
    explicit FakeStreamListener (std::shared_ptr<FakeStreamHub> hub) : m_hub (std::move (hub)) {}
    ~FakeStreamListener() override { close(); }

    bool open (uint16_t port, int backlog) override;
    uint16_t getBoundPort() const override { return m_port; }
    WaitResult waitForConnection (int timeoutMs) override;
    std::unique_ptr<StreamConnection> accept() override;
    void shutdown() override;
    void close() override;

private:
    std::shared_ptr<FakeStreamHub> m_hub;
    uint16_t m_port = 0;
    bool m_open = false;
};

} // namespace lyrlink::test
