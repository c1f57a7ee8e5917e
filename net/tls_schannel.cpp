/* TLS sessions from Schannel through SSPI; see tls_session.h.
 *
 * The handshake feeds InitializeSecurityContext what the socket gives until
 * it is complete. Records arrive in an input buffer that keeps a partial
 * record across receives and the bytes behind a decrypted record for the
 * next call; decrypted bytes wait in a second buffer until they are asked
 * for. The peer's certificate is checked by us, once the handshake is done,
 * against the system's store and the host name: the same check on every
 * Windows version, and on Wine. */
#define SECURITY_WIN32
#include <winsock2.h>
#include <windows.h>
#include <schannel.h>
#include <security.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wincrypt.h>

#include "tls_session.h"
#include "transport.h"

/* Room for a whole record with its overhead, or a handshake message. */
enum { TLS_INPUT_SIZE = 32 * 1024 };

/* The record type of an alert, close_notify among them. */
enum { ALERT_RECORD = 21 };

/* The longest host name that is checked against a certificate. */
enum { HOST_NAME_CHARS = 256 };

static const unsigned long CONTEXT_FLAGS = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                           ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR;

struct TlsSession {
    SocketHandle sock;
    CredHandle credentials;
    CtxtHandle context;
    int hasContext;
    char host[HOST_NAME_CHARS];
    SecPkgContext_StreamSizes sizes;
    char *record;                /* one outgoing record: header, data, trailer */
    char input[TLS_INPUT_SIZE];  /* received, not yet decrypted */
    int inputHeld;
    char plain[TLS_INPUT_SIZE];  /* decrypted, not yet handed out */
    int plainAt, plainHeld;
    int ended;                   /* the peer ended the session */
    unsigned long flags;         /* what InitializeSecurityContext is asked for */
    int limitMs;                 /* how long a handshake may take */
    int64_t handshakeEnds;       /* the running handshake's limit on tlsClockMs, 0 outside one */
    int lastReceive;             /* the last receive's result, for the log */
};

static int sendRaw(SocketHandle s, const char *data, int length) {
    for (int sent = 0; sent < length;) {
        int n = netSend(s, data + sent, length - sent);
        if (n <= 0) return 0;
        sent += n;
    }
    return 1;
}

/* Sends what the handshake produced, if anything, and frees it. */
static int sendToken(TlsSession *t, SecBuffer *token) {
    int sent = !token->pvBuffer || sendRaw(t->sock, (const char *)token->pvBuffer, (int)token->cbBuffer);
    if (token->pvBuffer) FreeContextBuffer(token->pvBuffer);
    return sent;
}

/* Receives more behind the bytes held, within a running handshake's limit:
 * 1, 0 when the peer closed, or TRANSPORT_FAILED or TRANSPORT_TIMED_OUT (a
 * full buffer fails too). */
static int receiveMore(TlsSession *t) {
    if (t->inputHeld >= TLS_INPUT_SIZE) return TRANSPORT_FAILED;
    int n = boundedRecv(t->sock, t->input + t->inputHeld, TLS_INPUT_SIZE - t->inputHeld, t->handshakeEnds);
    t->lastReceive = n;
    if (n <= 0) return n;
    t->inputHeld += n;
    return 1;
}

/* Keeps only the bytes that a call left unused (an EXTRA buffer). */
static void keepExtra(TlsSession *t, const SecBuffer *extra) {
    int left = extra && extra->BufferType == SECBUFFER_EXTRA ? (int)extra->cbBuffer : 0;
    if (left > 0) memmove(t->input, t->input + t->inputHeld - left, (size_t)left);
    t->inputHeld = left;
}

/* One InitializeSecurityContext call on the bytes held, its message sent.
 * Returns SEC_I_CONTINUE_NEEDED while the handshake goes on (*needInput
 * set when more must be received first), SEC_E_OK once it is complete, or
 * the status that ended it. */
