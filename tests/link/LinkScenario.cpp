#include "link/LinkScenario.h"

namespace lyrlink::test
{

std::vector<uint8_t> ownFrame (uint8_t type, uint8_t subType, const std::vector<uint8_t>& body)
{
    auto f = FrameBuilder::header (type, subType, kFrameHeaderSize + body.size(), "velantrix", 3, 1);
    std::copy (body.begin(), body.end(), f.begin() + kFrameHeaderSize);
    return f;
}

std::vector<uint8_t> concat (std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> r;
    for (auto& p : parts)
        r.insert (r.end(), p.begin(), p.end());
    return r;
}

std::vector<uint8_t> octetsOf (Ipv4 a)
{
    std::vector<uint8_t> r (4);
    ipv4ToOctets (a, r.data());
    return r;
}

std::vector<uint8_t> octetsOf (const std::array<uint8_t, 6>& mac) { return { mac.begin(), mac.end() }; }

void LinkScenario::addWiredInterface() { h.platform.rows.addWiredInterface (2, kWiredIp, kWiredMask, kWiredMac); }

void LinkScenario::addWirelessInterface()
{
    h.platform.rows.addWirelessInterface (3, kWirelessIp, kWirelessMask, kWirelessMac, "booth", kBssid);
}

void LinkScenario::bringUpWired (const Device& first)
{
    addWiredInterface();
    connectClient();
    const auto start = h.scheduler.now();
    send (first);
    h.scheduler.advance (3900);
    ASSERT_EQ (status().state, STATE_RUN) << "no link after " << h.scheduler.now() - start << " ms";
    clearRecords();
}

void LinkScenario::bringUpWireless (const Device& first)
{
    addWirelessInterface();
    connectClient();
    send (first);
    h.scheduler.advance (7500);
    ASSERT_EQ (status().state, STATE_RUN);
    clearRecords();
}

void LinkScenario::clearRecords()
{
    h.clearSent();
    h.clearPipeMessages();
    h.clearLog();
    h.scheduler.clearEvents();
}

std::vector<SentDatagram> LinkScenario::sentOfType (uint8_t type) const
{
    std::vector<SentDatagram> r;
    for (auto& d : h.sent())
        if (d.bytes.size() > 10 && d.bytes[10] == type)
            r.push_back (d);
    return r;
}

std::vector<std::pair<int, int>> LinkScenario::notificationKinds() const
{
    std::vector<std::pair<int, int>> r;
    for (auto& n : h.notifications())
        r.emplace_back (n.msg.kind, n.msg.id);
    return r;
}

std::vector<std::string> LinkScenario::linesOf (const std::string& name) const
{
    std::vector<std::string> r;
    for (auto& t : h.logTexts())
        if (t.compare (0, name.size(), name) == 0)
            r.push_back (t);
    return r;
}

void LinkScenario::expectDevcountInvariant() const
{
    const auto s = status();
    int present = 0;
    for (int id = 1; id <= kMaxDeviceId; ++id)
        if (h.mc->getDeviceEntry (id).state == DEVICE_PRESENT)
            ++present;
    EXPECT_EQ (s.devcount, present + (s.state == STATE_RUN ? 1 : 0)) << "state " << int (s.state);
}

} // namespace lyrlink::test
