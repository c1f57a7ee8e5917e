/* Package backup and write-back; see package_writer.h. */
#include "package_writer.h"

#include <limits.h>
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
static const char OPEN_FAILED[] = "更新CSV文件失败：文件句柄无法打开。";
static const char BACKUP_WRITE_FAILED[] = "备份csv文件时出错：写入文件失败";

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

/* The n-th backup path for the package's file name in backupDir. Returns
 * 1, or 0 when it does not fit in size bytes. */
static int numberedPath(const char *backupDir, const char *packagePath, int n, char *out, size_t size) {
    std::string name = fileName(packagePath);
    size_t dot = name.rfind('.');
    std::string stem = name.substr(0, dot), extension = dot == std::string::npos ? "" : name.substr(dot);
    return joinPath(out, size, backupDir, (stem + "(" + std::to_string(n) + ")" + extension).c_str());
}

int backupPath(const char *backupDir, const char *packagePath, char *out, size_t size) {
    for (int n = 1;; n++) {
        if (!numberedPath(backupDir, packagePath, n, out, size)) return 0;
        if (!fileExists(out)) return 1;
    }
}

/* Gives the whole copy at scratch the first free backup number: a number
 * another process takes meanwhile is passed over. Returns 1, or 0 when no
 * name can be had (scratch stays). */
static int claimBackupNumber(const char *backupDir, const char *packagePath, const char *scratch) {
    char path[PATH_SIZE];
    for (int n = 1; n < INT_MAX; n++) {
        if (!numberedPath(backupDir, packagePath, n, path, sizeof path)) return 0;
        int moved = fileExists(path) ? 0 : moveToFreeName(scratch, path);
        if (moved) return moved > 0;
    }
    return 0;
}

/* Copies everything from one open file to another; the message of the
 * first failure, or NULL. */
static const char *copyAll(FILE *from, FILE *to) {
    std::unique_ptr<char[]> block(new (std::nothrow) char[COPY_BLOCK_SIZE]);
    if (!block) return "备份csv文件时出错：文件读取不完整";
    for (;;) {
        size_t n = fread(block.get(), 1, COPY_BLOCK_SIZE, from);
        if (n == 0) return feof(from) ? NULL : "备份csv文件时出错：文件读取不完整";
        if (fwrite(block.get(), 1, n, to) != n) return BACKUP_WRITE_FAILED;
    }
}

/* Copies the open package into a new file at scratch; the message of the
 * first failure, or NULL when the copy is whole on disk. */
static const char *copyToNewFile(FILE *from, const char *scratch) {
    FILE *to = createNewFile(scratch, NULL);
    if (!to) return BACKUP_WRITE_FAILED;
    const char *problem = copyAll(from, to);
    return fclose(to) != 0 && !problem ? BACKUP_WRITE_FAILED : problem;
}

int backupPackage(const char *packagePath, const char *programDir) {
    char dir[PATH_SIZE], first[PATH_SIZE];
    // another process may make the folder at the same moment
    if (!joinPath(dir, sizeof dir, programDir, "bak") || (!isDirectory(dir) && !makeFolder(dir) && !isDirectory(dir)))
        fatal("创建 [bak] 文件夹失败");
    if (!backupPath(dir, packagePath, first, sizeof first)) fatal(BACKUP_WRITE_FAILED);
    File from(fopen(packagePath, "rb"));
    if (!from) fatal("备份csv文件时出错：无法打开源csv文件句柄");
    std::string scratch = scratchPath(first, ".part");
    const char *problem = copyToNewFile(from.get(), scratch.c_str());
    if (!problem && !claimBackupNumber(dir, packagePath, scratch.c_str())) problem = BACKUP_WRITE_FAILED;
    if (problem) {
        remove(scratch.c_str());
        fatal(problem);
    }
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

/* Writes the mark and the converted text to the open file f and closes it.
 * Returns the message of the failure, or NULL when all of it is on disk;
 * with f NULL, the message for a file that could not be opened. */
static const char *writeAll(FILE *f, const char *text) {
    if (!f) return OPEN_FAILED;
    const char *problem = fwrite("\xFF\xFE", 1, 2, f) == 2 ? writeConverted(f, text) : WRITE_FAILED;
    return fclose(f) == 0 || problem ? problem : WRITE_FAILED;
}

int temporaryPath(const char *packagePath, char *out, size_t size) {
    const char *name = fileName(packagePath);
    uint32_t hash = 2166136261u;  // FNV-1a of the name, then of the process's id
    for (const char *c = name; *c; c++) hash = (hash ^ (unsigned char)*c) * 16777619u;
    for (unsigned long id = processId(); id; id >>= 8) hash = (hash ^ (id & 0xFF)) * 16777619u;
    char temporary[TEMPORARY_NAME_SIZE];
    snprintf(temporary, sizeof temporary, "~%08X.tmp", (unsigned)hash);
    size_t folder = (size_t)(name - packagePath);
    if (folder + strlen(temporary) >= size) return 0;
    memcpy(out, packagePath, folder);
    strcpy(out + folder, temporary);
    return 1;
}

int writePackage(const char *packagePath, const char *text) {
    char target[PATH_SIZE], temporary[PATH_SIZE];
    // the seller's file is the one a symbolic link points at; the link stays
    if (!resolvedPath(packagePath, target, sizeof target)) fatal(OPEN_FAILED);
    if (!temporaryPath(target, temporary, sizeof temporary)) {
        // in place: a text that does not convert must fail before the package is opened
        const char *problem = writeConverted(NULL, text);
        if (!problem) problem = writeAll(fopen(target, "wb"), text);
        if (problem) fatal(problem);
        return 1;
    }
    FILE *f = createNewFile(temporary, NULL);
    const char *problem = writeAll(f, text);
    if (!problem && !replaceKeepingAttributes(temporary, target)) problem = OPEN_FAILED;
    if (problem && f) remove(temporary);
    if (problem) fatal(problem);
    return 1;
}
