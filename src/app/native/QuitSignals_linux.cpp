// Quit signals on Linux: SIGTERM and SIGINT, taken by a thread of their own.
#include "app/QuitSignals.h"

#include <csignal>
#include <pthread.h>
#include <thread>

namespace lyrlink
{

void installQuitSignalHandling()
{
    sigset_t set;
    sigemptyset (&set);
    sigaddset (&set, SIGTERM);
    sigaddset (&set, SIGINT);
    // Threads inherit the mask, so no thread ever runs a handler for these: the waiter below
    // receives them all.
    pthread_sigmask (SIG_BLOCK, &set, nullptr);

    std::thread ([set] {
        for (;;)
        {
            int sig = 0;
            if (sigwait (&set, &sig) != 0)
                continue;
            quitRequested();
        }
    }).detach();
}

} // namespace lyrlink
