#include "transport/LyrLinkUDP.h"

#include "link/FrameFormat.h"

#include <algorithm>

namespace lyrlink
{

LyrLinkUDP::LyrLinkUDP (std::unique_ptr<DatagramPort> port)
    : juce::Thread ("LyrLinkUDP Thread"), m_socket (std::move (port))
{
}

LyrLinkUDP::~LyrLinkUDP() { close(); }

void LyrLinkUDP::close()
{
    if (m_isOpen)
    {
        m_port = 0;
        m_isOpen = false;
        stopThread (kStopWaitMs);
    }
    if (m_socket != nullptr)
        m_socket->close();
    m_port = 0;
}

bool LyrLinkUDP::bindPort (uint16_t port)
{
    if (m_socket == nullptr || ! m_socket->isValid())
        return false;
    return m_socket->bindAny (port);
}

void LyrLinkUDP::open (int port)
{
    m_port = port;
    m_isOpen = true;
    startThread();
}

int LyrLinkUDP::sendBroadcast (Ipv4 localAddr, Ipv4 netmask, const void* data, int length)
{
    if (data == nullptr || m_socket == nullptr)
        return -1;
    auto sender = m_socket->openBroadcastSender (localAddr);
    if (sender == nullptr)
        return -1;

    const Ipv4 destination = static_cast<Ipv4> (~netmask) | localAddr;
    const auto* bytes = static_cast<const uint8_t*> (data);
    for (int offset = 0; offset < length;)
    {
        const int chunk = std::min (length - offset, static_cast<int> (kMaxDatagramSize));
        if (! sender->send (destination, kEquipmentPort, bytes + offset, static_cast<size_t> (chunk)))
            return -1;
        offset += chunk;
    }
    return 0;
}

int LyrLinkUDP::sendTo (const char* host, const void* data, int length)
{
    if (length < 1 || data == nullptr || host == nullptr || m_socket == nullptr)
        return -1;

    Ipv4 destination = 0;
    if (! m_socket->resolve (host, destination))
        return 0;  // nothing to send to; only a failed send counts as failure

    const auto* bytes = static_cast<const uint8_t*> (data);
    for (int offset = 0; offset < length;)
    {
        const int chunk = std::min (length - offset, static_cast<int> (kMaxDatagramSize));
        if (! m_socket->sendTo (destination, kEquipmentPort, bytes + offset, static_cast<size_t> (chunk)))
            return -1;
        offset += chunk;
    }
    return 0;
}

bool LyrLinkUDP::receiveOnce()
{
    Ipv4 source = 0;
    const int result = m_socket->receive (m_receiveBuffer, sizeof (m_receiveBuffer), source);

    if (result >= 1)
        m_srcAddr = source;

    if (! m_isOpen)
        return false;

    // A time-out, an error and an empty datagram are all "nothing received".
    if (result < 1)
        return m_socket->isValid();

    // A datagram that did not fit is dropped whole, never delivered truncated.
    if (static_cast<size_t> (result) > sizeof (m_receiveBuffer))
        return true;

    uint8_t sourceOctets[4];
    ipv4ToOctets (m_srcAddr.load(), sourceOctets);
    dataReceived (sourceOctets, ByteView (m_receiveBuffer, static_cast<size_t> (result)));
    return true;
}

void LyrLinkUDP::run()
{
    m_socket->setReceiveTimeout (kReceiveTimeoutMs);
    while (! threadShouldExit())
        if (! receiveOnce())
            break;
}

} // namespace lyrlink
