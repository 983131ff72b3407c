#include "app/MainComponent.h"

namespace lyrlink
{

void MainComponent::createMasterPipe() {}
bool MainComponent::createPipe (uint32_t) { return false; }
bool MainComponent::removePipe (uint32_t) { return false; }
int MainComponent::findPipeIndex (const LyrLinkIPCServer*) { return -1; }

} // namespace lyrlink
