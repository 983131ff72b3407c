// The network monitor (timer 7): once a second while the link is up it checks, in this order, the
// wireless access point, the link address and the interface's operational state, and takes the
// link down on the first that fires. It holds the link lock for the whole run, queries included,
// so the network record it reads (written only by link-up under the same lock) cannot change
// under it.
#include "app/LyrLinkSysMgrLog.h"
#include "app/MainComponent.h"
#include "ipc/ProcMsg.h"
#include "netenv/LyrLinkNetworkAccess.h"

#include <algorithm>

namespace lyrlink
{

namespace
{
constexpr const char* kMonitorName = "MainComponent::timerFuncNetMonitor";

bool isAllZero (const uint8_t* bytes, size_t size)
{
    return std::all_of (bytes, bytes + size, [] (uint8_t b) { return b == 0; });
}
} // namespace

void MainComponent::timerFuncNetMonitor()
{
    const juce::ScopedLock sl (m_linkLock);
    m_netMonitorTimer->stopTimer();

    if (m_linkStatus.state != STATE_IDLE && m_networkAccess != nullptr)
    {
        auto& net = *m_networkAccess;
        bool takeDown = false;

        if (m_linkStatus.linkif == LINKIF_WIRELESS)
        {
            // No connected wireless interface leaves the BSSID zero, which is not a change: the
            // interface test below then decides.
            uint8_t bssid[6] {};
            (void) net.getBssid (m_linkStatus.mac, bssid);
            if (! isAllZero (bssid, sizeof (bssid)) && std::memcmp (bssid, m_linkStatus.bssid, sizeof (bssid)) != 0)
            {
                const auto& old = m_linkStatus.bssid;
                m_log->write ("%s Link DOWN bssidchange", kMonitorName);
                m_log->write ("bssid = %02x.%02x.%02x.%02x.%02x.%02x / %02x.%02x.%02x.%02x.%02x.%02x", old[0],
                              old[1], old[2], old[3], old[4], old[5], bssid[0], bssid[1], bssid[2], bssid[3],
                              bssid[4], bssid[5]);
                takeDown = true;
            }
        }

        if (! takeDown && net.isAddressChanged (net.m_ipAddr, net.m_ifIndex))
        {
            m_log->write ("%s Link DOWN ipchange", kMonitorName);
            takeDown = true;
        }

        if (! takeDown)
        {
            if (! net.isInterfaceDown (net.m_ifIndex))
            {
                // Seen operational: a wireless link gets the long grace from now on.
                m_netGraceCount = m_linkStatus.linkif == LINKIF_WIRELESS ? kWirelessGraceAfterOperational : 1;
            }
            else if (--m_netGraceCount <= 0)
            {
                m_log->write ("%s Link DOWN net disconnect", kMonitorName);
                takeDown = true;
            }
        }

        if (takeDown)
        {
            // The link-down stops this timer with all link timers; the next link-up starts it.
            linkDown (LinkDownOptions::networkChange());
            return;
        }
    }

    m_netMonitorTimer->startTimer (kNetMonitorPeriodMs);
}

} // namespace lyrlink
