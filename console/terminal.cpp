/* The console's terminal and system layer; see terminal.h.
 *
 * The few lines that differ by platform sit under _WIN32 here and nowhere
 * else in the console. The signal handler only counts and stores into
 * lock-free atomics, which the job and the console's stop watch poll, and
 * re-arms itself, all of which is safe in a handler; everything else
 * happens on the threads that poll. */
#include "terminal.h"

#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>

#include "charset.h"
#endif

#include "move_stop.h"
#include "text_utils.h"

#ifdef _WIN32
void writeText(FILE *stream, const char *gbk) {
    fputs(gbk, stream);
}

int stderrIsTerminal(void) {
    return _isatty(_fileno(stderr)) != 0;
}

int terminalColumns(void) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

int absoluteFolder(const char *folder, char *out, size_t size) {
    return _fullpath(out, folder, size) != NULL;
}
#else
void writeText(FILE *stream, const char *gbk) {
    size_t length = strlen(gbk), written = 0;
    std::string utf8(length * 3 + 1, '\0');  // a byte never needs more than three UTF-8 bytes
    // GB18030 reads the program's GBK texts alike, and the titles and links of a package whole
    if (convertCharset("GB18030", "utf-8", gbk, length, &utf8[0], utf8.size(), &written) < 0) {
        fputs(gbk, stream);
        return;
    }
    fwrite(utf8.data(), 1, written, stream);
}

int stderrIsTerminal(void) {
    return isatty(fileno(stderr));
}

int terminalColumns(void) {
    struct winsize size;
    return ioctl(fileno(stderr), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

int absoluteFolder(const char *folder, char *out, size_t size) {
    char resolved[PATH_MAX];
    if (!realpath(folder, resolved) || strlen(resolved) >= size) return 0;
    memcpy(out, resolved, strlen(resolved) + 1);
    return 1;
}
#endif

void printText(FILE *stream, const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatTextV(format, args);
    va_end(args);
    writeText(stream, text.c_str());
}

static std::atomic<int> stopSignals{0};

/* Re-arms itself, as Windows resets a handler before calling it. */
static void onStopSignal(int signalNumber) {
    stopSignals++;
    abortRequested.store(1);
    signal(signalNumber, onStopSignal);
}

int stopSignalCount(void) {
    return stopSignals;
}

void catchStopSignals(void) {
    signal(SIGINT, onStopSignal);
    signal(SIGTERM, onStopSignal);
#ifdef SIGPIPE
    signal(SIGPIPE, SIG_IGN);  // a reader of the progress that goes away must not end the job unwritten
#endif
}
