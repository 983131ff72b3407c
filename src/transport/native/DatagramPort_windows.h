#pragma once

#include "transport/DatagramPort.h"

#include <memory>

namespace lyrlink
{

/** Winsock datagram sockets on Windows; the first one starts the socket library. */
std::unique_ptr<DatagramPort> createWindowsDatagramPort();

} // namespace lyrlink
