/* Connections to image hosts: bounded connects, TLS for https links and a
 * keep-alive pool of idle connections per scheme, host and port. A scheme,
 * host and port that failed five times in a row is not tried; the caller's
 * context says which counts decide that (download_context.h).
 *
 * The pool is process-wide, keyed "scheme://host:port", behind its own
 * lock: the move job's downloaders share it. A pooled connection belongs to
 * one caller at a time: poolAcquire takes it out of the pool, poolKeep
 * gives it back.
 *
 * An https link whose TLS port cannot be reached, or whose host agrees on no
 * TLS session, is fetched over plain HTTP as earlier versions did (on port
 * 80 for the default port), and the log says why. A certificate that does
 * not verify is never a reason for that, nor is any failure at a host that
 * has completed a handshake in the job: the connection fails. */
#ifndef LUMORA_CONN_POOL_H
#define LUMORA_CONN_POOL_H

#include <stdint.h>

#include <string>

#include "download_context.h"
#include "net.h"
#include "transport.h"
#include "url.h"

/* The size of the message buffers that fetcher calls fill on failure. */
enum { ERR_MSG_SIZE = 1024 };

/* Connect, send and receive time-outs of the program. */
enum { NET_TIMEOUT_MS = 10000 };

/* A TLS handshake may take this many connect time-outs, all of it: a
 * working host needs well under a second, and a peer that drips its
 * handshake out must not hold the connection longer. */
enum { TLS_HANDSHAKE_CONNECT_TIMEOUTS = 2 };

/* The most idle connections the pool keeps open. Beyond it the least
 * recently used one is closed: a package that links to many hosts must not
 * use up the descriptors that the image files need. */
enum { POOL_CONNECTION_LIMIT = 16 };

/* Connections to one host and port in use at a time, by the host and port
 * they go to after redirects and fallbacks (names in any letter case), and
 * idle in the pool. A caller beyond it waits for one to be given back. */
enum { CONNECTIONS_PER_HOST = 4 };

/* Creates the pool and the process-wide failure counts (once; later calls
 * do nothing). */
void initConnTables(void);

/* Changes the connect and the send/receive time-outs (tests shorten them). */
void setNetTimeouts(int connectMs, int ioMs);

/* Resolves host and connects to it within the time-out, counting failures
 * in the process-wide counts under the scheme (https 1 or 0), host and port. Returns the connected
 * socket (with send and receive time-outs set), or 0 with a message in
 * errMsg (ERR_MSG_SIZE bytes). */
SocketHandle connectHost(int https, const char *host, int port, char *errMsg);

/* 1 with a message in errMsg (ERR_MSG_SIZE bytes) once every connection
 * was cut (net.h's netCutAll): no connection is made from then on. */
int connectionsCut(char *errMsg);

/* Why no connection could be had for a link (a cut aside: connectionsCut). */
enum ConnectFailure {
    CONNECT_UNREACHABLE, /* no address, no connect, or no TLS session */
    CONNECT_SKIPPED,     /* the host and port failed CONNECT_FAILURE_LIMIT times in a row */
    CONNECT_UNTRUSTED,   /* its certificate does not verify */
};

/* A new connection for the parsed link: TLS for https, else plain. When it
 * falls back to plain HTTP, parts is changed to the scheme and port used.
 * NULL with a message in errMsg, and the kind in *why unless why is NULL,
 * when none can be had. Failures count, and log lines go, as the context
 * says. The caller gives it back with poolKeep or connectionClose. */
Transport *connectLink(const DownloadContext *context, UrlParts *parts, char *errMsg, ConnectFailure *why);

/* As connectLink, but an idle pooled connection for the link's scheme, host
 * and port when there is one, taken out of the pool. The caller owns the
 * connection: it hands a sound one back with poolKeep, else closes it. */
Transport *poolAcquire(const DownloadContext *context, UrlParts *parts, char *errMsg, ConnectFailure *why);

/* Gives a sound keep-alive connection back to the pool for the next
 * download from the link's scheme, host and port (as poolAcquire left
 * parts); closes it when CONNECTIONS_PER_HOST are idle already. A full pool
 * closes its least recently used connection to make room. */
void poolKeep(const UrlParts *parts, Transport *t);

/* The ms this thread has waited for a host and port's connection slot
 * since it last asked; asking starts the count again. */
int64_t takeSlotWaits(void);

/* Closes a connection that connectLink or poolAcquire handed out, giving
 * back its place under CONNECTIONS_PER_HOST; accepts NULL. */
void connectionClose(Transport *t);

/* Closes the idle pooled connections of the link's scheme, host and port. */
void poolRelease(const UrlParts *parts);

/* The number of idle pooled connections. */
int poolSize(void);

/* Closes every pooled connection and empties the pool. */
void poolCloseAll(void);

#endif
