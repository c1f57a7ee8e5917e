/* Downloading one image link into a new local file. */
#ifndef LUMORA_DOWNLOAD_H
#define LUMORA_DOWNLOAD_H

#include <stdint.h>

#include "download_context.h"

/* Results besides 1 (done) and 0 (refused: too large, incomplete without
 * keep-alive, or not an image). */
enum {
    DOWNLOAD_FAILED = -1,        /* no link, connection, exchange or status */
    DOWNLOAD_WRITE_ERROR = -2,   /* a write to the file failed */
    DOWNLOAD_CREATE_ERROR = -3,  /* the file could not be created */
    DOWNLOAD_CUT = -4,           /* the connections were cut (connect.h) */
};

/* Why an image could not be had, as a seller can act on it. */
enum FailReason {
    REASON_NONE,          /* it was had, or the download was cut */
    REASON_STATUS,        /* the host answered another status (see status) */
    REASON_TOO_LARGE,     /* larger than 10 MB */
    REASON_HTML,          /* the body is a web page, not an image */
    REASON_WEBP,          /* a WebP image, which the marketplace does not take */
    REASON_AVIF,          /* an AVIF image, likewise */
    REASON_SVG,           /* an SVG drawing, likewise */
    REASON_EMPTY,         /* an empty body */
    REASON_NOT_IMAGE,     /* any other body that is no image of a format taken */
    REASON_HOST_SKIPPED,  /* the host failed five times in a row and is skipped */
    REASON_UNTRUSTED,     /* the host's certificate is not trusted */
    REASON_TIMED_OUT,     /* no answer in time, too slow, or past the image's deadline */
    REASON_REDIRECTS,     /* too many redirects, or a loop */
    REASON_RATE_LIMITED,  /* still 429 or 503 after every try, or told to wait past the deadline */
    REASON_UNREACHABLE,   /* the name did not resolve or no connection could be made */
    REASON_CUT_SHORT,     /* the answer broke off or did not hold together */
    REASON_LOCAL_FILE,    /* the local file could not be created or written */
    REASON_BAD_LINK,      /* the link, or a redirect's target, is none that can be fetched */
    REASON_UNAVAILABLE,   /* still 503 without a Retry-After after every try: overloaded or closed */
    REASON_COMPRESSED,    /* the body came compressed (Content-Encoding), which is never asked for */
};

/* What one image's download met. */
struct DownloadReport {
    int refererSent;      /* the answer taken (or the last refused) was asked for with the Referer */
    FailReason reason;    /* REASON_NONE when the result is 1 */
    int status;           /* the last HTTP status received, 0 when none */
    uint64_t digest;      /* when the result is 1: the FNV-1a 64-bit hash of the file's bytes */
    int64_t size;         /* likewise: the file's length */
};

/* Fetches url (GBK, as the package holds it; sent as a browser sends it)
 * with an HTTP GET, over a pooled keep-alive connection, into a new file at
 * filePath and checks that it is a JPEG, PNG, GIF or BMP image. Follows up
 * to 10 redirects (301, 302, 303, 307, 308) in a row. At each hop a 403 to
 * a request without the Referer is asked once more with it; a keep-alive
 * attempt that fails with 0 or -1 is repeated once on a fresh connection,
 * except after a 429 or 503: that is asked again once the wait the host
 * asks for is over (never sooner than the back-off step), up to
 * RATE_LIMIT_TRIES answers in all (host_backoff.h). filePath is the
 * caller's: the whole image replaces what stands there (the empty file of a
 * claimed name). Returns 1 when the file is complete; otherwise filePath is
 * left as it was, no scratch file remains, and errMsg (ERR_MSG_SIZE bytes,
 * cleared by the caller) holds the reason. The report is filled afresh.
 * Failures count, log lines go and the Referer is sent as the context says. */
int downloadImage(const DownloadContext *context, const char *url, const char *filePath, char *errMsg,
                  DownloadReport *report);

#endif
