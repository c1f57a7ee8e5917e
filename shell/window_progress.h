/* What page two shows of a running move besides its rows: the progress
 * label's figures, each finished item's failure text with the reasons, and
 * the two buttons a finished move offers. The job's view hands every change
 * to the window's thread as a message (window.h), so everything here runs on
 * that thread, while the job waits where the job has something to say. */
#ifndef LUMORA_WINDOW_PROGRESS_H
#define LUMORA_WINDOW_PROGRESS_H

#include <string>

#include "move_job.h"

/* A move over job's items starts: the figures begin, the buttons go. */
void startMoveProgress(const MoveJob &job);

/* The item is finished; doneCount items are. */
void onItemFinished(const ItemRecord *item, int doneCount);

/* Item index's failure lists changed: its text is formed afresh with the
 * reasons the job has noted. */
void onFailuresChanged(int index, const ItemRecord *item);

/* The job's progress text: the window shows its figures in place of the
 * job's counts, followed by what the job adds (the rewrite's percentage). */
void onJobText(const char *text);

/* The label's timer: the figures redrawn while the walk runs. */
void onProgressTick(void);

/* The move is over: the timer stops (the job's last text drew the figures
 * as they ended), and the buttons that apply are offered. */
void onMoveEnded(void);

/* The failure text of item index as the move left it; "" when none. */
std::string itemFailureText(int index);

/* Page two is put back as it starts: no figures, no texts, no buttons. */
void clearMoveProgress(void);

/* The buttons' clicks: the failure report, the target folder. */
void openFailureReport(void);
void openImageFolder(void);

#endif
