// Turns the operating system's quit requests into the application's; each platform implements it in
// native/QuitSignals_<system>.cpp.
#pragma once

namespace lyrlink
{

/** Blocks SIGTERM and SIGINT in every thread and starts a thread that turns each into the
    application's systemRequestedQuit on the message thread, so shutdown runs in order. Call
    before any other thread starts. */
void installQuitSignalHandling();

} // namespace lyrlink
