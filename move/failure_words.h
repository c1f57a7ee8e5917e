/* How a front end words failed links for the seller: the reason in a few
 * words, as the window's failure box, the console's failure list and the
 * failure report all show it; an item title as the seller wrote it; and
 * the kinds of failure the final advice names, so that each of its
 * brackets lists only what it covers. One table each, so that every place
 * says the same thing. */
#ifndef LUMORA_FAILURE_WORDS_H
#define LUMORA_FAILURE_WORDS_H

#include <string>

#include "link_failure.h"

/* Why a link failed, in a few words (GBK); "" for no reason. */
std::string failureReasonText(const LinkFailure &failure);

/* What follows a failed link on its line: "  （reason）", or "" when the
 * reasons hold none for the link. */
std::string failureNote(const FailureReasons &reasons, const char *link);

/* An item title as the seller wrote it: the package's doubled quotes
 * ("") become single ones. */
std::string shownTitle(const char *title);

/* The bit of the kind the failure falls under. Every failure falls under
 * one kind, and every kind is one that moving again may mend or one it
 * will not; a set of kinds is a bit mask. */
unsigned failureKind(const LinkFailure &failure);

/* The kinds in the mask that moving again may mend (again 1) or will not
 * (again 0), named in a fixed order as "a、b或c" (GBK); "" for none. */
std::string failureKindWords(unsigned kinds, int again);

#endif
