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
#include <vector>

namespace lyrlink
{

class LyrLinkIPCServer;

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

    LyrLinkIPCServer (IpcOwner& owner, std::unique_ptr<PipeEndpoint> endpoint);
    ~LyrLinkIPCServer() override;

    /** Creates the pipe of that name and starts the reader thread; false when the name is taken. */
    bool createPipe (const std::string& name);

    /** Frames and sends one record: waits at most 2000 ms for a client, then at most 2000 ms for
        the write. A failed send is lost. */
    bool sendMessage (const ProcMsg& msg);

    /** Called on the message thread for each received message. */
    void messageReceived (const juce::MemoryBlock& block);

    /** Process id of the client; 0 for the master pipe. */
    std::atomic<uint32_t> pid { 0 };

private:
    void run() override;

    IpcOwner& m_owner;
    std::unique_ptr<PipeEndpoint> m_endpoint;
    std::mutex m_sendLock;

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
