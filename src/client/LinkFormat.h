// Readable and machine-readable renderings of what the manager reports: the link status, device
// entries, the device table and notifications. Text is for people (aligned, names for numbers);
// JSON is one object without line breaks, fields in a fixed order, printable ASCII only.
#pragma once

#include "ipc/ProcMsg.h"
#include "link/LinkRecords.h"

#include <string>

namespace lyrlink::client
{

/** "IDLE", "DISCOVERY", ... for a link state; "UNKNOWN" for other values. */
const char* linkStateName (uint8_t state) noexcept;
/** "wired", "wireless" or "unknown". */
const char* interfaceKindName (uint8_t linkif) noexcept;
/** "never seen", "present", "removed" or "unknown". */
const char* deviceStateName (uint8_t state) noexcept;
/** "LinkStatusChanged", "DeviceChanged", ... for a notification kind; empty for others. */
const char* notificationName (int32_t kind) noexcept;

/** Six octets as "02:00:0a:32:00:0b". */
std::string formatMac (const uint8_t* mac);
std::string formatIp (const uint8_t* ip);

/** raw in double quotes, with quotes and backslashes behind a backslash and every byte outside
    printable ASCII written with escapeFormat (one printf conversion of the byte, "\\x%02x"). */
std::string quoteEscaped (const std::string& raw, const char* escapeFormat);

/** Several lines, one field each, ending in a line break. */
std::string formatLinkStatusText (const LinkStatus& status);
std::string formatLinkStatusJson (const LinkStatus& status);

/** One device in a few lines (text) or one object (JSON). */
std::string formatDeviceText (int id, const DeviceEntry& entry);
std::string formatDeviceJson (int id, const DeviceEntry& entry);

/** The entries that were ever seen (present or removed), as a table or as {"devices":[...]}. */
std::string formatDeviceTableText (const PeerTable& table);
std::string formatDeviceTableJson (const PeerTable& table);

/** One line for one notification, without a line break; timeText is put first (text) or as the
    "time" field (JSON). */
std::string formatNotificationText (const std::string& timeText, const ProcMsg& msg);
std::string formatNotificationJson (const std::string& timeText, const ProcMsg& msg);

/** The local time now as "YYYY-MM-DD HH:MM:SS.mmm". */
std::string localTimeStamp();

} // namespace lyrlink::client
