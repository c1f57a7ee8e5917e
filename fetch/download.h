/* Downloading one image link into a new local file. */
#ifndef LUMORA_DOWNLOAD_H
#define LUMORA_DOWNLOAD_H

/* Results besides 1 (done) and 0 (refused: too large, incomplete without
 * keep-alive, or not an image). */
enum {
    DOWNLOAD_FAILED = -1,        /* no link, connection, exchange or status */
    DOWNLOAD_WRITE_ERROR = -2,   /* a write to the file failed */
    DOWNLOAD_CREATE_ERROR = -3,  /* the file could not be created */
    DOWNLOAD_CUT = -4,           /* the connections were cut (conn_pool.h) */
};

/* Fetches url with an HTTP GET into a new file at filePath and checks that
 * it is a JPEG, PNG, GIF or BMP image. Follows one redirect; a keep-alive
 * attempt that fails with 0 or -1 is repeated once on a fresh connection.
 * Returns 1 when the file is complete; otherwise the file does not exist and
 * errMsg (ERR_MSG_SIZE bytes, cleared by the caller) holds the reason.
 * useKeepAlive takes the pooled connection; redirected is 0 for callers. */
int downloadToFile(const char *url, const char *filePath, char *errMsg, int useKeepAlive, int redirected);

#endif
