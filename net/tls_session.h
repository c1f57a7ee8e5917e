/* The TLS side of a transport, which each platform supplies: a client
 * session over a connected, blocking socket with send and receive time-outs.
 * Only transport.cpp uses it. */
#ifndef LUMORA_TLS_SESSION_H
#define LUMORA_TLS_SESSION_H

#include <stdint.h>

#include "net.h"

struct TlsSession;

/* Milliseconds on a steady clock, for the handshake's limit. */
int64_t tlsClockMs(void);

/* One receive from the socket for a session: as transportRecv for a plain
 * connection, but when endsAt (on tlsClockMs) is not 0 it waits no longer
 * than until then, and gives TRANSPORT_TIMED_OUT after it. */
int boundedRecv(SocketHandle s, char *buffer, int length, int64_t endsAt);

/* Runs the handshake for host, all of it within limitMs, and verifies the
 * peer. Returns a TlsOutcome; on TLS_AGREED the session is in *out,
 * otherwise nothing is left and the reason is in detail (TLS_DETAIL_SIZE
 * bytes). The socket stays the caller's either way. */
int tlsHandshake(SocketHandle s, const char *host, int limitMs, TlsSession **out, char *detail);

/* As transportSend and transportRecv: a byte count, 0 for an orderly
 * close, or TRANSPORT_FAILED or TRANSPORT_TIMED_OUT. */
int tlsSend(TlsSession *session, const char *data, int length);
int tlsRecv(TlsSession *session, char *buffer, int length);

/* 1 when the peer ended the session with close_notify. */
int tlsCloseNotified(TlsSession *session);

/* Tells the peer the session ends (as far as it goes without waiting) and
 * frees it; the socket is closed by the caller. */
void tlsEnd(TlsSession *session);

#endif
