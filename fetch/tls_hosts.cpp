/* The hosts known to speak TLS; see tls_hosts.h. A short job holds a few
 * dozen hosts at most, so an ordered set of lower-case names does. */
#include "tls_hosts.h"

#include <ctype.h>

#include <set>
#include <string>

#include "net.h"

static std::set<std::string> agreed;      // under hostsLock
static NetLock *hostsLock = netLockCreate();  // before any thread starts

static std::string lowerCase(const char *host) {
    std::string name = host;
    for (char &c : name) c = (char)tolower((unsigned char)c);
    return name;
}

void tlsHostAgreed(const char *host) {
    std::string name = lowerCase(host);
    netLockAcquire(hostsLock);
    agreed.insert(name);
    netLockRelease(hostsLock);
}

int tlsHostKnown(const char *host) {
    std::string name = lowerCase(host);
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
