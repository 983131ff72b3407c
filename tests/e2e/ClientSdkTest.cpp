// The client SDK as applications meet it: installed into a prefix of its own, the example built
// outside the tree with pkg-config alone and a CMake project with find_package, the example run
// against the real manager; and two applications that start the manager at the same moment.
#include "e2e/E2eScenario.h"

#include <algorithm>
#include <csignal>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

using namespace lyrlink;
using namespace lyrlink::e2e;
using namespace std::chrono_literals;
using client::Status;

namespace
{

/** A namespace with loopback up; at the end any manager still running in it is ended first. */
struct Namespace : LoopbackNamespace
{
    using LoopbackNamespace::LoopbackNamespace;
    ~Namespace();
};

/** The network namespace's inode of a process, or of a named namespace; 0 when unknown. */
ino_t netnsInode (const std::string& path)
{
    struct stat st
    {
    };
    return ::stat (path.c_str(), &st) == 0 ? st.st_ino : 0;
}

bool isZombie (pid_t pid)
{
    std::ifstream in ("/proc/" + std::to_string (pid) + "/stat");
    std::string text;
    std::getline (in, text);
    const auto close = text.rfind (')');
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] == 'Z';
}

/** The built manager's processes that run (not zombies) in the named namespace. */
std::vector<pid_t> managersIn (const std::string& netns)
{
    std::vector<pid_t> found;
    const auto wanted = netnsInode ("/run/netns/" + netns);
    const auto program = std::filesystem::weakly_canonical (builtProgram ("LyrLinkSysMgr"));
    DIR* proc = ::opendir ("/proc");
    if (proc == nullptr)
        return found;
    while (const auto* entry = ::readdir (proc))
    {
        const pid_t pid = static_cast<pid_t> (std::atoi (entry->d_name));
        if (pid <= 0)
            continue;
        const auto base = "/proc/" + std::to_string (pid);
        std::error_code ec;
        const auto exe = std::filesystem::read_symlink (base + "/exe", ec);
        if (! ec && exe == program && netnsInode (base + "/ns/net") == wanted && ! isZombie (pid))
            found.push_back (pid);
    }
    ::closedir (proc);
    return found;
}

Namespace::~Namespace()
{
    for (const auto pid : managersIn (name))
        ::kill (pid, SIGKILL);
}

bool waitForText (const std::string& file, const std::string& text, std::chrono::milliseconds timeout)
{
    return waitFor ([&] { return readFile (file).find (text) != std::string::npos; }, timeout);
}

size_t countText (const std::string& haystack, const std::string& needle)
{
    size_t n = 0;
    for (auto at = haystack.find (needle); at != std::string::npos; at = haystack.find (needle, at + 1))
        ++n;
    return n;
}

/** Sends Suspend from inside the namespace: the manager answers every client with one
    LinkStatusChanged (STATE_IDLE), a notification that needs no equipment. */
Status suspendFrom (const std::string& netns)
{
    TestClient requests (netns, static_cast<uint32_t> (::getpid()));
    return requests.suspend();
}

std::string sourcePath (const std::string& relative) { return std::string (LYRLINK_SOURCE_DIR) + "/" + relative; }

} // namespace

