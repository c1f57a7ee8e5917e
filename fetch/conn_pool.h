/* Connections to image hosts: bounded connects, a keep-alive pool of one
 * socket per host and port, and a count of consecutive failed connects (or
 * replies that never came) that stops trying a host and port after five.
 *
 * Both tables are process-wide and keyed "host:port". The pool is used by
 * the move job's thread alone; the failure counts are shared with the
 * update check and every read-and-update of them holds one lock. */
#ifndef LUMORA_CONN_POOL_H
#define LUMORA_CONN_POOL_H

#include "net.h"

/* The size of the message buffers that fetcher calls fill on failure. */
enum { ERR_MSG_SIZE = 1024 };

/* Connect, send and receive time-outs of the program. */
enum { NET_TIMEOUT_MS = 10000 };

/* Consecutive counted failures after which a host and port is refused. */
enum { CONNECT_FAILURE_LIMIT = 5 };

/* The most connections the pool keeps open. Beyond it the least recently
 * used one is closed: a package that links to many hosts must not use up
 * the descriptors that the image files need. */
enum { POOL_CONNECTION_LIMIT = 16 };

/* Creates both tables (once; later calls do nothing). */
void initConnTables(void);

/* Forgets every failure count. */
void resetConnFailCounts(void);

/* Changes the connect and the send/receive time-outs (tests shorten them). */
void setNetTimeouts(int connectMs, int ioMs);

/* Resolves host and connects to it within the time-out. Returns the
 * connected socket (with send and receive time-outs set), or 0 with a
 * message in errMsg (ERR_MSG_SIZE bytes). */
SocketHandle connectHost(const char *host, int port, char *errMsg);

/* The pooled socket for host and port, or a new connection that is pooled;
 * 0 with a message in errMsg when none can be had. */
SocketHandle poolAcquire(const char *host, int port, char *errMsg);

/* Takes host and port's socket out of the pool; the caller closes it. */
void poolRelease(const char *host, int port);

/* The number of pooled connections. */
int poolSize(void);

/* Closes every pooled connection and empties the pool. */
void poolCloseAll(void);

/* Counts a connection on which no reply came in time like a failed
 * connect. */
void countHostFailure(const char *host, int port);

/* Forgets host and port's failures: it has answered. */
void hostAnswered(const char *host, int port);

#endif
