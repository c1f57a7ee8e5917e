/* The queue ahead of the walk; see link_queue.h. */
#include "link_queue.h"

#include <stdio.h>

#include "app_log.h"
#include "conn_pool.h"
#include "move_stop.h"
#include "move_wording.h"
#include "platform.h"
#include "url.h"

void linkQueueStart(LinkQueue *q, int connections) {
    q->pool = downloadPoolCreate(connections > 1 ? connections : 0,
                                 connections < CONNECTIONS_PER_HOST ? connections : CONNECTIONS_PER_HOST);
    q->window = connections > 1 ? TASK_WINDOW : 1;
}

int claimLocalPath(const LinkQueue &q, const char *url, ImageKind kind, char *out, size_t size) {
    return freeLocalPath(q.folder, kind, q.start, imageExtension(url), q.takenUpTo, out, size);
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
static void queueTask(LinkQueue *q, const SelectedLink &link) {
    std::unique_ptr<ImageTask> task(new ImageTask);
    task->url = link.url;
    task->kind = link.kind;
    task->item = link.item;
    task->ledger.job = q->counts;
    task->hotlink = q->hotlink;
    task->hostKey = hostKey(link.url);
    char path[PATH_SIZE];
    if (claimLocalPath(*q, link.url, link.kind, path, sizeof path)) {
        task->path = path;
        downloadPoolAdd(q->pool, task.get());
    } else {  // a path beyond the platform's limit is a file that cannot be created
        task->state = TASK_DONE;
        task->result = DOWNLOAD_CREATE_ERROR;
        task->errMsg = NO_NEW_FILE;
    }
    q->order.push_back(link.url);
    q->tasks[link.url] = std::move(task);
}

void fillQueue(LinkQueue *q, const StrMap *known) {
    SelectedLink link;
    while (q->tasks.size() < q->window && !abortRequested && !downloadPoolFatal(q->pool) && nextSelectedLink(&q->fill, &link))
        if (!strMapGet(known, link.url) && !q->tasks.count(link.url)) queueTask(q, link);
}

TaskState awaitTask(LinkQueue *q, const char *url, ImageTask **task) {
    auto found = q->tasks.find(url);
    *task = found == q->tasks.end() ? NULL : found->second.get();
    return *task ? downloadPoolAwait(q->pool, *task) : TASK_CANCELLED;
}

void dropTask(LinkQueue *q, const char *url) {
    q->tasks.erase(url);
    while (!q->order.empty() && !q->tasks.count(q->order.front())) q->order.pop_front();
}

void endQueue(LinkQueue *q, const std::function<bool(const ImageTask &)> &kept) {
    downloadPoolDestroy(q->pool);
    q->pool = NULL;
    for (const std::string &url : q->order) {
        auto found = q->tasks.find(url);
        if (found == q->tasks.end()) continue;
        const ImageTask &task = *found->second;
        writeLogLines(task.logLines);
        if (!kept(task)) remove(task.path.c_str());  // its claimed name is let go
    }
    q->tasks.clear();
    q->order.clear();
}
