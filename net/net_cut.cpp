/* Cutting every connection at once; see net.h.
 *
 * The known sockets sit in a set behind one lock, which a close takes to
 * forget its socket before the system may hand its number to another file:
 * a cut never shuts down anything but a socket still open. */
#include "net_cut.h"

#include <atomic>
#include <mutex>
#include <set>

static std::mutex trackLock;
static std::set<SocketHandle> openSockets;  // under trackLock
static std::atomic<int> cut{0};

void netTrack(SocketHandle s) {
    std::lock_guard<std::mutex> held(trackLock);
    openSockets.insert(s);
    if (cut) netShutdown(s);
}

void netForget(SocketHandle s) {
    std::lock_guard<std::mutex> held(trackLock);
    openSockets.erase(s);
}

void netCutAll(void) {
    std::lock_guard<std::mutex> held(trackLock);
    cut = 1;
    for (SocketHandle s : openSockets) netShutdown(s);
}

int netCutDone(void) {
    return cut;
}
