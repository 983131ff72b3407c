// Turns the operating system's quit requests into the application's: the system's part
// (installQuitSignalHandling, in native/QuitSignals_<system>.cpp) calls quitRequested, and the gate
// in QuitSignals.cpp posts each request to the message thread once it may.
#pragma once

namespace lyrlink
{

/** Starts turning the system's quit requests (on Linux SIGTERM and SIGINT, blocked in every
    thread and taken by a thread of their own; on Windows the console's events) into
    quitRequested, so shutdown runs in order. Call before any other thread starts.

    Until startDeliveringQuitSignals is called a signal is only remembered: the message manager
    may not exist yet, and a quit posted to no manager would be lost. */
void installQuitSignalHandling();

/** One quit request of the system, from any thread: posted as the application's
    systemRequestedQuit to the message thread while delivering, remembered otherwise. */
void quitRequested();

/** Called on the message thread once the application is initialised: from now on each quit
    signal is posted to the message thread, and one that came earlier is posted now. */
void startDeliveringQuitSignals();

/** Called on the message thread when the application shuts down, before the message manager
    goes away: later signals are no longer posted to it. */
void stopDeliveringQuitSignals();

} // namespace lyrlink
