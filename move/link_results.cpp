/* A move job's results by link; see link_results.h.
 *
 * The map is sized for a few dozen links an item, so that a large package
 * rarely makes it grow. */
#include "link_results.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app_log.h"
#include "failure_words.h"
#include "file_helpers.h"
#include "paths.h"
#include "platform.h"
#include "text_utils.h"

enum { MOVED_PER_ITEM = 32 };

void linkResultsStart(LinkResults *r, int itemCount, FailureReasons *reasons) {
    int capacity = itemCount > 0 && itemCount < INT32_MAX / MOVED_PER_ITEM ? itemCount * MOVED_PER_ITEM : 1;
    r->moved = strMapCreate(strMapHash, strMapKeyEquals, capacity, 0.75f);
    r->reasons = reasons;
    r->outcome = OutcomeCounts();
}

void linkResultsEnd(LinkResults *r) {
    strMapDestroy(r->moved, 1);
    r->moved = NULL;
}

void recordMoved(LinkResults *r, const char *url, const char *text) {
    char *key = copyBytes(url, strlen(url)), *value = copyBytes(text, strlen(text));
    void *old = NULL;
    int stored = key && value ? strMapReplace(r->moved, key, value, &old) : STRMAP_NO_MEMORY;
    if (stored != STRMAP_ADDED) free(key);
    if (stored == STRMAP_NO_MEMORY) free(value);
    free(old);
}

void listFailure(ItemRecord *item, ImageKind kind, const char *url) {
    PtrVector *&list = kind == DESCRIPTION_IMAGE ? item->pcFailures : item->mobileFailures;
    if (!list) list = ptrVectorCreateDefault();
    if (!list || ptrVectorContains(list, url, stringEquals)) return;
    char *copy = copyBytes(url, strlen(url));
    if (copy && !ptrVectorPush(list, copy)) free(copy);
}

void recordFailed(LinkResults *r, ItemRecord *item, const char *url, ImageKind kind, const DownloadReport &report,
                  const char *errMsg) {
    LinkFailure failure = {report.reason, report.status};
    if (r->reasons) (*r->reasons)[url] = failure;
    r->outcome.failedAgain += againMayHelp(failure);
    r->outcome.kinds |= failureKind(failure);
    recordMoved(r, url, "");
    listFailure(item, kind, url);
    r->outcome.failed++;
    appendLog(failureLogLine(url, errMsg).c_str());
}

void takeBackMoved(LinkResults *r, const char *url) {
    char *known = (char *)strMapRemove(r->moved, url), path[PATH_SIZE];
    if (known && *known && textToPath(known, path, sizeof path)) remove(path);
    free(known);
}

int movedFileOf(const LinkResults &r, const char *url, char *path) {
    const char *known = (const char *)strMapGet(r.moved, url);
    return known && *known && textToPath(known, path, PATH_SIZE);
}
