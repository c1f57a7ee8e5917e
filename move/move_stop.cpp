/* Stopping a move job; see move_stop.h. */
#include "move_stop.h"

#include "net.h"

std::atomic<int> jobRunning{0};
std::atomic<int> abortRequested{0};

int requestAbort(void) {
    abortRequested = 1;
    return jobRunning;
}

void requestCut(void) {
    abortRequested = 1;
    netCutAll();
}
