// The UDP endpoint with the network record of the link interface: the record drives the datagram
// filter and the broadcast address, and the queries answer every question the manager asks the
// operating system about the network.
#pragma once

#include "netenv/NetRows.h"
#include "transport/LyrLinkNetworkAccessCallback.h"
#include "transport/LyrLinkUDP.h"

#include <array>
#include <atomic>

namespace lyrlink
{

constexpr int kLocalAddrCapacity = 10;

/** One entry of the local address list. Written by collectLocalAddresses on link-up while the
    receive thread's filter may read it, so each field is atomic. */
struct LocalAddrEntry
{
    std::atomic<uint8_t> used { 0 };
    std::atomic<Ipv4> address { 0 };
};

class LyrLinkNetworkAccess : public LyrLinkUDP
{
public:
    LyrLinkNetworkAccess (std::unique_ptr<DatagramPort> port, NetRowSource& rows);
    ~LyrLinkNetworkAccess() override;

    /** Not owned; null until the owner sets it. */
    std::atomic<LyrLinkNetworkAccessCallback*> m_callback { nullptr };

    /** Unicast of data to the 4 octets of address, formatted as "%d.%d.%d.%d". */
    int sendToAddress (const uint8_t* address, const void* data, int length);

    //==============================================================================
    // Queries (each reads fresh rows)

    /** Chooses the interface whose subnet holds the source of the last datagram received. */
    bool prepareLinkInterface();
    bool findInterfaceByPeer (Ipv4 peer, uint32_t& count, uint32_t& ifIndex, Ipv4& address,
                              uint8_t* mac, Ipv4& netmask);
    void collectLocalAddresses();
    void deleteLinkLocalRoutes();
    bool getMacAddress (uint32_t ifIndex, uint8_t* mac);
    /** 0 wireless, 1 wired, -1 error with errorCode 1 to 8. */
    int getInterfaceKind (const uint8_t* mac, int& errorCode);
    int getBssid (const uint8_t* mac, uint8_t* bssid);
    int getSsidBssid (char* ssid, const uint8_t* mac, uint8_t* bssid);
    int getSsid (char* ssid, const uint8_t* mac);
    bool isAddressChanged (Ipv4 address, uint32_t ifIndex);
    bool isInterfaceDown (uint32_t ifIndex);
    bool isOldOsVersion();

    //==============================================================================
    // The network record (zero at construction; written only by prepareLinkInterface)

    uint32_t m_matchCount = 0;
    std::atomic<uint32_t> m_ifIndex { 0 };
    std::atomic<Ipv4> m_ipAddr { 0 };
    uint8_t m_macAddr[6] {};
    std::atomic<Ipv4> m_netmask { 0 };
    std::atomic<Ipv4> m_networkAddr { 0 };
    std::array<LocalAddrEntry, kLocalAddrCapacity> m_localAddrs;
    uint32_t m_localAddrCount = 0;
    uint8_t m_bssid[6] {};

    /** Tests only: the network record and the last datagram's source back to zero, as at
        construction. */
    void clearNetworkRecordForTests();

protected:
    /** The datagram filter: own broadcast, this computer's addresses and other subnets are dropped. */
    void dataReceived (const uint8_t* sourceAddress, ByteView data) override;

private:
    NetRowSource& m_rows;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LyrLinkNetworkAccess)
};

} // namespace lyrlink
