#pragma once

#include "transport/DatagramPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace lyrlink
{

/** The socket address of an IPv4 address (already in network order) and a port. Header-only, so
    tools that open sockets of their own use it without the manager's compiled code. */
inline sockaddr_in makeSocketAddress (Ipv4 address, uint16_t port) noexcept
{
    sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons (port);
    sa.sin_addr.s_addr = address;
    return sa;
}

/** BSD sockets on Linux. */
std::unique_ptr<DatagramPort> createLinuxDatagramPort();

} // namespace lyrlink
