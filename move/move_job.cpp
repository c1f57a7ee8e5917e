/* The move job; see move_job.h.
 *
 * One pass over the items in package order. Each distinct link is fetched
 * at most once per job: movedImages remembers where it went, or "" when it
 * failed, and later occurrences only add to the item's failure lists. A
 * fatal local-file error sets abortRequested, which ends the walk like a
 * confirmed close; the links moved by then are still written back.
 *
 * Ahead of that pass a second cursor walks the same links and queues each
 * new one, with its local name, for the downloaders (download_pool.h), up
 * to a window of tasks; the pass then waits for each task at its turn. With
 * one connection the window is one task and the job's own thread downloads
 * it, which is the move made one image at a time.
 *
 * Connection failures are counted in link order too: each download counts
 * in a ledger that the pass commits at the link's turn, and a download that
 * ran on counts which its turn has changed is made again (fail_ledger.h).
 * So is one that was not asked with the Referer where its turn asks with
 * it, and the placeholders of hosts that hand their images only to their
 * own pages are found at the links' turns as well (hotlink_hosts.h). */
#include "move_job.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <deque>
#include <memory>
#include <string>
#include <unordered_map>

#include "app_log.h"
#include "conn_pool.h"
#include "host_failures.h"
#include "deployment.h"
#include "download.h"
#include "download_pool.h"
#include "fail_ledger.h"
#include "failure_report.h"
#include "failure_words.h"
#include "file_helpers.h"
#include "hotlink_hosts.h"
#include "link_rewrite.h"
#include "local_naming.h"
#include "package_writer.h"
#include "paths.h"
#include "text_utils.h"
#include "url.h"

std::atomic<int> jobRunning{0};
std::atomic<int> abortRequested{0};

enum { PROGRESS_TEXT_SIZE = 256, FAILURE_LOG_SIZE = 2048, MOVED_PER_ITEM = 32 };

/* Links queued ahead of the one the job waits for, with several connections. */
enum { TASK_WINDOW = 256 };

namespace {

/* What one run of the job keeps. */
struct JobState {
    MoveJob *job;
    JobStartTime start;
    int takenUpTo;  // the highest name number found in the target folder at the start
    StrMap *movedImages;  // link -> local path, or "" when it failed
    JobFailCounts counts; // connection failures, as committed in link order
    int itemCount;
    int done = 0;         // items finished; also the index of the item in hand
    int failedCount = 0;  // distinct links that failed
    int failedAgain = 0;  // of them, those that moving again may fetch
    int sharedCount = 0;  // kept links whose picture other links of their host share
    unsigned failedKinds = 0;  // the kinds of failure met (failure_words.h)
    HotlinkHosts hotlink; // the hosts asked with the Referer, and the copies that tell
    char errMsg[ERR_MSG_SIZE];
    DownloadPool *pool;
    size_t window;        // tasks queued and not yet recorded, at most
    std::unordered_map<std::string, std::unique_ptr<ImageTask>> tasks;  // by link, until recorded
    std::deque<std::string> order;  // the links of tasks, in link order (recorded ones at the front drop out)
    int fillItem = 0;     // the queueing cursor: item, its mobile links or not, link
    int fillMobile = 0;
    int fillIndex = 0;
};

}  // namespace

static void showProgress(JobState &s, const char *suffix) {
    char text[PROGRESS_TEXT_SIZE];
    snprintf(text, sizeof text, "搬家进度(宝贝数:%d, 已搬家宝贝数:%d)%s", s.itemCount, s.done, suffix);
    s.job->view->progressText(s.job->view->context, text);
}

static void fatalMessage(JobState &s, const char *text) {
    s.job->view->showMessage(s.job->view->context, text, "错误", MESSAGE_ERROR);
    abortRequested = 1;
}

int requestAbort(void) {
    abortRequested = 1;
    return jobRunning;
}

void requestCut(void) {
    abortRequested = 1;
    netCutAll();
}

