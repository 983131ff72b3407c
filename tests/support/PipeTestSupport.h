// What the tests on real pipes share, on either system: a name prefix of their own, the bytes of a
// framed message, a reader of a server end on a thread of its own, and elapsed milliseconds.
#pragma once

#include "client/LyrLinkClient.h"
#include "ipc/PipeEndpoint.h"
#include "ipc/ProcMsg.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lyrlink::test
{

/** A name prefix no other test (or process) uses. */
inline std::string uniquePipeScope()
{
    static std::atomic<int> counter { 0 };
    return "lyrlink-test-" + std::to_string (client::currentProcessId()) + "-" + std::to_string (++counter) + "-";
}

/** The bytes of m as it travels on a pipe: header and record. */
inline std::vector<uint8_t> framed (const ProcMsg& m)
{
    const auto f = frameProcMsg (m);
    return { f.bytes, f.bytes + sizeof (f.bytes) };
}

/** Milliseconds since t. */
inline long msSince (std::chrono::steady_clock::time_point t)
{
    return static_cast<long> (
        std::chrono::duration_cast<std::chrono::milliseconds> (std::chrono::steady_clock::now() - t).count());
}

/** Reads from a server end on a thread of its own until the end is closed; keeps every read's
    result and the bytes read. Close the endpoint before this is destroyed. */
struct PipeEndpointReader
{
    explicit PipeEndpointReader (PipeEndpoint& e)
        : thread ([this, &e] {
              uint8_t b[4096];
              for (;;)
              {
                  const int n = e.read (b, sizeof (b));
                  const std::lock_guard<std::mutex> g (lock);
                  results.push_back (n);
                  if (n < 0)
                      return;
                  bytes.insert (bytes.end(), b, b + std::max (n, 0));
              }
          })
    {
    }
    ~PipeEndpointReader() { thread.join(); }

    std::vector<int> snapshot()
    {
        const std::lock_guard<std::mutex> g (lock);
        return results;
    }

    /** Polls the results until done says so; false after 5 s. */
    bool waitFor (const std::function<bool (const std::vector<int>&)>& done)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds (5);
        while (std::chrono::steady_clock::now() < end)
        {
            if (done (snapshot()))
                return true;
            std::this_thread::sleep_for (std::chrono::milliseconds (2));
        }
        return false;
    }

    std::mutex lock;
    std::vector<int> results;
    std::vector<uint8_t> bytes;
    std::thread thread;
};

} // namespace lyrlink::test
