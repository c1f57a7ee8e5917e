/* Small file queries used across the program. */
#ifndef LUMORA_FILE_HELPERS_H
#define LUMORA_FILE_HELPERS_H

#include <stdint.h>

#include <string>

/* 1 when the file can be opened for reading, else 0. */
int fileExists(const char *path);

/* The file's length in bytes, past 2 GiB too; -1 when it cannot be opened. */
int64_t fileLength(const char *path);

/* 1 when the path names a directory, else 0. */
int isDirectory(const char *path);

/* A scratch file beside the file at path, its name unique to the process:
 * "~" before the file's name, then "." and the process's id in hex, then
 * suffix, a form that no image name takes. */
std::string scratchPath(const char *path, const char *suffix);

#endif
