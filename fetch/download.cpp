/* Image download to a file; see download.h and download_chain.h.
 *
 * An image's download follows its redirect chain one hop at a time, one
 * attempt on the stack at a time. An attempt connects, sends the request,
 * creates the scratch file and reads the reply (reply_read.h, body_read.h)
 * over one fixed receive buffer, under the attempt's transfer clock, which
 * ends a transfer that stalls, crawls or outlives the image's deadline;
 * between the reply's header and the rest it counts the answer against its
 * host. It leaves one AttemptOutcome, which decides the clean-up (keep the
 * file, follow the redirect, or remove the file) and whether one of three
 * policies asks the hop again: after a 429 or 503, once the wait the host
 * asked of this image is over (host_backoff.h; later images to the host
 * wait behind it); after a 403 without the Referer, with it; after another
 * failure of a keep-alive attempt, on a fresh connection. A connection goes
 * back to the pool only when its reply allows it and was read to its exact
 * end. The image's deadline runs only for the image itself: the time its
 * requests wait for their host's turn or a connection slot, while other
 * images hold them, moves the deadline out by as much.
 *
 * The body is written under a scratch name beside the file, unique to the
 * process ("~" before the name, the process's id and ".part" after it,
 * which no image name matches), created afresh, and moved into place only
 * when whole, so that whatever ends the process, no cut image stands under
 * an image's name. The file's own name belongs to the caller, who claimed
 * it: a download puts the whole image there and never removes it. */
#include "download.h"
#include "download_chain.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "attempt.h"
#include "body_read.h"
#include "conn_pool.h"
#include "file_helpers.h"
#include "host_backoff.h"
#include "host_failures.h"
#include "http_exchange.h"
#include "http_header.h"
#include "reply_read.h"
#include "url.h"

/* The most redirects followed in a row for one image. */
enum { REDIRECT_LIMIT = 10 };

namespace {

/* One image's download, which every attempt along its redirect chain shares. */
struct ImageDownload {
    const DownloadContext *context;  // the caller's counts, log lines and Referer choice
    const char *filePath;     // the caller's: the whole image replaces what stands there
    char *errMsg;             // the caller's, ERR_MSG_SIZE bytes
    DownloadReport *report;   // the caller's
    int64_t deadline;         // moved out by the time others' requests hold the image up
    uint64_t ticket;          // the image's place in its hosts' turns
    int rateLimits;           // its answers so far that asked to wait
};

/* One link of the chain, and how it is asked for. */
struct Hop {
    std::string shown;  // the link as the log names it
    std::string link;   // as it is requested
    int keepAlive;      // over a pooled connection, asking to keep it
    int referer;        // naming the link's own site
};

/* What one attempt asks for: its hop of the image's chain, the link parsed
 * (the scheme and port it goes to after a fallback; owned, freed with the
 * request) and, while it runs, its turn at the host. */
struct AttemptRequest {
    ImageDownload &image;
    const Hop &hop;
    UrlParts parts = {NULL, NULL, 0, 0};
    HostTurn *turn = NULL;
    AttemptRequest(ImageDownload &i, const Hop &h) : image(i), hop(h) {}
    ~AttemptRequest() { freeUrlParts(&parts); }
    AttemptRequest(const AttemptRequest &) = delete;
    AttemptRequest &operator=(const AttemptRequest &) = delete;
};

/* One attempt: the request, the connection with the reply read from it,
 * the body's reader, and the outcome. */
struct Attempt {
    AttemptRequest request;
    ReplyStream stream;
    BodyReader body;
    AttemptOutcome outcome;
    Attempt(ImageDownload &image, const Hop &hop) : request(image, hop) { stream.keepAlive = hop.keepAlive; }
};

}  // namespace

/* Moves the image's deadline out by ms that others' requests took. */
static void extendDeadline(ImageDownload &image, ReplyStream &s, int64_t ms) {
    image.deadline += ms;
    s.clock.deadline = image.deadline;
}

