/* Failure counts decided in link order; see fail_ledger.h.
 *
 * A download's behaviour depends on the counts only through its checks, so
 * replaying its events from the job's counts at its turn tells whether it
 * would have run the same, and gives the counts it leaves. */
#include "fail_ledger.h"

#include "host_failures.h"

/* The count after the event. An answer needs a connection, which a
 * refused key never gets within one download, so it always resets. */
static int applied(int count, LedgerEvent event) {
    if (event == LEDGER_FAILURE) return count + 1;
    return event == LEDGER_ANSWER ? 0 : count;
}

/* This download's count for the key, taken from the job's at first use. */
static int &seenCount(FailureLedger *ledger, const std::string &key) {
    auto found = ledger->seen.find(key);
    if (found != ledger->seen.end()) return found->second;
    std::lock_guard<std::mutex> held(ledger->job->lock);
    auto counted = ledger->job->counts.find(key);
    return ledger->seen[key] = counted == ledger->job->counts.end() ? 0 : counted->second;
}

static void note(FailureLedger *ledger, const std::string &key, LedgerEvent event) {
    int &count = seenCount(ledger, key);
    count = applied(count, event);
    ledger->events[key].push_back(event);
}

int FailureLedger::refused(const std::string &key) {
    int refusedNow = seenCount(this, key) >= CONNECT_FAILURE_LIMIT;
    note(this, key, refusedNow ? LEDGER_REFUSED : LEDGER_ALLOWED);
    return refusedNow;
}

void FailureLedger::failure(const std::string &key) {
    note(this, key, LEDGER_FAILURE);
}

void FailureLedger::answered(const std::string &key) {
    note(this, key, LEDGER_ANSWER);
}

int ledgerCommit(const FailureLedger &ledger) {
    if (!ledger.job) return 1;
    std::lock_guard<std::mutex> held(ledger.job->lock);
    std::map<std::string, int> &counts = ledger.job->counts, after;
    for (const auto &key : ledger.events) {
        int count = counts.count(key.first) ? counts[key.first] : 0;
        for (LedgerEvent event : key.second) {
            int refused = count >= CONNECT_FAILURE_LIMIT;
            if ((event == LEDGER_REFUSED || event == LEDGER_ALLOWED) && refused != (event == LEDGER_REFUSED)) return 0;
            count = applied(count, event);
        }
        after[key.first] = count;
    }
    for (const auto &key : after) counts[key.first] = key.second;
    return 1;
}
