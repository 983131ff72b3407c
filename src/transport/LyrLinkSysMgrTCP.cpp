#include "transport/LyrLinkSysMgrTCP.h"

namespace lyrlink
{

LyrLinkSysMgrTCP::LyrLinkSysMgrTCP (uint16_t port) : LyrLinkTCPServer (port) {}
LyrLinkSysMgrTCP::~LyrLinkSysMgrTCP() { closeServer(); }
bool LyrLinkSysMgrTCP::isLinkFrame (const uint8_t*, size_t) noexcept { return false; }
void LyrLinkSysMgrTCP::dataReceived (const uint8_t*, const juce::MemoryBlock&) {}

} // namespace lyrlink
