/* The test servers' socket calls; see test_net.h. The two platforms differ
 * here only in the socket's type and in what an accept returns, so one file
 * holds both. */
#include "test_net.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
typedef SOCKET NativeSocket;
typedef int AddressSize;

static SocketHandle acceptedHandle(SOCKET s) {
    return s == INVALID_SOCKET ? 0 : (SocketHandle)s;
}
#else
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
typedef int NativeSocket;
typedef socklen_t AddressSize;

/* 0 for none; a descriptor numbered 0 is moved, since 0 means "no socket". */
static SocketHandle acceptedHandle(int fd) {
    if (fd == 0) {
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
        close(fd);
        fd = moved;
    }
    return fd < 0 ? 0 : (SocketHandle)fd;
}
#endif

SocketHandle netListenLoopback6(int backlog, int *port) {
    SocketHandle s = netSocket(1);
    struct sockaddr_in6 at = {};
    at.sin6_family = AF_INET6;
    at.sin6_addr.s6_addr[15] = 1;  // ::1
    at.sin6_port = htons((unsigned short)*port);
    AddressSize size = sizeof at;
    int reuse = 1;  // a port that closed connections still hold may be taken again
    if (s && *port) setsockopt((NativeSocket)s, SOL_SOCKET, SO_REUSEADDR, (const char *)&reuse, sizeof reuse);
    if (!s || bind((NativeSocket)s, (struct sockaddr *)&at, size) != 0 || listen((NativeSocket)s, backlog) != 0 ||
        getsockname((NativeSocket)s, (struct sockaddr *)&at, &size) != 0) {
        netClose(s);
        return 0;
    }
    *port = ntohs(at.sin6_port);
    return s;
}

SocketHandle netAccept(SocketHandle listener, int timeoutMs) {
    if (netWaitReadable(listener, timeoutMs) <= 0) return 0;
    return acceptedHandle(accept((NativeSocket)listener, NULL, NULL));
}

void netAbort(SocketHandle s) {
    struct linger now = {1, 0};
    setsockopt((NativeSocket)s, SOL_SOCKET, SO_LINGER, (const char *)&now, sizeof now);
    netClose(s);
}