/* Why no connection was had, as the image's reason. */
static FailReason connectReason(ConnectFailure why) {
    if (why == CONNECT_SKIPPED) return REASON_HOST_SKIPPED;
    return why == CONNECT_UNTRUSTED ? REASON_UNTRUSTED : REASON_UNREACHABLE;
}

/* A header that did not come whole. A host that stays silent or crawls is
 * counted like one that cannot be reached. */
static void countSilence(const AttemptRequest &r, const ReplyStream &s) {
    if (s.clock.stop == TRANSFER_TIMED_OUT || s.clock.stop == TRANSFER_TOO_SLOW)
        countHostFailure(r.image.context->counts, &r.parts);
}

/* Counts the answer against its host: one that asks to wait counts as a
 * failure the first time an image meets it, so that a host that turns five
 * images away in a row, answering none between, is skipped like one that
 * cannot be reached; any other answer clears the count. A host that asks to
 * wait is slowed, and the wait it asks of this image is kept; the message
 * stays the status line. Either way the host's next request may go. */
static void countAnswer(AttemptRequest &r, const ReplyStream &s, AttemptOutcome &o) {
    int asksToWait = o.status == 429 || o.status == 503;
    std::string host = hostPort(r.parts.host, r.parts.port);
    if (!asksToWait) hostAnswered(r.image.context->counts, &r.parts);
    else if (r.image.rateLimits == 0) countHostFailure(r.image.context->counts, &r.parts);
    if (asksToWait) o.waitMs = hostAskedToWait(host, s.header.retryAfter, r.image.rateLimits);
    else hostAnsweredRequest(host);
    r.turn->end();
}

/* Connects, sends the request, creates the file and reads the reply. */
static int exchange(Attempt &a) {
    AttemptRequest &r = a.request;
    ReplyStream &s = a.stream;
    char connectMessage[ERR_MSG_SIZE] = {0};
    ConnectFailure why = CONNECT_UNREACHABLE;
    const DownloadContext *context = r.image.context;
    s.conn = s.keepAlive ? poolAcquire(context, &r.parts, connectMessage, &why)
                         : connectLink(context, &r.parts, connectMessage, &why);
    extendDeadline(r.image, s, takeSlotWaits());
    if (!s.conn) return attemptFail(a.outcome, connectReason(why), DOWNLOAD_FAILED, "%s", connectMessage);
    if (!sendAll(s.conn, httpRequest(r.parts, s.keepAlive, r.hop.referer)))
        return attemptFail(a.outcome, REASON_CUT_SHORT, DOWNLOAD_FAILED, "下载图片失败: send() failed");
    s.clock = transferClock(s.clock.deadline);  // the low-speed window starts with the request, not the connect
    if (!bodyFileCreate(a.body, scratchPath(r.image.filePath, ".part")))
        return attemptFail(a.outcome, REASON_LOCAL_FILE, DOWNLOAD_CREATE_ERROR, "图片搬家失败：无法创建新文件。");
    int result = DOWNLOAD_FAILED;
    if (!readReplyHeader(s, a.body, a.outcome, &result)) {
        countSilence(r, s);
        return result;
    }
    countAnswer(r, s, a.outcome);
    return readReplyRest(s, a.body, a.outcome);
}

/* A transfer that the clock stopped fails, whatever the path made of it. */
static int clockStopped(const ReplyStream &s, AttemptOutcome &o) {
    if (s.clock.stop == TRANSFER_TOO_SLOW)
        return attemptFail(o, REASON_TIMED_OUT, DOWNLOAD_FAILED, "下载速度过慢: %d 秒内收到的数据不足 %d 字节",
                           LOW_SPEED_WINDOW_MS / 1000, LOW_SPEED_BYTES);
    return attemptFail(o, REASON_TIMED_OUT, DOWNLOAD_FAILED, "下载超时: 一张图片的下载不能超过 %d 秒",
                       IMAGE_DEADLINE_MS / 1000);
}

/* Lets go of the connection: back to the pool when keep is set, else closed. */
static void dropConnection(const AttemptRequest &r, ReplyStream &s, int keep) {
    if (keep && s.conn) poolKeep(&r.parts, s.conn);
    else connectionClose(s.conn);
    s.conn = NULL;
}

