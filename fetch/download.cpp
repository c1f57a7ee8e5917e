/* Image download to a file; see download.h.
 *
 * One attempt runs connect, request, file, header, status and body in turn
 * over one fixed receive buffer, writing the body to the file as it comes;
 * chunked bodies go through the chunk decoder. Every receive runs under the
 * attempt's transfer clock, which ends a transfer that stalls, crawls or
 * outlives the image's deadline. The outcome then decides the clean-up:
 * keep the file, follow the redirect, or remove the file and repeat once
 * without keep-alive. A connection goes back to the pool only when its reply
 * allows it and was read to its exact end. Redirects are followed in one
 * loop, one attempt on the stack at a time. A host that answers 429 or 503
 * is slowed (host_backoff.h), and the hop is asked again once the wait it
 * asked of this image is over, never at once without keep-alive; later
 * images to the host wait behind it. The
 * image's deadline runs only for the image itself: the time its requests
 * wait for their host's turn or a connection slot, while other images hold
 * them, moves the deadline out by as much.
 *
 * The body is written under a scratch name beside the file, unique to the
 * process ("~" before the name, the process's id and ".part" after it,
 * which no image name matches), created afresh, and moved into place only
 * when whole, so that whatever ends the process, no cut image stands under
 * an image's name. The file's own name belongs to the caller, who claimed
 * it: a download puts the whole image there and never removes it. */
#include "download.h"

#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "chunked_body.h"
#include "conn_pool.h"
#include "digest.h"
#include "file_helpers.h"
#include "host_backoff.h"
#include "host_failures.h"
#include "http_exchange.h"
#include "http_header.h"
#include "image_ends.h"
#include "platform.h"
#include "text_utils.h"
#include "url.h"

enum { DOWNLOAD_DONE = 1, DOWNLOAD_REFUSED = 0, DOWNLOAD_REDIRECT = 2 };

/* The file's write buffer: larger than most images. */
enum { FILE_BUFFER_SIZE = 256 * 1024 };

/* The most redirects followed in a row for one image. */
enum { REDIRECT_LIMIT = 10 };

/* A redirect's own body is read and dropped, so that its connection can be
 * used again, when its length is given and no more than this. */
enum { REDIRECT_BODY_LIMIT = 65536 };

/* The expected size of a body whose length was not given. */
static const uint32_t SIZE_UNDEFINED = 0xFFFFFFFFu;

namespace {

/* One attempt: the link, its connection and file, the receive buffer and
 * the body accounting that the messages report. */
struct Attempt {
    const DownloadContext *context;  // the caller's counts, log lines and Referer choice
    const char *filePath;
    std::string partPath;  // where the body is written until it is whole
    char *errMsg;
    int keepAlive;
    int redirected;
    int referer;  // the request names the link's site
    TransferClock clock;
    UrlParts parts = {NULL, NULL, 0, 0};
    Transport *conn = NULL;
    FILE *file = NULL;
    HttpHeader header = {};
    char buffer[HTTP_HEADER_LIMIT + 1];
    uint32_t expected = SIZE_UNDEFINED;  // fileSize in the messages
    int64_t received = 0;                // readTotal; bounded by the size limit
    int chunkDone = 0;                   // isChunkReceiveCompleted
    ImageEnds ends = {};                 // the body's first and last bytes
    int lastRead = 0;
    int reusable = 0;  // the connection may carry the next request
    int failure = 0;   // the result a refused write left
    FailReason reason = REASON_NONE;
    int status = 0;                  // the reply's, 0 until one came
    uint64_t digest = DIGEST_START;  // of the bytes written
    int rateLimits = 0;  // the image's earlier answers that asked to wait
    int64_t waitMs = -1;  // the wait this answer asked for, -1 when it asked for none
    HostTurn *turn = NULL;  // the attempt's turn at its host
    uint64_t ticket = 0;  // the image's place in its hosts' turns
    int64_t *deadline = NULL;  // the image's, which waits for others move out
};

}  // namespace

/* Leaves the formatted message and the reason, and returns result. */
__attribute__((format(printf, 4, 5)))
static int fail(Attempt &a, FailReason reason, int result, const char *format, ...) {
    a.reason = reason;
    va_list args;
    va_start(args, format);
    vsnprintf(a.errMsg, ERR_MSG_SIZE, format, args);
    va_end(args);
    return result;
}

