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

/* The backup is copied, and the package written, this many bytes at a time. */
enum { COPY_BLOCK_SIZE = 1 << 18, WRITE_PIECE_SIZE = 1 << 20 };
enum { TEMPORARY_NAME_SIZE = 16 };

static const char CONVERSION_FAILED[] = "更新CSV文件失败：iconv()转码出错了。";
static const char WRITE_FAILED[] = "更新CSV文件失败：写入文件出错。";

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
    std::unique_ptr<char[]> block(new (std::nothrow) char[COPY_BLOCK_SIZE]);
    if (!block) return "备份csv文件时出错：文件读取不完整";
    for (;;) {
        size_t n = fread(block.get(), 1, COPY_BLOCK_SIZE, from);
        if (n == 0) return feof(from) ? NULL : "备份csv文件时出错：文件读取不完整";
        if (fwrite(block.get(), 1, n, to) != n) return "备份csv文件时出错：写入文件失败";
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

/* Writes the text (GB18030) to the open file as UTF-16LE, converted a piece
 * at a time; with f NULL, only converts it. A byte that is no character
 * fails the conversion rather than leave a character out. Returns the
 * message of the failure, or NULL. */
static const char *writeConverted(FILE *f, const char *text) {
    size_t left = strlen(text);
    CharsetStream *s = charsetStreamOpen("GB18030", "UTF-16LE", MISFIT_FAILS, &text, &left);
    std::unique_ptr<char[]> piece(new (std::nothrow) char[WRITE_PIECE_SIZE]);
    const char *problem = s && piece ? NULL : CONVERSION_FAILED;
    for (CharsetStatus status = CHARSET_OUTPUT_FULL; status == CHARSET_OUTPUT_FULL && !problem;) {
        char *out = piece.get();
        size_t room = WRITE_PIECE_SIZE;
        status = charsetStreamConvert(s, &text, &left, &out, &room);
        size_t n = (size_t)(out - piece.get());
        if (status != CHARSET_DONE && status != CHARSET_OUTPUT_FULL) problem = CONVERSION_FAILED;
        else if (f && fwrite(piece.get(), 1, n, f) != n) problem = WRITE_FAILED;
    }
    charsetStreamClose(s);
    return problem;
}

/* Writes the mark and the converted text to path. Returns the message of
 * the failure, or NULL when all of it is on disk. */
static const char *writeAll(const char *path, const char *text) {
    FILE *f = fopen(path, "wb");
    if (!f) return "更新CSV文件失败：文件句柄无法打开。";
    const char *problem = fwrite("\xFF\xFE", 1, 2, f) == 2 ? writeConverted(f, text) : WRITE_FAILED;
    return fclose(f) == 0 || problem ? problem : WRITE_FAILED;
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
    char temporary[PATH_SIZE];
    if (!temporaryPath(packagePath, temporary, sizeof temporary)) {
        // in place: a text that does not convert must fail before the package is opened
        const char *problem = writeConverted(NULL, text);
        if (!problem) problem = writeAll(packagePath, text);
        if (problem) fatal(problem);
        return 1;
    }
    const char *problem = writeAll(temporary, text);
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
