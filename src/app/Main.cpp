// Process entry: the command line, then quit signals (before JUCE starts any thread), then JUCE's
// application main. On Windows the entry is WinMain: the manager is a GUI program whose one window
// stays hidden, so no console window opens for it; JUCE reads the command line from the system there.
#include "app/CommandLine.h"
#include "app/LyrLinkSysMgrApplication.h"
#include "app/QuitSignals.h"

#include <iostream>

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
    if (const int status = lyrlink::handleManagerCommandLine ({ argv + 1, argv + argc }, std::cout, std::cerr); status >= 0)
        return status;
    lyrlink::installQuitSignalHandling();
    juce::JUCEApplicationBase::createInstance = &createApplication;
    return juce::JUCEApplicationBase::main (argc, const_cast<const char**> (argv));
}
#endif