int linkSelected(const MoveOptions &o, const char *url, ImageKind kind) {
    if (kind == MOBILE_IMAGE) return o.imageSpace;
    int market = 0;
    for (const char *marker : MARKET_HOST_MARKERS) market |= strstr(url, marker) != NULL;
    return market ? o.imageSpace : o.otherAlbums;
}

/* Adds the link to the item's failure list of its kind, once. */
static void listFailure(ItemRecord *item, ImageKind kind, const char *url) {
    PtrVector *&list = kind == DESCRIPTION_IMAGE ? item->pcFailures : item->mobileFailures;
    if (!list) list = ptrVectorCreateDefault();
    if (!list || ptrVectorContains(list, url, stringEquals)) return;
    char *copy = copyBytes(url, strlen(url));
    if (copy && !ptrVectorPush(list, copy)) free(copy);
}

/* Records where the link went ("" when it failed), in place of whatever
 * was recorded for it before. */
static void remember(JobState &s, const char *url, const char *path) {
    char *key = copyBytes(url, strlen(url)), *value = copyBytes(path, strlen(path));
    void *old = NULL;
    int stored = key && value ? strMapReplace(s.movedImages, key, value, &old) : STRMAP_NO_MEMORY;
    if (stored != STRMAP_ADDED) free(key);
    if (stored == STRMAP_NO_MEMORY) free(value);
    free(old);
}

/* Takes back a link recorded as moved and removes its file: the link
 * stays remote, for the next move to fetch. */
static void unmove(JobState &s, const char *url) {
    char *known = (char *)strMapRemove(s.movedImages, url), path[PATH_SIZE];
    if (known && *known && textToPath(known, path, sizeof path)) remove(path);
    free(known);
}

/* Runs a download on the job's thread at its link's turn, in a context
 * whose failures are committed at once (nothing else commits meanwhile, so
 * it holds) and whose log lines go to the log as they come. */
template <class Download> static int atTurn(JobState &s, Download download) {
    FailureLedger ledger;
    ledger.job = &s.counts;
    DownloadContext context = {&ledger, NULL, 0, 0};
    s.errMsg[0] = '\0';
    int result = download(&context);
    ledgerCommit(ledger);
    return result;
}

/* A link in hand at its turn: how its host was asked and what came of it. */
struct Fetched {
    const char *url;
    ImageKind kind;
    int item;
    std::string host;
    HostAsk ask;
    char path[PATH_SIZE];
    int result;
    DownloadReport report;
    Recheck probe;

    MovedCopy copy() const { return {url, item, kind, report.digest, report.size}; }
};

/* Downloads the link as its host is asked, into its path. */
static int fetchAtTurn(JobState &s, Fetched &f) {
    f.report = DownloadReport();
    return atTurn(s, [&](const DownloadContext *context) {
        return fetchAsAsked(context, f.url, f.path, f.ask, s.errMsg, &f.report, &f.probe);
    });
}

/* Downloads the link into a fresh local path on the job's thread. */
static int fetchNamed(JobState &s, Fetched &f) {
    if (freeLocalPath(s.job->targetFolder, f.kind, s.start, imageExtension(f.url), s.takenUpTo, f.path, sizeof f.path))
        return fetchAtTurn(s, f);
    snprintf(s.errMsg, sizeof s.errMsg, "图片搬家失败：无法创建新文件。");  // a path beyond the platform's limit
    f.report.reason = REASON_LOCAL_FILE;
    return DOWNLOAD_CREATE_ERROR;
}

/* Records a link that could not be fetched, and why. */
static void recordFailure(JobState &s, ItemRecord *item, const char *url, ImageKind kind,
                          const DownloadReport &report) {
    LinkFailure failure = {report.reason, report.status};
    if (s.job->reasons) (*s.job->reasons)[url] = failure;
    s.failedAgain += againMayHelp(failure);
    s.failedKinds |= failureKind(failure);
    remember(s, url, "");
    listFailure(item, kind, url);
    s.failedCount++;
    char line[FAILURE_LOG_SIZE];  // a long link and message are cut to the line
    snprintf(line, sizeof line, "搬家失败：%s，返回的错误信息：\r\n%s", url, s.errMsg);
    appendLog(line);
}

