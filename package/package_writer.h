/* Keeping a numbered backup of a data package and writing it back.
 *
 * Backups go to "bak" in the program's folder, one per move, never
 * overwritten: each is copied under a scratch name and takes its number
 * only when whole, so a failed backup leaves nothing under a backup's name.
 * A package is written as FF FE and UTF-16LE text, converted a piece at a
 * time, into a new temporary file beside the file (past a symbolic link),
 * which then takes the file's place with its mode and owner, so a failed
 * write never leaves a damaged package. The temporary name is short, so
 * that it fits wherever the package's own name does, and is the process's
 * own. Every failure shows its message and ends the process (process
 * hooks). */
#ifndef LUMORA_PACKAGE_WRITER_H
#define LUMORA_PACKAGE_WRITER_H

#include <stddef.h>

/* The first free backup path for the package's file name in backupDir:
 * "name(n).ext", or "name(n)" without an extension, n counting from 1.
 * Returns 1, or 0 when the path does not fit in size bytes. */
int backupPath(const char *backupDir, const char *packagePath, char *out, size_t size);

/* Copies the package byte for byte into the backup folder of programDir,
 * under the first number free when the copy is whole. Returns 1; does not
 * return on failure, and then leaves no backup behind. */
int backupPackage(const char *packagePath, const char *programDir);

/* The temporary file for writing the package: "~XXXXXXXX.tmp" in the
 * package's folder, XXXXXXXX a hash of the package's name and the process's
 * id. Returns 1, or 0
 * when it does not fit in size bytes (the package is then written in
 * place). */
int temporaryPath(const char *packagePath, char *out, size_t size);

/* Writes text (GB18030, as the reader gives it) back to the package file in
 * its own format. Returns 1; does not return on failure. */
int writePackage(const char *packagePath, const char *text);

#endif
