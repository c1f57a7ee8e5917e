/* The progress bar's timed figures; see progress_figures.h.
 *
 * The rate is taken over a recent stretch of the run, not the whole of it,
 * so that a slow host at the end shows as such; the time left assumes the
 * rate holds for the images left. */
#include "progress_figures.h"

#include <math.h>

#include "text_utils.h"

enum { SECONDS_PER_MINUTE = 60, SECONDS_PER_HOUR = 3600, LONGEST_SHOWN = 100 * SECONDS_PER_HOUR - 1 };

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
