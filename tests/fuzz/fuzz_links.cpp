/* Fuzz target: image-link extraction over one field's text, as a description and as mobile details. */
#include <stdint.h>

#include "link_extract.h"
#include "ptr_vector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    PtrVector *desc = ptrVectorCreateDefault(), *mobile = ptrVectorCreateDefault();
    LinkPlaces places;
    extractDescriptionLinks((const char *)data, size, 0, desc, &places);
    extractMobileLinks((const char *)data, size, 0, mobile, &places);
    ptrVectorDestroy(desc, 1);
    ptrVectorDestroy(mobile, 1);
    return 0;
}
