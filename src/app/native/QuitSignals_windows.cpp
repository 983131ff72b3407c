// Quit requests of the console: Ctrl-C, Ctrl-Break, closing the console window, log-off and
// system shutdown. The manager is a GUI program and has no console of its own; when it was started
// from one it attaches to it, so these events reach it as they reach a console program. The
// window's own close request (WM_CLOSE) and the session's end (WM_QUERYENDSESSION) arrive through
// JUCE's window procedure, which calls closeButtonPressed and systemRequestedQuit.
#include "app/QuitSignals.h"

#include <windows.h>


namespace lyrlink
{

namespace
{
// How long the handler of a close, log-off or shutdown event holds on: the system ends the
// process as soon as the handler returns, and about 5 s after a close event in any case.
constexpr DWORD kShutdownWaitMs = 4500;

// Runs on a thread the system starts for each event.
BOOL WINAPI onConsoleEvent (DWORD event)
{
    switch (event)
    {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            break;
        default:
            return FALSE;
    }

    quitRequested();

    // After Ctrl-C and Ctrl-Break the process goes on. After the others it would end as soon as
    // this returns, in the middle of the shutdown just asked for; so this thread waits, and the
    // process ends when the ordered shutdown is complete and the program returns from its entry.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        ::Sleep (kShutdownWaitMs);
    return TRUE;
}
} // namespace

void installQuitSignalHandling()
{
    // A console program's own console, or the console of whoever started this one.
    if (::GetConsoleWindow() == nullptr)
        (void) ::AttachConsole (ATTACH_PARENT_PROCESS);
    (void) ::SetConsoleCtrlHandler (&onConsoleEvent, TRUE);
}

} // namespace lyrlink
