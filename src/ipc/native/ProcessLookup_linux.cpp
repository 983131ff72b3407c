#include "ipc/native/ProcessLookup_linux.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <signal.h>
#include <string>
#include <sys/types.h>

namespace lyrlink
{

namespace
{

/** True when /proc shows the process as ended but not yet reaped by its parent. A process
    that has ended is no longer running, although it can still be signalled until it is reaped.
    When /proc cannot tell, the process counts as not ended. */
bool isZombie (pid_t pid)
{
    char path[32];
    std::snprintf (path, sizeof (path), "/proc/%d/stat", static_cast<int> (pid));
    FILE* f = std::fopen (path, "re");
    if (f == nullptr)
        return false;

    char buffer[512];
    const size_t n = std::fread (buffer, 1, sizeof (buffer) - 1, f);
    std::fclose (f);
    buffer[n] = '\0';

    // "pid (comm) state ...": comm may itself hold ')' and spaces, so the state follows the last ')'.
    const char* close = std::strrchr (buffer, ')');
    if (close == nullptr || close[1] != ' ')
        return false;
    return close[2] == 'Z' || close[2] == 'X';
}

} // namespace

bool isProcessRunning (uint32_t pid)
{
    // kill() reads 0 as this process group and negative ids as other groups, so only ids that
    // name one process are asked about.
    if (pid == 0 || pid > static_cast<uint32_t> (INT_MAX))
        return false;

    const auto id = static_cast<pid_t> (pid);
    if (::kill (id, 0) != 0 && errno != EPERM)
        return false;
    return ! isZombie (id);
}

} // namespace lyrlink
