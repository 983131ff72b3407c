// What MainComponent holds of the client connections without knowing how a connection works: the
// interface a connection calls back through, and the list of connections.
#pragma once

#include <juce_core/juce_core.h>

#include <memory>
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
