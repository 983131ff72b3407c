// Winsock for the transport's Windows sockets: the library is started once per process, before the
// first socket is made, and never shut down (the manager keeps its sockets until it ends).
#pragma once

#include <winsock2.h>

namespace lyrlink
{

/** Starts Windows Sockets 1.1 the first time it is called; later calls do nothing. The result of
    WSAStartup is not looked at: a failed start shows as sockets that cannot be made. */
void startWinsockOnce();

} // namespace lyrlink
