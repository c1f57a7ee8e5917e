/* Hosts that hand their images only to their own pages; see hotlink_hosts.h. */
#include "hotlink_hosts.h"

typedef std::lock_guard<std::mutex> Held;

/* The key of a copy's bytes; the size folded in, so that a digest collision
 * of two different images would also need their sizes to match. */
static uint64_t bytesKey(uint64_t digest, int64_t size) {
    return digest ^ ((uint64_t)size * 0x9E3779B97F4A7C15u);
}

HostAsk hotlinkAsk(HotlinkHosts *hosts, const std::string &host, bool atTurn) {
    if (host.empty()) return ASK_PLAIN;
    Held held(hosts->lock);
    HostRecord &record = hosts->hosts[host];
    HostVerdict &verdict = record.verdict;
    if (record.refusals >= REFUSALS_LEARNED && verdict != HOST_SCOUTED) return ASK_ONCE;
    switch (verdict) {
    case HOST_UNKNOWN:
        verdict = HOST_SCOUTED;
        return ASK_SCOUT;
    case HOST_SCOUTED:
        return atTurn ? ASK_SCOUT : ASK_LATER;
    case HOST_PLAIN:
        return ASK_PLAIN;
    default:
        return ASK_REFERER;
    }
}

std::vector<MovedCopy> hotlinkJudged(HotlinkHosts *hosts, const std::string &host, HostVerdict verdict) {
    Held held(hosts->lock);
    HostRecord &record = hosts->hosts[host];
    std::vector<MovedCopy> earlier;
    if (verdict == HOST_REFERER) {
        earlier.swap(record.plain);
        record.byBytes.clear();
    }
    record.verdict = verdict;
    return earlier;
}

void hotlinkRefused(HotlinkHosts *hosts, const std::string &host) {
    Held held(hosts->lock);
    hosts->hosts[host].refusals++;
}

SameBytes *hotlinkNoteCopy(HotlinkHosts *hosts, const std::string &host, const MovedCopy &copy) {
    Held held(hosts->lock);
    HostRecord &record = hosts->hosts[host];
    SameBytes &same = record.byBytes[bytesKey(copy.digest, copy.size)];
    record.plain.push_back(copy);
    same.links.push_back(copy);
    return same.links.size() > 1 ? &same : NULL;
}

void hotlinkForgetCopy(HotlinkHosts *hosts, const std::string &host, const MovedCopy &copy) {
    Held held(hosts->lock);
    HostRecord &record = hosts->hosts[host];
    auto same = record.byBytes.find(bytesKey(copy.digest, copy.size));
    if (record.plain.empty() || same == record.byBytes.end()) return;
    record.plain.pop_back();
    same->second.links.pop_back();
    if (same->second.links.empty()) record.byBytes.erase(same);
}
