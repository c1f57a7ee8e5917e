/* The TLS side of a transport, which each platform supplies: a client
 * session over a connected, blocking socket with send and receive time-outs.
 * Only transport.cpp uses it. */
#ifndef LUMORA_TLS_SESSION_H
#define LUMORA_TLS_SESSION_H

#include <stdint.h>

#include "net.h"

struct TlsSession;

/* The longest a handshake may take. Each receive has its own time-out, so a
 * peer that drips its handshake out a byte at a time could otherwise hold
 * the connection far beyond an image's deadline; a working host needs well
 * under a second. */
enum { TLS_HANDSHAKE_LIMIT_MS = 20000 };

/* Milliseconds on a steady clock, for the handshake's limit. */
int64_t tlsClockMs(void);

/* Runs the handshake for host and verifies the peer. Returns a TlsOutcome;
 * on TLS_AGREED the session is in *out, otherwise nothing is left and the
 * reason is in detail (TLS_DETAIL_SIZE bytes). The socket stays the
 * caller's either way. */
int tlsHandshake(SocketHandle s, const char *host, TlsSession **out, char *detail);

/* As transportSend and transportRecv: a byte count, 0 for an orderly
 * close, or TRANSPORT_FAILED or TRANSPORT_TIMED_OUT. */
int tlsSend(TlsSession *session, const char *data, int length);
int tlsRecv(TlsSession *session, char *buffer, int length);

/* Tells the peer the session ends (as far as it goes without waiting) and
 * frees it; the socket is closed by the caller. */
void tlsEnd(TlsSession *session);

#endif
