#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

// One JUCE message manager for the run, as in the tests: MainComponent and its label need it.
int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
