// A TCP byte stream through the TCP server's header test into frameRead. Input: one byte of
// StartFlags, then the reads as recv hands them over: two size bytes (1 to 1024 octets, the
// server's read size) and the read; 25 ms of virtual time pass between reads.
#include "fuzz/FuzzLink.h"

#include "transport/LyrLinkSysMgrTCP.h"

using namespace lyrlink;
using namespace lyrlink::fuzz;

namespace
{
/** The server's read hand-over without its socket: what serveConnection does with each read. */
class UnopenedServer final : public LyrLinkSysMgrTCP
{
public:
    UnopenedServer() : LyrLinkSysMgrTCP (0) {}
    void deliver (const std::vector<uint8_t>& read)
    {
        const juce::MemoryBlock block (read.data(), read.size());
        dataReceived (m_srcAddr, block);
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    if (size > 16384)
        return 0;
    InputReader in (data, size);
    startInput (StartFlags::of (in.byte()));
    auto& h = harness();
    static UnopenedServer* server = [&]
    {
        auto* s = new UnopenedServer();
        s->m_callback = h.mc.get();
        return s;
    }();

    while (!in.isEmpty())
    {
        // Reads of 1 to kReadSize octets; larger sizes are as likely as small ones.
        const size_t piece = 1 + (static_cast<size_t> (in.byte()) * 4 + (in.byte() & 3)) % LyrLinkTCPServer::kReadSize;
        const auto read = in.bytes (piece);
        if (read.empty())
            break;
        server->deliver (read);
        h.scheduler.advance (25);
        checkInvariants();
    }
    return 0;
}
