/* Hosts that asked to be left alone for a while: a 429 or 503 answer, with
 * or without a Retry-After. One table for the whole process, keyed by
 * hostPort(), holds each such host's pace: how many requests it may have
 * out at once. An answer that asks to wait halves the pace (down to one);
 * a run of answered requests gives one back, up to the per-host limit, so
 * one early 429 costs a job little. The image that was told to wait waits
 * out the wait it was told; images whose requests are out go on. Turns at
 * a slowed host go strictly in the order the images' downloads began,
 * which is link order in a move: no later image takes a turn while an
 * earlier one waits, for its turn or out its wait. So no image is starved,
 * and a host that allows fewer requests a second than it is sent cannot
 * spend an earlier image's tries. The time an image spends waiting behind
 * others is not charged to its deadline: it ends as it would have moved
 * alone. */
#ifndef LUMORA_HOST_BACKOFF_H
#define LUMORA_HOST_BACKOFF_H

#include <stdint.h>

#include <string>

/* Requests of one image that may be answered 429 or 503; the last such
 * answer is given up on. */
enum { RATE_LIMIT_TRIES = 4 };

/* The longest wait one answer can ask for, in ms of back-off units of a
 * second: a host that asks for an hour gets tried again after this. */
enum { RETRY_AFTER_CAP_MS = 30000 };

/* The back-off step: the least an image waits after an answer that asked
 * to wait, whatever its Retry-After says (0 and a date gone by included).
 * It doubles with each such answer of the image, up to four units. */
enum { BACKOFF_UNIT_MS = 1000 };

/* Answered requests in a row after which a slowed host may have one more
 * request out at once. */
enum { PACE_RECOVERY_RUN = 8 };

/* Changes the back-off unit (tests shorten it); every wait asked for,
 * Retry-After included, is read in such units of a second. */
void setBackoffUnit(int ms);

/* Notes that the host asked to wait: retryAfter is the Retry-After value
 * ("" when none came), earlier the image's answers that asked before. The
 * host's pace is halved. Returns the wait in ms the image is to wait. */
int64_t hostAskedToWait(const std::string &hostPort, const char *retryAfter, int earlier);

/* Notes an answer that did not ask to wait, towards the host's recovery. */
void hostAnsweredRequest(const std::string &hostPort);

/* A download's place in the host's turns: earlier downloads go first. */
uint64_t nextTurnTicket(void);

/* Waits out ms that the host asked of the download with the ticket, ahead
 * of later downloads to the host, in short steps, ending early when the
 * connections are cut. */
void waitOutAtHost(const std::string &hostPort, uint64_t ticket, int64_t ms);

/* A download's turn at a host. At a host that has asked to wait, making
 * it waits until the host has fewer requests out than its pace and no
 * download with an earlier ticket waits (for a turn or out a wait); at any
 * other host it is had at once. The wait ends early when the connections are cut. The turn lasts
 * until the host has answered (end) or the turn is destroyed: the host's
 * limits count requests, so a long body does not hold the next request
 * back. */
class HostTurn {
public:
    HostTurn(const std::string &hostPort, uint64_t ticket);
    ~HostTurn() { end(); }
    /* Gives the turn back; harmless twice. */
    void end();
    /* The ms spent waiting for the turn: other images' time, not this one's. */
    int64_t waited() const { return waitedMs; }
    HostTurn(const HostTurn &) = delete;
    HostTurn &operator=(const HostTurn &) = delete;

private:
    std::string key;
    int held = 0;  // one of the host's requests out is this turn's
    int64_t waitedMs = 0;
};

/* Forgets every host's pace (resetConnFailCounts, when a move job ends). */
void forgetHostWaits(void);

#endif
