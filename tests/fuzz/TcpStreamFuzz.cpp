// A TCP byte stream through the TCP server into frameRead: the server's own read loop and header
// test serve a connection whose reads are the input, on the fuzzer's thread (no thread hand-over
// and no wait per read). Input: one byte of StartFlags, then the peer's writes: two size bytes (1
// to 1024 octets, the server's read size) and the write, which the server takes as one read; 25 ms
// of virtual time pass after each read has been handled. The peer closes at the end of the input.
#include "fuzz/FuzzLink.h"

#include "transport/LyrLinkTCPServer.h"

#include <cstring>

using namespace lyrlink;
using namespace lyrlink::fuzz;

namespace
{
class InputConnection final : public StreamConnection
{
public:
    explicit InputConnection (InputReader& in) : m_in (in) {}

    int read (uint8_t* buffer, size_t capacity) override
    {
        // The server asks again once it has handed the last read to frameRead.
        if (m_reads++ > 0)
        {
            harness().scheduler.advance (25);
            checkInvariants();
        }
        if (m_in.isEmpty())
            return 0;
        // Reads of 1 to kReadSize octets; larger sizes are as likely as small ones.
        const size_t piece =
            1 + (static_cast<size_t> (m_in.byte()) * 4 + (m_in.byte() & 3)) % LyrLinkTCPServer::kReadSize;
        const auto write = m_in.bytes (std::min (piece, capacity));
        if (write.empty())
            return 0;
        std::memcpy (buffer, write.data(), write.size());
        return static_cast<int> (write.size());
    }

    void shutdown() override {}

private:
    InputReader& m_in;
    int m_reads = 0;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    if (size > 16384)
        return 0;
    InputReader in (data, size);
    startInput (StartFlags::of (in.byte()));

    InputConnection connection (in);
    harness().mc->getTcpServer()->serveConnectionForTests (connection);
    finishInput();
    return 0;
}
