/* Placeholders found at a link's turn: what the move job makes of a
 * downloaded link by what its host has shown so far (hotlink_hosts.h).
 *
 * A scout's download sets its host's verdict; a 403 that the Referer
 * mended, or bytes that differ once asked with the Referer, mark the host,
 * whose links moved without it are then fetched again with it; and bytes
 * equal to an earlier link's of the host are asked for again to tell a
 * placeholder from one picture under several links. Such downloads run at
 * the link's turn, and what becomes of a moved link that cannot be had
 * again is the job's to record: the checks reach the job only through a
 * JudgeHooks record, and know nothing else of it. */
#ifndef LUMORA_PLACEHOLDER_CHECK_H
#define LUMORA_PLACEHOLDER_CHECK_H

#include <string>

#include "download_pool.h"
#include "platform.h"

/* A link in hand at its turn: how its host was asked and what came of it. */
struct Fetched {
    const char *url;
    ImageKind kind;
    int item;              /* the index of the item in hand */
    std::string host;      /* the host key (download_pool.h) */
    HostAsk ask;
    char path[PATH_SIZE];  /* its local file */
    int result;            /* its download's result */
    DownloadReport report;
    Recheck probe;         /* a scout's comparison with the Referer */

    MovedCopy copy() const { return {url, item, kind, report.digest, report.size}; }
};

/* What the checks ask of the job; each call gets job back. */
struct JudgeHooks {
    HotlinkHosts *hotlink;  /* the job's hosts */
    void *job;

    /* Asks for a moved link again with the Referer at its turn, its file
     * at path (image_fetch.h's recheckWithReferer); *result is that
     * download's, *again its report. */
    Recheck (*recheck)(void *job, const MovedCopy &copy, const char *path, DownloadReport *again, int *result);

    /* The file the link was moved to, into path (PATH_SIZE bytes); 0 when
     * the job holds no such file for it. */
    int (*movedFile)(void *job, const char *url, char *path);

    /* A moved link that could not be had again with the Referer, with
     * that download's result and report: the job takes it back and
     * records the result. */
    void (*takeBack)(void *job, const MovedCopy &copy, const char *path, int result, const DownloadReport &again);
};

/* Judges the link at its turn, its download's result in f.result, which
 * becomes the link's result: 1 for a copy to keep, else why not; f.report
 * becomes the report of the last download that decided it. */
void judgeAtTurn(const JudgeHooks &hooks, Fetched &f);

/* After a stop, a task done ahead of the walk: true when it brought an
 * image and judging it at its turn would have asked nothing more, the
 * host's verdict then noted as that judgement would. */
bool keptAhead(HotlinkHosts *hosts, const ImageTask &task);

#endif
