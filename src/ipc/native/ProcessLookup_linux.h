#pragma once

#include <cstdint>

namespace lyrlink
{

/** True when a process with that id exists now: one that can be signalled (or that exists but
    belongs to another user) and has not yet ended. Id 0 and ids beyond the range of process ids
    name no process. */
bool isProcessRunning (uint32_t pid);

} // namespace lyrlink
