/* The process-wide failure counts; see host_failures.h.
 *
 * The table maps a key to its count, never stored as 0 (an answer removes
 * it). A host refused stays refused until the counts are reset, even when
 * a download begun before its fifth failure is answered after it. */
#include "host_failures.h"

#include <stdint.h>
#include <stdlib.h>

#include "conn_pool.h"
#include "host_backoff.h"
#include "net.h"
#include "str_map.h"
#include "text_utils.h"
#include "tls_hosts.h"

static StrMap *connFailCounts;
static NetLock *failCountLock;

namespace {

struct ProcessFailureCounts : FailureCounts {
    int refused(const std::string &key) override;
    void failure(const std::string &key) override;
    void answered(const std::string &key) override;
};

}  // namespace

static ProcessFailureCounts processCounts;

void initHostFailures(void) {
    if (connFailCounts) return;
    connFailCounts = strMapCreateDefault(strMapHash, strMapKeyEquals);
    failCountLock = netLockCreate();
}

FailureCounts *processFailureCounts(void) {
    return &processCounts;
}

DownloadContext processContext(void) {
    return {&processCounts, NULL, 0, 0};
}

void resetConnFailCounts(void) {
    netLockAcquire(failCountLock);
    strMapClear(connFailCounts, 0);
    netLockRelease(failCountLock);
    forgetTlsHosts();
    forgetHostWaits();
}

std::string connectionKey(int https, const char *host, int port) {
    return std::string(https ? "https://" : "http://") + hostPort(host, port);
}

int ProcessFailureCounts::refused(const std::string &key) {
    netLockAcquire(failCountLock);
    intptr_t count = (intptr_t)strMapGet(connFailCounts, key.c_str());
    netLockRelease(failCountLock);
    return count >= CONNECT_FAILURE_LIMIT;
}

/* Out of memory, the failure goes uncounted. */
void ProcessFailureCounts::failure(const std::string &key) {
    netLockAcquire(failCountLock);
    intptr_t count = (intptr_t)strMapGet(connFailCounts, key.c_str());
    char *copy = copyBytes(key.data(), key.size());
    void *old;  // a count, not memory
    if (copy && strMapReplace(connFailCounts, copy, (void *)(count + 1), &old) != STRMAP_ADDED) free(copy);
    netLockRelease(failCountLock);
}

void ProcessFailureCounts::answered(const std::string &key) {
    netLockAcquire(failCountLock);
    if ((intptr_t)strMapGet(connFailCounts, key.c_str()) < CONNECT_FAILURE_LIMIT)
        strMapRemove(connFailCounts, key.c_str());
    netLockRelease(failCountLock);
}

void countHostFailure(FailureCounts *counts, const UrlParts *parts) {
    counts->failure(connectionKey(parts->https, parts->host, parts->port));
}

void hostAnswered(FailureCounts *counts, const UrlParts *parts) {
    counts->answered(connectionKey(parts->https, parts->host, parts->port));
}
