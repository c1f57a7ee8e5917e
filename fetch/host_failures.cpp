/* The process-wide failure counts; see host_failures.h.
 *
 * The table maps a key to its count, never stored as 0 (an answer removes
 * it). A host refused stays refused until the counts are reset, even when
 * a download begun before its fifth failure is answered after it. */
#include "host_failures.h"

#include <stdint.h>
#include <stdlib.h>

#include <mutex>

#include "host_backoff.h"
#include "str_map.h"
#include "text_utils.h"
#include "tls_hosts.h"

static StrMap *connFailCounts;  // under failCountLock
static std::mutex failCountLock;

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
}

FailureCounts *processFailureCounts(void) {
    return &processCounts;
}

DownloadContext processContext(void) {
    return {&processCounts, NULL, 0, 0};
}

void resetConnFailCounts(void) {
    {
        std::lock_guard<std::mutex> held(failCountLock);
        strMapClear(connFailCounts, 0);
    }
    forgetTlsHosts();
    forgetHostWaits();
}

std::string linkKey(const UrlParts *parts) {
    return std::string(parts->https ? "https://" : "http://") + hostPort(parts->host, parts->port);
}

int ProcessFailureCounts::refused(const std::string &key) {
    std::lock_guard<std::mutex> held(failCountLock);
    return (intptr_t)strMapGet(connFailCounts, key.c_str()) >= CONNECT_FAILURE_LIMIT;
}

/* Out of memory, the failure goes uncounted. */
void ProcessFailureCounts::failure(const std::string &key) {
    std::lock_guard<std::mutex> held(failCountLock);
    intptr_t count = (intptr_t)strMapGet(connFailCounts, key.c_str());
    char *copy = copyBytes(key.data(), key.size());
    void *old;  // a count, not memory
    if (copy && strMapReplace(connFailCounts, copy, (void *)(count + 1), &old) != STRMAP_ADDED) free(copy);
}

void ProcessFailureCounts::answered(const std::string &key) {
    std::lock_guard<std::mutex> held(failCountLock);
    if ((intptr_t)strMapGet(connFailCounts, key.c_str()) < CONNECT_FAILURE_LIMIT)
        strMapRemove(connFailCounts, key.c_str());
}

void countHostFailure(FailureCounts *counts, const UrlParts *parts) {
    counts->failure(linkKey(parts));
}

void hostAnswered(FailureCounts *counts, const UrlParts *parts) {
    counts->answered(linkKey(parts));
}
