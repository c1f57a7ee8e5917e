/* Test helpers; see test_support.h. */
#include "test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "charset.h"
#include "platform.h"
#include "process_hooks.h"

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    static std::atomic<int> serial{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir = (fs::temp_directory_path() / ("lumora-test-" + std::to_string(getpid()) + "-" + std::to_string(stamp) + "-" +
                                        std::to_string(serial++))).string();
    fs::create_directories(dir);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

std::string ScratchDir::file(const std::string &name) const {
    return dir + PATH_SEPARATOR + name;  // a path object would take GBK names for another code page
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string unescape(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        char c = s[i] == '\\' && i + 1 < s.size() ? s[++i] : 0;
        size_t colon = c == '{' ? s.find(':', i) : 0;
        if (c == 'x') out += (char)strtol(s.substr(i + 1, 2).c_str(), NULL, 16), i += 2;
        else if (c == '{') out += std::string(strtoul(&s[i + 1], NULL, 10), s[colon + 1]), i = s.find('}', colon + 2);
        else out += !c ? s[i] : c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c == '0' ? '\0' : c;
    }
    return out;
}

std::string converted(const char *from, const char *to, const std::string &text) {
    std::string out(text.size() * 2 + 2, '\0');
    size_t written = 0;
    convertCharset(from, to, text.data(), text.size(), &out[0], out.size(), &written);
    return out.substr(0, written);
}

int occurrences(const std::string &text, const std::string &part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
    return n;
}

std::vector<std::string> caseFiles(const std::string &folder) {
    std::vector<std::string> paths;
    for (const fs::directory_entry &e : fs::directory_iterator(LUMORA_TEST_DATA "/" + folder))
        paths.push_back(e.path().string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::string testNameOf(const std::string &path) {
    std::string name = fs::path(path).stem().string();
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

std::vector<Case> readCases(const std::string &name) {
    std::string text = readFile(LUMORA_TEST_DATA "/" + name);
    if (text.empty()) fprintf(stderr, "no cases in %s\n", name.c_str()), abort();
    std::vector<Case> cases;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, end - at - (end > at && text[end - 1] == '\r'));
        if (line.empty() || line[0] == '#') continue;
        cases.emplace_back();
        for (size_t from = 0, tab = 0; tab != std::string::npos; from = tab + 1) {
            tab = line.find('\t', from);
            cases.back().push_back(unescape(line.substr(from, tab - from)));
        }
    }
    return cases;
}

std::vector<std::string> strings(PtrVector *list, bool taken) {
    std::vector<std::string> out;
    for (int32_t i = 0; list && i < list->count; i++) out.push_back((char *)list->items[i]);
    if (taken) ptrVectorDestroy(list, 1);
    return out;
}

unsigned nextRandom(unsigned &seed) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
}

/* "MESSAGE <caption> <text>", both in hex. */
std::string messageLine(const std::string &caption, const std::string &text) {
    std::string out = "MESSAGE ";
    for (unsigned char c : caption + '\0' + text) out += c ? std::string{"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]} : " ";
    return out;
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
