/* A move's progress figures; see progress_figures.h.
 *
 * The rate is taken over the recent stretch of the run, not the whole of
 * it, and the time left assumes it holds for the images left. Images
 * done are the downloads finished, or the links the walk has counted where
 * more (a link that failed without a download). */
#include "progress_figures.h"

#include <math.h>

#include <unordered_set>

#include "download_pool.h"
#include "text_utils.h"

enum { SECONDS_PER_MINUTE = 60, SECONDS_PER_HOUR = 3600, LONGEST_SHOWN = 100 * SECONDS_PER_HOUR - 1 };

/* The distinct links the job will fetch. */
static long selectedLinks(const MoveOptions &options, const PtrVector *items) {
    std::unordered_set<std::string> links;
    LinkCursor cursor = linkCursor(options, items, 0, items->count);
    SelectedLink link;
    while (nextSelectedLink(&cursor, &link)) links.insert(link.url);
    return (long)links.size();
}

void startTally(ProgressTally *tally, const MoveOptions &options, const PtrVector *items, int countImages) {
    *tally = ProgressTally();
    tally->options = options;
    tally->itemCount = items->count;
    if (countImages) tally->images = selectedLinks(options, items);
    tally->finishedBefore = downloadsFinished();
    tally->started = std::chrono::steady_clock::now();
    tally->recent.push_back({0.0, 0});
}

void tallyItem(ProgressTally *t, const ItemRecord *item, int doneCount) {
    LinkCursor cursor = itemLinkCursor(t->options, item);
    SelectedLink link;
    while (nextSelectedLink(&cursor, &link)) {
        const PtrVector *failures = link.kind == MOBILE_IMAGE ? item->mobileFailures : item->pcFailures;
        int moved = !(failures && ptrVectorContains(failures, link.url, stringEquals));
        if (t->links.emplace(link.url, moved).second) (moved ? t->moved : t->failed)++;
    }
    t->doneCount = doneCount;
}

ProgressFigures tallyFigures(ProgressTally *t) {
    long done = downloadsFinished() - t->finishedBefore, walked = t->moved + t->failed;
    done = done > walked ? done : walked;
    done = done < t->images ? done : t->images;
    double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - t->started).count();
    t->recent.push_back({now, done});
    // the oldest kept is the last one at or before the stretch's start
    while (t->recent.size() > 2 && t->recent[1].first <= now - RECENT_SECONDS) t->recent.pop_front();
    const std::pair<double, long> &from = t->recent.front();
    return {t->doneCount, t->itemCount, done, t->images, t->failed, done - from.second, now - from.first};
}

std::vector<std::string> figureFields(const ProgressFigures &f) {
    RateFigures rate = rateFigures(f.imagesDone, f.images, f.recentDone, f.recentSeconds);
    return {formatText("宝贝 %d/%d", f.itemsDone, f.items), formatText("  图片 %ld/%ld", f.imagesDone, f.images),
            formatText("  失败 %ld", f.failed), "  " + rate.rate, "  " + rate.left};
}

std::string figuresText(const ProgressFigures &f) {
    std::string text;
    for (const std::string &field : figureFields(f)) text += field;
    return text;
}

/* "m:ss", or "h:mm:ss" from an hour on; a longer time than LONGEST_SHOWN
 * shows as that. */
static std::string clockText(double wait) {
    long seconds = wait < LONGEST_SHOWN ? (long)ceil(wait) : (long)LONGEST_SHOWN;
    long minutes = seconds / SECONDS_PER_MINUTE % SECONDS_PER_MINUTE, rest = seconds % SECONDS_PER_MINUTE;
    if (seconds < SECONDS_PER_HOUR) return formatText("%ld:%02ld", seconds / SECONDS_PER_MINUTE, rest);
    return formatText("%ld:%02ld:%02ld", seconds / SECONDS_PER_HOUR, minutes, rest);
}

RateFigures rateFigures(long done, long total, long recentDone, double recentSeconds) {
    std::string rate = "--", left = "--";
    if (done > 0 && recentSeconds > 0) {
        double perSecond = recentDone / recentSeconds;
        rate = perSecond < 0.1 ? "<0.1" : formatText("%.1f", perSecond);
        if (recentDone > 0) left = clockText((total > done ? total - done : 0) / perSecond);
    }
    return {rate + "张/秒", "剩余 " + left};
}
