// The C interface over ManagerClient. Nothing here throws out of the interface: an allocation that
// fails is LYRLINK_ERR_NO_MEMORY, and the handle remembers the last failure in words.
#include "client/ClientApi.h"

#include "client/LinkFormat.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

#ifndef LYRLINK_DEFAULT_MANAGER_PATH
#define LYRLINK_DEFAULT_MANAGER_PATH "/usr/bin/LyrLinkSysMgr"
#endif

struct lyrlink_client
{
    explicit lyrlink_client (lyrlink::client::ClientOptions options) : manager (std::move (options)) {}

    lyrlink::client::ManagerClient manager;
    std::string lastError;
};

namespace lyrlink::client
{

namespace
{
int finish (lyrlink_client* c, Status status)
{
    c->lastError = status == Status::ok ? std::string() : c->manager.getLastError();
    return errorCodeOf (status);
}

int invalid (lyrlink_client* c, const char* what)
{
    if (c != nullptr)
        c->lastError = what;
    return LYRLINK_ERR_INVALID_ARGUMENT;
}

int notConnected (lyrlink_client* c)
{
    c->lastError = "not connected to the manager";
    return LYRLINK_ERR_NOT_CONNECTED;
}

template <size_t N> void copyOctets (uint8_t (&to)[N], const uint8_t* from) { std::memcpy (to, from, N); }
} // namespace

int errorCodeOf (Status status) noexcept
{
    switch (status)
    {
        case Status::ok: return LYRLINK_OK;
        case Status::noManager: return LYRLINK_ERR_NO_MANAGER;
        case Status::timeout: return LYRLINK_ERR_TIMEOUT;
        case Status::malformed: return LYRLINK_ERR_MALFORMED;
        case Status::refused: return LYRLINK_ERR_REFUSED;
        case Status::closed: return LYRLINK_ERR_CLOSED;
        case Status::ioError: return LYRLINK_ERR_IO;
        case Status::startFailed: return LYRLINK_ERR_START_FAILED;
        case Status::startTimeout: return LYRLINK_ERR_START_TIMEOUT;
    }
    return LYRLINK_ERR_IO;
}

lyrlink_link_status decodeLinkStatus (const LinkStatus& s) noexcept
{
    lyrlink_link_status d {};
    d.state = s.state;
    d.own_id = s.id;
    d.requested_id = s.reqid;
    d.id_claimed = s.idClaimed;
    copyOctets (d.address, s.ip);
    copyOctets (d.mac, s.mac);
    copyOctets (d.netmask, s.netmask);
    d.interface_kind = s.linkif;
    d.device_count = s.devcount;
    copyOctets (d.bssid, s.bssid);
    d.ap_mode = s.apmode;
    d.ap_connected = s.apconnected;
    d.ids_in_use = getVtConnection (s);
    return d;
}

lyrlink_device decodeDevice (int id, const DeviceEntry& e) noexcept
{
    lyrlink_device d {};
    d.id = id;
    d.state = e.state;
    d.type = e.type;
    copyOctets (d.address, e.ip);
    copyOctets (d.mac, e.mac);
    return d;
}

lyrlink_notification decodeNotification (const ProcMsg& msg) noexcept
{
    const auto fields = decodeProcMsg (msg);
    lyrlink_notification n {};
    n.kind = fields.kind;
    n.id = fields.id;
    if (fields.kind == KIND_DEVICE_CHANGED)
    {
        n.has_device = 1;
        n.device = decodeDevice (fields.id, recordOf<DeviceEntry> (msg));
    }
    else
    {
        n.has_status = 1;
        n.status = decodeLinkStatus (recordOf<LinkStatus> (msg));
    }
    return n;
}

int connectScoped (const lyrlink_connect_options* given, const std::string& scope, lyrlink_client** out)
{
    if (out == nullptr)
        return LYRLINK_ERR_INVALID_ARGUMENT;
    *out = nullptr;
    lyrlink_connect_options options;
    lyrlink_connect_options_init (&options);
    if (given != nullptr)
    {
        // A caller built against an older header knows only the fields up to its struct_size.
        if (given->struct_size < offsetof (lyrlink_connect_options, manager_path) + sizeof (const char*))
            return LYRLINK_ERR_INVALID_ARGUMENT;
        std::memcpy (&options, given, std::min (given->struct_size, sizeof (options)));
        options.struct_size = sizeof (options);
    }
    if (options.timeout_ms <= 0 || options.start_timeout_ms <= 0)
        return LYRLINK_ERR_INVALID_ARGUMENT;

    auto* c = new (std::nothrow) lyrlink_client (ClientOptions { scope, options.timeout_ms });
    if (c == nullptr)
        return LYRLINK_ERR_NO_MEMORY;
    try
    {
        if (options.start_manager)
        {
            const std::string program =
                options.manager_path != nullptr ? options.manager_path : lyrlink_default_manager_path();
            const auto s = c->manager.ensureManager (program, options.start_timeout_ms);
            if (s != Status::ok)
            {
                const int code = errorCodeOf (s);
                delete c;
                return code;
            }
        }
        const auto s = c->manager.connectProcess (currentProcessId(), options.start_suspended != 0);
        if (s != Status::ok)
        {
            const int code = errorCodeOf (s);
            delete c;
            return code;
        }
    }
    catch (const std::bad_alloc&)
    {
        delete c;
        return LYRLINK_ERR_NO_MEMORY;
    }
    *out = c;
    return LYRLINK_OK;
}

} // namespace lyrlink::client

