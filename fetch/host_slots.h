/* The per-host limit on connections: each host and port ("host:port", as
 * hostPort makes it) has CONNECTIONS_PER_HOST slots, counted where the
 * connections really go after redirects and fallbacks. A caller takes a
 * slot before it takes an idle connection or opens one, and the connection
 * handed out holds it until it is kept or closed. Process-wide, under one
 * lock, with a condition variable for the callers that wait. */
#ifndef LUMORA_HOST_SLOTS_H
#define LUMORA_HOST_SLOTS_H

#include <stdint.h>

#include <string>

#include "transport.h"

/* Connections to one host and port in use at a time, by the host and port
 * they go to after redirects and fallbacks (names in any letter case), and
 * idle in the pool. A caller beyond it waits for one to be given back. */
enum { CONNECTIONS_PER_HOST = 4 };

/* Waits until the host and port has a slot to spare and takes it; 0 with
 * the message in errMsg (ERR_MSG_SIZE bytes) when the connections are cut
 * meanwhile. */
int takeSlot(const std::string &slot, char *errMsg);

/* Gives back a slot taken and not handed to a connection. */
void giveSlot(const std::string &slot);

/* Makes the connection hold the slot until leaveSlot; returns t. */
Transport *holdSlot(Transport *t, const std::string &slot);

/* Gives back the slot the connection holds; nothing for one without. */
void leaveSlot(const Transport *t);

/* The ms this thread has waited for a host and port's connection slot
 * since it last asked; asking starts the count again. */
int64_t takeSlotWaits(void);

#endif
