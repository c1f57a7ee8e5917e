/* Fetching as a host is asked; see image_fetch.h. */
#include "image_fetch.h"

#include <stdio.h>

#include <string>

#include "conn_pool.h"
#include "file_helpers.h"
#include "link_failure.h"
#include "platform.h"

/* The outcome of a request with the Referer that brought no image. */
static Recheck failedRecheck(int result, const DownloadReport &again) {
    if (result == DOWNLOAD_CUT) return RECHECK_CUT;
    if (result == DOWNLOAD_CREATE_ERROR || result == DOWNLOAD_WRITE_ERROR) return RECHECK_FAILED;
    if (again.reason == REASON_STATUS && again.status == 403) return RECHECK_REFUSED;
    return againMayHelp({again.reason, again.status}) ? RECHECK_FAILED : RECHECK_GONE;
}

Recheck recheckWithReferer(const DownloadContext *context, const char *url, const char *path, uint64_t digest,
                           int64_t size, char *errMsg, DownloadReport *again, int *result) {
    std::string scratch = scratchPath(path, ".referer");
    DownloadContext withReferer = *context;
    withReferer.referer = 1;
    withReferer.once = 0;
    errMsg[0] = '\0';
    *result = downloadImage(&withReferer, url, scratch.c_str(), errMsg, again);
    if (*result != 1) return failedRecheck(*result, *again);
    if (again->digest == digest && again->size == size) {
        remove(scratch.c_str());
        return RECHECK_SAME;
    }
    if (replaceFile(scratch.c_str(), path)) return RECHECK_DIFFERENT;
    remove(scratch.c_str());
    snprintf(errMsg, ERR_MSG_SIZE, "图片搬家失败：无法写入文件。");
    again->reason = REASON_LOCAL_FILE;
    *result = DOWNLOAD_WRITE_ERROR;
    return RECHECK_FAILED;
}

int fetchAsAsked(const DownloadContext *context, const char *url, const char *path, HostAsk ask, char *errMsg,
                 DownloadReport *report, Recheck *probe) {
    *probe = RECHECK_NONE;
    DownloadContext asked = *context;
    asked.referer = ask == ASK_REFERER || ask == ASK_ONCE;
    asked.once = ask == ASK_ONCE;
    int result = downloadImage(&asked, url, path, errMsg, report);
    if (ask != ASK_SCOUT || result != 1 || report->refererSent) return result;
    DownloadReport first = *report;
    *probe = recheckWithReferer(context, url, path, first.digest, first.size, errMsg, report, &result);
    if (*probe == RECHECK_SAME || *probe == RECHECK_REFUSED) {
        *report = first;
        return 1;
    }
    return result;  // the first copy, which may be a placeholder, stays at path until the caller lets it go
}
