// One overlapped operation on a pipe handle with a time limit, shared by the manager's pipe end
// and the client library's. Header-only and free of JUCE.
#pragma once

#include "ipc/native/PipeAddress_windows.h"

#include <functional>

namespace lyrlink
{

enum class OverlappedIo
{
    done,     // the operation completed (perhaps only just before a cancel)
    failed,   // it failed; error says why
    timedOut, // cancelled after the time limit
    stopped   // cancelled because the stop event was set
};

/** Starts one overlapped operation on handle (start returns what the starting call returned) and
    waits for it, at most timeoutMs and, when stopEvent is not null, never past that event being
    set. An operation that is given up is cancelled and waited for, so its buffer and record are
    free again when this returns; bytes says how much it moved. */
inline OverlappedIo runOverlapped (HANDLE handle, const std::function<BOOL (OVERLAPPED&)>& start, DWORD timeoutMs,
                                   HANDLE stopEvent, DWORD& bytes, DWORD& error)
{
    bytes = 0;
    error = 0;
    OVERLAPPED o {};
    o.hEvent = ::CreateEventW (nullptr, TRUE, FALSE, nullptr);
    if (o.hEvent == nullptr)
    {
        error = ::GetLastError();
        return OverlappedIo::failed;
    }

    OverlappedIo outcome = OverlappedIo::done;
    if (! start (o))
    {
        error = ::GetLastError();
        if (error != ERROR_IO_PENDING)
            outcome = OverlappedIo::failed;
    }
    if (outcome == OverlappedIo::done)
    {
        const HANDLE events[2] = { o.hEvent, stopEvent };
        const DWORD woken = ::WaitForMultipleObjects (stopEvent != nullptr ? 2 : 1, events, FALSE, timeoutMs);
        if (woken != WAIT_OBJECT_0)
            ::CancelIoEx (handle, &o);
        if (::GetOverlappedResult (handle, &o, &bytes, TRUE))
            error = 0;
        else
        {
            error = ::GetLastError();
            outcome = woken == WAIT_OBJECT_0 + 1 ? OverlappedIo::stopped
                      : woken == WAIT_TIMEOUT    ? OverlappedIo::timedOut
                                                 : OverlappedIo::failed;
        }
    }
    ::CloseHandle (o.hEvent);
    return outcome;
}

} // namespace lyrlink
