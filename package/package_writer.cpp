/* Package backup and write-back; see package_writer.h. */
#include "package_writer.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "charset.h"
#include "file_helpers.h"
#include "paths.h"
#include "platform.h"
#include "process_hooks.h"

enum { COPY_BLOCK_SIZE = 8192, TEMPORARY_NAME_SIZE = 16 };

namespace {

/* Closes a file when it goes out of scope. */
struct FileCloser {
    void operator()(FILE *f) const { fclose(f); }
};
typedef std::unique_ptr<FILE, FileCloser> File;

}  // namespace

/* Shows the error and ends the process. */
[[noreturn]] static void fatal(const char *message) {
    showMessage(message, "错误", MESSAGE_ERROR);
    endProcess(0);
}

int backupPath(const char *backupDir, const char *packagePath, char *out, size_t size) {
    std::string name = fileName(packagePath);
    size_t dot = name.rfind('.');
    std::string stem = name.substr(0, dot), extension = dot == std::string::npos ? "" : name.substr(dot);
    for (int n = 1;; n++) {
        std::string candidate = stem + "(" + std::to_string(n) + ")" + extension;
        if (!joinPath(out, size, backupDir, candidate.c_str())) return 0;
        if (!fileExists(out)) return 1;
    }
}

/* Copies everything from one open file to another; the message of the
 * first failure, or NULL. */
static const char *copyAll(FILE *from, FILE *to) {
    char block[COPY_BLOCK_SIZE];
    for (;;) {
        size_t n = fread(block, 1, sizeof block, from);
        if (n == 0) return feof(from) ? NULL : "备份csv文件时出错：文件读取不完整";
        if (fwrite(block, 1, n, to) != n) return "备份csv文件时出错：写入文件失败";
    }
}

int backupPackage(const char *packagePath, const char *programDir) {
    char dir[PATH_SIZE], path[PATH_SIZE];
    if (!joinPath(dir, sizeof dir, programDir, "bak") || (!isDirectory(dir) && !makeFolder(dir)))
        fatal("创建 [bak] 文件夹失败");
    if (!backupPath(dir, packagePath, path, sizeof path)) fatal("备份csv文件时出错：写入文件失败");
    File from(fopen(packagePath, "rb"));
    if (!from) fatal("备份csv文件时出错：无法打开源csv文件句柄");
    FILE *to = fopen(path, "wb");
    if (!to) fatal("备份csv文件时出错：写入文件失败");
    const char *problem = copyAll(from.get(), to);
    if (fclose(to) != 0 && !problem) problem = "备份csv文件时出错：写入文件失败";
    if (problem) fatal(problem);
    return 1;
}

/* Writes the mark and the converted text to path. Returns the message of
 * the failure, or NULL when all of it is on disk. */
static const char *writeAll(const char *path, const char *bytes, size_t length) {
    FILE *f = fopen(path, "wb");
    if (!f) return "更新CSV文件失败：文件句柄无法打开。";
    int ok = fwrite("\xFF\xFE", 1, 2, f) == 2 && fwrite(bytes, 1, length, f) == length;
    return fclose(f) == 0 && ok ? NULL : "更新CSV文件失败：写入文件出错。";
}

int temporaryPath(const char *packagePath, char *out, size_t size) {
    const char *name = fileName(packagePath);
    uint32_t hash = 2166136261u;  // FNV-1a of the name
    for (const char *c = name; *c; c++) hash = (hash ^ (unsigned char)*c) * 16777619u;
    char temporary[TEMPORARY_NAME_SIZE];
    snprintf(temporary, sizeof temporary, "~%08X.tmp", (unsigned)hash);
    size_t folder = (size_t)(name - packagePath);
    if (folder + strlen(temporary) >= size) return 0;
    memcpy(out, packagePath, folder);
    strcpy(out + folder, temporary);
    return 1;
}

int writePackage(const char *packagePath, const char *text) {
    size_t n = strlen(text);
    // every GBK byte becomes at most one UTF-16 unit of two bytes
    size_t capacity = 2 * n + 2;
    std::unique_ptr<char[]> converted(new (std::nothrow) char[capacity]);
    size_t written = 0;
    if (!converted || convertCharset("gbk", "UCS-2LE", text, n, converted.get(), capacity, &written) == -1)
        fatal("更新CSV文件失败：iconv()转码出错了。");
    char temporary[PATH_SIZE];
    if (!temporaryPath(packagePath, temporary, sizeof temporary)) {
        const char *problem = writeAll(packagePath, converted.get(), written);
        if (problem) fatal(problem);
        return 1;
    }
    const char *problem = writeAll(temporary, converted.get(), written);
    if (problem) {
        remove(temporary);
        fatal(problem);
    }
    if (!replaceFile(temporary, packagePath)) {
        remove(temporary);
        fatal("更新CSV文件失败：文件句柄无法打开。");
    }
    return 1;
}
