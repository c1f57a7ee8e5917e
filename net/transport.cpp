/* Plain and TLS transports behind one set of calls; see transport.h. */
#include "transport.h"

#include <stdlib.h>
#include <string.h>

#include <chrono>

#include "tls_session.h"

struct Transport {
    SocketHandle sock;
    TlsSession *tls; /* NULL for a plain transport */
};

int64_t tlsClockMs(void) {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int boundedRecv(SocketHandle s, char *buffer, int length, int64_t endsAt) {
    int64_t left = endsAt ? endsAt - tlsClockMs() : 0;
    if (endsAt && (left <= 0 || netWaitReadable(s, (int)left) == 0)) return TRANSPORT_TIMED_OUT;
    int n = netRecv(s, buffer, length);
    if (n >= 0) return n;
    return netTimedOut() ? TRANSPORT_TIMED_OUT : TRANSPORT_FAILED;
}

static Transport *wrap(SocketHandle s, TlsSession *tls) {
    Transport *t = (Transport *)malloc(sizeof(Transport));
    if (!t) return NULL;
    t->sock = s;
    t->tls = tls;
    return t;
}

Transport *transportPlain(SocketHandle s) {
    Transport *t = wrap(s, NULL);
    if (!t) netClose(s);
    return t;
}

int transportStartTls(SocketHandle s, const char *host, int limitMs, Transport **out, char *detail) {
    TlsSession *session = NULL;
    int outcome = tlsHandshake(s, host, limitMs, &session, detail);
    Transport *t = outcome == TLS_AGREED ? wrap(s, session) : NULL;
    if (t) {
        *out = t;
        return TLS_AGREED;
    }
    if (outcome == TLS_AGREED) {
        tlsEnd(session);
        strcpy(detail, "out of memory");
        outcome = TLS_NO_SESSION;
    }
    netClose(s);
    return outcome;
}

int transportSend(Transport *t, const char *data, int length) {
    return t->tls ? tlsSend(t->tls, data, length) : netSend(t->sock, data, length);
}

int transportRecv(Transport *t, char *buffer, int length) {
    return t->tls ? tlsRecv(t->tls, buffer, length) : boundedRecv(t->sock, buffer, length, 0);
}

int transportCloseNotified(Transport *t) {
    return t->tls && tlsCloseNotified(t->tls);
}

void transportClose(Transport *t) {
    if (!t) return;
    if (t->tls) tlsEnd(t->tls);
    netClose(t->sock);
    free(t);
}
