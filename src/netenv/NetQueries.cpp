#include "netenv/LyrLinkNetworkAccess.h"

namespace lyrlink
{

bool LyrLinkNetworkAccess::prepareLinkInterface() { return false; }
bool LyrLinkNetworkAccess::findInterfaceByPeer (Ipv4, uint32_t&, uint32_t&, Ipv4&, uint8_t*, Ipv4&) { return false; }
void LyrLinkNetworkAccess::collectLocalAddresses() {}
void LyrLinkNetworkAccess::deleteLinkLocalRoutes() {}
bool LyrLinkNetworkAccess::getMacAddress (uint32_t, uint8_t*) { return false; }
int LyrLinkNetworkAccess::getInterfaceKind (const uint8_t*, int& errorCode) { errorCode = 3; return -1; }
int LyrLinkNetworkAccess::getBssid (const uint8_t*, uint8_t*) { return -1; }
int LyrLinkNetworkAccess::getSsidBssid (char*, const uint8_t*, uint8_t*) { return -1; }
int LyrLinkNetworkAccess::getSsid (char*, const uint8_t*) { return -1; }
bool LyrLinkNetworkAccess::isAddressChanged (Ipv4, uint32_t) { return false; }
bool LyrLinkNetworkAccess::isInterfaceDown (uint32_t) { return true; }
bool LyrLinkNetworkAccess::isOldOsVersion() { return false; }

} // namespace lyrlink
