// A TCP byte stream through the TCP server into frameRead: the server's own thread accepts a fake
// connection, reads it and applies its header test, as from a real socket. Input: one byte of
// StartFlags, then the peer's writes: two size bytes (1 to 1024 octets, the server's read size) and
// the write, which the server takes as one read; 25 ms of virtual time pass after each read has
// been handled. The peer closes at the end of the input.
#include "fuzz/FuzzLink.h"

#include "support/FakeStream.h"
#include "transport/LyrLinkTCPServer.h"

using namespace lyrlink;
using namespace lyrlink::fuzz;

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    if (size > 16384)
        return 0;
    InputReader in (data, size);
    startInput (StartFlags::of (in.byte()));
    auto& h = harness();

    const auto peer = h.platform.tcp->connect();
    while (!in.isEmpty())
    {
        // Reads of 1 to kReadSize octets; larger sizes are as likely as small ones.
        const size_t piece = 1 + (static_cast<size_t> (in.byte()) * 4 + (in.byte() & 3)) % LyrLinkTCPServer::kReadSize;
        auto write = in.bytes (piece);
        if (write.empty())
            break;
        peer->send (std::move (write));
        // Every read taken has been handed to frameRead once the server waits for more.
        require (peer->waitUntilDrained());
        h.scheduler.advance (25);
        checkInvariants();
    }
    peer->close();
    require (peer->waitUntilClosed());
    return 0;
}
