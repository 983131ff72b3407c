#include "support/LinkHarness.h"

#include <cstdio>

namespace lyrlink::test
{

LinkStatus PipeMessage::linkStatus() const { return recordOf<LinkStatus> (msg); }

DeviceEntry PipeMessage::device() const { return recordOf<DeviceEntry> (msg); }

//==============================================================================
LinkHarness::LinkHarness (const std::function<void (FakePlatform&)>& configure)
{
    if (configure)
        configure (platform);
    platform.udp->clock = [this] { return scheduler.now(); };
    platform.udp->receivingThread = std::this_thread::get_id();
    mc = std::make_unique<MainComponent> (platform);

    // Lines written during start-up, before the observer below was installed, come from the file.
    juce::StringArray fileLines;
    mc->getLog().getLogFile().readLines (fileLines);
    for (const auto& line : fileLines)
    {
        const int split = line.indexOf ("  ");
        if (split > 0 && ! line.startsWith ("Log started: "))
            m_log.push_back ({ 0, line.substring (split + 2).toStdString() });
    }
    // Virtual milliseconds on top of a fixed day, so time stamps are stable too.
    const juce::Time day (2026, 11, 10, 12, 0, 0, 0, true);
    mc->getLog().setClock ([this, day] {
        return day + juce::RelativeTime::milliseconds (static_cast<juce::int64> (scheduler.now()));
    });
    mc->getLog().setObserver ([this] (const std::string& text) {
        const std::lock_guard<std::mutex> g (m_logLock);
        m_log.push_back ({ scheduler.now(), text });
    });
}

LinkHarness::~LinkHarness() { mc.reset(); }

void LinkHarness::receive (Ipv4 source, const std::vector<uint8_t>& bytes)
{
    FakeDatagramPort::deliver (*platform.udp, source, bytes);
    mc->getNetworkAccess()->receiveOnce();
}

void LinkHarness::frameRead (const std::vector<uint8_t>& bytes)
{
    const uint8_t zero[4] {};
    const juce::MemoryBlock block (bytes.data(), bytes.size());
    mc->frameRead (zero, block);
}

void LinkHarness::request (int index, int32_t kind, uint32_t pid, int32_t id, uint32_t result)
{
    const auto msg = makeProcMsg (kind, pid, id, result);
    mc->messageAnalize (index, juce::MemoryBlock (&msg, sizeof (msg)));
}

void LinkHarness::connectClient (uint32_t pid, bool startSuspended)
{
    request (0, KIND_PROCESS_CONNECT, pid, 0, startSuspended ? 1u : 0u);
    const int index = mc->getConnections().size() - 1;
    request (index, KIND_LINK_PERMIT, pid);
}

std::vector<SentDatagram> LinkHarness::sent() const
{
    const std::lock_guard<std::mutex> g (platform.udp->lock);
    return platform.udp->sent;
}

void LinkHarness::clearSent()
{
    const std::lock_guard<std::mutex> g (platform.udp->lock);
    platform.udp->sent.clear();
}

std::vector<PipeMessage> LinkHarness::pipeMessages() const
{
    std::vector<PipeMessage> result;
    const std::lock_guard<std::mutex> g (platform.pipes->lock);
    for (const auto& [name, bytes] : platform.pipes->written)
    {
        PipeMessage m;
        m.pipe = name;
        std::memset (&m.msg, 0, sizeof (m.msg));
        if (bytes.size() > kPipeHeaderSize)
            std::memcpy (&m.msg, bytes.data() + kPipeHeaderSize, std::min (sizeof (ProcMsg), bytes.size() - kPipeHeaderSize));
        result.push_back (m);
    }
    return result;
}

std::vector<PipeMessage> LinkHarness::notifications() const
{
    std::vector<PipeMessage> result;
    for (auto& m : pipeMessages())
        if (m.pipe != kPipeBaseName)
            result.push_back (m);
    return result;
}

void LinkHarness::clearPipeMessages()
{
    const std::lock_guard<std::mutex> g (platform.pipes->lock);
    platform.pipes->written.clear();
}

std::vector<uint32_t> LinkHarness::listedPids() const
{
    std::vector<uint32_t> pids;
    for (int i = 0; i < mc->getConnections().size(); ++i)
        if (auto c = mc->getConnections().get (i))
            pids.push_back (c->pid);
    return pids;
}

std::vector<LogLine> LinkHarness::log() const
{
    const std::lock_guard<std::mutex> g (m_logLock);
    return m_log;
}

std::vector<std::string> LinkHarness::logTexts() const
{
    std::vector<std::string> result;
    for (auto& l : log())
        result.push_back (l.text);
    return result;
}

bool LinkHarness::logged (const std::string& text) const
{
    for (auto& l : log())
        if (l.text == text)
            return true;
    return false;
}

void LinkHarness::clearLog()
{
    const std::lock_guard<std::mutex> g (m_logLock);
    m_log.clear();
}

std::string hex (const std::vector<uint8_t>& bytes)
{
    std::string s;
    char b[4];
    for (size_t i = 0; i < bytes.size(); ++i)
    {
        std::snprintf (b, sizeof (b), i == 0 ? "%02X" : " %02X", bytes[i]);
        s += b;
    }
    return s;
}

} // namespace lyrlink::test