/* One receive into the buffer behind keep bytes. */
static int receiveInto(Attempt &a, int keep) {
    a.lastRead = receive(a.conn, a.buffer + keep, HTTP_BUFFER_SIZE - keep, &a.clock);
    return a.lastRead;
}

/* Counts n more body bytes; 0 with the message left beyond the limit. */
static int countBody(Attempt &a, int n) {
    a.received += n;
    if (a.received <= HTTP_BODY_LIMIT) return 1;
    a.failure = fail(a, REASON_TOO_LARGE, DOWNLOAD_REFUSED, "header.contentLength: %d, readTotal:%d > 10M",
                     a.header.contentLength, (int)a.received);
    return 0;
}

/* Writes a piece of the body and notes its ends and digest. Returns 1, or
 * 0 with the write error left. */
static int writeBody(Attempt &a, const char *data, int length) {
    imageEndsTake(&a.ends, data, length);
    if (length <= 0) return 1;
    a.digest = digestAdd(a.digest, data, (size_t)length);
    if (fwrite(data, 1, (size_t)length, a.file) == (size_t)length) return 1;
    a.failure = fail(a, REASON_LOCAL_FILE, DOWNLOAD_WRITE_ERROR, "写入文件时出错，请检查硬盘可用空间是否已不足。");
    return 0;
}

/* The chunk decoder's write function: counts, then writes. */
static int takeChunkData(void *context, const char *data, int length) {
    Attempt &a = *(Attempt *)context;
    return countBody(a, length) && writeBody(a, data, length);
}

/* Why the chunk decoder refused the body, as the attempt's failure. */
static int chunkFailure(Attempt &a, const ChunkDecoder &d, int reason) {
    switch (reason) {
    case CHUNK_WRITE_FAILED:
        return a.failure;
    case CHUNK_BAD_SIZE:
        return fail(a, REASON_CUT_SHORT, DOWNLOAD_FAILED, "不正常: 这里就有问题了, chunksize:%d", d.size);
    case CHUNK_BAD_DATA_END:
        return fail(a, REASON_CUT_SHORT, DOWNLOAD_FAILED, "chunk 数据后面不是 CRLF, chunksize:%d, readTotal:%d", d.size,
                    (int)a.received);
    case CHUNK_TRAILER_TOO_LONG:
        return fail(a, REASON_CUT_SHORT, DOWNLOAD_FAILED,
                    "读取完 HTTP_BUFFER_SIZE 长度, 也没有找到 chund 最后一个结束符");
    default:  // a size line too long, as one the buffer could not hold
        return fail(a, REASON_CUT_SHORT, DOWNLOAD_FAILED,
                    "下载图片失败3: 图片大小:%u, 实际接收到的文件大小:%d, ret:%d, errno:%d", a.expected,
                    (int)a.received, a.lastRead, errno);
    }
}

/* The transfer ended before the chunked body did. Inside a chunk's data it
 * is judged incomplete; elsewhere it fails with the message of the part. */
static int chunkedCutShort(Attempt &a, const ChunkDecoder &d) {
    if (d.state == CHUNK_SIZE)
        return fail(a, REASON_CUT_SHORT, DOWNLOAD_FAILED,
                    "下载图片失败3: 图片大小:%u, 实际接收到的文件大小:%d, ret:%d, errno:%d", a.expected,
                    (int)a.received, a.lastRead, errno);
    if (d.state == CHUNK_TRAILER)
        return fail(a, REASON_CUT_SHORT, DOWNLOAD_FAILED,
                    "读取chunk最后的结束符时出错: syCount:%d, bufferSize:%d, ret:%d, errno:%d", d.trailerLength,
                    HTTP_BUFFER_SIZE - d.trailerLength, a.lastRead, errno);
    return DOWNLOAD_DONE;
}

