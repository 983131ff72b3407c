#pragma once

#include "netenv/NetRows.h"

#include <memory>

namespace lyrlink
{

/** Rows from rtnetlink (libnl-route), nl80211 (libnl-genl) and /proc/net/udp. */
std::unique_ptr<NetRowSource> createLinuxNetRowSource();

} // namespace lyrlink
