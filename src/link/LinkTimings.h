#pragma once

namespace lyrlink
{

/** Periods and defaults of the link, set by the link reset and partly by link-up. */
struct LinkTimings
{
    int defaultDeviceType = 4;
    int defaultId = 17;
    int discoveryPeriodMs = 100;
    int idPeriodMs = 100;
    int keepAlivePeriodMs = 2000;
    int longBackOffMs = 30000;
    int duplicateBackOffMaxMs = 300;
    int agingPeriodMs = 10000;
    int compatiPeriodMs = 100;
};

/** Aging on a wireless link lasts this many aging periods. */
constexpr int kWirelessAgingFactor = 18;

} // namespace lyrlink
