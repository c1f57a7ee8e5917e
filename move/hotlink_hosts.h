/* Hosts that hand their images only to their own pages.
 *
 * Some image hosts refuse a request without a Referer from their own site
 * (403), or answer it with one small "hotlinking forbidden" picture in
 * place of every image. A move job learns such hosts in link order: a 403
 * that the Referer mended, or two different links of a host whose bytes
 * came back identical and differ once one of them is asked for with the
 * Referer. From then on every image of that host is asked for with it.
 *
 * Until a host is known to need it, the job keeps, per host, the links it
 * moved by the digest of their bytes, so that it finds the earlier copies
 * of a placeholder and fetches them again. */
#ifndef LUMORA_HOTLINK_HOSTS_H
#define LUMORA_HOTLINK_HOSTS_H

#include <stdint.h>

#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "local_naming.h"

/* A moved link of a host; the link's text belongs to the job's items. */
struct MovedCopy {
    const char *url;
    int item;  /* the index of the item that holds it */
    ImageKind kind;
};

/* The links of one host that came back with the same bytes. */
struct SameBytes {
    std::vector<MovedCopy> links;  /* in link order */
    bool reused = false;           /* the same with the Referer: one picture in many places */
};

struct HotlinkHosts {
    std::mutex lock;  // the downloaders ask while the job adds
    std::unordered_set<std::string> needReferer;  // by the connection tables' host key
    std::unordered_map<std::string, std::unordered_map<uint64_t, SameBytes>> copies;  // by host key, then bytes
};

/* 1 when the host's images are asked for with the Referer. */
int refererWanted(HotlinkHosts *hosts, const std::string &host);

/* From now on the host's images are asked for with the Referer; its
 * copies are forgotten. */
void refererNeeded(HotlinkHosts *hosts, const std::string &host);

/* Notes a moved link of a host that is not asked with the Referer, by its
 * bytes' digest and size. Returns its group, the link last, when earlier
 * links came back with the same bytes and they were not found reused;
 * else NULL. */
SameBytes *noteCopy(HotlinkHosts *hosts, const std::string &host, uint64_t digest, int64_t size,
                    const MovedCopy &copy);

#endif
