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

/* Fetches url (GBK, as the package holds it; sent as a browser sends it)
 * with an HTTP GET into a new file at filePath and checks that it is a JPEG,
 * PNG, GIF or BMP image. Follows up to 10 redirects (301, 302, 303, 307,
 * 308) in a row; a keep-alive attempt that fails with 0 or -1 is repeated
 * once on a fresh connection. Returns 1 when the file is complete; otherwise
 * the file does not exist and errMsg (ERR_MSG_SIZE bytes, cleared by the
 * caller) holds the reason. useKeepAlive takes the pooled connection;
 * redirected is 0 for callers (1 follows no redirect). */
int downloadToFile(const char *url, const char *filePath, char *errMsg, int useKeepAlive, int redirected);

#endif
