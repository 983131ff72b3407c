// Reads framed messages from a pipe's byte stream: an 8-byte header (magic, length) and then the
// payload, read in pieces of at most 64 KiB. Frames with a wrong magic or a length outside
// 1..0x9FFFFF are skipped, their 8 header bytes dropped, and reading goes on with the next 8 bytes.
// The payload's buffer grows with the bytes that arrive, never to the length a header merely claims.
// Pure logic over a read function, so every rule is testable without a socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace lyrlink
{

class PipeFrameReader
{
public:
    /** Reads up to size bytes: > 0 bytes read, 0 the client left, -1 the pipe is closed. */
    using ReadFunction = std::function<int (uint8_t* buffer, size_t size)>;
    /** True when the reader must stop (checked before every read). */
    using StopFunction = std::function<bool()>;

    enum class Result
    {
        frame,      // payload holds one whole message
        clientLeft, // the client left; any part of a frame read so far was dropped
        closed,     // the pipe is closed for good
        stopped     // told to stop; nothing delivered
    };

    PipeFrameReader (ReadFunction read, StopFunction shouldStop);

    /** Reads until one acceptable frame has arrived in full, skipping unacceptable headers. */
    Result readFrame (std::vector<uint8_t>& payload);

private:
    /** Reads exactly size bytes into buffer, at most maxPiece per read. */
    Result readExactly (uint8_t* buffer, size_t size, size_t maxPiece);
    /** Reads a payload of length bytes into payload, growing it only as its bytes arrive. */
    Result readPayload (std::vector<uint8_t>& payload, size_t length);

    ReadFunction m_read;
    StopFunction m_shouldStop;
};

} // namespace lyrlink
