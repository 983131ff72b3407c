// Turns the operating system's quit requests into the application's; each platform implements it in
// native/QuitSignals_<system>.cpp.
#pragma once

namespace lyrlink
{

/** Blocks SIGTERM and SIGINT in every thread and starts a thread that turns each into the
    application's systemRequestedQuit on the message thread, so shutdown runs in order. Call
    before any other thread starts.

    Until startDeliveringQuitSignals is called a signal is only remembered: the message manager
    may not exist yet, and a quit posted to no manager would be lost. */
void installQuitSignalHandling();

/** Called on the message thread once the application is initialised: from now on each quit
    signal is posted to the message thread, and one that came earlier is posted now. */
void startDeliveringQuitSignals();

/** Called on the message thread when the application shuts down, before the message manager
    goes away: later signals are no longer posted to it. */
void stopDeliveringQuitSignals();

} // namespace lyrlink
