/* The tests' TLS front, run as `tls_relay PEM-FILE COMMAND [ARGS...]`: a native Linux program that makes a
 * throw-away certificate authority, listens on loopback TLS ports with certificates good and bad, relays each
 * TLS connection to a plain loopback port where the test's scripted server answers, and runs the command,
 * ending with it, so that one front serves native tests and Windows tests under Wine. The command's
 * environment gets SSL_CERT_FILE (the authority, written to PEM-FILE) and LUMORA_TLS_PORTS: the plain port,
 * then the TLS ports in the order of the fronts below. Once the plain side has closed, a front sends
 * close_notify, except "cut", which ends in the middle of a record, and "fin", which just closes. "clientonly"
 * shows a certificate for TLS clients only, and "asks" asks the client for a certificate it may go without.
 * Nothing outlives the command, and it may run for RUN_LIMIT_S. */
#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <thread>

enum { RUN_LIMIT_S = 900, IDLE_LIMIT_MS = 20000, STEP_MS = 50, IO_TIMEOUT_S = 5, DAY_S = 86400, RELAY_BUFFER = 16384 };

/* How a front ends a connection whose plain side closed. */
enum End { NOTIFY, CUT, FIN };

/* good, wronghost, expired, stranger (signed by an authority the client does not know), cut, fin, clientonly,
 * asks */
static struct Front {
    const char *host;  // the certificate's name
    long fromDays, toDays;
    bool stranger;
    End end;
    const char *usage = NULL;  // the certificate's extended key usage, if any
    bool asks = false;
    SSL_CTX *ctx = NULL;
    int listener = -1, port = 0;
} fronts[] = {{"localhost", -1, 30, false, NOTIFY}, {"wrong.example", -1, 30, false, NOTIFY},
              {"localhost", -30, -2, false, NOTIFY}, {"localhost", -1, 30, true, NOTIFY},
              {"localhost", -1, 30, false, CUT}, {"localhost", -1, 30, false, FIN},
              {"localhost", -1, 30, false, NOTIFY, "clientAuth"}, {"localhost", -1, 30, false, NOTIFY, NULL, true}};

static int plainPort;
static EVP_PKEY *key, *strangerKey;  // the authority and the servers share a key
static X509 *authority, *stranger;

static void die(const char *what) {
    fprintf(stderr, "tls_relay: %s\n", what);
    ERR_print_errors_fp(stderr);
    exit(2);
}

/* Adds the extension made from value to cert, as issuer's. */
static void extend(X509 *cert, X509 *issuer, int nid, const std::string &value) {
    X509V3_CTX ctx = {};
    X509V3_set_ctx(&ctx, issuer, cert, NULL, NULL, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(NULL, &ctx, nid, value.c_str());
    if (!ext || !X509_add_ext(cert, ext, -1)) die("extension");
    X509_EXTENSION_free(ext);
}

/* A certificate for key named cn, for usage when given, signed by issuer; an authority signed by itself when
 * issuer is NULL. */
static X509 *makeCert(EVP_PKEY *key, const char *cn, X509 *issuer, EVP_PKEY *issuerKey, long fromDays, long toDays,
                      const char *usage = NULL) {
    static long serial = (long)time(NULL);
    X509 *cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial++);
    X509_gmtime_adj(X509_getm_notBefore(cert), fromDays * DAY_S);
    X509_gmtime_adj(X509_getm_notAfter(cert), toDays * DAY_S);
    X509_set_pubkey(cert, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC, (const unsigned char *)cn, -1, -1, 0);
    X509_set_issuer_name(cert, X509_get_subject_name(issuer ? issuer : cert));
    if (issuer) extend(cert, issuer, NID_subject_alt_name, "DNS:" + std::string(cn));
    else extend(cert, cert, NID_basic_constraints, "critical,CA:TRUE");
    if (usage) extend(cert, issuer ? issuer : cert, NID_ext_key_usage, usage);
    if (!X509_sign(cert, issuerKey ? issuerKey : key, EVP_sha256())) die("certificate");
    return cert;
}

