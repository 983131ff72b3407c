/*
    lyrlink/client.h: the C interface of the LyrLinkSysMgr client library.

    An application becomes a client of the link manager with lyrlink_connect, asks for the link
    status and the device table whenever it likes, and follows the link through notifications:
    either from its own event loop (poll lyrlink_fd for reading, then call lyrlink_dispatch, which
    never blocks) or, in simple programs, with the blocking lyrlink_wait.

    Every function returns LYRLINK_OK (0) or a negative lyrlink_error; lyrlink_strerror describes
    each. A handle is used by one thread at a time. Records are decoded into the plain structs
    below: no wire bytes cross this interface. Addresses are octets, first octet first.
*/
#ifndef LYRLINK_CLIENT_H
#define LYRLINK_CLIENT_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && ! defined(LYRLINK_CLIENT_STATIC)
#if defined(LYRLINK_CLIENT_BUILD)
#define LYRLINK_API __declspec(dllexport)
#else
#define LYRLINK_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define LYRLINK_API __attribute__ ((visibility ("default")))
#else
#define LYRLINK_API
#endif

#ifdef __cplusplus
extern "C"
{
#endif

/** The version of this interface: major * 10000 + minor * 100 + patch. */
#define LYRLINK_CLIENT_VERSION 10000

/** Results of every call: 0 or one of these negative codes. */
typedef enum lyrlink_error
{
    LYRLINK_OK = 0,
    LYRLINK_ERR_NO_MANAGER = -1,       /* nobody holds the manager's pipe */
    LYRLINK_ERR_TIMEOUT = -2,          /* no connection, reply or room to write within the time limit */
    LYRLINK_ERR_MALFORMED = -3,        /* bytes that are not a message of the manager's */
    LYRLINK_ERR_REFUSED = -4,          /* the manager said no (device id outside 1..80, pipe exists) */
    LYRLINK_ERR_CLOSED = -5,           /* the manager ended the connection */
    LYRLINK_ERR_IO = -6,               /* any other failure of the pipe */
    LYRLINK_ERR_INVALID_ARGUMENT = -7, /* a null pointer or a value out of range */
    LYRLINK_ERR_NOT_CONNECTED = -8,    /* the handle has disconnected or lost its pipe */
    LYRLINK_ERR_START_FAILED = -9,     /* the manager program could not be started or ended at once */
    LYRLINK_ERR_START_TIMEOUT = -10,   /* a started manager did not open its pipe in time */
    LYRLINK_ERR_NO_MEMORY = -11
} lyrlink_error;

/** A short English description of a result code ("unknown error" for others). Never NULL. */
LYRLINK_API const char* lyrlink_strerror (int error);

/** Link states (lyrlink_link_status.state). */
enum
{
    LYRLINK_STATE_IDLE = 0,
    LYRLINK_STATE_COMPATI = 1,
    LYRLINK_STATE_DISCOVERY = 2,
    LYRLINK_STATE_IDWAIT = 3,
    LYRLINK_STATE_IDSET = 4,
    LYRLINK_STATE_IDUSE = 5,
    LYRLINK_STATE_RUN = 8 /* an id is claimed and the link is up */
};

/** Kinds of network interface (lyrlink_link_status.interface_kind). */
enum
{
    LYRLINK_INTERFACE_WIRELESS = 0,
    LYRLINK_INTERFACE_WIRED = 1,
    LYRLINK_INTERFACE_UNKNOWN = 255
};

/** Device states (lyrlink_device.state). */
enum
{
    LYRLINK_DEVICE_NEVER_SEEN = 0,
    LYRLINK_DEVICE_PRESENT = 1,
    LYRLINK_DEVICE_REMOVED = 2
};

/** Notification kinds (lyrlink_notification.kind). */
enum
{
    LYRLINK_NOTIFY_LINK_STATUS_CHANGED = 3,
    LYRLINK_NOTIFY_DEVICE_CHANGED = 4,
    LYRLINK_NOTIFY_LINK_REJECTED = 21,
    LYRLINK_NOTIFY_AP_DEVICE_LINK_UP = 75,
    LYRLINK_NOTIFY_CONFIG_SEEN_WHILE_SUSPENDED = 92
};

/** The highest device id; ids run from 1. */
#define LYRLINK_MAX_DEVICE_ID 80

/** The manager's own link. */
typedef struct lyrlink_link_status
{
    int state;          /* LYRLINK_STATE_... */
    int own_id;         /* the manager's device id (17 until one is claimed) */
    int requested_id;   /* the id being negotiated */
    int id_claimed;     /* 1 once an id has been claimed since the last link reset */
    uint8_t address[4]; /* IPv4 address of the link interface */
    uint8_t mac[6];     /* MAC address of the link interface */
    uint8_t netmask[4];
    int interface_kind;  /* LYRLINK_INTERFACE_... */
    int device_count;    /* devices present, plus the manager itself while in RUN */
    uint8_t bssid[6];    /* of the wireless link; zero when wired */
    int ap_mode;         /* 1 when an all-in-one unit brought the link up */
    int ap_connected;    /* 1 when the wireless link is that unit's access point */
    uint32_t ids_in_use; /* candidate ids seen in use: bit 0 id 17, 1 id 18, 2..5 ids 41..44 */
} lyrlink_link_status;

/** One other device on the link. */
typedef struct lyrlink_device
{
    int id;    /* 1..80 */
    int state; /* LYRLINK_DEVICE_... */
    int type;  /* device type from its configuration notice */
    uint8_t address[4];
    uint8_t mac[6];
} lyrlink_device;

/** The whole device table: devices[i] is the device with id i + 1. */
typedef struct lyrlink_device_table
{
    lyrlink_device devices[LYRLINK_MAX_DEVICE_ID];
} lyrlink_device_table;

/** One notification, decoded. */
typedef struct lyrlink_notification
{
    int kind;       /* LYRLINK_NOTIFY_... */
    int id;         /* the device id it is about (the own id for link notifications) */
    int has_status; /* 1 for every kind but DEVICE_CHANGED: status is filled in */
    lyrlink_link_status status;
    int has_device; /* 1 for DEVICE_CHANGED: device is filled in */
    lyrlink_device device;
} lyrlink_notification;

/** An opaque connection to the manager. */
typedef struct lyrlink_client lyrlink_client;

/** How to connect. Fill in with lyrlink_connect_options_init, then change what you need: later
    versions only add fields at the end, and struct_size tells which ones a caller knows. */
typedef struct lyrlink_connect_options
{
    size_t struct_size;
    int timeout_ms;           /* each connection, write and reply; default 5000 */
    int start_suspended;      /* ask the manager to start suspended; default 0 */
    int start_manager;        /* start the manager when none holds its pipe; default 0 */
    const char* manager_path; /* the program to start; NULL: the installed LyrLinkSysMgr */
    int start_timeout_ms;     /* how long a started manager may take to open its pipe; default 5000 */
} lyrlink_connect_options;

LYRLINK_API void lyrlink_connect_options_init (lyrlink_connect_options* options);

/** The program that start_manager runs when manager_path is NULL. */
LYRLINK_API const char* lyrlink_default_manager_path (void);

/** Becomes a full client: announces this process to the manager (its process id), opens the
    process's own pipe and permits link-up. With options NULL the defaults apply. On success
    *client is a new handle to give to lyrlink_disconnect; on failure it is set to NULL. The
    manager knows its clients by process id, so a process has one handle at a time: a second
    connect while the first is connected is refused (LYRLINK_ERR_REFUSED). */
LYRLINK_API int lyrlink_connect (const lyrlink_connect_options* options, lyrlink_client** client);

/** Says goodbye to the manager and frees the handle (NULL is allowed). The manager ends when its
    last client has gone. Returns what the goodbye gave; the handle is freed in any case. */
LYRLINK_API int lyrlink_disconnect (lyrlink_client* client);

/** What went wrong in the last failed call on this handle, in words ("" if nothing did). */
LYRLINK_API const char* lyrlink_last_error (const lyrlink_client* client);

LYRLINK_API int lyrlink_get_link_status (lyrlink_client* client, lyrlink_link_status* status);
/** LYRLINK_ERR_REFUSED for an id outside 1..80. */
LYRLINK_API int lyrlink_get_device (lyrlink_client* client, int id, lyrlink_device* device);
LYRLINK_API int lyrlink_get_device_table (lyrlink_client* client, lyrlink_device_table* table);

/** Leaves the link and keeps it down (configuration notices are then only reported) until
    lyrlink_resume. */
LYRLINK_API int lyrlink_suspend (lyrlink_client* client);
LYRLINK_API int lyrlink_resume (lyrlink_client* client);

/** The descriptor to poll for reading (POLLIN) in an event loop; -1 when not connected. It stays
    the same for the life of the handle. Do not read from it or close it. */
LYRLINK_API int lyrlink_fd (const lyrlink_client* client);

typedef void (*lyrlink_notification_callback) (const lyrlink_notification* notification, void* user_data);

/** Reads what has arrived without waiting and calls callback for each complete notification, in
    order; a message that has only partly arrived is kept for the next call. Returns the number
    of notifications handed over (0 when nothing complete was there), or a negative code when the
    pipe ended (LYRLINK_ERR_CLOSED) or broke, after handing over everything complete before it.
    The notification lives only for the call of callback, which may ask the manager (the queries
    above) but must not disconnect the handle. */
LYRLINK_API int lyrlink_dispatch (lyrlink_client* client, lyrlink_notification_callback callback, void* user_data);

/** Waits at most timeout_ms for the next notification; LYRLINK_ERR_TIMEOUT when none came. */
LYRLINK_API int lyrlink_wait (lyrlink_client* client, int timeout_ms, lyrlink_notification* notification);

/** Names for numbers, for printing: "RUN", "wired", "present", "DeviceChanged", ... */
LYRLINK_API const char* lyrlink_state_name (int state);
LYRLINK_API const char* lyrlink_interface_kind_name (int interface_kind);
LYRLINK_API const char* lyrlink_device_state_name (int state);
LYRLINK_API const char* lyrlink_notification_name (int kind);

#ifdef __cplusplus
}
#endif

#endif /* LYRLINK_CLIENT_H */
