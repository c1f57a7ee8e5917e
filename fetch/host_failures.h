/* The process-wide failure counts: one table of consecutive failures per
 * "scheme://host:port", behind one lock, shared by every download that no
 * move job counts in link order (fail_ledger.h) and by the update check.
 * A failure is a failed connect, a TLS port that agrees on no session or a
 * reply that never came; an answer removes the count, a bare connect does
 * not (a host that accepts and then stays silent must be skipped too). */
#ifndef LUMORA_HOST_FAILURES_H
#define LUMORA_HOST_FAILURES_H

#include <string>

#include "download_context.h"
#include "url.h"

/* Consecutive counted failures after which a host and port is refused. */
enum { CONNECT_FAILURE_LIMIT = 5 };

/* Creates the table (once; later calls do nothing). */
void initHostFailures(void);

/* The process-wide table as FailureCounts; it lives as long as the process. */
FailureCounts *processFailureCounts(void);

/* Forgets every process-wide failure count, which hosts spoke TLS and which
 * asked to be left alone. */
void resetConnFailCounts(void);

/* The link's "scheme://host:port", the host in lower case: the key of the
 * counts and of the pool; any length. */
std::string linkKey(const UrlParts *parts);

/* Counts a connection on which no reply came in time like a failed
 * connect, under the link's scheme, host and port. */
void countHostFailure(FailureCounts *counts, const UrlParts *parts);

/* Forgets the link's scheme, host and port's failures: it has answered. */
void hostAnswered(FailureCounts *counts, const UrlParts *parts);

#endif
