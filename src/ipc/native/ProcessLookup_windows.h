#pragma once

#include <cstdint>

namespace lyrlink
{

/** True when a process with that id is in a Tool Help snapshot of the system's processes taken
    now. A snapshot that cannot be taken answers false. */
bool isProcessRunning (uint32_t pid);

} // namespace lyrlink
