#pragma once

#include "transport/StreamListener.h"

#include <memory>

namespace lyrlink
{

/** Winsock stream sockets on Windows. The library is started here too, so the listener works on
    its own (tests); in the manager the UDP endpoint, made first, has already started it. */
std::unique_ptr<StreamListener> createWindowsStreamListener();

} // namespace lyrlink
