#pragma once

#include "link/LinkRecords.h"

#include <cstddef>
#include <cstdint>

namespace lyrlink
{

/** What link-up sets, and which ids the link may claim, by the kind of the link interface. */
struct LinkKindSettings
{
    /** The own id from link-up on, and the id fallen back to when no candidate is free. */
    uint8_t defaultId;
    /** The tick of the ID-use rotation. */
    int idPeriodMs;
    /** Non-operational network monitor runs tolerated before the first operational one. */
    int graceAtLinkUp;
    /** The ids this kind may claim: kCandidateIds[firstCandidate] onwards, candidateCount of them. */
    size_t firstCandidate;
    size_t candidateCount;
    /** When every candidate is in use, the next ID-use rotation starts from the default id. */
    bool exhaustionRestartsRotation;

    constexpr uint8_t candidate (size_t n) const noexcept { return kCandidateIds[firstCandidate + n]; }
};

constexpr LinkKindSettings kWiredLink { 17, 100, 1, 0, 2, false };    // candidates 17, 18
constexpr LinkKindSettings kWirelessLink { 41, 200, 20, 2, 4, true };  // candidates 41 to 44
// Each kind's default id is its first candidate, and the two kinds share out the six candidates.
static_assert (kWiredLink.candidate (0) == kWiredLink.defaultId
               && kWirelessLink.candidate (0) == kWirelessLink.defaultId);
static_assert (kWiredLink.firstCandidate + kWiredLink.candidateCount == kWirelessLink.firstCandidate
               && kWirelessLink.firstCandidate + kWirelessLink.candidateCount == kCandidateIds.size());

/** The settings of linkif LINKIF_WIRED or LINKIF_WIRELESS; null for an undetermined kind. */
constexpr const LinkKindSettings* linkKindSettings (int linkif) noexcept
{
    return linkif == LINKIF_WIRED ? &kWiredLink : linkif == LINKIF_WIRELESS ? &kWirelessLink : nullptr;
}

/** The first of the kind's candidates whose bit in the in-use mask is clear, or 0 when all are in use. */
constexpr uint8_t firstFreeCandidate (const LinkKindSettings& kind, uint32_t inUseMask) noexcept
{
    for (size_t n = 0; n < kind.candidateCount; ++n)
        if ((inUseMask & (1u << (kind.firstCandidate + n))) == 0)
            return kind.candidate (n);
    return 0;
}

/** Periods and defaults of the link, set by the link reset and partly by link-up. */
struct LinkTimings
{
    int defaultDeviceType = 4;
    // Until link-up learns the interface kind the link counts as wired.
    int defaultId = kWiredLink.defaultId;
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
