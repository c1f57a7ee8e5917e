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

/* One attempt: the link, the reply read from its connection, the body's
 * reader and the outcome. */
struct Attempt {
    const DownloadContext *context;  // the caller's counts, log lines and Referer choice
    const char *filePath;
    int referer;  // the request names the link's site
    UrlParts parts = {NULL, NULL, 0, 0};
    ReplyStream stream;
    BodyReader body;
    AttemptOutcome outcome;
    int rateLimits = 0;  // the image's earlier answers that asked to wait
    int64_t waitMs = -1;  // the wait this answer asked for, -1 when it asked for none
    HostTurn *turn = NULL;  // the attempt's turn at its host
    uint64_t ticket = 0;  // the image's place in its hosts' turns
    int64_t *deadline = NULL;  // the image's, which waits for others move out
};

}  // namespace

/* A header that did not come whole. A host that stays silent or crawls is
 * counted like one that cannot be reached. */
static void countSilence(Attempt &a) {
    if (a.stream.clock.stop == TRANSFER_TIMED_OUT || a.stream.clock.stop == TRANSFER_TOO_SLOW)
        countHostFailure(a.context->counts, &a.parts);
}

/* Why no connection was had, as the image's reason. */
static FailReason connectReason(ConnectFailure why) {
    if (why == CONNECT_SKIPPED) return REASON_HOST_SKIPPED;
    return why == CONNECT_UNTRUSTED ? REASON_UNTRUSTED : REASON_UNREACHABLE;
}

/* Moves the image's deadline out by ms that others' requests took. */
static void extendDeadline(Attempt &a, int64_t ms) {
    *a.deadline += ms;
    a.stream.clock.deadline = *a.deadline;
}

/* Counts the answer against its host: one that asks to wait counts as a
 * failure the first time an image meets it, so that a host that turns five
 * images away in a row, answering none between, is skipped like one that
 * cannot be reached; any other answer clears the count. A host that asks to
 * wait is slowed, and the wait it asks of this image is kept; the message
 * stays the status line. Either way the host's next request may go. */
static void countAnswer(Attempt &a) {
    int status = a.outcome.status;
    std::string host = hostPort(a.parts.host, a.parts.port);
    if (status != 429 && status != 503) hostAnswered(a.context->counts, &a.parts);
    else if (a.rateLimits == 0) countHostFailure(a.context->counts, &a.parts);
    if (status == 429 || status == 503) a.waitMs = hostAskedToWait(host, a.stream.header.retryAfter, a.rateLimits);
    else hostAnsweredRequest(host);
    a.turn->end();
}

/* Connects, sends the request, creates the file and reads the response. */
static int exchange(Attempt &a) {
    char connectMessage[ERR_MSG_SIZE] = {0};
    ConnectFailure why = CONNECT_UNREACHABLE;
    a.stream.conn = a.stream.keepAlive ? poolAcquire(a.context, &a.parts, connectMessage, &why)
                                       : connectLink(a.context, &a.parts, connectMessage, &why);
    extendDeadline(a, takeSlotWaits());
    if (!a.stream.conn) return attemptFail(a.outcome, connectReason(why), DOWNLOAD_FAILED, "%s", connectMessage);
    if (!sendAll(a.stream.conn, httpRequest(a.parts, a.stream.keepAlive, a.referer)))
        return attemptFail(a.outcome, REASON_CUT_SHORT, DOWNLOAD_FAILED, "下载图片失败: send() failed");
    a.stream.clock = transferClock(a.stream.clock.deadline);  // the low-speed window starts with the request, not the connect
    if (!bodyFileCreate(a.body, scratchPath(a.filePath, ".part")))
        return attemptFail(a.outcome, REASON_LOCAL_FILE, DOWNLOAD_CREATE_ERROR, "图片搬家失败：无法创建新文件。");
    int result = DOWNLOAD_FAILED;
    if (!readReplyHeader(a.stream, a.body, a.outcome, &result)) {
        countSilence(a);
        return result;
    }
    countAnswer(a);
    return readReplyRest(a.stream, a.body, a.outcome);
}

/* A transfer that the clock stopped fails, whatever the path made of it. */
static int clockStopped(Attempt &a) {
    if (a.stream.clock.stop == TRANSFER_TOO_SLOW)
        return attemptFail(a.outcome, REASON_TIMED_OUT, DOWNLOAD_FAILED, "下载速度过慢: %d 秒内收到的数据不足 %d 字节",
                    LOW_SPEED_WINDOW_MS / 1000, LOW_SPEED_BYTES);
    return attemptFail(a.outcome, REASON_TIMED_OUT, DOWNLOAD_FAILED, "下载超时: 一张图片的下载不能超过 %d 秒",
                IMAGE_DEADLINE_MS / 1000);
}

/* Lets go of the connection: back to the pool when keep is set, else closed. */
static void dropConnection(Attempt &a, int keep) {
    if (keep && a.stream.conn) poolKeep(&a.parts, a.stream.conn);
    else connectionClose(a.stream.conn);
    a.stream.conn = NULL;
}

