/* Opening connections to image hosts: a connect bounded in time, TLS for
 * https links, and the one decision to fall back to plain HTTP. Failures
 * count, and log lines go, as the caller's context says
 * (download_context.h).
 *
 * An https link whose TLS port cannot be reached, or whose host agrees on no
 * TLS session, is fetched over plain HTTP (on port 80 for the default port),
 * and the log says why. A certificate that does not verify is never a
 * reason for that, nor is any failure at a host that has completed a
 * handshake in the job: the connection fails. */
#ifndef LUMORA_CONNECT_H
#define LUMORA_CONNECT_H

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

/* How often a wait looks whether the connections were cut. */
enum { CUT_POLL_MS = 50 };

/* Changes the connect and the send/receive time-outs (tests shorten them). */
void setNetTimeouts(int connectMs, int ioMs);

/* 1 with a message in errMsg (ERR_MSG_SIZE bytes) once every connection
 * was cut (net.h's netCutAll): no connection is made from then on. */
int connectionsCut(char *errMsg);

/* Why no connection could be had for a link (a cut aside: connectionsCut). */
enum ConnectFailure {
    CONNECT_UNREACHABLE, /* no address, no connect, or no TLS session */
    CONNECT_SKIPPED,     /* the host and port failed CONNECT_FAILURE_LIMIT times in a row */
    CONNECT_UNTRUSTED,   /* its certificate does not verify */
};

/* 1 with the message in errMsg and CONNECT_SKIPPED in *why when the link's
 * scheme, host and port has failed too often to be tried. */
int linkRefused(const DownloadContext *context, const UrlParts *parts, char *errMsg, ConnectFailure *why);

/* Opens a new connection for the link, TLS for https, with send and receive
 * time-outs set; the caller owns it. NULL when none was had, with the
 * message in errMsg (ERR_MSG_SIZE bytes) and the kind in *why; *outcome is
 * then TLS_UNTRUSTED when an https link's certificate did not verify. */
Transport *openLink(const DownloadContext *context, const UrlParts *parts, char *errMsg, int *outcome,
                    ConnectFailure *why);

/* After a failed attempt with that outcome (why its message): 1 when the
 * link falls back to plain HTTP, with parts changed to the scheme and port
 * to try, logged; 0 when it does not: a plain link, a certificate that did
 * not verify, or a host known to speak TLS (logged). */
int fallBack(const DownloadContext *context, UrlParts *parts, int outcome, const char *why);

#endif
