/* The records that one attempt at an image link passes between its parts:
 * the reply as it is read from the connection, and how the attempt ended.
 * The attempt itself (download.cpp) holds one of each beside what it asked
 * for and the body's reader (body_read.h). */
#ifndef LUMORA_ATTEMPT_H
#define LUMORA_ATTEMPT_H

#include <stdint.h>

#include <string>

#include "download.h"
#include "http_exchange.h"
#include "http_header.h"
#include "transport.h"

/* Results of an attempt besides download.h's failures. */
enum {
    DOWNLOAD_DONE = 1,      /* the file is whole */
    DOWNLOAD_REFUSED = 0,   /* too large, incomplete without keep-alive, or no image */
    DOWNLOAD_REDIRECT = 2,  /* the reply redirects to its Location */
};

/* The connection side of one reply: the connection it comes over, the
 * clock over every receive, and the receive buffer, which holds the header
 * and then each piece of the body. */
struct ReplyStream {
    Transport *conn = NULL;  // the attempt's, which closes it or hands it back
    TransferClock clock = {};
    int keepAlive = 0;  // the request asked to keep the connection: the reply must prove its own end
    int reusable = 0;   // the reply lets the connection carry the next request
    int lastRead = 0;   // the last receive's result, "ret" in the messages
    int held = 0;          // the bytes the header's receives put in the buffer
    int headerLength = 0;  // where the header's blank line begins in the buffer, once whole
    HttpHeader header = {};
    char buffer[HTTP_HEADER_LIMIT + 1];
};

/* How an attempt ended: the one record through which its outcome leaves. */
struct AttemptOutcome {
    int result = DOWNLOAD_FAILED;     // once it is over: DOWNLOAD_DONE, DOWNLOAD_REDIRECT or a failure
    char *message = NULL;             // the caller's, ERR_MSG_SIZE bytes: why it failed
    FailReason reason = REASON_NONE;  // likewise, as a seller can act on it
    int status = 0;                   // the reply's status, 0 until one came
    int64_t waitMs = -1;              // the wait that a 429 or 503 asked of the image, -1 when none was asked
    int mendable = 0;                 // a failure that another request may mend
    std::string location;             // a redirect's target, as its Location gives it
};

/* Writes the message (a printf format) and the reason into the outcome,
 * and returns result. */
__attribute__((format(printf, 4, 5)))
int attemptFail(AttemptOutcome &o, FailReason reason, int result, const char *format, ...);

#endif
