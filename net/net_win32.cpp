/* Windows side of the socket layer: Windows Sockets 2.2. A failed
 * non-blocking connect shows in select's exception set, not as writable, so
 * both sets are watched. */
#include "net.h"
#include "net_cut.h"

#include <stdlib.h>
#include <string.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include "socket_address.h"

int netStartup(uint16_t *version) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
    *version = data.wVersion;
    return 1;
}

void netCleanup(void) {
    WSACleanup();
}

int netResolve(const char *host, NetAddress *addresses, int max) {
    // an empty name would stand for this machine here, but for nothing elsewhere
    return *host ? resolveAddresses(host, addresses, max) : 0;
}

SocketHandle netSocket(int ipv6) {
    SOCKET s = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return 0;
    netTrack((SocketHandle)s);
    return (SocketHandle)s;
}

int netSetNonBlocking(SocketHandle s, int on) {
    u_long mode = on ? 1 : 0;
    return ioctlsocket((SOCKET)s, FIONBIO, &mode);
}

int netConnect(SocketHandle s, const NetAddress *address, int port) {
    struct sockaddr_storage to;
    int size = socketAddress(address, port, &to);
    if (connect((SOCKET)s, (struct sockaddr *)&to, size) == 0) return 1;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

int netWaitConnected(SocketHandle s, int timeoutMs, int *detail) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET((SOCKET)s, &writable);
    FD_SET((SOCKET)s, &failed);
    struct timeval tv = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int n = select(0, NULL, &writable, &failed, &tv);
    *detail = n < 0 ? WSAGetLastError() : 0;
    if (n < 0) return -2;
    if (n == 0) return 0;
    int error = 0, size = sizeof error;
    getsockopt((SOCKET)s, SOL_SOCKET, SO_ERROR, (char *)&error, &size);
    *detail = error;
    return FD_ISSET((SOCKET)s, &failed) || error != 0 ? -1 : 1;
}

void netSetTimeouts(SocketHandle s, int timeoutMs) {
    DWORD ms = (DWORD)timeoutMs;
    setsockopt((SOCKET)s, SOL_SOCKET, SO_SNDTIMEO, (const char *)&ms, sizeof ms);
    setsockopt((SOCKET)s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&ms, sizeof ms);
}

int netSend(SocketHandle s, const char *data, int length) {
    return send((SOCKET)s, data, length, 0);
}

int netRecv(SocketHandle s, char *buffer, int length) {
    return recv((SOCKET)s, buffer, length, 0);
}

int netTimedOut(void) {
    return WSAGetLastError() == WSAETIMEDOUT;
}

SocketHandle netListenLoopback(int backlog, int *port) {
    SocketHandle s = netSocket(0);
    struct sockaddr_storage at;
    int size = socketAddress(&LOOPBACK_IPV4, *port, &at);
    BOOL reuse = TRUE;
    if (s && *port) setsockopt((SOCKET)s, SOL_SOCKET, SO_REUSEADDR, (const char *)&reuse, sizeof reuse);
    if (!s || bind((SOCKET)s, (struct sockaddr *)&at, size) != 0 || listen((SOCKET)s, backlog) != 0 ||
        getsockname((SOCKET)s, (struct sockaddr *)&at, &size) != 0) {
        netClose(s);
        return 0;
    }
    *port = socketPort(&at);
    return s;
}

/* select on the one socket for reading, up to timeoutMs. */
int netWaitReadable(SocketHandle s, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET((SOCKET)s, &readable);
    struct timeval tv = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int n = select(0, &readable, NULL, NULL, &tv);
    return n < 0 ? -1 : n > 0;
}

void netClose(SocketHandle s) {
    if (!s) return;
    netForget(s);
    closesocket((SOCKET)s);
}

int netLastError(void) {
    return WSAGetLastError();
}

/* A shutdown fails the calls made after it, but leaves one under way
 * blocked until its time-out; cancelling the socket's I/O ends that one
 * (from Vista on). */
void netShutdown(SocketHandle s) {
    typedef BOOL(WINAPI * CancelIoExFunction)(HANDLE, LPOVERLAPPED);
    static CancelIoExFunction cancelIo =
        (CancelIoExFunction)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "CancelIoEx");
    shutdown((SOCKET)s, SD_BOTH);
    if (cancelIo) cancelIo((HANDLE)s, NULL);
}
