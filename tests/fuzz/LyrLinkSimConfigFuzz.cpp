// Any text as lyrlinksim's command line (one argument a line), then each line as a device, an
// event and a timed event. An accepted command line runs the simulated devices for a few steps, so
// what the parser lets through is also what the engine has to carry out; an accepted event is
// written back as its text and must read again as the same event.
#include "lyrlinksim/SimConfig.h"
#include "lyrlinksim/SimEngine.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
using namespace lyrlinksim;

void require (bool condition)
{
    if (!condition)
        std::abort();
}

bool sameEvent (const SimEvent& a, const SimEvent& b)
{
    return a.kind == b.kind && a.devices.kind == b.devices.kind && a.devices.id == b.devices.id &&
           a.devices.address == b.devices.address && a.claimedId == b.claimedId && a.type == b.type &&
           a.wiredMask == b.wiredMask && a.wirelessMask == b.wirelessMask && a.requestNumber == b.requestNumber &&
           a.to == b.to && a.length == b.length && a.raw == b.raw && a.text == b.text;
}

void runEngine (const SimConfig& config)
{
    SimEngine engine (config);
    EngineOutput out;
    int64_t now = 0;
    for (int step = 0; step < 16 && !engine.isQuitRequested(); ++step)
    {
        const auto due = engine.getNextDueMs();
        if (due == SimEngine::kNever)
            break;
        now = std::max (now, due);
        engine.advance (now, out);
    }
    for (const auto& d : out.datagrams)
    {
        require (d.device < engine.getNumDevices());
        require (d.bytes.size() <= kMaxUdpPayload);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    std::vector<std::string> lines (1);
    for (size_t i = 0; i < size; ++i)
    {
        if (data[i] == '\n')
            lines.emplace_back();
        else
            lines.back().push_back (static_cast<char> (data[i]));
    }

    SimConfig config;
    std::string error;
    if (parseCommandLine (lines, config, error) == CommandLineResult::Run)
        runEngine (config);

    for (const auto& line : lines)
    {
        DeviceIdentity device;
        parseDevice (line, device, error);

        SimEvent event;
        if (parseEvent (line, event, error))
        {
            SimEvent again;
            require (parseEvent (event.text, again, error));
            require (sameEvent (event, again));
        }
        TimedEvent timed;
        if (parseTimedEvent (line, timed, error))
            require (timed.atMs >= 0);
    }
    return 0;
}
