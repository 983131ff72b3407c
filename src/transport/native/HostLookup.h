// Host names and dotted addresses to IPv4 addresses, through the socket API's lookup that both
// systems share (inet_pton, getaddrinfo). On Windows, Winsock must have been started.
#pragma once

#include "transport/Ipv4.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#endif

namespace lyrlink
{

/** A dotted address as it is; anything else through the system's resolver (the first IPv4
    answer). False when neither gives an address. */
inline bool resolveIpv4 (const char* host, Ipv4& address)
{
    in_addr a {};
    if (::inet_pton (AF_INET, host, &a) == 1)
    {
        address = a.s_addr;
        return true;
    }
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* result = nullptr;
    if (::getaddrinfo (host, nullptr, &hints, &result) != 0 || result == nullptr)
        return false;
    address = reinterpret_cast<const sockaddr_in*> (result->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo (result);
    return true;
}

} // namespace lyrlink
