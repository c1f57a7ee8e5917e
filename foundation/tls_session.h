/* The TLS side of a transport, which each platform supplies: a client
 * session over a connected, blocking socket with send and receive time-outs.
 * Only transport.cpp uses it. */
#ifndef LUMORA_TLS_SESSION_H
#define LUMORA_TLS_SESSION_H

#include "net.h"

struct TlsSession;

/* Runs the handshake for host and verifies the peer. Returns a TlsOutcome;
 * on TLS_AGREED the session is in *out, otherwise nothing is left and the
 * reason is in detail (TLS_DETAIL_SIZE bytes). The socket stays the
 * caller's either way. */
int tlsHandshake(SocketHandle s, const char *host, TlsSession **out, char *detail);

/* As transportSend and transportRecv: a byte count, or 0 or less. */
int tlsSend(TlsSession *session, const char *data, int length);
int tlsRecv(TlsSession *session, char *buffer, int length);

/* Tells the peer the session ends (as far as it goes without waiting) and
 * frees it; the socket is closed by the caller. */
void tlsEnd(TlsSession *session);

#endif
