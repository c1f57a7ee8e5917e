/* The figures of the console's progress bar that change with time: the
 * recent rate and the time left at that rate. Kept apart from the drawing
 * so that they can be checked without a terminal or a clock. */
#ifndef LUMORA_CONSOLE_PROGRESS_FIGURES_H
#define LUMORA_CONSOLE_PROGRESS_FIGURES_H

#include <string>

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
