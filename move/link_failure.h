/* Why a link of a move failed, and whether moving again may mend it. */
#ifndef LUMORA_LINK_FAILURE_H
#define LUMORA_LINK_FAILURE_H

#include <string>
#include <unordered_map>

#include "download.h"

/* Why a link failed, as its download reported it. */
struct LinkFailure {
    FailReason reason;
    int status; /* the HTTP status with REASON_STATUS */
};

/* The failed links of a job, by their text in the package. */
typedef std::unordered_map<std::string, LinkFailure> FailureReasons;

/* The links a job kept whose picture other links of the same host share,
 * by their text, with how many links share it: one picture really used
 * in many places, or a placeholder the host hands to its own site too,
 * which the seller checks. */
typedef std::unordered_map<std::string, int> SharedPictures;

/* 1 when moving the package again may fetch the link: the host was slow,
 * unreachable, busy or broke off, not when it answered what another try
 * would answer again (a missing page, a refusal, no image, too large). */
int againMayHelp(const LinkFailure &failure);

#endif
