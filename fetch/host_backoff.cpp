/* The hosts' paces; see host_backoff.h.
 *
 * A host that asked to wait has an entry behind one lock: its pace, the
 * requests it has out, the answered run towards a step back up, and the
 * tickets of the downloads waiting for a turn, the earliest first. Waiting
 * sleeps on a condition in short steps, so that a cut is noticed at once
 * and a turn given back is taken at once. A Retry-After is a number of
 * seconds or an HTTP date in any of its three forms, read against the wall
 * clock. */
#include "host_backoff.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

#include "host_slots.h"
#include "http_exchange.h"
#include "net.h"

/* The longest sleep between two looks at the pace and the cut. */
enum { WAIT_POLL_MS = 50 };

namespace {

/* A host that asked to wait. */
struct HostPace {
    int pace = CONNECTIONS_PER_HOST;  // requests it may have out at once
    int busy = 0;                     // requests out
    int run = 0;                      // answered requests since the pace last changed
    std::set<uint64_t> waiting;       // tickets of the downloads waiting for a turn
};

}  // namespace

static std::mutex waitLock;
static std::condition_variable turnGiven;
static std::map<std::string, HostPace> hostPaces;  // under waitLock, by hostPort()
static std::atomic<int> backoffUnitMs{BACKOFF_UNIT_MS};
static std::atomic<uint64_t> tickets{0};

void setBackoffUnit(int ms) {
    backoffUnitMs = ms;
}

uint64_t nextTurnTicket(void) {
    return ++tickets;
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

/* The wait a Retry-After value asks for, in ms of back-off units, at most
 * the cap; -1 when it is neither a number of seconds nor a date. A date
 * gone by asks for none. */
static int64_t retryAfterMs(const char *value, int64_t unit, int64_t cap) {
    size_t digits = strspn(value, "0123456789");
    if (digits && !value[digits + strspn(value + digits, " \t")]) {
        long long seconds = strtoll(value, NULL, 10);  // saturates, far beyond the cap
        return seconds >= cap / unit ? cap : seconds * unit;
    }
    int64_t date = httpDateSeconds(value);
    if (date < 0) return -1;
    using namespace std::chrono;
    int64_t now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return std::min(std::max(date * 1000 - now, (int64_t)0) * unit / 1000, cap);
}

int64_t hostAskedToWait(const std::string &hostPort, const char *retryAfter, int earlier) {
    int64_t unit = std::max((int)backoffUnitMs, 1), cap = RETRY_AFTER_CAP_MS / BACKOFF_UNIT_MS * unit;
    int64_t step = std::min(unit << std::min(earlier, 2), cap);
    int64_t ms = std::max(retryAfterMs(retryAfter, unit, cap), step);  // never sooner than the step
    std::lock_guard<std::mutex> held(waitLock);
    HostPace &h = hostPaces[hostPort];
    h.pace = std::max(h.pace / 2, 1);
    h.run = 0;
    return ms;
}

void hostAnsweredRequest(const std::string &hostPort) {
    std::lock_guard<std::mutex> held(waitLock);
    auto found = hostPaces.find(hostPort);
    if (found == hostPaces.end() || found->second.pace >= CONNECTIONS_PER_HOST) return;
    HostPace &h = found->second;
    if (++h.run < PACE_RECOVERY_RUN) return;
    h.pace++;
    h.run = 0;
    turnGiven.notify_all();
}

void waitOutAtHost(const std::string &hostPort, uint64_t ticket, int64_t ms) {
    std::unique_lock<std::mutex> lock(waitLock);
    hostPaces[hostPort].waiting.insert(ticket);
    for (int64_t end = clockNow() + ms, now = clockNow(); now < end && !netCutDone(); now = clockNow())
        turnGiven.wait_for(lock, std::chrono::milliseconds(std::min(end - now, (int64_t)WAIT_POLL_MS)));
    // taken out without a notice: its next request comes at once and is first in line again
    hostPaces[hostPort].waiting.erase(ticket);
}

/* Waits for the turn; 1 when it was taken, 0 when a cut came first.
 * Called under waitLock, held by lock. */
static int takeTurn(std::unique_lock<std::mutex> &lock, const std::string &key, uint64_t ticket) {
    for (;;) {
        HostPace &h = hostPaces[key];
        h.waiting.insert(ticket);  // again after the paces were forgotten meanwhile
        if (netCutDone()) return 0;
        if (h.busy < h.pace && *h.waiting.begin() == ticket) {
            h.busy++;
            return 1;
        }
        turnGiven.wait_for(lock, std::chrono::milliseconds(WAIT_POLL_MS));
    }
}

HostTurn::HostTurn(const std::string &hostPort, uint64_t ticket) : key(hostPort) {
    std::unique_lock<std::mutex> lock(waitLock);
    if (!hostPaces.count(key)) return;  // a host that never asked to wait is asked at once
    int64_t start = clockNow();
    held = takeTurn(lock, key, ticket);
    hostPaces[key].waiting.erase(ticket);
    waitedMs = clockNow() - start;
    turnGiven.notify_all();  // the next ticket may go now
}

void HostTurn::end() {
    if (!held) return;
    held = 0;
    std::lock_guard<std::mutex> lock(waitLock);
    auto found = hostPaces.find(key);
    if (found != hostPaces.end() && found->second.busy > 0) found->second.busy--;
    turnGiven.notify_all();
}

void forgetHostWaits(void) {
    std::lock_guard<std::mutex> held(waitLock);
    hostPaces.clear();
}
