/* Hosts that hand their images only to their own pages; see hotlink_hosts.h. */
#include "hotlink_hosts.h"

typedef std::lock_guard<std::mutex> Held;

int refererWanted(HotlinkHosts *hosts, const std::string &host) {
    Held held(hosts->lock);
    return hosts->needReferer.count(host) != 0;
}

void refererNeeded(HotlinkHosts *hosts, const std::string &host) {
    Held held(hosts->lock);
    hosts->needReferer.insert(host);
    hosts->copies.erase(host);
}

SameBytes *noteCopy(HotlinkHosts *hosts, const std::string &host, uint64_t digest, int64_t size,
                    const MovedCopy &copy) {
    // the size folded in: a digest collision of two different images would also need their sizes to match
    uint64_t key = digest ^ ((uint64_t)size * 0x9E3779B97F4A7C15u);
    SameBytes &same = hosts->copies[host][key];  // only the job's thread touches the copies
    if (same.reused) return NULL;
    same.links.push_back(copy);
    return same.links.size() > 1 ? &same : NULL;
}
