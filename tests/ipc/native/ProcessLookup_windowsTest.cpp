// The Tool Help lookup of the client application monitor on the real process list.
#include "ipc/native/ProcessLookup_windows.h"

#include "app/native/WinApi_windows.h"

#include <gtest/gtest.h>

#include <string>

using namespace lyrlink;

namespace
{

/** Starts "cmd.exe /c exit 0", waits for it to end and closes its handles; its process id, or 0
    when it could not be started. */
DWORD runFinishedProcess()
{
    wchar_t system[MAX_PATH] {};
    if (::GetSystemDirectoryW (system, MAX_PATH) == 0)
        return 0;
    std::wstring command = L"\"" + std::wstring (system) + L"\\cmd.exe\" /c exit 0";

    STARTUPINFOW startup {};
    startup.cb = sizeof (startup);
    PROCESS_INFORMATION process {};
    if (! ::CreateProcessW (nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                            &startup, &process))
        return 0;
    const bool ended = ::WaitForSingleObject (process.hProcess, 30000) == WAIT_OBJECT_0;
    ::CloseHandle (process.hThread);
    ::CloseHandle (process.hProcess);
    return ended ? process.dwProcessId : 0;
}

} // namespace

TEST (ProcessLookupWindows, FindsTheOwnProcessAndNotOneThatHasEnded)
{
    EXPECT_TRUE (isProcessRunning (::GetCurrentProcessId()));

    const DWORD finished = runFinishedProcess();
    ASSERT_NE (finished, 0u) << "cmd.exe could not be run";
    EXPECT_FALSE (isProcessRunning (finished));
    // Still there afterwards: the walk does not stop at the first miss.
    EXPECT_TRUE (isProcessRunning (::GetCurrentProcessId()));
}

TEST (ProcessLookupWindows, AnIdThatNoProcessHasIsNotFound)
{
    // Process ids are multiples of 4; an odd id is never in use.
    EXPECT_FALSE (isProcessRunning (0xFFFFFFFDu));
    EXPECT_FALSE (isProcessRunning (7));
}
