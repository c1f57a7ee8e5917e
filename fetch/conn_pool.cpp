/* Connections and the keep-alive pool; see conn_pool.h.
 *
 * A connect runs non-blocking and waits a bounded time to complete. Time-
 * outs and refused or failed connects are counted per scheme, host and
 * port in the counts the caller's context names (host_failures.h); lookup
 * failures never count. The pool is a short array of
 * idle connections, the longest idle first, searched in full: it never
 * holds more than POOL_CONNECTION_LIMIT, nor more than CONNECTIONS_PER_HOST
 * for one scheme, host and port. A connection in use is not in it. An https
 * link's connection is pooled under the scheme and port it ended up on,
 * after a fallback too.
 *
 * A connection handed out holds one of its host and port's slots until it
 * is kept or closed; a caller waits for a slot before it takes an idle
 * connection or opens one, so the limit counts where connections really
 * go, whatever link led there. */
#include "conn_pool.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "deployment.h"
#include "host_failures.h"
#include "http_exchange.h"
#include "text_utils.h"
#include "tls_hosts.h"

namespace {

/* One idle pooled connection, owned by the pool until it is handed out. */
struct IdleConnection {
    std::string key;  // "scheme://host:port"
    Transport *conn;  // connected, never NULL
};

}  // namespace

/* How often a wait looks whether the connections were cut. */
enum { CUT_POLL_MS = 50, CONNECT_CUT = -3 };

static std::vector<IdleConnection> idlePool;  // under poolLock; the longest idle first
static NetLock *poolLock;
static std::mutex slotLock;
static std::condition_variable slotFreed;
static std::map<std::string, int> slotsInUse;             // under slotLock, by "host:port"
static std::map<const Transport *, std::string> slotOf;  // under slotLock: the slot each connection holds
static thread_local int64_t slotWaits;  // ms this thread waited for slots, until takeSlotWaits
static int connectTimeoutMs = NET_TIMEOUT_MS;
static int ioTimeoutMs = NET_TIMEOUT_MS;

void initConnTables(void) {
    if (poolLock) return;
    poolLock = netLockCreate();
    initHostFailures();
}

void setNetTimeouts(int connectMs, int ioMs) {
    connectTimeoutMs = connectMs;
    ioTimeoutMs = ioMs;
}

