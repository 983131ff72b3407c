// A JUCE application with a hidden window whose timer ends it: shows that the message loop,
// window creation and timers work in the Windows build (under Wine with its null display
// driver too). Exits 0 when the timer fired and the window was created, 1 otherwise.
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdio>

namespace
{
class HiddenWindow final : public juce::DocumentWindow
{
public:
    HiddenWindow() : juce::DocumentWindow ("smoke", juce::Colours::black, 0, true)
    {
        setSize (100, 100);
        addToDesktop (0); // a native window, never made visible
    }
};

class SmokeApp final : public juce::JUCEApplication, private juce::Timer
{
public:
    const juce::String getApplicationName() override { return "windows_smoke_app"; }
    const juce::String getApplicationVersion() override { return "1.0"; }
    bool moreThanOneInstanceAllowed() override { return true; }

    void initialise (const juce::String&) override
    {
        m_window = std::make_unique<HiddenWindow>();
        m_started = juce::Time::getMillisecondCounterHiRes();
        startTimer (200);
    }

    void shutdown() override
    {
        const bool ok = m_fired && m_hadPeer;
        std::printf ("windows_smoke_app: timer %s after %.0f ms, native window %s\n",
                     m_fired ? "fired" : "did not fire", m_elapsed, m_hadPeer ? "created" : "missing");
        std::fflush (stdout);
        m_window.reset();
        setApplicationReturnValue (ok ? 0 : 1);
    }

private:
    void timerCallback() override
    {
        stopTimer();
        m_fired = true;
        m_elapsed = juce::Time::getMillisecondCounterHiRes() - m_started;
        m_hadPeer = m_window != nullptr && m_window->getPeer() != nullptr;
        quit();
    }

    std::unique_ptr<HiddenWindow> m_window;
    double m_started = 0.0, m_elapsed = 0.0;
    bool m_fired = false, m_hadPeer = false;
};
} // namespace

START_JUCE_APPLICATION (SmokeApp)
