/* One image of a move fetched as its host is asked (hotlink_hosts.h), and
 * a moved image asked for again with the Referer to compare. Both run on a
 * downloader or on the job's thread alike. */
#ifndef LUMORA_IMAGE_FETCH_H
#define LUMORA_IMAGE_FETCH_H

#include <stdint.h>

#include "download.h"
#include "hotlink_hosts.h"

/* How a link came out when asked for again with the Referer. */
enum Recheck {
    RECHECK_NONE,      /* it was not asked again */
    RECHECK_SAME,      /* the same bytes */
    RECHECK_REFUSED,   /* refused with the Referer (403) */
    RECHECK_DIFFERENT, /* other bytes, which replaced the file's */
    RECHECK_GONE,      /* an answer another try would give again (a missing page, no image) */
    RECHECK_FAILED,    /* the host was slow, unreachable or busy, or the local file failed */
    RECHECK_CUT,       /* the connections were cut */
};

/* Asks for url again with the Referer, into a scratch file beside path,
 * whose file came back with before's bytes. Other bytes replace the
 * file's; the scratch file is gone either way. *result is the download's
 * result, again (cleared here) its report, errMsg its message. The
 * context's counts and log lines serve; its Referer choice is this one's. */
Recheck recheckWithReferer(const DownloadContext *context, const char *url, const char *path, uint64_t digest,
                           int64_t size, char *errMsg, DownloadReport *again, int *result);

/* Downloads url into path as ask says (not ASK_LATER). A scout that came
 * back without the Referer is asked once more with it, *probe telling how
 * (else RECHECK_NONE): the same bytes, or a refusal, keep the first copy;
 * other bytes replace it; any other outcome is the result, and the copy
 * at path is then not to be kept. Returns downloadImage's result for the
 * copy kept; report is that copy's (refererSent set when the Referer
 * brought it). The context's counts and log lines serve; ask, not the
 * context, chooses the Referer. */
int fetchAsAsked(const DownloadContext *context, const char *url, const char *path, HostAsk ask, char *errMsg,
                 DownloadReport *report, Recheck *probe);

#endif
