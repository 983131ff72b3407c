#pragma once

#include "transport/StreamListener.h"

namespace lyrlink
{

/** BSD stream sockets on Linux. */
std::unique_ptr<StreamListener> createLinuxStreamListener();

} // namespace lyrlink
