#include "support/FakePlatform.h"

#ifdef _WIN32
#include <process.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <unistd.h>
#endif

namespace lyrlink::test
{

namespace
{
int processId()
{
#ifdef _WIN32
    return ::_getpid();
#else
    return static_cast<int> (::getpid());
#endif
}

class FakeDatagramSender final : public DatagramSender
{
public:
    FakeDatagramSender (std::shared_ptr<FakeDatagramPort::Shared> shared, Ipv4 local)
        : m_shared (std::move (shared)), m_local (local)
    {
    }

    bool send (Ipv4 destination, uint16_t port, const uint8_t* data, size_t length) override
    {
        const std::lock_guard<std::mutex> g (m_shared->lock);
        if (m_shared->sendsFail)
            return false;
        m_shared->sent.push_back ({ true, m_local, destination, port, std::vector<uint8_t> (data, data + length),
                                    m_shared->clock ? m_shared->clock() : 0 });
        return true;
    }

private:
    std::shared_ptr<FakeDatagramPort::Shared> m_shared;
    Ipv4 m_local;
};
} // namespace

int FakeDatagramPort::receive (uint8_t* buffer, size_t capacity, Ipv4& source)
{
    std::pair<Ipv4, std::vector<uint8_t>> datagram;
    {
        // Waits like a socket with a receive time-out, so a receive thread on a fake does not spin.
        std::unique_lock<std::mutex> l (m_shared->lock);
        const bool mine = m_shared->receivingThread == std::thread::id() || m_shared->receivingThread == std::this_thread::get_id();
        m_shared->arrived.wait_for (l, std::chrono::milliseconds (mine ? m_timeoutMs.load() : 100),
                                    [this, mine] { return (mine && ! m_shared->incoming.empty()) || ! m_valid; });
        if (! mine || m_shared->incoming.empty())
            return -1;
        datagram = std::move (m_shared->incoming.front());
        m_shared->incoming.pop_front();
    }
    source = datagram.first;
    if (! datagram.second.empty())
        std::memcpy (buffer, datagram.second.data(), std::min (capacity, datagram.second.size()));
    return static_cast<int> (datagram.second.size());
}

void FakeDatagramPort::close()
{
    {
        const std::lock_guard<std::mutex> g (m_shared->lock);
        m_valid = false;
    }
    m_shared->arrived.notify_all();
}

void FakeDatagramPort::deliver (Shared& shared, Ipv4 source, std::vector<uint8_t> bytes)
{
    {
        const std::lock_guard<std::mutex> g (shared.lock);
        shared.incoming.emplace_back (source, std::move (bytes));
    }
    shared.arrived.notify_all();
}

bool FakeDatagramPort::sendTo (Ipv4 destination, uint16_t port, const uint8_t* data, size_t length)
{
    const std::lock_guard<std::mutex> g (m_shared->lock);
    if (m_shared->sendsFail)
        return false;
    m_shared->sent.push_back ({ false, 0, destination, port, std::vector<uint8_t> (data, data + length),
                                m_shared->clock ? m_shared->clock() : 0 });
    return true;
}

std::unique_ptr<DatagramSender> FakeDatagramPort::openBroadcastSender (Ipv4 localAddress)
{
    {
        const std::lock_guard<std::mutex> g (m_shared->lock);
        if (m_shared->broadcastOpenFails)
            return nullptr;
    }
    return std::make_unique<FakeDatagramSender> (m_shared, localAddress);
}

bool FakeDatagramPort::resolve (const char* host, Ipv4& address)
{
    in_addr a {};
    if (::inet_pton (AF_INET, host, &a) != 1)
        return false;
    address = a.s_addr;
    return true;
}

//==============================================================================
bool FakeNetRowSource::readAddressTable (std::vector<IpAddrRow>& out)
{
    const std::lock_guard<std::mutex> g (lock);
    ++queries;
    if (addressTableFails)
        return false;
    out = addresses;
    return true;
}

AdapterListResult FakeNetRowSource::readAdapters (std::vector<AdapterRow>& out)
{
    const std::lock_guard<std::mutex> g (lock);
    ++queries;
    if (adapterResult == AdapterListResult::ok)
        out = adapters;
    return adapterResult;
}

bool FakeNetRowSource::readInterfaceTable (std::vector<IfRow>& out)
{
    const std::lock_guard<std::mutex> g (lock);
    ++queries;
    if (interfaceTableFails)
        return false;
    out = interfaces;
    return true;
}

bool FakeNetRowSource::readRouteTable (std::vector<RouteRow>& out)
{
    const std::lock_guard<std::mutex> g (lock);
    ++queries;
    if (routeTableFails)
        return false;
    out = routes;
    return true;
}

bool FakeNetRowSource::deleteRoute (const RouteRow& row)
{
    const std::lock_guard<std::mutex> g (lock);
    deletedRoutes.push_back (row);
    if (deletionsFail)
        return false;
    for (auto it = routes.begin(); it != routes.end(); ++it)
        if (it->destination == row.destination && it->netmask == row.netmask && it->nextHop == row.nextHop
            && it->ifIndex == row.ifIndex)
        {
            routes.erase (it);
            return true;
        }
    return false;
}

bool FakeNetRowSource::readUdpTable (std::vector<UdpRow>& out)
{
    const std::lock_guard<std::mutex> g (lock);
    ++queries;
    if (udpTableFails)
        return false;
    out = udpRows;
    return true;
}

WlanResult FakeNetRowSource::readWlanInterfaces (std::vector<WlanInterfaceRow>& out)
{
    const std::lock_guard<std::mutex> g (lock);
    ++queries;
    if (wlanResult == WlanResult::ok)
        out = wlan;
    return wlanResult;
}

bool FakeNetRowSource::getOsMajorVersion (int& major)
{
    const std::lock_guard<std::mutex> g (lock);
    if (osVersionFails)
        return false;
    major = osMajorVersion;
    return true;
}

void FakeNetRowSource::addWiredInterface (uint32_t ifIndex, Ipv4 address, Ipv4 netmask, std::array<uint8_t, 6> mac,
                                          const std::string& name)
{
    const std::lock_guard<std::mutex> g (lock);
    addresses.push_back ({ address, ifIndex, netmask });
    adapters.push_back ({ ifIndex, kIfTypeEthernet, mac, 6, name });
    interfaces.push_back ({ ifIndex, kIfOperStatusOperational });
    udpRows.push_back ({ address });
}

void FakeNetRowSource::addWirelessInterface (uint32_t ifIndex, Ipv4 address, Ipv4 netmask, std::array<uint8_t, 6> mac,
                                             const std::string& ssid, std::array<uint8_t, 6> bssid,
                                             const std::string& name)
{
    const std::lock_guard<std::mutex> g (lock);
    addresses.push_back ({ address, ifIndex, netmask });
    adapters.push_back ({ ifIndex, kIfTypeIeee80211, mac, 6, name });
    interfaces.push_back ({ ifIndex, kIfOperStatusOperational });
    udpRows.push_back ({ address });
    wlan.push_back ({ name, true, ssid, bssid });
}

void FakeNetRowSource::setOperational (uint32_t ifIndex, bool operational)
{
    const std::lock_guard<std::mutex> g (lock);
    for (auto& row : interfaces)
        if (row.ifIndex == ifIndex)
            row.operStatus = operational ? kIfOperStatusOperational : 2;
}

//==============================================================================
bool FakePipeEndpoint::create (const std::string& name)
{
    const std::lock_guard<std::mutex> g (m_hub->lock);
    if (! m_hub->names.insert (name).second)
        return false;
    m_name = name;
    return true;
}

int FakePipeEndpoint::read (uint8_t*, size_t)
{
    std::unique_lock<std::mutex> l (m_lock);
    m_closedSignal.wait (l, [this] { return m_closed; });
    return -1;
}

bool FakePipeEndpoint::write (const uint8_t* data, size_t size, int, int)
{
    const std::lock_guard<std::mutex> g (m_hub->lock);
    if (m_hub->writesFail || m_name.empty())
        return false;
    m_hub->written.emplace_back (m_name, std::vector<uint8_t> (data, data + size));
    return true;
}

void FakePipeEndpoint::close()
{
    {
        const std::lock_guard<std::mutex> g (m_lock);
        if (m_closed)
            return;
        m_closed = true;
    }
    m_closedSignal.notify_all();
    const std::lock_guard<std::mutex> g (m_hub->lock);
    if (! m_name.empty())
        m_hub->names.erase (m_name);
}

//==============================================================================
FakePlatform::FakePlatform()
{
    // The process id keeps test processes that ctest runs side by side out of each other's folders:
    // getNonexistentChildFile alone lets two of them pick the same name at the same moment.
    appData = juce::File::getSpecialLocation (juce::File::tempDirectory)
                  .getNonexistentChildFile ("lyrlink-test-" + juce::String (processId()), "");
    appData.createDirectory();
}

FakePlatform::~FakePlatform() { appData.deleteRecursively(); }

std::unique_ptr<DatagramPort> FakePlatform::createDatagramPort()
{
    if (makeDatagramPort)
        return makeDatagramPort();
    return std::make_unique<FakeDatagramPort> (udp);
}

std::unique_ptr<StreamListener> FakePlatform::createStreamListener() { return std::make_unique<FakeStreamListener> (tcp); }

std::unique_ptr<PipeEndpoint> FakePlatform::createPipeEndpoint()
{
    if (makePipeEndpoint)
        return makePipeEndpoint();
    return std::make_unique<FakePipeEndpoint> (pipes);
}

bool FakePlatform::isProcessRunning (uint32_t pid)
{
    ++processLookups;
    return runningProcesses.count (pid) != 0;
}

} // namespace lyrlink::test
