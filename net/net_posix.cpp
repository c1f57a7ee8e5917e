/* POSIX side of the socket layer: BSD sockets. A socket
 * that the system numbers 0 (possible when standard input is closed) is
 * moved to another number, since 0 means "no socket" to the callers. */
#include "net.h"
#include "net_cut.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "socket_address.h"

int netStartup(uint16_t *version) {
    *version = 0x0202;
    return 1;
}

void netCleanup(void) {}

int netResolve(const char *host, NetAddress *addresses, int max) {
    return resolveAddresses(host, addresses, max);
}

/* Moves a descriptor numbered 0 elsewhere; -1 stays -1. */
static int notZero(int fd) {
    if (fd == 0) {
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
        close(fd);
        fd = moved;
    }
    return fd;
}

/* poll on one descriptor for the events, restarted after signals. */
static int waitFor(SocketHandle s, short events, int timeoutMs) {
    struct pollfd p = {(int)s, events, 0};
    int n;
    do n = poll(&p, 1, timeoutMs);
    while (n < 0 && errno == EINTR);
    return n;
}

SocketHandle netSocket(int ipv6) {
    int fd = notZero(socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0));
    if (fd < 0) return 0;
    netTrack((SocketHandle)fd);
    return (SocketHandle)fd;
}

int netSetNonBlocking(SocketHandle s, int on) {
    int flags = fcntl((int)s, F_GETFL, 0);
    if (flags < 0) return flags;
    return fcntl((int)s, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) < 0 ? -1 : 0;
}

int netConnect(SocketHandle s, const NetAddress *address, int port) {
    struct sockaddr_storage to;
    socklen_t size = (socklen_t)socketAddress(address, port, &to);
    if (connect((int)s, (struct sockaddr *)&to, size) == 0) return 1;
    return errno == EINPROGRESS ? 0 : -1;
}

int netWaitConnected(SocketHandle s, int timeoutMs, int *detail) {
    int n = waitFor(s, POLLOUT, timeoutMs);
    *detail = n < 0 ? errno : 0;
    if (n < 0) return -2;
    if (n == 0) return 0;
    // writable also means a connect that failed: its error is pending
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt((int)s, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    *detail = error;
    return error == 0 ? 1 : -1;
}

void netSetTimeouts(SocketHandle s, int timeoutMs) {
    struct timeval tv = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt((int)s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    setsockopt((int)s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

/* A send or receive on a socket with a time-out is not restarted after a
 * signal handler ran (the console's stop request, say); it is here, so that
 * the transfer in hand goes on. */
int netSend(SocketHandle s, const char *data, int length) {
    ssize_t n;
    do n = send((int)s, data, (size_t)length, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return (int)n;
}

int netRecv(SocketHandle s, char *buffer, int length) {
    ssize_t n;
    do n = recv((int)s, buffer, (size_t)length, 0);
    while (n < 0 && errno == EINTR);
    return (int)n;
}

int netTimedOut(void) {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

SocketHandle netListenLoopback(int backlog, int *port) {
    SocketHandle s = netSocket(0);
    struct sockaddr_storage at;
    socklen_t size = (socklen_t)socketAddress(&LOOPBACK_IPV4, *port, &at);
    int reuse = 1;
    if (s && *port) setsockopt((int)s, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (!s || bind((int)s, (struct sockaddr *)&at, size) != 0 || listen((int)s, backlog) != 0 ||
        getsockname((int)s, (struct sockaddr *)&at, &size) != 0) {
        netClose(s);
        return 0;
    }
    *port = socketPort(&at);
    return s;
}

int netWaitReadable(SocketHandle s, int timeoutMs) {
    int n = waitFor(s, POLLIN, timeoutMs);
    return n < 0 ? -1 : n > 0;
}

void netClose(SocketHandle s) {
    if (!s) return;
    netForget(s);
    close((int)s);
}

int netLastError(void) {
    return errno;
}

void netShutdown(SocketHandle s) {
    shutdown((int)s, SHUT_RDWR);
}
