#include "netenv/native/NetRowSource_linux.h"

namespace lyrlink
{

namespace
{
class PendingNetRowSource final : public NetRowSource
{
public:
    bool readAddressTable (std::vector<IpAddrRow>&) override { return false; }
    AdapterListResult readAdapters (std::vector<AdapterRow>&) override { return AdapterListResult::cannotRead; }
    bool readInterfaceTable (std::vector<IfRow>&) override { return false; }
    bool readRouteTable (std::vector<RouteRow>&) override { return false; }
    bool deleteRoute (const RouteRow&) override { return false; }
    bool readUdpTable (std::vector<UdpRow>&) override { return false; }
    WlanResult readWlanInterfaces (std::vector<WlanInterfaceRow>&) override { return WlanResult::serviceUnavailable; }
    bool getOsMajorVersion (int&) override { return false; }
};
} // namespace

std::unique_ptr<NetRowSource> createLinuxNetRowSource() { return std::make_unique<PendingNetRowSource>(); }

} // namespace lyrlink
