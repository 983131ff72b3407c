// The socket address of a pipe on Linux, shared by the manager's endpoint and the client library:
// a Unix-domain address in the abstract namespace, a NUL byte and the name, its length covering
// exactly the name (no terminating NUL), so "LyrLinkSysMgrPIPE7" and "LyrLinkSysMgrPIPE70" are
// different pipes. Header-only and free of JUCE.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>

namespace lyrlink
{

struct PipeSocketAddress
{
    sockaddr_un address {};
    socklen_t length = 0;  // 0 when the name cannot be an abstract address

    bool isValid() const noexcept { return length != 0; }
    const sockaddr* get() const noexcept { return reinterpret_cast<const sockaddr*> (&address); }
};

/** The address of the pipe called name; not valid when name is empty or too long. */
inline PipeSocketAddress makePipeSocketAddress (const std::string& name) noexcept
{
    PipeSocketAddress a;
    a.address.sun_family = AF_UNIX;
    if (name.empty() || name.size() > sizeof (a.address.sun_path) - 1)
        return a;
    std::memcpy (a.address.sun_path + 1, name.data(), name.size());
    a.length = static_cast<socklen_t> (offsetof (sockaddr_un, sun_path) + 1 + name.size());
    return a;
}

} // namespace lyrlink
