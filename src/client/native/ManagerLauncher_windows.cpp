// Starting the manager on Windows: a detached process in a process group of its own, so that it
// has no console of the application's and a Ctrl-C in the application's console does not reach it.
// The handles are closed at once: the manager outlives the application.
#include "client/ManagerLauncher.h"

#include "client/ClientClock.h"

#include <thread>

#include "app/native/WinApi_windows.h"

namespace lyrlink::client
{

namespace
{
std::wstring widen (const std::string& text)
{
    if (text.empty())
        return {};
    const int length = ::MultiByteToWideChar (CP_UTF8, 0, text.data(), static_cast<int> (text.size()), nullptr, 0);
    std::wstring wide (static_cast<size_t> (length), L'\0');
    ::MultiByteToWideChar (CP_UTF8, 0, text.data(), static_cast<int> (text.size()), wide.data(), length);
    return wide;
}

std::string describeError (DWORD error)
{
    char* text = nullptr;
    const DWORD length = ::FormatMessageA (FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                               | FORMAT_MESSAGE_IGNORE_INSERTS,
                                           nullptr, error, 0, reinterpret_cast<char*> (&text), 0, nullptr);
    std::string result = length > 0 && text != nullptr ? std::string (text, length) : "error " + std::to_string (error);
    if (text != nullptr)
        ::LocalFree (text);
    while (! result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    return result;
}
} // namespace

Status launchManagerProgram (const std::string& program, uint32_t& pid, std::string& why)
{
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::wstring commandLine = L"\"" + widen (program) + L"\"";
    const std::wstring application = widen (program);
    STARTUPINFOW startup {};
    startup.cb = sizeof (startup);
    PROCESS_INFORMATION process {};
    if (! ::CreateProcessW (application.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                            DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &process))
    {
        why = program + ": " + describeError (::GetLastError());
        return Status::startFailed;
    }
    ::CloseHandle (process.hThread);
    ::CloseHandle (process.hProcess);
    pid = static_cast<uint32_t> (process.dwProcessId);
    return Status::ok;
}

bool isProcessAlive (uint32_t pid)
{
    if (pid == 0)
        return false;
    const HANDLE process = ::OpenProcess (PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr)
        return false;
    DWORD code = 0;
    const bool running = ::GetExitCodeProcess (process, &code) && code == STILL_ACTIVE;
    ::CloseHandle (process);
    return running;
}

void stopProcess (uint32_t pid, int waitMs)
{
    // A detached manager has no console to send Ctrl-C to: it is given waitMs to end by itself
    // (it ends when its last client has gone) and is then ended.
    const auto deadline = deadlineIn (waitMs);
    while (isProcessAlive (pid) && msLeft (deadline) > 0)
        std::this_thread::sleep_for (std::chrono::milliseconds (10));
    if (! isProcessAlive (pid))
        return;
    if (const HANDLE process = ::OpenProcess (PROCESS_TERMINATE, FALSE, pid))
    {
        ::TerminateProcess (process, 1);
        ::CloseHandle (process);
    }
}

} // namespace lyrlink::client
