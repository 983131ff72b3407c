#include "app/MainComponent.h"

#include "app/LinkPlatform.h"
#include "app/LyrLinkSysMgrLog.h"
#include "ipc/LyrLinkIPCServer.h"
#include "netenv/LyrLinkNetworkAccess.h"
#include "transport/LyrLinkSysMgrTCP.h"

#include <cstring>

namespace lyrlink
{

namespace
{
constexpr const char* kCtorName = "MainComponent::MainComponent";
}

MainComponent::MainComponent (LinkPlatform& platform) : m_platform (platform)
{
    m_label = std::make_unique<juce::Label> ("labelPlayMode", "-----");
    addAndMakeVisible (*m_label);
    m_label->setFont (juce::Font (15.0f, juce::Font::bold));
    m_label->setJustificationType (juce::Justification::centredLeft);
    m_label->setEditable (false, false, false);
    m_label->setColour (juce::Label::textColourId, juce::Colour (0xff000000));
    m_label->setColour (juce::Label::backgroundColourId, juce::Colour (0x00000000));

    setSize (300, 100);

    resetLinkState();

    linkPermitted = 0;
    m_appMonitorErr = 0;
    m_netGraceCount = 0;

    m_log = std::make_unique<LyrLinkSysMgrLog> (m_platform.getAppDataFolder(), "VelmoraLog",
                                                "LyrLinkSysMgrLog.txt", "StartLog");
    m_log->write ("%s OK", kCtorName);

    // The network record starts zeroed; the receive thread only starts after the callback is
    // known, so no datagram is lost to a null callback.
    m_networkAccess = std::make_unique<LyrLinkNetworkAccess> (m_platform.createDatagramPort(),
                                                              m_platform.getNetRowSource());
    m_networkAccess->m_callback = this;
    const auto udpPort = m_platform.getUdpPort();
    if (m_networkAccess->bindPort (udpPort))
        m_networkAccess->open (udpPort);
    else
        m_log->write ("%s NG UDP port open", kCtorName);

    m_tcpServer = std::make_unique<LyrLinkSysMgrTCP> (m_platform.createStreamListener(), m_platform.getTcpPort());
    m_tcpServer->m_callback = this;
    if (! m_tcpServer->openServer())
        m_log->write ("%s NG TCP port open", kCtorName);

    m_rejected = false;

    createMasterPipe();

    auto* const timerObserver = m_platform.getTimerObserver();
    m_discoveryTimer = std::make_unique<LyrLinkSysMgrTimer> (*this, TIMER_DISCOVERY, timerObserver);
    m_idTimer = std::make_unique<LyrLinkSysMgrTimer> (*this, TIMER_ID, timerObserver);
    m_keepAliveTimer = std::make_unique<LyrLinkSysMgrTimer> (*this, TIMER_KEEP_ALIVE, timerObserver);
    m_idRestartTimer = std::make_unique<LyrLinkSysMgrTimer> (*this, TIMER_ID_RESTART, timerObserver);
    m_idRestartLongTimer = std::make_unique<LyrLinkSysMgrTimer> (*this, TIMER_ID_RESTART_LONG, timerObserver);
    m_netMonitorTimer = std::make_unique<LyrLinkSysMgrTimer> (*this, TIMER_NET_MONITOR, timerObserver);
    m_appMonitorTimer = std::make_unique<LyrLinkSysMgrTimer> (*this, TIMER_APP_MONITOR, timerObserver);
    m_compatiTimer = std::make_unique<LyrLinkSysMgrTimer> (*this, TIMER_COMPATI, timerObserver);
    for (uint32_t id = TIMER_AGING_FIRST; id <= TIMER_AGING_LAST; ++id)
        m_agingTimers.add (new LyrLinkSysMgrTimer (*this, id, timerObserver));

    // Frames can arrive from the receive threads since the endpoint opened; timers are started
    // under the link lock like every other timer change.
    const juce::ScopedLock sl (m_linkLock);
    m_netMonitorTimer->startTimer (kNetMonitorPeriodMs);
    m_appMonitorTimer->startTimer (kAppMonitorPeriodMs);
}

MainComponent::~MainComponent()
{
    {
        const juce::ScopedLock sl (m_linkLock);
        stopLinkTimers();
    }

    // The receive threads use the connections, the timers, the log and the link lock, so they
    // stop before any of those goes away.
    m_networkAccess.reset();
    m_tcpServer.reset();

    m_ipcs.clear();

    m_compatiTimer.reset();
    m_discoveryTimer.reset();
    m_idTimer.reset();
    m_keepAliveTimer.reset();
    m_idRestartTimer.reset();
    m_idRestartLongTimer.reset();
    m_netMonitorTimer.reset();
    m_appMonitorTimer.reset();

    m_log.reset();

    m_agingTimers.clear();
    m_label.reset();
}

void MainComponent::resetForTests (bool isConnected, bool isSuspended, bool isPermitted)
{
    {
        const juce::ScopedLock sl (m_linkLock);
        stopLinkTimers();
        if (m_compatiTimer->isTimerRunning())
            m_compatiTimer->stopTimer();

        std::memset (&m_sendBuffer, 0, sizeof (m_sendBuffer));
        resetLinkState();
        m_networkAccess->clearNetworkRecordForTests();
        m_rejected = false;
        m_appMonitorErr = 0;
        m_netGraceCount = 0;
        linkPermitted = isPermitted ? 1 : 0;
        processConnected = isConnected ? 1 : 0;
        suspended = isSuspended ? 1 : 0;
    }

    // Client pipes go as removePipe takes them out: cut first, dropped outside the list's lock.
    for (int i = m_ipcs.size(); --i >= 0;)
    {
        const auto c = m_ipcs.get (i);
        if (c != nullptr && c->getPipeName() != kPipeBaseName)
            if (auto removed = m_ipcs.remove (i))
                removed->closePipe();
    }

    const juce::ScopedLock sl (m_linkLock);
    m_netMonitorTimer->startTimer (kNetMonitorPeriodMs);
    m_appMonitorTimer->startTimer (kAppMonitorPeriodMs);
}

void MainComponent::paint (juce::Graphics& g) { g.fillAll (juce::Colour (0xffffffff)); }

void MainComponent::resized()
{
    if (m_label != nullptr)
        m_label->setBounds (32, 32, 150, 24);
}

LinkStatus MainComponent::getLinkStatus() const
{
    const juce::ScopedLock sl (m_linkLock);
    return m_linkStatus;
}

DeviceEntry MainComponent::getDeviceEntry (int id) const
{
    const juce::ScopedLock sl (m_linkLock);
    return isDeviceId (id) ? m_peers[static_cast<size_t> (id - 1)] : DeviceEntry {};
}

LinkTimings MainComponent::getLinkTimings() const
{
    const juce::ScopedLock sl (m_linkLock);
    return m_timings;
}

LyrLinkSysMgrTimer* MainComponent::getTimer (uint32_t id) const
{
    for (const auto& entry : kLinkTimers)
        if (entry.id == id)
            return (this->*entry.timer).get();
    if (isAgingTimerId (id))
        return m_agingTimers[static_cast<int> (id - TIMER_AGING_FIRST)];
    return nullptr;
}

void MainComponent::startIfStopped (LyrLinkSysMgrTimer& timer, int periodMs)
{
    if (! timer.isTimerRunning())
        timer.startTimer (periodMs);
}

} // namespace lyrlink
