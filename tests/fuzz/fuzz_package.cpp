/* Fuzz target: loading a data package from the file's bytes. The bytes go to a file of this process's own,
 * since the reader takes a path. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "package_reader.h"
#include "ptr_vector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string path = "/tmp/lumora-fuzz-package-" + std::to_string(getpid()) + ".csv";
    if (!std::ofstream(path, std::ios::binary).write((const char *)data, (std::streamsize)size)) abort();
    PtrVector *items = ptrVectorCreateDefault();
    char *text = NULL;
    if (loadPackage(path.c_str(), items, &text) == 1) free(text);
    itemListClear(items);
    ptrVectorDestroy(items, 0);
    remove(path.c_str());
    return 0;
}
