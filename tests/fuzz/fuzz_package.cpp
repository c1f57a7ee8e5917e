/* Fuzz target: loading a data package from the file's bytes. The bytes go to a file in a folder of this
 * process's own, since the reader takes a path. */
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "package_builder.h"
#include "package_reader.h"
#include "ptr_vector.h"
#include "test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static ScratchDir dir;
    static const std::string path = dir.file("package.csv");
    if (!writeFile(path, std::string((const char *)data, size))) abort();
    PtrVector *items = ptrVectorCreateDefault();
    char *text = NULL;
    if (loadPackage(path.c_str(), items, &text, nullptr) == 1) free(text);
    itemListClear(items);
    ptrVectorDestroy(items, 0);
    return 0;
}
