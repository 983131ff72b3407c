#include "transport/LyrLinkTCPServer.h"

namespace lyrlink
{

LyrLinkTCPServer::LyrLinkTCPServer (std::unique_ptr<StreamListener> listener, uint16_t port)
    : juce::Thread ("LyrLinkTCPServer Thread"), m_socket (std::move (listener)), m_port (port)
{
}

LyrLinkTCPServer::~LyrLinkTCPServer() { closeServer(); }

bool LyrLinkTCPServer::openServer()
{
    if (m_isListening || isThreadRunning())
        return false;  // opened once; there is no reopening

    // Listening before the thread starts means a client can connect as soon as this returns.
    if (m_socket == nullptr || ! m_socket->open (m_port, kBacklog))
        return false;
    m_boundPort = m_socket->getBoundPort();

    m_isListening = true;
    m_isOpen = true;
    if (! startThread())
    {
        m_isOpen = false;
        m_isListening = false;
        m_socket->close();
        return false;
    }
    return true;
}

void LyrLinkTCPServer::run()
{
    while (! threadShouldExit())
    {
        if (! m_isListening)
            break;

        const auto waited = m_socket->waitForConnection (kPollMs);
        if (threadShouldExit())
            break;
        if (waited == StreamListener::WaitResult::idle)
            continue;
        if (waited == StreamListener::WaitResult::broken)
        {
            // An error state of the listening socket would make the wait return at once; pace
            // the loop so it still checks for exit without spinning.
            wait (kPollMs);
            continue;
        }

        auto accepted = m_socket->accept();
        if (accepted == nullptr)
            continue;

        StreamConnection* connection = nullptr;
        {
            const std::lock_guard<std::mutex> g (m_clientLock);
            if (threadShouldExit())
                break;  // the connection closes as it goes out of scope
            m_clientSocket = std::move (accepted);
            connection = m_clientSocket.get();
        }
        serveConnection (*connection);
        closeClient();
    }
}

void LyrLinkTCPServer::serveConnection (StreamConnection& connection)
{
    uint8_t buffer[kReadSize];
    for (;;)
    {
        const int received = connection.read (buffer, sizeof (buffer));
        if (received <= 0 || threadShouldExit())
            return;

        const juce::MemoryBlock block (buffer, static_cast<size_t> (received));
        dataReceived (m_srcAddr, block);
    }
}

void LyrLinkTCPServer::closeClient()
{
    const std::lock_guard<std::mutex> g (m_clientLock);
    m_clientSocket.reset();
}

void LyrLinkTCPServer::closeServer()
{
    m_isOpen = false;
    signalThreadShouldExit();

    // Shutting the sockets down wakes a wait or a read that is blocked on them; the handles stay
    // valid until the thread has ended, so the thread never touches a closed or reused one.
    if (m_isListening)
        m_socket->shutdown();
    {
        const std::lock_guard<std::mutex> g (m_clientLock);
        if (m_clientSocket != nullptr)
            m_clientSocket->shutdown();
    }

    stopThread (kStopWaitMs);

    closeClient();
    if (m_isListening.exchange (false))
        m_socket->close();
}

} // namespace lyrlink
