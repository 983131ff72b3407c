#pragma once

#include <cstdint>

namespace lyrlink
{

/** True when a process with that id exists now. */
bool isProcessRunning (uint32_t pid);

} // namespace lyrlink