TEST (ClientSdk, AnApplicationBuiltAgainstTheInstalledSdkFollowsTheManager)
{
    LYRLINK_REQUIRE_E2E();
    TempDir work;
    const auto prefix = work.path() + "/prefix";
    const auto out = work.path() + "/out.txt";
    const std::string quiet = " >>" + out + " 2>&1";

    // The SDK into a prefix of its own.
    for (const char* component : { "dev", "runtime" })
        ASSERT_EQ (sh ("cmake --install " + std::string (LYRLINK_BINARY_DIR) + " --prefix " + prefix + " --component " +
                       component + quiet),
                   0)
            << readFile (out);
    for (const char* file : { "include/lyrlink/client.h", "lib/liblyrlink-client.so.1", "lib/liblyrlink-client.a",
                              "lib/pkgconfig/lyrlink-client.pc", "lib/cmake/LyrLinkClient/LyrLinkClientConfig.cmake",
                              "share/doc/lyrlink/client-protocol.md" })
        EXPECT_TRUE (std::filesystem::exists (prefix + "/" + file)) << file;

    // The example, outside the tree, with nothing but what pkg-config says.
    const auto app = work.path() + "/app";
    std::filesystem::create_directories (app);
    std::filesystem::copy_file (sourcePath ("examples/lyrlink-monitor.c"), app + "/lyrlink-monitor.c");
    ASSERT_EQ (sh ("cd " + app + " && export PKG_CONFIG_PATH=" + prefix + "/lib/pkgconfig" +
                   " && cc -std=c99 -Wall -Wextra -Werror -pedantic " + LYRLINK_SDK_CONSUMER_FLAGS +
                   " lyrlink-monitor.c $(pkg-config --cflags --libs lyrlink-client) -o lyrlink-monitor" +
                   quiet),
               0)
        << readFile (out);

    // A CMake project that finds the package, linking the shared and the static library.
    const auto consumer = work.path() + "/consumer";
    std::filesystem::create_directories (consumer);
    std::ofstream (consumer + "/CMakeLists.txt")
        << "cmake_minimum_required(VERSION 3.16)\nproject(consumer C)\n"
           "find_package(LyrLinkClient 1 REQUIRED)\n"
           "add_executable(consumer main.c)\ntarget_link_libraries(consumer PRIVATE LyrLinkClient::lyrlink-client)\n"
           "add_executable(consumer_static main.c)\n"
           "target_link_libraries(consumer_static PRIVATE LyrLinkClient::lyrlink-client-static)\n";
    std::ofstream (consumer + "/main.c")
        << "#include <lyrlink/client.h>\n#include <stdio.h>\n"
           "int main (void)\n{\n    lyrlink_client* c = NULL;\n    const int rc = lyrlink_connect (NULL, &c);\n"
           "    printf (\"%s\\n\", lyrlink_strerror (rc));\n    return rc == LYRLINK_ERR_NO_MANAGER && c == NULL ? 0 : "
           "1;\n}\n";
    ASSERT_EQ (sh ("cmake -S " + consumer + " -B " + consumer + "/build -DCMAKE_PREFIX_PATH=" + prefix
                   + " '-DCMAKE_C_FLAGS=" + LYRLINK_SDK_CONSUMER_FLAGS + "'" + quiet +
                   " && cmake --build " + consumer + "/build" + quiet),
               0)
        << readFile (out);
    // Run where no manager is: each one says so.
    for (const char* program : { "consumer", "consumer_static" })
    {
        auto run = Process::start ({ consumer + "/build/" + program }, {}, {}, work.path() + "/" + program + ".txt");
        EXPECT_EQ (run.wait (10s), 0) << program << ": " << readFile (work.path() + "/" + program + ".txt");
        EXPECT_EQ (readFile (work.path() + "/" + program + ".txt"), "no manager is running\n") << program;
    }

    // The example against a running manager: the link status, then a notification through poll
    // and dispatch, then a clean goodbye on Ctrl-C, after which the manager, without clients, ends.
    Namespace ns ("sdk");
    ASSERT_TRUE (ns.ready);
    Manager manager (ns.name);
    ASSERT_TRUE (manager.waitForLog ("MainComponent::MainComponent OK IPC PIPE Create", kStepTimeout))
        << manager.describe();
    const auto monitorOut = work.path() + "/monitor.txt";
    auto monitor = Process::start ({ app + "/lyrlink-monitor", "/nonexistent/LyrLinkSysMgr" }, ns.name,
                                   { "LD_LIBRARY_PATH=" + prefix + "/lib" }, monitorOut);
    ASSERT_TRUE (waitForText (monitorOut,
                              "link status: state IDLE, own id 17, address 0.0.0.0, interface unknown, devices 0\n",
                              kStepTimeout))
        << readFile (monitorOut) << manager.describe();
    ASSERT_TRUE (manager.waitForLog ("MainComponent::replyMessage NG pzProcMsg->kind = 51", kStepTimeout))
        << manager.describe();
    ASSERT_EQ (suspendFrom (ns.name), Status::ok);
    EXPECT_TRUE (waitForText (monitorOut, "LinkStatusChanged: state IDLE, own id 17", kStepTimeout))
        << readFile (monitorOut);

    EXPECT_EQ (monitor.stop (SIGINT, 10s), 0) << readFile (monitorOut);
    EXPECT_NE (readFile (monitorOut).find ("\ndisconnected\n"), std::string::npos) << readFile (monitorOut);
    EXPECT_EQ (manager.process().wait (10s), 0) << manager.describe();
    EXPECT_TRUE (manager.hasLog ("MainComponent::messageAnalize LyrLinkSysMgr END")) << manager.describe();
}

