/* Why a link failed; see link_failure.h. */
#include "link_failure.h"

int againMayHelp(const LinkFailure &f) {
    switch (f.reason) {
    case REASON_STATUS:  // a server error may pass; a client error is the answer
        return f.status >= 500 || f.status == 408;
    case REASON_HOST_SKIPPED:
    case REASON_TIMED_OUT:
    case REASON_RATE_LIMITED:
    case REASON_UNAVAILABLE:
    case REASON_UNREACHABLE:
    case REASON_CUT_SHORT:
    case REASON_LOCAL_FILE:
        return 1;
    default:
        return 0;
    }
}
