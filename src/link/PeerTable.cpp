// The peer table: one record per device id, written from the devices' configuration notices and
// removed by leave notices, renewed discovery, aging and every link-down.
//
// Invariant: devcount equals the number of present records, plus one while the manager counts
// itself in STATE_RUN. Every change of a record between present and not present goes through
// writeRecord or removeRecord, which keep it, and is reported to the clients as DeviceChanged.
// A present device refreshing itself (every device, every 2 s) is rewritten in place: nothing is
// logged, notified or allocated.
#include "app/LyrLinkSysMgrLog.h"
#include "app/MainComponent.h"
#include "ipc/ProcMsg.h"

namespace lyrlink
{

namespace
{
constexpr const char* kConfigNotifyName = "MainComponent::readConfigNotify";
constexpr const char* kDiscoveryRequestName = "MainComponent::readDiscoveryRequest";
constexpr const char* kAgingName = "MainComponent::timerFuncAging";

constexpr int kMaxDeviceType = 9;

/** Device types whose first configuration notice brings the link up. */
constexpr bool bringsLinkUp (int type) noexcept { return type == 1 || type == 2 || type == 3 || type == 7; }
constexpr bool isPlayerId (int id) noexcept { return id >= 1 && id <= 4; }
constexpr bool isAllInOneId (int id) noexcept { return id >= 9 && id <= 12; }

/** The ids that a device type may hold; none for types without an id range. */
struct IdSet
{
    uint8_t ids[6];
    size_t count;
};

constexpr IdSet idsOfDeviceType (int type) noexcept
{
    switch (type)
    {
        case 1: return { { 1, 2, 3, 4 }, 4 };
        case 2:
        case 3: return { { 33 }, 1 };
        case 4: return { { 17, 18, 41, 42, 43, 44 }, 6 };
        case 6: return { { 41, 42, 43, 44 }, 4 };
        case 7: return { { 9, 10, 11, 12 }, 4 };
        default: return { {}, 0 };
    }
}

} // namespace

void MainComponent::removeRecord (int id)
{
    auto& entry = m_peers[static_cast<size_t> (id - 1)];
    if (entry.state != DEVICE_PRESENT)
        return;
    entry.state = DEVICE_REMOVED;
    --m_linkStatus.devcount;
    notifyMessage (id, KIND_DEVICE_CHANGED);
}

void MainComponent::deletePeer (int id)
{
    const juce::ScopedLock sl (m_linkLock);
    if (! isDeviceId (id))
        return;
    const bool wasPresent = m_peers[static_cast<size_t> (id - 1)].state == DEVICE_PRESENT;
    removeRecord (id);
    if (wasPresent && occupiesNextId (id))
        removeRecord (id + 1);
}

void MainComponent::deleteAllPeers()
{
    const juce::ScopedLock sl (m_linkLock);
    for (int id = 1; id <= kMaxDeviceId; ++id)
        removeRecord (id);
}

//==============================================================================
void MainComponent::readConfigNotify (ByteView body, ByteView frame)
{
    const juce::ScopedLock sl (m_linkLock);

    // frameRead only passes whole bodies; a direct caller with less gets nothing done.
    if (! body.holds (ConfigNotifyBody::readEnd))
        return;

    const int id = bodyByte<ConfigNotifyBody::id> (body);
    const int type = bodyByte<ConfigNotifyBody::type> (body);
    if (! isDeviceId (id) || type == 0 || type > kMaxDeviceType)
        return;

    auto& entry = m_peers[static_cast<size_t> (id - 1)];
    auto& agingTimer = *m_agingTimers.getUnchecked (id - 1);
    if (entry.state == DEVICE_PRESENT)
        agingTimer.stopTimer();

    const Ipv4 senderIp = ipv4FromOctets (bodyBytes<ConfigNotifyBody::ip> (body));

    switch (m_linkStatus.state)
    {
        case STATE_IDLE:
            if (! bringsLinkUp (type))
                break;
            m_log->write ("%s FIRST RCV CONFIG    ", kConfigNotifyName);
            if (! linkUpFunc (frame))
                return;
            if (type == 7)
            {
                if (std::memcmp (m_linkStatus.bssid, bodyBytes<ConfigNotifyBody::mac> (body), 6) == 0)
                {
                    m_log->write ("%s Connected WMR AP network", kConfigNotifyName);
                    m_linkStatus.apconnected = 1;
                }
                m_linkStatus.apmode = 1;
                notifyMessage (m_linkStatus.id, KIND_AP_DEVICE_LINK_UP);
            }
            else
            {
                m_linkStatus.apmode = 0;
            }
            break;

        case STATE_IDUSE:
        {
            const int bit = candidateBit (id);
            if (bit < 0)
                break;
            const auto ip = octets (senderIp);
            const auto* mac = bodyBytes<ConfigNotifyBody::mac> (body);
            m_log->write ("%s write id = %d ip = %d.%d.%d.%d mac = %02X:%02X:%02X:%02X:%02X:%02X", kConfigNotifyName,
                          id, ip.o[0], ip.o[1], ip.o[2], ip.o[3], mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
            setVtConnection (m_linkStatus, getVtConnection (m_linkStatus) | (1u << bit));
            break;
        }

        case STATE_RUN:
            // Players and all-in-one units never share a link: the family that brought it up stays.
            if ((m_linkStatus.apmode == 0 && isAllInOneId (id)) || (m_linkStatus.apmode == 1 && isPlayerId (id)))
            {
                const auto ip = octets (senderIp);
                m_log->write ("%s NG DKP AND WMR EXIST ip = %d.%d.%d.%d", kConfigNotifyName, ip.o[0], ip.o[1], ip.o[2],
                              ip.o[3]);
                break;
            }
            if (id == m_linkStatus.id)
            {
                handleIdDuplication (true, senderIp);
                break;
            }
            writeRecord (id, body, id, true);
            if (occupiesNextId (id))
                writeRecord (id + 1, body, id, false);
            break;

        default:  // discovery, waiting and the reserved states keep no table
            break;
    }

    if (entry.state == DEVICE_PRESENT)
        agingTimer.startTimer (m_linkStatus.linkif == LINKIF_WIRELESS ? m_timings.agingPeriodMs * kWirelessAgingFactor
                                                                      : m_timings.agingPeriodMs);
}

void MainComponent::writeRecord (int id, ByteView body, int loggedId, bool logOverwrite)
{
    auto& entry = m_peers[static_cast<size_t> (id - 1)];
    const auto* mac = bodyBytes<ConfigNotifyBody::mac> (body);
    const auto* ip = bodyBytes<ConfigNotifyBody::ip> (body);

    bool added = entry.state != DEVICE_PRESENT;
    if (! added && (std::memcmp (entry.ip, ip, 4) != 0 || std::memcmp (entry.mac, mac, 6) != 0))
    {
        if (logOverwrite)
            m_log->write ("%s overwrite id = %d ip = %d.%d.%d.%d", kConfigNotifyName, id, ip[0], ip[1], ip[2], ip[3]);
        removeRecord (id);  // clients see the old device leave before the new one arrives
        added = true;
    }

    entry.state = DEVICE_PRESENT;
    entry.type = bodyByte<ConfigNotifyBody::type> (body);
    entry.cfg1 = bodyByte<ConfigNotifyBody::idClaimed> (body);
    entry.cfg17 = bodyByte<ConfigNotifyBody::cfg17> (body);
    std::memcpy (entry.ip, ip, 4);
    std::memcpy (entry.mac, mac, 6);

    if (added)
    {
        m_log->write ("%s add id = %d ip = %d.%d.%d.%d", kConfigNotifyName, loggedId, ip[0], ip[1], ip[2], ip[3]);
        ++m_linkStatus.devcount;
        notifyMessage (id, KIND_DEVICE_CHANGED);
    }
}

void MainComponent::readDiscoveryRequest (ByteView body)
{
    const juce::ScopedLock sl (m_linkLock);

    if (! body.holds (DiscoveryRequestBody::readEnd))
        return;

    const int type = bodyByte<DiscoveryRequestBody::type> (body);
    const auto ids = idsOfDeviceType (type);
    if (ids.count == 0)
    {
        m_log->write ("%s frmData->type = %d", kDiscoveryRequestName, type);
        return;
    }

    // A device that starts its own link-up again is gone until its next configuration notice.
    const auto* mac = bodyBytes<DiscoveryRequestBody::mac> (body);
    for (size_t i = 0; i < ids.count; ++i)
    {
        const int id = ids.ids[i];
        if (std::memcmp (m_peers[static_cast<size_t> (id - 1)].mac, mac, 6) == 0)
        {
            m_log->write ("%s RE LINKUP DELETE id =%d", kDiscoveryRequestName, id);
            deletePeer (id);
        }
    }
}

void MainComponent::timerFuncAging (int index)
{
    const juce::ScopedLock sl (m_linkLock);
    if (index < 0 || index >= m_agingTimers.size())
    {
        m_log->write ("%s NG index = %d", kAgingName, index);
        return;
    }

    m_agingTimers.getUnchecked (index)->stopTimer();
    const int id = index + 1;
    const auto& entry = m_peers[static_cast<size_t> (index)];
    if (entry.state != DEVICE_PRESENT)
        return;

    m_log->write ("%s TIMEREXP Aging delid = %d ip = %d.%d.%d.%d", kAgingName, id, entry.ip[0], entry.ip[1],
                  entry.ip[2], entry.ip[3]);
    deletePeer (id);
}

} // namespace lyrlink
