/* Replays fuzz inputs through a target's entry point: every file named on the command line, and every file
 * in every folder named there. A crash or a sanitizer report fails the run; otherwise it prints the count. */
#include <stdint.h>
#include <stdio.h>

#include <filesystem>

#include "test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

static int replay(const fs::path &file) {
    if (!fs::is_regular_file(file)) return 0;
    std::string bytes = readFile(file.string());
    LLVMFuzzerTestOneInput((const uint8_t *)bytes.data(), bytes.size());
    return 1;
}

int main(int argc, char **argv) {
    int count = 0;
    for (int i = 1; i < argc; i++) {
        if (!fs::is_directory(argv[i])) count += replay(argv[i]);
        else
            for (const auto &entry : fs::directory_iterator(argv[i])) count += replay(entry.path());
    }
    printf("%d inputs replayed\n", count);
    return count > 0 ? 0 : 1;
}
