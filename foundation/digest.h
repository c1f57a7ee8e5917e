/* The FNV-1a 64-bit hash, taken piece by piece as bytes pass: a quick
 * fingerprint that tells equal byte strings from different ones. It is no
 * defence against bytes made to collide on purpose. */
#ifndef LUMORA_DIGEST_H
#define LUMORA_DIGEST_H

#include <stddef.h>
#include <stdint.h>

/* The hash of no bytes, where a digest starts. */
static const uint64_t DIGEST_START = 14695981039346656037ull;

/* The hash of the bytes hashed into digest, then the length bytes at data. */
uint64_t digestAdd(uint64_t digest, const void *data, size_t length);

#endif
