// The TCP frame server: "LyrLinkTCPServer Thread" accepts one connection at a time on port 50000
// and hands every read that carries a frame header to the callback, exactly as a datagram.
// Nothing is ever written back.
#pragma once

#include "transport/LyrLinkNetworkAccessCallback.h"
#include "transport/StreamListener.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace lyrlink
{

class LyrLinkTCPServer : public juce::Thread
{
public:
    static constexpr int kBacklog = 1;
    static constexpr int kPollMs = 100;
    static constexpr int kReadSize = 1024;
    static constexpr int kStopWaitMs = 3000;

    /** The listener comes from the platform, not yet open. port 0 binds any free port (tests);
        the program passes 50000. */
    LyrLinkTCPServer (std::unique_ptr<StreamListener> listener, uint16_t port);
    ~LyrLinkTCPServer() override;

    /** Opens the listener (0.0.0.0:port with SO_REUSEADDR, listening) and starts the thread.
        False (and no thread) when the socket cannot be created, bound or put into listening state. */
    bool openServer();

    /** The bound port (after openServer). */
    uint16_t getBoundPort() const noexcept { return m_boundPort; }

    /** True while the server thread is meant to run. */
    bool isOpen() const noexcept { return m_isOpen; }

    /** Tests only (fuzzing): serves connection on the calling thread with the server thread's own
        read loop and header test, until its peer closes it, so that a stream needs no thread and
        no wait. The server thread must have no connection meanwhile. */
    void serveConnectionForTests (StreamConnection& connection) { serveConnection (connection); }

protected:
    /** Called on the server thread with every read of 1 to kReadSize bytes; the block is valid
        only during the call. */
    virtual void dataReceived (const uint8_t* sourceAddress, const juce::MemoryBlock& data) = 0;
    void run() override;

    /** Ends the thread (even while it is blocked in a read) and closes both sockets. Derived
        destructors call it first, since the thread calls their dataReceived. Safe to call twice. */
    void closeServer();

    /** The listening socket; open while m_isListening. */
    const std::unique_ptr<StreamListener> m_socket;
    std::atomic<bool> m_isListening { false };
    std::atomic<bool> m_isOpen { false };
    const uint8_t m_srcAddr[4] {};
    /** The accepted connection; null when none is open. Guarded by m_clientLock. */
    std::unique_ptr<StreamConnection> m_clientSocket;

private:
    /** Serves one accepted connection until the peer closes it, a read fails or closeServer
        shuts it down. */
    void serveConnection (StreamConnection& connection);
    /** Takes the connection out of m_clientSocket and closes it. */
    void closeClient();

    const uint16_t m_port;
    uint16_t m_boundPort = 0;
    // Guards the hand-over of m_clientSocket between the server thread (which accepts and closes
    // it) and closeServer (which shuts it down), so a connection is never shut down after it was
    // closed and its handle possibly reused.
    std::mutex m_clientLock;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LyrLinkTCPServer)
};

} // namespace lyrlink
