// A pipe byte stream through the pipe frame reader into messageAnalize. Input: one byte of
// StartFlags (bit 5 also picks the pipe: clear the master pipe, set the pipe of a client that
// connected and was permitted first), then the stream, handed to the reader in pieces whose sizes
// the stream's own bytes choose. Every frame read goes to messageAnalize on that pipe, as the
// connection's reader thread hands it over, and 25 ms of virtual time pass after it.
#include "fuzz/FuzzLink.h"

#include "ipc/PipeFrameReader.h"

#include <cstring>

using namespace lyrlink;
using namespace lyrlink::fuzz;

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    if (size > 65536)
        return 0;
    InputReader in (data, size);
    const uint8_t first = in.byte();
    const bool onClientPipe = (first & 0x20) != 0;
    startInput (StartFlags::of (first));
    auto& h = harness();

    int index = 0;
    if (onClientPipe)
    {
        h.connectClient (kClientPid);
        index = h.mc->getConnections().size() - 1;
    }

    // The stream: each read takes 1 to 16 octets, chosen by a piece byte before it.
    PipeFrameReader reader (
        [&] (uint8_t* buffer, size_t wanted) -> int
        {
            if (in.isEmpty())
                return 0; // the client left
            const size_t piece = std::min<size_t> ({ wanted, 1 + (in.byte() & 15u), in.remaining() });
            const auto got = in.bytes (piece);
            if (got.empty())
                return 0;
            std::memcpy (buffer, got.data(), got.size());
            return static_cast<int> (got.size());
        },
        {});

    std::vector<uint8_t> payload;
    int frames = 0;
    while (frames++ < 64 && reader.readFrame (payload) == PipeFrameReader::Result::frame)
    {
        // A connection taken out meanwhile gets no more messages, as its reader would find.
        if (index >= h.mc->getConnections().size())
            break;
        h.mc->messageAnalize (index, juce::MemoryBlock (payload.data(), payload.size()));
        h.scheduler.advance (25);
        checkInvariants();
    }
    finishInput();
    return 0;
}
