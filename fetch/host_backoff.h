/* Hosts that asked to be left alone for a while: a 429 or 503 answer, with
 * or without a Retry-After. One table for the whole process, keyed by
 * hostPort(), says until when each host is to be left alone; every
 * download to the host waits for that before it sends, whichever download
 * was told. From its first such answer until the job ends, a host is also
 * asked one request at a time, the images it turned away most often first:
 * several at once after each wait would spend the tries of some images on
 * a host that allows fewer requests a second than connections. */
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

/* A download's turn at a host. At a host that has asked to wait, making
 * it waits until that wait is over, no other download has its turn and
 * none whose image was turned away more often waits; at any other host it
 * is had at once. The wait ends early when the steady-clock deadline (ms, clockNow()) has
 * passed or the connections are cut. The turn lasts until the host has
 * answered (end) or the turn is destroyed: the host's limits count
 * requests, so a long body does not hold the next request back. */
class HostTurn {
public:
    HostTurn(const std::string &hostPort, int turnedAway, int64_t deadline);
    ~HostTurn() { end(); }
    /* Gives the turn back; harmless twice. */
    void end();
    HostTurn(const HostTurn &) = delete;
    HostTurn &operator=(const HostTurn &) = delete;

private:
    std::string key;
    int held = 0;  // the host's one request out is this turn's
};

/* Forgets every host's wait (resetConnFailCounts, when a move job ends). */
void forgetHostWaits(void);

#endif
