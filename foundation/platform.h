/* The thin layer over what differs between Windows and POSIX systems.
 *
 * The portable core calls only these; platform_win32.cpp and
 * platform_posix.cpp implement them, and the build picks one. */
#ifndef LUMORA_PLATFORM_H
#define LUMORA_PLATFORM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#ifdef _WIN32
enum { PATH_SIZE = 260 };   /* MAX_PATH, as the Windows file calls take it */
#define PATH_SEPARATOR '\\'
#else
enum { PATH_SIZE = 4096 };  /* PATH_MAX */
#define PATH_SEPARATOR '/'
#endif

/* Fills dir (size bytes) with the folder of the program file, without a
 * trailing separator except for a root ("C:\" or "/"); the current directory
 * when the program file's path cannot be had. Returns 1, or 0 when neither
 * fits. */
int programFolder(char *dir, size_t size);

/* Fills dir (size bytes) with the user's desktop folder. Returns 1, or 0
 * (dir empty) when there is none. */
int desktopFolder(char *dir, size_t size);

/* Moves the file from over the file to, replacing it; 1 on success. */
int replaceFile(const char *from, const char *to);

/* Moves the file from over the file to as replaceFile does, the new file
 * taking the old one's mode and owner (POSIX, as far as the process may
 * set them) or its attributes (Windows); 1 on success. */
int replaceKeepingAttributes(const char *from, const char *to);

/* Gives the file from the name to unless a file of that name exists,
 * atomically: 1 when moved, 0 when to is taken (from stays), -1 when it
 * cannot be moved for another reason. */
int moveToFreeName(const char *from, const char *to);

/* Creates path as a new file, open for writing bytes; the caller closes it.
 * NULL when it cannot be created; *taken (unless taken is NULL) then says
 * whether the name was taken already. */
FILE *createNewFile(const char *path, int *taken);

/* Writes into out (size bytes) the path of the file that path names, past
 * any symbolic links where the platform has them; path itself when it
 * cannot be resolved or the result does not fit. Returns 1, or 0 (out
 * empty) when not even path fits. */
int resolvedPath(const char *path, char *out, size_t size);

/* The process's id, for names no other process uses at the same time. */
unsigned long processId(void);

/* The size of the file in bytes, 64 bits wide; -1 when it cannot be had. */
int64_t fileSize(const char *path);

/* Creates the folder; 1 on success. */
int makeFolder(const char *path);

/* Calls each with the name of every entry of folder but "." and "..".
 * Returns 1, or 0 when the folder cannot be read. */
int listFolder(const char *folder, void (*each)(void *context, const char *name), void *context);

/* Converts between a file-system path and the program's GBK text: paths
 * are GBK on Windows already and UTF-8 on POSIX systems. Each writes into
 * out (size bytes) and returns 1, or 0 when the result does not fit; bytes
 * that do not convert are copied as they stand. */
int pathToText(const char *path, char *out, size_t size);
int textToPath(const char *text, char *out, size_t size);

/* Breaks t down into local time; thread-safe. */
void localTimeOf(time_t t, struct tm *out);

#endif
