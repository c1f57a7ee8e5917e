/* The move job: downloads the images that the options select from one loaded
 * package into the target folder, names them, rewrites their links to the
 * local paths and writes the package back.
 *
 * The links already moved are written into the package however the job
 * ends, so moving the same package again resumes where a job stopped: the
 * moved links are local paths, which link extraction no longer finds.
 *
 * Several images download at once, yet the outcome is that of a move made
 * one image at a time: local names follow link order, results are recorded
 * and items finished in package order, and each distinct link is fetched
 * once per job. The same goes for the front end's calls, the failure lists
 * and their reasons, and app.log's lines of each link, but for those about
 * connections: a kept connection that the host closed meanwhile is met by
 * chance, and the repeated attempt it costs is logged. */
#ifndef LUMORA_MOVE_JOB_H
#define LUMORA_MOVE_JOB_H

#include "link_failure.h"
#include "move_options.h"
#include "move_stop.h"
#include "move_view.h"
#include "platform.h"
#include "ptr_vector.h"

/* Downloads at once: the default, and the most a front end may ask for. One
 * downloads on the job's own thread, one image after another. The default
 * counts on a package drawing on several hosts (the marketplace's own
 * images alone come from several names); one host still gets at most
 * CONNECTIONS_PER_HOST of them. */
enum { MOVE_CONNECTIONS = 16, MOVE_CONNECTIONS_MAX = 64 };

struct MoveJob {
    char packagePath[PATH_SIZE];   /* the package's CSV file */
    char *packageText;             /* the loaded text; the job takes it over and frees it */
    PtrVector *items;              /* the loaded items (ItemRecord), in package order */
    char targetFolder[PATH_SIZE];  /* where the images go; used as it stands */
    char programDir[PATH_SIZE];    /* the program's folder, which holds the backups */
    MoveOptions options;
    const MoveView *view;
    int connections;               /* downloads at once, 1 to MOVE_CONNECTIONS_MAX; 0: MOVE_CONNECTIONS */
    FailureReasons *reasons;       /* where the job notes why each failed link failed; NULL: nowhere */
    SharedPictures *shared;        /* where the job notes the kept links to check; NULL: nowhere */
};

/* Outcome of runMoveJob. */
enum { MOVE_ABORTED = 0, MOVE_FINISHED = 1 };

/* Runs the job to its end on the calling thread. MOVE_FINISHED: the final
 * message has been shown and the view told the job ended. MOVE_ABORTED:
 * abortRequested was set; the links moved so far have been written and the
 * caller ends the process. Failures of the backup or of writing the package
 * show their message and end the process (process hooks). */
int runMoveJob(MoveJob *job);

#endif
