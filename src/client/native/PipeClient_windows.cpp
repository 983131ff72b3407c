// The client's end of a pipe on Windows: the named pipe that the manager's endpoint serves,
// opened for overlapped I/O so that every read and write has a time limit. A pipe whose one
// instance serves another client is busy; opening waits for it within the time limit.
#include "client/ClientClock.h"
#include "client/LyrLinkClient.h"

#include "ipc/native/OverlappedIo_windows.h"

#include <algorithm>
#include <chrono>

namespace lyrlink::client
{

namespace
{
/** What is left of deadline, as the wait functions take it. */
DWORD msUntil (Clock::time_point deadline) { return static_cast<DWORD> (msLeft (deadline)); }

HANDLE handleOf (std::intptr_t handle) { return reinterpret_cast<HANDLE> (handle); }

/** How the end of the manager's side shows in an error code: it closed its end, or disconnected
    this client (which is how it ends a connection on which a message was cut off). */
bool isEndOfStream (DWORD error)
{
    return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF || error == ERROR_PIPE_NOT_CONNECTED ||
           error == ERROR_NO_DATA;
}

using Io = OverlappedIo;

/** One overlapped operation on the pipe with a time limit. */
template <typename Start> Io transfer (HANDLE pipe, Start start, DWORD timeoutMs, DWORD& bytes, DWORD& error)
{
    return runOverlapped (pipe, start, timeoutMs, nullptr, bytes, error);
}
} // namespace

uint32_t currentProcessId() noexcept { return static_cast<uint32_t> (::GetCurrentProcessId()); }

void PipeClient::close()
{
    if (m_handle != kNoHandle)
        ::CloseHandle (handleOf (m_handle));
    m_handle = kNoHandle;
    m_pending.clear();
}

Status PipeClient::open (const std::string& name, int timeoutMs)
{
    close();
    const auto path = makePipePath (m_scope + name);
    if (path.empty())
        return Status::noManager;

    const auto deadline = Clock::now() + std::chrono::milliseconds (timeoutMs);
    for (;;)
    {
        // The manager may learn who we are but not act as us.
        const HANDLE pipe =
            ::CreateFileW (path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE)
        {
            m_handle = reinterpret_cast<std::intptr_t> (pipe);
            return Status::ok;
        }

        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return Status::noManager;
        if (error != ERROR_PIPE_BUSY)
            return Status::ioError;

        // The one instance serves another client. WaitNamedPipe reads 0 as "the pipe's default
        // time", so a spent limit is answered here.
        const DWORD left = msUntil (deadline);
        if (left == 0)
            return Status::timeout;
        if (! ::WaitNamedPipeW (path.c_str(), left))
        {
            const DWORD waitError = ::GetLastError();
            if (waitError == ERROR_FILE_NOT_FOUND)
                return Status::noManager;
            if (waitError == ERROR_SEM_TIMEOUT || msUntil (deadline) == 0)
                return Status::timeout;
        }
        // Free now, or gone again: another client may have taken it first.
    }
}

Status PipeClient::sendRaw (const void* data, size_t size, int timeoutMs)
{
    if (! isOpen())
        return Status::closed;
    const HANDLE pipe = handleOf (m_handle);
    const auto* bytes = static_cast<const uint8_t*> (data);
    const auto deadline = Clock::now() + std::chrono::milliseconds (timeoutMs);
    size_t sent = 0;
    while (sent < size)
    {
        const auto piece = static_cast<DWORD> (std::min<size_t> (size - sent, 0x10000000));
        DWORD written = 0;
        DWORD error = 0;
        const auto outcome = transfer (
            pipe, [&] (OVERLAPPED& o) { return ::WriteFile (pipe, bytes + sent, piece, nullptr, &o); },
            msUntil (deadline), written, error);
        sent += written;
        if (outcome == Io::timedOut)
            return sent == size ? Status::ok : Status::timeout;
        if (outcome == Io::failed)
            return isEndOfStream (error) ? Status::closed : Status::ioError;
    }
    return Status::ok;
}

uint32_t PipeClient::getServerProcessId() const
{
    ULONG pid = 0;
    if (m_handle == kNoHandle || ! ::GetNamedPipeServerProcessId (handleOf (m_handle), &pid))
        return 0;
    return static_cast<uint32_t> (pid);
}

bool PipeClient::waitForBytes (int timeoutMs)
{
    const HANDLE pipe = handleOf (m_handle);
    DWORD available = 0;
    if (! ::PeekNamedPipe (pipe, nullptr, 0, nullptr, &available, nullptr))
        return true; // the end of the stream (or a broken pipe) is there to be read
    if (available > 0)
        return true;
    if (timeoutMs <= 0)
        return false;

    // Wait by reading: what arrives is kept for receive(), in order behind what is kept already.
    uint8_t buffer[4096];
    DWORD got = 0;
    DWORD error = 0;
    const auto outcome = transfer (
        pipe, [&] (OVERLAPPED& o) { return ::ReadFile (pipe, buffer, sizeof (buffer), nullptr, &o); },
        static_cast<DWORD> (timeoutMs), got, error);
    m_pending.insert (m_pending.end(), buffer, buffer + got);
    return got > 0 || outcome == Io::failed;
}

Status PipeClient::readSome (uint8_t* buffer, size_t capacity, size_t& count, int timeoutMs)
{
    const HANDLE pipe = handleOf (m_handle);
    const auto wanted = static_cast<DWORD> (std::min<size_t> (capacity, 0x7fffffff));
    count = 0;
    for (const auto deadline = Clock::now() + std::chrono::milliseconds (timeoutMs);;)
    {
        DWORD got = 0;
        DWORD error = 0;
        const auto outcome = transfer (
            pipe, [&] (OVERLAPPED& o) { return ::ReadFile (pipe, buffer, wanted, nullptr, &o); }, msUntil (deadline),
            got, error);
        if (got > 0)
        {
            count = got;
            return Status::ok;
        }
        if (outcome == Io::timedOut)
            return Status::timeout;
        if (outcome == Io::failed)
        {
            // count 0: the manager ended the stream
            return isEndOfStream (error) ? Status::ok : Status::ioError;
        }
        // A write of no bytes arrived: go on waiting.
        if (msUntil (deadline) == 0)
            return Status::timeout;
    }
}

} // namespace lyrlink::client
