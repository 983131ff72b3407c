// Binds a Winsock UDP socket to port 50000 (or argv[1]) on all addresses and keeps it open for
// argv[2] milliseconds (default 3000): lets a script see, from outside Wine, in which network
// namespace Wine created the socket.
#include <winsock2.h>

#include <cstdio>
#include <cstdlib>

int main (int argc, char** argv)
{
    const int port = argc > 1 ? std::atoi (argv[1]) : 50000;
    const int holdMs = argc > 2 ? std::atoi (argv[2]) : 3000;

    WSADATA wsa;
    if (WSAStartup (MAKEWORD (2, 2), &wsa) != 0)
        return 2;

    const SOCKET s = socket (AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return 3;

    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons ((u_short)port);
    addr.sin_addr.s_addr = htonl (INADDR_ANY);
    if (bind (s, reinterpret_cast<sockaddr*> (&addr), sizeof addr) != 0)
    {
        std::printf ("windows_udp_bind: bind to UDP %d failed (%d)\n", port, WSAGetLastError());
        return 4;
    }
    std::printf ("windows_udp_bind: bound UDP %d\n", port);
    std::fflush (stdout);
    Sleep ((DWORD)holdMs);
    closesocket (s);
    WSACleanup();
    return 0;
}
