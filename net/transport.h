/* A connection that carries bytes either in the clear or over TLS, so that
 * the fetcher reads and writes one way whichever it has.
 *
 * TLS comes from the platform: OpenSSL with its default trust store on
 * POSIX systems (SSL_CERT_FILE and SSL_CERT_DIR choose another), Schannel
 * with the system's certificate store on Windows. The peer's certificate is
 * always verified, and the host name against it. */
#ifndef LUMORA_TRANSPORT_H
#define LUMORA_TRANSPORT_H

#include "net.h"

struct Transport;

/* The size of the buffer that receives why a TLS session was not had. */
enum { TLS_DETAIL_SIZE = 256 };

/* Outcomes of starting TLS. */
enum TlsOutcome {
    TLS_AGREED = 1,     /* a verified session */
    TLS_NO_SESSION = 0, /* no session could be agreed (protocol, cipher, the peer left) */
    TLS_UNTRUSTED = -1  /* a session, but the certificate does not verify for the host */
};

/* Takes over the connected socket for plain transfers; NULL (the socket
 * closed) when out of memory. */
Transport *transportPlain(SocketHandle s);

/* Takes over the connected socket and runs the TLS handshake for host,
 * which must be over within limitMs however the peer paces its bytes.
 * Returns TLS_AGREED with the transport in *out, or another outcome with the
 * socket closed and the reason in detail (TLS_DETAIL_SIZE bytes). */
int transportStartTls(SocketHandle s, const char *host, int limitMs, Transport **out, char *detail);

/* Failures of a send or receive. */
enum {
    TRANSPORT_FAILED = -1,    /* an error, a reset, or a close in the middle of a TLS record */
    TRANSPORT_TIMED_OUT = -2  /* nothing came within the socket's time-out */
};

/* One send or receive: the byte count, or a failure above. A receive
 * returns 0 only when the peer closed in order: over TLS a close_notify, or
 * the connection's end between two whole records. */
int transportSend(Transport *t, const char *data, int length);
int transportRecv(Transport *t, char *buffer, int length);

/* 1 when the peer announced its close: a TLS close_notify. Any other end of
 * the connection may be a cut that only the data can tell from an end. */
int transportCloseNotified(Transport *t);

/* Ends the session, closes the socket and frees the transport; accepts NULL. */
void transportClose(Transport *t);

#endif
