// The behaviour of the simulated devices in milliseconds since the start, without sockets or a
// clock: the caller feeds the time, received datagrams and commands, and sends what comes out.
// Periodic frames keep their own cadence (each is due one period after the previous was due, not
// after it was sent), so a late wake-up does not shift the frames that follow.
#pragma once

#include "lyrlinksim/SimConfig.h"
#include "lyrlinksim/SimFrames.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace lyrlinksim
{

/** One datagram to send from a device's own socket to the given address, on the simulator's port. */
struct Datagram
{
    size_t device = 0;
    Ipv4 to = 0;
    Bytes bytes;
};

/** An event as it was carried out (or refused), for the output. */
struct EventOutcome
{
    int64_t atMs = 0;
    std::string text;
    std::string error;
};

struct EngineOutput
{
    std::vector<Datagram> datagrams;
    std::vector<EventOutcome> events;
};

class SimEngine
{
public:
    static constexpr int64_t kJoinStepMs = 100;
    static constexpr int kJoinDiscoveryRequests = 3;
    static constexpr int kJoinIdUseRequests = 3;
    static constexpr int64_t kConfigPeriodMs = 2000;
    static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

    enum class Phase
    {
        Joining,  // DiscoveryRequests, then IdUseRequests for its id, 100 ms apart
        Running,  // a ConfigNotify every 2000 ms; answers IdUseRequests for its ids
        Silent    // sends and answers nothing until resumed
    };

    /** Every device starts at time 0, with the join phase unless config.join is false. */
    explicit SimEngine (const SimConfig& config);

    /** Runs the timeline events and device frames due at or before now, in time order; an event
        runs before a frame due at the same moment. Nothing runs once quit is requested. */
    void advance (int64_t nowMs, EngineOutput& out);

    /** When advance next has work, or kNever. */
    int64_t getNextDueMs() const;

    /** A datagram from another host. Datagrams from the simulator's own addresses are ignored. */
    void receive (Ipv4 source, ByteView datagram, EngineOutput& out);

    /** Carries out an event now; the outcome (with an error if no device matched) goes to out. */
    void apply (const SimEvent& event, int64_t nowMs, EngineOutput& out);

    bool isQuitRequested() const noexcept { return m_quit; }
    bool isOwnAddress (Ipv4 address) const noexcept;

    size_t getNumDevices() const noexcept { return m_devices.size(); }
    const DeviceIdentity& getDevice (size_t index) const { return m_devices[index].identity; }
    Ipv4 getBroadcast (size_t index) const { return m_devices[index].broadcast; }
    Phase getPhase (size_t index) const { return m_devices[index].phase; }

    /** Whether the device defends this id: its own, and the next one for an all-in-one unit on 9 or 11. */
    static bool holdsId (const DeviceIdentity& device, uint8_t id) noexcept;

private:
    struct Device
    {
        DeviceIdentity identity;
        Ipv4 broadcast = 0;
        Phase phase = Phase::Running;
        int joinStep = 0;
        int64_t dueMs = 0;
    };

    void runDevice (size_t index, int64_t nowMs, EngineOutput& out);
    void startJoin (Device& d, int64_t atMs);
    std::vector<size_t> select (const DeviceSelector& s) const;
    uint8_t countActive() const;
    void send (size_t index, const SimEvent* shaping, Bytes bytes, EngineOutput& out) const;

    std::vector<Device> m_devices;
    std::vector<TimedEvent> m_timeline;
    size_t m_nextEvent = 0;
    bool m_quit = false;
};

} // namespace lyrlinksim
