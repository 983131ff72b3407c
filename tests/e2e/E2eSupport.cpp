#include "e2e/E2eSupport.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <net/if.h>
#include <sched.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace lyrlink::e2e
{

std::string builtProgram (const std::string& relativePath) { return std::string (LYRLINK_BINARY_DIR) + "/" + relativePath; }

std::string e2eUnavailableReason()
{
    if (::geteuid() != 0)
        return "needs root to create network namespaces (CI runs as root)";
    static const int status = sh ("unshare --net true >/dev/null 2>&1");
    if (status != 0)
        return "network namespaces cannot be created here (unshare --net failed)";
    return {};
}

int sh (const std::string& command)
{
    const int status = std::system (command.c_str());
    return WIFEXITED (status) ? WEXITSTATUS (status) : -1;
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/lyrlink-e2e-XXXXXX";
    m_path = ::mkdtemp (pattern);
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all (m_path, ec);
}

namespace
{
void bringLoopbackUp()
{
    const int fd = ::socket (AF_INET, SOCK_DGRAM, 0);
    ifreq ifr {};
    std::strncpy (ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (::ioctl (fd, SIOCGIFFLAGS, &ifr) == 0)
    {
        ifr.ifr_flags |= IFF_UP;
        ::ioctl (fd, SIOCSIFFLAGS, &ifr);
    }
    ::close (fd);
}
} // namespace

Process Process::start (const std::vector<std::string>& argv, const std::string& netns,
                        const std::vector<std::string>& env, const std::string& logFile, bool pipeInput)
{
    int input[2] = { -1, -1 };
    if (pipeInput && ::pipe2 (input, O_CLOEXEC) != 0)
        input[0] = input[1] = -1;
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        ::setpgid (0, 0);
        const int in = input[0] >= 0 ? input[0] : ::open ("/dev/null", O_RDONLY);
        ::dup2 (in, 0);
        if (netns.empty())
        {
            if (::unshare (CLONE_NEWNET) != 0)
                ::_exit (126);
            bringLoopbackUp();
        }
        else
        {
            const auto path = "/run/netns/" + netns;
            const int fd = ::open (path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::setns (fd, CLONE_NEWNET) != 0)
                ::_exit (126);
        }
        for (const auto& e : env)
            ::putenv (::strdup (e.c_str()));
        if (! logFile.empty())
        {
            const int out = ::open (logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2 (out, 1);
            ::dup2 (out, 2);
        }
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back (const_cast<char*> (a.c_str()));
        args.push_back (nullptr);
        ::execv (args[0], args.data());
        ::_exit (127);
    }
    if (input[0] >= 0)
        ::close (input[0]);
    Process p;
    p.m_pid = pid;
    p.m_input = input[1];
    return p;
}

Process::Process (Process&& other) noexcept : m_pid (other.m_pid), m_status (other.m_status), m_input (other.m_input)
{
    other.m_pid = -1;
    other.m_input = -1;
}

Process& Process::operator= (Process&& other) noexcept
{
    std::swap (m_pid, other.m_pid);
    std::swap (m_status, other.m_status);
    std::swap (m_input, other.m_input);
    return *this;
}

Process::~Process()
{
    closeInput();
    if (m_pid > 0 && isRunning())
        stop (SIGKILL, std::chrono::milliseconds (5000));
}

bool Process::writeInput (const std::string& text)
{
    // A process that has ended must fail the write, not end the test run.
    static const bool ignoringSigpipe = std::signal (SIGPIPE, SIG_IGN) != SIG_ERR;
    (void) ignoringSigpipe;
    size_t done = 0;
    while (m_input >= 0 && done < text.size())
    {
        const auto n = ::write (m_input, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t> (n);
    }
    return m_input >= 0;
}

void Process::closeInput()
{
    if (m_input >= 0)
        ::close (m_input);
    m_input = -1;
}

bool Process::isRunning()
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    const pid_t r = ::waitpid (m_pid, &status, WNOHANG);
    if (r == m_pid)
    {
        m_status = status;
        m_pid = -1;
        return false;
    }
    return r == 0;
}

std::optional<int> Process::wait (std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end)
    {
        if (! isRunning())
            return WIFEXITED (m_status) ? WEXITSTATUS (m_status) : 128 + WTERMSIG (m_status);
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }
    return std::nullopt;
}

std::optional<int> Process::stop (int sig, std::chrono::milliseconds timeout)
{
    if (m_pid <= 0)
        return WIFEXITED (m_status) ? WEXITSTATUS (m_status) : 128 + WTERMSIG (m_status);
    ::kill (m_pid, sig);
    return wait (timeout);
}

VethNetwork::VethNetwork (const std::string& name, const std::string& managerCidr, const std::string& equipmentCidr)
    : m_managerNs (name + "-mgr"), m_equipmentNs (name + "-eq")
{
    // A namespace left by an earlier run that was killed would make the adds fail.
    sh ("ip netns del " + m_managerNs + " 2>/dev/null; ip netns del " + m_equipmentNs + " 2>/dev/null");
    m_ready = sh ("ip netns add " + m_managerNs) == 0 && sh ("ip netns add " + m_equipmentNs) == 0
           && sh ("ip link add lyrm0 netns " + m_managerNs + " type veth peer name lyre0 netns " + m_equipmentNs) == 0
           && ipInManager ("link set lo up") == 0 && ipInEquipment ("link set lo up") == 0
           && ipInManager ("addr add " + managerCidr + " dev lyrm0") == 0
           && ipInEquipment ("addr add " + equipmentCidr + " dev lyre0") == 0
           && ipInManager ("link set lyrm0 up") == 0 && ipInEquipment ("link set lyre0 up") == 0;
}

VethNetwork::~VethNetwork()
{
    sh ("ip netns del " + m_managerNs + " 2>/dev/null");
    sh ("ip netns del " + m_equipmentNs + " 2>/dev/null");
}

int VethNetwork::ipInManager (const std::string& args) const { return sh ("ip -n " + m_managerNs + " " + args); }

int VethNetwork::ipInEquipment (const std::string& args) const { return sh ("ip -n " + m_equipmentNs + " " + args); }

int VethNetwork::addEquipmentAddress (const std::string& cidr) const { return ipInEquipment ("addr add " + cidr + " dev lyre0"); }

bool runInNetns (const std::string& netns, const std::function<void()>& fn)
{
    bool entered = false;
    std::thread worker ([&] {
        const auto path = "/run/netns/" + netns;
        const int fd = ::open (path.c_str(), O_RDONLY | O_CLOEXEC);
        // The network namespace is a property of the thread: only this one moves.
        entered = fd >= 0 && ::setns (fd, CLONE_NEWNET) == 0;
        if (fd >= 0)
            ::close (fd);
        if (entered)
            fn();
    });
    worker.join();
    return entered;
}

bool waitFor (const std::function<bool()>& predicate, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        if (predicate())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    }
}

std::string readFile (const std::string& path)
{
    std::ifstream in (path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> managerLogLines (const std::string& home)
{
    std::vector<std::string> lines;
    std::istringstream in (readFile (home + "/.config/VelmoraLog/LyrLinkSysMgrLog.txt"));
    std::string line;
    while (std::getline (in, line))
    {
        if (! line.empty() && line.back() == '\r')
            line.pop_back();
        const auto split = line.find ("  ");
        if (split != std::string::npos && split > 0 && line.rfind ("Log started: ", 0) != 0)
            lines.push_back (line.substr (split + 2));
    }
    return lines;
}

} // namespace lyrlink::e2e
