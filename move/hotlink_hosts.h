/* Hosts that hand their images only to their own pages.
 *
 * Some image hosts refuse a request without a Referer from their own site
 * (403), or answer it with a "hotlinking forbidden" picture in place of the
 * image. A move job learns each host from its first image: that image, its
 * scout, is fetched as any other and then once more with the Referer, and
 * the two copies are compared. A 403 that the Referer mended, or copies
 * that differ, mark the host: from then on every image of it is asked for
 * with the Referer. Until the scout has been judged, at its link's turn,
 * no other image of the host is fetched, so none is fetched twice.
 *
 * A host judged plain can still give itself away later: two of its links
 * that came back with identical bytes are asked for again with the
 * Referer. So the job keeps, per host, the links it moved without the
 * Referer, in link order and grouped by the digest of their bytes. Bytes
 * that stay the same are one picture under several links, which the job
 * keeps and lists for the seller to check: it may also be a placeholder
 * that the host hands to its own site too.
 *
 * A host that refused two images both without and with the Referer is
 * asked with it from the start, and a refusal is taken as the answer: its
 * later images cost one request each. */
#ifndef LUMORA_HOTLINK_HOSTS_H
#define LUMORA_HOTLINK_HOSTS_H

#include <stdint.h>

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "local_naming.h"

/* How a download asks its host. */
enum HostAsk {
    ASK_LATER,   /* not yet: the host's scout has not been judged */
    ASK_SCOUT,   /* without the Referer, then once more with it to compare */
    ASK_PLAIN,   /* without the Referer */
    ASK_REFERER, /* with the Referer from the first request */
    ASK_ONCE,    /* with the Referer, and a refusal is not asked again: the host refuses both ways */
};

/* What the job knows of a host. */
enum HostVerdict {
    HOST_UNKNOWN,   /* no image of it judged yet */
    HOST_SCOUTED,   /* its scout is out or waits for its turn */
    HOST_PLAIN,     /* its scout came back the same with the Referer */
    HOST_REFERER,   /* it needs the Referer */
};

/* A link moved from a host without the Referer; its text belongs to the
 * job's items. */
struct MovedCopy {
    const char *url;
    int item;  /* the index of the item that holds it */
    ImageKind kind;
    uint64_t digest;  /* its bytes' digest and size */
    int64_t size;
};

/* The links of one host that came back with the same bytes. */
struct SameBytes {
    std::vector<MovedCopy> links;  /* in link order */
    bool reused = false;           /* the same with the Referer: one picture under several links */
};

/* Images refused both ways after which a host is asked with the Referer at once. */
enum { REFUSALS_LEARNED = 2 };

struct HostRecord {
    HostVerdict verdict = HOST_UNKNOWN;
    int refusals = 0;  // images refused (403) without the Referer and with it
    std::vector<MovedCopy> plain;  // its links moved without the Referer, in link order
    std::unordered_map<uint64_t, SameBytes> byBytes;  // the same links, by digest and size
};

struct HotlinkHosts {
    std::mutex lock;  // the downloaders ask while the job judges
    std::unordered_map<std::string, HostRecord> hosts;  // by the connection tables' host key
};

/* How a download of the host asks now. The first download of a host not
 * judged yet becomes its scout (the host is then HOST_SCOUTED); further
 * ones get ASK_LATER, unless atTurn: the job fetching a link at its turn
 * is then the scout itself. A link without a host is asked plainly. */
HostAsk hotlinkAsk(HotlinkHosts *hosts, const std::string &host, bool atTurn);

/* Sets the host's verdict once its scout has been judged: HOST_PLAIN,
 * HOST_REFERER, or HOST_UNKNOWN when it could not tell (the next image of
 * the host scouts again). Marking a host HOST_REFERER hands back the links
 * it moved without the Referer, in link order, which the caller fetches
 * again; the host's records are then forgotten. */
std::vector<MovedCopy> hotlinkJudged(HotlinkHosts *hosts, const std::string &host, HostVerdict verdict);

/* Notes an image the host refused without the Referer and with it. */
void hotlinkRefused(HotlinkHosts *hosts, const std::string &host);

/* Notes a link moved from a plain host. Returns its group when earlier
 * links came back with the same bytes (the link last in it), else NULL.
 * Only the job's thread notes, so the group stays valid until it notes or
 * judges again. */
SameBytes *hotlinkNoteCopy(HotlinkHosts *hosts, const std::string &host, const MovedCopy &copy);

/* Forgets the link noted last for the host, which is not moved after all. */
void hotlinkForgetCopy(HotlinkHosts *hosts, const std::string &host, const MovedCopy &copy);

/* Calls found(link, count) for every link noted in a group found reused,
 * count being the links in its group. */
template <class Found> void hotlinkEachShared(HotlinkHosts *hosts, Found found) {
    std::lock_guard<std::mutex> held(hosts->lock);
    for (auto &host : hosts->hosts)
        for (auto &group : host.second.byBytes)
            for (const MovedCopy &copy : group.second.reused ? group.second.links : std::vector<MovedCopy>())
                found(copy.url, (int)group.second.links.size());
}

#endif
