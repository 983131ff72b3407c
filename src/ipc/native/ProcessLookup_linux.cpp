#include "ipc/native/ProcessLookup_linux.h"

namespace lyrlink
{

bool isProcessRunning (uint32_t) { return false; }

} // namespace lyrlink