/* Runs one attempt and cleans up after it. *repeat is set when a failed
 * keep-alive attempt may be tried again without keep-alive. */
static int attempt(Attempt &a, const char *link, int *repeat) {
    if (!parseUrl(link, &a.parts)) return attemptFail(a.outcome, REASON_BAD_LINK, DOWNLOAD_FAILED, "无法parse下载图片地址");
    if (!a.parts.https && a.parts.port == HTTPS_DEFAULT_PORT) a.parts.port = HTTP_DEFAULT_PORT;  // as it always was
    HostTurn turn(hostPort(a.parts.host, a.parts.port), a.ticket);
    a.turn = &turn;
    extendDeadline(a, turn.waited());
    int result = clockNow() > *a.deadline ? clockStopped(a) : exchange(a);
    int stopped = a.stream.clock.stop == TRANSFER_TOO_SLOW || a.stream.clock.stop == TRANSFER_TOO_LONG;
    if (stopped && result != DOWNLOAD_WRITE_ERROR) result = clockStopped(a);
    // a cut connection reads as closed: nothing it carried is trusted
    if (connectionsCut(a.outcome.message)) {
        result = DOWNLOAD_CUT;
        a.outcome.reason = REASON_NONE;
    }
    if (result == DOWNLOAD_DONE) {
        dropConnection(a, a.stream.keepAlive && a.stream.reusable);
        if (!bodyFileClose(a.body, 1, a.filePath))
            result = attemptFail(a.outcome, REASON_LOCAL_FILE, DOWNLOAD_WRITE_ERROR, "写入文件时出错，请检查硬盘可用空间是否已不足。");
    } else {
        bodyFileClose(a.body, 0, a.filePath);
        dropConnection(a, result == DOWNLOAD_REDIRECT && a.stream.keepAlive && a.stream.reusable);
    }
    *repeat = !stopped && clockNow() <= *a.deadline && (result == DOWNLOAD_REFUSED || result == DOWNLOAD_FAILED);
    return result;
}

/* Puts what the attempt met into the report. The status and whether the
 * Referer went with it stay those of the last attempt that had a reply. */
static void noteAttempt(const Attempt &a, DownloadReport *report) {
    report->reason = a.outcome.reason;
    report->digest = a.body.digest;
    report->size = a.body.ends.length;
    if (!a.outcome.status) return;
    report->status = a.outcome.status;
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
        size_t used = strlen(a.outcome.message);  // the status line, always shorter than the buffer
        snprintf(a.outcome.message + used, ERR_MSG_SIZE - used, "\n网站要求等待 %lld 毫秒，超过了这张图片剩余的下载时间",
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
                     const char *filePath, char *errMsg, int useKeepAlive, int64_t *deadline,
                     DownloadReport *report, std::string *location, int *rateLimits, uint64_t ticket) {
    for (int keepAlive = useKeepAlive, referer = context->referer;;) {
        Attempt a;  // one at a time: its buffers are large
        a.context = context;
        a.filePath = filePath;
        a.outcome.message = errMsg;
        a.stream.keepAlive = keepAlive;
        a.referer = referer;
        a.stream.clock = transferClock(*deadline);
        a.rateLimits = *rateLimits;
        a.ticket = ticket;
        a.deadline = deadline;
        int repeat = 0;
        int result = attempt(a, link.c_str(), &repeat);
        noteAttempt(a, report);
        *location = a.stream.header.location;
        int parsed = a.parts.host != NULL, hotlinked = a.outcome.status == 403 && !referer;
        int again = waitedToTryAgain(a, result, rateLimits);
        freeUrlParts(&a.parts);
        if (again) continue;
        int final = context->once && a.outcome.status >= 400 && a.outcome.status < 500;  // the host's answer, not a broken connection
        if (result == DOWNLOAD_REDIRECT || !parsed || !repeat || final || a.waitMs >= 0 || !(keepAlive || hotlinked))
            return result;
        std::string attempted = "(useKeepAlive:" + std::to_string(keepAlive) + ")";
        contextLog(context, ("搬家失败：" + shown + attempted + "，返回的错误信息：\r\n" + errMsg).c_str());
        if (hotlinked) referer = 1;
        else keepAlive = 0;
    }
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
                          int useKeepAlive, int64_t deadline, DownloadReport *report) {
    *report = DownloadReport();
    std::string shown = url, link = requestLink(unescapedLink(url), 1);
    std::vector<std::string> chain = {link};
    uint64_t ticket = nextTurnTicket();
    for (int rateLimits = 0;;) {
        std::string location;
        int result = fetchLink(context, shown, link, filePath, errMsg, useKeepAlive, &deadline, report,
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
                   int useKeepAlive) {
    DownloadReport report = {};
    return downloadBefore(context, url, filePath, errMsg, useKeepAlive, imageDeadline(), &report);
}

int downloadImage(const DownloadContext *context, const char *url, const char *filePath, char *errMsg,
                  DownloadReport *report) {
    return downloadBefore(context, url, filePath, errMsg, 1, imageDeadline(), report);
}
