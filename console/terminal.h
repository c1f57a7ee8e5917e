/* What the console front end needs from the terminal and the system, kept
 * apart because it is where Windows and POSIX systems differ: writing the
 * program's GBK texts in the terminal's encoding, telling whether standard
 * error is a terminal, turning the stop signals into a confirmed close, and
 * making the target folder absolute (the rewritten links must name the
 * images from anywhere, not from the folder the command ran in). */
#ifndef LUMORA_CONSOLE_TERMINAL_H
#define LUMORA_CONSOLE_TERMINAL_H

#include <stddef.h>
#include <stdio.h>

/* Writes GBK text to the stream in the terminal's encoding: as it stands on
 * Windows, whose console is GBK (code page 936); as UTF-8 elsewhere. Bytes
 * that do not convert are written as they are rather than lost. */
void writeText(FILE *stream, const char *gbk);

/* writeText of a printf-style GBK format. */
__attribute__((format(printf, 2, 3))) void printText(FILE *stream, const char *format, ...);

/* 1 when standard error is a terminal, so that a line can be redrawn. */
int stderrIsTerminal(void);

/* The columns of the terminal that standard error shows on, asked anew at
 * each call so that a resized window is followed at the next redraw; 0
 * when it cannot be told. */
int terminalColumns(void);

/* Makes SIGINT and SIGTERM request the job's abort, as confirming the
 * window's close does, and count; what a second one does is the caller's
 * (stopSignalCount). Output to a closed pipe then fails instead of ending
 * the process. */
void catchStopSignals(void);

/* The stop signals received so far. */
int stopSignalCount(void);

/* Writes the absolute form of folder into out (size bytes). Returns 1, or 0
 * when it cannot be had (on POSIX systems the folder must exist) or does not
 * fit; out is then not to be used. */
int absoluteFolder(const char *folder, char *out, size_t size);

#endif
