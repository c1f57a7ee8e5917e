/* Fuzz target: loading a data package from the file's bytes. The bytes go
 * to a file of this process's own, since the reader takes a path. */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "package_reader.h"
#include "ptr_vector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string path = "/tmp/lumora-fuzz-package-" + std::to_string(getpid()) + ".csv";
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) abort();
    fwrite(data, 1, size, f);
    fclose(f);
    PtrVector *items = ptrVectorCreateDefault();
    char *text = NULL;
    if (loadPackage(path.c_str(), items, &text) == 1) free(text);
    itemListClear(items);
    ptrVectorDestroy(items, 0);
    remove(path.c_str());
    return 0;
}
