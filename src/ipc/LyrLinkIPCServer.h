// The server end of one client pipe with its reader thread. Received messages are delivered on the
// message thread; sends are serialised per connection. Connections are shared: whoever sends on
// one holds a reference, so removing it from the list never destroys it under a sender.
#pragma once

#include "ipc/IpcList.h"
#include "ipc/PipeEndpoint.h"
#include "ipc/ProcMsg.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace lyrlink
{

class LyrLinkSysMgrLog;

class LyrLinkIPCServer : public juce::Thread, public std::enable_shared_from_this<LyrLinkIPCServer>
{
public:
    /** How long the destructor waits for the reader thread. */
    static constexpr int kStopWaitMs = 4000;

    /** Always owned by a std::shared_ptr (std::make_shared): the reader thread hands messages
        to the message thread through a weak reference. */
    LyrLinkIPCServer (IpcOwner& owner, std::unique_ptr<PipeEndpoint> endpoint);
    /** Closes the pipe and stops the reader thread, waiting at most kStopWaitMs. */
    ~LyrLinkIPCServer() override;

    /** Where refused clients are logged; set before createPipe. The log must outlive the
        connection. */
    void setLog (LyrLinkSysMgrLog* log) noexcept { m_log = log; }

    /** Creates the pipe of that name and starts the reader thread; false when the name is taken. */
    bool createPipe (const std::string& name);

    /** Gives up the pipe at once: its client is cut off, a send waiting for a client gives up and
        the name is free again. Used when the connection leaves the list while a sender may still
        hold it. */
    void closePipe();

    /** The name given to createPipe. */
    const std::string& getPipeName() const noexcept { return m_name; }

    /** Frames and sends one record: waits at most 2000 ms for a client, then at most 2000 ms for
        the write. A failed send is lost. */
    bool sendMessage (const ProcMsg& msg);

    /** Called on the message thread for each received message. */
    void messageReceived (const juce::MemoryBlock& block);

    /** Process id of the client; 0 for the master pipe. */
    std::atomic<uint32_t> pid { 0 };

private:
    void run() override;

    void logRefusal (uint32_t uid, int32_t pid);

    IpcOwner& m_owner;
    std::unique_ptr<PipeEndpoint> m_endpoint;
    std::mutex m_sendLock;
    std::string m_name;
    LyrLinkSysMgrLog* m_log = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LyrLinkIPCServer)
};

} // namespace lyrlink
