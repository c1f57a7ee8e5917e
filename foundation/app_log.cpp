/* The application log; see app_log.h.
 *
 * The file is opened in binary mode: the line end is written as CR LF on
 * every platform, and Windows text mode would turn it into CR CR LF. */
#include "app_log.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>

#include "file_helpers.h"
#include "paths.h"
#include "platform.h"
#include "process_hooks.h"

enum { LOG_STAMP_SIZE = 10 };

static FILE *logStream;

void openAppLog(const char *dir) {
    char path[PATH_SIZE];
    if (logStream) fclose(logStream);
    logStream = NULL;
    if (joinPath(path, sizeof path, dir, "app.log")) {
        if (fileLength(path) > APP_LOG_MAX_BYTES) remove(path);
        logStream = fopen(path, "ab+");
    }
    if (!logStream) {
        showMessage("无法打开应用日志文件：app.log", "错误", MESSAGE_ERROR);
        endProcess(0);
    }
}

void appendLog(const char *message) {
    appendLogTo(NULL, message);
}

void appendLogTo(std::string *held, const char *message) {
    if (!logStream) return;
    char stamp[LOG_STAMP_SIZE];
    struct tm now;
    localTimeOf(time(NULL), &now);
    strftime(stamp, sizeof stamp, "%H:%M:%S", &now);
    std::string line;
    line.reserve(LOG_STAMP_SIZE + strlen(message) + 2);
    line.append(stamp).append(" ").append(message).append("\r\n");
    if (held) held->append(line);
    else writeLogLines(line);
}

void writeLogLines(const std::string &lines) {
    if (!logStream || lines.empty()) return;
    fwrite(lines.data(), 1, lines.size(), logStream);
    fflush(logStream);
}
