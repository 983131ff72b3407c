// Runs the real program, and the tools, in network namespaces of their own. Every test makes its
// namespaces and processes itself and removes them by name and id when it ends.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace lyrlink::e2e
{

/** Path of a program built with the project (LyrLinkSysMgr, tools/lyrlinkctl/lyrlinkctl, ...). */
std::string builtProgram (const std::string& relativePath);

/** Why end-to-end tests cannot run here (not root, no namespaces), or empty when they can. */
std::string e2eUnavailableReason();

#define LYRLINK_REQUIRE_E2E()                                              \
    do                                                                     \
    {                                                                      \
        const auto reason = ::lyrlink::e2e::e2eUnavailableReason();        \
        if (! reason.empty())                                              \
            GTEST_SKIP() << reason;                                        \
    } while (false)

/** Runs a shell command; returns its exit status. */
int sh (const std::string& command);

/** A temporary folder, removed with everything in it. */
class TempDir
{
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

/** A process started in a namespace; killed and reaped when destroyed. */
class Process
{
public:
    /** Starts argv with the environment additions in the network namespace netns (empty: a new
        namespace of its own with only loopback up). Output goes to logFile when given. With
        pipeInput the process reads its standard input from writeInput, else from /dev/null. */
    static Process start (const std::vector<std::string>& argv, const std::string& netns,
                          const std::vector<std::string>& env = {}, const std::string& logFile = {},
                          bool pipeInput = false);

    Process() = default;
    Process (Process&& other) noexcept;
    Process& operator= (Process&& other) noexcept;
    ~Process();

    pid_t pid() const { return m_pid; }
    bool isRunning();
    /** Writes text to the process's standard input (started with pipeInput); false if it cannot. */
    bool writeInput (const std::string& text);
    /** Closes the process's standard input: it reads the end of the stream. */
    void closeInput();
    /** Sends sig and waits up to timeout for the process to end; the exit status, or nullopt. */
    std::optional<int> stop (int sig, std::chrono::milliseconds timeout);
    /** Waits for the process to end by itself. */
    std::optional<int> wait (std::chrono::milliseconds timeout);

private:
    pid_t m_pid = -1;
    int m_status = -1;
    int m_input = -1;
};

/**
    Two network namespaces joined by a veth pair: the manager's ("<name>-mgr", address
    managerAddress on "lyrm0") and the equipment's ("<name>-eq", equipmentAddress on "lyre0"), with
    loopback up in both. Removed with everything in them when destroyed.
*/
class VethNetwork
{
public:
    VethNetwork (const std::string& name, const std::string& managerCidr, const std::string& equipmentCidr);
    ~VethNetwork();

    bool isReady() const { return m_ready; }
    const std::string& managerNs() const { return m_managerNs; }
    const std::string& equipmentNs() const { return m_equipmentNs; }
    /** Runs "ip <args>" inside the manager's namespace. */
    int ipInManager (const std::string& args) const;
    /** Runs "ip <args>" inside the equipment's namespace. */
    int ipInEquipment (const std::string& args) const;
    /** Adds another address to the equipment side (for more simulated devices). */
    int addEquipmentAddress (const std::string& cidr) const;

private:
    std::string m_managerNs, m_equipmentNs;
    bool m_ready = false;
};

/** Runs fn on a thread of its own that has entered the named network namespace, and waits for
    it. Sockets made there belong to that namespace (abstract Unix sockets, that is the manager's
    pipes, included) and stay usable from any thread. False when the namespace cannot be entered. */
bool runInNetns (const std::string& netns, const std::function<void()>& fn);

/** Polls until predicate is true or the time-out passes. */
bool waitFor (const std::function<bool()>& predicate, std::chrono::milliseconds timeout);

/** The contents of a file ("" when missing). */
std::string readFile (const std::string& path);

/** The message texts of the manager's log under home (time stamps removed), in order. */
std::vector<std::string> managerLogLines (const std::string& home);

} // namespace lyrlink::e2e
