/* The words of the final advice that name the kinds of failure a move met,
 * so that each of its brackets lists only what it covers. Every failure
 * falls under one kind, and every kind is one that moving again may mend
 * or one it will not; a set of kinds is a bit mask. */
#ifndef LUMORA_FAILURE_WORDS_H
#define LUMORA_FAILURE_WORDS_H

#include <string>

#include "move_job.h"

/* The bit of the kind the failure falls under. */
unsigned failureKind(const LinkFailure &failure);

/* The kinds in the mask that moving again may mend (again 1) or will not
 * (again 0), named in a fixed order as "a、b或c" (GBK); "" for none. */
std::string failureKindWords(unsigned kinds, int again);

#endif
