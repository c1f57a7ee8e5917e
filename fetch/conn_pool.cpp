/* Connections and the keep-alive pool; see conn_pool.h.
 *
 * A connect runs non-blocking and waits a bounded time to complete. Time-
 * outs and refused or failed connects are counted per scheme, host and
 * port, and so are replies that never came; a reply removes the count, a
 * bare connect does not (a host that accepts and then stays silent must be
 * skipped too). Lookup failures never count. The pool is a short array of
 * connections stamped with their last use, searched in full: it never holds
 * more than POOL_CONNECTION_LIMIT. An https link's connection is pooled
 * under the scheme and port it ended up on, after a fallback too. */
#include "conn_pool.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "app_log.h"
#include "deployment.h"
#include "str_map.h"
#include "text_utils.h"

namespace {

/* One pooled connection. */
struct PooledConnection {
    std::string key;   // "scheme://host:port"
    Transport *conn;   // connected, never NULL
    uint64_t lastUse;  // the pool's use counter when last handed out
};

}  // namespace

static std::vector<PooledConnection> connPool;
static uint64_t poolUses;
static StrMap *connFailCounts;
static NetLock *failCountLock;
static int connectTimeoutMs = NET_TIMEOUT_MS;
static int ioTimeoutMs = NET_TIMEOUT_MS;

void initConnTables(void) {
    if (connFailCounts) return;
    connFailCounts = strMapCreateDefault(strMapHash, strMapKeyEquals);
    failCountLock = netLockCreate();
}

void resetConnFailCounts(void) {
    netLockAcquire(failCountLock);
    strMapClear(connFailCounts, 0);
    netLockRelease(failCountLock);
}

void setNetTimeouts(int connectMs, int ioMs) {
    connectTimeoutMs = connectMs;
    ioTimeoutMs = ioMs;
}

/* "scheme://host:port", the key of both tables; any length. */
static std::string tableKey(int https, const char *host, int port) {
    return std::string(https ? "https://" : "http://") + host + ":" + std::to_string(port);
}

static std::string linkKey(const UrlParts *parts) {
    return tableKey(parts->https, parts->host, parts->port);
}

static intptr_t failCount(const std::string &key) {
    netLockAcquire(failCountLock);
    intptr_t count = (intptr_t)strMapGet(connFailCounts, key.c_str());
    netLockRelease(failCountLock);
    return count;
}

/* Counts one more failure for the key. A count is never stored as 0 (a
 * success removes it), so a known key is one whose put returns its count. */
static void countFailure(const std::string &key) {
    netLockAcquire(failCountLock);
    intptr_t count = (intptr_t)strMapGet(connFailCounts, key.c_str());
    char *copy = copyBytes(key.data(), key.size());
    if (copy && strMapPut(connFailCounts, copy, (void *)(count + 1)) != NULL) free(copy);
    netLockRelease(failCountLock);
}

void countHostFailure(const UrlParts *parts) {
    countFailure(linkKey(parts));
}

void hostAnswered(const UrlParts *parts) {
    netLockAcquire(failCountLock);
    strMapRemove(connFailCounts, linkKey(parts).c_str());
    netLockRelease(failCountLock);
}

/* Closes the socket and counts a failure when asked; returns 0 for the
 * connect. */
static SocketHandle failConnect(SocketHandle s, const std::string &key, int counted) {
    netClose(s);
    if (counted) countFailure(key);
    return 0;
}

/* Finds the host's address, or the vendor's fixed one for its own hosts. */
static int hostAddress(const char *host, uint32_t *address) {
    if (netResolve(host, address)) return 1;
    return VENDOR_FALLBACK_ADDRESS[0] && strstr(host, VENDOR_HOST_SUFFIX) && netResolve(VENDOR_FALLBACK_ADDRESS, address);
}

/* Completes a non-blocking connect: 1 when connected, else 0 with the
 * message and the failure counted where it should be. */
static int awaitConnect(SocketHandle s, int started, const std::string &key, char *errMsg) {
    int detail = 0;
    int state = started < 0 ? -1 : started == 1 ? 1 : netWaitConnected(s, connectTimeoutMs, &detail);
    if (started < 0) detail = netLastError();
    if (state == 1) return 1;
    if (state == 0) snprintf(errMsg, ERR_MSG_SIZE, "使用非阻塞方式连接超时。");
    else snprintf(errMsg, ERR_MSG_SIZE, "使用非阻塞方式连接发生错误，错误码:%d", detail);
    // a refused connect is a failed connect and counts like a time-out
    return (int)failConnect(s, key, state != -2);
}

