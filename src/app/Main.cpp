// Process entry: quit signals first (before JUCE starts any thread), then JUCE's application main.
#include "app/LyrLinkSysMgrApplication.h"
#include "app/QuitSignals.h"

static juce::JUCEApplicationBase* createApplication() { return new lyrlink::LyrLinkSysMgrApplication(); }

int main (int argc, char* argv[])
{
    lyrlink::installQuitSignalHandling();
    juce::JUCEApplicationBase::createInstance = &createApplication;
    return juce::JUCEApplicationBase::main (argc, const_cast<const char**> (argv));
}