/* Acts on the result of a link's download, the message in s.errMsg. */
static void recordResult(JobState &s, ItemRecord *item, const char *url, ImageKind kind, const char *path,
                         int result, const DownloadReport &report) {
    char text[PATH_SIZE];
    if (result == 1 && pathToText(path, text, sizeof text)) {
        remember(s, url, text);  // the package names the file in its own GBK text
        return;
    }
    remove(path);  // the name claimed for the link is let go
    if (result == DOWNLOAD_CUT) {  // stopped at once: the link stays as it was
        abortRequested = 1;
        return;
    }
    if (result == DOWNLOAD_CREATE_ERROR && kind == DESCRIPTION_IMAGE)
        fatalMessage(s, "图片搬家中断：无法创建新文件。\n\n可以对刚才的数据包(csv)文件再搬家一次，"
                        "如果还是出现类似问题请联系我们的客服。");
    else if (result == DOWNLOAD_CREATE_ERROR || result == DOWNLOAD_WRITE_ERROR)
        fatalMessage(s, s.errMsg);
    else
        recordFailure(s, item, url, kind, report);
}

/* The link's host and port as the per-host limit counts them; empty when
 * it does not parse. */
static std::string hostKey(const char *url) {
    UrlParts parts;
    if (!parseUrl(url, &parts)) return "";
    std::string key = hostPort(parts.host, parts.port);
    freeUrlParts(&parts);
    return key;
}

/* Names the link's local file and queues it. */
static void queueTask(JobState &s, const char *url, ImageKind kind) {
    std::unique_ptr<ImageTask> task(new ImageTask);
    task->url = url;
    task->kind = kind;
    task->item = s.fillItem;
    task->ledger.job = &s.counts;
    task->hotlink = &s.hotlink;
    task->hostKey = hostKey(url);
    char path[PATH_SIZE];
    if (freeLocalPath(s.job->targetFolder, kind, s.start, imageExtension(url), s.takenUpTo, path, sizeof path)) {
        task->path = path;
        downloadPoolAdd(s.pool, task.get());
    } else {  // a path beyond the platform's limit is a file that cannot be created
        task->state = TASK_DONE;
        task->result = DOWNLOAD_CREATE_ERROR;
        task->errMsg = "图片搬家失败：无法创建新文件。";
    }
    s.order.push_back(url);
    s.tasks[url] = std::move(task);
}

/* The next selected link under the queueing cursor; 0 at the end. */
static int nextLink(JobState &s, const char **url, ImageKind *kind) {
    while (s.fillItem < s.itemCount) {
        ItemRecord *item = (ItemRecord *)s.job->items->items[s.fillItem];
        PtrVector *list = s.fillMobile ? item->mobileLinks : item->descLinks;
        *kind = s.fillMobile ? MOBILE_IMAGE : DESCRIPTION_IMAGE;
        if (list && s.fillIndex < list->count) {
            *url = (const char *)list->items[s.fillIndex++];
            if (linkSelected(s.job->options, *url, *kind)) return 1;
            continue;
        }
        s.fillIndex = 0;
        s.fillItem += s.fillMobile;
        s.fillMobile = !s.fillMobile;
    }
    return 0;
}

/* Queues new links ahead of the job until the window is full. */
static void fillQueue(JobState &s) {
    const char *url;
    ImageKind kind;
    while (s.tasks.size() < s.window && !abortRequested && !downloadPoolFatal(s.pool) && nextLink(s, &url, &kind))
        if (!strMapGet(s.movedImages, url) && !s.tasks.count(url)) queueTask(s, url, kind);
}

/* The walk meets a link that will not be fetched: the job was stopped, by
 * a close or by a download whose local file failed, which is shown now. */
