/* Opening connections; see connect.h.
 *
 * A connect runs non-blocking and waits a bounded time to complete, the
 * time shared out among the host's addresses. Time-outs and refused or
 * failed connects count against the scheme, host and port in the counts
 * the caller's context names, and so does a TLS port that agrees on no
 * session; lookup failures never count. */
#include "connect.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "deployment.h"
#include "host_failures.h"
#include "http_exchange.h"
#include "tls_hosts.h"

/* What waitConnected returns when a cut ended the wait. */
enum { CONNECT_CUT = -3 };

static int connectTimeoutMs = NET_TIMEOUT_MS;
static int ioTimeoutMs = NET_TIMEOUT_MS;

void setNetTimeouts(int connectMs, int ioMs) {
    connectTimeoutMs = connectMs;
    ioTimeoutMs = ioMs;
}

/* The host as the resolver and the certificate check take it: an IPv6
 * literal without its brackets. */
static std::string bareHost(const char *host) {
    std::string name = host;
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    return name;
}

/* Finds the host's addresses, or the vendor's fixed one for its own hosts.
 * Returns how many. */
static int hostAddresses(const char *host, NetAddress *addresses) {
    int count = netResolve(bareHost(host).c_str(), addresses, NET_ADDRESS_LIMIT);
    if (count || !VENDOR_FALLBACK_ADDRESS[0] || !strstr(host, VENDOR_HOST_SUFFIX)) return count;
    return netResolve(VENDOR_FALLBACK_ADDRESS, addresses, NET_ADDRESS_LIMIT);
}

int connectionsCut(char *errMsg) {
    if (!netCutDone()) return 0;
    snprintf(errMsg, ERR_MSG_SIZE, "搬家已中止，下载被切断。");
    return 1;
}

/* Waits for a connect under way as netWaitConnected does, in slices, so
 * that a cut ends the wait at once (CONNECT_CUT). */
static int waitConnected(SocketHandle s, int timeoutMs, int *detail) {
    for (int waited = 0;; waited += CUT_POLL_MS) {
        int slice = timeoutMs - waited < CUT_POLL_MS ? timeoutMs - waited : CUT_POLL_MS;
        int state = netWaitConnected(s, slice, detail);
        if (state != 0 || waited + slice >= timeoutMs) return state;
        if (netCutDone()) return CONNECT_CUT;
    }
}

/* Completes a non-blocking connect within timeoutMs: 1 when connected, else
 * 0 with the socket closed, the message left and *counted set when the
 * failure counts against the host. */
static int awaitConnect(SocketHandle s, int started, int timeoutMs, char *errMsg, int *counted) {
    int detail = 0;
    int state = started < 0 ? -1 : started == 1 ? 1 : waitConnected(s, timeoutMs, &detail);
    if (started < 0) detail = netLastError();
    if (state == 1) return 1;
    if (state == CONNECT_CUT) connectionsCut(errMsg);
    else if (state == 0) snprintf(errMsg, ERR_MSG_SIZE, "使用非阻塞方式连接超时。");
    else snprintf(errMsg, ERR_MSG_SIZE, "使用非阻塞方式连接发生错误，错误码:%d", detail);
    // a refused connect is a failed connect and counts like a time-out; a cut counts nothing
    if (state != -2 && state != CONNECT_CUT) *counted = 1;
    netClose(s);
    return 0;
}

/* Connects a new socket to one address within timeoutMs. Returns it, or 0
 * as awaitConnect leaves a failure. */
static SocketHandle connectAddress(const DownloadContext *context, const NetAddress *address, int port, int timeoutMs,
                                   char *errMsg, int *counted) {
    SocketHandle s = netSocket(address->ipv6);
    if (!s) {
        snprintf(errMsg, ERR_MSG_SIZE, "INVALID_SOCKET");
        return 0;
    }
    int switched = netSetNonBlocking(s, 1);
    if (switched != 0) {
        char line[ERR_MSG_SIZE];
        snprintf(line, sizeof line, "开启非阻塞方式连接失败，错误代码：%d，继续使用阻塞方式进行连接。", switched);
        contextLog(context, line);
    }
    int started = netConnect(s, address, port);
    if (switched != 0 && started != 1) {
        snprintf(errMsg, ERR_MSG_SIZE, "socket bio connect() failed");
        *counted = 1;
        netClose(s);
        return 0;
    }
    if (switched != 0) return s;
    if (!awaitConnect(s, started, timeoutMs, errMsg, counted)) return 0;
    int reset = netSetNonBlocking(s, 0);
    if (reset == 0) return s;
    snprintf(errMsg, ERR_MSG_SIZE, "将socket重置为阻塞模式出错, 错误码:%d\n", reset);
    netClose(s);
    return 0;
}