SocketHandle connectHost(int https, const char *host, int port, char *errMsg) {
    if (!host) {
        snprintf(errMsg, ERR_MSG_SIZE, "域名 = null");
        return 0;
    }
    std::string key = tableKey(https, host, port);
    if (failCount(key) >= CONNECT_FAILURE_LIMIT) {
        snprintf(errMsg, ERR_MSG_SIZE, "%s:%d - 连接失败已连续发生5次+", host, port);
        return 0;
    }
    uint32_t address;
    if (!hostAddress(host, &address)) {
        snprintf(errMsg, ERR_MSG_SIZE, "无法解析域名: %s", host);
        return 0;
    }
    SocketHandle s = netSocket();
    if (!s) {
        snprintf(errMsg, ERR_MSG_SIZE, "INVALID_SOCKET");
        return 0;
    }
    int switched = netSetNonBlocking(s, 1);
    if (switched != 0) {
        char line[ERR_MSG_SIZE];
        snprintf(line, sizeof line, "开启非阻塞方式连接失败，错误代码：%d，继续使用阻塞方式进行连接。", switched);
        appendLog(line);
    }
    int started = netConnect(s, address, port);
    if (switched != 0) {
        if (started != 1) {
            snprintf(errMsg, ERR_MSG_SIZE, "socket bio connect() failed");
            return failConnect(s, key, 1);
        }
    } else {
        if (!awaitConnect(s, started, key, errMsg)) return 0;
        int reset = netSetNonBlocking(s, 0);
        if (reset != 0) {
            snprintf(errMsg, ERR_MSG_SIZE, "将socket重置为阻塞模式出错, 错误码:%d\n", reset);
            return failConnect(s, key, 0);
        }
    }
    netSetTimeouts(s, ioTimeoutMs);
    return s;
}

/* Opens the link's connection; TLS_UNTRUSTED in *outcome when an https
 * link's certificate does not verify (logged, with the message left). */
static Transport *openLink(const UrlParts *parts, char *errMsg, int *outcome) {
    *outcome = TLS_NO_SESSION;
    SocketHandle s = connectHost(parts->https, parts->host, parts->port, errMsg);
    if (!s) return NULL;
    if (!parts->https) return transportPlain(s);
    Transport *t = NULL;
    char detail[TLS_DETAIL_SIZE] = {0};
    *outcome = transportStartTls(s, parts->host, &t, detail);
    if (*outcome == TLS_AGREED) return t;
    // a TLS port that never agrees costs a handshake per image: skip it after five, like a silent host
    if (*outcome == TLS_NO_SESSION) countFailure(linkKey(parts));
    char line[ERR_MSG_SIZE];
    snprintf(line, sizeof line, "%s:%d TLS: %s", parts->host, parts->port, detail);
    appendLog(line);
    if (*outcome == TLS_UNTRUSTED) snprintf(errMsg, ERR_MSG_SIZE, "图片服务器的 HTTPS 证书未通过验证，为安全起见不下载。");
    else snprintf(errMsg, ERR_MSG_SIZE, "无法建立 TLS 连接: %s", detail);
    return NULL;
}

/* The one place that decides a fallback to plain HTTP: the https attempt
 * failed, and not for its certificate. */
static int fallBack(UrlParts *parts, int outcome, const char *why) {
    if (!parts->https || outcome == TLS_UNTRUSTED) return 0;
    int from = parts->port, onDefault = parts->port == defaultPort(parts);
    parts->https = 0;
    if (onDefault) parts->port = defaultPort(parts);
    char line[ERR_MSG_SIZE];
    snprintf(line, sizeof line, "https://%s:%d 不可用，改用 http 端口 %d: %s", parts->host, from, parts->port, why);
    appendLog(line);
    return 1;
}

/* The pooled connection under key, marked as just used; NULL when none. */
static Transport *pooled(const std::string &key) {
    for (PooledConnection &c : connPool) {
        if (c.key != key) continue;
        c.lastUse = ++poolUses;
        return c.conn;
    }
    return NULL;
}

/* Makes room for one more connection: closes the least recently used one
 * when the pool is full. */
static void evictLeastRecent(void) {
    if (connPool.size() < (size_t)POOL_CONNECTION_LIMIT) return;
    size_t oldest = 0;
    for (size_t i = 1; i < connPool.size(); i++)
        if (connPool[i].lastUse < connPool[oldest].lastUse) oldest = i;
    transportClose(connPool[oldest].conn);
    connPool.erase(connPool.begin() + (long)oldest);
}

/* A connection for the link, from the pool when usePool is set; at most two
 * rounds: the https attempt and its fallback. */
static Transport *linkConnection(UrlParts *parts, int usePool, char *errMsg) {
    for (;;) {
        std::string key = linkKey(parts);
        Transport *t = usePool ? pooled(key) : NULL;
        if (t) return t;
        if (usePool) {
            char line[ERR_MSG_SIZE];
            snprintf(line, sizeof line, "%s:%d --- new socket()", parts->host, parts->port);
            appendLog(line);
        }
        int outcome;
        t = openLink(parts, errMsg, &outcome);
        if (t) {
            if (usePool) {
                evictLeastRecent();
                connPool.push_back({key, t, ++poolUses});
            }
            return t;
        }
        if (!fallBack(parts, outcome, errMsg)) return NULL;
    }
}

Transport *connectLink(UrlParts *parts, char *errMsg) {
    return linkConnection(parts, 0, errMsg);
}

Transport *poolAcquire(UrlParts *parts, char *errMsg) {
    return linkConnection(parts, 1, errMsg);
}

Transport *poolRelease(const UrlParts *parts) {
    std::string key = linkKey(parts);
    for (size_t i = 0; i < connPool.size(); i++) {
        if (connPool[i].key != key) continue;
        Transport *t = connPool[i].conn;
        connPool.erase(connPool.begin() + (long)i);
        return t;
    }
    return NULL;
}

int poolSize(void) {
    return (int)connPool.size();
}

void poolCloseAll(void) {
    for (PooledConnection &c : connPool) transportClose(c.conn);
    connPool.clear();
}
