// The server end of one client pipe with its reader thread. Received messages are delivered on the
// message thread; sends are serialised per connection. Connections are shared: whoever sends on
// one holds a reference, so removing it from the list never destroys it under a sender.
#pragma once

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

class LyrLinkIPCServer;
class LyrLinkSysMgrLog;

/** What a connection needs of its owner (MainComponent). */
class IpcOwner
{
public:
    virtual ~IpcOwner() = default;
    /** Index of the connection in the owner's list, or -1. */
    virtual int findPipeIndex (const LyrLinkIPCServer* connection) = 0;
    /** Handles one received message on the message thread. */
    virtual void messageAnalize (int index, const juce::MemoryBlock& block) = 0;
};

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

/**
    The list of connections: master first, then clients in the order they connected. Its lock is
    held only for single reads, appends and removals, always after the link lock where both are
    held, and never while sending.
*/
class IpcList
{
public:
    using Connection = std::shared_ptr<LyrLinkIPCServer>;

    /** The index of the oldest client; the master pipe is the one element before it. The master
        is listed at start-up, before any request can arrive, and never removed, and clients are
        only added by requests that came in on a listed pipe: so while any client is listed the
        master is at index 0, and without a master the list stays empty. Every walk over the
        clients starts here. */
    static constexpr int kFirstClientIndex = 1;

    int size() const;
    /** The element at index, or null beyond the end. */
    Connection get (int index) const;
    void add (Connection connection);
    /** Takes the element out, moving later ones down; the caller drops it outside the lock. */
    Connection remove (int index);
    int indexOf (const LyrLinkIPCServer* connection) const;
    /** Drops every connection, last first (shutdown). */
    void clear();

private:
    mutable juce::CriticalSection m_lock;
    std::vector<Connection> m_items;
};

} // namespace lyrlink
