#include "e2e/E2eScenario.h"

#include "client/LinkFormat.h"
#include "link/FrameFormat.h"
#include "support/TestFrames.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace lyrlink::e2e
{

using client::Status;

std::string ipText (const uint8_t* ip)
{
    return std::to_string (ip[0]) + "." + std::to_string (ip[1]) + "." + std::to_string (ip[2]) + "." + std::to_string (ip[3]);
}

std::string uniqueName (const std::string& what) { return "lyr-" + what + "-" + std::to_string (::getpid()); }

LoopbackNamespace::LoopbackNamespace (const std::string& what) : name (uniqueName (what))
{
    sh ("ip netns del " + name + " 2>/dev/null");
    ready = sh ("ip netns add " + name + " && ip -n " + name + " link set lo up") == 0;
}

LoopbackNamespace::~LoopbackNamespace() { sh ("ip netns del " + name + " 2>/dev/null"); }

//==============================================================================
Manager::Manager (const std::string& netns)
{
    m_process = Process::start ({ builtProgram ("LyrLinkSysMgr") }, netns,
                                { "HOME=" + m_home.path(), "DISPLAY=", "XDG_CONFIG_HOME=" }, m_home.path() + "/stdout.txt");
}

std::vector<std::string> Manager::log() const { return managerLogLines (m_home.path()); }

bool Manager::hasLog (const std::string& line) const { return countLog (line) > 0; }

size_t Manager::countLog (const std::string& line) const
{
    const auto lines = log();
    return static_cast<size_t> (std::count (lines.begin(), lines.end(), line));
}

bool Manager::waitForLog (const std::string& line, std::chrono::milliseconds timeout, size_t count) const
{
    return waitFor ([&] { return countLog (line) >= count; }, timeout);
}

std::vector<std::string> Manager::logStartingWith (const std::string& prefix) const
{
    std::vector<std::string> found;
    for (const auto& line : log())
        if (line.rfind (prefix, 0) == 0)
            found.push_back (line);
    return found;
}

std::string Manager::describe() const
{
    std::string s = "--- manager log ---\n";
    for (const auto& line : log())
        s += line + "\n";
    const auto out = readFile (m_home.path() + "/stdout.txt");
    if (! out.empty())
        s += "--- manager output ---\n" + out;
    return s;
}

//==============================================================================
LinkStatus Received::linkStatus() const { return recordOf<LinkStatus> (msg); }

DeviceEntry Received::device() const { return recordOf<DeviceEntry> (msg); }

bool Received::isLinkStatusChanged (uint8_t state) const
{
    return fields.kind == KIND_LINK_STATUS_CHANGED && fields.id != 0 && linkStatus().state == state;
}

bool Received::isDeviceChanged (int id, uint8_t state) const
{
    return fields.kind == KIND_DEVICE_CHANGED && fields.id == id && device().state == state;
}

//==============================================================================
TestClient::TestClient (std::string netns, uint32_t pid)
    : m_netns (std::move (netns)), m_pid (pid), m_requests (client::ClientOptions { {}, 5000 })
{
}

TestClient::~TestClient() { stopReader(); }

Status TestClient::connect (bool startSuspended)
{
    Status s = Status::ioError;
    runInNetns (m_netns, [&] {
        ProcMsg reply;
        s = m_requests.request (makeProcMsg (KIND_PROCESS_CONNECT, m_pid, 0, startSuspended ? 1u : 0u), reply);
        if (s != Status::ok)
            return;
        s = m_own.open (client::clientPipeName (m_pid), 5000);
        if (s == Status::ok)
            s = m_own.send (makeProcMsg (KIND_LINK_PERMIT, m_pid, 0, 0), 5000);
    });
    if (s == Status::ok)
        startReader();
    return s;
}

Status TestClient::disconnect()
{
    stopReader();
    if (! m_own.isOpen())
        return Status::closed;
    const auto s = m_own.send (makeProcMsg (KIND_PROCESS_DISCONNECT, m_pid, 0, 0), 5000);
    m_own.close();
    return s;
}

void TestClient::abandon()
{
    stopReader();
    m_own.close();
}

Status TestClient::sendOwn (const ProcMsg& msg) { return m_own.send (msg, 5000); }

Status TestClient::sendOwnRaw (const Bytes& bytes) { return m_own.sendRaw (bytes.data(), bytes.size(), 5000); }

Status TestClient::getLinkStatus (LinkStatus& status)
{
    Status s = Status::ioError;
    runInNetns (m_netns, [&] { s = m_requests.getLinkStatus (status); });
    return s;
}

Status TestClient::getDevice (int id, DeviceEntry& entry)
{
    Status s = Status::ioError;
    runInNetns (m_netns, [&] { s = m_requests.getDevice (id, entry); });
    return s;
}

Status TestClient::getDeviceList (PeerTable& table)
{
    Status s = Status::ioError;
    runInNetns (m_netns, [&] { s = m_requests.getDeviceList (table); });
    return s;
}

Status TestClient::suspend()
{
    Status s = Status::ioError;
    runInNetns (m_netns, [&] { s = m_requests.suspend(); });
    return s;
}

Status TestClient::resume()
{
    Status s = Status::ioError;
    runInNetns (m_netns, [&] { s = m_requests.resume(); });
    return s;
}

Status TestClient::sendRaw (const std::string& pipeName, const Bytes& bytes, int replyWaitMs, ProcMsg* reply)
{
    Status s = Status::ioError;
    runInNetns (m_netns, [&] {
        client::PipeClient pipe;
        s = pipe.open (pipeName, 5000);
        if (s != Status::ok)
            return;
        s = pipe.sendRaw (bytes.data(), bytes.size(), 5000);
        if (s != Status::ok || replyWaitMs <= 0)
            return;
        ProcMsg msg;
        s = pipe.receive (msg, replyWaitMs);
        if (s == Status::ok && reply != nullptr)
            *reply = msg;
    });
    return s;
}

void TestClient::startReader()
{
    m_stop = false;
    m_reader = std::thread ([this] {
        while (! m_stop)
        {
            ProcMsg msg;
            const auto s = m_own.receive (msg, 50);
            if (s == Status::timeout)
                continue;
            if (s != Status::ok)
                break;
            const std::lock_guard<std::mutex> g (m_lock);
            m_received.push_back ({ Clock::now(), decodeProcMsg (msg), msg });
        }
    });
}

void TestClient::stopReader()
{
    m_stop = true;
    if (m_reader.joinable())
        m_reader.join();
}

std::vector<Received> TestClient::received() const
{
    const std::lock_guard<std::mutex> g (m_lock);
    return m_received;
}

size_t TestClient::receivedCount() const
{
    const std::lock_guard<std::mutex> g (m_lock);
    return m_received.size();
}

int TestClient::waitFor (const std::function<bool (const Received&)>& predicate, std::chrono::milliseconds timeout,
                         size_t from) const
{
    int found = -1;
    e2e::waitFor (
        [&] {
            const std::lock_guard<std::mutex> g (m_lock);
            for (size_t i = from; i < m_received.size(); ++i)
                if (predicate (m_received[i]))
                {
                    found = static_cast<int> (i);
                    return true;
                }
            return false;
        },
        timeout);
    return found;
}

std::string TestClient::describe() const
{
    std::string s = "--- client " + std::to_string (m_pid) + " received ---\n";
    for (const auto& r : received())
        s += client::formatNotificationJson ({}, r.msg) + "\n";
    return s;
}

//==============================================================================
std::string SimLine::get (const std::string& key) const
{
    const auto it = fields.find (key);
    return it != fields.end() ? it->second : std::string();
}

long long SimLine::number (const std::string& key, long long fallback) const
{
    const auto text = get (key);
    if (text.empty())
        return fallback;
    char* end = nullptr;
    const auto v = std::strtoll (text.c_str(), &end, 0);
    return end != nullptr && *end == 0 ? v : fallback;
}

bool parseSimLine (const std::string& text, SimLine& line)
{
    line.fields.clear();
    const auto object = nlohmann::json::parse (text, nullptr, false);
    if (! object.is_object())
        return false;
    for (const auto& [key, value] : object.items())
    {
        if (! value.is_string())
        {
            line.fields[key] = value.dump();
            continue;
        }
        // The simulator writes each raw byte as the code point of the same value: back to bytes.
        const auto& utf8 = value.get_ref<const std::string&>();
        std::string bytes;
        for (size_t i = 0; i < utf8.size(); ++i)
        {
            const auto c = static_cast<unsigned char> (utf8[i]);
            if (c >= 0x80 && i + 1 < utf8.size())
                bytes += static_cast<char> (((c & 0x03) << 6) | (static_cast<unsigned char> (utf8[++i]) & 0x3f));
            else
                bytes += static_cast<char> (c);
        }
        line.fields[key] = bytes;
    }
    return true;
}

Simulator::Simulator (const std::string& netns, const std::vector<std::string>& args)
{
    std::vector<std::string> argv { builtProgram ("tools/lyrlinksim/lyrlinksim"), "--json", "--verbose" };
    argv.insert (argv.end(), args.begin(), args.end());
    m_startedAt = Clock::now();
    m_process = Process::start (argv, netns, {}, m_folder.path() + "/output.txt", true);
}

bool Simulator::command (const std::string& event) { return m_process.writeInput (event + "\n"); }

std::vector<SimLine> Simulator::lines() const
{
    std::vector<SimLine> result;
    std::istringstream in (output());
    std::string text;
    while (std::getline (in, text))
    {
        SimLine line;
        if (parseSimLine (text, line))
            result.push_back (std::move (line));
    }
    return result;
}

int Simulator::waitFor (const std::function<bool (const SimLine&)>& predicate, std::chrono::milliseconds timeout,
                        size_t from) const
{
    int found = -1;
    e2e::waitFor (
        [&] {
            const auto all = lines();
            for (size_t i = from; i < all.size(); ++i)
                if (predicate (all[i]))
                {
                    found = static_cast<int> (i);
                    return true;
                }
            return false;
        },
        timeout);
    return found;
}

std::vector<SimLine> Simulator::received (const std::string& name, const std::string& source) const
{
    std::vector<SimLine> found;
    for (auto& line : lines())
        if (line.isRx (name) && line.get ("src") == source)
            found.push_back (std::move (line));
    return found;
}

int Simulator::waitForReceived (const std::string& name, const std::string& source, std::chrono::milliseconds timeout,
                                size_t from) const
{
    return waitFor ([&] (const SimLine& l) { return l.isRx (name) && l.get ("src") == source; }, timeout, from);
}

std::string Simulator::output() const { return readFile (m_folder.path() + "/output.txt"); }

//==============================================================================
Bytes makeFrame (uint8_t type, uint8_t subType, const Bytes& body, const std::string& model, uint8_t minor,
                 uint8_t hdrclass)
{
    auto f = test::FrameBuilder::header (type, subType, kFrameHeaderSize + body.size(), model, minor, hdrclass);
    std::copy (body.begin(), body.end(), f.begin() + kFrameHeaderSize);
    return f;
}

Bytes configNotifyBody (uint8_t id, uint8_t deviceType, const std::array<uint8_t, 4>& ip,
                        const std::array<uint8_t, 6>& mac)
{
    Bytes b (ConfigNotifyBody::size, 0);
    putBodyByte<ConfigNotifyBody::id> (b.data(), id);
    putBodyByte<ConfigNotifyBody::idClaimed> (b.data(), 1);
    putBodyBytes<ConfigNotifyBody::mac> (b.data(), mac);
    putBodyBytes<ConfigNotifyBody::ip> (b.data(), ip);
    putBodyByte<ConfigNotifyBody::devcount> (b.data(), 1);
    putBodyByte<ConfigNotifyBody::type> (b.data(), deviceType);
    return b;
}

std::string toHex (const Bytes& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (const auto b : bytes)
    {
        s.push_back (digits[b >> 4]);
        s.push_back (digits[b & 15]);
    }
    return s;
}

Bytes resized (Bytes bytes, size_t size)
{
    bytes.resize (size, 0);
    return bytes;
}

bool sendDatagram (const std::string& netns, const std::string& from, const std::string& to, uint16_t port,
                   const Bytes& bytes)
{
    bool sent = false;
    runInNetns (netns, [&] {
        const int fd = ::socket (AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return;
        sockaddr_in local {}, remote {};
        local.sin_family = remote.sin_family = AF_INET;
        remote.sin_port = htons (port);
        ::inet_pton (AF_INET, from.c_str(), &local.sin_addr);
        ::inet_pton (AF_INET, to.c_str(), &remote.sin_addr);
        sent = ::bind (fd, reinterpret_cast<const sockaddr*> (&local), sizeof (local)) == 0
            && ::sendto (fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*> (&remote), sizeof (remote))
                   == static_cast<ssize_t> (bytes.size());
        ::close (fd);
    });
    return sent;
}

TcpConnection::TcpConnection (const std::string& netns, const std::string& address, uint16_t port)
{
    runInNetns (netns, [&] {
        const int fd = ::socket (AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa {};
        sa.sin_family = AF_INET;
        sa.sin_port = htons (port);
        ::inet_pton (AF_INET, address.c_str(), &sa.sin_addr);
        // Each send goes out at once, so that the manager reads it on its own.
        const int one = 1;
        if (fd >= 0)
            ::setsockopt (fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof (one));
        if (fd >= 0 && ::connect (fd, reinterpret_cast<const sockaddr*> (&sa), sizeof (sa)) == 0)
            m_fd = fd;
        else if (fd >= 0)
            ::close (fd);
    });
}

TcpConnection::~TcpConnection() { close(); }

bool TcpConnection::send (const Bytes& bytes)
{
    return m_fd >= 0 && ::send (m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t> (bytes.size());
}

int TcpConnection::receiveNow (uint8_t* buffer, size_t size)
{
    if (m_fd < 0)
        return -1;
    const auto n = ::recv (m_fd, buffer, size, MSG_DONTWAIT);
    return n < 0 ? -1 : static_cast<int> (n);
}

void TcpConnection::close()
{
    if (m_fd >= 0)
        ::close (m_fd);
    m_fd = -1;
}

//==============================================================================
E2eScenario::E2eScenario (const std::string& name, const std::string& managerCidr, const std::string& equipmentCidr)
    : net (uniqueName (name), managerCidr, equipmentCidr)
{
    m_prefixLength = equipmentCidr.substr (equipmentCidr.find ('/'));
    if (! net.isReady())
    {
        m_problem = "the veth network could not be made";
        return;
    }
    manager = std::make_unique<Manager> (net.managerNs());
    if (! manager->waitForLog ("MainComponent::MainComponent OK IPC PIPE Create", kStepTimeout))
    {
        m_problem = "the manager did not start\n" + manager->describe();
        return;
    }
    client = std::make_unique<TestClient> (net.managerNs(), static_cast<uint32_t> (::getpid()));
    if (const auto s = client->connect(); s != client::Status::ok)
        m_problem = std::string ("the client could not connect: ") + client::describe (s) + "\n" + manager->describe();
}

bool E2eScenario::startSimulator (const std::vector<std::string>& devices, const std::vector<std::string>& extraArgs)
{
    std::vector<std::string> args;
    for (const auto& d : devices)
    {
        const auto at = d.find ("ip=");
        if (at != std::string::npos)
        {
            const auto ip = d.substr (at + 3, d.find (',', at) - at - 3);
            // One address may serve several tests of one network; adding it twice is harmless.
            net.ipInEquipment ("addr add " + ip + m_prefixLength + " dev lyre0 2>/dev/null");
        }
        args.push_back ("--device");
        args.push_back (d);
    }
    if (m_prefixLength != "/24")
    {
        args.push_back ("--netmask");
        args.push_back (m_prefixLength);
    }
    args.insert (args.end(), extraArgs.begin(), extraArgs.end());
    sim = std::make_unique<Simulator> (net.equipmentNs(), args);
    return sim->waitFor ([] (const SimLine& l) { return l.get ("dir") == "info"; }, kStepTimeout) >= 0;
}

int E2eScenario::waitForLinkState (uint8_t state, int id, std::chrono::milliseconds timeout, size_t from) const
{
    return client->waitFor (
        [&] (const Received& r) { return r.isLinkStatusChanged (state) && (id == 0 || r.linkStatus().id == id); },
        timeout, from);
}

std::string E2eScenario::describe() const
{
    std::string s;
    if (manager != nullptr)
        s += manager->describe();
    if (client != nullptr)
        s += client->describe();
    if (sim != nullptr)
        s += "--- simulator ---\n" + sim->output();
    return s;
}

} // namespace lyrlink::e2e