static SECURITY_STATUS negotiateStep(TlsSession *t, int *needInput) {
    SecBuffer in[2] = {{(unsigned long)t->inputHeld, SECBUFFER_TOKEN, t->input}, {0, SECBUFFER_EMPTY, NULL}};
    SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, in};
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, NULL}};
    SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, out};
    unsigned long attributes = 0;
    int fresh = !t->hasContext;
    SECURITY_STATUS status = InitializeSecurityContextA(
        &t->credentials, fresh ? NULL : &t->context, t->host, t->flags, 0, 0, fresh ? NULL : &inDesc, 0,
        fresh ? &t->context : NULL, &outDesc, &attributes, NULL);
    if (fresh && status == SEC_I_CONTINUE_NEEDED) t->hasContext = 1;
    *needInput = status == SEC_E_INCOMPLETE_MESSAGE;
    if (*needInput) return SEC_I_CONTINUE_NEEDED;
    int sent = sendToken(t, &out[0]);  // on failure an alert, if any
    // the server asks for a client certificate: go on without one, as a browser does
    if (status == SEC_I_INCOMPLETE_CREDENTIALS && !(t->flags & ISC_REQ_USE_SUPPLIED_CREDS)) {
        t->flags |= ISC_REQ_USE_SUPPLIED_CREDS;
        return SEC_I_CONTINUE_NEEDED;
    }
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) return status;
    if (!sent) return SEC_E_INCOMPLETE_MESSAGE;
    if (!fresh) keepExtra(t, &in[1]);
    *needInput = t->inputHeld == 0;
    return status;
}

/* Runs handshake messages, starting from the bytes held, until the context
 * is complete, all of it within the handshake's limit. Returns SEC_E_OK or
 * the status that ended it (t->lastReceive tells a time-out). */
static SECURITY_STATUS negotiate(TlsSession *t) {
    int needInput = t->hasContext && t->inputHeld == 0;
    t->handshakeEnds = tlsClockMs() + t->limitMs;
    t->lastReceive = 1;
    SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
    while (status == SEC_I_CONTINUE_NEEDED) {
        if (!needInput && tlsClockMs() > t->handshakeEnds) t->lastReceive = TRANSPORT_TIMED_OUT;
        if (t->lastReceive == TRANSPORT_TIMED_OUT || (needInput && receiveMore(t) != 1))
            status = SEC_E_INCOMPLETE_MESSAGE;
        else status = negotiateStep(t, &needInput);
    }
    t->handshakeEnds = 0;
    return status;
}

/* What a certificate check's error means, for the log. */
static const char *certificateError(DWORD error) {
    switch (error) {
    case (DWORD)CERT_E_CN_NO_MATCH: return "the host name does not match";
    case (DWORD)CERT_E_EXPIRED: return "expired or not yet valid";
    case (DWORD)CERT_E_UNTRUSTEDROOT: return "unknown issuer";
    case (DWORD)CERT_E_CHAINING: return "unknown issuer";
    case (DWORD)CERT_E_WRONG_USAGE: return "not for servers";
    case (DWORD)CERT_E_REVOKED: return "revoked";
    default: return "not trusted";
    }
}

/* The error of a chain that does not end at a trusted root, holds a
 * certificate out of its time or is not for servers, else 0. Checked here
 * as well as by the SSL policy, since Wine's policy lets a chain that ends
 * at no known root (a partial chain) pass. Revocation is not asked for, so
 * it is not judged. */
static DWORD chainError(DWORD status) {
    status &= ~(DWORD)(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
    if (!status) return 0;
    if (status & CERT_TRUST_IS_NOT_TIME_VALID) return (DWORD)CERT_E_EXPIRED;
    if (status & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT)) return (DWORD)CERT_E_UNTRUSTEDROOT;
    if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return (DWORD)CERT_E_WRONG_USAGE;
    return (DWORD)CERT_E_CHAINING;
}

/* Checks the peer's certificate chain and the host name; 0 with the
 * reason in detail when they do not verify. */
