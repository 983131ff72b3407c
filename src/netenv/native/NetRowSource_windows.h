// The network rows of a Windows system: addresses, interfaces, routes and UDP endpoints from IP
// Helper, wireless interfaces and their connections from the WLAN API, each read afresh at every
// call (NetRowConversion_windows turns the records into rows). The source holds no state and may
// be used from any thread.
#pragma once

#include "netenv/NetRows.h"

#include <memory>

namespace lyrlink
{

/** Rows from IP Helper and the WLAN API. */
std::unique_ptr<NetRowSource> createWindowsNetRowSource();

} // namespace lyrlink
