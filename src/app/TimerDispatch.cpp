#include "app/MainComponent.h"

namespace lyrlink
{

void MainComponent::timerDispatch (uint32_t) {}
void MainComponent::timerFuncKeepAlive() {}
void MainComponent::stopLinkTimers() {}

} // namespace lyrlink
