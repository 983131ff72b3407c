// The gate between the system's quit requests and the message thread, the same on every system;
// the system's part (native/QuitSignals_<system>.cpp) only turns its requests into quitRequested.
#include "app/QuitSignals.h"

#include <juce_events/juce_events.h>

#include <mutex>

namespace lyrlink
{

namespace
{
// Guards both flags, and is held while a quit is posted: the message thread's start and stop
// calls are therefore ordered against every post, so no post meets a message manager that does
// not exist yet or is being destroyed.
std::mutex g_lock;
bool g_delivering = false;  // between startDeliveringQuitSignals and stopDeliveringQuitSignals
bool g_quitPending = false; // a request came while not delivering

void postQuit()
{
    juce::MessageManager::callAsync ([] {
        if (auto* app = juce::JUCEApplicationBase::getInstance())
            app->systemRequestedQuit();
    });
}
} // namespace

void quitRequested()
{
    const std::lock_guard<std::mutex> g (g_lock);
    if (g_delivering)
        postQuit();
    else
        g_quitPending = true;
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
