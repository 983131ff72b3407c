// The C interface's inside, for the library and its tests: the decoding of the wire records into
// the interface's plain structs, and connecting under a pipe name prefix (tests only).
#pragma once

#include "client/LyrLinkClient.h"
#include "lyrlink/client.h"

#include <string>

namespace lyrlink::client
{

/** The C interface's code for a status. */
int errorCodeOf (Status status) noexcept;

lyrlink_link_status decodeLinkStatus (const LinkStatus& status) noexcept;
lyrlink_device decodeDevice (int id, const DeviceEntry& entry) noexcept;
/** A notification as the manager sent it, decoded by its kind. */
lyrlink_notification decodeNotification (const ProcMsg& msg) noexcept;

/** lyrlink_connect with every pipe name behind scope (the manager's endpoints in tests). */
int connectScoped (const lyrlink_connect_options* options, const std::string& scope, lyrlink_client** client);

} // namespace lyrlink::client
