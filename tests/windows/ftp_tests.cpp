// The FTP client's time-out on Winsock (WSAPoll), run under Wine on the host
// by scripts/wine-ftp-tests: a server that accepts the connection and never
// answers is given up on. Login, listing and byte-exact downloads on Winsock
// run in scripts/windows-tests, where firmware-updater-sim.exe takes the
// online road through this client; the Linux build runs the client on BSD
// sockets in tst_online_flow.
//
// Prints "WINE-TEST <name> PASS" or "WINE-TEST <name> FAIL: why" and ends
// with "N passed, M failed".
#define __USE_MINGW_ANSI_STDIO 1 // %llu in printf
#include "online/ftpclient.h"

#include <cstdio>
#include <string>

namespace {
bool g_timedOut = false;
} // namespace

void ftpTrace(const std::string& text)
{
    g_timedOut = g_timedOut || text == "Control Socket receiving timed out.";
}

int main()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // A listening socket that never accepts: the connection completes in
    // the backlog and no byte ever comes.
    WSADATA wsa;
    const bool up = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    const SOCKET listener = up ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof a;
    std::string why;
    if (listener == INVALID_SOCKET || bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listener, 4) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        why = "no silent listener";
    } else {
        const ULONGLONG start = GetTickCount64();
        FtpClient client;
        client.SetServerInfo(std::string("127.0.0.1"), "ftp", "qzx", ntohs(a.sin_port));
        client.SetTimeout(200);
        if (client.Login() != 0)
            why = "no control connection";
        else if (client.GetFileSize("image.bin") != -1)
            why = "a size from a silent server";
        else if (!g_timedOut)
            why = "the time-out was not traced";
        std::printf("WINE-INFO the silent server took %llu ms\n", GetTickCount64() - start);
    }
    if (why.empty())
        std::printf("WINE-TEST winsock-silent-server-bounded PASS\n1 passed, 0 failed\n");
    else
        std::printf("WINE-TEST winsock-silent-server-bounded FAIL: %s\n0 passed, 1 failed\n", why.c_str());
    return why.empty() ? 0 : 1;
}
