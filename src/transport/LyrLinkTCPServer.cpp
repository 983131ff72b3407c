#include "transport/LyrLinkTCPServer.h"

namespace lyrlink
{

LyrLinkTCPServer::LyrLinkTCPServer (uint16_t port) : juce::Thread ("LyrLinkTCPServer Thread"), m_port (port) {}
LyrLinkTCPServer::~LyrLinkTCPServer() { closeServer(); }
bool LyrLinkTCPServer::openServer() { return false; }
void LyrLinkTCPServer::run() {}
void LyrLinkTCPServer::closeServer() {}

} // namespace lyrlink
