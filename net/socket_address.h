/* Converting between NetAddress and the socket addresses that BSD sockets
 * and Windows Sockets share (sockaddr_in, sockaddr_in6, addrinfo). Included
 * by the platform's socket layer after its own socket headers, which
 * declare those types. */
#ifndef LUMORA_SOCKET_ADDRESS_H
#define LUMORA_SOCKET_ADDRESS_H

#include <string.h>

#include "net.h"

/* 127.0.0.1. */
static const NetAddress LOOPBACK_IPV4 = {0, {127, 0, 0, 1}, 0};

/* The socket address of an address and port; returns its length. */
static int socketAddress(const NetAddress *a, int port, struct sockaddr_storage *out) {
    memset(out, 0, sizeof *out);
    if (a->ipv6) {
        struct sockaddr_in6 *to = (struct sockaddr_in6 *)out;
        to->sin6_family = AF_INET6;
        memcpy(&to->sin6_addr, a->bytes, 16);
        to->sin6_port = htons((uint16_t)port);
        to->sin6_scope_id = a->scope;
        return (int)sizeof *to;
    }
    struct sockaddr_in *to = (struct sockaddr_in *)out;
    to->sin_family = AF_INET;
    memcpy(&to->sin_addr, a->bytes, 4);
    to->sin_port = htons((uint16_t)port);
    return (int)sizeof *to;
}

/* The port of an IPv4 socket address. */
static int socketPort(const struct sockaddr_storage *at) {
    return ntohs(((const struct sockaddr_in *)at)->sin_port);
}

/* Takes one address of a lookup; 0 for a family that is neither. */
static int takeAddress(const struct sockaddr *from, NetAddress *to) {
    memset(to, 0, sizeof *to);
    if (from->sa_family == AF_INET6) {
        const struct sockaddr_in6 *six = (const struct sockaddr_in6 *)from;
        to->ipv6 = 1;
        memcpy(to->bytes, &six->sin6_addr, 16);
        to->scope = six->sin6_scope_id;
        return 1;
    }
    if (from->sa_family != AF_INET) return 0;
    memcpy(to->bytes, &((const struct sockaddr_in *)from)->sin_addr, 4);
    return 1;
}

/* netResolve over getaddrinfo, IPv4 and IPv6 alike. */
static int resolveAddresses(const char *host, NetAddress *addresses, int max) {
    struct addrinfo hints, *found = NULL;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(host, NULL, &hints, &found) != 0) return 0;
    int n = 0;
    for (struct addrinfo *at = found; at && n < max; at = at->ai_next) n += takeAddress(at->ai_addr, &addresses[n]);
    freeaddrinfo(found);
    return n;
}

#endif
