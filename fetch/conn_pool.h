/* Connections to image hosts: bounded connects, a keep-alive pool of idle
 * sockets per host and port, and a count of consecutive failed connects (or
 * replies that never came) that stops trying a host and port after five.
 *
 * Both tables are process-wide and keyed "host:port", each behind its own
 * lock: the move job's downloaders share the pool, and the failure counts
 * are shared with the update check. A pooled socket belongs to one caller
 * at a time: poolAcquire takes it out of the pool, poolKeep gives it back. */
#ifndef LUMORA_CONN_POOL_H
#define LUMORA_CONN_POOL_H

#include "net.h"

/* The size of the message buffers that fetcher calls fill on failure. */
enum { ERR_MSG_SIZE = 1024 };

/* Connect, send and receive time-outs of the program. */
enum { NET_TIMEOUT_MS = 10000 };

/* Consecutive counted failures after which a host and port is refused. */
enum { CONNECT_FAILURE_LIMIT = 5 };

/* The most idle connections the pool keeps open. Beyond it the least
 * recently used one is closed: a package that links to many hosts must not
 * use up the descriptors that the image files need. */
enum { POOL_CONNECTION_LIMIT = 16 };

/* Connections to one host and port at a time: in use by the move job's
 * downloaders, and idle in the pool. */
enum { CONNECTIONS_PER_HOST = 4 };

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

/* An idle pooled socket for host and port, taken out of the pool, or a new
 * connection; 0 with a message in errMsg when none can be had. The caller
 * owns the socket: it hands a sound one back with poolKeep, else closes it. */
SocketHandle poolAcquire(const char *host, int port, char *errMsg);

/* Gives a sound keep-alive socket back to the pool for the next download
 * from host and port; closes it when CONNECTIONS_PER_HOST are idle already.
 * A full pool closes its least recently used connection to make room. */
void poolKeep(const char *host, int port, SocketHandle s);

/* Closes the idle pooled sockets of host and port. */
void poolRelease(const char *host, int port);

/* The number of idle pooled connections. */
int poolSize(void);

/* Closes every pooled connection and empties the pool. */
void poolCloseAll(void);

/* Counts a connection on which no reply came in time like a failed
 * connect. */
void countHostFailure(const char *host, int port);

/* Forgets host and port's failures: it has answered. */
void hostAnswered(const char *host, int port);

#endif
