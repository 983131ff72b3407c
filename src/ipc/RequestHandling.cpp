#include "app/MainComponent.h"

namespace lyrlink
{

void MainComponent::messageAnalize (int, const juce::MemoryBlock&) {}
void MainComponent::replyMessage (const RequestFields&, int, bool) {}
void MainComponent::notifyMessage (int, int) {}
void MainComponent::suspend() {}
void MainComponent::resume() {}

} // namespace lyrlink
