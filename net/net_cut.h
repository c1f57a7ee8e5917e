/* What the platform files tell the cut (net.h's netCutAll): every socket
 * netSocket makes is known until netClose forgets it, and
 * netShutdown ends both directions of one. */
#ifndef LUMORA_NET_CUT_H
#define LUMORA_NET_CUT_H

#include "net.h"

void netTrack(SocketHandle s);
void netForget(SocketHandle s);
void netShutdown(SocketHandle s);

#endif
