/* Hosts that asked to be left alone for a while: a 429 or 503 answer, with
 * or without a Retry-After. One table for the whole process, keyed by
 * hostPort(), says until when each host is to be left alone; every
 * download to the host waits for that before it sends, whichever download
 * was told. */
#ifndef LUMORA_HOST_BACKOFF_H
#define LUMORA_HOST_BACKOFF_H

#include <stdint.h>

#include <string>

/* Requests of one image that may be answered 429 or 503; the last such
 * answer is given up on. */
enum { RATE_LIMIT_TRIES = 4 };

/* The longest wait one answer can ask for: a host that asks for an hour
 * gets tried again after this. */
enum { RETRY_AFTER_CAP_MS = 30000 };

/* The first wait when the answer says nothing usable; it doubles with each
 * answer of the image that asked to wait, up to four units. */
enum { BACKOFF_UNIT_MS = 1000 };

/* Changes the back-off unit (tests shorten it). */
void setBackoffUnit(int ms);

/* Notes that the host asked to wait: retryAfter is the Retry-After value
 * ("" when none came), earlier the image's answers that asked before. The
 * host is left alone until the wait is over. Returns the wait in ms. */
int64_t hostAskedToWait(const std::string &hostPort, const char *retryAfter, int earlier);

/* Waits until the host is no longer left alone, until the steady-clock
 * deadline (ms, clockNow()) has passed or until the connections are cut,
 * whichever comes first. */
void waitForHost(const std::string &hostPort, int64_t deadline);

/* Forgets every host's wait (a move job ends). */
void forgetHostWaits(void);

#endif
