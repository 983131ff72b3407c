#include "ipc/LyrLinkIPCServer.h"

namespace lyrlink
{

LyrLinkIPCServer::LyrLinkIPCServer (IpcOwner& owner, std::unique_ptr<PipeEndpoint> endpoint)
    : juce::Thread ("Juce IPC connection"), m_owner (owner), m_endpoint (std::move (endpoint))
{
}

LyrLinkIPCServer::~LyrLinkIPCServer() = default;
bool LyrLinkIPCServer::createPipe (const std::string&) { return false; }
bool LyrLinkIPCServer::sendMessage (const ProcMsg&) { return false; }
void LyrLinkIPCServer::messageReceived (const juce::MemoryBlock&) {}
void LyrLinkIPCServer::run() {}

int IpcList::size() const { return 0; }
IpcList::Connection IpcList::get (int) const { return {}; }
void IpcList::add (Connection) {}
IpcList::Connection IpcList::remove (int) { return {}; }
int IpcList::indexOf (const LyrLinkIPCServer*) const { return -1; }
void IpcList::clear() {}

} // namespace lyrlink