/* Decodes a chunked body whose first bytes are buffer[pos, end). */
static int readChunked(Attempt &a, int pos, int end) {
    ChunkDecoder d;
    chunkDecoderInit(&d);
    for (;;) {
        int used = 0;
        int decoded = chunkDecode(&d, a.buffer + pos, end - pos, &used, takeChunkData, &a);
        if (decoded != 1) return chunkFailure(a, d, decoded);
        if (d.state == CHUNK_DONE) {
            a.chunkDone = 1;
            if (pos + used < end) a.reusable = 0;  // bytes behind the body: the connection is out of step
            return DOWNLOAD_DONE;
        }
        pos = 0;
        end = receiveInto(a, 0);
        if (end <= 0) return chunkedCutShort(a, d);
    }
}

/* Reads a plain body whose first part is buffer[pos, end). */
static int readPlain(Attempt &a, int pos, int end) {
    int first = end - pos;
    if (a.expected != SIZE_UNDEFINED && a.expected < (uint32_t)first)
        return fail(a, REASON_CUT_SHORT, DOWNLOAD_REFUSED,
                    "readTotal > fileSize, 当前下载的文件数据大小:%d, fileSize:%u", first, a.expected);
    if (!writeBody(a, a.buffer + pos, first)) return a.failure;
    a.received = first;
    while ((uint32_t)a.received != a.expected) {
        if (receiveInto(a, 0) <= 0) break;
        if (!countBody(a, a.lastRead)) return a.failure;
        // past the expected size nothing is written; the exchange is then incomplete
        if ((uint32_t)a.received <= a.expected && !writeBody(a, a.buffer, a.lastRead)) return a.failure;
    }
    return DOWNLOAD_DONE;
}

/* Why a body of each BodyKind is refused. */
static const FailReason BODY_REASONS[] = {REASON_NONE, REASON_HTML,  REASON_WEBP,     REASON_AVIF,
                                          REASON_SVG,  REASON_EMPTY, REASON_NOT_IMAGE};

/* Judges a finished transfer: complete, of the right size, an image. A body
 * without a length ends only with an orderly close, never with a reset or a
 * time-out; and unless TLS announced the close, only with its image's end,
 * since a cut connection closes in order as well. */
static int judge(Attempt &a) {
    int sized = (uint32_t)a.received == a.expected;
    // an empty body has no end to look for: it fails as no image
    int closed = a.expected == SIZE_UNDEFINED && a.lastRead == 0 &&
                 (transportCloseNotified(a.conn) || imageEndsWhole(&a.ends) || a.ends.length == 0);
    // a chunked body is whole only with its last chunk, on any connection
    int complete = a.header.isChunked ? a.chunkDone : sized || (!a.keepAlive && closed);
    if (!complete && a.keepAlive && a.expected == SIZE_UNDEFINED)
        return fail(a, REASON_CUT_SHORT, DOWNLOAD_FAILED,
                    "(fileSize:未定义, readTotal:%d), (header.isChunked:%d, isChunkReceiveCompleted:%d)",
                    (int)a.received, a.header.isChunked, a.chunkDone);
    if (!complete && a.keepAlive)
        return fail(a, REASON_CUT_SHORT, DOWNLOAD_FAILED,
                    "(fileSize:%u, readTotal:%d), (header.isChunked:%d, isChunkReceiveCompleted:%d)", a.expected,
                    (int)a.received, a.header.isChunked, a.chunkDone);
    if (!complete)
        return fail(a, REASON_CUT_SHORT, DOWNLOAD_REFUSED, "图片大小:%u, 实际接收到的文件大小:%d, ret:%d, errno:%d",
                    a.expected, (int)a.received, a.lastRead, errno);
    if (!isImageData(&a.ends))
        return fail(a, BODY_REASONS[bodyKind(&a.ends)], DOWNLOAD_REFUSED, "下载的图片格式不受支持");
    return DOWNLOAD_DONE;
}

