// Starting the manager on Linux: a double fork, so that the program runs in a session of its own
// and is reparented (and reaped) by the system rather than left a zombie of the application. A
// close-on-exec pipe carries the program's process id back, and the errno of a failed exec.
#include "client/ManagerLauncher.h"

#include "client/ClientClock.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace lyrlink::client
{

namespace
{
/** Reads exactly size bytes; false at the end of the stream first. */
bool readAll (int fd, void* data, size_t size)
{
    auto* p = static_cast<uint8_t*> (data);
    size_t done = 0;
    while (done < size)
    {
        const auto n = ::read (fd, p + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t> (n);
    }
    return true;
}

void writeAll (int fd, const void* data, size_t size)
{
    const auto* p = static_cast<const uint8_t*> (data);
    size_t done = 0;
    while (done < size)
    {
        const auto n = ::write (fd, p + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t> (n);
    }
}

/** In the grandchild, before exec: nothing of the application's but the report pipe survives. */
void detachStandardStreams (int keep)
{
    const int null = ::open ("/dev/null", O_RDWR);
    if (null >= 0)
    {
        ::dup2 (null, 0);
        ::dup2 (null, 1);
        ::dup2 (null, 2);
    }
    const long maxFd = ::sysconf (_SC_OPEN_MAX);
    for (int fd = 3; fd < (maxFd > 0 && maxFd < 65536 ? maxFd : 65536); ++fd)
        if (fd != keep)
            ::close (fd);
}
} // namespace

Status launchManagerProgram (const std::string& program, uint32_t& pid, std::string& why)
{
    pid = 0;
    if (program.empty())
    {
        why = "no manager program given";
        return Status::startFailed;
    }
    int report[2];
    if (::pipe2 (report, O_CLOEXEC) != 0)
    {
        why = std::string ("pipe: ") + std::strerror (errno);
        return Status::startFailed;
    }

    // Everything the children need is prepared before fork: between fork and exec only
    // async-signal-safe calls are made.
    const char* path = program.c_str();
    char* const argv[] = { const_cast<char*> (path), nullptr };

    const pid_t child = ::fork();
    if (child < 0)
    {
        why = std::string ("fork: ") + std::strerror (errno);
        ::close (report[0]);
        ::close (report[1]);
        return Status::startFailed;
    }
    if (child == 0)
    {
        ::close (report[0]);
        ::setsid();
        sigset_t none;
        sigemptyset (&none);
        ::sigprocmask (SIG_SETMASK, &none, nullptr);
        const pid_t grandchild = ::fork();
        if (grandchild != 0)
        {
            const int32_t id = grandchild > 0 ? static_cast<int32_t> (grandchild) : -1;
            writeAll (report[1], &id, sizeof (id));
            ::_exit (0);
        }
        for (int sig : { SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD })
            ::signal (sig, SIG_DFL);
        detachStandardStreams (report[1]);
        ::execv (path, argv);
        const int32_t error = errno;
        writeAll (report[1], &error, sizeof (error));
        ::_exit (127);
    }

    ::close (report[1]);
    int status = 0;
    while (::waitpid (child, &status, 0) < 0 && errno == EINTR)
    {
    }
    int32_t id = -1;
    int32_t execError = 0;
    const bool gotId = readAll (report[0], &id, sizeof (id));
    // The pipe ends when exec succeeded (close-on-exec) or the grandchild has gone.
    const bool execFailed = gotId && id > 0 && readAll (report[0], &execError, sizeof (execError));
    ::close (report[0]);
    if (! gotId || id <= 0)
    {
        why = "could not fork the manager process";
        return Status::startFailed;
    }
    if (execFailed)
    {
        why = program + ": " + std::strerror (execError);
        return Status::startFailed;
    }
    pid = static_cast<uint32_t> (id);
    return Status::ok;
}

bool isProcessAlive (uint32_t pid)
{
    if (pid == 0 || (::kill (static_cast<pid_t> (pid), 0) != 0 && errno == ESRCH))
        return false;
    // A zombie has ended even while nobody has reaped it yet: the field after the name in
    // parentheses is the state.
    std::ifstream stat ("/proc/" + std::to_string (pid) + "/stat");
    std::string text;
    std::getline (stat, text);
    const auto close = text.rfind (')');
    if (close == std::string::npos || close + 2 >= text.size())
        return true; // no process file system to tell: the signal test said it exists
    const char state = text[close + 2];
    return state != 'Z' && state != 'X';
}

void stopProcess (uint32_t pid, int waitMs)
{
    if (! isProcessAlive (pid))
        return;
    ::kill (static_cast<pid_t> (pid), SIGTERM);
    const auto deadline = deadlineIn (waitMs);
    while (isProcessAlive (pid) && msLeft (deadline) > 0)
        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    if (isProcessAlive (pid))
        ::kill (static_cast<pid_t> (pid), SIGKILL);
}

} // namespace lyrlink::client
