/* The move job's downloaders; see download_pool.h.
 *
 * One mutex guards the queue, the per-host counts, the stop flag and every
 * task's state; a task's result and message are written before it is marked
 * done under the lock, so the job reads them safely after seeing it done.
 * Waits poll abortRequested, which the window sets without telling anyone,
 * so a confirmed close stops new downloads within one poll. */
#include "download_pool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "app_log.h"
#include "conn_pool.h"
#include "download.h"
#include "move_job.h"

enum { POOL_POLL_MS = 50 };

struct DownloadPool {
    std::mutex lock;
    std::condition_variable changed;       // a task was queued or ended, or the pool stops
    std::deque<ImageTask *> queue;         // in package order
    std::map<std::string, int> inFlight;   // running tasks per host and port
    int perHost;
    bool stopped = false;                  // no task is started any more
    ImageTask *fatal = NULL;
    std::vector<std::thread> workers;
};

typedef std::unique_lock<std::mutex> PoolLock;

static std::atomic<int> underWay{0};  // downloads under way in every pool
static std::atomic<long> finished{0};  // downloads ended with a result in every pool

int downloadsRunning(void) {
    return underWay;
}

long downloadsFinished(void) {
    return finished;
}

/* Takes the first queued task whose host has room and may be asked, or
 * NULL. A host's tasks are taken in their order: once one is passed over,
 * so are its later ones, even should the job judge the host meanwhile. */
static ImageTask *takeTask(DownloadPool *pool) {
    if (pool->stopped || abortRequested) return NULL;
    std::set<std::string> passed;
    for (auto at = pool->queue.begin(); at != pool->queue.end(); ++at) {
        ImageTask *task = *at;
        int &running = pool->inFlight[task->hostKey];
        if (passed.count(task->hostKey)) continue;
        if (running < pool->perHost) task->ask = task->hotlink ? hotlinkAsk(task->hotlink, task->hostKey, false) : ASK_PLAIN;
        if (running >= pool->perHost || task->ask == ASK_LATER) {
            passed.insert(task->hostKey);
            continue;
        }
        running++;
        underWay++;
        task->state = TASK_RUNNING;
        pool->queue.erase(at);
        return task;
    }
    return NULL;
}

static void stopPool(DownloadPool *pool) {
    pool->stopped = true;
    for (ImageTask *task : pool->queue) task->state = TASK_CANCELLED;
    pool->queue.clear();
    pool->changed.notify_all();
}

/* Downloads a running task without the lock, counting its failures in its
 * ledger and holding its log lines, then marks it done; a cut one is
 * cancelled. A result that ends the job stops every other download at once. */
static void runTask(DownloadPool *pool, ImageTask *task, PoolLock &held) {
    held.unlock();
    char errMsg[ERR_MSG_SIZE] = {0};
    DownloadContext context = {&task->ledger, &task->logLines, 0, 0};
    int result =
        fetchAsAsked(&context, task->url.c_str(), task->path.c_str(), task->ask, errMsg, &task->report, &task->probe);
    std::string message = result == 1 ? "" : errMsg;
    held.lock();
    task->result = result;
    task->errMsg.swap(message);
    task->state = result == DOWNLOAD_CUT ? TASK_CANCELLED : TASK_DONE;
    pool->inFlight[task->hostKey]--;
    underWay--;
    if (task->state == TASK_DONE) finished++;
    int fatal = result == DOWNLOAD_WRITE_ERROR || (result == DOWNLOAD_CREATE_ERROR && task->kind == MOBILE_IMAGE);
    if (fatal && !pool->fatal) pool->fatal = task;
    if (fatal) stopPool(pool);
    pool->changed.notify_all();
}

static void workerLoop(DownloadPool *pool) {
    PoolLock held(pool->lock);
    while (!pool->stopped) {
        ImageTask *task = takeTask(pool);
        if (task) runTask(pool, task, held);
        else pool->changed.wait_for(held, std::chrono::milliseconds(POOL_POLL_MS));
    }
}

DownloadPool *downloadPoolCreate(int workers, int perHost) {
    DownloadPool *pool = new DownloadPool;
    pool->perHost = perHost;
    for (int i = 0; i < workers; i++) pool->workers.emplace_back(workerLoop, pool);
    return pool;
}

void downloadPoolAdd(DownloadPool *pool, ImageTask *task) {
    PoolLock held(pool->lock);
    task->state = pool->stopped ? TASK_CANCELLED : TASK_QUEUED;
    if (pool->stopped) return;
    pool->queue.push_back(task);
    pool->changed.notify_one();
}

void downloadPoolWake(DownloadPool *pool) {
    PoolLock held(pool->lock);
    pool->changed.notify_all();
}

TaskState downloadPoolAwait(DownloadPool *pool, ImageTask *task) {
    PoolLock held(pool->lock);
    while ((task->state == TASK_QUEUED || task->state == TASK_RUNNING) && !abortRequested) {
        // without workers the job downloads its own tasks, each when it needs it
        ImageTask *mine = pool->workers.empty() && task->state == TASK_QUEUED ? takeTask(pool) : NULL;
        if (mine) runTask(pool, mine, held);
        else pool->changed.wait_for(held, std::chrono::milliseconds(POOL_POLL_MS));
    }
    return task->state;
}

ImageTask *downloadPoolFatal(DownloadPool *pool) {
    PoolLock held(pool->lock);
    return pool->fatal;
}

void downloadPoolDestroy(DownloadPool *pool) {
    if (!pool) return;
    {
        PoolLock held(pool->lock);
        stopPool(pool);
    }
    for (std::thread &worker : pool->workers) worker.join();
    delete pool;
}