/* The body of a 200 response that begins at buffer[pos, end). */
static int readBody(Attempt &a, int pos, int end) {
    HttpHeader &h = a.header;
    if (h.contentEncoding[0] && !equalsNoCase(h.contentEncoding, "identity"))
        return fail(a, REASON_COMPRESSED, DOWNLOAD_FAILED, "header.contentEncoding:%s", h.contentEncoding);
    if (h.contentLength != -1) {
        if ((uint32_t)h.contentLength > HTTP_BODY_LIMIT)
            return fail(a, REASON_TOO_LARGE, DOWNLOAD_REFUSED, "fileSize=0, header.contentLength: %u, 大于10M",
                        (uint32_t)h.contentLength);
        a.expected = (uint32_t)h.contentLength;
    } else if (a.keepAlive && !h.isChunked && !equalsNoCase(h.connection, "close")) {
        return fail(a, REASON_CUT_SHORT, DOWNLOAD_FAILED, "Connection: keep-alive, Content-Length = -1");
    }
    if (!h.isChunked && h.contentLength == -1) a.reusable = 0;  // the close ends the body
    int result = h.isChunked ? readChunked(a, pos, end) : readPlain(a, pos, end);
    return result == DOWNLOAD_DONE ? judge(a) : result;
}

/* Reads and drops a redirect's body of known, short length, so that its
 * connection can serve the next request. 1 when it was read exactly. */
static int dropRedirectBody(Attempt &a, int pos, int end) {
    int32_t length = a.header.contentLength;
    if (a.header.isChunked || length < 0 || length > REDIRECT_BODY_LIMIT || end - pos > length) return 0;
    for (int32_t left = length - (end - pos); left > 0; left -= a.lastRead) {
        a.lastRead = receive(a.conn, a.buffer, left < HTTP_BUFFER_SIZE ? left : HTTP_BUFFER_SIZE, &a.clock);
        if (a.lastRead <= 0) return 0;
    }
    return 1;
}

/* Why a status other than 200 fails the image: a 503 that names no wait is
 * an overloaded or closed site, not a limit; a line that is none at all did
 * not hold together. */
static FailReason statusReason(const Attempt &a) {
    if (a.status == 503 && !a.header.retryAfter[0]) return REASON_UNAVAILABLE;
    if (a.status == 429 || a.status == 503) return REASON_RATE_LIMITED;
    return a.status ? REASON_STATUS : REASON_CUT_SHORT;
}

/* Judges the status line and goes on to the body or the redirect. */
static int readStatus(Attempt &a, int held, int headerLength) {
    int status = a.status = responseStatus(a.buffer), body = headerLength + 4;
    // a host that asks to wait is slowed; the message stays the status line (below)
    if (status == 429 || status == 503)
        a.waitMs = hostAskedToWait(hostPort(a.parts.host, a.parts.port), a.header.retryAfter, a.rateLimits);
    else hostAnsweredRequest(hostPort(a.parts.host, a.parts.port));
    a.turn->end();  // answered: the host's next request may go
    if (status == 200) return readBody(a, body, held);
    int redirect = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    if (redirect && !a.redirected && a.header.location[0]) {
        if (a.keepAlive && a.reusable) a.reusable = dropRedirectBody(a, body, held);
        return DOWNLOAD_REDIRECT;
    }
    if (status == 404) return fail(a, REASON_STATUS, DOWNLOAD_FAILED, "404 Not Found - 文件不存在");
    return fail(a, statusReason(a), DOWNLOAD_FAILED, "%s", statusMessage(a.buffer, headerLength).c_str());
}

/* A header that never came whole. A host that stays silent or crawls is
 * counted like one that cannot be reached. */
static int headerCutShort(Attempt &a, int held) {
    if (a.clock.stop == TRANSFER_TIMED_OUT || a.clock.stop == TRANSFER_TOO_SLOW)
        countHostFailure(a.context->counts, &a.parts);
    if (a.clock.stop == TRANSFER_TIMED_OUT)
        return fail(a, REASON_TIMED_OUT, DOWNLOAD_FAILED, "等待 HTTP Head 超时, 已收到 %d 字节", held);
    a.received = held;
    int result = judge(a);
    if (result != DOWNLOAD_DONE) a.reason = REASON_CUT_SHORT;  // whatever judge made of it, no reply came whole
    return result;
}

/* Why no connection was had, as the image's reason. */
static FailReason connectReason(ConnectFailure why) {
    if (why == CONNECT_SKIPPED) return REASON_HOST_SKIPPED;
    return why == CONNECT_UNTRUSTED ? REASON_UNTRUSTED : REASON_UNREACHABLE;
}