static void stopAtFatal(JobState &s) {
    ImageTask *fatal = downloadPoolFatal(s.pool);
    if (abortRequested || !fatal) {
        abortRequested = 1;
        return;
    }
    snprintf(s.errMsg, sizeof s.errMsg, "%s", fatal->errMsg.c_str());
    recordResult(s, NULL, fatal->url.c_str(), fatal->kind, fatal->path.c_str(), fatal->result, fatal->report);
    fatal->path.clear();  // its name is let go
}

/* The task's outcome at its link's turn. One that ran on failure counts, or
 * asked its host otherwise than its turn asks, as earlier links have since
 * decided, is made again. */
static int resultAtTurn(JobState &s, const ImageTask &task, Fetched &f) {
    f.ask = hotlinkAsk(&s.hotlink, f.host, true);
    f.report = task.report;
    f.probe = task.probe;
    // a path beyond the platform's limit was never downloaded
    if (task.path.empty() || (task.ask == f.ask && ledgerCommit(task.ledger))) {
        writeLogLines(task.logLines);
        return task.result;
    }
    return fetchAtTurn(s, f);  // the new download replaces the file at the claimed name
}

/* Asks for a moved link again with the Referer at its turn, its file at
 * path (image_fetch.h); *result is that download's. */
static Recheck recheckAtTurn(JobState &s, const MovedCopy &copy, const char *path, DownloadReport *again, int *result) {
    Recheck recheck = RECHECK_NONE;
    *result = atTurn(s, [&](const DownloadContext *context) {
        int r;
        recheck = recheckWithReferer(context, copy.url, path, copy.digest, copy.size, s.errMsg, again, &r);
        return r;
    });
    return recheck;
}

/* An earlier link of a host found to need the Referer, moved without it:
 * asked for again with it. One that cannot be had so is failed; one cut
 * stays remote. */
static void refetchCopy(JobState &s, const MovedCopy &c) {
    char *known = (char *)strMapGet(s.movedImages, c.url), path[PATH_SIZE];
    if (!known || !*known || !textToPath(known, path, sizeof path)) return;
    DownloadReport again;
    int result;
    Recheck recheck = recheckAtTurn(s, c, path, &again, &result);
    if (recheck == RECHECK_SAME || recheck == RECHECK_DIFFERENT) return;
    unmove(s, c.url);
    recordResult(s, (ItemRecord *)s.job->items->items[c.item], c.url, c.kind, path, result, again);
    const MoveView *view = s.job->view;
    if (c.item < s.done && strMapGet(s.movedImages, c.url)) view->failuresChanged(view->context, c.item);
}

/* The host needs the Referer: the links it gave without it, but for the
 * one in hand, are fetched again with it. */
static void refererFound(JobState &s, const Fetched &f) {
    for (const MovedCopy &c : hotlinkJudged(&s.hotlink, f.host, HOST_REFERER))
        if (strcmp(c.url, f.url) != 0 && !abortRequested) refetchCopy(s, c);
}

/* A link of a plain host whose bytes equal an earlier link's, asked for
 * again with the Referer: bytes that then differ were the host's
 * placeholder; the same bytes, or a refusal, are one picture under several
 * links, kept for the seller to check. Returns the link's result. */
static int recheckTwin(JobState &s, Fetched &f, SameBytes *same) {
    DownloadReport again;
    int result;
    Recheck recheck = recheckAtTurn(s, f.copy(), f.path, &again, &result);
    if (recheck == RECHECK_SAME || recheck == RECHECK_REFUSED) {
        same->reused = true;
        return 1;
    }
    if (recheck != RECHECK_DIFFERENT) hotlinkForgetCopy(&s.hotlink, f.host, f.copy());
    f.report = again;
    if (recheck == RECHECK_DIFFERENT || recheck == RECHECK_GONE) refererFound(s, f);
    return recheck == RECHECK_DIFFERENT ? 1 : result;
}

