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

#include <memory>
#include <string>
#include <unordered_map>

#include "app_log.h"
#include "conn_pool.h"
#include "deployment.h"
#include "download.h"
#include "download_pool.h"
#include "fail_ledger.h"
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
    unsigned failedKinds = 0;  // the kinds of failure met (failure_words.h)
    HotlinkHosts hotlink; // the hosts asked with the Referer, and the copies that tell
    char errMsg[ERR_MSG_SIZE];
    DownloadPool *pool;
    size_t window;        // tasks queued and not yet recorded, at most
    std::unordered_map<std::string, std::unique_ptr<ImageTask>> tasks;  // by link, until recorded
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

static void remember(JobState &s, const char *url, const char *path) {
    char *key = copyBytes(url, strlen(url)), *value = copyBytes(path, strlen(path));
    if (key && value && !strMapPut(s.movedImages, key, value)) return;
    free(key);
    free(value);
}

/* Downloads the link on the job's thread at its turn, its failures
 * committed at once (nothing else commits meanwhile, so it holds). */
static int downloadAtTurn(JobState &s, const char *url, const char *path, DownloadReport *report) {
    FailureLedger ledger;
    ledger.job = &s.counts;
    useFailureLedger(&ledger);
    s.errMsg[0] = '\0';
    int result = downloadImage(url, path, s.errMsg, report);
    useFailureLedger(NULL);
    ledgerCommit(ledger);
    return result;
}

/* Downloads the link into a fresh local path on the job's thread. */
static int downloadNamed(JobState &s, const char *url, ImageKind kind, char *path, size_t size,
                         DownloadReport *report) {
    if (freeLocalPath(s.job->targetFolder, kind, s.start, imageExtension(url), s.takenUpTo, path, size))
        return downloadAtTurn(s, url, path, report);
    snprintf(s.errMsg, sizeof s.errMsg, "图片搬家失败：无法创建新文件。");  // a path beyond the platform's limit
    report->reason = REASON_LOCAL_FILE;
    return DOWNLOAD_CREATE_ERROR;
}

int againMayHelp(const LinkFailure &f) {
    switch (f.reason) {
    case REASON_STATUS:  // a server error may pass; a client error is the answer
        return f.status >= 500 || f.status == 408;
    case REASON_HOST_SKIPPED:
    case REASON_TIMED_OUT:
    case REASON_RATE_LIMITED:
    case REASON_UNAVAILABLE:
    case REASON_UNREACHABLE:
    case REASON_CUT_SHORT:
    case REASON_LOCAL_FILE:
        return 1;
    default:
        return 0;
    }
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
    if (result == DOWNLOAD_CUT) {  // stopped at once: the link stays as it was
        abortRequested = 1;
        return;
    }
    if (result == 1 && pathToText(path, text, sizeof text)) {
        remember(s, url, text);  // the package names the file in its own GBK text
        return;
    }
    if (result != DOWNLOAD_CREATE_ERROR && fileExists(path)) remove(path);
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
    task->ledger.job = &s.counts;
    task->hotlink = &s.hotlink;
    char path[PATH_SIZE];
    if (freeLocalPath(s.job->targetFolder, kind, s.start, imageExtension(url), s.takenUpTo, path, sizeof path)) {
        task->path = path;
        task->hostKey = hostKey(url);
        downloadPoolAdd(s.pool, task.get());
    } else {  // a path beyond the platform's limit is a file that cannot be created
        task->state = TASK_DONE;
        task->result = DOWNLOAD_CREATE_ERROR;
        task->errMsg = "图片搬家失败：无法创建新文件。";
    }
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
}

/* The task's outcome at its link's turn. One that ran on failure counts, or
 * without the Referer that its turn asks with, as earlier links have since
 * decided, is made again. */
static int resultAtTurn(JobState &s, const ImageTask &task, DownloadReport *report) {
    int wanted = refererWanted(&s.hotlink, task.hostKey);
    *report = task.report;
    // a path beyond the platform's limit was never downloaded
    if (task.path.empty() || (task.report.referer == wanted && ledgerCommit(task.ledger))) {
        writeLogLines(task.logLines);
        return task.result;
    }
    if (task.result == 1) remove(task.path.c_str());
    *report = DownloadReport();
    report->referer = wanted;
    return downloadAtTurn(s, task.url.c_str(), task.path.c_str(), report);
}

/* How the link's bytes came out when asked for again with the Referer. */
enum Recheck { RECHECK_SAME, RECHECK_DIFFERENT, RECHECK_FAILED };

/* Asks for the link again with the Referer, beside its file at path; bytes
 * other than before's replace the file's. */
static Recheck askWithReferer(JobState &s, const char *url, const char *path, const DownloadReport &before,
                              DownloadReport *again) {
    std::string scratch = scratchPath(path, ".referer");
    *again = DownloadReport();
    again->referer = 1;
    if (downloadAtTurn(s, url, scratch.c_str(), again) != 1) return RECHECK_FAILED;
    if (again->digest == before.digest && again->size == before.size) {
        remove(scratch.c_str());
        return RECHECK_SAME;
    }
    if (replaceFile(scratch.c_str(), path)) return RECHECK_DIFFERENT;
    remove(scratch.c_str());
    again->reason = REASON_LOCAL_FILE;
    return RECHECK_FAILED;
}

