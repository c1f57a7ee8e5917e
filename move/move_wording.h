/* The move job's own texts (GBK): its progress label, the message of a
 * local file it cannot create, app.log's line for a failed link, and the
 * final message with its advice on the failed links. They sit together, as
 * the console's rewording does, so that the job reads as what it does and
 * every text it shows is found in one place. */
#ifndef LUMORA_MOVE_WORDING_H
#define LUMORA_MOVE_WORDING_H

#include <string>

#include "process_hooks.h"

/* A link's local file that cannot be created: the link's failure message,
 * and the message that stops the job for a description image's. */
extern const char NO_NEW_FILE[];
extern const char NO_NEW_FILE_FATAL[];

/* The caption of a message that stops the job. */
extern const char FATAL_CAPTION[];

/* The progress label: the items and the items done, then suffix. */
std::string progressLabel(int itemCount, int done, const char *suffix);

/* The label's suffix while the package is rewritten: with the whole
 * percentage done, or plain for a negative one (before the first). */
std::string rewritingSuffix(int percent);

/* app.log's line for a link that failed with the download's message, cut
 * to FAILURE_LOG_SIZE bytes with its end. */
enum { FAILURE_LOG_SIZE = 2048 };
std::string failureLogLine(const char *url, const char *errMsg);

/* What the job counted for its final message. */
struct OutcomeCounts {
    int failed = 0;       /* distinct links that failed */
    int failedAgain = 0;  /* of them, those that moving again may fetch */
    int shared = 0;       /* kept links whose picture other links of their host share */
    unsigned kinds = 0;   /* the kinds of failure met (failure_words.h) */
};

struct FinalMessage {
    std::string text;
    const char *caption;
    MessageIcon icon;
};

/* The final message for the package named packageName (GBK): whether it
 * changed (changed: a link was rewritten), what failed and what to do
 * about it, and the kept links to check. The failure report's line is the
 * caller's to add. A warning where links failed that no blank image
 * replaced, or where kept links share their picture. */
FinalMessage finalMessage(const char *packageName, int changed, int blankForFailed, const OutcomeCounts &counts);

#endif
