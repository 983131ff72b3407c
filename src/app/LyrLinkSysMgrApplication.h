// The application object and its window. The window is never shown: the manager has no user
// interface, and on a machine without a display the window is not even put on the desktop.
#pragma once

#include "app/LinkPlatform.h"
#include "app/MainComponent.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace lyrlink
{

class LyrLinkSysMgrWindow : public juce::DocumentWindow
{
public:
    /** Creates MainComponent as the content; adds the window (hidden) to the desktop only when a
        display is available. */
    LyrLinkSysMgrWindow (LinkPlatform& platform, bool addToDesktop);

    void closeButtonPressed() override;

    MainComponent& getMainComponent();

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LyrLinkSysMgrWindow)
};

class LyrLinkSysMgrApplication : public juce::JUCEApplication
{
public:
    LyrLinkSysMgrApplication() = default;

    const juce::String getApplicationName() override { return "Lyrano Link System Manager"; }
    const juce::String getApplicationVersion() override { return "1.0"; }
    bool moreThanOneInstanceAllowed() override { return true; }

    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted (const juce::String&) override {}

private:
    std::unique_ptr<LinkPlatform> m_platform;
    std::unique_ptr<LyrLinkSysMgrWindow> m_window;
};

/** True when JUCE sees a display to put windows on. */
bool isDisplayAvailable();

} // namespace lyrlink
