#include "app/MainComponent.h"

namespace lyrlink
{

void MainComponent::removeRecord (int id)
{
    auto& entry = m_peers[static_cast<size_t> (id - 1)];
    if (entry.state != DEVICE_PRESENT)
        return;
    entry.state = DEVICE_REMOVED;
    --m_linkStatus.devcount;
    notifyMessage (id, KIND_DEVICE_CHANGED);
}

void MainComponent::deletePeer (int id)
{
    const juce::ScopedLock sl (m_linkLock);
    if (! isDeviceId (id))
        return;
    const bool wasPresent = m_peers[static_cast<size_t> (id - 1)].state == DEVICE_PRESENT;
    removeRecord (id);
    // An all-in-one unit occupies id and id + 1.
    if (wasPresent && (id == 9 || id == 11))
        removeRecord (id + 1);
}

void MainComponent::deleteAllPeers()
{
    const juce::ScopedLock sl (m_linkLock);
    for (int id = 1; id <= kMaxDeviceId; ++id)
        removeRecord (id);
}

} // namespace lyrlink

namespace lyrlink
{

void MainComponent::readConfigNotify (ByteView, ByteView) {}
void MainComponent::readDiscoveryRequest (ByteView) {}
void MainComponent::timerFuncAging (int) {}
void MainComponent::writeRecord (int, ByteView, int, bool) {}

} // namespace lyrlink
