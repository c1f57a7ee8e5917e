/* The console's side of a move: the view the job reports to, drawn as a
 * progress bar on standard error, the job's messages, and the failure
 * report printed when the job is over.
 *
 * The figures (items done, images moved, images failed) are tallied from
 * the finished items rather than taken from the job's progress label,
 * so that a terminal gets one bar redrawn in place and a redirected
 * standard error one plain line per item with the same figures. The bar
 * also shows the images done of all the job will fetch, counting those the
 * downloaders finished ahead of the walk, with the rate and the time left;
 * it is redrawn by a ticker as well as by the job, so that it shows while
 * a slow image holds the walk. The lines stay free of timed figures. */
#ifndef LUMORA_CONSOLE_VIEW_H
#define LUMORA_CONSOLE_VIEW_H

#include <stdio.h>

#include <string>

#include "link_failure.h"
#include "move_view.h"
#include "progress_figures.h"

enum ProgressStyle { PROGRESS_NONE, PROGRESS_LINES, PROGRESS_BAR };

/* What the progress display has counted and shown so far. */
struct ConsoleProgress {
    ProgressStyle style;
    ProgressTally tally;  /* images to fetch counted for the bar only */
    size_t barLength;     /* the bar last drawn, which a shorter one is padded to while it fits */
    int barOpen;          /* the bar is on screen without its line end */
};

/* Starts the display of a job over the items. */
void startProgress(ConsoleProgress *progress, ProgressStyle style, const MoveOptions &options, const PtrVector *items);

/* Redraws the bar while items are left; the job's ticker calls it. */
void tickProgress(ConsoleProgress *progress);

/* The view of the job, reporting to progress. */
MoveView consoleView(ConsoleProgress *progress);

/* Ends the bar's line when the bar is on screen. */
void endProgressLine(ConsoleProgress *progress);

/* Writes a message (GBK) in the console's wording on a line of its own,
 * ending an open bar first. */
void printMessage(ConsoleProgress *progress, FILE *stream, const char *text);

/* Prints, for every item with failures, its title and its failed links as
 * the window's failure box lists them, each with its reason; then where
 * the log holds the detail, and, when packagePath is given, where the
 * move's failure report is. Returns the number of items listed. */
int printFailureReport(const PtrVector *items, const FailureReasons &reasons, const char *logFolder,
                       const char *packagePath);

/* Prints, item by item, the kept links whose picture other links of their
 * host share, for the seller to check, each with how many share it. */
void printSharedPictures(const PtrVector *items, const SharedPictures &shared);

#endif
