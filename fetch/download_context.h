/* What one download carries from its caller down to its connections: where
 * its hosts' failures are counted, where its log lines go, and whether its
 * requests name the link's site.
 *
 * A context owns nothing it points to: the caller keeps the counts and the
 * held lines alive until the download has returned. A caller with no job
 * (the update check, a test, a benchmark) takes processContext(). */
#ifndef LUMORA_DOWNLOAD_CONTEXT_H
#define LUMORA_DOWNLOAD_CONTEXT_H

#include <string>

#include "app_log.h"

/* Consecutive failures per "scheme://host:port" (host_failures.h): failed
 * connects, TLS ports that agree on no session, and replies that never
 * came. Two kinds count them: the process-wide table and a move job's
 * ledger of one download (fail_ledger.h). */
struct FailureCounts {
    virtual ~FailureCounts() {}
    /* 1 when the key has failed too often to be tried. */
    virtual int refused(const std::string &key) = 0;
    /* One more failure for the key. */
    virtual void failure(const std::string &key) = 0;
    /* The key answered a request: its failures are forgotten. */
    virtual void answered(const std::string &key) = 0;
};

struct DownloadContext {
    FailureCounts *counts; /* where the download's failures count; never NULL */
    std::string *logLines; /* the download's log lines, held for the caller to write; NULL writes to app.log at once */
    int referer;           /* every request carries "Referer: scheme://host[:port]/", its link's own site */
    int once;              /* an answered refusal (4xx) is final, not asked again on a fresh connection */
};

/* The process-wide counts, lines straight to app.log, no Referer. */
DownloadContext processContext(void);

/* Logs one line of the download as its context says. */
inline void contextLog(const DownloadContext *context, const char *message) {
    appendLogTo(context->logLines, message);
}

#endif
