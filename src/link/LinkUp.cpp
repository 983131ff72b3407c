#include "app/MainComponent.h"

namespace lyrlink
{

void MainComponent::resetLinkState()
{
    const juce::ScopedLock sl (m_linkLock);
    m_timings = LinkTimings {};
    std::memset (&m_linkStatus, 0, sizeof (m_linkStatus));
    std::memset (m_peers.data(), 0, sizeof (m_peers));
    m_linkStatus.state = STATE_IDLE;
    m_linkStatus.type = kOwnDeviceType;
    m_linkStatus.id = 17;
    m_linkStatus.reqid = 17;
    m_linkStatus.linkif = LINKIF_UNKNOWN;
    writeHeaderTemplate (m_sendBuffer);
}

} // namespace lyrlink

namespace lyrlink
{

bool MainComponent::linkUpFunc (ByteView) { return false; }
void MainComponent::timerFuncDiscoveryResponse() {}
void MainComponent::timerFuncIdResponse() {}
void MainComponent::timerFuncIdRestart() {}
void MainComponent::timerFuncIdRestartLong() {}
void MainComponent::timerFuncCompatiResponse() {}
void MainComponent::readIdUseResponse (ByteView) {}
void MainComponent::readIdSetResponse (ByteView) {}
void MainComponent::readIdUseRequestFromBlk (ByteView) {}
void MainComponent::readTimeServerRequest (ByteView) {}
void MainComponent::readReject() {}
void MainComponent::readResetNotify() {}
void MainComponent::completeIdUse() {}
void MainComponent::takeLongBackOff() {}
void MainComponent::handleIdDuplication (bool, Ipv4) {}

} // namespace lyrlink
