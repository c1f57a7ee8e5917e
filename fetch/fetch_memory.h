/* One HTTP GET whose body is returned in memory: for small texts such as
 * the update notice. Always a fresh connection that is closed afterwards, no
 * redirects, and the response must give its length (at most 10 MB). */
#ifndef LUMORA_FETCH_MEMORY_H
#define LUMORA_FETCH_MEMORY_H

/* Why a fetch failed. */
enum { FETCH_NO_EXCHANGE = 1, FETCH_REFUSED = 2 };

struct FetchResult {
    int ok;       /* 1 when the whole body was received */
    char *header; /* the response header block, once a 200 line arrived; owned */
    char *data;   /* the body (length bytes and a NUL), or the failure message; owned */
    int length;   /* the body length on success, else 0 */
    int failKind; /* 0, FETCH_NO_EXCHANGE or FETCH_REFUSED */
};

/* Fetches url. Never returns NULL; release with freeFetchResult. */
FetchResult *fetchToMemory(const char *url);

/* Releases the result and its texts; accepts NULL. */
void freeFetchResult(FetchResult *result);

#endif
