/* The move job; see move_job.h.
 *
 * One pass over the items in package order, the walk, takes each selected
 * link at its turn (move_options.h). Each distinct link is fetched at most
 * once per job: the results (link_results.h) hold where it went, or that it
 * failed, and later occurrences only add to the item's failure lists. A
 * fatal local-file error sets abortRequested, which ends the walk like a
 * confirmed close; the links moved by then are still written back.
 *
 * Ahead of the walk, the queue (link_queue.h) hands each new link, with its
 * local name, to the downloaders, up to a window of tasks; the walk then
 * waits for each task at its turn. With one connection the window is one
 * task and the job's own thread downloads it, which is the move made one
 * image at a time.
 *
 * Connection failures are counted in link order too: each download counts
 * in a ledger that the walk commits at the link's turn, and a download that
 * ran on counts which its turn has changed is made again (fail_ledger.h).
 * So is one that was not asked with the Referer where its turn asks with
 * it. The placeholder checks judge each link at its turn as well
 * (placeholder_check.h); the downloads they ask for run here, on the job's
 * thread, like every download at a link's turn. */
#include "move_job.h"

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "app_log.h"
#include "conn_pool.h"
#include "download_pool.h"
#include "fail_ledger.h"
#include "failure_report.h"
#include "host_failures.h"
#include "hotlink_hosts.h"
#include "link_queue.h"
#include "link_results.h"
#include "link_rewrite.h"
#include "move_wording.h"
#include "package_writer.h"
#include "paths.h"
#include "placeholder_check.h"

namespace {

/* What one run of the job keeps. */
struct JobState {
    MoveJob *job;
    LinkResults results;  // what came of each link
    JobFailCounts counts; // connection failures, as committed in link order
    int itemCount;
    int done = 0;         // items finished; also the index of the item in hand
    HotlinkHosts hotlink; // the hosts asked with the Referer, and the copies that tell
    char errMsg[ERR_MSG_SIZE];
    LinkQueue queue;      // the links queued for the downloaders ahead of the walk
    JudgeHooks judge;     // what the placeholder checks ask of the job
};

}  // namespace

static void showProgress(JobState &s, const char *suffix) {
    s.job->view->progressText(s.job->view->context, progressLabel(s.itemCount, s.done, suffix).c_str());
}

