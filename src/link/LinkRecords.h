// The link status record, the device record and the peer table. Both records travel byte for byte
// to client applications on the pipes, so their layouts are wire formats: every offset is checked
// at compile time below.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lyrlink
{

/** Link states, the values of LinkStatus::state. */
enum LinkState : uint8_t
{
    STATE_IDLE = 0,
    STATE_COMPATI = 1,  // reserved: no transition enters it
    STATE_DISCOVERY = 2,
    STATE_IDWAIT = 3,
    STATE_IDSET = 4,    // reserved: no transition enters it
    STATE_IDUSE = 5,
    STATE_RUN = 8
};

/** Values of LinkStatus::linkif. */
enum LinkInterfaceKind : uint8_t
{
    LINKIF_WIRELESS = 0,
    LINKIF_WIRED = 1,
    LINKIF_UNKNOWN = 255
};

/** Values of DeviceEntry::state. */
enum DeviceState : uint8_t
{
    DEVICE_NEVER_USED = 0,
    DEVICE_PRESENT = 1,
    DEVICE_REMOVED = 2
};

#pragma pack(push, 1)

/** The manager's own link (84 bytes). Reserved bytes are always zero. */
struct LinkStatus
{
    uint8_t state;
    uint8_t type;
    uint8_t idClaimed;
    uint8_t reserved3;
    uint8_t ip[4];
    uint8_t mac[6];
    uint8_t id;
    uint8_t reqid;
    uint8_t reserved16[9];
    uint8_t devcount;
    uint8_t reserved26[2];
    uint8_t idSetTarget[4];
    uint8_t reserved32[7];
    uint8_t compaticnt;
    uint8_t reserved40[12];
    uint8_t discoverycnt;
    uint8_t idcnt;
    uint8_t reserved54[7];
    uint8_t linkif;
    uint8_t reserved62[4];
    uint8_t netmask[4];
    uint8_t apmode;
    uint8_t inusecnt;
    uint8_t vtconnection[4];  // 32-bit little-endian mask; see getVtConnection
    uint8_t apconnected;
    uint8_t bssid[6];
    uint8_t reserved83;
};

/** One device of the peer table (16 bytes). */
struct DeviceEntry
{
    uint8_t state;
    uint8_t type;
    uint8_t cfg1;
    uint8_t cfg17;
    uint8_t ip[4];
    uint8_t mac[6];
    uint8_t reserved14[2];
};

#pragma pack(pop)

static_assert (sizeof (LinkStatus) == 84, "LinkStatus is a wire format");
static_assert (offsetof (LinkStatus, ip) == 4);
static_assert (offsetof (LinkStatus, mac) == 8);
static_assert (offsetof (LinkStatus, id) == 14);
static_assert (offsetof (LinkStatus, reqid) == 15);
static_assert (offsetof (LinkStatus, devcount) == 25);
static_assert (offsetof (LinkStatus, idSetTarget) == 28);
static_assert (offsetof (LinkStatus, compaticnt) == 39);
static_assert (offsetof (LinkStatus, discoverycnt) == 52);
static_assert (offsetof (LinkStatus, idcnt) == 53);
static_assert (offsetof (LinkStatus, linkif) == 61);
static_assert (offsetof (LinkStatus, netmask) == 66);
static_assert (offsetof (LinkStatus, apmode) == 70);
static_assert (offsetof (LinkStatus, inusecnt) == 71);
static_assert (offsetof (LinkStatus, vtconnection) == 72);
static_assert (offsetof (LinkStatus, apconnected) == 76);
static_assert (offsetof (LinkStatus, bssid) == 77);

static_assert (sizeof (DeviceEntry) == 16, "DeviceEntry is a wire format");
static_assert (offsetof (DeviceEntry, ip) == 4);
static_assert (offsetof (DeviceEntry, mac) == 8);

constexpr int kMaxDeviceId = 80;

/** The peer table: entry i is the device with id i + 1. */
using PeerTable = std::array<DeviceEntry, kMaxDeviceId>;
static_assert (sizeof (PeerTable) == 1280, "the peer table is copied as one block");

/** The six ids open to the manager, in rotation order; candidate n owns bit n of vtconnection. */
constexpr std::array<uint8_t, 6> kCandidateIds { 17, 18, 41, 42, 43, 44 };

/** Bit of vtconnection for a candidate id, or -1 for any other id. */
constexpr int candidateBit (int id) noexcept
{
    for (size_t i = 0; i < kCandidateIds.size(); ++i)
        if (kCandidateIds[i] == id)
            return static_cast<int> (i);
    return -1;
}

inline uint32_t getVtConnection (const LinkStatus& s) noexcept
{
    return static_cast<uint32_t> (s.vtconnection[0]) | (static_cast<uint32_t> (s.vtconnection[1]) << 8)
         | (static_cast<uint32_t> (s.vtconnection[2]) << 16) | (static_cast<uint32_t> (s.vtconnection[3]) << 24);
}

inline void setVtConnection (LinkStatus& s, uint32_t mask) noexcept
{
    for (int i = 0; i < 4; ++i)
        s.vtconnection[i] = static_cast<uint8_t> (mask >> (8 * i));
}

/** A device id that the peer table can hold. */
constexpr bool isDeviceId (int id) noexcept { return id >= 1 && id <= kMaxDeviceId; }

/** An all-in-one unit with id 9 or 11 also occupies the id after its own (10 or 12). */
constexpr bool occupiesNextId (int id) noexcept { return id == 9 || id == 11; }

} // namespace lyrlink
