// lyrlinkctl's commands against a manager on real pipes, in-process; and the program itself.
#include "lyrlinkctl/LyrLinkCtl.h"
#include "ipc/RealPipeHarness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <future>
#include <sstream>
#ifndef _WIN32
#include <sys/wait.h>
#endif

using namespace lyrlink;
using namespace lyrlink::client;
using namespace lyrlinkctl;
using namespace lyrlink::test;

namespace
{

struct CtlRun
{
    int code = -1;
    std::string out;
    std::string err;
};

/** Runs the command on a thread while the test thread pumps the manager; during() is called in
    between, on the message thread. */
CtlRun runCtl (std::vector<std::string> args, std::atomic<bool>& stop, const std::function<void()>& during = {})
{
    CtlRun run;
    std::ostringstream out, err;
    auto f = std::async (std::launch::async, [&] { return runLyrlinkctl (args, out, err, stop); });
    pumpUntil ([&] {
        if (during)
            during();
        return f.wait_for (std::chrono::seconds (0)) == std::future_status::ready;
    }, 15000);
    run.code = f.get();
    run.out = out.str();
    run.err = err.str();
    return run;
}

CtlRun runCtl (std::vector<std::string> args)
{
    std::atomic<bool> stop { false };
    return runCtl (std::move (args), stop);
}

} // namespace

TEST (LyrLinkCtl, StatusDevicesAndDevice)
{
    RealPipeHarness h;
    auto r = runCtl ({ "--scope", h.scope, "status" });
    EXPECT_EQ (r.code, CTL_OK) << r.err;
    EXPECT_EQ (r.out.rfind ("state          IDLE (0)\nown id         17\n", 0), 0u) << r.out;

    r = runCtl ({ "--json", "--scope", h.scope, "status" });
    EXPECT_EQ (r.code, CTL_OK);
    ASSERT_FALSE (r.out.empty());
    EXPECT_EQ (r.out.back(), '\n');
    const auto status = nlohmann::ordered_json::parse (r.out);
    EXPECT_EQ (status.at ("state"), 0) << r.out;
    EXPECT_EQ (status.at ("stateName"), "IDLE");
    EXPECT_EQ (status.at ("id"), 17);
    EXPECT_EQ (status.begin().key(), "state") << "the fields keep their order";

    // Options may follow the command as well.
    r = runCtl ({ "status", "--scope", h.scope, "--json" });
    EXPECT_EQ (r.code, CTL_OK) << r.err;
    EXPECT_EQ (nlohmann::ordered_json::parse (r.out).at ("id"), 17) << r.out;

    r = runCtl ({ "--scope", h.scope, "devices" });
    EXPECT_EQ (r.code, CTL_OK);
    EXPECT_EQ (r.out, "no devices seen\n");

    r = runCtl ({ "--scope", h.scope, "device", "4" });
    EXPECT_EQ (r.code, CTL_OK);
    EXPECT_EQ (r.out, "device 4: never seen\n");

    r = runCtl ({ "--scope", h.scope, "device", "81" });
    EXPECT_EQ (r.code, CTL_REFUSED);
    EXPECT_EQ (r.err, "lyrlinkctl: no device id 81 (ids are 1 to 80)\n");
}

TEST (LyrLinkCtl, WatchPrintsNotificationsAndDisconnects)
{
    RealPipeHarness h;
    std::atomic<bool> stop { false };
    bool notified = false;
    const auto r = runCtl ({ "--json", "--scope", h.scope, "watch" }, stop, [&] {
        // Once the watcher is a client, one notification, then the interrupt.
        if (! notified && h.mc->isLinkPermitted())
        {
            h.mc->notifyMessage (17, KIND_LINK_STATUS_CHANGED);
            h.mc->notifyMessage (4, KIND_DEVICE_CHANGED);
            notified = true;
        }
        else if (notified && h.mc->isLinkPermitted())
        {
            pumpFor (300);
            stop = true;
        }
    });
    EXPECT_EQ (r.code, CTL_OK) << r.err;
    std::istringstream lines (r.out);
    std::string line;
    std::vector<std::string> got;
    while (std::getline (lines, line))
        got.push_back (line);
    ASSERT_EQ (got.size(), 2u) << r.out;
    const struct
    {
        int kind;
        const char* name;
        int id;
    } expected[] = { { 3, "LinkStatusChanged", 17 }, { 4, "DeviceChanged", 4 } };
    for (size_t i = 0; i < 2; ++i)
    {
        const auto n = nlohmann::ordered_json::parse (got[i]);
        EXPECT_EQ (n.at ("kind"), expected[i].kind) << got[i];
        EXPECT_EQ (n.at ("name"), expected[i].name) << got[i];
        EXPECT_EQ (n.at ("id"), expected[i].id) << got[i];
        EXPECT_EQ (n.at ("pid"), ::getpid()) << got[i];
    }

    // It left as a client does; being the only one, the manager ends.
    ASSERT_TRUE (h.waitForLog ("MainComponent::messageAnalize LyrLinkSysMgr END"));
    EXPECT_TRUE (h.logged ("MainComponent::removePipe OK size = 1"));
}