static void fatalMessage(JobState &s, const char *text) {
    s.job->view->showMessage(s.job->view->context, text, FATAL_CAPTION, MESSAGE_ERROR);
    abortRequested = 1;
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

/* Downloads the link as its host is asked, into its path. */
static int fetchAtTurn(JobState &s, Fetched &f) {
    f.report = DownloadReport();
    return atTurn(s, [&](const DownloadContext *context) {
        return fetchAsAsked(context, f.url, f.path, f.ask, s.errMsg, &f.report, &f.probe);
    });
}

/* Downloads the link into a fresh local path on the job's thread. */
static int fetchNamed(JobState &s, Fetched &f) {
    if (claimLocalPath(s.queue, f.url, f.kind, f.path, sizeof f.path))
        return fetchAtTurn(s, f);
    snprintf(s.errMsg, sizeof s.errMsg, "%s", NO_NEW_FILE);  // a path beyond the platform's limit
    f.report.reason = REASON_LOCAL_FILE;
    return DOWNLOAD_CREATE_ERROR;
}

/* Acts on the result of a link's download, the message in s.errMsg. */
static void recordResult(JobState &s, ItemRecord *item, const char *url, ImageKind kind, const char *path,
                         int result, const DownloadReport &report) {
    char text[PATH_SIZE];
    if (result == 1 && pathToText(path, text, sizeof text)) {
        recordMoved(&s.results, url, text);  // the package names the file in its own GBK text
        return;
    }
    remove(path);  // the name claimed for the link is let go
    if (result == DOWNLOAD_CUT) {  // stopped at once: the link stays as it was
        abortRequested = 1;
        return;
    }
    if (result == DOWNLOAD_CREATE_ERROR && kind == DESCRIPTION_IMAGE)
        fatalMessage(s, NO_NEW_FILE_FATAL);
    else if (result == DOWNLOAD_CREATE_ERROR || result == DOWNLOAD_WRITE_ERROR)
        fatalMessage(s, s.errMsg);
    else
        recordFailed(&s.results, item, url, kind, report, s.errMsg);
}

/* The walk meets a link that will not be fetched: the job was stopped, by
 * a close or by a download whose local file failed, which is shown now. */
static void stopAtFatal(JobState &s) {
    ImageTask *fatal = downloadPoolFatal(s.queue.pool);
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

/* The checks' hooks (placeholder_check.h). */
static Recheck recheckAtTurn(void *job, const MovedCopy &copy, const char *path, DownloadReport *again, int *result) {
    JobState &s = *(JobState *)job;
    Recheck recheck = RECHECK_NONE;
    *result = atTurn(s, [&](const DownloadContext *context) {
        int r;
        recheck = recheckWithReferer(context, copy.url, path, copy.digest, copy.size, s.errMsg, again, &r);
        return r;
    });
    return recheck;
}

static int movedFile(void *job, const char *url, char *path) {
    return movedFileOf(((JobState *)job)->results, url, path);
}

static void takeBack(void *job, const MovedCopy &c, const char *path, int result, const DownloadReport &again) {
    JobState &s = *(JobState *)job;
    takeBackMoved(&s.results, c.url);
    recordResult(s, (ItemRecord *)s.job->items->items[c.item], c.url, c.kind, path, result, again);
    const MoveView *view = s.job->view;
    if (c.item < s.done && strMapGet(s.results.moved, c.url)) view->failuresChanged(view->context, c.item);
}

/* Moves one link of an item, unless this job has met it before. */
static void processLink(JobState &s, ItemRecord *item, const char *url, ImageKind kind) {
    const char *known = (const char *)strMapGet(s.results.moved, url);
    if (known) {
        if (!*known) listFailure(item, kind, url);
        return;
    }
    fillQueue(&s.queue, s.results.moved);
    ImageTask *taken;
    if (awaitTask(&s.queue, url, &taken) != TASK_DONE) {
        stopAtFatal(s);
        return;
    }
    const ImageTask &task = *taken;
    Fetched f = {url, kind, s.done, task.hostKey, ASK_PLAIN, "", 0, {}, RECHECK_NONE};
    snprintf(f.path, sizeof f.path, "%s", task.path.c_str());
    snprintf(s.errMsg, sizeof s.errMsg, "%s", task.errMsg.c_str());
    f.result = resultAtTurn(s, task, f);
    dropTask(&s.queue, url);
    // a description image whose file cannot be created gets one more try under a new name
    if (f.result == DOWNLOAD_CREATE_ERROR && kind == DESCRIPTION_IMAGE) {
        remove(f.path);  // the name claimed first is let go
        f.result = fetchNamed(s, f);
    }
    judgeAtTurn(s.judge, f);
    if (f.ask == ASK_SCOUT) downloadPoolWake(s.queue.pool);  // the host's other images may go
    recordResult(s, item, url, kind, f.path, f.result, f.report);
}

/* Walks one item's links; returns 0 when the job was stopped meanwhile. */
static int moveItem(JobState &s, ItemRecord *item) {
    LinkCursor links = linkCursor(s.job->options, s.job->items, s.done, s.done + 1);
    SelectedLink link;
    while (!abortRequested && nextSelectedLink(&links, &link)) processLink(s, item, link.url, link.kind);
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
    showProgress(s, rewritingSuffix(percent).c_str());
}

/* The final message: what moved, what failed, whether the package changed. */
static void showOutcome(JobState &s, int changed) {
    char name[PATH_SIZE];
    pathToText(fileName(s.job->packagePath), name, sizeof name);
    FinalMessage message = finalMessage(name, changed, s.job->options.blankForFailed, s.results.outcome);
    message.text += updateFailureReport(s.job->packagePath, s.job->items, s.job->reasons, s.job->shared);
    const MoveView *view = s.job->view;
    view->showMessage(view->context, message.text.c_str(), message.caption, message.icon);
}

/* Ends the downloads. After a stop, the images that arrived ahead of the
 * walk are written back like the rest where they are known to be the
 * images (keptAhead); the others' links stay remote for the next move. */
static void endDownloads(JobState &s) {
    endQueue(&s.queue, [&s](const ImageTask &task) {
        char text[PATH_SIZE];
        if (!keptAhead(&s.hotlink, task) || !pathToText(task.path.c_str(), text, sizeof text)) return false;
        recordMoved(&s.results, task.url.c_str(), text);
        return true;
    });
}

/* Hands the kept links that share their picture to the front end. */
static void noteShared(JobState &s) {
    hotlinkEachShared(&s.hotlink, [&s](const char *url, int count) {
        const char *known = (const char *)strMapGet(s.results.moved, url);
        if (!known || !*known) return;
        s.results.outcome.shared++;
        if (s.job->shared) (*s.job->shared)[url] = count;
    });
}

/* Rewrites and writes the package; ends the job. */
static int finishJob(JobState &s) {
    MoveJob *job = s.job;
    endDownloads(s);
    noteShared(s);
    showProgress(s, rewritingSuffix(-1).c_str());
    int changed = rewriteLinks(&job->packageText, job->items, s.results.moved, job->options, {reportRewrite, &s});
    if (changed) writePackage(job->packagePath, job->packageText);
    free(job->packageText);
    job->packageText = NULL;
    showProgress(s, "");
    // cleared before the last look at abortRequested: a stop asked for from
    // here on finds no job running and ends the process itself
    jobRunning = 0;
    if (abortRequested) {
        linkResultsEnd(&s.results);
        return MOVE_ABORTED;
    }
    showOutcome(s, changed);
    linkResultsEnd(&s.results);
    resetConnFailCounts();
    job->view->jobEnded(job->view->context);
    return MOVE_FINISHED;
}

int runMoveJob(MoveJob *job) {
    jobRunning = 1;
    backupPackage(job->packagePath, job->programDir);
    JobState s;
    s.job = job;
    LinkQueue &q = s.queue;
    q.fill = linkCursor(job->options, job->items, 0, job->items->count);
    q.folder = job->targetFolder;
    q.start = jobStartNow();
    q.takenUpTo = highestTakenNumber(job->targetFolder, job->packageText, q.start);
    q.counts = &s.counts;
    q.hotlink = &s.hotlink;
    s.itemCount = job->items->count;
    linkResultsStart(&s.results, s.itemCount, job->reasons);
    int connections = job->connections > 0 ? job->connections : MOVE_CONNECTIONS;
    linkQueueStart(&q, connections);
    s.judge = {&s.hotlink, &s, recheckAtTurn, movedFile, takeBack};
    walkItems(s);
    return finishJob(s);
}