TEST (ClientSdk, TwoApplicationsStartingTheManagerAtOnceShareOne)
{
    LYRLINK_REQUIRE_E2E();
    Namespace ns ("race");
    ASSERT_TRUE (ns.ready);
    TempDir home;
    ASSERT_TRUE (managersIn (ns.name).empty());

    // Both find no manager and start one; the first to claim the master pipe serves both.
    std::vector<Process> apps;
    std::vector<std::string> outputs;
    for (int i = 0; i < 2; ++i)
    {
        outputs.push_back (home.path() + "/app" + std::to_string (i) + ".txt");
        apps.push_back (Process::start ({ builtProgram ("examples/lyrlink-monitor"), builtProgram ("LyrLinkSysMgr") },
                                        ns.name, { "HOME=" + home.path(), "DISPLAY=", "XDG_CONFIG_HOME=" },
                                        outputs.back()));
    }
    for (const auto& o : outputs)
        ASSERT_TRUE (waitForText (o, "link status: state IDLE", kLinkUpTimeout)) << readFile (o);
    // A manager that lost the race was stopped by the application that started it.
    EXPECT_TRUE (waitFor ([&] { return managersIn (ns.name).size() == 1; }, kStepTimeout))
        << managersIn (ns.name).size() << " managers";
    const auto managers = managersIn (ns.name);
    // (Whether both did start one shows in the log: the loser's start-up replaced the file and
    // reports the name it could not claim.)
    const auto log = managerLogLines (home.path());
    std::cout << "[ INFO     ] master pipe claims that failed: "
              << std::count (log.begin(), log.end(), "MainComponent::MainComponent NG IPC PIPE Create") << std::endl;

    // Both are clients of that one: a suspend reaches both.
    ASSERT_EQ (suspendFrom (ns.name), Status::ok);
    for (const auto& o : outputs)
        EXPECT_TRUE (waitForText (o, "LinkStatusChanged: state IDLE", kStepTimeout)) << readFile (o);

    // The first goodbye leaves the manager serving the other; the second ends it.
    EXPECT_EQ (apps[0].stop (SIGINT, 10s), 0) << readFile (outputs[0]);
    EXPECT_EQ (managersIn (ns.name), managers);
    EXPECT_EQ (apps[1].stop (SIGINT, 10s), 0) << readFile (outputs[1]);
    EXPECT_TRUE (waitFor ([&] { return managersIn (ns.name).empty(); }, 10s));
    for (const auto& o : outputs)
        EXPECT_EQ (countText (readFile (o), "disconnected\n"), 1u) << readFile (o);
}

