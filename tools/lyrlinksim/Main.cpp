// lyrlinksim: plays equipment on the link network for demos and end-to-end tests.
#include "lyrlinksim/SimConfig.h"
#include "lyrlinksim/SimLoop.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

namespace
{

std::atomic<bool> stopRequested { false };

void onSignal (int) { stopRequested.store (true); }

bool writeLine (std::FILE* stream, const std::string& line)
{
    // Each line is flushed at once: readers (tests, the demo) follow the output as it happens.
    return std::fputs (line.c_str(), stream) >= 0 && std::fputc ('\n', stream) != EOF && std::fflush (stream) == 0;
}

} // namespace

int main (int argc, char** argv)
{
    std::vector<std::string> args (argv + 1, argv + argc);
    lyrlinksim::SimConfig config;
    std::string error;
    switch (lyrlinksim::parseCommandLine (args, config, error))
    {
        case lyrlinksim::CommandLineResult::Help:
            std::fputs (lyrlinksim::usageText().c_str(), stdout);
            return 0;
        case lyrlinksim::CommandLineResult::Error:
            std::fprintf (stderr, "lyrlinksim: %s\n(lyrlinksim --help shows the options)\n", error.c_str());
            return 2;
        case lyrlinksim::CommandLineResult::Run:
            break;
    }

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset (&sa.sa_mask);
    sigaction (SIGINT, &sa, nullptr);
    sigaction (SIGTERM, &sa, nullptr);
    std::signal (SIGPIPE, SIG_IGN);

    lyrlinksim::SimLoop loop (
        config, [] (const std::string& line) { return writeLine (stdout, line); },
        [] (const std::string& line) { return writeLine (stderr, line); });
    if (! loop.open())
        return 1;
    return loop.run (config.readStdin ? 0 : -1, stopRequested);
}
