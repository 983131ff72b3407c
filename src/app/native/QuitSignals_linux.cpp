#include "app/QuitSignals.h"

#include <juce_events/juce_events.h>

#include <csignal>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace lyrlink
{

namespace
{
// Guards both flags, and is held while a quit is posted: the message thread's start and stop
// calls are therefore ordered against every post, so no post meets a message manager that does
// not exist yet or is being destroyed.
std::mutex g_lock;
bool g_delivering = false;  // between startDeliveringQuitSignals and stopDeliveringQuitSignals
bool g_quitPending = false; // a signal came while not delivering

void postQuit()
{
    juce::MessageManager::callAsync ([] {
        if (auto* app = juce::JUCEApplicationBase::getInstance())
            app->systemRequestedQuit();
    });
}
} // namespace

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
            const std::lock_guard<std::mutex> g (g_lock);
            if (g_delivering)
                postQuit();
            else
                g_quitPending = true;
        }
    }).detach();
}

void startDeliveringQuitSignals()
{
    const std::lock_guard<std::mutex> g (g_lock);
    g_delivering = true;
    if (g_quitPending)
    {
        g_quitPending = false;
        postQuit();
    }
}

void stopDeliveringQuitSignals()
{
    const std::lock_guard<std::mutex> g (g_lock);
    g_delivering = false;
}

} // namespace lyrlink
