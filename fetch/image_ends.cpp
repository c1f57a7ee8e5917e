/* The ends of a body; see image_ends.h. The tail is a sliding window moved
 * along at each piece, so a body of any length costs a few bytes. */
#include "image_ends.h"

#include <string.h>

void imageEndsTake(ImageEnds *e, const char *data, int length) {
    if (length <= 0) return;
    for (int i = 0; e->length + i < IMAGE_HEAD_SIZE && i < length; i++) e->head[e->length + i] = (unsigned char)data[i];
    e->length += length;
    int fresh = length < IMAGE_TAIL_SIZE ? length : IMAGE_TAIL_SIZE;
    memmove(e->tail, e->tail + fresh, (size_t)(IMAGE_TAIL_SIZE - fresh));
    memcpy(e->tail + IMAGE_TAIL_SIZE - fresh, data + length - fresh, (size_t)fresh);
}

static int begins(const ImageEnds *e, unsigned char first, unsigned char second) {
    return e->length >= 2 && e->head[0] == first && e->head[1] == second;
}

int isImageData(const ImageEnds *e) {
    return begins(e, 0xFF, 0xD8) || begins(e, 0x89, 0x50) || begins(e, 0x47, 0x49) || begins(e, 0x42, 0x4D);
}

/* 1 when the body's last bytes are marker. */
static int endsWith(const ImageEnds *e, const void *marker, int size) {
    return e->length >= size && memcmp(e->tail + IMAGE_TAIL_SIZE - size, marker, (size_t)size) == 0;
}

/* A BMP's size field, little-endian after its two signature bytes. */
static int64_t bmpSize(const ImageEnds *e) {
    return (int64_t)e->head[2] | (int64_t)e->head[3] << 8 | (int64_t)e->head[4] << 16 | (int64_t)e->head[5] << 24;
}

int imageEndsWhole(const ImageEnds *e) {
    static const unsigned char JPEG_END[] = {0xFF, 0xD9};
    static const unsigned char PNG_END[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    if (begins(e, 0xFF, 0xD8)) return endsWith(e, JPEG_END, sizeof JPEG_END);
    if (begins(e, 0x89, 0x50)) return endsWith(e, PNG_END, sizeof PNG_END);
    if (begins(e, 0x47, 0x49)) return endsWith(e, ";", 1);
    return begins(e, 0x42, 0x4D) && e->length >= IMAGE_HEAD_SIZE && bmpSize(e) == e->length;
}
