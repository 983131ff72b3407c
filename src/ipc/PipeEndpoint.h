// The server end of one named local pipe, as the connection uses it. On Linux it is a Unix-domain
// stream socket in the abstract namespace; tests replace it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace lyrlink
{

class PipeEndpoint
{
public:
    /** Told about a client that was turned away: its user id and process id as the kernel
        reported them (uid 0xFFFFFFFF and pid -1 when they could not be read). */
    using RefusalObserver = std::function<void (uint32_t uid, int32_t pid)>;

    virtual ~PipeEndpoint() = default;

    /** Claims the name; false when it cannot be created (another server holds it). */
    virtual bool create (const std::string& name) = 0;

    /** Waits for a client when none is connected (serving one at a time) and reads up to size
        bytes from it. Returns the number of bytes read; 0 when that client left (the next call
        waits for the next client); -1 once the endpoint is closed. */
    virtual int read (uint8_t* buffer, size_t size) = 0;

    /** Writes all bytes in one write: waits at most connectWaitMs for a client to be connected,
        then at most writeTimeoutMs for the write. True only when every byte was written. Never
        raises SIGPIPE. */
    virtual bool write (const uint8_t* data, size_t size, int connectWaitMs, int writeTimeoutMs) = 0;

    /** Closes the endpoint: the name is given up, a blocked read returns -1, a write waiting for
        a client gives up, and later writes fail. */
    virtual void close() = 0;

    /** Installs the observer of refused clients; called before the first read. Endpoints that
        never refuse anyone ignore it. */
    virtual void setRefusalObserver (RefusalObserver observer) { (void) observer; }
};

} // namespace lyrlink
