/* Replays fuzz inputs through a target's entry point: every file named on
 * the command line, and every file in every folder named there. A crash or
 * a sanitizer report fails the run; otherwise it prints the count. */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static void replay(const std::filesystem::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput((const uint8_t *)bytes.data(), bytes.size());
}

int main(int argc, char **argv) {
    int count = 0;
    for (int i = 1; i < argc; i++) {
        std::filesystem::path at = argv[i];
        if (!std::filesystem::is_directory(at)) {
            replay(at);
            count++;
            continue;
        }
        for (const auto &entry : std::filesystem::directory_iterator(at)) {
            if (!entry.is_regular_file()) continue;
            replay(entry.path());
            count++;
        }
    }
    printf("%d inputs replayed\n", count);
    return count > 0 ? 0 : 1;
}