/* A moved link judged against what its host has shown: a scout sets the
 * host's verdict, a 403 that the Referer mended marks the host, and bytes
 * equal to an earlier link's are checked again. Returns the link's result. */
static int judgeMoved(JobState &s, Fetched &f) {
    if (f.ask == ASK_SCOUT) hotlinkJudged(&s.hotlink, f.host, f.report.refererSent ? HOST_REFERER : HOST_PLAIN);
    if (f.ask == ASK_REFERER || f.ask == ASK_ONCE || f.report.refererSent) {
        if (f.ask == ASK_PLAIN) refererFound(s, f);
        return 1;
    }
    SameBytes *same = hotlinkNoteCopy(&s.hotlink, f.host, f.copy());
    return same && !same->reused ? recheckTwin(s, f, same) : 1;
}

/* A scout that brought no image: the host needs the Referer when it
 * answered otherwise with it (the image is gone behind a placeholder);
 * else the next image of the host scouts again. */
static void judgeFailedScout(JobState &s, const Fetched &f) {
    hotlinkJudged(&s.hotlink, f.host, f.probe == RECHECK_GONE ? HOST_REFERER : HOST_UNKNOWN);
}

/* Moves one link of an item, unless this job has met it before. */
static void processLink(JobState &s, ItemRecord *item, const char *url, ImageKind kind) {
    const char *known = (const char *)strMapGet(s.movedImages, url);
    if (known) {
        if (!*known) listFailure(item, kind, url);
        return;
    }
    fillQueue(s);
    auto found = s.tasks.find(url);
    TaskState state = found == s.tasks.end() ? TASK_CANCELLED : downloadPoolAwait(s.pool, found->second.get());
    if (state != TASK_DONE) {
        stopAtFatal(s);
        return;
    }
    const ImageTask &task = *found->second;
    Fetched f = {url, kind, s.done, task.hostKey, ASK_PLAIN, "", 0, {}, RECHECK_NONE};
    snprintf(f.path, sizeof f.path, "%s", task.path.c_str());
    snprintf(s.errMsg, sizeof s.errMsg, "%s", task.errMsg.c_str());
    f.result = resultAtTurn(s, task, f);
    s.tasks.erase(found);
    while (!s.order.empty() && !s.tasks.count(s.order.front())) s.order.pop_front();
    // a description image whose file cannot be created gets one more try under a new name
    if (f.result == DOWNLOAD_CREATE_ERROR && kind == DESCRIPTION_IMAGE) {
        remove(f.path);  // the name claimed first is let go
        f.result = fetchNamed(s, f);
    }
    if (f.result == 1) f.result = judgeMoved(s, f);
    else if (f.ask == ASK_SCOUT) judgeFailedScout(s, f);
    if (f.result != 1 && f.ask <= ASK_PLAIN && f.report.refererSent && f.report.status == 403)
        hotlinkRefused(&s.hotlink, f.host);
    if (f.ask == ASK_SCOUT) downloadPoolWake(s.pool);  // the host's other images may go
    recordResult(s, item, url, kind, f.path, f.result, f.report);
}

/* Walks one item's links; returns 0 when the job was stopped meanwhile. */
static int moveItem(JobState &s, ItemRecord *item) {
    const MoveOptions &o = s.job->options;
    for (int32_t i = 0; i < item->descLinks->count && !abortRequested; i++) {
        const char *url = (const char *)item->descLinks->items[i];
        if (linkSelected(o, url, DESCRIPTION_IMAGE)) processLink(s, item, url, DESCRIPTION_IMAGE);
    }
    PtrVector *mobile = item->mobileLinks;
    for (int32_t i = 0; mobile && o.imageSpace && i < mobile->count && !abortRequested; i++)
        processLink(s, item, (const char *)mobile->items[i], MOBILE_IMAGE);
    return !abortRequested;
}