/* Moves the image's deadline out by ms that others' requests took. */
static void extendDeadline(Attempt &a, int64_t ms) {
    *a.deadline += ms;
    a.clock.deadline = *a.deadline;
}

/* Counts the answer against its host: one that asks to wait counts as a
 * failure the first time an image meets it, so that a host that turns five
 * images away in a row, answering none between, is skipped like one that
 * cannot be reached; any other answer clears the count. */
static void countAnswer(Attempt &a) {
    int status = responseStatus(a.buffer);
    if (status != 429 && status != 503) hostAnswered(a.context->counts, &a.parts);
    else if (a.rateLimits == 0) countHostFailure(a.context->counts, &a.parts);
}

/* Connects, sends the request, creates the file and reads the response. */
static int exchange(Attempt &a) {
    char connectMessage[ERR_MSG_SIZE] = {0};
    ConnectFailure why = CONNECT_UNREACHABLE;
    a.conn = a.keepAlive ? poolAcquire(a.context, &a.parts, connectMessage, &why)
                         : connectLink(a.context, &a.parts, connectMessage, &why);
    extendDeadline(a, takeSlotWaits());
    if (!a.conn) return fail(a, connectReason(why), DOWNLOAD_FAILED, "%s", connectMessage);
    if (!sendAll(a.conn, httpRequest(a.parts, a.keepAlive, a.referer)))
        return fail(a, REASON_CUT_SHORT, DOWNLOAD_FAILED, "下载图片失败: send() failed");
    a.clock = transferClock(a.clock.deadline);  // the low-speed window starts with the request, not the connect
    a.file = createNewFile(a.partPath.c_str(), NULL);
    if (!a.file) return fail(a, REASON_LOCAL_FILE, DOWNLOAD_CREATE_ERROR, "图片搬家失败：无法创建新文件。");
    setvbuf(a.file, NULL, _IOFBF, FILE_BUFFER_SIZE);  // most images reach the disk in one write
    memset(a.buffer, 0, sizeof a.buffer);
    memset(&a.header, 0, sizeof a.header);
    int held = 0, headerLength = 0;
    HeaderRead header = readHeader(a.conn, a.buffer, &held, &a.lastRead, &headerLength, &a.clock);
    if (header == HEADER_TOO_LARGE)
        return fail(a, REASON_CUT_SHORT, DOWNLOAD_FAILED, "读取 HTTP_BUFFER_SIZE 字节, 还没有读取完整个 HTTP Head.");
    if (header == HEADER_CUT_SHORT) return headerCutShort(a, held);
    countAnswer(a);
    std::string headerText(a.buffer, (size_t)headerLength);
    parseHttpHeader(&headerText[0], &a.header);
    a.reusable = replyKeepsConnection(a.buffer, a.header);
    return readStatus(a, held, headerLength);
}

/* A transfer that the clock stopped fails, whatever the path made of it. */
static int clockStopped(Attempt &a) {
    if (a.clock.stop == TRANSFER_TOO_SLOW)
        return fail(a, REASON_TIMED_OUT, DOWNLOAD_FAILED, "下载速度过慢: %d 秒内收到的数据不足 %d 字节",
                    LOW_SPEED_WINDOW_MS / 1000, LOW_SPEED_BYTES);
    return fail(a, REASON_TIMED_OUT, DOWNLOAD_FAILED, "下载超时: 一张图片的下载不能超过 %d 秒",
                IMAGE_DEADLINE_MS / 1000);
}

/* The link with "&amp;" as "&", as the package's HTML holds it. */
static std::string unescapedLink(const char *url) {
    std::string link = url;
    char *unescaped = replaceAll(link.c_str(), "&amp;", "&");
    if (unescaped) link = unescaped;
    free(unescaped);
    return link;
}

/* Lets go of the connection: back to the pool when keep is set, else closed. */
static void dropConnection(Attempt &a, int keep) {
    if (keep && a.conn) poolKeep(&a.parts, a.conn);
    else connectionClose(a.conn);
    a.conn = NULL;
}

/* Closes the scratch file and puts it in place of the file, or removes it
 * when it is not to be kept. Returns 0 when a kept file could not be
 * completed. */
