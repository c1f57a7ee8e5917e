/* The download of one image along its redirect chain, with the first
 * request's keep-alive chosen: downloadImage (download.h) asks it with
 * keep-alive, as every caller in the program does; the tests ask it
 * without, as a repeated attempt goes. Not for the program's callers. */
#ifndef LUMORA_DOWNLOAD_CHAIN_H
#define LUMORA_DOWNLOAD_CHAIN_H

#include "download.h"

/* downloadImage, whose first request goes over a fresh connection without
 * keep-alive unless keepAlive is set; redirect targets are fetched with
 * keep-alive either way. */
int downloadChain(const DownloadContext *context, const char *url, const char *filePath, char *errMsg, int keepAlive,
                  DownloadReport *report);

#endif
