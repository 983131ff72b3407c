// The pipe connections of MainComponent: the master pipe made at start-up and one pipe per client
// process, in the order of their ProcessConnect (see IpcList). Runs on the message thread.
#include "app/LinkPlatform.h"
#include "app/LyrLinkSysMgrLog.h"
#include "app/MainComponent.h"
#include "ipc/LyrLinkIPCServer.h"

#include <string>

namespace lyrlink
{

void MainComponent::createMasterPipe()
{
    auto connection = std::make_shared<LyrLinkIPCServer> (*this, m_platform.createPipeEndpoint());
    connection->setLog (m_log.get());
    connection->pid = 0;
    if (connection->createPipe (kPipeBaseName))
    {
        m_log->write ("%s OK IPC PIPE Create", "MainComponent::MainComponent");
        m_ipcs.add (std::move (connection));
    }
    else
    {
        m_log->write ("%s NG IPC PIPE Create", "MainComponent::MainComponent");
    }
}

bool MainComponent::createPipe (uint32_t pid)
{
    static constexpr const char* name = "MainComponent::createPipe";

    // The reader starts at once, but whatever it receives is handled on this thread, so only
    // after the connection is listed.
    auto connection = std::make_shared<LyrLinkIPCServer> (*this, m_platform.createPipeEndpoint());
    connection->setLog (m_log.get());
    if (! connection->createPipe (clientPipeName (pid)))
    {
        m_log->write ("%s NG Create Pipe = %d size = %d", name, static_cast<int> (pid), m_ipcs.size());
        return false;
    }

    connection->pid = pid;
    m_ipcs.add (std::move (connection));
    m_log->write ("%s OK Create Pipe = %d size = %d", name, static_cast<int> (pid), m_ipcs.size());
    return true;
}

bool MainComponent::removePipe (uint32_t pid)
{
    static constexpr const char* name = "MainComponent::removePipe";

    // The master pipe is where every client makes first contact and is never removed: both
    // passes start at the first client.
    auto takeOut = [this] (int index) {
        auto removed = m_ipcs.remove (index);
        // A sender on another thread may still hold it; cutting the pipe now frees the name and
        // ends that send at once, and the object goes when the last holder lets go.
        if (removed != nullptr)
            removed->closePipe();
        return removed;
    };

    for (int i = IpcList::kFirstClientIndex; i < m_ipcs.size(); ++i)
    {
        const auto c = m_ipcs.get (i);
        if (c != nullptr && c->pid == pid)
        {
            takeOut (i);
            m_log->write ("%s OK size = %d", name, m_ipcs.size());
            return true;
        }
    }

    // No client has that id: the oldest client goes instead, passing over any that connected
    // under process id 0 (those go only when 0 is named).
    for (int i = IpcList::kFirstClientIndex; i < m_ipcs.size(); ++i)
    {
        const auto c = m_ipcs.get (i);
        if (c != nullptr && c->pid != 0)
        {
            const uint32_t removedPid = c->pid;
            takeOut (i);
            m_log->write ("%s Illigal OK logpid = %x", name, removedPid);
            return true;
        }
    }

    m_log->write ("%s NG size = %d", name, m_ipcs.size());
    return false;
}

int MainComponent::findPipeIndex (const LyrLinkIPCServer* connection) { return m_ipcs.indexOf (connection); }

} // namespace lyrlink
