/* The hosts known to speak TLS; see tls_hosts.h. A short job holds a few
 * dozen hosts at most, so an ordered set of lower-case names does. */
#include "tls_hosts.h"

#include <set>
#include <string>

#include "net.h"
#include "text_utils.h"

static std::set<std::string> agreed;      // under hostsLock
static NetLock *hostsLock = netLockCreate();  // before any thread starts

void tlsHostAgreed(const char *host) {
    std::string name = lowerAscii(host);
    netLockAcquire(hostsLock);
    agreed.insert(name);
    netLockRelease(hostsLock);
}

int tlsHostKnown(const char *host) {
    std::string name = lowerAscii(host);
    netLockAcquire(hostsLock);
    int known = agreed.count(name) > 0;
    netLockRelease(hostsLock);
    return known;
}

void forgetTlsHosts(void) {
    netLockAcquire(hostsLock);
    agreed.clear();
    netLockRelease(hostsLock);
}
