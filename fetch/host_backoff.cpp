/* The hosts' waits; see host_backoff.h.
 *
 * A host that asked to wait has an entry behind one lock: the time it may
 * be asked again, on the steady clock (a later answer only ever pushes it
 * further out), whether its one request is out, and how many downloads
 * wait for it, by how often their image was turned away. Waiting sleeps on
 * a condition in short steps, so that a cut is noticed at once and a turn
 * given back is taken at once. A Retry-After is a number of seconds or an
 * HTTP date in any of its three forms, read against the wall clock. */
#include "host_backoff.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "http_exchange.h"
#include "net.h"

/* The longest sleep between two looks at the wait and the cut. */
enum { WAIT_POLL_MS = 50 };

namespace {

/* A host that asked to wait. */
struct HostWait {
    int64_t until = 0;                      // steady-clock ms before which it is not asked
    int busy = 0;                           // a download has its turn
    int waiting[RATE_LIMIT_TRIES + 1] = {};  // downloads waiting, by how often their image was turned away
};

}  // namespace

static std::mutex waitLock;
static std::condition_variable turnGiven;
static std::map<std::string, HostWait> hostWaits;  // under waitLock, by hostPort()
static int backoffUnitMs = BACKOFF_UNIT_MS;

void setBackoffUnit(int ms) {
    backoffUnitMs = ms;
}

/* Days from 1970-01-01 to a date of the Gregorian calendar. */
static int64_t daysSince1970(int64_t year, int month, int day) {
    year -= month <= 2;
    int64_t era = (year >= 0 ? year : year - 399) / 400, yearOfEra = year - era * 400;
    int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    return era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear - 719468;
}

/* The month of an English three-letter name, 1 to 12; 0 for none. */
static int monthNumber(const char *name) {
    static const char MONTHS[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    for (int m = 0; m < 12; m++)
        if (strlen(name) == 3 && memcmp(MONTHS + 3 * m, name, 3) == 0) return m + 1;
    return 0;
}

/* Seconds since 1970 of an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT",
 * "Sunday, 06-Nov-94 08:49:37 GMT" or "Sun Nov  6 08:49:37 1994"), or -1. */
static int64_t httpDateSeconds(const char *text) {
    char name[4] = "";
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, used = 0;
    sscanf(text, "%*[A-Za-z], %2d %3[A-Za-z] %4d %2d:%2d:%2d GMT%n", &day, name, &year, &hour, &minute, &second, &used);
    if (!used)
        sscanf(text, "%*[A-Za-z], %2d-%3[A-Za-z]-%2d %2d:%2d:%2d GMT%n", &day, name, &year, &hour, &minute, &second, &used);
    if (!used) sscanf(text, "%*[A-Za-z] %3[A-Za-z] %2d %2d:%2d:%2d %4d%n", name, &day, &hour, &minute, &second, &year, &used);
    int month = monthNumber(name);
    int valid = month && day >= 1 && day <= 31 && (unsigned)hour <= 23 && (unsigned)minute <= 59 &&
                (unsigned)second <= 60 && year >= 0;
    if (!used || text[used + strspn(text + used, " \t")] || !valid) return -1;
    if (year < 100) year += year < 70 ? 2000 : 1900;  // the obsolete two-digit year
    return ((daysSince1970(year, month, day) * 24 + hour) * 60 + minute) * 60 + second;
}

/* The wait a Retry-After value asks for, in ms, at most the cap; -1 when it
 * is neither a number of seconds nor a date. A date gone by asks for none. */
static int64_t retryAfterMs(const char *value) {
    size_t digits = strspn(value, "0123456789");
    if (digits && !value[digits + strspn(value + digits, " \t")]) {
        long long seconds = strtoll(value, NULL, 10);  // saturates, far beyond the cap
        return seconds >= RETRY_AFTER_CAP_MS / 1000 ? (int64_t)RETRY_AFTER_CAP_MS : seconds * 1000;
    }
    int64_t date = httpDateSeconds(value);
    if (date < 0) return -1;
    using namespace std::chrono;
    int64_t now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return std::min(std::max(date * 1000 - now, (int64_t)0), (int64_t)RETRY_AFTER_CAP_MS);
}

int64_t hostAskedToWait(const std::string &hostPort, const char *retryAfter, int earlier) {
    int64_t ms = retryAfterMs(retryAfter);
    if (ms < 0) ms = std::min((int64_t)backoffUnitMs << std::min(earlier, 2), (int64_t)RETRY_AFTER_CAP_MS);
    std::lock_guard<std::mutex> held(waitLock);
    int64_t &until = hostWaits[hostPort].until;
    until = std::max(until, clockNow() + ms);
    return ms;
}

/* 1 when a download whose image was turned away more often than rank waits
 * for the host. Called under waitLock. */
static int waitsBefore(const HostWait &h, int rank) {
    for (int r = rank + 1; r <= RATE_LIMIT_TRIES; r++)
        if (h.waiting[r]) return 1;
    return 0;
}

/* Waits for the turn; 1 when it was taken, 0 when the deadline or a cut
 * came first. Called under waitLock, held by lock. */
static int takeTurn(std::unique_lock<std::mutex> &lock, const std::string &key, int rank, int64_t deadline) {
    for (;;) {
        HostWait &h = hostWaits[key];
        int64_t now = clockNow();
        if (now > deadline || netCutDone()) return 0;
        if (now >= h.until && !h.busy && !waitsBefore(h, rank)) {
            h.busy = 1;
            return 1;
        }
        int64_t step = std::min({now < h.until ? h.until - now : (int64_t)WAIT_POLL_MS, deadline + 1 - now,
                                 (int64_t)WAIT_POLL_MS});
        turnGiven.wait_for(lock, std::chrono::milliseconds(step));
    }
}

HostTurn::HostTurn(const std::string &hostPort, int turnedAway, int64_t deadline) : key(hostPort) {
    int rank = std::min(std::max(turnedAway, 0), (int)RATE_LIMIT_TRIES);
    std::unique_lock<std::mutex> lock(waitLock);
    if (!hostWaits.count(key)) return;  // a host that never asked to wait is asked at once
    hostWaits[key].waiting[rank]++;
    held = takeTurn(lock, key, rank, deadline);
    hostWaits[key].waiting[rank]--;
    turnGiven.notify_all();  // one waiting behind this one may go now
}

void HostTurn::end() {
    if (!held) return;
    held = 0;
    std::lock_guard<std::mutex> lock(waitLock);
    auto found = hostWaits.find(key);
    if (found != hostWaits.end()) found->second.busy = 0;
    turnGiven.notify_all();
}

void forgetHostWaits(void) {
    std::lock_guard<std::mutex> held(waitLock);
    hostWaits.clear();
}
