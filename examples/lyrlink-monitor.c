/*
    lyrlink-monitor: follows the link manager from an application's own event loop.

    Starts the manager if none is running, connects, prints the link status, then prints every
    notification until Ctrl-C, and disconnects. Build it against the installed SDK with
        cc lyrlink-monitor.c $(pkg-config --cflags --libs lyrlink-client) -o lyrlink-monitor
    Usage: lyrlink-monitor [manager-program]   (default: the installed LyrLinkSysMgr)
*/
#define _POSIX_C_SOURCE 200809L /* sigaction */

#include <lyrlink/client.h>

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

static volatile sig_atomic_t quitting = 0;

static void onSignal (int sig)
{
    (void)sig;
    quitting = 1;
}

static void printStatus (const char* what, const lyrlink_link_status* s)
{
    printf ("%s: state %s, own id %d, address %u.%u.%u.%u, interface %s, devices %d\n", what,
            lyrlink_state_name (s->state), s->own_id, s->address[0], s->address[1], s->address[2], s->address[3],
            lyrlink_interface_kind_name (s->interface_kind), s->device_count);
}

static void onNotification (const lyrlink_notification* n, void* user_data)
{
    (void)user_data;
    if (n->has_device)
        printf ("%s: device %d %s, type %d, address %u.%u.%u.%u\n", lyrlink_notification_name (n->kind), n->device.id,
                lyrlink_device_state_name (n->device.state), n->device.type, n->device.address[0], n->device.address[1],
                n->device.address[2], n->device.address[3]);
    else
        printStatus (lyrlink_notification_name (n->kind), &n->status);
    fflush (stdout);
}

int main (int argc, char** argv)
{
    struct sigaction sa;
    memset (&sa, 0, sizeof (sa));
    sa.sa_handler = onSignal; /* no SA_RESTART: poll returns at once with EINTR */
    sigaction (SIGINT, &sa, NULL);
    sigaction (SIGTERM, &sa, NULL);

    lyrlink_connect_options options;
    lyrlink_connect_options_init (&options);
    options.start_manager = 1;
    if (argc > 1)
        options.manager_path = argv[1];

    lyrlink_client* client = NULL;
    int rc = lyrlink_connect (&options, &client);
    if (rc != LYRLINK_OK)
    {
        fprintf (stderr, "cannot connect: %s\n", lyrlink_strerror (rc));
        return 1;
    }

    lyrlink_link_status status;
    rc = lyrlink_get_link_status (client, &status);
    if (rc != LYRLINK_OK)
        fprintf (stderr, "link status: %s (%s)\n", lyrlink_strerror (rc), lyrlink_last_error (client));
    else
        printStatus ("link status", &status);
    fflush (stdout);

    struct pollfd p = { lyrlink_fd (client), POLLIN, 0 };
    while (! quitting)
    {
        if (poll (&p, 1, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            break;
        }
        rc = lyrlink_dispatch (client, onNotification, NULL);
        if (rc < 0)
        {
            fprintf (stderr, "notifications ended: %s\n", lyrlink_strerror (rc));
            break;
        }
    }

    rc = lyrlink_disconnect (client);
    printf ("disconnected%s%s\n", rc == LYRLINK_OK ? "" : ": ", rc == LYRLINK_OK ? "" : lyrlink_strerror (rc));
    return rc == LYRLINK_OK ? 0 : 1;
}
