// The manager's one source of pseudo-random numbers: the C library's generator, which link-up
// seeds with the current time and the duplicate back-off scales. Every use goes through here, so
// tests can seed or replace it without reaching the process-wide generator behind their back.
#pragma once

#include <cstdlib>

namespace lyrlink
{

class LinkRandom
{
public:
    virtual ~LinkRandom() = default;

    /** Seeds the generator (std::srand). */
    virtual void seed (unsigned value) { std::srand (value); }

    /** The next value, 0 to kMax (std::rand). */
    virtual int next() { return std::rand(); }

    static constexpr int kMax = RAND_MAX;
};

} // namespace lyrlink
