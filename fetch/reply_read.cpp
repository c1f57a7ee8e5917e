/* Reply reading; see reply_read.h.
 *
 * The whole header must fit in the receive buffer; the bytes read behind
 * it are the body's first, which the body's reader takes from the buffer
 * before it receives more. */
#include "reply_read.h"

#include <string.h>

#include <string>

/* A redirect's own body is read and dropped, so that its connection can be
 * used again, when its length is given and no more than this. */
enum { REDIRECT_BODY_LIMIT = 65536 };

/* A header that never came whole: a silent host fails as timed out, else
 * the transfer is judged as a body would be, and fails as cut short. */
static int headerCutShort(ReplyStream &s, BodyReader &b, AttemptOutcome &o) {
    if (s.clock.stop == TRANSFER_TIMED_OUT)
        return attemptFail(o, REASON_TIMED_OUT, DOWNLOAD_FAILED, "等待 HTTP Head 超时, 已收到 %d 字节", s.held);
    b.received = s.held;
    int result = judgeBody(s, b, o);
    if (result != DOWNLOAD_DONE) o.reason = REASON_CUT_SHORT;  // whatever the judgement, no reply came whole
    return result;
}

int readReplyHeader(ReplyStream &s, BodyReader &b, AttemptOutcome &o, int *result) {
    memset(s.buffer, 0, sizeof s.buffer);
    memset(&s.header, 0, sizeof s.header);
    HeaderRead header = readHeader(s.conn, s.buffer, &s.held, &s.lastRead, &s.headerLength, &s.clock);
    if (header == HEADER_TOO_LARGE)
        *result = attemptFail(o, REASON_CUT_SHORT, DOWNLOAD_FAILED,
                              "读取 HTTP_BUFFER_SIZE 字节, 还没有读取完整个 HTTP Head.");
    if (header == HEADER_CUT_SHORT) *result = headerCutShort(s, b, o);
    if (header != HEADER_COMPLETE) return 0;
    std::string headerText(s.buffer, (size_t)s.headerLength);
    parseHttpHeader(&headerText[0], &s.header);
    s.reusable = replyKeepsConnection(s.buffer, s.header);
    o.status = responseStatus(s.buffer);
    return 1;
}

/* Reads and drops a redirect's body of known, short length, so that its
 * connection can serve the next request. 1 when it was read exactly. */
static int dropRedirectBody(ReplyStream &s, int pos) {
    int32_t length = s.header.contentLength;
    if (s.header.isChunked || length < 0 || length > REDIRECT_BODY_LIMIT || s.held - pos > length) return 0;
    for (int32_t left = length - (s.held - pos); left > 0; left -= s.lastRead) {
        s.lastRead = receive(s.conn, s.buffer, left < HTTP_BUFFER_SIZE ? left : HTTP_BUFFER_SIZE, &s.clock);
        if (s.lastRead <= 0) return 0;
    }
    return 1;
}

/* Why a status other than 200 fails the image: a 503 that names no wait is
 * an overloaded or closed site, not a limit; a line that is none at all did
 * not hold together. */
static FailReason statusReason(const ReplyStream &s, const AttemptOutcome &o) {
    if (o.status == 503 && !s.header.retryAfter[0]) return REASON_UNAVAILABLE;
    if (o.status == 429 || o.status == 503) return REASON_RATE_LIMITED;
    return o.status ? REASON_STATUS : REASON_CUT_SHORT;
}

int readReplyRest(ReplyStream &s, BodyReader &b, AttemptOutcome &o) {
    int status = o.status, body = s.headerLength + 4;
    if (status == 200) return readBody(s, b, o, body, s.held);
    int redirect = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    if (redirect && s.header.location[0]) {
        if (s.keepAlive && s.reusable) s.reusable = dropRedirectBody(s, body);
        o.location = s.header.location;
        return DOWNLOAD_REDIRECT;
    }
    if (status == 404) return attemptFail(o, REASON_STATUS, DOWNLOAD_FAILED, "404 Not Found - 文件不存在");
    return attemptFail(o, statusReason(s, o), DOWNLOAD_FAILED, "%s", statusMessage(s.buffer, s.headerLength).c_str());
}
