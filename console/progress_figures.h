/* The figures of the console's progress bar that change with time: the
 * rate so far and the time left at that rate. Kept apart from the drawing
 * so that they can be checked without a terminal or a clock. */
#ifndef LUMORA_CONSOLE_PROGRESS_FIGURES_H
#define LUMORA_CONSOLE_PROGRESS_FIGURES_H

#include <string>

/* "R张/秒  剩余 T" (GBK) for done images of total after the given seconds
 * of a run; both read "--" until an image is done. */
std::string rateFigures(long done, long total, double seconds);

#endif
