/* The keep-alive pool of idle connections per scheme, host and port, and
 * the one way a download gets a connection: a slot of its host and port
 * (host_slots.h), then an idle pooled connection or a new one
 * (connect.h), and after a failed https attempt its fallback.
 *
 * The pool is process-wide, keyed "scheme://host:port", behind its own
 * lock: the move job's downloaders share it. A pooled connection belongs to
 * one caller at a time: poolAcquire takes it out of the pool, poolKeep
 * gives it back. */
#ifndef LUMORA_CONN_POOL_H
#define LUMORA_CONN_POOL_H

#include "connect.h"
#include "download_context.h"
#include "host_slots.h"
#include "transport.h"
#include "url.h"

/* The most idle connections the pool keeps open. Beyond it the least
 * recently used one is closed: a package that links to many hosts must not
 * use up the descriptors that the image files need. */
enum { POOL_CONNECTION_LIMIT = 16 };

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

/* Closes a connection that connectLink or poolAcquire handed out, giving
 * back its place under CONNECTIONS_PER_HOST; accepts NULL. */
void connectionClose(Transport *t);

/* Closes every pooled connection and empties the pool. */
void poolCloseAll(void);

#endif
