// One manager on the test fakes for a whole fuzzing process. Making a MainComponent costs more
// than hundreds of inputs, so every input starts from resetForTests instead: the component is then
// as a new one would be, with the connection flags the input chose. The log stays in memory.
#pragma once

#include "support/LinkHarness.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lyrlink::fuzz
{

/** This computer: a wired interface on 192.168.1.0/24 and a wireless one on 10.0.0.0/24. */
const Ipv4 kWiredIp = makeIpv4 (192, 168, 1, 20);
const Ipv4 kWirelessIp = makeIpv4 (10, 0, 0, 20);
const Ipv4 kNetmask = makeIpv4 (255, 255, 255, 0);
constexpr uint32_t kClientPid = 4242;

/** Reads an input front to back; past its end every read gives zero. */
class InputReader
{
public:
    InputReader (const uint8_t* data, size_t size) : m_data (data), m_size (size) {}
    bool isEmpty() const noexcept { return m_pos >= m_size; }
    size_t remaining() const noexcept { return m_size - m_pos; }
    uint8_t byte() noexcept { return m_pos < m_size ? m_data[m_pos++] : 0; }
    /** Up to size bytes; fewer at the end of the input. */
    std::vector<uint8_t> bytes (size_t size);

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

/** The first byte of an input: how the manager starts. */
struct StartFlags
{
    bool processConnected;
    bool suspended;
    bool linkPermitted;
    /** The link state to reach before the input's own frames (DISCOVERY, IDUSE, RUN or IDLE). */
    int phase;

    static StartFlags of (uint8_t b) noexcept;
};

/** The process's harness, made on first use and kept until exit. */
test::LinkHarness& harness();

/** Puts the manager back to new with these flags, forgets what was sent, written and logged, and
    drives the link to the chosen phase with a ConfigNotify from a peer and the timer jobs. */
void startInput (const StartFlags& flags);

/** Ends an input: puts the manager back to new and forgets what was sent, written and logged,
    so that what the input allocated is freed by its end. libFuzzer then sees as many frees as
    allocations, does not run the input a second time to look for a leak, and a real leak (memory
    still held after the reset) is reported as one. */
void finishInput();

/** What must hold after any input. */
void checkInvariants();

/** Aborts when condition is false; libFuzzer then reports the input. */
void require (bool condition);

} // namespace lyrlink::fuzz
