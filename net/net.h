/* Sockets, behind the platform layer: BSD sockets on POSIX systems, Windows
 * Sockets on Windows. TCP over IPv4 and IPv6, which is all the fetcher
 * speaks.
 *
 * A socket handle is never 0, so that 0 can mean "no socket" in the tables
 * and results that carry handles. Results follow the program's convention
 * where they are yes or no (1 or 0); calls that wrap one system call return
 * what it returns (a byte count, or a negative value on error). */
#ifndef LUMORA_NET_H
#define LUMORA_NET_H

#include <stdint.h>

typedef uintptr_t SocketHandle;

/* Starts the socket library. Returns 1 with the version obtained in
 * *version (low byte major, high byte minor), or 0. POSIX needs nothing. */
int netStartup(uint16_t *version);
void netCleanup(void);

/* One address that a lookup gave, in network byte order. */
struct NetAddress {
    int ipv6;                /* 1 for IPv6, 0 for IPv4 */
    unsigned char bytes[16]; /* the address; IPv4 uses the first 4 */
    uint32_t scope;          /* an IPv6 link-local address's interface */
};

/* The most addresses one lookup keeps. */
enum { NET_ADDRESS_LIMIT = 8 };

/* Looks up host, a name or a literal address (IPv6 without brackets), for
 * IPv4 and IPv6 alike. Keeps up to max addresses in the resolver's order,
 * which is the order to try them in. Returns how many, 0 when the lookup
 * fails. */
int netResolve(const char *host, NetAddress *addresses, int max);

/* A new TCP stream socket for IPv6 (ipv6 1) or IPv4, or 0 when none can be
 * created. */
SocketHandle netSocket(int ipv6);

/* Switches non-blocking mode on or off. Returns 0, or the system's error
 * result. */
int netSetNonBlocking(SocketHandle s, int on);

/* Starts connecting to the address and port, on a socket of its family.
 * Returns 1 when connected at once, 0 when under way (non-blocking) and -1
 * on failure. */
int netConnect(SocketHandle s, const NetAddress *address, int port);

/* Waits up to timeoutMs for a connect under way. Returns 1 when it is
 * connected, 0 on time-out, -1 when it failed (refused or unreachable) and
 * -2 when the wait itself failed; *detail receives the system's code. */
int netWaitConnected(SocketHandle s, int timeoutMs, int *detail);

/* Sets the send and receive time-outs. */
void netSetTimeouts(SocketHandle s, int timeoutMs);

/* One send or receive call: the byte count; 0 from a receive when the
 * peer closed the connection in order; less than 0 when the time-out passed
 * or an error happened (netTimedOut tells which). */
int netSend(SocketHandle s, const char *data, int length);
int netRecv(SocketHandle s, char *buffer, int length);

/* 1 when the last failed send or receive of this thread ran out of time,
 * 0 when it failed otherwise (a reset, say). */
int netTimedOut(void);

/* A socket listening on 127.0.0.1 with the given backlog, or 0: at *port
 * when it is not 0 (an address that closed connections still hold may be
 * taken again), else at a free port, which *port receives. For local
 * servers: the demo's (lumora-sample finds a free port by it) and the
 * tests'. */
SocketHandle netListenLoopback(int backlog, int *port);

/* Waits up to timeoutMs for data (or the peer's close) to read. Returns 1
 * when a receive will not block, 0 on time-out, -1 on error. */
int netWaitReadable(SocketHandle s, int timeoutMs);

/* Closes the socket; accepts 0. */
void netClose(SocketHandle s);

/* The last socket error code of this thread. */
int netLastError(void);

/* Cuts every connection at once, for a stop that cannot wait: each socket
 * that netSocket made and that is still open is shut down, so that a send,
 * receive or handshake blocked on it returns at once, and so is every
 * socket made later. From then on netCutDone answers 1. */
void netCutAll(void);
int netCutDone(void);

#endif
