// The TCP frame server: "LyrLinkTCPServer Thread" accepts one connection at a time on port 50000
// and hands every read that carries a frame header to the callback, exactly as a datagram.
// Nothing is ever written back.
#pragma once

#include "transport/LyrLinkNetworkAccessCallback.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>

namespace lyrlink
{

class LyrLinkTCPServer : public juce::Thread
{
public:
    static constexpr int kBacklog = 1;
    static constexpr int kPollMs = 100;
    static constexpr int kReadSize = 1024;
    static constexpr int kStopWaitMs = 3000;

    /** port 0 binds any free port (tests); the program passes 50000. */
    explicit LyrLinkTCPServer (uint16_t port);
    ~LyrLinkTCPServer() override;

    /** Creates the socket, binds 0.0.0.0:port with SO_REUSEADDR and starts the thread. */
    bool openServer();

    /** The bound port (after openServer). */
    uint16_t getBoundPort() const noexcept { return m_boundPort; }

protected:
    virtual void dataReceived (const uint8_t* sourceAddress, const juce::MemoryBlock& data) = 0;
    void run() override;

    /** Closes the sockets and stops the thread; derived destructors call it first. */
    void closeServer();

    std::atomic<int> m_socket { -1 };
    std::atomic<bool> m_isOpen { false };
    const uint8_t m_srcAddr[4] {};
    std::atomic<int> m_clientSocket { -1 };

private:
    const uint16_t m_port;
    uint16_t m_boundPort = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LyrLinkTCPServer)
};

} // namespace lyrlink
