// The simulator's output lines: one per datagram or event, as text or as one JSON object.
#pragma once

#include "client/LinkFormat.h"
#include "lyrlinksim/SimEngine.h"
#include "lyrlinksim/SimFrames.h"

#include <cstdint>
#include <string>

namespace lyrlinksim
{

/** "rx" for a datagram received from another host, "tx" for one the simulator sent. */
std::string formatFrameLine (int64_t timeMs, const char* direction, Ipv4 source, Ipv4 destination,
                             ByteView datagram, bool json);

std::string formatEventLine (const EventOutcome& event, bool json);

/** A free-form line ("info"): start-up, warnings, the end of the run. */
std::string formatNoteLine (int64_t timeMs, const std::string& text, bool json);

/** Text with quotes, backslashes and every byte outside printable ASCII escaped, in quotes. */
std::string quoteText (const std::string& raw);

} // namespace lyrlinksim
