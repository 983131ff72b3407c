// The TCP frame server with a callback that records what it hands on, for the tests of the server
// on the fake listener and on the Linux sockets alike.
#pragma once

#include "support/TestFrames.h"
#include "transport/LyrLinkNetworkAccessCallback.h"
#include "transport/LyrLinkSysMgrTCP.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace lyrlink::test
{

/** What the server handed on, with the thread it ran on. */
class FrameRecorder final : public LyrLinkNetworkAccessCallback
{
public:
    struct Read
    {
        std::array<uint8_t, 4> source;
        std::vector<uint8_t> bytes;
        juce::String threadName;
    };

    void frameRead (const uint8_t* sourceAddress, ByteView data) override
    {
        Read r;
        std::memcpy (r.source.data(), sourceAddress, 4);
        r.bytes.assign (data.data(), data.data() + data.size());
        if (auto* t = juce::Thread::getCurrentThread())
            r.threadName = t->getThreadName();
        {
            const std::lock_guard<std::mutex> g (m_lock);
            m_reads.push_back (std::move (r));
        }
        m_changed.notify_all();
    }

    /** Waits (for the server thread, not for a timer) until count reads arrived. */
    bool waitFor (size_t count, std::chrono::milliseconds limit = std::chrono::seconds (5))
    {
        std::unique_lock<std::mutex> l (m_lock);
        return m_changed.wait_for (l, limit, [&] { return m_reads.size() >= count; });
    }

    std::vector<Read> reads()
    {
        const std::lock_guard<std::mutex> g (m_lock);
        return m_reads;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Read> m_reads;
};

/** A frame header of that type and length, its first body byte set to marker. */
inline std::vector<uint8_t> markedFrame (uint8_t type, uint8_t subType, size_t length, uint8_t marker = 0)
{
    auto f = FrameBuilder::header (type, subType, length);
    if (length > kFrameHeaderSize)
        f[kFrameHeaderSize] = marker;
    return f;
}

/** A frame server on listener, opened, handing its frames to callback. The server goes first
    when destroyed: its thread calls the callback. */
struct RecordingServer
{
    RecordingServer (std::unique_ptr<StreamListener> listener, uint16_t port)
        : server (std::make_unique<LyrLinkSysMgrTCP> (std::move (listener), port))
    {
        server->m_callback = &callback;
        ok = server->openServer();
    }

    FrameRecorder callback;
    std::unique_ptr<LyrLinkSysMgrTCP> server;
    bool ok = false;
};

} // namespace lyrlink::test
