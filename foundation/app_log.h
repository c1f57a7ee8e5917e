/* The application log, "app.log" in the program's folder.
 *
 * The one place for technical failure details: one GBK line per event,
 * "HH:MM:SS message" and CR LF, flushed at once. The file stays open for the
 * life of the process; each line is written with a single call so that lines
 * of different threads never interleave. */
#ifndef LUMORA_APP_LOG_H
#define LUMORA_APP_LOG_H

#include <stdint.h>

#include <string>

/* A log larger than this at start-up is deleted and begun afresh. */
static const int32_t APP_LOG_MAX_BYTES = 2097152;

/* Opens "app.log" in dir for appending, deleting it first when it is larger
 * than APP_LOG_MAX_BYTES. When it cannot be opened, shows the error and ends
 * the process with status 0. A log opened before is closed first. */
void openAppLog(const char *dir);

/* Appends one time-stamped line; does nothing before the log is open. */
void appendLog(const char *message);

/* As appendLog, but adds the line, stamped as it happens, to *held instead
 * unless held is NULL; writeLogLines writes held lines later (a move job
 * writes a download's lines at its link's turn, or drops them with the
 * download). */
void appendLogTo(std::string *held, const char *message);
void writeLogLines(const std::string &lines);

#endif