/* An earlier link that came back as the host's placeholder: asked for again
 * with the Referer, and failed when the real image cannot be had. */
static void refetchPlaceholder(JobState &s, const MovedCopy &copy, const DownloadReport &placeholder) {
    char *known = (char *)strMapGet(s.movedImages, copy.url), path[PATH_SIZE];
    if (!known || !*known || !textToPath(known, path, sizeof path)) return;
    DownloadReport again;
    if (askWithReferer(s, copy.url, path, placeholder, &again) != RECHECK_FAILED) return;
    remove(path);
    known[0] = '\0';  // the link is no longer moved
    recordFailure(s, (ItemRecord *)s.job->items->items[copy.item], copy.url, copy.kind, again);
    const MoveView *view = s.job->view;
    if (copy.item < s.done) view->failuresChanged(view->context, copy.item);
}

/* A link moved from its host, judged against the host's earlier links.
 * A 403 that the Referer mended marks the host. A link whose bytes equal an
 * earlier link's is asked for again with the Referer: bytes that then
 * differ were the host's placeholder, so the host is marked and its earlier
 * copies are fetched again; bytes that stay the same are one picture the
 * host really uses in many places. */
static void judgeCopy(JobState &s, const std::string &host, const MovedCopy &copy, const char *path,
                      const DownloadReport &report) {
    if (report.refererSent) {
        if (!report.referer) refererNeeded(&s.hotlink, host);
        return;
    }
    SameBytes *same = noteCopy(&s.hotlink, host, report.digest, report.size, copy);
    DownloadReport again;
    Recheck recheck = same ? askWithReferer(s, copy.url, path, report, &again) : RECHECK_FAILED;
    if (recheck == RECHECK_SAME) same->reused = true;
    if (recheck != RECHECK_DIFFERENT) return;
    std::vector<MovedCopy> earlier(same->links.begin(), same->links.end() - 1);
    refererNeeded(&s.hotlink, host);  // forgets the host's copies
    for (const MovedCopy &c : earlier) refetchPlaceholder(s, c, report);
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
    if (found != s.tasks.end()) downloadPoolAwait(s.pool, found->second.get());
    if (found == s.tasks.end() || found->second->state != TASK_DONE) {
        stopAtFatal(s);
        return;
    }
    const ImageTask &task = *found->second;
    char path[PATH_SIZE];
    snprintf(path, sizeof path, "%s", task.path.c_str());
    snprintf(s.errMsg, sizeof s.errMsg, "%s", task.errMsg.c_str());
    std::string host = task.hostKey;
    DownloadReport report;
    int result = resultAtTurn(s, task, &report);
    s.tasks.erase(found);
    // a description image whose file cannot be created gets one more try under a new name
    if (result == DOWNLOAD_CREATE_ERROR && kind == DESCRIPTION_IMAGE)
        result = downloadNamed(s, url, kind, path, sizeof path, &report);
    if (result == 1) judgeCopy(s, host, MovedCopy{url, s.done, kind}, path, report);
    recordResult(s, item, url, kind, path, result, report);
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

/* The final message: what moved, what failed, whether the package changed. */
static void showOutcome(JobState &s, int changed) {
    char name[PATH_SIZE];
    pathToText(fileName(s.job->packagePath), name, sizeof name);
    int warn = changed ? s.failedCount > 0 && !s.job->options.blankForFailed : s.failedCount > 0;
    std::string text;
    if (changed && !warn)
        text = formatText("图片搬家已完成，数据包(%s)已更新。", name);
    else if (changed)
        text = formatText("图片搬家已完成，数据包(%s)已更新。\n\n注意：有部分图片搬家失败！\n\n\n", name) + failureAdvice(s);
    else
        text = warn ? "图片搬家失败，没有找到搬家成功的图片。\n\n\n" + failureAdvice(s) : "没有找到需要搬家的图片。";
    const MoveView *view = s.job->view;
    view->showMessage(view->context, text.c_str(), warn ? "提示" : "完成", warn ? MESSAGE_WARNING : MESSAGE_INFO);
}

/* Ends the downloads; after a stop, the images that arrived ahead of the
 * walk are kept and written back like the rest, but for those asked for
 * without the Referer that their host turned out to need. */
static void endDownloads(JobState &s) {
    downloadPoolDestroy(s.pool);
    s.pool = NULL;
    for (auto &entry : s.tasks) {
        const ImageTask &task = *entry.second;
        char text[PATH_SIZE];
        writeLogLines(task.logLines);
        if (task.state != TASK_DONE || task.result != 1) continue;
        if (task.report.referer == refererWanted(&s.hotlink, task.hostKey) &&
            pathToText(task.path.c_str(), text, sizeof text))
            remember(s, task.url.c_str(), text);
        else
            remove(task.path.c_str());
    }
    s.tasks.clear();
}

/* Rewrites and writes the package; ends the job. */
static int finishJob(JobState &s) {
    MoveJob *job = s.job;
    endDownloads(s);
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
    s.takenUpTo = highestTakenNumber(job->targetFolder, s.start);
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
