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
#include <string>
#include <unordered_map>

#include "move_job.h"

/* The figures at one moment. */
struct ProgressFigures {
    int itemsDone, items;
    long imagesDone, images;  /* images: the distinct links the move will fetch */
    long failed;
    double seconds;           /* since the move started */
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
};

/* Starts the tally of a move over the items, counting the images the move
 * will fetch when countImages is 1 (a walk over every link). */
void startTally(ProgressTally *tally, const MoveOptions &options, const PtrVector *items, int countImages);

/* Counts a finished item's links not met before, as moved or failed by its
 * failure lists; doneCount is the job's count of items finished. */
void tallyItem(ProgressTally *tally, const ItemRecord *item, int doneCount);

/* The figures now. */
ProgressFigures tallyFigures(const ProgressTally *tally);

/* "宝贝 d/n  图片 i/I  失败 f  R张/秒  剩余 T" (GBK). */
std::string figuresText(const ProgressFigures &figures);

/* "R张/秒  剩余 T" (GBK) for done images of total after the given seconds
 * of a run; both read "--" until an image is done. */
std::string rateFigures(long done, long total, double seconds);

#endif
