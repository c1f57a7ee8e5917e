/* TLS sessions from OpenSSL; see tls_session.h.
 *
 * One client context serves the process: the default trust store, peer
 * verification on. Each session reads and writes its socket through a small
 * BIO of ours over the socket layer, so that sends never raise SIGPIPE and
 * calls interrupted by a signal go on, as for plain transfers. The BIO also
 * follows the record boundaries in the bytes it passes and notes how the
 * last socket read failed: OpenSSL reports an end without close_notify and
 * a time-out alike, but only the connection's end between two whole records
 * is an orderly close of a body delimited by it. */
#include "tls_session.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "transport.h"

/* The bytes of a record header: type, version, and the length last. */
enum { RECORD_HEADER_SIZE = 5 };

struct TlsSession {
    SSL *ssl;
    SocketHandle sock;
    int headerHeld;                              /* header bytes of the next record seen */
    unsigned char header[RECORD_HEADER_SIZE];
    int recordLeft;                              /* bytes of the current record still to come */
    int readEnd;                                 /* how the last socket read failed: 0 or a TRANSPORT_ code */
    int64_t handshakeEnds;                       /* the handshake's limit on tlsClockMs, 0 after it */
};

/* Follows the record stream over the received bytes. */
static void trackRecords(TlsSession *t, const unsigned char *p, int n) {
    while (n > 0) {
        if (t->recordLeft > 0) {
            int taken = n < t->recordLeft ? n : t->recordLeft;
            t->recordLeft -= taken;
            p += taken;
            n -= taken;
            continue;
        }
        t->header[t->headerHeld++] = *p++;
        n--;
        if (t->headerHeld < RECORD_HEADER_SIZE) continue;
        t->recordLeft = t->header[3] << 8 | t->header[4];
        t->headerHeld = 0;
    }
}

static int socketWrite(BIO *bio, const char *data, int length) {
    BIO_clear_retry_flags(bio);
    return netSend(((TlsSession *)BIO_get_data(bio))->sock, data, length);
}

static int socketRead(BIO *bio, char *buffer, int length) {
    BIO_clear_retry_flags(bio);
    TlsSession *t = (TlsSession *)BIO_get_data(bio);
    int n = boundedRecv(t->sock, buffer, length, t->handshakeEnds);
    if (n > 0) trackRecords(t, (const unsigned char *)buffer, n);
    else if (n < 0) t->readEnd = n;
    else t->readEnd = t->headerHeld == 0 && t->recordLeft == 0 ? 0 : TRANSPORT_FAILED;
    return n < 0 ? -1 : n;
}

static long socketCtrl(BIO *, int command, long, void *) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

static int socketCreate(BIO *bio) {
    BIO_set_init(bio, 1);
    return 1;
}

static BIO_METHOD *newSocketMethod(void) {
    BIO_METHOD *method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "lumora socket");
    if (!method) return NULL;
    BIO_meth_set_write(method, socketWrite);
    BIO_meth_set_read(method, socketRead);
    BIO_meth_set_ctrl(method, socketCtrl);
    BIO_meth_set_create(method, socketCreate);
    return method;
}

static SSL_CTX *newClientContext(void) {
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) return NULL;
    SSL_CTX_set_default_verify_paths(ctx);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, NULL);
    return ctx;
}

/* Asks OpenSSL to check the certificate against host: an IPv4 address or a
 * DNS name, which is also sent as the server name. */
static int expectHost(SSL *ssl, const char *host) {
    unsigned char address[4];
    if (inet_pton(AF_INET, host, address) == 1) return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host);
    return SSL_set_tlsext_host_name(ssl, host) == 1 && SSL_set1_host(ssl, host) == 1;
}

/* Why the handshake failed, and whether the certificate was the reason. */
static int failure(SSL *ssl, const TlsSession *t, char *detail) {
    long verify = SSL_get_verify_result(ssl);
    unsigned long error = ERR_get_error();
    if (verify != X509_V_OK) {
        snprintf(detail, TLS_DETAIL_SIZE, "certificate: %s", X509_verify_cert_error_string(verify));
        return TLS_UNTRUSTED;
    }
    if (t->readEnd == TRANSPORT_TIMED_OUT) snprintf(detail, TLS_DETAIL_SIZE, "the handshake timed out");
    else if (error) ERR_error_string_n(error, detail, TLS_DETAIL_SIZE);
    else snprintf(detail, TLS_DETAIL_SIZE, "the peer ended the handshake");
    return TLS_NO_SESSION;
}

int tlsHandshake(SocketHandle s, const char *host, int limitMs, TlsSession **out, char *detail) {
    static SSL_CTX *ctx = newClientContext();
    static BIO_METHOD *method = newSocketMethod();
    if (!*host) {  // an empty name would switch the host name check off
        snprintf(detail, TLS_DETAIL_SIZE, "no host name to verify");
        return TLS_UNTRUSTED;
    }
    SSL *ssl = ctx ? SSL_new(ctx) : NULL;
    BIO *bio = method ? BIO_new(method) : NULL;
    TlsSession *session = (TlsSession *)calloc(1, sizeof(TlsSession));
    if (!ssl || !bio || !session || !expectHost(ssl, host)) {
        snprintf(detail, TLS_DETAIL_SIZE, "TLS could not be set up");
        BIO_free(bio);
        SSL_free(ssl);
        free(session);
        return TLS_NO_SESSION;
    }
    session->sock = s;
    session->readEnd = TRANSPORT_FAILED;
    session->handshakeEnds = tlsClockMs() + limitMs;
    BIO_set_data(bio, session);
    SSL_set_bio(ssl, bio, bio);
    ERR_clear_error();
    if (SSL_connect(ssl) != 1) {
        int outcome = failure(ssl, session, detail);
        SSL_free(ssl);
        free(session);
        return outcome;
    }
    session->ssl = ssl;
    session->handshakeEnds = 0;
    *out = session;
    return TLS_AGREED;
}

int tlsSend(TlsSession *session, const char *data, int length) {
    int n = SSL_write(session->ssl, data, length);
    return n > 0 ? n : TRANSPORT_FAILED;
}

int tlsRecv(TlsSession *session, char *buffer, int length) {
    session->readEnd = TRANSPORT_FAILED;  // unless a socket read says otherwise
    int n = SSL_read(session->ssl, buffer, length);
    if (n > 0) return n;
    int error = SSL_get_error(session->ssl, n);
    if (error == SSL_ERROR_ZERO_RETURN) return 0;
    return error == SSL_ERROR_SYSCALL ? session->readEnd : TRANSPORT_FAILED;
}

int tlsCloseNotified(TlsSession *session) {
    return (SSL_get_shutdown(session->ssl) & SSL_RECEIVED_SHUTDOWN) != 0;
}

void tlsEnd(TlsSession *session) {
    SSL_shutdown(session->ssl);  // sends close_notify; does not wait for the peer's
    SSL_free(session->ssl);
    free(session);
}
