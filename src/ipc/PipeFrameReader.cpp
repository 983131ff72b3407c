#include "ipc/PipeFrameReader.h"

#include "ipc/ProcMsg.h"

#include <algorithm>

namespace lyrlink
{

PipeFrameReader::PipeFrameReader (ReadFunction read, StopFunction shouldStop)
    : m_read (std::move (read)), m_shouldStop (std::move (shouldStop))
{
}

PipeFrameReader::Result PipeFrameReader::readExactly (uint8_t* buffer, size_t size, size_t maxPiece)
{
    size_t got = 0;
    while (got < size)
    {
        if (m_shouldStop && m_shouldStop())
            return Result::stopped;
        const int n = m_read (buffer + got, std::min (size - got, maxPiece));
        if (n < 0)
            return Result::closed;
        if (n == 0)
            return Result::clientLeft;
        got += static_cast<size_t> (n);
    }
    return Result::frame;
}

PipeFrameReader::Result PipeFrameReader::readFrame (std::vector<uint8_t>& payload)
{
    for (;;)
    {
        // A stream delivers a header in as many pieces as it likes: the 8 bytes are collected
        // rather than dropped when they arrive split, or every later frame would be misread.
        uint8_t header[kPipeHeaderSize];
        auto r = readExactly (header, sizeof (header), sizeof (header));
        if (r != Result::frame)
            return r;

        uint32_t length = 0;
        if (! isAcceptablePipeHeader (header, length))
            continue;

        r = readPayload (payload, length);
        if (r != Result::frame)
        {
            // A frame cut short by the client leaving is not handed on with zeros in place of
            // its missing bytes: a half-read request could name the wrong process or kind.
            payload.clear();
            return r;
        }
        return Result::frame;
    }
}

PipeFrameReader::Result PipeFrameReader::readPayload (std::vector<uint8_t>& payload, size_t length)
{
    // The header's length is only a claim: the buffer grows with the bytes that arrive, one read
    // piece ahead of them at most, so a header alone costs no more than one piece of memory.
    payload.clear();
    size_t got = 0;
    while (got < length)
    {
        if (m_shouldStop && m_shouldStop())
            return Result::stopped;
        const size_t piece = std::min (length - got, kPipeReadPiece);
        if (payload.size() < got + piece)
            payload.resize (got + piece);
        const int n = m_read (payload.data() + got, piece);
        if (n < 0)
            return Result::closed;
        if (n == 0)
            return Result::clientLeft;
        got += static_cast<size_t> (n);
    }
    payload.resize (length);
    return Result::frame;
}

} // namespace lyrlink
