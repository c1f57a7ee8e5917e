/* FNV-1a 64; see digest.h. */
#include "digest.h"

static const uint64_t FNV_PRIME = 1099511628211ull;

uint64_t digestAdd(uint64_t digest, const void *data, size_t length) {
    const unsigned char *bytes = (const unsigned char *)data;
    for (size_t i = 0; i < length; i++) digest = (digest ^ bytes[i]) * FNV_PRIME;
    return digest;
}
