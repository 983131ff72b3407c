// A manager on fakes with one client, a wired or a wireless link interface and a few devices of the
// equipment network, plus the expectations that the link tests share: the exact bytes of the frames
// the manager sends, the notifications, and the devcount invariant.
#pragma once

#include "support/LinkHarness.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace lyrlink::test
{

constexpr uint32_t kClientPid = 4242;
const std::string kClientPipe = std::string (kPipeBaseName) + "4242";

/** A device of the equipment network. */
struct Device
{
    uint8_t id;
    uint8_t type;
    Ipv4 ip;
    std::array<uint8_t, 6> mac;
    const char* model = "DKP-3000";
    uint8_t minorver = 3;

    std::vector<uint8_t> configNotify() const { return FrameBuilder::configNotify (id, type, ip, mac, model, minorver); }
    std::string ipText() const { return formatIpv4 (ip); }
};

// Wired link: this computer is 192.168.1.20/24.
const Ipv4 kWiredIp = makeIpv4 (192, 168, 1, 20);
const Ipv4 kWiredMask = makeIpv4 (255, 255, 255, 0);
const Ipv4 kWiredBroadcast = makeIpv4 (192, 168, 1, 255);
constexpr std::array<uint8_t, 6> kWiredMac { 0x00, 0x11, 0x22, 0x33, 0x44, 0x55 };

// Wireless link: this computer is 10.1.0.20/16 on the access point kBssid, network "booth".
const Ipv4 kWirelessIp = makeIpv4 (10, 1, 0, 20);
const Ipv4 kWirelessMask = makeIpv4 (255, 255, 0, 0);
const Ipv4 kWirelessBroadcast = makeIpv4 (10, 1, 255, 255);
constexpr std::array<uint8_t, 6> kWirelessMac { 0x00, 0x11, 0x22, 0x33, 0x44, 0x66 };
constexpr std::array<uint8_t, 6> kBssid { 0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE };

inline Device wiredPlayer (uint8_t id = 3)
{
    return { id, 1, makeIpv4 (192, 168, 1, id), { 0xAA, 0, 0, 0, 0, id } };
}

inline Device wirelessPlayer (uint8_t id = 3)
{
    return { id, 1, makeIpv4 (10, 1, 0, id), { 0xAA, 0, 0, 0, 1, id } };
}

/** Header of a frame the manager sent: template, type, subtype and length. */
std::vector<uint8_t> ownFrame (uint8_t type, uint8_t subType, const std::vector<uint8_t>& body);

std::vector<uint8_t> concat (std::initializer_list<std::vector<uint8_t>> parts);
std::vector<uint8_t> octetsOf (Ipv4 a);
std::vector<uint8_t> octetsOf (const std::array<uint8_t, 6>& mac);

class LinkScenario : public ::testing::Test
{
protected:
    LinkHarness h;

    void addWiredInterface();
    void addWirelessInterface();
    /** ProcessConnect and LinkPermit of one client; then forgets what start-up and the client did. */
    void connectClient()
    {
        h.connectClient (kClientPid);
        clearRecords();
    }

    /** A datagram from the device through the endpoint's filter. */
    void send (const Device& d) { h.receive (d.ip, d.configNotify()); }
    void receive (const Device& from, const std::vector<uint8_t>& frame) { h.receive (from.ip, frame); }

    /** Wired interface, a client, and a ConfigNotify from the player that brings the link up;
        runs to STATE_RUN (3900 ms later) and clears the records. */
    void bringUpWired (const Device& first = wiredPlayer());
    /** The same on the wireless interface (STATE_RUN 7500 ms after the first ConfigNotify). */
    void bringUpWireless (const Device& first = wirelessPlayer());
    void clearRecords();

    /** Sent frames of one type (any subtype). */
    std::vector<SentDatagram> sentOfType (uint8_t type) const;
    /** (kind, id) of every notification, in order. */
    std::vector<std::pair<int, int>> notificationKinds() const;
    /** The log texts that start with the qualified name. */
    std::vector<std::string> linesOf (const std::string& name) const;

    LinkStatus status() const { return h.mc->getLinkStatus(); }

    /** devcount = present records + 1 while the manager has counted itself in STATE_RUN. */
    void expectDevcountInvariant() const;
};

} // namespace lyrlink::test
