/* The hosts that have completed a TLS handshake during the move job. Once a
 * host has shown that it speaks TLS, a failed handshake there is no sign
 * of a host without it but of a fault or of someone on the path (a reset of
 * port 443 is easy to forge), so its https links are never fetched over
 * plain HTTP again until the job's failure counts are forgotten. Names are
 * compared without regard to case; the set is process-wide and locked. */
#ifndef LUMORA_TLS_HOSTS_H
#define LUMORA_TLS_HOSTS_H

/* Notes that host completed a handshake. */
void tlsHostAgreed(const char *host);

/* 1 when host has completed a handshake since the set was last cleared. */
int tlsHostKnown(const char *host);

/* Forgets every host. */
void forgetTlsHosts(void);

#endif
