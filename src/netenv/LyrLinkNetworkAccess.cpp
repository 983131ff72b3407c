#include "netenv/LyrLinkNetworkAccess.h"

#include <cstdio>
#include <cstring>

namespace lyrlink
{

LyrLinkNetworkAccess::LyrLinkNetworkAccess (std::unique_ptr<DatagramPort> port, NetRowSource& rows)
    : LyrLinkUDP (std::move (port)), m_rows (rows)
{
}

LyrLinkNetworkAccess::~LyrLinkNetworkAccess() { close(); }

void LyrLinkNetworkAccess::clearNetworkRecordForTests()
{
    m_matchCount = 0;
    m_ifIndex = 0;
    m_ipAddr = 0;
    std::memset (m_macAddr, 0, sizeof (m_macAddr));
    m_netmask = 0;
    m_networkAddr = 0;
    for (auto& entry : m_localAddrs)
    {
        entry.used = 0;
        entry.address = 0;
    }
    m_localAddrCount = 0;
    std::memset (m_bssid, 0, sizeof (m_bssid));
    m_srcAddr = 0;
}

void LyrLinkNetworkAccess::dataReceived (const uint8_t* sourceAddress, ByteView data)
{
    const Ipv4 source = ipv4FromOctets (sourceAddress);
    const Ipv4 ownAddress = m_ipAddr.load();

    if (source == ownAddress)
        return;

    if (ipv4Octet (ownAddress, 0) != 0)
    {
        for (const auto& entry : m_localAddrs)
            if (entry.address.load() == source)
                return;

        if ((source & m_netmask.load()) != m_networkAddr.load())
            return;
    }

    if (auto* callback = m_callback.load())
        callback->frameRead (sourceAddress, data);
}

int LyrLinkNetworkAccess::sendToAddress (const uint8_t* address, const void* data, int length)
{
    if (data == nullptr || length < 1)
        return -1;
    char host[16];
    std::snprintf (host, sizeof (host), "%d.%d.%d.%d", address[0], address[1], address[2], address[3]);
    return sendTo (host, data, length);
}

} // namespace lyrlink
