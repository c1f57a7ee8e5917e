/* The keep-alive pool; see conn_pool.h.
 *
 * The pool is a short array of idle connections, the longest idle first,
 * searched in full: it never holds more than POOL_CONNECTION_LIMIT, nor more
 * than CONNECTIONS_PER_HOST for one scheme, host and port. A connection in
 * use is not in it. An https link's connection is pooled under the scheme
 * and port it ended up on, after a fallback too. */
#include "conn_pool.h"

#include <stdio.h>

#include <mutex>
#include <string>
#include <vector>

#include "host_failures.h"

namespace {

/* One idle pooled connection, owned by the pool until it is handed out. */
struct IdleConnection {
    std::string key;  // "scheme://host:port"
    Transport *conn;  // connected, never NULL
};

}  // namespace

static std::mutex poolLock;
static std::vector<IdleConnection> idlePool;  // under poolLock; the longest idle first

/* Takes the most recently used idle connection under key out of the pool;
 * NULL when there is none. */
static Transport *takeIdle(const std::string &key) {
    std::lock_guard<std::mutex> held(poolLock);
    for (size_t i = idlePool.size(); i-- > 0;) {
        if (idlePool[i].key != key) continue;
        Transport *t = idlePool[i].conn;
        idlePool.erase(idlePool.begin() + (std::ptrdiff_t)i);
        return t;
    }
    return NULL;
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
        if (!linkRefused(context, parts, errMsg, why)) t = usePool ? takeIdle(linkKey(parts)) : NULL;
        if (!t && usePool) {
            char line[ERR_MSG_SIZE];
            snprintf(line, sizeof line, "%s:%d --- new socket()", parts->host, parts->port);
            contextLog(context, line);
        }
        if (!t) t = openLink(context, parts, errMsg, &outcome, why);
        if (t) return holdSlot(t, slot);
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
    {
        std::lock_guard<std::mutex> held(poolLock);
        int idle = 0;
        for (const IdleConnection &c : idlePool) idle += c.key == key;
        if (idle < CONNECTIONS_PER_HOST) {
            closed = takeLeastRecent();
            idlePool.push_back({key, t});
        }
    }
    transportClose(closed);
}

void poolCloseAll(void) {
    std::vector<IdleConnection> closed;
    {
        std::lock_guard<std::mutex> held(poolLock);
        closed.swap(idlePool);
    }
    for (IdleConnection &c : closed) transportClose(c.conn);
}
