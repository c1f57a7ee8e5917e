/* Windows side of the socket layer: Windows Sockets 2.2 and critical
 * sections. A failed non-blocking connect shows in select's exception set,
 * not as writable, so both sets are watched. */
#include "net.h"

#include <stdlib.h>
#include <string.h>
#include <winsock2.h>
#include <ws2tcpip.h>

int netStartup(uint16_t *version) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
    *version = data.wVersion;
    return 1;
}

void netCleanup(void) {
    WSACleanup();
}

/* The socket address of an address and port; returns its length. */
static int socketAddress(const NetAddress *a, int port, struct sockaddr_storage *out) {
    memset(out, 0, sizeof *out);
    if (a->ipv6) {
        struct sockaddr_in6 *to = (struct sockaddr_in6 *)out;
        to->sin6_family = AF_INET6;
        memcpy(&to->sin6_addr, a->bytes, 16);
        to->sin6_port = htons((u_short)port);
        to->sin6_scope_id = a->scope;
        return sizeof *to;
    }
    struct sockaddr_in *to = (struct sockaddr_in *)out;
    to->sin_family = AF_INET;
    memcpy(&to->sin_addr, a->bytes, 4);
    to->sin_port = htons((u_short)port);
    return sizeof *to;
}

/* Takes one address of a lookup; 0 for a family that is neither. */
static int takeAddress(const struct sockaddr *from, NetAddress *to) {
    memset(to, 0, sizeof *to);
    if (from->sa_family == AF_INET6) {
        const struct sockaddr_in6 *six = (const struct sockaddr_in6 *)from;
        to->ipv6 = 1;
        memcpy(to->bytes, &six->sin6_addr, 16);
        to->scope = six->sin6_scope_id;
        return 1;
    }
    if (from->sa_family != AF_INET) return 0;
    memcpy(to->bytes, &((const struct sockaddr_in *)from)->sin_addr, 4);
    return 1;
}

int netResolve(const char *host, NetAddress *addresses, int max) {
    struct addrinfo hints, *found = NULL;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // an empty name would stand for this machine here, but for nothing elsewhere
    if (!*host || getaddrinfo(host, NULL, &hints, &found) != 0) return 0;
    int n = 0;
    for (struct addrinfo *at = found; at && n < max; at = at->ai_next) n += takeAddress(at->ai_addr, &addresses[n]);
    freeaddrinfo(found);
    return n;
}

SocketHandle netSocket(int ipv6) {
    SOCKET s = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    return s == INVALID_SOCKET ? 0 : (SocketHandle)s;
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

/* A listening socket at the loopback address and *port (see net.h). */
static SocketHandle listenAt(const NetAddress *loopback, int backlog, int *port) {
    SocketHandle s = netSocket(loopback->ipv6);
    struct sockaddr_storage at;
    int size = socketAddress(loopback, *port, &at);
    BOOL reuse = TRUE;
    if (s && *port) setsockopt((SOCKET)s, SOL_SOCKET, SO_REUSEADDR, (const char *)&reuse, sizeof reuse);
    if (!s || bind((SOCKET)s, (struct sockaddr *)&at, size) != 0 || listen((SOCKET)s, backlog) != 0 ||
        getsockname((SOCKET)s, (struct sockaddr *)&at, &size) != 0) {
        netClose(s);
        return 0;
    }
    *port = ntohs(loopback->ipv6 ? ((struct sockaddr_in6 *)&at)->sin6_port : ((struct sockaddr_in *)&at)->sin_port);
    return s;
}

SocketHandle netListenLoopback(int backlog, int *port) {
    const NetAddress loopback = {0, {127, 0, 0, 1}, 0};
    return listenAt(&loopback, backlog, port);
}

SocketHandle netListenLoopback6(int backlog, int *port) {
    const NetAddress loopback = {1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 0};
    return listenAt(&loopback, backlog, port);
}

/* select on one socket for reading, up to timeoutMs. */
static int waitReadable(SocketHandle s, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET((SOCKET)s, &readable);
    struct timeval tv = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return select(0, &readable, NULL, NULL, &tv);
}

SocketHandle netAccept(SocketHandle listener, int timeoutMs) {
    if (waitReadable(listener, timeoutMs) <= 0) return 0;
    SOCKET s = accept((SOCKET)listener, NULL, NULL);
    return s == INVALID_SOCKET ? 0 : (SocketHandle)s;
}

int netWaitReadable(SocketHandle s, int timeoutMs) {
    int n = waitReadable(s, timeoutMs);
    return n < 0 ? -1 : n > 0;
}

void netClose(SocketHandle s) {
    if (s) closesocket((SOCKET)s);
}

void netAbort(SocketHandle s) {
    struct linger now = {1, 0};
    setsockopt((SOCKET)s, SOL_SOCKET, SO_LINGER, (const char *)&now, sizeof now);
    closesocket((SOCKET)s);
}

int netLastError(void) {
    return WSAGetLastError();
}

struct NetLock {
    CRITICAL_SECTION section;
};

NetLock *netLockCreate(void) {
    NetLock *lock = (NetLock *)malloc(sizeof(NetLock));
    if (lock) InitializeCriticalSection(&lock->section);
    return lock;
}

void netLockAcquire(NetLock *lock) {
    EnterCriticalSection(&lock->section);
}

void netLockRelease(NetLock *lock) {
    LeaveCriticalSection(&lock->section);
}
