// MainComponent owns every subsystem and all link state. Its operations are grouped by prefix in
// files of their own: frameSend... (link/FrameSend.cpp), frame reception (link/FrameRead.cpp), the
// link state machine (link/LinkUp.cpp), the peer table (link/PeerTable.cpp), the network monitor
// (netenv/NetMonitor.cpp), requests and notifications (ipc/RequestHandling.cpp), the connections
// (ipc/Connections.cpp) and the application monitor (ipc/AppMonitor.cpp).
//
// Threads: frameRead runs on "LyrLinkUDP Thread" and "LyrLinkTCPServer Thread"; timer jobs and pipe
// messages on the message thread. The link lock (re-entrant) serialises them: every frame handler,
// timer job and link-changing request holds it for its whole run. m_ipcs has its own lock, taken
// after the link lock where both are held.
//
// Only what the class itself needs is included here; the subsystems it owns are declared, and each
// file includes the headers of the subsystems it uses.
#pragma once

#include "app/LyrLinkSysMgrTimer.h"
#include "app/TimerDispatch.h"
#include "ipc/IpcList.h"
#include "link/FrameFormat.h"
#include "link/LinkRecords.h"
#include "link/LinkTimings.h"
#include "transport/Ipv4.h"
#include "transport/LyrLinkNetworkAccessCallback.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <memory>