int linkRefused(const DownloadContext *context, const UrlParts *parts, char *errMsg, ConnectFailure *why) {
    if (!context->counts->refused(linkKey(parts))) return 0;
    snprintf(errMsg, ERR_MSG_SIZE, "%s:%d - 连接失败已连续发生5次+", parts->host, parts->port);
    *why = CONNECT_SKIPPED;
    return 1;
}

/* Resolves the link's host and connects to it within the time-out,
 * counting failures under its scheme, host and port. Returns the connected
 * socket (with send and receive time-outs set), or 0 with the message and
 * the kind of the failure in *why. */
static SocketHandle openSocket(const DownloadContext *context, const UrlParts *parts, char *errMsg,
                               ConnectFailure *why) {
    *why = CONNECT_UNREACHABLE;
    if (!parts->host) {
        snprintf(errMsg, ERR_MSG_SIZE, "域名 = null");
        return 0;
    }
    if (connectionsCut(errMsg) || linkRefused(context, parts, errMsg, why)) return 0;
    NetAddress addresses[NET_ADDRESS_LIMIT];
    int count = hostAddresses(parts->host, addresses);
    if (!count) {
        snprintf(errMsg, ERR_MSG_SIZE, "无法解析域名: %s", parts->host);
        return 0;
    }
    // each address in turn gets its share of the time left, so a silent one leaves time for the next
    int64_t end = clockNow() + connectTimeoutMs;
    int counted = 0;
    for (int i = 0; i < count; i++) {
        int64_t share = (end - clockNow()) / (count - i);
        SocketHandle s =
            connectAddress(context, &addresses[i], parts->port, share > 0 ? (int)share : 0, errMsg, &counted);
        // a cut that came while connecting found the socket not yet connected
        if (connectionsCut(errMsg)) {
            if (s) netClose(s);
            return 0;
        }
        if (!s) continue;
        netSetTimeouts(s, ioTimeoutMs);
        return s;
    }
    if (counted) context->counts->failure(linkKey(parts));
    return 0;
}

Transport *openLink(const DownloadContext *context, const UrlParts *parts, char *errMsg, int *outcome,
                    ConnectFailure *why) {
    *outcome = TLS_NO_SESSION;
    SocketHandle s = openSocket(context, parts, errMsg, why);
    if (!s) return NULL;
    if (!parts->https) return transportPlain(s);
    Transport *t = NULL;
    char detail[TLS_DETAIL_SIZE] = {0};
    *outcome = transportStartTls(s, bareHost(parts->host).c_str(), TLS_HANDSHAKE_CONNECT_TIMEOUTS * connectTimeoutMs, &t,
                                 detail);
    if (*outcome == TLS_AGREED) {
        tlsHostAgreed(parts->host);
        return t;
    }
    // a TLS port that never agrees costs a handshake per image: skip it after five, like a silent host
    if (*outcome == TLS_NO_SESSION) context->counts->failure(linkKey(parts));
    char line[ERR_MSG_SIZE];
    snprintf(line, sizeof line, "%s:%d TLS: %s", parts->host, parts->port, detail);
    contextLog(context, line);
    *why = *outcome == TLS_UNTRUSTED ? CONNECT_UNTRUSTED : CONNECT_UNREACHABLE;
    if (*outcome == TLS_UNTRUSTED) snprintf(errMsg, ERR_MSG_SIZE, "图片服务器的 HTTPS 证书未通过验证，为安全起见不下载。");
    else snprintf(errMsg, ERR_MSG_SIZE, "无法建立 TLS 连接: %s", detail);
    return NULL;
}

int fallBack(const DownloadContext *context, UrlParts *parts, int outcome, const char *why) {
    if (!parts->https || outcome == TLS_UNTRUSTED) return 0;
    char line[ERR_MSG_SIZE];
    if (tlsHostKnown(parts->host)) {
        snprintf(line, sizeof line, "https://%s:%d 不可用，该主机已建立过 TLS 连接，不改用 http: %s", parts->host,
                 parts->port, why);
        contextLog(context, line);
        return 0;
    }
    int from = parts->port, onDefault = parts->port == defaultPort(parts);
    parts->https = 0;
    if (onDefault) parts->port = defaultPort(parts);
    snprintf(line, sizeof line, "https://%s:%d 不可用，改用 http 端口 %d: %s", parts->host, from, parts->port, why);
    contextLog(context, line);
    return 1;
}