static int closeFile(Attempt &a, int keep) {
    if (!a.file) return 1;
    int closed = fclose(a.file) == 0 && (!keep || replaceFile(a.partPath.c_str(), a.filePath));
    if (keep && closed) return 1;
    remove(a.partPath.c_str());
    return 0;
}

/* Runs one attempt and cleans up after it. *repeat is set when a failed
 * keep-alive attempt may be tried again without keep-alive. */
static int attempt(Attempt &a, const char *link, int *repeat) {
    if (!parseUrl(link, &a.parts)) return fail(a, REASON_BAD_LINK, DOWNLOAD_FAILED, "无法parse下载图片地址");
    if (!a.parts.https && a.parts.port == HTTPS_DEFAULT_PORT) a.parts.port = HTTP_DEFAULT_PORT;  // as it always was
    HostTurn turn(hostPort(a.parts.host, a.parts.port), a.ticket);
    a.turn = &turn;
    extendDeadline(a, turn.waited());
    int result = clockNow() > *a.deadline ? clockStopped(a) : exchange(a);
    int stopped = a.clock.stop == TRANSFER_TOO_SLOW || a.clock.stop == TRANSFER_TOO_LONG;
    if (stopped && result != DOWNLOAD_WRITE_ERROR) result = clockStopped(a);
    // a cut connection reads as closed: nothing it carried is trusted
    if (connectionsCut(a.errMsg)) {
        result = DOWNLOAD_CUT;
        a.reason = REASON_NONE;
    }
    if (result == DOWNLOAD_DONE) {
        dropConnection(a, a.keepAlive && a.reusable);
        if (!closeFile(a, 1))
            result = fail(a, REASON_LOCAL_FILE, DOWNLOAD_WRITE_ERROR, "写入文件时出错，请检查硬盘可用空间是否已不足。");
    } else {
        closeFile(a, 0);
        dropConnection(a, result == DOWNLOAD_REDIRECT && a.keepAlive && a.reusable);
    }
    *repeat = !stopped && clockNow() <= *a.deadline && (result == DOWNLOAD_REFUSED || result == DOWNLOAD_FAILED);
    return result;
}

/* Puts what the attempt met into the report. The status and whether the
 * Referer went with it stay those of the last attempt that had a reply. */
static void noteAttempt(const Attempt &a, DownloadReport *report) {
    report->reason = a.reason;
    report->digest = a.digest;
    report->size = a.ends.length;
    if (!a.status) return;
    report->status = a.status;
    report->refererSent = a.referer;
}

/* 1, once the wait is over, when an answer that asked to wait leaves the
 * hop another try: the image has had fewer than RATE_LIMIT_TRIES such
 * answers (*rateLimits counts them) and the wait ends before its deadline.
 * The wait is the image's own and counts against its deadline; one that
 * would end past it is not waited, and the log says so. */
static int waitedToTryAgain(const Attempt &a, int result, int *rateLimits) {
    if (result != DOWNLOAD_FAILED || a.waitMs < 0) return 0;
    if (++*rateLimits >= RATE_LIMIT_TRIES) return 0;
    if (clockNow() + a.waitMs > *a.deadline) {
        size_t used = strlen(a.errMsg);  // the status line, always shorter than the buffer
        snprintf(a.errMsg + used, ERR_MSG_SIZE - used, "\n网站要求等待 %lld 毫秒，超过了这张图片剩余的下载时间",
                 (long long)a.waitMs);
        return 0;
    }
    waitOutAtHost(hostPort(a.parts.host, a.parts.port), a.ticket, a.waitMs);
    return 1;
}

/* One link of the chain: an attempt with keep-alive when asked and, when
 * that fails in a way another connection may mend, one without; after an
 * answer that asked to wait, the same attempt once the wait is over. A 403
 * to a request without the Referer is first asked again with it: hosts that
 * keep their images to their own pages answer so. *location receives a
 * redirect's target; shown is the link as the log names it. */