static void walkItems(JobState &s) {
    const MoveView *view = s.job->view;
    while (s.done < s.itemCount && !abortRequested) {
        ItemRecord *item = (ItemRecord *)s.job->items->items[s.done];
        view->itemStarted(view->context, s.done);
        if (!moveItem(s, item)) return;  // the row keeps its "moving" state
        int index = s.done++;
        view->itemFinished(view->context, index, item, s.done);
        showProgress(s, "");
        item->status = 2;
        if (item->pcFailures || item->mobileFailures) view->failuresChanged(view->context, index);
    }
}

static void reportRewrite(void *context, int percent) {
    JobState &s = *(JobState *)context;
    char suffix[64];
    snprintf(suffix, sizeof suffix, ", 正在更新csv文件...(%d%%)", percent);
    showProgress(s, suffix);
}

/* What to do about the failed links: moving again only for those it may
 * fetch, a blank image or another picture for the rest. */
static std::string failureAdvice(const JobState &s) {
    static const char BLANK[] = "注意：开始搬家前在 [将搬家失败的图片替换成空白图片] 前面打上钩。";
    static const char AGAIN[] = "请再次对csv文件进行1到2次的搬家，如果依然提示搬家失败，请联系我们的客服。";
    std::string never = "再次搬家也不会成功（" + failureKindWords(s.failedKinds, 0) + "），请换用能正常显示的图片，" +
                        "或者再次对csv文件进行搬家，";
    std::string check = "解决办法：在宝贝列表中选中搬家失败的宝贝，复制搬家失败的图片地址到浏览器中检查能否正常显示。\n\n";
    int final = s.failedCount - s.failedAgain;
    if (final == 0)
        return check + "1.如果在浏览器中都不能显示，请再次对csv文件进行搬家，" + BLANK +
               "\n\n2.如果搬家失败的图片地址在浏览器中打开能正常显示图片，" + AGAIN;
    if (s.failedAgain == 0) return check + "这些图片" + never + BLANK;
    return check + formatText("1.其中 %d 张图片", final) + never + BLANK +
           formatText("\n\n2.其余 %d 张图片（%s），", s.failedAgain, failureKindWords(s.failedKinds, 1).c_str()) + AGAIN;
}

/* A word on the kept links whose picture other links of their host share. */
static std::string sharedNote(const JobState &s) {
    if (!s.sharedCount) return "";
    return formatText("\n\n注意：有 %d 张图片与同一网站其他图片地址下载到的图片完全相同，可能是该网站的防盗链图片，"
                      "请检查这些宝贝的图片能否正常显示。", s.sharedCount);
}

/* The final message: what moved, what failed, whether the package changed. */
static void showOutcome(JobState &s, int changed) {
    char name[PATH_SIZE];
    pathToText(fileName(s.job->packagePath), name, sizeof name);
    int warn = changed ? s.failedCount > 0 && !s.job->options.blankForFailed : s.failedCount > 0;
    std::string text, done = formatText("图片搬家已完成，数据包(%s)已更新。", name) + sharedNote(s);
    if (changed && !warn)
        text = done;
    else if (changed)
        text = done + "\n\n注意：有部分图片搬家失败！\n\n\n" + failureAdvice(s);
    else
        text = warn ? "图片搬家失败，没有找到搬家成功的图片。\n\n\n" + failureAdvice(s) : "没有找到需要搬家的图片。";
    text += updateFailureReport(s.job->packagePath, s.job->items, s.job->reasons, s.job->shared);
    int notice = warn || (changed && s.sharedCount);
    const MoveView *view = s.job->view;
    view->showMessage(view->context, text.c_str(), notice ? "提示" : "完成", notice ? MESSAGE_WARNING : MESSAGE_INFO);
}

/* After a stop, a download that finished ahead of the walk: kept when
 * judging it at its turn would have asked nothing more, the host's
 * verdict then noted as that judgement would. */
