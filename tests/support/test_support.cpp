/* Test helpers; see test_support.h. */
#include "test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "conn_pool.h"
#include "platform.h"
#include "process_hooks.h"

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    static std::atomic<int> serial{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path p = fs::temp_directory_path() /
                 ("lumora-test-" + std::to_string(getpid()) + "-" + std::to_string(stamp) + "-" +
                  std::to_string(serial++));
    fs::create_directories(p);
    dir = p.string();
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

std::string ScratchDir::file(const std::string &name) const {
    return dir + PATH_SEPARATOR + name;  // a path object would take GBK names for another code page
}

std::string readFile(const std::string &path) {
    std::string bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.append(chunk, n);
    fclose(f);
    return bytes;
}

void closePooled(const std::string &link) {
    UrlParts parts;
    if (!parseUrl(link.c_str(), &parts)) return;
    transportClose(poolRelease(&parts));
    freeUrlParts(&parts);
}

static std::string hex(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string messageLine(const std::string &caption, const std::string &text) {
    return "MESSAGE " + hex(caption) + " " + hex(text);
}

static void printMessage(const char *text, const char *caption, MessageIcon) {
    fprintf(stderr, "%s\n", messageLine(caption, text).c_str());
}

static void endAtOnce(int status) {
    fflush(stderr);
    _exit(status);  // skips exit handlers, so a half-done load is not reported as leaked
}

void installRecordingHooks() {
    static const ProcessHooks hooks = {printMessage, endAtOnce};
    setProcessHooks(&hooks);
}