/* Keeps the file of a whole image, or removes the scratch file, and lets
 * go of the connection as the result allows. Returns the result, which a
 * file that could not be put in place turns into a write error. */
static int cleanUp(Attempt &a, int result) {
    int keepConnection = a.stream.keepAlive && a.stream.reusable;
    if (result != DOWNLOAD_DONE) {
        bodyFileClose(a.body, 0, a.request.image.filePath);
        dropConnection(a.request, a.stream, result == DOWNLOAD_REDIRECT && keepConnection);
        return result;
    }
    dropConnection(a.request, a.stream, keepConnection);
    if (bodyFileClose(a.body, 1, a.request.image.filePath)) return result;
    return attemptFail(a.outcome, REASON_LOCAL_FILE, DOWNLOAD_WRITE_ERROR, "写入文件时出错，请检查硬盘可用空间是否已不足。");
}

/* Runs one attempt, cleans up after it and leaves the outcome, which says
 * whether a failure is one that another request may mend: one that its
 * clock did not stop, before the image's deadline. */
static void attempt(Attempt &a) {
    AttemptRequest &r = a.request;
    AttemptOutcome &o = a.outcome;
    o.result = DOWNLOAD_FAILED;
    if (!parseUrl(r.hop.link.c_str(), &r.parts)) {
        attemptFail(o, REASON_BAD_LINK, DOWNLOAD_FAILED, "无法parse下载图片地址");
        return;
    }
    // plain HTTP is not asked for at the TLS port: such a link goes to port 80
    if (!r.parts.https && r.parts.port == HTTPS_DEFAULT_PORT) r.parts.port = HTTP_DEFAULT_PORT;
    HostTurn turn(hostPort(r.parts.host, r.parts.port), r.image.ticket);
    r.turn = &turn;
    a.stream.clock = transferClock(r.image.deadline);
    extendDeadline(r.image, a.stream, turn.waited());
    int result = clockNow() > r.image.deadline ? clockStopped(a.stream, o) : exchange(a);
    int stopped = a.stream.clock.stop == TRANSFER_TOO_SLOW || a.stream.clock.stop == TRANSFER_TOO_LONG;
    if (stopped && result != DOWNLOAD_WRITE_ERROR) result = clockStopped(a.stream, o);
    // a cut connection reads as closed: nothing it carried is trusted
    if (connectionsCut(o.message)) {
        result = DOWNLOAD_CUT;
        o.reason = REASON_NONE;
    }
    o.result = cleanUp(a, result);
    r.turn = NULL;  // the turn ends with the attempt
    o.mendable = !stopped && clockNow() <= r.image.deadline &&
                 (o.result == DOWNLOAD_REFUSED || o.result == DOWNLOAD_FAILED);
}

/* Puts what the attempt met into the report. The status and whether the
 * Referer went with it stay those of the last attempt that had a reply. */
static void noteAttempt(const Attempt &a, DownloadReport *report) {
    report->reason = a.outcome.reason;
    report->digest = a.body.digest;
    report->size = a.body.ends.length;
    if (!a.outcome.status) return;
    report->status = a.outcome.status;
    report->refererSent = a.request.hop.referer;
}

/* The rate-limit policy: 1, once the wait is over, when an answer that
 * asked to wait leaves the hop another try: the image has had fewer than
 * RATE_LIMIT_TRIES such answers and the wait ends before its deadline. The
 * wait is the image's own and counts against its deadline; one that would
 * end past it is not waited, and the message says so. */
static int waitedToTryAgain(Attempt &a) {
    ImageDownload &image = a.request.image;
    const AttemptOutcome &o = a.outcome;
    if (o.result != DOWNLOAD_FAILED || o.waitMs < 0) return 0;
    if (++image.rateLimits >= RATE_LIMIT_TRIES) return 0;
    if (clockNow() + o.waitMs > image.deadline) {
        size_t used = strlen(o.message);  // the status line, always shorter than the buffer
        snprintf(o.message + used, ERR_MSG_SIZE - used, "\n网站要求等待 %lld 毫秒，超过了这张图片剩余的下载时间",
                 (long long)o.waitMs);
        return 0;
    }
    waitOutAtHost(hostPort(a.request.parts.host, a.request.parts.port), image.ticket, o.waitMs);
    return 1;
}

