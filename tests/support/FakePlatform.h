// Fakes of every operating-system piece, so MainComponent runs in a test without sockets, network
// tables, pipes or processes of the machine. Each fake records what the manager did with it.
#pragma once

#include "app/LinkPlatform.h"
#include "link/FrameFormat.h"
#include "support/FakeStream.h"
#include "support/VirtualScheduler.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace lyrlink::test
{

/** One datagram that left the manager. */
struct SentDatagram
{
    bool broadcast = false;   // through a short-lived sender (directed broadcast)
    Ipv4 localAddress = 0;    // the sender's bound address (broadcasts only)
    Ipv4 destination = 0;
    uint16_t port = 0;
    std::vector<uint8_t> bytes;
    int64_t atMs = 0;         // virtual time when it was sent (see FakeDatagramPort::clock)
};

class FakeDatagramPort final : public DatagramPort
{
public:
    struct Shared
    {
        std::mutex lock;
        std::condition_variable arrived;
        std::vector<SentDatagram> sent;
        std::deque<std::pair<Ipv4, std::vector<uint8_t>>> incoming;
        bool bindSucceeds = true;
        bool sendsFail = false;
        bool broadcastOpenFails = false;
        std::function<int64_t()> clock;
        // When set, only receives made on this thread get datagrams: a test delivers a datagram
        // and runs the endpoint's receiveOnce itself, while the endpoint's own thread idles.
        std::thread::id receivingThread;
    };

    explicit FakeDatagramPort (std::shared_ptr<Shared> shared) : m_shared (std::move (shared)) {}

    bool isValid() const override { return m_valid; }
    bool bindAny (uint16_t) override { return m_shared->bindSucceeds; }
    uint16_t getBoundPort() const override { return 50000; }
    void setReceiveTimeout (int milliseconds) override { m_timeoutMs = milliseconds; }
    int receive (uint8_t* buffer, size_t capacity, Ipv4& source) override;
    bool sendTo (Ipv4 destination, uint16_t port, const uint8_t* data, size_t length) override;
    std::unique_ptr<DatagramSender> openBroadcastSender (Ipv4 localAddress) override;
    bool resolve (const char* host, Ipv4& address) override;
    void close() override;

    /** Queues a datagram for receive() (what the real socket would get from the network). */
    static void deliver (Shared& shared, Ipv4 source, std::vector<uint8_t> bytes);

private:
    std::shared_ptr<Shared> m_shared;
    std::atomic<bool> m_valid { true };
    std::atomic<int> m_timeoutMs { 0 };
};

/** Network rows that a test writes. */
class FakeNetRowSource final : public NetRowSource
{
public:
    std::mutex lock;
    std::vector<IpAddrRow> addresses;
    bool addressTableFails = false;
    std::vector<AdapterRow> adapters;
    AdapterListResult adapterResult = AdapterListResult::ok;
    std::vector<IfRow> interfaces;
    bool interfaceTableFails = false;
    std::vector<RouteRow> routes;
    bool routeTableFails = false;
    std::vector<RouteRow> deletedRoutes;
    bool deletionsFail = false;           // deletions are recorded but nothing is removed
    std::vector<UdpRow> udpRows;
    bool udpTableFails = false;
    std::vector<WlanInterfaceRow> wlan;
    WlanResult wlanResult = WlanResult::ok;
    int osMajorVersion = 6;
    bool osVersionFails = false;
    int queries = 0;  // every read counts

    bool readAddressTable (std::vector<IpAddrRow>& rows) override;
    AdapterListResult readAdapters (std::vector<AdapterRow>& rows) override;
    bool readInterfaceTable (std::vector<IfRow>& rows) override;
    bool readRouteTable (std::vector<RouteRow>& rows) override;
    bool deleteRoute (const RouteRow& row) override;
    bool readUdpTable (std::vector<UdpRow>& rows) override;
    WlanResult readWlanInterfaces (std::vector<WlanInterfaceRow>& rows) override;
    bool getOsMajorVersion (int& major) override;

    /** A wired interface: address row, Ethernet adapter and operational interface. */
    void addWiredInterface (uint32_t ifIndex, Ipv4 address, Ipv4 netmask, std::array<uint8_t, 6> mac,
                            const std::string& name = "eth0");
    /** A wireless interface, connected to bssid with ssid. */
    void addWirelessInterface (uint32_t ifIndex, Ipv4 address, Ipv4 netmask, std::array<uint8_t, 6> mac,
                               const std::string& ssid, std::array<uint8_t, 6> bssid,
                               const std::string& name = "wlan0");
    void setOperational (uint32_t ifIndex, bool operational);
};

/** Everything that the fake pipes saw, shared by all fake endpoints of one platform. */
struct FakePipeHub
{
    std::mutex lock;
    std::set<std::string> names;                      // names currently held
    std::vector<std::pair<std::string, std::vector<uint8_t>>> written;  // pipe name, framed bytes
    bool writesFail = false;
};

class FakePipeEndpoint final : public PipeEndpoint
{
public:
    explicit FakePipeEndpoint (std::shared_ptr<FakePipeHub> hub) : m_hub (std::move (hub)) {}
    ~FakePipeEndpoint() override { close(); }

    bool create (const std::string& name) override;
    int read (uint8_t* buffer, size_t size) override;  // blocks until closed
    bool write (const uint8_t* data, size_t size, int connectWaitMs, int writeTimeoutMs) override;
    void close() override;

private:
    std::shared_ptr<FakePipeHub> m_hub;
    std::string m_name;
    std::mutex m_lock;
    std::condition_variable m_closedSignal;
    bool m_closed = false;
};

/** The C library's generator, with every seed recorded. */
class RecordingRandom final : public LinkRandom
{
public:
    void seed (unsigned value) override
    {
        {
            const std::lock_guard<std::mutex> g (m_lock);
            m_seeds.push_back (value);
        }
        LinkRandom::seed (value);
    }

    std::vector<unsigned> seeds() const
    {
        const std::lock_guard<std::mutex> g (m_lock);
        return m_seeds;
    }

private:
    mutable std::mutex m_lock;
    std::vector<unsigned> m_seeds;
};

class FakePlatform final : public LinkPlatform
{
public:
    FakePlatform();
    ~FakePlatform() override;

    std::unique_ptr<DatagramPort> createDatagramPort() override;
    std::unique_ptr<StreamListener> createStreamListener() override;
    uint16_t getUdpPort() override { return udpPort; }
    uint16_t getTcpPort() override { return tcpPort; }
    NetRowSource& getNetRowSource() override { return rows; }
    std::unique_ptr<PipeEndpoint> createPipeEndpoint() override;
    bool isProcessRunning (uint32_t pid) override;
    juce::File getAppDataFolder() override { return appData; }
    void requestQuit() override { ++quitRequests; }
    TimerObserver* getTimerObserver() override { return timerObserver; }
    LinkRandom& getRandom() override { return *randomSource; }

    /** When set, pipe endpoints come from here instead of the fake hub (real pipes, for tests of
        the client side). */
    std::function<std::unique_ptr<PipeEndpoint>()> makePipeEndpoint;
    /** When set, the UDP endpoint's socket comes from here instead of the fake (a real socket,
        for the benchmarks of the receive path). */
    std::function<std::unique_ptr<DatagramPort>()> makeDatagramPort;

    /** Virtual time for every timer made on this platform (unless timerObserver is changed). */
    VirtualScheduler scheduler;
    TimerObserver* timerObserver = &scheduler;
    RecordingRandom random;
    /** The generator the manager uses (a fuzzer puts in one that its inputs reset). */
    LinkRandom* randomSource = &random;
    std::shared_ptr<FakeDatagramPort::Shared> udp = std::make_shared<FakeDatagramPort::Shared>();
    FakeNetRowSource rows;
    std::shared_ptr<FakeStreamHub> tcp = std::make_shared<FakeStreamHub>();
    std::shared_ptr<FakePipeHub> pipes = std::make_shared<FakePipeHub>();
    std::set<uint32_t> runningProcesses;
    int processLookups = 0;
    std::atomic<int> quitRequests { 0 };
    uint16_t tcpPort = 50000;
    uint16_t udpPort = 50000;
    juce::File appData;  // a fresh folder of this platform's, deleted with it
};

} // namespace lyrlink::test
