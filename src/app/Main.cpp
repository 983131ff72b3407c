// Process entry: the command line, then quit signals (before JUCE starts any thread), then JUCE's
// application main.
#include "app/CommandLine.h"
#include "app/LyrLinkSysMgrApplication.h"
#include "app/QuitSignals.h"

#include <iostream>

static juce::JUCEApplicationBase* createApplication() { return new lyrlink::LyrLinkSysMgrApplication(); }

int main (int argc, char* argv[])
{
    if (const int status = lyrlink::handleManagerCommandLine ({ argv + 1, argv + argc }, std::cout, std::cerr); status >= 0)
        return status;
    lyrlink::installQuitSignalHandling();
    juce::JUCEApplicationBase::createInstance = &createApplication;
    return juce::JUCEApplicationBase::main (argc, const_cast<const char**> (argv));
}