TEST (ClientSdk, AStartedManagerIsUsedByTheNextApplicationWithoutAnotherStart)
{
    LYRLINK_REQUIRE_E2E();
    Namespace ns ("ondemand");
    ASSERT_TRUE (ns.ready);
    TempDir home;
    const std::vector<std::string> env { "HOME=" + home.path(), "DISPLAY=", "XDG_CONFIG_HOME=" };

    const auto firstOut = home.path() + "/first.txt";
    auto first = Process::start ({ builtProgram ("examples/lyrlink-monitor"), builtProgram ("LyrLinkSysMgr") }, ns.name,
                                 env, firstOut);
    ASSERT_TRUE (waitForText (firstOut, "link status: state IDLE", kLinkUpTimeout)) << readFile (firstOut);
    const auto managers = managersIn (ns.name);
    ASSERT_EQ (managers.size(), 1u);

    // The second application is given a program that cannot run: it never needs it.
    const auto secondOut = home.path() + "/second.txt";
    auto second = Process::start ({ builtProgram ("examples/lyrlink-monitor"), "/nonexistent/LyrLinkSysMgr" }, ns.name,
                                  env, secondOut);
    ASSERT_TRUE (waitForText (secondOut, "link status: state IDLE", kStepTimeout)) << readFile (secondOut);
    EXPECT_EQ (managersIn (ns.name), managers);
    EXPECT_EQ (second.stop (SIGINT, 10s), 0);
    EXPECT_EQ (first.stop (SIGINT, 10s), 0);
    EXPECT_TRUE (waitFor ([&] { return managersIn (ns.name).empty(); }, 10s));

    // With no manager and a program that cannot run, the application says so and ends.
    const auto thirdOut = home.path() + "/third.txt";
    auto third = Process::start ({ builtProgram ("examples/lyrlink-monitor"), "/nonexistent/LyrLinkSysMgr" }, ns.name,
                                 env, thirdOut);
    EXPECT_EQ (third.wait (10s), 1);
    EXPECT_EQ (readFile (thirdOut), "cannot connect: the manager could not be started\n");
}

TEST (ClientSdk, AManagerStartedByAnApplicationThatLostTheRaceIsStoppedAgain)
{
    LYRLINK_REQUIRE_E2E();
    Namespace ns ("lost");
    ASSERT_TRUE (ns.ready);
    TempDir home;

    // The application's manager is slow to come up: by the time it would claim the master pipe,
    // the test's own manager has it.
    const auto marker = home.path() + "/started";
    const auto slow = home.path() + "/slow-manager";
    std::ofstream (slow) << "#!/bin/sh\necho $$ > " << marker << "\nsleep 3\nexec " << builtProgram ("LyrLinkSysMgr")
                         << "\n";
    std::filesystem::permissions (slow, std::filesystem::perms::owner_all);

    const auto appOut = home.path() + "/app.txt";
    auto app = Process::start ({ builtProgram ("examples/lyrlink-monitor"), slow }, ns.name,
                               { "HOME=" + home.path() + "/app-home", "DISPLAY=", "XDG_CONFIG_HOME=" }, appOut);
    ASSERT_TRUE (waitFor ([&] { return ! readFile (marker).empty(); }, kStepTimeout)) << readFile (appOut);
    const auto started = static_cast<pid_t> (std::atoi (readFile (marker).c_str()));
    ASSERT_GT (started, 0);

    Manager manager (ns.name);
    ASSERT_TRUE (manager.waitForLog ("MainComponent::MainComponent OK IPC PIPE Create", kStepTimeout))
        << manager.describe();
    ASSERT_TRUE (waitForText (appOut, "link status: state IDLE", kLinkUpTimeout)) << readFile (appOut);
    EXPECT_TRUE (
        manager.hasLog ("MainComponent::createPipe OK Create Pipe = " + std::to_string (app.pid()) + " size = 2"))
        << manager.describe();
    // The application stopped what it had started, and only the test's manager runs.
    EXPECT_EQ (::kill (started, 0) != 0 || isZombie (started), true);
    EXPECT_EQ (managersIn (ns.name), (std::vector<pid_t> { manager.process().pid() }));

    EXPECT_EQ (app.stop (SIGINT, 10s), 0) << readFile (appOut);
    EXPECT_EQ (manager.process().wait (10s), 0) << manager.describe();
}
