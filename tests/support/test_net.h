/* The socket calls that only the test servers (and the benchmarks' delaying
 * server) make, beside net.h's: a listener on ::1, a bounded accept and a
 * close by reset. Windows Sockets on Windows, BSD sockets elsewhere. */
#ifndef LUMORA_TESTS_TEST_NET_H
#define LUMORA_TESTS_TEST_NET_H

#include "net.h"

/* netListenLoopback on ::1; 0 where the host has no IPv6 loopback. */
SocketHandle netListenLoopback6(int backlog, int *port);

/* Waits up to timeoutMs for a connection and accepts it; 0 when none came. */
SocketHandle netAccept(SocketHandle listener, int timeoutMs);

/* Closes the socket with a reset instead of an orderly close, as a failing
 * peer would. */
void netAbort(SocketHandle s);

#endif
