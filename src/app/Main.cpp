// Process entry: quit signals first (before JUCE starts any thread), then JUCE's application main.
// On Windows the entry is WinMain: the manager is a GUI program whose one window stays hidden, so
// no console window opens for it; JUCE reads the command line from the system there.
#include "app/LyrLinkSysMgrApplication.h"
#include "app/QuitSignals.h"

#ifdef _WIN32
#include <windows.h>
#endif

static juce::JUCEApplicationBase* createApplication() { return new lyrlink::LyrLinkSysMgrApplication(); }

#ifdef _WIN32
int WINAPI WinMain (HINSTANCE, HINSTANCE, LPSTR, int)
{
    lyrlink::installQuitSignalHandling();
    juce::JUCEApplicationBase::createInstance = &createApplication;
    return juce::JUCEApplicationBase::main();
}
#else
int main (int argc, char* argv[])
{
    lyrlink::installQuitSignalHandling();
    juce::JUCEApplicationBase::createInstance = &createApplication;
    return juce::JUCEApplicationBase::main (argc, const_cast<const char**> (argv));
}
#endif
