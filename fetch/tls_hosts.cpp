/* The hosts known to speak TLS; see tls_hosts.h. A short job holds a few
 * dozen hosts at most, so an ordered set of lower-case names does. */
#include "tls_hosts.h"

#include <mutex>
#include <set>
#include <string>

#include "text_utils.h"

static std::set<std::string> agreed;  // under hostsLock
static std::mutex hostsLock;

void tlsHostAgreed(const char *host) {
    std::string name = lowerAscii(host);
    std::lock_guard<std::mutex> held(hostsLock);
    agreed.insert(name);
}

int tlsHostKnown(const char *host) {
    std::string name = lowerAscii(host);
    std::lock_guard<std::mutex> held(hostsLock);
    return agreed.count(name) > 0;
}

void forgetTlsHosts(void) {
    std::lock_guard<std::mutex> held(hostsLock);
    agreed.clear();
}
