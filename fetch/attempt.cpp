/* The attempt's shared records; see attempt.h. */
#include "attempt.h"

#include <stdarg.h>
#include <stdio.h>

#include "conn_pool.h"

int attemptFail(AttemptOutcome &o, FailReason reason, int result, const char *format, ...) {
    o.reason = reason;
    va_list args;
    va_start(args, format);
    vsnprintf(o.message, ERR_MSG_SIZE, format, args);
    va_end(args);
    return result;
}
