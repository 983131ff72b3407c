// The real program: start-up with no display, the log file, and an orderly shutdown on the
// operating system's quit signals. Each run has a network namespace of its own, so port 50000
// and the pipe names are its alone.
#include "client/LyrLinkClient.h"
#include "e2e/E2eSupport.h"

#include <csignal>
#include <iostream>
#include <pthread.h>
#include <thread>

using namespace lyrlink;
using namespace lyrlink::e2e;
using namespace std::chrono_literals;

namespace
{

bool contains (const std::vector<std::string>& lines, const std::string& text)
{
    return std::find (lines.begin(), lines.end(), text) != lines.end();
}

Process startManager (const TempDir& home, const std::string& netns = {})
{
    return Process::start ({ builtProgram ("LyrLinkSysMgr") }, netns,
                           { "HOME=" + home.path(), "DISPLAY=", "XDG_CONFIG_HOME=" }, home.path() + "/stdout.txt");
}

} // namespace

TEST (ProgramLifecycle, QuitSignalsShutDownPromptlyAndInOrder)
{
    LYRLINK_REQUIRE_E2E();
    for (const int sig : { SIGTERM, SIGINT })
    {
        TempDir home;
        auto manager = startManager (home);
        ASSERT_TRUE (waitFor ([&] { return contains (managerLogLines (home.path()), "MainComponent::MainComponent OK"); }, 10s))
            << readFile (home.path() + "/stdout.txt");
        std::this_thread::sleep_for (300ms);  // let start-up finish

        const auto start = std::chrono::steady_clock::now();
        const auto status = manager.stop (sig, 5s);
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds> (std::chrono::steady_clock::now() - start);
        ASSERT_TRUE (status.has_value()) << "signal " << sig << " did not end the manager";
        EXPECT_EQ (*status, 0) << "signal " << sig;
        std::cout << "[ figure ] shutdown on signal " << sig << ": " << elapsed.count() << " ms\n";
        EXPECT_LT (elapsed.count(), 1000) << "signal " << sig;

        const auto log = readFile (home.path() + "/.config/VelmoraLog/LyrLinkSysMgrLog.txt");
        EXPECT_EQ (log.rfind ("\r\n" + std::string (58, '*') + "\r\nStartLog\r\nLog started: ", 0), 0u) << log;
    }
}

TEST (ProgramLifecycle, AQuitSignalBeforeStartUpEndsTheManagerInOrder)
{
    LYRLINK_REQUIRE_E2E();
    // The child is forked with SIGTERM blocked, and a blocked signal stays pending across exec, so
    // the signal sent right after the fork is always there when the manager's signal thread
    // starts: before JUCE has made its message manager, long before the master pipe exists.
    // Repeated, as how far JUCE's start-up has got when the signal is taken varies.
    sigset_t quit, previous;
    sigemptyset (&quit);
    sigaddset (&quit, SIGTERM);
    for (int run = 0; run < 5; ++run)
    {
        TempDir home;
        ASSERT_EQ (pthread_sigmask (SIG_BLOCK, &quit, &previous), 0);
        auto manager = startManager (home);
        pthread_sigmask (SIG_SETMASK, &previous, nullptr);

        const auto status = manager.stop (SIGTERM, 10s);
        ASSERT_TRUE (status.has_value()) << "run " << run << ": an early quit signal was lost\n"
                                         << readFile (home.path() + "/stdout.txt");
        EXPECT_EQ (*status, 0) << "run " << run << "\n" << readFile (home.path() + "/stdout.txt");
        // Start-up completed, then shutdown ran: the log is that of a quit signal sent later.
        EXPECT_EQ (managerLogLines (home.path()),
                   (std::vector<std::string> { "MainComponent::MainComponent OK",
                                               "MainComponent::MainComponent OK IPC PIPE Create" }))
            << "run " << run;
    }
}

TEST (ProgramLifecycle, ASecondInstanceLogsThePortAndThePipeAndRunsOn)
{
    LYRLINK_REQUIRE_E2E();
    const std::string netns = "lyr-lifecycle-" + std::to_string (::getpid());
    ASSERT_EQ (sh ("ip netns add " + netns + " && ip -n " + netns + " link set lo up"), 0);
    {
        TempDir home1, home2;
        auto first = startManager (home1, netns);
        ASSERT_TRUE (waitFor ([&] { return contains (managerLogLines (home1.path()), "MainComponent::MainComponent OK IPC PIPE Create"); }, 10s));
        auto second = startManager (home2, netns);
        ASSERT_TRUE (waitFor ([&] { return contains (managerLogLines (home2.path()), "MainComponent::MainComponent NG IPC PIPE Create"); }, 10s))
            << readFile (home2.path() + "/.config/VelmoraLog/LyrLinkSysMgrLog.txt");
        EXPECT_EQ (managerLogLines (home2.path()),
                   (std::vector<std::string> { "MainComponent::MainComponent OK", "MainComponent::MainComponent NG UDP port open",
                                               "MainComponent::MainComponent NG TCP port open",
                                               "MainComponent::MainComponent NG IPC PIPE Create" }));
        std::this_thread::sleep_for (300ms);
        EXPECT_TRUE (second.isRunning());
        EXPECT_TRUE (first.isRunning());

        // The master pipe is the first instance's: requests reach it, not the second.
        LinkStatus status {};
        client::Status answer = client::Status::ioError;
        runInNetns (netns, [&] { answer = client::ManagerClient().getLinkStatus (status); });
        EXPECT_EQ (answer, client::Status::ok);
        EXPECT_EQ (second.stop (SIGTERM, 5s), 0);
        EXPECT_EQ (first.stop (SIGTERM, 5s), 0);
    }
    sh ("ip netns del " + netns);
}
