/* The figures of the console's progress bar that change with time: the
 * images done of all the job will fetch, the rate so far and the time
 * left at that rate. Kept apart from the drawing so that they can be
 * checked without a terminal or a clock. */
#ifndef LUMORA_CONSOLE_PROGRESS_FIGURES_H
#define LUMORA_CONSOLE_PROGRESS_FIGURES_H

#include <string>

/* "图片 done/total  R张/秒  剩余 T" (GBK) after the given seconds of a run;
 * the rate and the time left read "--" until an image is done. */
std::string imageFigures(long done, long total, double seconds);

#endif
