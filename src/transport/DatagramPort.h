// The operating system's UDP sockets as the endpoint uses them. LyrLinkUDP keeps every decision
// (filter, chunking, destinations) and calls only these few operations, so tests replace them.
#pragma once

#include "transport/Ipv4.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace lyrlink
{

/** A short-lived socket bound to one local address, for directed broadcasts. */
class DatagramSender
{
public:
    virtual ~DatagramSender() = default;
    /** Sends one datagram; true when all bytes went out. */
    virtual bool send (Ipv4 destination, uint16_t port, const uint8_t* data, size_t length) = 0;
};

/** The bound datagram socket of the endpoint. */
class DatagramPort
{
public:
    virtual ~DatagramPort() = default;

    /** True while the socket exists (creation can fail; close() ends it). */
    virtual bool isValid() const = 0;

    /** Sets SO_BROADCAST and a receive buffer large enough for bursts (results ignored) and binds
        to 0.0.0.0:port without address reuse. */
    virtual bool bindAny (uint16_t port) = 0;

    /** The local port after a successful bind (a test that binds port 0 learns it here). */
    virtual uint16_t getBoundPort() const = 0;

    /** Sets the receive time-out of receive(). */
    virtual void setReceiveTimeout (int milliseconds) = 0;

    /** Receives one datagram into buffer. Returns the datagram's real length, which is larger than
        capacity when it did not fit (the caller then drops it), 0 for an empty datagram, or -1 on a
        time-out or error. source is set whenever the result is 0 or more. */
    virtual int receive (uint8_t* buffer, size_t capacity, Ipv4& source) = 0;

    /** Sends one datagram from the bound socket; true when all bytes went out. */
    virtual bool sendTo (Ipv4 destination, uint16_t port, const uint8_t* data, size_t length) = 0;

    /** Opens a socket with SO_REUSEADDR and SO_BROADCAST bound to localAddress, port 0; null on failure. */
    virtual std::unique_ptr<DatagramSender> openBroadcastSender (Ipv4 localAddress) = 0;

    /** Resolves a host name or dotted address to an IPv4 address. */
    virtual bool resolve (const char* host, Ipv4& address) = 0;

    /** Closes the socket; a receive blocked on it returns. */
    virtual void close() = 0;
};

} // namespace lyrlink