using namespace lyrlink;
using namespace lyrlink::client;

extern "C"
{

    const char* lyrlink_strerror (int error)
    {
        switch (error)
        {
            case LYRLINK_OK: return "success";
            case LYRLINK_ERR_NO_MANAGER: return "no manager is running";
            case LYRLINK_ERR_TIMEOUT: return "timed out";
            case LYRLINK_ERR_MALFORMED: return "malformed message from the manager";
            case LYRLINK_ERR_REFUSED: return "refused by the manager";
            case LYRLINK_ERR_CLOSED: return "the manager closed the pipe";
            case LYRLINK_ERR_IO: return "input/output error";
            case LYRLINK_ERR_INVALID_ARGUMENT: return "invalid argument";
            case LYRLINK_ERR_NOT_CONNECTED: return "not connected to the manager";
            case LYRLINK_ERR_START_FAILED: return "the manager could not be started";
            case LYRLINK_ERR_START_TIMEOUT: return "the started manager did not open its pipe in time";
            case LYRLINK_ERR_NO_MEMORY: return "out of memory";
            default: return "unknown error";
        }
    }

    void lyrlink_connect_options_init (lyrlink_connect_options* options)
    {
        if (options == nullptr)
            return;
        std::memset (options, 0, sizeof (*options));
        options->struct_size = sizeof (*options);
        options->timeout_ms = 5000;
        options->start_timeout_ms = 5000;
    }

    const char* lyrlink_default_manager_path (void) { return LYRLINK_DEFAULT_MANAGER_PATH; }

    int lyrlink_connect (const lyrlink_connect_options* options, lyrlink_client** client)
    {
        return connectScoped (options, {}, client);
    }

    int lyrlink_disconnect (lyrlink_client* client)
    {
        if (client == nullptr)
            return LYRLINK_OK;
        int code = LYRLINK_OK;
        if (client->manager.isProcessConnected())
            code = errorCodeOf (client->manager.disconnectProcess());
        delete client;
        return code;
    }

    const char* lyrlink_last_error (const lyrlink_client* client)
    {
        return client != nullptr ? client->lastError.c_str() : "";
    }

    int lyrlink_get_link_status (lyrlink_client* client, lyrlink_link_status* status)
    {
        if (client == nullptr || status == nullptr)
            return invalid (client, "lyrlink_get_link_status: a null pointer");
        LinkStatus raw {};
        const auto s = client->manager.getLinkStatus (raw);
        if (s == Status::ok)
            *status = decodeLinkStatus (raw);
        return finish (client, s);
    }

    int lyrlink_get_device (lyrlink_client* client, int id, lyrlink_device* device)
    {
        if (client == nullptr || device == nullptr)
            return invalid (client, "lyrlink_get_device: a null pointer");
        DeviceEntry raw {};
        const auto s = client->manager.getDevice (id, raw);
        if (s == Status::ok)
            *device = decodeDevice (id, raw);
        return finish (client, s);
    }

    int lyrlink_get_device_table (lyrlink_client* client, lyrlink_device_table* table)
    {
        if (client == nullptr || table == nullptr)
            return invalid (client, "lyrlink_get_device_table: a null pointer");
        PeerTable raw {};
        const auto s = client->manager.getDeviceList (raw);
        if (s == Status::ok)
            for (int i = 0; i < kMaxDeviceId; ++i)
                table->devices[i] = decodeDevice (i + 1, raw[static_cast<size_t> (i)]);
        return finish (client, s);
    }

    int lyrlink_suspend (lyrlink_client* client)
    {
        if (client == nullptr)
            return invalid (client, "");
        return finish (client, client->manager.suspend());
    }

    int lyrlink_resume (lyrlink_client* client)
    {
        if (client == nullptr)
            return invalid (client, "");
        return finish (client, client->manager.resume());
    }

    int lyrlink_fd (const lyrlink_client* client)
    {
        if (client == nullptr || ! client->manager.isProcessConnected())
            return -1;
        return static_cast<int> (client->manager.getOwnPipe().getPollHandle());
    }

    int lyrlink_dispatch (lyrlink_client* client, lyrlink_notification_callback callback, void* user_data)
    {
        if (client == nullptr || callback == nullptr)
            return invalid (client, "lyrlink_dispatch: a null pointer");
        if (! client->manager.isProcessConnected())
            return notConnected (client);
        int handed = 0;
        for (;;)
        {
            ProcMsg msg;
            const auto s = client->manager.nextNotification (msg, 0);
            if (s == Status::timeout)
                return handed;
            if (s != Status::ok)
                return finish (client, s);
            const auto notification = decodeNotification (msg);
            callback (&notification, user_data);
            ++handed;
        }
    }

    int lyrlink_wait (lyrlink_client* client, int timeout_ms, lyrlink_notification* notification)
    {
        if (client == nullptr || notification == nullptr || timeout_ms < 0)
            return invalid (client, "lyrlink_wait: a null pointer or a negative time limit");
        if (! client->manager.isProcessConnected())
            return notConnected (client);
        ProcMsg msg;
        const auto s = client->manager.nextNotification (msg, timeout_ms);
        if (s == Status::ok)
            *notification = decodeNotification (msg);
        else if (s == Status::timeout)
            client->lastError = "no notification within " + std::to_string (timeout_ms) + " ms";
        return s == Status::timeout ? LYRLINK_ERR_TIMEOUT : finish (client, s);
    }

    const char* lyrlink_state_name (int state)
    {
        return state >= 0 && state <= 255 ? linkStateName (static_cast<uint8_t> (state)) : "UNKNOWN";
    }

    const char* lyrlink_interface_kind_name (int kind)
    {
        return kind >= 0 && kind <= 255 ? interfaceKindName (static_cast<uint8_t> (kind)) : "unknown";
    }

    const char* lyrlink_device_state_name (int state)
    {
        return state >= 0 && state <= 255 ? deviceStateName (static_cast<uint8_t> (state)) : "unknown";
    }

    const char* lyrlink_notification_name (int kind)
    {
        const char* name = notificationName (kind);
        return name != nullptr && *name != '\0' ? name : "unknown";
    }

} // extern "C"
