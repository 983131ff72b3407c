// The process lookup of the client application monitor: a Tool Help snapshot of all processes,
// walked until an entry with the id turns up. A process that has ended is not in the snapshot.
#include "ipc/native/ProcessLookup_windows.h"

#include "app/native/WinApi_windows.h"

#include <tlhelp32.h>

namespace lyrlink
{

// The wide entry record whose size the first call is given.
static_assert (sizeof (PROCESSENTRY32W) == 568);

bool isProcessRunning (uint32_t pid)
{
    const HANDLE snapshot = ::CreateToolhelp32Snapshot (TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;

    PROCESSENTRY32W entry {};
    entry.dwSize = sizeof (entry);
    bool found = false;
    for (BOOL more = ::Process32FirstW (snapshot, &entry); more && ! found; more = ::Process32NextW (snapshot, &entry))
        found = entry.th32ProcessID == static_cast<DWORD> (pid);

    ::CloseHandle (snapshot);
    return found;
}

} // namespace lyrlink
