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

        payload.assign (length, 0);
        r = readExactly (payload.data(), payload.size(), kPipeReadPiece);
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

} // namespace lyrlink