static bool keptAhead(JobState &s, const ImageTask &t) {
    if (t.state != TASK_DONE || t.result != 1 || t.ask != hotlinkAsk(&s.hotlink, t.hostKey, true)) return false;
    if (t.ask == ASK_SCOUT) hotlinkJudged(&s.hotlink, t.hostKey, t.report.refererSent ? HOST_REFERER : HOST_PLAIN);
    if (t.ask >= ASK_REFERER || (t.ask == ASK_SCOUT && t.report.refererSent)) return true;
    if (t.report.refererSent) return false;  // the host's earlier links would be fetched again
    MovedCopy copy = {t.url.c_str(), t.item, t.kind, t.report.digest, t.report.size};
    SameBytes *same = hotlinkNoteCopy(&s.hotlink, t.hostKey, copy);
    if (!same || same->reused) return true;
    hotlinkForgetCopy(&s.hotlink, t.hostKey, copy);  // it would be asked again with the Referer
    return false;
}

/* Ends the downloads. After a stop, the images that arrived ahead of the
 * walk are written back like the rest where they are known to be the
 * images (keptAhead); the others' links stay remote for the next move. */
static void endDownloads(JobState &s) {
    downloadPoolDestroy(s.pool);
    s.pool = NULL;
    for (const std::string &url : s.order) {
        auto found = s.tasks.find(url);
        if (found == s.tasks.end()) continue;
        const ImageTask &task = *found->second;
        char text[PATH_SIZE];
        writeLogLines(task.logLines);
        if (keptAhead(s, task) && pathToText(task.path.c_str(), text, sizeof text))
            remember(s, task.url.c_str(), text);
        else
            remove(task.path.c_str());  // not kept, or never fetched: its claimed name is let go
    }
    s.tasks.clear();
    s.order.clear();
}

/* Hands the kept links that share their picture to the front end. */
static void noteShared(JobState &s) {
    hotlinkEachShared(&s.hotlink, [&s](const char *url, int count) {
        const char *known = (const char *)strMapGet(s.movedImages, url);
        if (!known || !*known) return;
        s.sharedCount++;
        if (s.job->shared) (*s.job->shared)[url] = count;
    });
}

/* Rewrites and writes the package; ends the job. */
static int finishJob(JobState &s) {
    MoveJob *job = s.job;
    endDownloads(s);
    noteShared(s);
    showProgress(s, ", 正在更新csv文件...");
    int changed = rewriteLinks(&job->packageText, job->items, s.movedImages, job->options, {reportRewrite, &s});
    if (changed) writePackage(job->packagePath, job->packageText);
    free(job->packageText);
    job->packageText = NULL;
    showProgress(s, "");
    // cleared before the last look at abortRequested: a stop asked for from
    // here on finds no job running and ends the process itself
    jobRunning = 0;
    if (abortRequested) {
        strMapDestroy(s.movedImages, 1);
        return MOVE_ABORTED;
    }
    showOutcome(s, changed);
    strMapDestroy(s.movedImages, 1);
    resetConnFailCounts();
    job->view->jobEnded(job->view->context);
    return MOVE_FINISHED;
}

int runMoveJob(MoveJob *job) {
    jobRunning = 1;
    backupPackage(job->packagePath, job->programDir);
    JobState s;
    s.job = job;
    s.start = jobStartNow();
    s.takenUpTo = highestTakenNumber(job->targetFolder, job->packageText, s.start);
    s.itemCount = job->items->count;
    int capacity = s.itemCount > 0 && s.itemCount < INT32_MAX / MOVED_PER_ITEM ? s.itemCount * MOVED_PER_ITEM : 1;
    s.movedImages = strMapCreate(strMapHash, strMapKeyEquals, capacity, 0.75f);
    int connections = job->connections > 0 ? job->connections : MOVE_CONNECTIONS;
    s.pool = downloadPoolCreate(connections > 1 ? connections : 0,
                                connections < CONNECTIONS_PER_HOST ? connections : CONNECTIONS_PER_HOST);
    s.window = connections > 1 ? TASK_WINDOW : 1;
    walkItems(s);
    return finishJob(s);
}
