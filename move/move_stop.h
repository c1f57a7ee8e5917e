/* How a move job is stopped: the flags that the job and its downloaders
 * look at, and the two requests a front end makes. A front end that only
 * stops a job needs no more of it than this. */
#ifndef LUMORA_MOVE_STOP_H
#define LUMORA_MOVE_STOP_H

#include <atomic>

/* 1 from the start of a job until just before its final message. */
extern std::atomic<int> jobRunning;

/* Set when the user confirms closing during a job, or by the job on a fatal
 * error; cleared by the window when it starts a job. The job stops at its
 * next check and the front end then ends the process. */
extern std::atomic<int> abortRequested;

/* Asks the running job to stop, as a confirmed close does. Returns 1 when a
 * job still runs: it ends the process once it has written the package. 0
 * when none runs any more (what it wrote is on disk): the caller ends the
 * process itself. The job clears jobRunning before its last look at
 * abortRequested, and this sets the one before reading the other, so one
 * of the two always sees the stop. */
int requestAbort(void);

/* Asks the running job to stop at once, as a second stop request does: the
 * downloads in flight are cut and their files removed, no connection is
 * made any more, and what arrived whole is still written back. For the
 * process's end only: every connection of the process is cut. */
void requestCut(void);

#endif
