#include "transport/native/Winsock_windows.h"

#include <mutex>

namespace lyrlink
{

void startWinsockOnce()
{
    // A process-wide lock guards the started marker: the first caller starts the library, every
    // later one finds the marker.
    static std::mutex lock;
    static bool started = false;
    const std::lock_guard<std::mutex> g (lock);
    if (started)
        return;
    WSADATA data {};
    (void) ::WSAStartup (MAKEWORD (1, 1), &data);
    started = true;
}

} // namespace lyrlink
