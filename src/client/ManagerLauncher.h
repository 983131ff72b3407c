// Starting the manager on demand: the operating system's part (native/ManagerLauncher_<system>.cpp).
// A manager started by an application is not that application's child for long: it runs in a
// session of its own, outlives the application, and is reaped by the system when it ends (it ends
// by itself when its last client has gone).
#pragma once

#include "client/LyrLinkClient.h"

#include <cstdint>
#include <string>

namespace lyrlink::client
{

/** Starts program without arguments, detached, its standard streams on the null device. ok with
    the process id of the program itself; startFailed with the reason in why when it cannot be
    run (no such file, not executable, ...). */
Status launchManagerProgram (const std::string& program, uint32_t& pid, std::string& why);

/** True while a process with that id exists and has not ended (a zombie has ended). */
bool isProcessAlive (uint32_t pid);

/** Asks the process to end (as a quit signal does) and, if it is still there after waitMs,
    ends it. */
void stopProcess (uint32_t pid, int waitMs);

} // namespace lyrlink::client
