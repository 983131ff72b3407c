// lyrlinkctl: asks the running manager about its link, watches its notifications, suspends and
// resumes it. The commands themselves are in LyrLinkCtl.cpp, so that tests run them in-process.
#include "lyrlinkctl/LyrLinkCtl.h"

#include <atomic>
#include <csignal>
#include <iostream>

namespace
{
std::atomic<bool> stopRequested { false };

extern "C" void onStopSignal (int) { stopRequested.store (true); }
} // namespace

int main (int argc, char** argv)
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset (&action.sa_mask);
    sigaction (SIGINT, &action, nullptr);
    sigaction (SIGTERM, &action, nullptr);
    std::signal (SIGPIPE, SIG_IGN);

    const std::vector<std::string> args (argv + 1, argv + argc);
    return lyrlinkctl::runLyrlinkctl (args, std::cout, std::cerr, stopRequested);
}
