/* What a move job has made of each distinct link: the local file it went
 * to, or that it failed and why, the failure lists of the items that hold
 * it, and the figures of the final message.
 *
 * A link is fetched at most once per job, so a link met again only adds to
 * its item's failure list when it failed. The results are the job
 * thread's alone; the package is rewritten from them at the end. */
#ifndef LUMORA_LINK_RESULTS_H
#define LUMORA_LINK_RESULTS_H

#include "download.h"
#include "link_failure.h"
#include "local_naming.h"
#include "move_wording.h"
#include "package_reader.h"
#include "str_map.h"

struct LinkResults {
    StrMap *moved;            /* link -> its local file as the package names it (GBK), "" when it failed; owned */
    FailureReasons *reasons;  /* where each failed link's reason goes; NULL: nowhere; the caller's */
    OutcomeCounts outcome;    /* failed and shared links, for the final message */
};

/* Starts empty results for a job over itemCount items. */
void linkResultsStart(LinkResults *results, int itemCount, FailureReasons *reasons);

/* Frees the map of links; harmless twice. */
void linkResultsEnd(LinkResults *results);

/* Records where the link went (text: the path as the package names it, or
 * "" when it failed), in place of whatever was recorded for it before. */
void recordMoved(LinkResults *results, const char *url, const char *text);

/* Records a link that could not be fetched: its reason by its download's
 * report, its place in the item's failure list, and app.log's line with
 * the download's message errMsg. */
void recordFailed(LinkResults *results, ItemRecord *item, const char *url, ImageKind kind,
                  const DownloadReport &report, const char *errMsg);

/* Takes back a link recorded as moved and removes its file: the link
 * stays remote, for the next move to fetch. */
void takeBackMoved(LinkResults *results, const char *url);

/* The file the link was moved to, into path (PATH_SIZE bytes): 1, or 0
 * when the link is not recorded as moved. */
int movedFileOf(const LinkResults &results, const char *url, char *path);

/* Adds the link to the item's failure list of its kind, once. */
void listFailure(ItemRecord *item, ImageKind kind, const char *url);

#endif
