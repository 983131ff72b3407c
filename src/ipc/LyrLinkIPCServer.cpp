#include "ipc/LyrLinkIPCServer.h"

#include "app/LyrLinkSysMgrLog.h"
#include "ipc/PipeFrameReader.h"

namespace lyrlink
{

LyrLinkIPCServer::LyrLinkIPCServer (IpcOwner& owner, std::unique_ptr<PipeEndpoint> endpoint)
    : juce::Thread ("Juce IPC connection"), m_owner (owner), m_endpoint (std::move (endpoint))
{
}

LyrLinkIPCServer::~LyrLinkIPCServer()
{
    closePipe();
    stopThread (kStopWaitMs);
}

bool LyrLinkIPCServer::createPipe (const std::string& name)
{
    // Without a shared owner the reader could not hand anything to the message thread.
    jassert (! weak_from_this().expired());

    m_name = name;
    if (m_endpoint == nullptr)
        return false;
    m_endpoint->setRefusalObserver ([this] (uint32_t uid, int32_t pid) { logRefusal (uid, pid); });
    if (! m_endpoint->create (name))
        return false;
    if (! startThread())
    {
        m_endpoint->close();
        return false;
    }
    return true;
}

void LyrLinkIPCServer::closePipe()
{
    signalThreadShouldExit();
    if (m_endpoint != nullptr)
        m_endpoint->close();
}

bool LyrLinkIPCServer::sendMessage (const ProcMsg& msg)
{
    if (m_endpoint == nullptr)
        return false;
    const auto framed = frameProcMsg (msg);
    const std::lock_guard<std::mutex> g (m_sendLock);
    return m_endpoint->write (framed.bytes, sizeof (framed.bytes), kPipeConnectWaitMs, kPipeWriteTimeoutMs);
}

void LyrLinkIPCServer::messageReceived (const juce::MemoryBlock& block)
{
    // A connection taken out of the list meanwhile has no index: its message is dropped.
    const int index = m_owner.findPipeIndex (this);
    if (index >= 0)
        m_owner.messageAnalize (index, block);
}

void LyrLinkIPCServer::logRefusal (uint32_t uid, int32_t pid)
{
    if (m_log != nullptr)
        m_log->write ("%s NG %s client refused uid = %u pid = %d", "LyrLinkIPCServer::run", m_name.c_str(), uid, pid);
}

void LyrLinkIPCServer::run()
{
    const std::weak_ptr<LyrLinkIPCServer> self = weak_from_this();
    PipeFrameReader reader ([this] (uint8_t* buffer, size_t size) { return m_endpoint->read (buffer, size); },
                            [this] { return threadShouldExit(); });
    std::vector<uint8_t> payload;

    while (! threadShouldExit())
    {
        const auto result = reader.readFrame (payload);
        if (result == PipeFrameReader::Result::closed || result == PipeFrameReader::Result::stopped)
            break;
        if (result != PipeFrameReader::Result::frame)
            continue;  // the client left; the pipe waits for the next one

        // Delivered on the message thread like every other piece of work; the weak reference
        // drops a message whose connection is gone by the time it is handled.
        juce::MemoryBlock block (payload.data(), payload.size());
        juce::MessageManager::callAsync ([self, block = std::move (block)] {
            if (auto connection = self.lock())
                connection->messageReceived (block);
        });
    }
}

//==============================================================================
int IpcList::size() const
{
    const juce::ScopedLock sl (m_lock);
    return static_cast<int> (m_items.size());
}

IpcList::Connection IpcList::get (int index) const
{
    const juce::ScopedLock sl (m_lock);
    if (index < 0 || static_cast<size_t> (index) >= m_items.size())
        return {};
    return m_items[static_cast<size_t> (index)];
}

void IpcList::add (Connection connection)
{
    const juce::ScopedLock sl (m_lock);
    m_items.push_back (std::move (connection));
}

IpcList::Connection IpcList::remove (int index)
{
    const juce::ScopedLock sl (m_lock);
    if (index < 0 || static_cast<size_t> (index) >= m_items.size())
        return {};
    auto connection = std::move (m_items[static_cast<size_t> (index)]);
    m_items.erase (m_items.begin() + index);
    return connection;
}

int IpcList::indexOf (const LyrLinkIPCServer* connection) const
{
    const juce::ScopedLock sl (m_lock);
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].get() == connection)
            return static_cast<int> (i);
    return -1;
}

void IpcList::clear()
{
    std::vector<Connection> items;
    {
        const juce::ScopedLock sl (m_lock);
        items.swap (m_items);
    }
    // Last first; outside the lock, since each one waits for its reader thread to end.
    while (! items.empty())
        items.pop_back();
}

} // namespace lyrlink
