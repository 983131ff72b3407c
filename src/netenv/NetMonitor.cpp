#include "app/MainComponent.h"

namespace lyrlink
{

void MainComponent::timerFuncNetMonitor() {}
void MainComponent::linkDown() {}

} // namespace lyrlink
