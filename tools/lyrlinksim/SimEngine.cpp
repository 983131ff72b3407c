#include "lyrlinksim/SimEngine.h"

#include "link/LinkRecords.h"

#include <algorithm>

namespace lyrlinksim
{

SimEngine::SimEngine (const SimConfig& config) : m_timeline (config.timeline)
{
    std::stable_sort (m_timeline.begin(), m_timeline.end(),
                      [] (const TimedEvent& a, const TimedEvent& b) { return a.atMs < b.atMs; });
    for (const auto& identity : config.devices)
    {
        Device d;
        d.identity = identity;
        d.broadcast = config.broadcastFor (identity);
        if (config.join)
            startJoin (d, 0);
        else
        {
            d.phase = Phase::Running;
            d.dueMs = 0;
        }
        m_devices.push_back (std::move (d));
    }
}

bool SimEngine::holdsId (const DeviceIdentity& device, uint8_t id) noexcept
{
    if (id == device.id)
        return true;
    return device.type == 7 && lyrlink::occupiesNextId (device.id) && id == device.id + 1;
}

bool SimEngine::isOwnAddress (Ipv4 address) const noexcept
{
    return std::any_of (m_devices.begin(), m_devices.end(),
                        [address] (const Device& d) { return d.identity.ip == address; });
}

int64_t SimEngine::getNextDueMs() const
{
    if (m_quit)
        return kNever;
    int64_t next = m_nextEvent < m_timeline.size() ? m_timeline[m_nextEvent].atMs : kNever;
    for (const auto& d : m_devices)
        if (d.phase != Phase::Silent)
            next = std::min (next, d.dueMs);
    return next;
}

void SimEngine::advance (int64_t nowMs, EngineOutput& out)
{
    while (! m_quit)
    {
        const int64_t eventAt = m_nextEvent < m_timeline.size() ? m_timeline[m_nextEvent].atMs : kNever;
        size_t device = m_devices.size();
        int64_t deviceAt = kNever;
        for (size_t i = 0; i < m_devices.size(); ++i)
            if (m_devices[i].phase != Phase::Silent && m_devices[i].dueMs < deviceAt)
            {
                device = i;
                deviceAt = m_devices[i].dueMs;
            }

        if (eventAt <= nowMs && eventAt <= deviceAt)
            apply (m_timeline[m_nextEvent++].event, eventAt, out);
        else if (deviceAt <= nowMs)
            runDevice (device, nowMs, out);
        else
            break;
    }
}

void SimEngine::startJoin (Device& d, int64_t atMs)
{
    d.phase = Phase::Joining;
    d.joinStep = 0;
    d.dueMs = atMs;
}

uint8_t SimEngine::countActive() const
{
    return static_cast<uint8_t> (std::count_if (m_devices.begin(), m_devices.end(),
                                                [] (const Device& d) { return d.phase != Phase::Silent; }));
}

void SimEngine::runDevice (size_t index, int64_t nowMs, EngineOutput& out)
{
    auto& d = m_devices[index];
    const auto at = d.dueMs;

    if (d.phase == Phase::Joining)
    {
        const int step = d.joinStep++;
        if (step < kJoinDiscoveryRequests)
            send (index, nullptr, encodeDiscoveryRequest (d.identity, static_cast<uint8_t> (step + 1)), out);
        else
            send (index, nullptr,
                  encodeIdUseRequest (d.identity, d.identity.id,
                                      static_cast<uint8_t> (step - kJoinDiscoveryRequests + 1)),
                  out);
        if (d.joinStep >= kJoinDiscoveryRequests + kJoinIdUseRequests)
            d.phase = Phase::Running;
        d.dueMs = at + kJoinStepMs;
    }
    else
    {
        send (index, nullptr, encodeConfigNotify (d.identity, d.identity.id, d.identity.type, countActive()), out);
        d.dueMs = at + kConfigPeriodMs;
    }

    // After a stall of more than a period, pick the cadence up from now instead of sending a burst.
    if (d.dueMs <= nowMs)
        d.dueMs = nowMs + (d.phase == Phase::Joining ? kJoinStepMs : kConfigPeriodMs);
}

void SimEngine::receive (Ipv4 source, ByteView datagram, EngineOutput& out)
{
    if (m_quit || isOwnAddress (source))
        return;

    const auto request = decodeIdUseRequest (datagram);
    // A request without an address to answer to cannot be answered.
    if (! request || request->replyTo == 0)
        return;

    for (size_t i = 0; i < m_devices.size(); ++i)
    {
        const auto& d = m_devices[i];
        if (d.phase == Phase::Silent || ! holdsId (d.identity, request->id))
            continue;
        Datagram dg;
        dg.device = i;
        dg.to = request->replyTo;
        dg.bytes = encodeIdUseResponse (d.identity, request->id, request->requestNumber, 1);
        out.datagrams.push_back (std::move (dg));
    }
}

std::vector<size_t> SimEngine::select (const DeviceSelector& s) const
{
    std::vector<size_t> chosen;
    for (size_t i = 0; i < m_devices.size(); ++i)
    {
        const auto& d = m_devices[i].identity;
        const bool match = s.kind == DeviceSelector::Kind::All || (s.kind == DeviceSelector::Kind::Id && d.id == s.id)
                        || (s.kind == DeviceSelector::Kind::Address && d.ip == s.address)
                        || (s.kind == DeviceSelector::Kind::First && i == 0);
        if (match)
            chosen.push_back (i);
    }
    return chosen;
}

void SimEngine::send (size_t index, const SimEvent* shaping, Bytes bytes, EngineOutput& out) const
{
    Datagram dg;
    dg.device = index;
    dg.to = m_devices[index].broadcast;
    if (shaping != nullptr)
    {
        if (shaping->to)
            dg.to = *shaping->to;
        if (shaping->length)
            bytes.resize (*shaping->length, 0);
    }
    dg.bytes = std::move (bytes);
    out.datagrams.push_back (std::move (dg));
}

void SimEngine::apply (const SimEvent& event, int64_t nowMs, EngineOutput& out)
{
    EventOutcome outcome;
    outcome.atMs = nowMs;
    outcome.text = event.text;

    if (event.kind == EventKind::Quit)
    {
        m_quit = true;
        out.events.push_back (std::move (outcome));
        return;
    }

    const auto chosen = select (event.devices);
    if (chosen.empty())
    {
        outcome.error = "no such device";
        out.events.push_back (std::move (outcome));
        return;
    }
    out.events.push_back (std::move (outcome));

    for (const auto i : chosen)
    {
        auto& d = m_devices[i];
        const auto& id = d.identity;
        switch (event.kind)
        {
            case EventKind::Silent:
                d.phase = Phase::Silent;
                break;
            case EventKind::Resume:
                if (d.phase == Phase::Silent)
                {
                    d.phase = Phase::Running;
                    d.dueMs = nowMs;
                }
                break;
            case EventKind::Leave:
                send (i, &event, encodeLeaveNotify (id), out);
                d.phase = Phase::Silent;
                break;
            case EventKind::Disconnect:
                send (i, &event, encodeDisconnect (id), out);
                d.phase = Phase::Silent;
                break;
            case EventKind::Rediscover:
                startJoin (d, nowMs);
                break;
            case EventKind::Reject:
                send (i, &event, encodeReject (id), out);
                break;
            case EventKind::Reset:
                send (i, &event, encodeResetNotify (id), out);
                break;
            case EventKind::TimeServer:
                send (i, &event, encodeTimeServerRequest (id, event.claimedId), out);
                break;
            case EventKind::Config:
                send (i, &event, encodeConfigNotify (id, event.claimedId, event.type.value_or (id.type), countActive()),
                      out);
                break;
            case EventKind::IdBlk:
                send (i, &event,
                      encodeIdUseRequestFromBlk (id, event.wiredMask, event.wirelessMask, event.requestNumber), out);
                break;
            case EventKind::Raw:
                send (i, &event, event.raw, out);
                break;
            case EventKind::Quit:
                break;
        }
    }
}

} // namespace lyrlinksim