static int fetchLink(const DownloadContext *context, const std::string &shown, const std::string &link,
                     const char *filePath, char *errMsg, int useKeepAlive, int redirected, int64_t *deadline,
                     DownloadReport *report, std::string *location, int *rateLimits, uint64_t ticket) {
    for (int keepAlive = useKeepAlive, referer = context->referer;;) {
        Attempt a;  // one at a time: its buffers are large
        a.context = context;
        a.filePath = filePath;
        a.partPath = scratchPath(filePath, ".part");
        a.errMsg = errMsg;
        a.keepAlive = keepAlive;
        a.redirected = redirected;
        a.referer = referer;
        a.clock = transferClock(*deadline);
        a.rateLimits = *rateLimits;
        a.ticket = ticket;
        a.deadline = deadline;
        int repeat = 0;
        int result = attempt(a, link.c_str(), &repeat);
        noteAttempt(a, report);
        *location = a.header.location;
        int parsed = a.parts.host != NULL, hotlinked = a.status == 403 && !referer;
        int again = waitedToTryAgain(a, result, rateLimits);
        freeUrlParts(&a.parts);
        if (again) continue;
        int final = context->once && a.status >= 400 && a.status < 500;  // the host's answer, not a broken connection
        if (result == DOWNLOAD_REDIRECT || !parsed || !repeat || final || a.waitMs >= 0 || !(keepAlive || hotlinked))
            return result;
        std::string attempted = "(useKeepAlive:" + std::to_string(keepAlive) + ")";
        contextLog(context, ("搬家失败：" + shown + attempted + "，返回的错误信息：\r\n" + errMsg).c_str());
        if (hotlinked) referer = 1;
        else keepAlive = 0;
    }
}

/* The next link of a redirect chain: the Location without blanks around it
 * or a "_.webp" tail, resolved against the link it answers. */
static std::string redirectTarget(const std::string &link, std::string location) {
    location.erase(location.find_last_not_of(" \t") + 1);
    location.erase(0, location.find_first_not_of(" \t"));
    size_t kept = location.size() - (location.size() >= 6 ? 6 : 0);
    if (endsWithNoCase(location.c_str(), "_.webp") && isCharStart(location.c_str(), kept)) location.resize(kept);
    return resolveLink(link, unescapedLink(location.c_str()));
}

/* Why a redirect chain cannot go on to link, or NULL when it can. */
static const char *chainRefusal(const std::vector<std::string> &chain, const std::string &link) {
    if (chain.size() > REDIRECT_LIMIT) return "重定向次数过多";
    if (std::find(chain.begin(), chain.end(), link) != chain.end()) return "重定向循环";
    return NULL;
}

/* downloadToFile under the deadline of the image's first attempt, which the
 * whole redirect chain shares. Redirect targets are fetched with keep-alive;
 * a chain that comes back to a link it passed, or redirects once more after
 * REDIRECT_LIMIT, fails. */
static int downloadBefore(const DownloadContext *context, const char *url, const char *filePath, char *errMsg,
                          int useKeepAlive, int redirected, int64_t deadline, DownloadReport *report) {
    *report = DownloadReport();
    std::string shown = url, link = requestLink(unescapedLink(url), 1);
    std::vector<std::string> chain = {link};
    uint64_t ticket = nextTurnTicket();
    for (int rateLimits = 0;;) {
        std::string location;
        int result = fetchLink(context, shown, link, filePath, errMsg, useKeepAlive, redirected, &deadline, report,
                               &location, &rateLimits, ticket);
        if (result != DOWNLOAD_REDIRECT) return result;
        shown = redirectTarget(link, location);
        link = requestLink(shown, 0);
        if (const char *why = chainRefusal(chain, link)) {
            snprintf(errMsg, ERR_MSG_SIZE, "%s: %s", why, shown.c_str());
            report->reason = REASON_REDIRECTS;
            return DOWNLOAD_FAILED;
        }
        chain.push_back(link);
        useKeepAlive = 1;
    }
}

int downloadToFile(const DownloadContext *context, const char *url, const char *filePath, char *errMsg,
                   int useKeepAlive, int redirected) {
    DownloadReport report = {};
    return downloadBefore(context, url, filePath, errMsg, useKeepAlive, redirected, imageDeadline(), &report);
}

int downloadImage(const DownloadContext *context, const char *url, const char *filePath, char *errMsg,
                  DownloadReport *report) {
    return downloadBefore(context, url, filePath, errMsg, 1, 0, imageDeadline(), report);
}
