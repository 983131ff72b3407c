// The system's own sockets, for the tests that need a real network stack on the loopback: the
// listener and datagram port of the platform the tests are built for, and a plain TCP client to
// talk to them (native/LoopbackSockets_<system>.cpp). The cases themselves are written once.
#pragma once

#include "transport/DatagramPort.h"
#include "transport/StreamListener.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace lyrlink::test
{

/** The stream listener of the platform the tests run on (created, not yet open). */
std::unique_ptr<StreamListener> createSystemStreamListener();

/** The datagram port of the platform the tests run on (created, not yet bound). */
std::unique_ptr<DatagramPort> createSystemDatagramPort();

/** A TCP client connected to 127.0.0.1:port at construction, sending without delay. */
class LoopbackTcpClient
{
public:
    explicit LoopbackTcpClient (uint16_t port);
    ~LoopbackTcpClient();

    LoopbackTcpClient (const LoopbackTcpClient&) = delete;
    LoopbackTcpClient& operator= (const LoopbackTcpClient&) = delete;

    /** True when the connection was made. */
    bool isConnected() const { return m_connected; }

    /** Sends all bytes in one call; true when every byte went out. */
    bool send (const std::vector<uint8_t>& bytes);

    /** Reads until the server ends the connection, each read waiting at most 5 s; returns what
        the server wrote. */
    std::vector<uint8_t> readToEnd();

    /** True when the last readToEnd stopped at the end of the stream, not at a time-out. */
    bool sawEnd() const { return m_sawEnd; }

    /** Closes the connection; safe to call twice. */
    void close();

private:
    intptr_t m_socket;
    bool m_connected = false;
    bool m_sawEnd = false;
};

} // namespace lyrlink::test
