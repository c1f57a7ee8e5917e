/* Reading one reply to an image request, in two halves: the header into
 * the stream's buffer, then what its status asks for, which is the body
 * (body_read.h), a redirect's short body to drop, or nothing but the
 * failure. Between the halves the attempt counts the answer against its
 * host; the reading itself touches nothing but the stream, the body's
 * reader and the outcome, so that it can be driven over any connection. */
#ifndef LUMORA_REPLY_READ_H
#define LUMORA_REPLY_READ_H

#include "attempt.h"
#include "body_read.h"

/* Reads the reply's header from s.conn and parses it: s.header,
 * s.reusable and o.status (0 for a status line that is none). Returns 1
 * when it came whole, else 0 with *result the failure (the outcome holds
 * its message and reason). */
int readReplyHeader(ReplyStream &s, BodyReader &b, AttemptOutcome &o, int *result);

/* Reads on after a whole header as its status asks. Returns DOWNLOAD_DONE
 * with the body in the file, DOWNLOAD_REDIRECT for a redirect with a
 * Location (o.location; its own short body read and dropped when the connection is to
 * be kept, else s.reusable cleared), or a failure with the outcome's
 * message and reason. */
int readReplyRest(ReplyStream &s, BodyReader &b, AttemptOutcome &o);

#endif
