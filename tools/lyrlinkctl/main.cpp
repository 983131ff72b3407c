// lyrlinkctl: asks the running manager about its link, watches its notifications, suspends and
// resumes it. The commands themselves are in LyrLinkCtl.cpp, so that tests run them in-process.
#include "lyrlinkctl/LyrLinkCtl.h"

#include <atomic>
#include <csignal>
#include <iostream>

#ifdef _WIN32
#include <windows.h>
#endif

namespace
{
std::atomic<bool> stopRequested { false };

#ifdef _WIN32
// Ctrl-C, Ctrl-Break and the console's close, on a thread of their own: watch ends its loop and
// says goodbye to the manager. After a close event the process ends when this returns, so it gives
// the loop a moment first.
BOOL WINAPI onConsoleEvent (DWORD event)
{
    stopRequested.store (true);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        ::Sleep (2000);
    return TRUE;
}
#else
extern "C" void onStopSignal (int) { stopRequested.store (true); }
#endif
} // namespace

int main (int argc, char** argv)
{
#ifdef _WIN32
    ::SetConsoleCtrlHandler (&onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset (&action.sa_mask);
    sigaction (SIGINT, &action, nullptr);
    sigaction (SIGTERM, &action, nullptr);
    std::signal (SIGPIPE, SIG_IGN);
#endif

    const std::vector<std::string> args (argv + 1, argv + argc);
    return lyrlinkctl::runLyrlinkctl (args, std::cout, std::cerr, stopRequested);
}
