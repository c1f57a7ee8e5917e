/* Connection slots per host and port; see host_slots.h. A waiting caller
 * looks every CUT_POLL_MS whether the connections were cut. */
#include "host_slots.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "connect.h"
#include "http_exchange.h"

static std::mutex slotLock;
static std::condition_variable slotFreed;
static std::map<std::string, int> slotsInUse;             // under slotLock, by "host:port"
static std::map<const Transport *, std::string> slotOf;  // under slotLock: the slot each connection holds
static thread_local int64_t slotWaits;  // ms this thread waited for slots, until takeSlotWaits

int takeSlot(const std::string &slot, char *errMsg) {
    std::unique_lock<std::mutex> held(slotLock);
    int64_t start = clockNow();
    while (slotsInUse[slot] >= CONNECTIONS_PER_HOST) {
        if (connectionsCut(errMsg)) return 0;
        slotFreed.wait_for(held, std::chrono::milliseconds(CUT_POLL_MS));
    }
    slotsInUse[slot]++;
    slotWaits += clockNow() - start;
    return 1;
}

int64_t takeSlotWaits(void) {
    int64_t waited = slotWaits;
    slotWaits = 0;
    return waited;
}

void giveSlot(const std::string &slot) {
    std::lock_guard<std::mutex> held(slotLock);
    if (--slotsInUse[slot] == 0) slotsInUse.erase(slot);
    slotFreed.notify_all();
}

Transport *holdSlot(Transport *t, const std::string &slot) {
    std::lock_guard<std::mutex> held(slotLock);
    slotOf[t] = slot;
    return t;
}

void leaveSlot(const Transport *t) {
    std::string slot;
    {
        std::lock_guard<std::mutex> held(slotLock);
        auto found = slotOf.find(t);
        if (found == slotOf.end()) return;
        slot = found->second;
        slotOf.erase(found);
    }
    giveSlot(slot);
}
