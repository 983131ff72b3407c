// The network record and its queries on a fake datagram port, with the peer (the source of the
// last datagram received) set directly.
#pragma once

#include "netenv/LyrLinkNetworkAccess.h"
#include "support/FakePlatform.h"

#include <memory>

namespace lyrlink::test
{

class TestNetworkAccess : public LyrLinkNetworkAccess
{
public:
    explicit TestNetworkAccess (NetRowSource& rows)
        : LyrLinkNetworkAccess (std::make_unique<FakeDatagramPort> (std::make_shared<FakeDatagramPort::Shared>()), rows)
    {
    }

    void setPeer (Ipv4 peer) { m_srcAddr = peer; }

    std::vector<Ipv4> usedLocalAddresses() const
    {
        std::vector<Ipv4> used;
        for (const auto& entry : m_localAddrs)
            if (entry.used.load() != 0)
                used.push_back (entry.address.load());
        return used;
    }
};

using Mac = std::array<uint8_t, 6>;

inline Mac macOf (const uint8_t* octets)
{
    Mac mac;
    std::copy (octets, octets + 6, mac.begin());
    return mac;
}

} // namespace lyrlink::test