namespace lyrlink
{

class LinkPlatform;
class LyrLinkIPCServer;
class LyrLinkNetworkAccess;
class LyrLinkSysMgrLog;
class LyrLinkSysMgrTCP;
struct RequestFields;

constexpr int kAppMonitorMaxMisses = 4;
constexpr int kWirelessGraceAfterOperational = 180;

class MainComponent : public juce::Component,
                      public LyrLinkNetworkAccessCallback,
                      public TimerDispatchTarget,
                      public IpcOwner
{
public:
    /** Performs the whole start-up; whatever cannot be opened is logged and left out. */
    explicit MainComponent (LinkPlatform& platform);
    /** Performs the shutdown in order: timers, receive threads, connections, timers, log. */
    ~MainComponent() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    //==============================================================================
    // Frame reception (receive threads)
    void frameRead (const uint8_t* sourceAddress, ByteView frame) override;
    /** frameRead on a block of bytes (tests and tools hold their frames so). */
    void frameRead (const uint8_t* sourceAddress, const juce::MemoryBlock& data);

    //==============================================================================
    // Timers (message thread)
    void timerDispatch (uint32_t id) override;
    void timerFuncKeepAlive();

    //==============================================================================
    // Outgoing frames (callers hold the link lock; each takes it again)
    void frameSendDiscoveryRequest();
    void frameSendIdUseRequest (uint8_t requestedId);
    void frameSendIdSetRequest();
    void frameSendIdUseResponse (ByteView requestBody);
    void frameSendIdUseResponseFromBlk (ByteView requestBody);
    void frameSendConfigNotify();
    void frameSendDisconnect();
    void frameSendCompatiRequest();
    /** rand() scaled to 0..max inclusive. */
    int randomDelay (int max);

    //==============================================================================
    // Link state machine
    void resetLinkState();
    bool linkUpFunc (ByteView frame);
    void timerFuncDiscoveryResponse();
    void timerFuncIdResponse();
    void timerFuncIdRestart();
    void timerFuncIdRestartLong();
    void timerFuncCompatiResponse();
    void readIdUseResponse (ByteView body);
    void readIdSetResponse (ByteView body);
    void readIdUseRequestFromBlk (ByteView body);
    void readTimeServerRequest (ByteView body);
    void readReject();
    void readResetNotify();

    /** What the places that take the link down differ in. */
    struct LinkDownOptions
    {
        /** Broadcast a Disconnect first when the link is in STATE_RUN. */
        bool disconnectInRun = false;
        /** Leave the network and application monitors running. Otherwise they stop with the other
            link timers and a running application monitor is started again at the end. */
        bool keepMonitors = false;
        /** Clear apconnected before the clients are told. */
        bool clearApConnected = true;

        /** The network monitor's link-down: every link timer stops. */
        static constexpr LinkDownOptions networkChange() noexcept { return {}; }
        /** A reset notice from the network: the status reported still shows apconnected. */
        static constexpr LinkDownOptions resetNotice() noexcept { return { false, false, false }; }
        /** A client's suspend: Disconnect in STATE_RUN; the monitors keep watching. */
        static constexpr LinkDownOptions clientSuspend() noexcept { return { true, true, true }; }
    };
    /** Takes the link down: peers removed, link timers stopped, STATE_IDLE reported to the
        clients under the own id, then the link reset. */
    void linkDown (const LinkDownOptions& options);

    //==============================================================================
    // Peer table
    void readConfigNotify (ByteView body, ByteView frame);
    void readDiscoveryRequest (ByteView body);
    void deletePeer (int id);
    void deleteAllPeers();
    /** Stops every running aging timer, then the timers of the link timer table that a link-down
        stops, in its order; with keepMonitors the two monitors keep running. */
    void stopLinkTimers (bool keepMonitors = false);
    void timerFuncAging (int index);

    //==============================================================================
    // Network monitor
    void timerFuncNetMonitor();

    //==============================================================================
    // Clients
    void messageAnalize (int index, const juce::MemoryBlock& block) override;
    void replyMessage (const RequestFields& request, int index, bool ok);
    void notifyMessage (int id, int kind);
    void suspend();
    void resume();
    bool createPipe (uint32_t pid);
    bool removePipe (uint32_t pid);
    int findPipeIndex (const LyrLinkIPCServer* connection) override;
    void timerFuncAppMonitor();

    //==============================================================================
    // Read access for tests and tools

    /** A copy of the link status, taken under the link lock. */
    LinkStatus getLinkStatus() const;
    /** A copy of the entry of device id (1 to 80), taken under the link lock. */
    DeviceEntry getDeviceEntry (int id) const;
    LinkTimings getLinkTimings() const;
    /** The timer with that id (1, 2, 4 to 9, 100 to 179), or null. */
    LyrLinkSysMgrTimer* getTimer (uint32_t id) const;
    LyrLinkSysMgrLog& getLog() noexcept { return *m_log; }
    LyrLinkNetworkAccess* getNetworkAccess() noexcept { return m_networkAccess.get(); }
    LyrLinkSysMgrTCP* getTcpServer() noexcept { return m_tcpServer.get(); }
    IpcList& getConnections() noexcept { return m_ipcs; }
    juce::CriticalSection& getLinkLock() noexcept { return m_linkLock; }
    bool isRejected() const noexcept { return m_rejected; }
    int getNetGraceCount() const noexcept { return m_netGraceCount; }
    int getAppMonitorErr() const noexcept { return m_appMonitorErr; }
    bool isSuspended() const noexcept { return suspended != 0; }
    bool isProcessConnected() const noexcept { return processConnected != 0; }
    bool isLinkPermitted() const noexcept { return linkPermitted != 0; }
    /** Tests only: replaces the link status under the link lock, to put the link where the
        protocol would have brought it. Nothing in the manager calls it. */
    void setLinkStatusForTests (const LinkStatus& status)
    {
        const juce::ScopedLock sl (m_linkLock);
        m_linkStatus = status;
    }
    /** Tests only: puts the manager back where construction leaves it without making it again,
        so that a fuzzer can run many inputs on one component: link state, peers, timings, send
        buffer and network record as new, every timer stopped and the two monitors started again,
        every client pipe dropped (the master pipe stays), and the three connection flags as given.
        Call on the message thread with no frame being read. */
    void resetForTests (bool isConnected, bool isSuspended, bool isPermitted);
    /** Tests: the send buffer as the last builder left it. */
    const SendBuffer& getSendBuffer() const noexcept { return m_sendBuffer; }

private:
    void createMasterPipe();
    /** Record removal: present -> removed, devcount - 1, DeviceChanged. */
    void removeRecord (int id);
    /** Writes one record from a ConfigNotify body; logs as the add/overwrite rules say. */
    void writeRecord (int id, ByteView body, int loggedId, bool logOverwrite);
    // Link-up, in the order linkUpFunc takes its steps.
    void recordLinkInterface();
    void applyInterfaceKind();
    bool admitWirelessLink (ByteView frame);
    void startDiscovery();
    void completeIdUse();
    void takeLongBackOff();
    void handleIdDuplication (bool fromConfigNotify, Ipv4 senderIp);
    /** Starts timer id when it is not running. */
    void startIfStopped (LyrLinkSysMgrTimer& timer, int periodMs);
    /** Sends a broadcast frame of length bytes from the send buffer; the builder's name for the log. */
    bool sendBroadcastFrame (size_t length, const char* name);

    /** What a link-down does to one of the timers held one per field. */
    enum class LinkDownStop
    {
        always,
        unlessMonitorsKept,
        never
    };
    struct LinkTimer
    {
        TimerId id;
        std::unique_ptr<LyrLinkSysMgrTimer> MainComponent::*timer;
        LinkDownStop stop;
    };
    /** The timers held one per field, in the order a link-down stops them (after the aging timers). */
    static const std::array<LinkTimer, 8> kLinkTimers;

    LinkPlatform& m_platform;
    std::unique_ptr<LyrLinkNetworkAccess> m_networkAccess;
    std::unique_ptr<LyrLinkSysMgrTCP> m_tcpServer;
    IpcList m_ipcs;
    juce::CriticalSection m_linkLock;

    LinkTimings m_timings;
    LinkStatus m_linkStatus {};
    PeerTable m_peers {};

    std::unique_ptr<LyrLinkSysMgrTimer> m_discoveryTimer;
    std::unique_ptr<LyrLinkSysMgrTimer> m_idTimer;
    std::unique_ptr<LyrLinkSysMgrTimer> m_keepAliveTimer;
    std::unique_ptr<LyrLinkSysMgrTimer> m_idRestartTimer;
    std::unique_ptr<LyrLinkSysMgrTimer> m_idRestartLongTimer;
    std::unique_ptr<LyrLinkSysMgrTimer> m_netMonitorTimer;
    std::unique_ptr<LyrLinkSysMgrTimer> m_appMonitorTimer;
    std::unique_ptr<LyrLinkSysMgrTimer> m_compatiTimer;
    juce::OwnedArray<LyrLinkSysMgrTimer> m_agingTimers;

    uint8_t linkPermitted = 0;
    int m_appMonitorErr = 0;
    int m_netGraceCount = 0;
    std::unique_ptr<LyrLinkSysMgrLog> m_log;
    bool m_rejected = false;
    SendBuffer m_sendBuffer {};
    // Read by frameRead on the receive threads without the link lock.
    std::atomic<uint8_t> processConnected { 0 };
    std::atomic<uint8_t> suspended { 1 };
    std::unique_ptr<juce::Label> m_label;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};

} // namespace lyrlink