/* A loopback socket listening at a free port, or connected to port. */
static int loopback(int *port, bool listening) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in at = {AF_INET, htons((uint16_t)*port), {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof at;
    if (!listening) return s >= 0 && connect(s, (struct sockaddr *)&at, sizeof at) == 0 ? s : (close(s), -1);
    if (s < 0 || bind(s, (struct sockaddr *)&at, sizeof at) != 0 || listen(s, 16) != 0 ||
        getsockname(s, (struct sockaddr *)&at, &size) != 0)
        die("listen");
    *port = ntohs(at.sin_port);
    return s;
}

/* Carries bytes both ways until either side closes or nothing moves for IDLE_LIMIT_MS. */
static void relay(SSL *ssl, int s, int plain, End end) {
    static const unsigned char partial[] = {0x17, 0x03, 0x03, 0x01, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    char buffer[RELAY_BUFFER];
    for (int idle = 0; idle < IDLE_LIMIT_MS;) {
        struct pollfd p[2] = {{s, POLLIN, 0}, {plain, POLLIN, 0}};
        int ready = SSL_pending(ssl) > 0 ? 1 : poll(p, 2, STEP_MS);
        idle = ready <= 0 ? idle + STEP_MS : 0;
        if (SSL_pending(ssl) > 0 || (p[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            int n = SSL_read(ssl, buffer, sizeof buffer);
            if (n <= 0 || send(plain, buffer, (size_t)n, MSG_NOSIGNAL) != n) return;
        }
        if (p[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t n = recv(plain, buffer, sizeof buffer, 0);
            if (n <= 0 && end == NOTIFY) SSL_shutdown(ssl);
            if (n <= 0 && end == CUT) send(s, partial, sizeof partial, MSG_NOSIGNAL);  // a record header, then little
            if (n <= 0 || SSL_write(ssl, buffer, (int)n) != n) return;
        }
    }
}

static void serve(Front *front, int s) {
    struct timeval tv = {IO_TIMEOUT_S, 0};
    for (int option : {SO_RCVTIMEO, SO_SNDTIMEO}) setsockopt(s, SOL_SOCKET, option, &tv, sizeof tv);
    SSL *ssl = SSL_new(front->ctx);
    SSL_set_fd(ssl, s);
    int plain = SSL_accept(ssl) == 1 ? loopback(&plainPort, false) : -1;
    if (plain >= 0) relay(ssl, s, plain, front->end);
    close(plain);
    SSL_free(ssl);
    close(s);
}

/* Writes the authority's PEM file and sets the environment the command inherits. */
static void publish(const char *pemPath) {
    FILE *f = fopen(pemPath, "w");
    if (!f || !PEM_write_X509(f, authority)) die("writing the authority");
    fclose(f);
    std::string ports = std::to_string(plainPort);
    for (const Front &front : fronts) ports += " " + std::to_string(front.port);
    setenv("SSL_CERT_FILE", pemPath, 1);
    setenv("LUMORA_TLS_PORTS", ports.c_str(), 1);
}

static void accepting(Front *front) {
    for (int s; (s = accept(front->listener, NULL, NULL)) >= 0;) std::thread(serve, front, s).detach();
}

int main(int argc, char **argv) {
    if (argc < 3) die("usage: tls_relay PEM-FILE COMMAND [ARGS...]");
    signal(SIGPIPE, SIG_IGN);
    if (!(key = EVP_RSA_gen(2048)) || !(strangerKey = EVP_RSA_gen(2048))) die("keys");
    authority = makeCert(key, "Lumora Test Authority", NULL, NULL, -1, 30);
    stranger = makeCert(strangerKey, "Lumora Stranger Authority", NULL, NULL, -1, 30);
    for (Front &f : fronts) {
        X509 *cert = makeCert(key, f.host, f.stranger ? stranger : authority, f.stranger ? strangerKey : key, f.fromDays,
                              f.toDays, f.usage);
        f.ctx = SSL_CTX_new(TLS_server_method());
        if (!f.ctx || SSL_CTX_use_certificate(f.ctx, cert) != 1 || SSL_CTX_use_PrivateKey(f.ctx, key) != 1) die("context");
        if (f.asks) SSL_CTX_set_verify(f.ctx, SSL_VERIFY_PEER, [](int, X509_STORE_CTX *) { return 1; });
        X509_free(cert);
        f.listener = loopback(&f.port, true);
    }
    close(loopback(&plainPort, true));  // a free port for the test's plain server
    publish(argv[1]);
    pid_t child = fork();
    if (child == 0) {
        alarm(RUN_LIMIT_S);  // kept across exec: ends a command that runs too long
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    for (Front &f : fronts) std::thread(accepting, &f).detach();
    int status = 1;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