static int verifyPeer(TlsSession *t, char *detail) {
    PCCERT_CONTEXT cert = NULL;
    if (QueryContextAttributesA(&t->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK || !cert) {
        snprintf(detail, TLS_DETAIL_SIZE, "certificate: none from the peer");
        return 0;
    }
    wchar_t name[HOST_NAME_CHARS];
    if (!MultiByteToWideChar(CP_ACP, 0, t->host, -1, name, HOST_NAME_CHARS)) name[0] = 0;
    CERT_CHAIN_PARA chainPara;
    memset(&chainPara, 0, sizeof chainPara);
    chainPara.cbSize = sizeof chainPara;
    // a certificate for clients only, or under an authority kept to other uses, is no server's
    static char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    static char *usages[] = {serverAuth};
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = NULL;
    DWORD error = CertGetCertificateChain(NULL, cert, NULL, cert->hCertStore, &chainPara, 0, NULL, &chain)
                      ? 0 : GetLastError();
    if (!error && (error = chainError(chain->TrustStatus.dwErrorStatus)) != 0) CertFreeCertificateChain(chain);
    if (!error) {
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl;
        memset(&ssl, 0, sizeof ssl);
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.pwszServerName = name;
        CERT_CHAIN_POLICY_PARA policy;
        memset(&policy, 0, sizeof policy);
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS status;
        memset(&status, 0, sizeof status);
        status.cbSize = sizeof status;
        error = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) ? status.dwError
                                                                                                 : GetLastError();
        CertFreeCertificateChain(chain);
    }
    CertFreeCertificateContext(cert);
    if (!error) return 1;
    snprintf(detail, TLS_DETAIL_SIZE, "certificate: %s (0x%08lX)", certificateError(error), (unsigned long)error);
    return 0;
}

static void freeSession(TlsSession *t) {
    if (t->hasContext) DeleteSecurityContext(&t->context);
    FreeCredentialsHandle(&t->credentials);
    free(t->record);
    free(t);
}

/* Credentials for a client that checks the server's certificate itself. */
static int acquireCredentials(TlsSession *t) {
    SCHANNEL_CRED cred;
    memset(&cred, 0, sizeof cred);
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    return AcquireCredentialsHandleA(NULL, (SEC_CHAR *)UNISP_NAME_A, SECPKG_CRED_OUTBOUND, NULL, &cred, NULL, NULL,
                                     &t->credentials, NULL) == SEC_E_OK;
}

int tlsHandshake(SocketHandle s, const char *host, int limitMs, TlsSession **out, char *detail) {
    if (!*host || strlen(host) >= HOST_NAME_CHARS) {
        snprintf(detail, TLS_DETAIL_SIZE, "no host name that can be verified");
        return TLS_UNTRUSTED;
    }
    TlsSession *t = (TlsSession *)calloc(1, sizeof(TlsSession));
    if (!t) {
        snprintf(detail, TLS_DETAIL_SIZE, "out of memory");
        return TLS_NO_SESSION;
    }
    t->sock = s;
    strcpy(t->host, host);
    if (!acquireCredentials(t)) {
        snprintf(detail, TLS_DETAIL_SIZE, "Schannel credentials unavailable");
        free(t);
        return TLS_NO_SESSION;
    }
    t->flags = CONTEXT_FLAGS;
    t->limitMs = limitMs;
    SECURITY_STATUS status = negotiate(t);
    if (status == SEC_E_OK && QueryContextAttributesA(&t->context, SECPKG_ATTR_STREAM_SIZES, &t->sizes) != SEC_E_OK)
        status = SEC_E_INTERNAL_ERROR;
    if (status == SEC_E_OK) {
        t->record = (char *)malloc(t->sizes.cbHeader + t->sizes.cbMaximumMessage + t->sizes.cbTrailer);
        if (!t->record) status = SEC_E_INSUFFICIENT_MEMORY;
    }
    if (status != SEC_E_OK) {
        if (t->lastReceive == TRANSPORT_TIMED_OUT) snprintf(detail, TLS_DETAIL_SIZE, "the handshake timed out");
        else snprintf(detail, TLS_DETAIL_SIZE, "handshake failed: 0x%08lX", (unsigned long)status);
        freeSession(t);
        return TLS_NO_SESSION;
    }
    if (!verifyPeer(t, detail)) {
        freeSession(t);
        return TLS_UNTRUSTED;
    }
    *out = t;
    return TLS_AGREED;
}

