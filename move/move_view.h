/* What the move job tells its front end, and asks of it.
 *
 * The job runs on a worker thread and calls nothing of a user interface but
 * these operations; each front end (the window, the console, the tests)
 * fills one record. Every call is synchronous: the job waits until the front
 * end has carried it out. All texts are GBK. */
#ifndef LUMORA_MOVE_VIEW_H
#define LUMORA_MOVE_VIEW_H

#include "package_reader.h"
#include "process_hooks.h"

struct MoveView {
    void *context; /* passed back to every operation */

    /* Item index starts: its row shows "搬家中" and is scrolled into view. */
    void (*itemStarted)(void *context, int index);

    /* Item index is finished: its row shows "完成" and its failure counts
     * (the lengths of item->pcFailures and item->mobileFailures, where they
     * exist); the progress bar stands at doneCount. */
    void (*itemFinished)(void *context, int index, const ItemRecord *item, int doneCount);

    /* The progress label's new text. */
    void (*progressText)(void *context, const char *text);

    /* Item index finished with failure lists: a front end that shows the
     * selected item's failures refreshes them if index is selected. */
    void (*failuresChanged)(void *context, int index);

    /* A message the user must see before the job goes on. */
    void (*showMessage)(void *context, const char *text, const char *caption, MessageIcon icon);

    /* The job is over and the final message seen: the front end lets the
     * user go back or close again. */
    void (*jobEnded)(void *context);
};

#endif
