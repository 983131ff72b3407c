#include "app/LyrLinkSysMgrApplication.h"

#include "app/QuitSignals.h"

namespace lyrlink
{

bool isDisplayAvailable()
{
    return juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() != nullptr;
}

LyrLinkSysMgrWindow::LyrLinkSysMgrWindow (LinkPlatform& platform, bool addToDesktop)
    : juce::DocumentWindow ("Lyrano Link System Manager", juce::Colours::white, juce::DocumentWindow::allButtons,
                            addToDesktop)
{
    setContentOwned (new MainComponent (platform), true);
    if (addToDesktop)
        centreWithSize (getWidth(), getHeight());
    setVisible (false);
}

void LyrLinkSysMgrWindow::closeButtonPressed() { juce::JUCEApplication::quit(); }

MainComponent& LyrLinkSysMgrWindow::getMainComponent()
{
    return *static_cast<MainComponent*> (getContentComponent());
}

void LyrLinkSysMgrApplication::initialise (const juce::String&)
{
    m_platform = createNativePlatform();
    m_window = std::make_unique<LyrLinkSysMgrWindow> (*m_platform, isDisplayAvailable());
    // The message manager exists now; a quit signal that came during start-up is posted here
    // and handled once the dispatch loop runs, like any later one.
    startDeliveringQuitSignals();
}

void LyrLinkSysMgrApplication::shutdown()
{
    stopDeliveringQuitSignals();
    m_window.reset();
    m_platform.reset();
}

} // namespace lyrlink
