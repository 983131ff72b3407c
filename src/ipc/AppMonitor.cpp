// The client application monitor (timer 8): every 30 s it looks up the process of every listed
// client and asks the application to quit after repeated misses. One counter serves all clients
// and each client found resets it, so it only grows by misses after the last client found.
#include "app/LinkPlatform.h"
#include "app/LyrLinkSysMgrLog.h"
#include "app/MainComponent.h"
#include "ipc/LyrLinkIPCServer.h"

namespace lyrlink
{

namespace
{
constexpr const char* kAppMonitorName = "MainComponent::timerFuncAppMonitor";
}

void MainComponent::timerFuncAppMonitor()
{
    const juce::ScopedLock sl (m_linkLock);
    m_appMonitorTimer->stopTimer();

    // The master pipe has no client process. The count is read afresh each step and each element
    // under the list's own lock.
    for (int index = IpcList::kFirstClientIndex; index < m_ipcs.size(); ++index)
    {
        const auto connection = m_ipcs.get (index);
        if (connection == nullptr)
            break;

        if (m_platform.isProcessRunning (connection->pid))
        {
            m_appMonitorErr = 0;
        }
        else
        {
            ++m_appMonitorErr;
            m_log->write ("%s m_appMonitorErr = %d", kAppMonitorName, m_appMonitorErr);
        }
    }

    if (m_appMonitorErr >= kAppMonitorMaxMisses)
    {
        // The application is on its way out: the timer stays stopped.
        m_log->write ("%s STOP m_appMonitorErr = %d", kAppMonitorName, m_appMonitorErr);
        m_platform.requestQuit();
        return;
    }

    m_appMonitorTimer->startTimer (kAppMonitorPeriodMs);
}

} // namespace lyrlink
