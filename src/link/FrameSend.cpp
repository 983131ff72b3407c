#include "app/MainComponent.h"

namespace lyrlink
{

void MainComponent::frameSendDiscoveryRequest() {}
void MainComponent::frameSendIdUseRequest (uint8_t) {}
void MainComponent::frameSendIdSetRequest() {}
void MainComponent::frameSendIdUseResponse (ByteView) {}
void MainComponent::frameSendIdUseResponseFromBlk (ByteView) {}
void MainComponent::frameSendConfigNotify() {}
void MainComponent::frameSendDisconnect() {}
void MainComponent::frameSendCompatiRequest() {}
int MainComponent::randomDelay (int) { return 0; }
bool MainComponent::sendBroadcastFrame (size_t, const char*) { return false; }

} // namespace lyrlink
