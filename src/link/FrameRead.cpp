#include "app/MainComponent.h"

namespace lyrlink
{

void MainComponent::frameRead (const uint8_t* sourceAddress, const juce::MemoryBlock& data)
{
    frameRead (sourceAddress, ByteView (data.getData(), data.getSize()));
}

void MainComponent::frameRead (const uint8_t*, ByteView) {}

} // namespace lyrlink
