// The operating system's TCP sockets as the frame server uses them. LyrLinkTCPServer keeps every
// decision (the thread, the poll period, the read size, one connection at a time, the shutdown
// order) and calls only these few operations, so tests replace them and another system
// implements them with its own sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace lyrlink
{

/** One accepted connection. Nothing is ever written to it. */
class StreamConnection
{
public:
    virtual ~StreamConnection() = default;

    /** Blocks until bytes arrive and reads at most capacity of them. Returns the count (1 or
        more), 0 when the peer closed the connection, or -1 on an error. An interrupted read is
        retried here, not reported. */
    virtual int read (uint8_t* buffer, size_t capacity) = 0;

    /** From another thread: makes a blocked or later read return at once (0 or -1). The handle
        stays valid until the object is destroyed, which closes it. */
    virtual void shutdown() = 0;
};

/** The listening socket of the frame server. */
class StreamListener
{
public:
    virtual ~StreamListener() = default;

    /** What one wait for a connection found. */
    enum class WaitResult
    {
        pending,  // a connection can be accepted
        idle,     // the wait timed out or was interrupted
        broken    // the socket reports an error state and would wake every wait at once
    };

    /** Creates an IPv4 stream socket, sets SO_REUSEADDR (result ignored), binds 0.0.0.0:port and
        listens with backlog. False (and nothing left open) when any of these fails. */
    virtual bool open (uint16_t port, int backlog) = 0;

    /** The local port after a successful open (a test that opens port 0 learns it here). */
    virtual uint16_t getBoundPort() const = 0;

    /** Waits up to timeoutMs for a connection to accept. */
    virtual WaitResult waitForConnection (int timeoutMs) = 0;

    /** Accepts one connection; null when the accept fails. The peer's address is not used. */
    virtual std::unique_ptr<StreamConnection> accept() = 0;

    /** From another thread: makes a wait that is blocked, or a later one, return at once. The
        socket stays open until close(). */
    virtual void shutdown() = 0;

    /** Closes the socket; safe to call twice. */
    virtual void close() = 0;
};

} // namespace lyrlink
