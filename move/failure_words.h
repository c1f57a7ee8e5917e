/* How a front end words a failed link for the seller: the reason in a few
 * words, as the window's failure box, the console's failure list and the
 * failure report all show it, and an item title as the seller wrote it.
 * One table, so that every place says the same thing. */
#ifndef LUMORA_FAILURE_WORDS_H
#define LUMORA_FAILURE_WORDS_H

#include <string>

#include "move_job.h"

/* Why a link failed, in a few words (GBK); "" for no reason. */
std::string failureReasonText(const LinkFailure &failure);

/* What follows a failed link on its line: "  （reason）", or "" when the
 * reasons hold none for the link. */
std::string failureNote(const FailureReasons &reasons, const char *link);

/* An item title as the seller wrote it: the package's doubled quotes
 * ("") become single ones. */
std::string shownTitle(const char *title);

#endif
