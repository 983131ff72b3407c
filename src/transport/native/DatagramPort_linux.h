#pragma once

#include "transport/DatagramPort.h"

namespace lyrlink
{

/** BSD sockets on Linux. */
std::unique_ptr<DatagramPort> createLinuxDatagramPort();

} // namespace lyrlink