int tlsSend(TlsSession *t, const char *data, int length) {
    int piece = length < (int)t->sizes.cbMaximumMessage ? length : (int)t->sizes.cbMaximumMessage;
    char *header = t->record, *body = header + t->sizes.cbHeader, *trailer = body + piece;
    memcpy(body, data, (size_t)piece);
    SecBuffer b[4] = {{t->sizes.cbHeader, SECBUFFER_STREAM_HEADER, header},
                      {(unsigned long)piece, SECBUFFER_DATA, body},
                      {t->sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, trailer},
                      {0, SECBUFFER_EMPTY, NULL}};
    SecBufferDesc d = {SECBUFFER_VERSION, 4, b};
    if (EncryptMessage(&t->context, 0, &d, 0) != SEC_E_OK) return TRANSPORT_FAILED;
    int total = (int)(b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer);
    return sendRaw(t->sock, header, total) ? piece : TRANSPORT_FAILED;
}

static SecBuffer *findBuffer(SecBuffer *b, int count, unsigned long type) {
    for (int i = 0; i < count; i++)
        if (b[i].BufferType == type) return &b[i];
    return NULL;
}

/* Decrypts the next record into plain, receiving while it is incomplete.
 * Returns 1 (plain may hold nothing: a record without data), 0 when the
 * peer ended the session or closed between records, TRANSPORT_TIMED_OUT,
 * or TRANSPORT_FAILED on an error or a close in the middle of a record. */
static int decryptRecord(TlsSession *t) {
    for (;;) {
        if (t->inputHeld > 0) {
            SecBuffer b[4] = {{(unsigned long)t->inputHeld, SECBUFFER_DATA, t->input},
                              {0, SECBUFFER_EMPTY, NULL}, {0, SECBUFFER_EMPTY, NULL}, {0, SECBUFFER_EMPTY, NULL}};
            SecBufferDesc d = {SECBUFFER_VERSION, 4, b};
            int alert = t->input[0] == ALERT_RECORD;
            SECURITY_STATUS status = DecryptMessage(&t->context, &d, 0, NULL);
            if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE || status == SEC_I_CONTEXT_EXPIRED) {
                SecBuffer *data = findBuffer(b, 4, SECBUFFER_DATA);
                int n = data ? (int)data->cbBuffer : 0;
                if (n > (int)sizeof t->plain) return TRANSPORT_FAILED;
                if (n > 0) memcpy(t->plain, data->pvBuffer, (size_t)n);  // before the extra bytes move
                t->plainAt = 0;
                t->plainHeld = n;
                keepExtra(t, findBuffer(b, 4, SECBUFFER_EXTRA));
                // Windows tells close_notify by its status, Wine by an alert that leaves no data
                if (status == SEC_I_CONTEXT_EXPIRED || (alert && n == 0)) t->ended = 1;
                // the peer sent a handshake message (a TLS 1.3 ticket, say)
                if (status == SEC_I_RENEGOTIATE && negotiate(t) != SEC_E_OK) return TRANSPORT_FAILED;
                return t->ended && n == 0 ? 0 : 1;
            }
            if (status != SEC_E_INCOMPLETE_MESSAGE) return TRANSPORT_FAILED;
        }
        int got = receiveMore(t);
        if (got == 0) return t->inputHeld == 0 ? 0 : TRANSPORT_FAILED;
        if (got < 0) return got;
    }
}

int tlsCloseNotified(TlsSession *t) {
    return t->ended;
}

int tlsRecv(TlsSession *t, char *buffer, int length) {
    while (t->plainAt == t->plainHeld) {
        if (t->ended) return 0;
        int got = decryptRecord(t);
        if (got <= 0) return got;
    }
    int n = t->plainHeld - t->plainAt < length ? t->plainHeld - t->plainAt : length;
    memcpy(buffer, t->plain + t->plainAt, (size_t)n);
    t->plainAt += n;
    return n;
}

void tlsEnd(TlsSession *t) {
    freeSession(t);
}