TEST (LyrLinkCtl, WatchStopsAfterCountAndSuspendResumeWork)
{
    RealPipeHarness h;
    std::atomic<bool> stop { false };
    bool notified = false;
    const auto r = runCtl ({ "--scope", h.scope, "watch", "--count", "1" }, stop, [&] {
        if (! notified && h.mc->isLinkPermitted())
        {
            h.mc->notifyMessage (17, KIND_LINK_STATUS_CHANGED);
            notified = true;
        }
    });
    EXPECT_EQ (r.code, CTL_OK) << r.err;
    EXPECT_NE (r.out.find ("  LinkStatusChanged id 17: state IDLE, own id 17, unknown 0.0.0.0, devices 0\n"), std::string::npos) << r.out;

    EXPECT_EQ (runCtl ({ "--scope", h.scope, "resume" }).code, CTL_OK);
    ASSERT_TRUE (pumpUntil ([&] { return ! h.mc->isSuspended(); }));
    EXPECT_EQ (runCtl ({ "--scope", h.scope, "suspend" }).code, CTL_OK);
    ASSERT_TRUE (pumpUntil ([&] { return h.mc->isSuspended(); }));
}

TEST (LyrLinkCtl, BadCommandLinesAreUsageErrors)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        { "frobnicate" },
        { "device" },
        { "device", "x" },
        { "status", "extra" },
        { "--timeout", "0", "status" },
        { "--timeout" },
        { "--colour", "status" },
        { "watch", "--count" },
        { "watch", "--count", "-1" },
        { "watch", "--count", "1x" },
        { "--json=yes", "status" },
        { "device", "4", "5" },
        { "--suspended", "status" },
    };
    for (const auto& args : bad)
    {
        const auto r = runCtl (args);
        EXPECT_EQ (r.code, CTL_USAGE) << (args.empty() ? "" : args[0]);
        EXPECT_FALSE (r.err.empty());
    }
    // The first line says what was wrong.
    const std::pair<std::vector<std::string>, const char*> messages[] = {
        { { "frobnicate" }, "lyrlinkctl: unknown command frobnicate\n" },
        { { "--colour", "status" }, "lyrlinkctl: unknown option --colour\n" },
        { { "status", "extra" }, "lyrlinkctl: wrong arguments for status\n" },
        { { "device" }, "lyrlinkctl: wrong arguments for device\n" },
        { { "--timeout" }, "lyrlinkctl: --timeout needs a value\n" },
        { { "--timeout", "010x", "status" }, "lyrlinkctl: bad value for --timeout: 010x\n" },
        { { "--json=yes", "status" }, "lyrlinkctl: --json takes no value\n" },
        { { "device", "x" }, "lyrlinkctl: not a device id: x\n" },
    };
    for (const auto& [args, first] : messages)
    {
        const auto r = runCtl (args);
        EXPECT_EQ (r.err.substr (0, r.err.find ('\n') + 1), first);
    }
    const auto help = runCtl ({ "--help" });
    EXPECT_EQ (help.code, CTL_OK);
    EXPECT_EQ (help.out, lyrlinkctlUsage());
}

TEST (LyrLinkCtl, TheProgramSaysWhenNoManagerRuns)
{
#ifdef _WIN32
    // The build folder as this program sees it (under Wine a drive letter stands for it).
    const auto program = juce::File::getSpecialLocation (juce::File::currentExecutableFile)
                             .getParentDirectory()
                             .getSiblingFile ("tools/lyrlinkctl/lyrlinkctl.exe")
                             .getFullPathName()
                             .toStdString();
#else
    const std::string program = std::string (LYRLINK_BINARY_DIR) + "/tools/lyrlinkctl/lyrlinkctl";
#endif
    if (! juce::File (program).existsAsFile())
        GTEST_SKIP() << "lyrlinkctl is not built";
#ifdef _WIN32
    // cmd.exe takes a command line with a quoted program name only inside outer quotes.
    const std::string command = "\"\"" + program + "\" --scope " + uniquePipeScope() + " status 2>&1\"";
    FILE* p = ::_popen (command.c_str(), "r");
#else
    const std::string command = program + " --scope " + uniquePipeScope() + " status 2>&1";
    FILE* p = ::popen (command.c_str(), "r");
#endif
    ASSERT_NE (p, nullptr);
    std::string output;
    char buffer[256];
    while (std::fgets (buffer, sizeof (buffer), p) != nullptr)
        output += buffer;
#ifdef _WIN32
    // _pclose returns the exit code itself, and the console writes line ends as CR LF.
    EXPECT_EQ (::_pclose (p), CTL_NO_MANAGER);
    output = juce::String (output).replace ("\r\n", "\n").toStdString();
#else
    const int status = ::pclose (p);
    ASSERT_TRUE (WIFEXITED (status));
    EXPECT_EQ (WEXITSTATUS (status), CTL_NO_MANAGER);
#endif
    EXPECT_EQ (output, "lyrlinkctl: opening pipe LyrLinkSysMgrPIPE: no manager is running\n"
                       "lyrlinkctl: is LyrLinkSysMgr running (as this user)?\n");
}