/* 1 when a failure may be asked again another way: another request may
 * mend it, the host did not ask to wait, and it is no answered refusal
 * (4xx) of a download that takes those as final. */
static int mayAskAgain(const ImageDownload &image, const AttemptOutcome &o) {
    int final = image.context->once && o.status >= 400 && o.status < 500;
    return o.mendable && !final && o.waitMs < 0;
}

/* The Referer policy: hosts that keep their images to their own pages
 * answer 403 to a request without the Referer; it is asked once more with
 * it. 1 when the hop is to be asked so. */
static int askWithReferer(Hop &hop, const AttemptOutcome &o) {
    if (o.status != 403 || hop.referer) return 0;
    hop.referer = 1;
    return 1;
}

/* The fresh-connection policy: a keep-alive attempt may have met a pooled
 * connection that its host had closed meanwhile, so its failure is asked
 * once more on a fresh connection, without keep-alive. 1 when the hop is to
 * be asked so. */
static int askOnFreshConnection(Hop &hop) {
    if (!hop.keepAlive) return 0;
    hop.keepAlive = 0;
    return 1;
}

/* One link of the chain, asked again as the three policies say: after an
 * answer that asked to wait, once the wait is over; after a 403 without
 * the Referer, with it; after another failure of a keep-alive attempt, on
 * a fresh connection. The log keeps each failure that is asked again. */
static AttemptOutcome fetchLink(ImageDownload &image, Hop hop) {
    for (;;) {
        Attempt a(image, hop);  // one at a time: its buffers are large
        a.outcome.message = image.errMsg;
        attempt(a);
        noteAttempt(a, image.report);
        if (waitedToTryAgain(a)) continue;
        int keepAlive = hop.keepAlive;
        if (!mayAskAgain(image, a.outcome) || !(askWithReferer(hop, a.outcome) || askOnFreshConnection(hop)))
            return a.outcome;
        std::string attempted = hop.shown + "(useKeepAlive:" + std::to_string(keepAlive) + ")";
        contextLog(image.context, ("搬家失败：" + attempted + "，返回的错误信息：\r\n" + image.errMsg).c_str());
    }
}

/* Why a redirect chain cannot go on to link, or NULL when it can. */
static const char *chainRefusal(const std::vector<std::string> &chain, const std::string &link) {
    if (chain.size() > REDIRECT_LIMIT) return "重定向次数过多";
    if (std::find(chain.begin(), chain.end(), link) != chain.end()) return "重定向循环";
    return NULL;
}

int downloadChain(const DownloadContext *context, const char *url, const char *filePath, char *errMsg, int keepAlive,
                  DownloadReport *report) {
    *report = DownloadReport();
    ImageDownload image = {context, filePath, errMsg, report, imageDeadline(), nextTurnTicket(), 0};
    Hop hop = {url, requestLink(unescapedLink(url), 1), keepAlive, context->referer};
    std::vector<std::string> chain = {hop.link};
    for (;;) {
        AttemptOutcome o = fetchLink(image, hop);
        if (o.result != DOWNLOAD_REDIRECT) return o.result;
        hop.shown = redirectTarget(hop.link, o.location);
        hop.link = requestLink(hop.shown, 0);
        if (const char *why = chainRefusal(chain, hop.link)) {
            snprintf(errMsg, ERR_MSG_SIZE, "%s: %s", why, hop.shown.c_str());
            report->reason = REASON_REDIRECTS;
            return DOWNLOAD_FAILED;
        }
        chain.push_back(hop.link);
        hop.keepAlive = 1;
    }
}

int downloadImage(const DownloadContext *context, const char *url, const char *filePath, char *errMsg,
                  DownloadReport *report) {
    return downloadChain(context, url, filePath, errMsg, 1, report);
}
