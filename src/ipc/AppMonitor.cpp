#include "app/MainComponent.h"

namespace lyrlink
{

void MainComponent::timerFuncAppMonitor() {}

} // namespace lyrlink
