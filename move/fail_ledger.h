/* Failure counts decided in link order.
 *
 * A move job downloads several links at once, yet a host must be skipped
 * for a link exactly when it would be in a move made one link at a time.
 * So each of its downloads counts against a ledger of its own: it starts
 * from the job's counts as they stand, and notes per host every check
 * whether the host is refused, every counted failure and every answer. The
 * job commits the ledgers in link order. A ledger whose checks would have
 * come out otherwise from the counts at its turn is refused, and that
 * download is made again; the others add their changes to the job's counts.
 * A download counts against its ledger through its context
 * (download_context.h). */
#ifndef LUMORA_FAIL_LEDGER_H
#define LUMORA_FAIL_LEDGER_H

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "download_context.h"

/* A move job's counts, by the key of the connection tables. */
struct JobFailCounts {
    std::mutex lock;  // downloads read while the job commits
    std::map<std::string, int> counts;
};

enum LedgerEvent { LEDGER_ALLOWED, LEDGER_REFUSED, LEDGER_FAILURE, LEDGER_ANSWER };

/* One download's view of the counts and what it met. Each call is noted,
 * a check whether the key is refused too. */
struct FailureLedger : FailureCounts {
    JobFailCounts *job = nullptr;
    std::map<std::string, int> seen;                         // each key's count as this download has it
    std::map<std::string, std::vector<LedgerEvent>> events;  // in the order met

    int refused(const std::string &key) override;
    void failure(const std::string &key) override;
    void answered(const std::string &key) override;
};

/* Applies the ledger to its job's counts and returns 1, or returns 0 and
 * changes nothing when a check would come out otherwise now. */
int ledgerCommit(const FailureLedger &ledger);

#endif
