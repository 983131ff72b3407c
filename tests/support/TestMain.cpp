// One JUCE message manager for the whole run: MainComponent, its label and the timers need it.
// The test thread is the message thread; nothing pumps the loop unless a test does so itself.
#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
