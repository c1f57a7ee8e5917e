/* Path text helpers that follow the platform's separator.
 *
 * Windows paths are GBK: the second byte of a double-byte character may be
 * 0x5C, the backslash, so the separator is searched character by character
 * there; "/" is taken for a separator too, as Windows takes it. POSIX paths
 * are UTF-8, where '/' never occurs inside a character. */
#ifndef LUMORA_PATHS_H
#define LUMORA_PATHS_H

#include <stddef.h>

/* The last separator of path, or NULL when it has none. */
const char *lastSeparator(const char *path);

/* The text after the last separator of path; the whole path when it holds
 * none; the empty string when it ends with one. */
const char *fileName(const char *path);

/* Writes every separator of path as the platform's own: on Windows "/"
 * becomes "\\", so that paths written into a package use one form. */
void useNativeSeparators(char *path);

/* Removes the last component of a program file's path in place: the
 * separator goes too, except where it makes the root ("C:\" or "/"). A path
 * without a separator stays whole. */
void cutAtLastSeparator(char *path);

/* Writes dir, a separator (unless dir already ends with one) and name into
 * out (size bytes). Returns 1, or 0 when the result does not fit (out then
 * holds an empty string). */
int joinPath(char *out, size_t size, const char *dir, const char *name);

#endif