static std::string linkKey(const UrlParts *parts) {
    return connectionKey(parts->https, parts->host, parts->port);
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

/* 1 with the message and CONNECT_SKIPPED in *why when the scheme, host and
 * port has failed too often to be tried. */
static int refusedHost(FailureCounts *counts, int https, const char *host, int port, char *errMsg,
                       ConnectFailure *why) {
    if (!counts->refused(connectionKey(https, host, port))) return 0;
    snprintf(errMsg, ERR_MSG_SIZE, "%s:%d - 连接失败已连续发生5次+", host, port);
    *why = CONNECT_SKIPPED;
    return 1;
}

/* connectHost, with the kind of a failure in *why. */
static SocketHandle openSocket(const DownloadContext *context, int https, const char *host, int port, char *errMsg,
                               ConnectFailure *why) {
    *why = CONNECT_UNREACHABLE;
    if (!host) {
        snprintf(errMsg, ERR_MSG_SIZE, "域名 = null");
        return 0;
    }
    if (connectionsCut(errMsg) || refusedHost(context->counts, https, host, port, errMsg, why)) return 0;
    NetAddress addresses[NET_ADDRESS_LIMIT];
    int count = hostAddresses(host, addresses);
    if (!count) {
        snprintf(errMsg, ERR_MSG_SIZE, "无法解析域名: %s", host);
        return 0;
    }
    // each address in turn gets its share of the time left, so a silent one leaves time for the next
    int64_t end = clockNow() + connectTimeoutMs;
    int counted = 0;
    for (int i = 0; i < count; i++) {
        int64_t share = (end - clockNow()) / (count - i);
        SocketHandle s = connectAddress(context, &addresses[i], port, share > 0 ? (int)share : 0, errMsg, &counted);
        // a cut that came while connecting found the socket not yet connected
        if (connectionsCut(errMsg)) {
            if (s) netClose(s);
            return 0;
        }
        if (!s) continue;
        netSetTimeouts(s, ioTimeoutMs);
        return s;
    }
    if (counted) context->counts->failure(connectionKey(https, host, port));
    return 0;
}

SocketHandle connectHost(int https, const char *host, int port, char *errMsg) {
    ConnectFailure why;
    DownloadContext context = processContext();
    return openSocket(&context, https, host, port, errMsg, &why);
}

/* Opens the link's connection; TLS_UNTRUSTED in *outcome when an https
 * link's certificate does not verify (logged, with the message left), and
 * the kind of a failure in *why. */
static Transport *openLink(const DownloadContext *context, const UrlParts *parts, char *errMsg, int *outcome,
                           ConnectFailure *why) {
    *outcome = TLS_NO_SESSION;
    SocketHandle s = openSocket(context, parts->https, parts->host, parts->port, errMsg, why);
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

/* The one place that decides a fallback to plain HTTP: the https attempt
 * failed, not for its certificate, at a host not known to speak TLS. */
static int fallBack(const DownloadContext *context, UrlParts *parts, int outcome, const char *why) {
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

/* Takes the most recently used idle connection under key out of the pool;
 * NULL when there is none. */
static Transport *takeIdle(const std::string &key) {
    Transport *t = NULL;
    netLockAcquire(poolLock);
    for (size_t i = idlePool.size(); i-- > 0;) {
        if (idlePool[i].key != key) continue;
        t = idlePool[i].conn;
        idlePool.erase(idlePool.begin() + (std::ptrdiff_t)i);
        break;
    }
    netLockRelease(poolLock);
    return t;
}

/* Makes room for one more idle connection: takes the least recently used
 * one out of a full pool and returns it for closing (NULL when there is
 * room). Called under poolLock. */
static Transport *takeLeastRecent(void) {
    if (idlePool.size() < (size_t)POOL_CONNECTION_LIMIT) return NULL;
    Transport *t = idlePool.front().conn;
    idlePool.erase(idlePool.begin());
    return t;
}

/* Waits until the host and port has a connection to spare and takes it;
 * 0 with the message when the connections are cut meanwhile. */
static int takeSlot(const std::string &slot, char *errMsg) {
    std::unique_lock<std::mutex> held(slotLock);
    int64_t start = clockNow();
    while (slotsInUse[slot] >= CONNECTIONS_PER_HOST) {
        if (connectionsCut(errMsg)) return 0;
        slotFreed.wait_for(held, std::chrono::milliseconds(CUT_POLL_MS));
    }
    slotsInUse[slot]++;
    slotWaits += clockNow() - start;
    return 1;
}

int64_t takeSlotWaits(void) {
    int64_t waited = slotWaits;
    slotWaits = 0;
    return waited;
}

static void giveSlot(const std::string &slot) {
    std::lock_guard<std::mutex> held(slotLock);
    if (--slotsInUse[slot] == 0) slotsInUse.erase(slot);
    slotFreed.notify_all();
}

/* Hands the connection out, holding the slot until it is kept or closed. */
static Transport *handOut(Transport *t, const std::string &slot) {
    std::lock_guard<std::mutex> held(slotLock);
    slotOf[t] = slot;
    return t;
}

/* Gives back the slot of a connection handed out; nothing for others. */
static void leaveSlot(const Transport *t) {
    std::string slot;
    {
        std::lock_guard<std::mutex> held(slotLock);
        auto found = slotOf.find(t);
        if (found == slotOf.end()) return;
        slot = found->second;
        slotOf.erase(found);
    }
    giveSlot(slot);
}

/* A connection for the link, an idle pooled one when usePool is set; at
 * most two rounds: the https attempt and its fallback. Each round holds a
 * slot of the host and port it goes to. */
static Transport *linkConnection(const DownloadContext *context, UrlParts *parts, int usePool, char *errMsg,
                                 ConnectFailure *why) {
    ConnectFailure ignored;
    if (!why) why = &ignored;
    for (;;) {
        std::string slot = hostPort(parts->host, parts->port);
        if (!takeSlot(slot, errMsg)) return NULL;
        int outcome = TLS_NO_SESSION;
        Transport *t = NULL;
        // refused with an idle connection at hand too, so that the pool's state never decides it
        if (!refusedHost(context->counts, parts->https, parts->host, parts->port, errMsg, why))
            t = usePool ? takeIdle(linkKey(parts)) : NULL;
        if (!t && usePool) {
            char line[ERR_MSG_SIZE];
            snprintf(line, sizeof line, "%s:%d --- new socket()", parts->host, parts->port);
            contextLog(context, line);
        }
        if (!t) t = openLink(context, parts, errMsg, &outcome, why);
        if (t) return handOut(t, slot);
        giveSlot(slot);
        if (!fallBack(context, parts, outcome, errMsg)) return NULL;
    }
}

Transport *connectLink(const DownloadContext *context, UrlParts *parts, char *errMsg, ConnectFailure *why) {
    return linkConnection(context, parts, 0, errMsg, why);
}

Transport *poolAcquire(const DownloadContext *context, UrlParts *parts, char *errMsg, ConnectFailure *why) {
    return linkConnection(context, parts, 1, errMsg, why);
}

void connectionClose(Transport *t) {
    leaveSlot(t);
    transportClose(t);
}

void poolKeep(const UrlParts *parts, Transport *t) {
    leaveSlot(t);
    std::string key = linkKey(parts);
    Transport *closed = t;
    netLockAcquire(poolLock);
    int idle = 0;
    for (const IdleConnection &c : idlePool) idle += c.key == key;
    if (idle < CONNECTIONS_PER_HOST) {
        closed = takeLeastRecent();
        idlePool.push_back({key, t});
    }
    netLockRelease(poolLock);
    transportClose(closed);
}

void poolRelease(const UrlParts *parts) {
    std::string key = linkKey(parts);
    std::vector<Transport *> closed;
    netLockAcquire(poolLock);
    for (size_t i = idlePool.size(); i-- > 0;) {
        if (idlePool[i].key != key) continue;
        closed.push_back(idlePool[i].conn);
        idlePool.erase(idlePool.begin() + (std::ptrdiff_t)i);
    }
    netLockRelease(poolLock);
    for (Transport *t : closed) transportClose(t);
}

int poolSize(void) {
    netLockAcquire(poolLock);
    int size = (int)idlePool.size();
    netLockRelease(poolLock);
    return size;
}

void poolCloseAll(void) {
    std::vector<IdleConnection> closed;
    netLockAcquire(poolLock);
    closed.swap(idlePool);
    netLockRelease(poolLock);
    for (IdleConnection &c : closed) transportClose(c.conn);
}
