/* What the first and last bytes of a downloaded body tell: whether it is an
 * image of a format taken (JPEG, PNG, GIF, BMP) or else what it is, and
 * whether the image ends where the body does. A body that only the
 * connection's end delimits may have been cut anywhere, and its own end
 * marker is then the one proof that it is whole: JPEG's end of image, PNG's
 * IEND chunk, GIF's trailer, and for BMP the file size its header gives. */
#ifndef LUMORA_IMAGE_ENDS_H
#define LUMORA_IMAGE_ENDS_H

#include <stdint.h>

/* Bytes kept from each end: an ISO-BMFF file's "ftyp" box with a few of
 * its brands, or the XML declaration, comment and document type that an
 * SVG drawing's root element may follow; and a PNG IEND chunk. */
enum { IMAGE_HEAD_SIZE = 512, IMAGE_TAIL_SIZE = 12 };

/* The ends of a body seen so far; zero-filled to start. */
struct ImageEnds {
    unsigned char head[IMAGE_HEAD_SIZE];
    unsigned char tail[IMAGE_TAIL_SIZE];  /* the last bytes, the latest at the end */
    int64_t length;                       /* bytes seen */
};

/* Takes the next piece of the body. */
void imageEndsTake(ImageEnds *e, const char *data, int length);

/* 1 when the body begins as an image of a format taken. */
int isImageData(const ImageEnds *e);

/* What a body that is no image of a format taken is. */
enum BodyKind { BODY_IMAGE, BODY_HTML, BODY_WEBP, BODY_AVIF, BODY_SVG, BODY_EMPTY, BODY_OTHER };

/* The kind of the body seen: BODY_IMAGE when isImageData holds. */
BodyKind bodyKind(const ImageEnds *e);

/* 1 when the body ends with the end of its image. */
int imageEndsWhole(const ImageEnds *e);

#endif
