/* The progress bar's timed figures; see progress_figures.h.
 *
 * The rate is taken over the whole run so far, which steadies as the run
 * goes on, and the time left assumes it holds for the images left. */
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

std::string rateFigures(long done, long total, double seconds) {
    std::string rate = "--", left = "--";
    if (done > 0 && seconds > 0) {
        double perSecond = done / seconds;
        rate = perSecond < 0.1 ? "<0.1" : formatText("%.1f", perSecond);
        left = clockText((total > done ? total - done : 0) / perSecond);
    }
    return formatText("%s张/秒  剩余 %s", rate.c_str(), left.c_str());
}
