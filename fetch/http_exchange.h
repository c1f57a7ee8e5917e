/* The parts of an HTTP exchange that the download to a file and the fetch
 * into memory share: the request text, sending it, every receive with the
 * clock that bounds a transfer as a whole, and reading the response header
 * into the fixed receive buffer. */
#ifndef LUMORA_HTTP_EXCHANGE_H
#define LUMORA_HTTP_EXCHANGE_H

#include <stdint.h>

#include <string>

#include "http_header.h"
#include "transport.h"
#include "url.h"

/* No read asks for more than this. The receive buffer holds a whole header
 * (HTTP_HEADER_LIMIT); buffers are one byte larger, for a terminator. */
enum { HTTP_BUFFER_SIZE = 8192 };

/* A body above this size is refused. */
enum { HTTP_BODY_LIMIT = 10485760 };

/* The socket's 10-second time-out only bounds each receive, so a server
 * that sends a byte every few seconds could hold an image for hours. Two
 * more bounds end such transfers:
 * - the low-speed limit: an attempt that receives fewer than
 *   LOW_SPEED_BYTES in LOW_SPEED_WINDOW_MS fails. The smallest images are a
 *   few KB and any working host sends 1 KB in well under a second, so a host
 *   this slow is not going to deliver; with the receive time-out the attempt
 *   ends within 30 s.
 * - the deadline: all attempts for one image (the keep-alive one, its
 *   repetition, the redirects' and the tries after a host asked to wait)
 *   start within IMAGE_DEADLINE_MS of the first, and a receive that returns
 *   after it ends the transfer. It leaves room for the three waits
 *   that a host may ask for between an image's four tries (at most 30 s
 *   each, host_backoff.h) and 60 s of transfers besides. A connect, send
 *   and receive under way then still have their own 10 s each, so one
 *   image holds the job for three minutes at most. A 10 MB image that no
 *   host makes wait needs about 70 KB/s to make it. */
enum { LOW_SPEED_BYTES = 1024, LOW_SPEED_WINDOW_MS = 20000, IMAGE_DEADLINE_MS = 150000 };

/* Changes the low-speed window and the deadline (tests shorten them). */
void setTransferLimits(int lowSpeedWindowMs, int imageDeadlineMs);

/* Why a transfer stopped receiving before its end. */
enum TransferStop {
    TRANSFER_RUNNING,    /* not stopped */
    TRANSFER_TIMED_OUT,  /* a receive got nothing within the socket's time-out */
    TRANSFER_TOO_SLOW,   /* below the low-speed limit */
    TRANSFER_TOO_LONG,   /* past the image's deadline */
};

/* The bounds of one attempt. */
struct TransferClock {
    int64_t deadline;     /* steady-clock ms after which no receive goes on */
    int64_t windowStart;  /* when the current low-speed window began */
    int64_t windowBytes;  /* bytes received in it */
    TransferStop stop;
};

/* Milliseconds on a steady clock. */
int64_t clockNow(void);

/* The deadline of an image whose download starts now. */
int64_t imageDeadline(void);

/* A clock for an attempt starting now, under the image's deadline. */
TransferClock transferClock(int64_t deadline);

/* One receive: the byte count, 0 when the peer closed in order, or less
 * than 0 when it failed or the clock (unless NULL) stopped the transfer;
 * clock->stop then says why. Bytes that arrive past a bound are dropped. */
int receive(Transport *t, char *buffer, int length, TransferClock *clock);

/* The GET request for the parsed link: HTTP/1.1 asking for keep-alive, or
 * HTTP/1.0 with "Connection: close"; with referer, it names the link's own
 * site as "Referer: scheme://host[:port]/", as a page of that site would.
 * Any length: a long link is served. */
std::string httpRequest(const UrlParts &parts, int keepAlive, int referer);

/* Sends all of the text; 1 when it went out, 0 on a send error. */
int sendAll(Transport *t, const std::string &text);

/* Outcome of reading a response header. */
enum HeaderRead { HEADER_COMPLETE, HEADER_CUT_SHORT, HEADER_TOO_LARGE };

/* Reads into buffer (HTTP_HEADER_LIMIT + 1 bytes, zeroed) until it holds the
 * blank line that ends the header. *held receives the bytes read and
 * *lastRead the result of the last read; on HEADER_COMPLETE *headerLength
 * is the offset of the blank line's "\r\n\r\n". clock may be NULL. */
HeaderRead readHeader(Transport *t, char *buffer, int *held, int *lastRead, int *headerLength,
                      TransferClock *clock);

/* The code of a status line "HTTP/1.1 NNN" or "HTTP/1.0 NNN" (the version
 * in any letter case) with any reason phrase or none; 0 for anything else. */
int responseStatus(const char *statusLine);

/* The wrong-status message: the header's first 256 bytes at most, never a
 * byte of the body behind it. */
std::string statusMessage(const char *buffer, int headerLength);

/* 1 when the reply lets its connection carry another request: HTTP/1.1
 * without "Connection: close", or HTTP/1.0 with "Connection: keep-alive". */
int replyKeepsConnection(const char *statusLine, const HttpHeader &header);

#endif
