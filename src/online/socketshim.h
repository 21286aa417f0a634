// The few socket calls the FTP client needs, mapped onto BSD sockets or onto
// Winsock 2.2. Everything above this header is the same code on both. Free of
// Qt so the client compiles on its own for either platform.
#pragma once

#ifdef _WIN32
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600 // WSAPoll and inet_pton
#endif
// The header reaches Qt code through ftpclient.h: no min/max macros.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstddef>
#include <cstdlib>

namespace sockshim {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
using IoLength = int;
constexpr int kSendFlags = 0;

inline bool startup()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
inline void cleanup()
{
    WSACleanup();
}
inline int lastError()
{
    return WSAGetLastError();
}
inline void closeSocket(Socket s)
{
    closesocket(s);
}
inline bool setNonBlocking(Socket s, bool on)
{
    u_long mode = on ? 1 : 0;
    return ioctlsocket(s, FIONBIO, &mode) == 0;
}
inline bool connectPending(int error)
{
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}
constexpr int kTimedOut = WSAETIMEDOUT;
constexpr int kBadAddress = WSAEINVAL;
inline int pollSockets(pollfd* fds, unsigned long count, int timeoutMs)
{
    return WSAPoll(fds, count, timeoutMs);
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
using IoLength = std::size_t;
// A peer that has closed must not kill the process with SIGPIPE.
constexpr int kSendFlags = MSG_NOSIGNAL;

inline bool startup()
{
    return true;
}
inline void cleanup() {}
inline int lastError()
{
    return errno;
}
inline void closeSocket(Socket s)
{
    ::close(s);
}
inline bool setNonBlocking(Socket s, bool on)
{
    const int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0)
        return false;
    return fcntl(s, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}
inline bool connectPending(int error)
{
    return error == EINPROGRESS;
}
constexpr int kTimedOut = ETIMEDOUT;
constexpr int kBadAddress = EINVAL;
inline int pollSockets(pollfd* fds, unsigned long count, int timeoutMs)
{
    return ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
}
#endif

// Waits until `s` can be read (or written) for at most `timeoutMs`. False on
// time-out or error; a closed peer counts as readable (the read returns 0).
inline bool waitReady(Socket s, bool forWrite, int timeoutMs)
{
    pollfd p{};
    p.fd = s;
    p.events = forWrite ? POLLOUT : POLLIN;
    return pollSockets(&p, 1, timeoutMs) == 1;
}

inline int receive(Socket s, char* buffer, std::size_t capacity)
{
    return static_cast<int>(::recv(s, buffer, static_cast<IoLength>(capacity), 0));
}

inline int sendBytes(Socket s, const char* data, std::size_t length)
{
    return static_cast<int>(::send(s, data, static_cast<IoLength>(length), kSendFlags));
}

// The error a non-blocking connect ended with (0 when it succeeded).
inline int pendingError(Socket s)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        return lastError();
    return error;
}

// The console "pause" of a failed login, only where a console can answer it.
inline void pauseConsole()
{
#ifdef _WIN32
    if (GetConsoleWindow() != nullptr)
        std::system("pause");
#endif
}

} // namespace sockshim
