/* The benchmarks' images: 20 KB each, a JPEG signature followed by bytes
 * that differ from image to image. */
#ifndef LUMORA_BENCH_IMAGES_H
#define LUMORA_BENCH_IMAGES_H

#include <stddef.h>
#include <stdint.h>

#include <string>

static const size_t BENCH_IMAGE_BYTES = 20 * 1024;

/* The bytes of image index. */
inline std::string benchImageBytes(int index) {
    std::string bytes(BENCH_IMAGE_BYTES, '\0');
    uint32_t state = 2166136261u ^ (uint32_t)index;
    for (char &c : bytes) {
        state = state * 1664525u + 1013904223u;
        c = (char)(state >> 24);
    }
    bytes[0] = (char)0xFF;
    bytes[1] = (char)0xD8;
    return bytes;
}

#endif
