/* The move job's downloaders: a few worker threads that take image tasks in
 * package order from a bounded queue that the job fills ahead of itself.
 *
 * The job names each task's local file before it queues it, so names follow
 * link order whatever order the downloads end in; it then waits for the
 * tasks one by one, in the same order, and records their results itself. A
 * worker takes the first queued task whose host has fewer than the per-host
 * limit in flight and is not waiting for its scout to be judged
 * (hotlink_hosts.h). Everything the workers share sits behind one lock. Each
 * task counts connection failures in a ledger of its own (fail_ledger.h),
 * which the job commits when it records the task. */
#ifndef LUMORA_DOWNLOAD_POOL_H
#define LUMORA_DOWNLOAD_POOL_H

#include <string>

#include "download.h"
#include "fail_ledger.h"
#include "hotlink_hosts.h"
#include "image_fetch.h"
#include "local_naming.h"

/* Where a task stands. */
enum TaskState {
    TASK_QUEUED,    /* waiting for a downloader */
    TASK_RUNNING,   /* being downloaded */
    TASK_DONE,      /* result and errMsg hold the outcome */
    TASK_CANCELLED, /* the pool stopped before it ran, or its download was cut; nothing was kept */
};

/* One distinct link of a job, as the job queues it. */
struct ImageTask {
    std::string url;      /* as found in the package text */
    ImageKind kind;       /* the kind of its first occurrence */
    int item = 0;         /* the index of the item of its first occurrence */
    std::string path;     /* the local file named for it */
    std::string hostKey;  /* "host:port", for the per-host limit */
    TaskState state = TASK_QUEUED;
    HotlinkHosts *hotlink = nullptr; /* how to ask the host, decided as the download starts */
    HostAsk ask = ASK_LATER;  /* how it was asked, once running */
    int result = 0;       /* fetchAsAsked's result, once done */
    DownloadReport report = {}; /* what it asked and met */
    Recheck probe = RECHECK_NONE; /* a scout's comparison with the Referer */
    std::string errMsg;   /* its message when the result is not 1 */
    FailureLedger ledger; /* the failures it counted, for the job to commit in link order */
    std::string logLines; /* what it logged, for the job to write when it commits */
};

struct DownloadPool;

/* Starts that many worker threads; with 0 the caller downloads each task when
 * it waits for it, one at a time, in its order. perHost bounds the tasks
 * of one host and port in flight at once. Free with downloadPoolDestroy. */
DownloadPool *downloadPoolCreate(int workers, int perHost);

/* The downloads under way in every pool, for a front end to say what a stop
 * waits for. */
int downloadsRunning(void);

/* The downloads that have ended with a result in every pool since the
 * program started, whether the walk has reached them or not, for a front
 * end to show progress. A cut download is not counted. */
long downloadsFinished(void);

/* Queues a task; the pool does not own it. */
void downloadPoolAdd(DownloadPool *pool, ImageTask *task);

/* Lets the downloaders look at the queue again at once: a host they
 * passed over may be asked now. */
void downloadPoolWake(DownloadPool *pool);

/* Returns the task's state once it is done or cancelled, or as it stands
 * when abortRequested is set (the task may then still be queued or
 * running, and only its state may be read until the pool is destroyed). */
TaskState downloadPoolAwait(DownloadPool *pool, ImageTask *task);

/* The first task whose result stopped the pool (a local file that cannot be
 * written, or a mobile image's that cannot be created), or NULL. */
ImageTask *downloadPoolFatal(DownloadPool *pool);

/* Stops the workers: queued tasks are cancelled, running ones end, then the
 * threads are joined and the pool freed. Accepts NULL. */
void downloadPoolDestroy(DownloadPool *pool);

#endif
