/* Placeholders found at a link's turn; see placeholder_check.h. */
#include "placeholder_check.h"

#include <string.h>

#include "move_stop.h"

/* An earlier link of a host found to need the Referer, moved without it:
 * asked for again with it. One that cannot be had so is the job's to take
 * back. */
static void refetchCopy(const JudgeHooks &h, const MovedCopy &c) {
    char path[PATH_SIZE];
    if (!h.movedFile(h.job, c.url, path)) return;
    DownloadReport again;
    int result;
    Recheck recheck = h.recheck(h.job, c, path, &again, &result);
    if (recheck == RECHECK_SAME || recheck == RECHECK_DIFFERENT) return;
    h.takeBack(h.job, c, path, result, again);
}

/* The host needs the Referer: the links it gave without it, but for the
 * one in hand, are fetched again with it. */
static void refererFound(const JudgeHooks &h, const Fetched &f) {
    for (const MovedCopy &c : hotlinkJudged(h.hotlink, f.host, HOST_REFERER))
        if (strcmp(c.url, f.url) != 0 && !abortRequested) refetchCopy(h, c);
}

/* A link of a plain host whose bytes equal an earlier link's, asked for
 * again with the Referer: bytes that then differ were the host's
 * placeholder; the same bytes, or a refusal, are one picture under several
 * links, kept for the seller to check. Returns the link's result. */
static int recheckTwin(const JudgeHooks &h, Fetched &f, SameBytes *same) {
    DownloadReport again;
    int result;
    Recheck recheck = h.recheck(h.job, f.copy(), f.path, &again, &result);
    if (recheck == RECHECK_SAME || recheck == RECHECK_REFUSED) {
        same->reused = true;
        return 1;
    }
    if (recheck != RECHECK_DIFFERENT) hotlinkForgetCopy(h.hotlink, f.host, f.copy());
    f.report = again;
    if (recheck == RECHECK_DIFFERENT || recheck == RECHECK_GONE) refererFound(h, f);
    return recheck == RECHECK_DIFFERENT ? 1 : result;
}

/* A moved link judged against what its host has shown: a scout sets the
 * host's verdict, a 403 that the Referer mended marks the host, and bytes
 * equal to an earlier link's are checked again. Returns the link's result. */
static int judgeMoved(const JudgeHooks &h, Fetched &f) {
    if (f.ask == ASK_SCOUT) hotlinkJudged(h.hotlink, f.host, f.report.refererSent ? HOST_REFERER : HOST_PLAIN);
    if (f.ask == ASK_REFERER || f.ask == ASK_ONCE || f.report.refererSent) {
        if (f.ask == ASK_PLAIN) refererFound(h, f);
        return 1;
    }
    SameBytes *same = hotlinkNoteCopy(h.hotlink, f.host, f.copy());
    return same && !same->reused ? recheckTwin(h, f, same) : 1;
}

/* A scout that brought no image: the host needs the Referer when it
 * answered otherwise with it (the image is gone behind a placeholder);
 * else the next image of the host scouts again. */
static void judgeFailedScout(const JudgeHooks &h, const Fetched &f) {
    hotlinkJudged(h.hotlink, f.host, f.probe == RECHECK_GONE ? HOST_REFERER : HOST_UNKNOWN);
}

/* An image refused without the Referer and with it counts towards asking
 * the host once, with the Referer. */
static void noteRefusal(const JudgeHooks &h, const Fetched &f) {
    if (f.result != 1 && f.ask <= ASK_PLAIN && f.report.refererSent && f.report.status == 403)
        hotlinkRefused(h.hotlink, f.host);
}

void judgeAtTurn(const JudgeHooks &h, Fetched &f) {
    bool failedScout = f.result != 1 && f.ask == ASK_SCOUT;
    if (f.result == 1) f.result = judgeMoved(h, f);
    // counted before a failed scout frees the host, or a download starting in between scouts it again
    noteRefusal(h, f);
    if (failedScout) judgeFailedScout(h, f);
}

bool keptAhead(HotlinkHosts *hosts, const ImageTask &t) {
    if (t.state != TASK_DONE || t.result != 1 || t.ask != hotlinkAsk(hosts, t.hostKey, true)) return false;
    if (t.ask == ASK_SCOUT) hotlinkJudged(hosts, t.hostKey, t.report.refererSent ? HOST_REFERER : HOST_PLAIN);
    if (t.ask >= ASK_REFERER || (t.ask == ASK_SCOUT && t.report.refererSent)) return true;
    if (t.report.refererSent) return false;  // the host's earlier links would be fetched again
    MovedCopy copy = {t.url.c_str(), t.item, t.kind, t.report.digest, t.report.size};
    SameBytes *same = hotlinkNoteCopy(hosts, t.hostKey, copy);
    if (!same || same->reused) return true;
    hotlinkForgetCopy(hosts, t.hostKey, copy);  // it would be asked again with the Referer
    return false;
}
