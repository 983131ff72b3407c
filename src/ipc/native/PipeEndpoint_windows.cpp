// Pipes as Windows named pipes with one instance per name: a second server on a taken name fails
// to create it. The pipe's access list names only the user the manager runs as, and remote
// clients are refused, so only programs of that user on this machine can open it.
//
// All I/O is overlapped, and every wait includes m_closeEvent, which close() sets for good: a
// read waiting for a client or for bytes, and a write waiting for room, give up at once. Threads:
// one reader (the connection's thread) connects clients and reads; any number of writers
// (serialised per connection above this class). Each counts itself in m_users while it uses the
// handle, and close() closes the handle only once they have all left it.
#include "ipc/native/PipeEndpoint_windows.h"

#include "ipc/native/OverlappedIo_windows.h"
#include "ipc/native/PipeAddress_windows.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace lyrlink
{

namespace
{

/** Duplex access with overlapped I/O. */
constexpr DWORD kOpenMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
/** Byte stream, byte reads, blocking; clients on other machines are turned away. */
constexpr DWORD kPipeMode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
constexpr DWORD kMaxInstances = 1;
constexpr DWORD kBufferSize = 64;
/** After a failure to wait for a client that is not the end of a client, try again after this
    long instead of spinning. */
constexpr DWORD kRetryMs = 100;

struct HandleCloser
{
    HANDLE handle;
    ~HandleCloser()
    {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
            ::CloseHandle (handle);
    }
};

/** Security attributes whose access list allows the user of this process and nobody else. */
class CurrentUserOnly
{
public:
    CurrentUserOnly()
    {
        HANDLE token = nullptr;
        if (! ::OpenProcessToken (::GetCurrentProcess(), TOKEN_QUERY, &token))
            return;
        const HandleCloser closeToken { token };

        DWORD size = 0;
        ::GetTokenInformation (token, TokenUser, nullptr, 0, &size);
        if (size == 0)
            return;
        m_user.resize (size);
        if (! ::GetTokenInformation (token, TokenUser, m_user.data(), size, &size))
            return;
        const PSID sid = reinterpret_cast<TOKEN_USER*> (m_user.data())->User.Sid;
        if (! ::IsValidSid (sid))
            return;

        m_acl.resize (sizeof (ACL) + sizeof (ACCESS_ALLOWED_ACE) - sizeof (DWORD) + ::GetLengthSid (sid));
        auto* acl = reinterpret_cast<ACL*> (m_acl.data());
        if (! ::InitializeAcl (acl, static_cast<DWORD> (m_acl.size()), ACL_REVISION) ||
            ! ::AddAccessAllowedAce (acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
            ! ::InitializeSecurityDescriptor (&m_descriptor, SECURITY_DESCRIPTOR_REVISION) ||
            ! ::SetSecurityDescriptorDacl (&m_descriptor, TRUE, acl, FALSE))
            return;

        m_attributes.nLength = sizeof (m_attributes);
        m_attributes.lpSecurityDescriptor = &m_descriptor;
        m_attributes.bInheritHandle = FALSE;
        m_valid = true;
    }

    CurrentUserOnly (const CurrentUserOnly&) = delete;
    CurrentUserOnly& operator= (const CurrentUserOnly&) = delete;

    /** Null when the user could not be determined. */
    SECURITY_ATTRIBUTES* get() noexcept { return m_valid ? &m_attributes : nullptr; }

private:
    std::vector<uint8_t> m_user; // the TOKEN_USER record, which m_acl's entry points into
    std::vector<uint8_t> m_acl;
    SECURITY_DESCRIPTOR m_descriptor {};
    SECURITY_ATTRIBUTES m_attributes {};
    bool m_valid = false;
};

class WindowsPipeEndpoint final : public PipeEndpoint
{
public:
    explicit WindowsPipeEndpoint (std::string scope) : m_scope (std::move (scope))
    {
        m_closeEvent = ::CreateEventW (nullptr, TRUE, FALSE, nullptr);
    }

    ~WindowsPipeEndpoint() override
    {
        close();
        if (m_closeEvent != nullptr)
            ::CloseHandle (m_closeEvent);
    }

    WindowsPipeEndpoint (const WindowsPipeEndpoint&) = delete;
    WindowsPipeEndpoint& operator= (const WindowsPipeEndpoint&) = delete;

    bool create (const std::string& name) override
    {
        const auto path = makePipePath (m_scope + name);
        if (m_closeEvent == nullptr || path.empty())
            return false;
        {
            const std::lock_guard<std::mutex> g (m_lock);
            if (m_closed || m_pipe != INVALID_HANDLE_VALUE)
                return false;
        }

        CurrentUserOnly security;
        if (security.get() == nullptr)
            return false;
        const HANDLE pipe = ::CreateNamedPipeW (path.c_str(), kOpenMode, kPipeMode, kMaxInstances, kBufferSize,
                                                kBufferSize, 0, security.get());
        if (pipe == INVALID_HANDLE_VALUE)
            return false;

        const std::lock_guard<std::mutex> g (m_lock);
        if (m_closed || m_pipe != INVALID_HANDLE_VALUE)
        {
            ::CloseHandle (pipe);
            return false;
        }
        m_pipe = pipe;
        return true;
    }

    int read (uint8_t* buffer, size_t size) override
    {
        const auto wanted = static_cast<DWORD> (std::min<size_t> (size, 0x7fffffff));
        for (;;)
        {
            Use use (*this);
            if (! use.isValid())
                return -1;

            if (! use.connected)
            {
                if (! connectClient (use.pipe))
                    return -1;
                continue;
            }

            DWORD got = 0;
            DWORD error = 0;
            const auto outcome = transfer (
                use.pipe, [&] (OVERLAPPED& o) { return ::ReadFile (use.pipe, buffer, wanted, nullptr, &o); }, INFINITE,
                got, error);
            if (outcome == Io::done)
            {
                if (got > 0)
                    return static_cast<int> (got);
                continue; // a write of no bytes
            }
            if (outcome == Io::stopped)
                return -1;
            // The client closed its end (or was cut off): it is gone.
            dropClient (use.pipe, use.generation);
            return 0;
        }
    }

    bool write (const uint8_t* data, size_t size, int connectWaitMs, int writeTimeoutMs) override
    {
        if (size > 0x7fffffff)
            return false;
        {
            std::unique_lock<std::mutex> l (m_lock);
            m_changed.wait_for (l, std::chrono::milliseconds (std::max (connectWaitMs, 0)),
                                [this] { return m_closed || m_connected; });
        }
        Use use (*this);
        if (! use.isValid() || ! use.connected)
            return false;

        DWORD written = 0;
        DWORD error = 0;
        const auto outcome = transfer (
            use.pipe,
            [&] (OVERLAPPED& o) { return ::WriteFile (use.pipe, data, static_cast<DWORD> (size), nullptr, &o); },
            static_cast<DWORD> (std::max (writeTimeoutMs, 0)), written, error);

        // A message cut off part way would leave the client reading the rest of it as the next
        // header; ending the connection instead lets the client see a clean end of the stream.
        // How much of a cancelled write reached the pipe's buffer is not reported reliably, so
        // every write given up counts as cut off.
        const bool whole = outcome == Io::done && written == size;
        if (! whole && outcome != Io::stopped)
            dropClient (use.pipe, use.generation);
        return whole;
    }

    void close() override
    {
        std::unique_lock<std::mutex> l (m_lock);
        if (! m_closed)
        {
            m_closed = true;
            if (m_closeEvent != nullptr)
                ::SetEvent (m_closeEvent);
            if (m_pipe != INVALID_HANDLE_VALUE)
                ::CancelIoEx (m_pipe, nullptr);
            m_changed.notify_all();
        }
        // Every wait includes the close event, so the users leave promptly.
        m_changed.wait (l, [this] { return m_users == 0; });
        if (m_pipe != INVALID_HANDLE_VALUE)
        {
            ::CloseHandle (m_pipe); // cuts the client off; the name is free from here on
            m_pipe = INVALID_HANDLE_VALUE;
        }
    }

private:
    using Io = OverlappedIo;

    /** One thread's use of the handle, counted in m_users while it lasts; taken with the state
        that the use starts from. */
    struct Use
    {
        explicit Use (WindowsPipeEndpoint& e) : owner (e)
        {
            const std::lock_guard<std::mutex> g (owner.m_lock);
            if (owner.m_closed || owner.m_pipe == INVALID_HANDLE_VALUE)
                return;
            pipe = owner.m_pipe;
            connected = owner.m_connected;
            generation = owner.m_generation;
            ++owner.m_users;
        }
        ~Use()
        {
            if (pipe == INVALID_HANDLE_VALUE)
                return;
            const std::lock_guard<std::mutex> g (owner.m_lock);
            if (--owner.m_users == 0)
                owner.m_changed.notify_all();
        }
        Use (const Use&) = delete;
        Use& operator= (const Use&) = delete;

        bool isValid() const noexcept { return pipe != INVALID_HANDLE_VALUE; }

        WindowsPipeEndpoint& owner;
        HANDLE pipe = INVALID_HANDLE_VALUE;
        bool connected = false;
        uint64_t generation = 0;
    };

    /** One overlapped operation, at most timeoutMs and never past close(). */
    Io transfer (HANDLE pipe, const std::function<BOOL (OVERLAPPED&)>& start, DWORD timeoutMs, DWORD& bytes,
                 DWORD& error)
    {
        return runOverlapped (pipe, start, timeoutMs, m_closeEvent, bytes, error);
    }

    /** Waits for the next client; false once the endpoint is closed. */
    bool connectClient (HANDLE pipe)
    {
        for (;;)
        {
            DWORD bytes = 0;
            DWORD error = 0;
            const auto outcome = transfer (
                pipe, [pipe] (OVERLAPPED& o) { return ::ConnectNamedPipe (pipe, &o); }, INFINITE, bytes, error);
            if (outcome == Io::stopped)
                return false;
            if (outcome == Io::done || error == ERROR_PIPE_CONNECTED)
            {
                const std::lock_guard<std::mutex> g (m_lock);
                if (m_closed)
                    return false;
                m_connected = true;
                ++m_generation;
                m_changed.notify_all();
                return true;
            }
            // ERROR_NO_DATA: a client came and went before it was seen. Anything else: wait a
            // little first. Either way the instance must be disconnected before it listens again.
            if (error != ERROR_NO_DATA && ::WaitForSingleObject (m_closeEvent, kRetryMs) == WAIT_OBJECT_0)
                return false;
            ::DisconnectNamedPipe (pipe);
        }
    }

    /** Ends the connection to the client of that generation, if it is still the one connected;
        the instance then waits for the next client at the next read. */
    void dropClient (HANDLE pipe, uint64_t generation)
    {
        const std::lock_guard<std::mutex> g (m_lock);
        if (! m_connected || m_generation != generation)
            return;
        ::DisconnectNamedPipe (pipe);
        m_connected = false;
        m_changed.notify_all();
    }

    const std::string m_scope;
    std::mutex m_lock;
    std::condition_variable m_changed; // m_connected, m_closed or m_users changed
    HANDLE m_pipe = INVALID_HANDLE_VALUE;
    HANDLE m_closeEvent = nullptr;
    bool m_connected = false;
    uint64_t m_generation = 0; // counts the clients connected so far
    int m_users = 0;
    bool m_closed = false;
};

} // namespace

std::unique_ptr<PipeEndpoint> createWindowsPipeEndpoint (const std::string& scope)
{
    return std::make_unique<WindowsPipeEndpoint> (scope);
}

} // namespace lyrlink
