/* The links a move job queues for its downloaders ahead of its walk.
 *
 * A cursor of its own over the selected links (move_options.h), ahead of
 * the walk's, claims each new link's local name and queues it for the
 * downloaders (download_pool.h), up to a window of tasks the walk has not
 * taken yet. The walk then takes each task at its link's turn. Tasks are
 * held by link until taken, and their links kept in link order, so that
 * the ones fetched ahead of a stop are looked at in that order. The queue
 * is the job thread's alone. */
#ifndef LUMORA_LINK_QUEUE_H
#define LUMORA_LINK_QUEUE_H

#include <stddef.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "download_pool.h"
#include "move_options.h"
#include "str_map.h"

/* Links queued ahead of the one the job waits for, with several connections. */
enum { TASK_WINDOW = 256 };

struct LinkQueue {
    LinkCursor fill;           /* the links queued so far */
    const char *folder;        /* where local names are claimed; the job's */
    JobStartTime start;        /* the job's start, which the names carry */
    int takenUpTo;             /* names are numbered above it (local_naming.h) */
    JobFailCounts *counts;     /* what each task's ledger starts from; the job's */
    HotlinkHosts *hotlink;     /* how the downloaders ask each host; the job's */
    DownloadPool *pool;        /* owned, from linkQueueStart to endQueue */
    size_t window;             /* tasks queued and not yet taken, at most */
    std::unordered_map<std::string, std::unique_ptr<ImageTask>> tasks;  /* by link, until taken */
    std::deque<std::string> order;  /* the links of tasks, in link order (taken ones at the front drop out) */
};

/* Starts the downloaders for that many downloads at once; with 1 the job's
 * thread downloads each task when it waits for it. The caller has set the
 * fields above pool. */
void linkQueueStart(LinkQueue *queue, int connections);

/* Claims a new local name for the link, its path into out (size bytes).
 * Returns 1, or 0 when no file can be created (freeLocalPath). */
int claimLocalPath(const LinkQueue &queue, const char *url, ImageKind kind, char *out, size_t size);

/* Queues new links until the window is full, passing over those the job
 * has met (in known) and those queued already. Queues nothing once the job
 * is stopped, or the downloads are by a result that ends the job. */
void fillQueue(LinkQueue *queue, const StrMap *known);

/* Waits for the link's task. TASK_DONE, with the task (still the queue's)
 * in *task; any other state when it will not be had: the job was stopped,
 * or the downloads by a result that ends the job. */
TaskState awaitTask(LinkQueue *queue, const char *url, ImageTask **task);

/* Lets go of the link's task, which the walk has taken. */
void dropTask(LinkQueue *queue, const char *url);

/* Stops the downloads, then hands each task not taken, in link order, to
 * kept once its log lines are written: the file at its path stays where
 * kept returns true, and is removed where not (or never fetched). Lets go
 * of every task. */
void endQueue(LinkQueue *queue, const std::function<bool(const ImageTask &)> &kept);

#endif
