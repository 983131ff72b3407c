// The link state machine: link-up on the first configuration notice, discovery, the ID-use rotation
// over the six candidate ids, completion with a free id, the back-offs, the defence of the own id,
// duplication, reject and reset.
//
// Every operation here holds the link lock for its whole run (linkUpFunc runs under its caller's).
// Timer jobs stop their own timer first and restart a timer only explicitly, with the period read at
// that moment, so each start fires exactly once.
#include "app/LinkPlatform.h"
#include "app/LyrLinkSysMgrLog.h"
#include "app/MainComponent.h"
#include "ipc/ProcMsg.h"
#include "netenv/LyrLinkNetworkAccess.h"

#include <cstdlib>
#include <ctime>

namespace lyrlink
{

namespace
{
constexpr const char* kLinkUpName = "MainComponent::linkUpFunc";
constexpr const char* kDiscoveryName = "MainComponent::timerFuncDiscoveryResponse";
constexpr const char* kIdResponseName = "MainComponent::timerFuncIdResponse";
constexpr const char* kCompatiName = "MainComponent::timerFuncCompatiResponse";
constexpr const char* kIdUseResponseName = "MainComponent::readIdUseResponse";
constexpr const char* kIdSetResponseName = "MainComponent::readIdSetResponse";
constexpr const char* kTimeServerName = "MainComponent::readTimeServerRequest";
constexpr const char* kConfigNotifyName = "MainComponent::readConfigNotify";
constexpr const char* kRejectName = "MainComponent::readReject";

constexpr int kDiscoveryRequests = 3;
constexpr int kIdUseRotations = 6;
constexpr int kCompatiRequests = 3;
constexpr uint8_t kLastCandidateId = kCandidateIds.back();
// A block request marks the ids it asks about by bits counted from each kind's first candidate.
constexpr int kFirstWiredId = kWiredLink.candidate (0);
constexpr int kFirstWirelessId = kWirelessLink.candidate (0);
constexpr int kIdPeriodAfterLongBackOffMs = 300;

/** The candidate that follows id in the rotation, or 0 when id is not a candidate. */
uint8_t nextCandidate (uint8_t id) noexcept
{
    const int bit = candidateBit (id);
    if (bit < 0)
        return 0;
    return kCandidateIds[static_cast<size_t> (bit + 1) % kCandidateIds.size()];
}

bool isCandidateInUse (uint32_t mask, uint8_t id) noexcept
{
    const int bit = candidateBit (id);
    return bit >= 0 && (mask & (1u << bit)) != 0;
}

/** Bit (id - firstId) of mask, false for ids outside the eight bits of the mask. */
bool isIdInMask (uint8_t mask, int id, int firstId) noexcept
{
    const int bit = id - firstId;
    return bit >= 0 && bit < 8 && (mask & (1u << bit)) != 0;
}

int countInUse (uint32_t mask) noexcept
{
    int count = 0;
    for (size_t i = 0; i < kCandidateIds.size(); ++i)
        if ((mask & (1u << i)) != 0)
            ++count;
    return count;
}

} // namespace

void MainComponent::resetLinkState()
{
    const juce::ScopedLock sl (m_linkLock);
    m_timings = LinkTimings {};
    std::memset (&m_linkStatus, 0, sizeof (m_linkStatus));
    std::memset (m_peers.data(), 0, sizeof (m_peers));
    m_linkStatus.state = STATE_IDLE;
    m_linkStatus.type = kOwnDeviceType;
    m_linkStatus.id = static_cast<uint8_t> (m_timings.defaultId);
    m_linkStatus.reqid = kCandidateIds.front();  // the rotation starts at the first candidate
    m_linkStatus.linkif = LINKIF_UNKNOWN;
    writeHeaderTemplate (m_sendBuffer);
}

//==============================================================================
bool MainComponent::linkUpFunc (ByteView frame)
{
    const juce::ScopedLock sl (m_linkLock);

    if (linkPermitted == 0)
    {
        m_log->write ("%s NG Pipe not connect", kLinkUpName);
        return false;
    }

    // A reject holds until the application starts again. The frame still counts as handled.
    if (m_rejected)
    {
        m_log->write ("%s NG Rejected", kLinkUpName);
        return true;
    }

    if (m_linkStatus.state != STATE_IDLE)
        return true;

    m_platform.getRandom().seed (static_cast<unsigned> (std::time (nullptr)));
    std::memset (m_linkStatus.bssid, 0, sizeof (m_linkStatus.bssid));
    m_linkStatus.apconnected = 0;

    // The interface whose subnet holds the sender becomes the link interface.
    if (! m_networkAccess->prepareLinkInterface())
    {
        m_log->write ("%s NG", kLinkUpName);
        return false;
    }

    recordLinkInterface();
    applyInterfaceKind();
    if (m_linkStatus.linkif == LINKIF_WIRELESS && ! admitWirelessLink (frame))
        return false;

    startDiscovery();
    return true;
}

void MainComponent::recordLinkInterface()
{
    const auto& net = *m_networkAccess;
    setVtConnection (m_linkStatus, 0);
    ipv4ToOctets (net.m_ipAddr.load(), m_linkStatus.ip);
    std::memcpy (m_linkStatus.mac, net.m_macAddr, sizeof (m_linkStatus.mac));
    ipv4ToOctets (net.m_netmask.load(), m_linkStatus.netmask);

    const auto* mac = m_linkStatus.mac;
    m_log->write ("%s macaddr = %02x:%02x:%02x:%02x:%02x:%02x", kLinkUpName, mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
}

void MainComponent::applyInterfaceKind()
{
    auto& net = *m_networkAccess;
    const auto* mac = m_linkStatus.mac;
    const auto ip = octets (net.m_ipAddr.load());
    const auto mask = octets (net.m_netmask.load());
    int errorCode = 0;
    const int kind = net.getInterfaceKind (mac, errorCode);
    const auto* settings = linkKindSettings (kind);

    if (settings == nullptr)
    {
        // The link proceeds on the wired id; linkif, the ID period and the grace keep their values.
        m_log->write ("%s NG Link UP GET IF ERROR ip = %d.%d.%d.%d netmask = %d.%d.%d.%d err = %d", kLinkUpName,
                      ip.o[0], ip.o[1], ip.o[2], ip.o[3], mask.o[0], mask.o[1], mask.o[2], mask.o[3], errorCode);
        m_linkStatus.id = kWiredLink.defaultId;
        m_timings.defaultId = kWiredLink.defaultId;
        return;
    }

    m_linkStatus.linkif = static_cast<uint8_t> (kind);
    const auto network = octets (net.m_networkAddr.load());
    m_log->write ("%s LinkUp ip = %d.%d.%d.%d netmask = %d.%d.%d.%d networkaddr = %d.%d.%d.%d IF = %d", kLinkUpName,
                  ip.o[0], ip.o[1], ip.o[2], ip.o[3], mask.o[0], mask.o[1], mask.o[2], mask.o[3], network.o[0],
                  network.o[1], network.o[2], network.o[3], kind);

    if (kind == LINKIF_WIRELESS)
    {
        char ssid[kSsidBufferSize] {};
        if (net.getSsidBssid (ssid, mac, net.m_bssid) == 0)
        {
            std::memcpy (m_linkStatus.bssid, net.m_bssid, sizeof (m_linkStatus.bssid));
            const auto* b = m_linkStatus.bssid;
            m_log->write ("%s OK get ssid = %s bssid = %02x.%02x.%02x.%02x.%02x.%02x", kLinkUpName, ssid, b[0], b[1],
                          b[2], b[3], b[4], b[5]);
        }
        else
        {
            m_log->write ("%s NG get ssid fail", kLinkUpName);
        }
    }

    m_linkStatus.id = settings->defaultId;
    m_timings.defaultId = settings->defaultId;
    m_timings.idPeriodMs = settings->idPeriodMs;
    m_netGraceCount = settings->graceAtLinkUp;
}

bool MainComponent::admitWirelessLink (ByteView frame)
{
    if (isBlockedModel (frame))
    {
        const auto model = frameModel (frame);
        m_log->write ("%s NG DKP-5100 DKP-410 BLOCK linkif = %d frmhdr->minorver = %d model = %s", kLinkUpName, 0,
                      frameMinorVersion (frame), model.text);
        return false;
    }

    // A failed query leaves the BSSID read with the SSID.
    m_networkAccess->getBssid (m_linkStatus.mac, m_linkStatus.bssid);
    const auto* b = m_linkStatus.bssid;
    m_log->write ("%s OK bssid = %02x.%02x.%02x.%02x.%02x.%02x", kLinkUpName, b[0], b[1], b[2], b[3], b[4], b[5]);
    return true;
}

void MainComponent::startDiscovery()
{
    m_linkStatus.state = STATE_DISCOVERY;
    frameSendDiscoveryRequest();
    m_discoveryTimer->startTimer (m_timings.discoveryPeriodMs);
    startIfStopped (*m_netMonitorTimer, kNetMonitorPeriodMs);
    startIfStopped (*m_appMonitorTimer, kAppMonitorPeriodMs);
    notifyMessage (m_linkStatus.id, KIND_LINK_STATUS_CHANGED);
}

//==============================================================================
void MainComponent::timerFuncDiscoveryResponse()
{
    const juce::ScopedLock sl (m_linkLock);
    m_discoveryTimer->stopTimer();

    if (m_linkStatus.state != STATE_DISCOVERY)
    {
        m_discoveryTimer->startTimer (m_timings.discoveryPeriodMs);
        return;
    }

    m_log->write ("%s TimerEXP DISCOVERY cnt = %d ", kDiscoveryName, m_linkStatus.discoverycnt);

    if (m_linkStatus.discoverycnt >= kDiscoveryRequests)
    {
        m_linkStatus.discoverycnt = 0;
        m_linkStatus.idcnt = 0;
        setVtConnection (m_linkStatus, 0);
        frameSendIdUseRequest (m_linkStatus.reqid);
        m_linkStatus.state = STATE_IDUSE;
        m_idTimer->startTimer (m_timings.idPeriodMs);
        return;
    }

    frameSendDiscoveryRequest();
    m_discoveryTimer->startTimer (m_timings.discoveryPeriodMs);
}

void MainComponent::timerFuncIdResponse()
{
    const juce::ScopedLock sl (m_linkLock);
    m_idTimer->stopTimer();

    if (m_linkStatus.state == STATE_IDUSE)
    {
        const auto mask = getVtConnection (m_linkStatus);
        m_log->write ("%s TimerEXP IDUSE cnt = %d reqid = %d connection = %02x", kIdResponseName, m_linkStatus.idcnt,
                      m_linkStatus.reqid, mask);

        if (m_linkStatus.idcnt >= kIdUseRotations && m_linkStatus.reqid == kLastCandidateId)
        {
            completeIdUse();
            return;
        }

        const uint8_t next = nextCandidate (m_linkStatus.reqid);
        if (next == 0)
        {
            m_log->write ("%s NG reqid error = %d ", kIdResponseName, m_linkStatus.reqid);
            m_linkStatus.reqid = kWirelessLink.defaultId;
            frameSendIdUseRequest (m_linkStatus.reqid);
        }
        else
        {
            m_linkStatus.reqid = next;
            if (! isCandidateInUse (mask, next))
                frameSendIdUseRequest (next);
        }

        if (m_linkStatus.reqid == kLastCandidateId)
            ++m_linkStatus.idcnt;
        m_idTimer->startTimer (m_timings.idPeriodMs);
        return;
    }

    if (m_linkStatus.state == STATE_IDSET)
    {
        m_log->write ("%s TimerEXP IDSET cnt = %d ", kIdResponseName, m_linkStatus.idcnt);
        if (m_linkStatus.idcnt >= kIdUseRotations)
        {
            m_linkStatus.idcnt = 0;
            takeLongBackOff();
            return;
        }
        frameSendIdSetRequest();
        m_idTimer->startTimer (m_timings.idPeriodMs);
        return;
    }

    m_idTimer->startTimer (m_timings.idPeriodMs);
}

void MainComponent::completeIdUse()
{
    auto& s = m_linkStatus;
    const auto mask = getVtConnection (s);
    s.idcnt = 0;
    s.idClaimed = 1;
    s.inusecnt = static_cast<uint8_t> (countInUse (mask));

    const auto defaultId = static_cast<uint8_t> (m_timings.defaultId);
    if ((s.apmode == 0 && s.inusecnt == kCandidateIds.size()) || (s.apmode == 1 && s.inusecnt >= 4))
    {
        s.id = defaultId;
        takeLongBackOff();
        return;
    }

    // An undetermined interface kind keeps the own id.
    if (const auto* kind = linkKindSettings (s.linkif))
    {
        const uint8_t freeId = firstFreeCandidate (*kind, mask);
        if (freeId == 0)
        {
            s.id = defaultId;
            if (kind->exhaustionRestartsRotation)
                s.reqid = defaultId;
            takeLongBackOff();
            return;
        }
        s.id = freeId;
    }

    if (s.linkif == LINKIF_WIRELESS)
    {
        char ssid[kSsidBufferSize] {};
        if (m_networkAccess->getSsid (ssid, s.mac) == 0)
            m_log->write ("%s OK get ssid = %s", kIdResponseName, ssid);
        else
            m_log->write ("%s NG get ssid fail", kIdResponseName);
    }

    s.state = STATE_RUN;
    ++s.devcount;  // the manager counts itself
    m_log->write ("%s Link UP STATE_RUN id = %d ", kIdResponseName, s.id);
    frameSendConfigNotify();
    m_keepAliveTimer->startTimer (m_timings.keepAlivePeriodMs);
    notifyMessage (s.id, KIND_LINK_STATUS_CHANGED);
}

void MainComponent::takeLongBackOff()
{
    m_linkStatus.state = STATE_IDWAIT;
    m_idRestartLongTimer->startTimer (m_timings.longBackOffMs);
}

void MainComponent::timerFuncIdRestartLong()
{
    const juce::ScopedLock sl (m_linkLock);
    m_idRestartLongTimer->stopTimer();
    if (m_linkStatus.state != STATE_IDWAIT)
        return;

    setVtConnection (m_linkStatus, 0);
    m_linkStatus.state = STATE_IDUSE;
    m_linkStatus.idcnt = 0;
    frameSendIdUseRequest (m_linkStatus.reqid);
    m_timings.idPeriodMs = kIdPeriodAfterLongBackOffMs;
    m_idTimer->startTimer (m_timings.idPeriodMs);
}

void MainComponent::timerFuncIdRestart()
{
    const juce::ScopedLock sl (m_linkLock);
    m_idRestartTimer->stopTimer();
    if (m_linkStatus.state != STATE_IDWAIT)
        return;

    // The ids seen in use before the duplication stay marked.
    m_linkStatus.state = STATE_IDUSE;
    m_linkStatus.idcnt = 0;
    frameSendIdUseRequest (m_linkStatus.reqid);
    m_idTimer->startTimer (m_timings.idPeriodMs);
}

//==============================================================================
// The compatibility phase is kept for completeness: no transition enters STATE_COMPATI and nothing
// starts its timer, so this job only runs if a future link-up chooses to begin with it.
void MainComponent::timerFuncCompatiResponse()
{
    const juce::ScopedLock sl (m_linkLock);
    m_compatiTimer->stopTimer();

    if (m_linkStatus.state != STATE_COMPATI)
    {
        m_compatiTimer->startTimer (m_timings.compatiPeriodMs);
        return;
    }

    m_log->write ("%s TimerEXP COMPATI cnt = %d ", kCompatiName, m_linkStatus.compaticnt);
    if (m_linkStatus.compaticnt >= kCompatiRequests)
    {
        m_linkStatus.compaticnt = 0;
        m_linkStatus.state = STATE_DISCOVERY;
        frameSendDiscoveryRequest();
        m_discoveryTimer->startTimer (m_timings.discoveryPeriodMs);
        return;
    }
    frameSendCompatiRequest();
    m_compatiTimer->startTimer (m_timings.compatiPeriodMs);
}

//==============================================================================
void MainComponent::readIdUseResponse (ByteView body)
{
    const juce::ScopedLock sl (m_linkLock);
    const uint8_t id = bodyByte<IdResponseBody::id> (body);
    const uint8_t status = bodyByte<IdResponseBody::statuscode> (body);
    m_log->write ("%s state = %d statuscode = %d id = %d vtconnection = %02x", kIdUseResponseName,
                  m_linkStatus.state, status, id, getVtConnection (m_linkStatus));

    const int bit = candidateBit (id);
    if (m_linkStatus.state == STATE_IDUSE && status == 1 && bit >= 0)
        setVtConnection (m_linkStatus, getVtConnection (m_linkStatus) | (1u << bit));
}

// Only reachable from the reserved STATE_IDSET.
void MainComponent::readIdSetResponse (ByteView body)
{
    const juce::ScopedLock sl (m_linkLock);
    if (m_linkStatus.state != STATE_IDSET)
        return;

    m_idTimer->stopTimer();
    const uint8_t status = bodyByte<IdResponseBody::statuscode> (body);
    if (status == 0)
    {
        m_linkStatus.idcnt = 0;
        m_linkStatus.id = bodyByte<IdResponseBody::id> (body);
        m_linkStatus.idClaimed = 1;
        ++m_linkStatus.devcount;
        m_linkStatus.state = STATE_RUN;
        m_log->write ("%s Link UP STATE_RUN id = %d", kIdSetResponseName, m_linkStatus.id);
        frameSendConfigNotify();
        m_keepAliveTimer->startTimer (m_timings.keepAlivePeriodMs);
        notifyMessage (m_linkStatus.id, KIND_LINK_STATUS_CHANGED);
    }
    else if (status == 2)
    {
        m_linkStatus.idcnt = 0;
        m_linkStatus.state = STATE_IDWAIT;
    }
    else
    {
        m_idTimer->startTimer (m_timings.idPeriodMs);
    }
}

void MainComponent::readIdUseRequestFromBlk (ByteView body)
{
    const juce::ScopedLock sl (m_linkLock);
    if (m_linkStatus.state != STATE_RUN)
        return;

    const uint8_t wiredMask = bodyByte<IdUseRequestFromBlkBody::wiredMask> (body);
    const uint8_t wirelessMask = bodyByte<IdUseRequestFromBlkBody::wirelessMask> (body);
    const int id = m_linkStatus.id;
    const bool askedWired =
        wiredMask != 0 && m_linkStatus.linkif == LINKIF_WIRED && isIdInMask (wiredMask, id, kFirstWiredId);
    const bool askedWireless =
        wirelessMask != 0 && m_linkStatus.linkif == LINKIF_WIRELESS && isIdInMask (wirelessMask, id, kFirstWirelessId);
    if (askedWired || askedWireless)
        frameSendIdUseResponseFromBlk (body);
}

void MainComponent::readTimeServerRequest (ByteView body)
{
    const juce::ScopedLock sl (m_linkLock);
    if (m_linkStatus.state == STATE_RUN && bodyByte<TimeServerRequestBody::id> (body) == m_linkStatus.id)
        handleIdDuplication (false, 0);
}

void MainComponent::handleIdDuplication (bool fromConfigNotify, Ipv4 senderIp)
{
    auto& s = m_linkStatus;
    if (fromConfigNotify)
    {
        const auto ip = octets (senderIp);
        m_log->write ("%s ID duplication id = %d ip = %d.%d.%d.%d", kConfigNotifyName, s.id, ip.o[0], ip.o[1],
                      ip.o[2], ip.o[3]);
    }
    else
    {
        m_log->write ("%s ID duplication id = %d", kTimeServerName, s.id);
    }

    m_keepAliveTimer->stopTimer();
    deleteAllPeers();
    if (fromConfigNotify)
        frameSendDisconnect();  // still under the duplicated id

    --s.devcount;  // the manager no longer counts itself
    s.state = STATE_IDWAIT;
    notifyMessage (s.id, KIND_LINK_STATUS_CHANGED);
    s.id = static_cast<uint8_t> (m_timings.defaultId);

    m_idRestartTimer->startTimer (randomDelay (m_timings.duplicateBackOffMaxMs));
}

void MainComponent::readReject()
{
    const juce::ScopedLock sl (m_linkLock);
    m_log->write ("%s DKP AND WMR EXIST ", kRejectName);

    frameSendDisconnect();
    m_rejected = true;
    deleteAllPeers();

    notifyMessage (m_linkStatus.id, KIND_LINK_STATUS_CHANGED);
    notifyMessage (m_linkStatus.id, KIND_LINK_REJECTED);

    // Everything cleared, state STATE_IDLE and linkif 0: the wireless block rule applies from now on.
    std::memset (&m_linkStatus, 0, sizeof (m_linkStatus));
    m_linkStatus.id = static_cast<uint8_t> (m_timings.defaultId);
    m_linkStatus.type = static_cast<uint8_t> (m_timings.defaultDeviceType);
}

void MainComponent::readResetNotify()
{
    const juce::ScopedLock sl (m_linkLock);
    if (m_linkStatus.state == STATE_IDLE)
        return;

    linkDown (LinkDownOptions::resetNotice());
}

void MainComponent::linkDown (const LinkDownOptions& options)
{
    const juce::ScopedLock sl (m_linkLock);
    // Stopping the link timers also stops the client application monitor. It keeps watching
    // here: clients that end while the link is down must still end the manager, and the link may
    // never come up again to restart it. A monitor that has given up stays stopped.
    const bool restartAppMonitor = ! options.keepMonitors && m_appMonitorTimer->isTimerRunning();
    if (options.disconnectInRun && m_linkStatus.state == STATE_RUN)
        frameSendDisconnect();
    deleteAllPeers();
    stopLinkTimers (options.keepMonitors);
    m_linkStatus.state = STATE_IDLE;
    if (options.clearApConnected)
        m_linkStatus.apconnected = 0;
    notifyMessage (m_linkStatus.id, KIND_LINK_STATUS_CHANGED);
    resetLinkState();
    if (restartAppMonitor)
        m_appMonitorTimer->startTimer (kAppMonitorPeriodMs);
}

} // namespace lyrlink
