/* The figures of a move's progress that both front ends show: items done,
 * images done of all the move will fetch (counting those the downloaders
 * finished ahead of the walk), images failed, images a second and the time
 * left at that rate. A tally counts them from the items as the job finishes
 * them; the text is formed apart from the clock, so that it can be checked
 * without one. A tally is no thread's own: its front end calls it from one
 * thread at a time. */
#ifndef LUMORA_PROGRESS_FIGURES_H
#define LUMORA_PROGRESS_FIGURES_H

#include <chrono>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "move_options.h"

/* The figures at one moment. */
struct ProgressFigures {
    int itemsDone, items;
    long imagesDone, images;  /* images: the distinct links the move will fetch */
    long failed;
    long recentDone;          /* images done in the recent stretch of the move */
    double recentSeconds;     /* how long that stretch is */
};

/* What a front end has counted of a move so far. A link shared by several
 * items is one image, fetched once, and counts once. */
struct ProgressTally {
    MoveOptions options;  /* which links the job moves */
    int itemCount;
    int doneCount;
    std::unordered_map<std::string, int> links;  /* each link met: 1 moved, 0 failed */
    long moved;
    long failed;
    long images;          /* distinct links the job will fetch; 0 unless counted */
    long finishedBefore;  /* downloads that ended before this move, in earlier moves */
    std::chrono::steady_clock::time_point started;
    std::deque<std::pair<double, long>> recent;  /* (seconds, images done) at each look within the recent stretch */
};

/* Starts the tally of a move over the items, counting the images the move
 * will fetch when countImages is 1 (a walk over every link). */
void startTally(ProgressTally *tally, const MoveOptions &options, const PtrVector *items, int countImages);

/* Counts a finished item's links not met before, as moved or failed by its
 * failure lists; doneCount is the job's count of items finished. */
void tallyItem(ProgressTally *tally, const ItemRecord *item, int doneCount);

/* The stretch of the move the rate and the time left are taken over, so
 * that a slow host at the end shows as such. */
enum { RECENT_SECONDS = 30 };

/* The figures now, noting the images done for the recent stretch. */
ProgressFigures tallyFigures(ProgressTally *tally);

/* The figures' fields, each with the blanks before it (GBK): "宝贝 d/n",
 * "  图片 i/I", "  失败 f", "  R张/秒", "  剩余 T"; a front end short of
 * room drops them from the right. */
std::vector<std::string> figureFields(const ProgressFigures &figures);

/* The fields in one line. */
std::string figuresText(const ProgressFigures &figures);

/* The rate ("R张/秒") and the time left ("剩余 T"), GBK. */
struct RateFigures {
    std::string rate;
    std::string left;
};

/* The figures for done images of total, when recentDone of them were done
 * in the last recentSeconds: both read "--" until an image is done, the
 * time left too while none was done lately. */
RateFigures rateFigures(long done, long total, long recentDone, double recentSeconds);

#endif
