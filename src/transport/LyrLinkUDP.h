// The UDP endpoint: one socket bound to port 50000 on all addresses, read by "LyrLinkUDP Thread";
// broadcasts leave from a short-lived socket bound to the link interface's address.
#pragma once

#include "link/FrameFormat.h"
#include "transport/DatagramPort.h"
#include "transport/Ipv4.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <memory>

namespace lyrlink
{

class LyrLinkUDP : public juce::Thread
{
public:
    /** Receive time-out of the bound socket: how soon the loop notices an exit request. */
    static constexpr int kReceiveTimeoutMs = 100;
    /** How long the destructor waits for the receive thread. */
    static constexpr int kStopWaitMs = 3000;

    explicit LyrLinkUDP (std::unique_ptr<DatagramPort> port);
    ~LyrLinkUDP() override;

    /** SO_BROADCAST and a bind to 0.0.0.0 on the given port; false when the socket is missing or
        the bind fails. */
    bool bindPort (uint16_t port);

    /** Marks the endpoint open and starts the receive thread. Call after a successful bindPort. */
    void open (int port);

    /** Stops the receive thread (it sees the request within the 100 ms receive time-out) and
        closes the socket. Derived classes call it first in their destructor, since the thread
        calls their dataReceived. */
    void close();

    /** Directed broadcast of data to (NOT netmask) OR localAddr, port 50000, in datagrams of at
        most 1472 bytes. 0 when all went out, -1 on failure. */
    int sendBroadcast (Ipv4 localAddr, Ipv4 netmask, const void* data, int length);

    /** Unicast to a host name or dotted address, port 50000, from the bound socket. 0 when all
        went out or nothing could be resolved (nothing is then sent), -1 on a failed send. */
    int sendTo (const char* host, const void* data, int length);

    /** The port set by the owner after a successful bind; 0 otherwise. */
    int getPort() const noexcept { return m_port; }
    bool isOpen() const noexcept { return m_isOpen; }
    /** The source of the last datagram of at least one byte, as one 32-bit value. */
    Ipv4 getSourceAddress() const noexcept { return m_srcAddr; }
    DatagramPort& getDatagramPort() noexcept { return *m_socket; }

    /** Runs one receive: what the thread does each turn. Returns false when the loop must end.
        Public so that tests can drive the loop without a thread. */
    bool receiveOnce();

protected:
    /** Called on the receive thread for each datagram of 1 to 1472 bytes. The bytes are the
        endpoint's receive buffer, valid only during the call: a datagram costs no allocation. */
    virtual void dataReceived (const uint8_t* sourceAddress, ByteView data) = 0;

    void run() override;

    std::atomic<int> m_port { 0 };
    std::unique_ptr<DatagramPort> m_socket;
    std::atomic<bool> m_isOpen { false };
    std::atomic<Ipv4> m_srcAddr { 0 };

private:
    uint8_t m_receiveBuffer[1472];

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LyrLinkUDP)
};

} // namespace lyrlink
