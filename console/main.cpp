/* lumora-move: the console front end of the move job.
 *
 *   lumora-move [--no-image-space] [--no-other-albums] [--blank-failed] [--quiet] [--connections N]
 *               PACKAGE TARGET_FOLDER
 *
 * It walks the window's two pages in their order, with their checks and
 * their messages (move_checks.h), then runs the job; a stop signal asks
 * for its abort as confirming the window's close does, and says what the
 * stop waits for; a second one cuts the downloads in flight at once. Either
 * way what arrived whole is written back.
 *
 * The core ends the process through the process hooks on fatal errors with
 * the window's status, 0, which a script would take for success; the
 * console replaces it by the status of the phase it ended in:
 *   0  the job ran to its final message and every selected image moved;
 *   1  a usage error, or a path, option or folder the checks refuse;
 *   2  the package was refused by loading, or loading failed fatally;
 *   3  the job was aborted (SIGINT, SIGTERM or a fatal local-file error),
 *      or a fatal error ended it; the links moved so far are written;
 *   4  the job ran to its final message but some selected images could not
 *      be moved (they are listed, and blanked with --blank-failed). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "app_log.h"
#include "conn_pool.h"
#include "console_view.h"
#include "download_pool.h"
#include "host_failures.h"
#include "move_checks.h"
#include "move_job.h"
#include "net.h"
#include "paths.h"
#include "terminal.h"
#include "text_utils.h"

enum { STATUS_DONE = 0, STATUS_REFUSED = 1, STATUS_PACKAGE = 2, STATUS_ABORTED = 3, STATUS_SOME_FAILED = 4 };
enum ParseResult { PARSE_BAD, PARSE_OK, PARSE_HELP };

/* How often the stop watch looks at the signals, and redraws the progress bar. */
enum { STOP_WATCH_MS = 50, PROGRESS_TICK_MS = 500 };

static const char USAGE[] =
    "用法：lumora-move [--no-image-space] [--no-other-albums] [--blank-failed] [--quiet] [--connections N] 数据包 目标文件夹\n"
    "将数据包(csv)中宝贝描述和无线详情的图片搬到目标文件夹，并把图片地址改为本地路径。\n\n"
    "  --no-image-space   不搬来自淘宝图片空间里的图片\n"
    "  --no-other-albums  不搬来自第三方相册里的图片\n"
    "  --blank-failed     将搬家失败的图片替换为空白图片\n"
    "  --quiet            不显示进度\n"
    "  --connections N    同时下载的图片数，1 到 64，默认 16；1 为逐张下载\n";

struct Arguments {
    MoveOptions options = {1, 1, 0};  // the window's defaults
    int quiet = 0;
    int connections = 0;  // the job's default
    const char *paths[2] = {NULL, NULL};
    int pathCount = 0;
};

/* Owns a loaded package until the job takes its text over. */
struct LoadedPackage {
    PtrVector *items = ptrVectorCreateDefault();
    char *text = NULL;
    LoadedPackage() = default;
    LoadedPackage(const LoadedPackage &) = delete;
    LoadedPackage &operator=(const LoadedPackage &) = delete;
    ~LoadedPackage() {
        free(text);
        if (!items) return;
        itemListClear(items);
        ptrVectorDestroy(items, 0);
    }
};

static ConsoleProgress progress;
static int fatalStatus = STATUS_REFUSED;  // the status of a fatal end in the current phase

static void hookMessage(const char *text, const char *, MessageIcon) {
    printMessage(&progress, stderr, text);
}

/* Ends at once: the memory of a half-done load or job is the system's to
 * reclaim, and the log is flushed line by line. */
static void hookEnd(int) {
    fflush(NULL);
    _Exit(fatalStatus);
}

/* The setting an option changes; NULL when arg is none of them. */
static int *optionSetting(const char *arg, Arguments *a, int *value) {
    *value = 0;
    if (!strcmp(arg, "--no-image-space")) return &a->options.imageSpace;
    if (!strcmp(arg, "--no-other-albums")) return &a->options.otherAlbums;
    *value = 1;
    if (!strcmp(arg, "--blank-failed")) return &a->options.blankForFailed;
    if (!strcmp(arg, "--quiet")) return &a->quiet;
    return NULL;
}

/* The number after --connections; 0 when it is not one the job takes. */
static int connectionCount(const char *text) {
    char *end;
    long n = text ? strtol(text, &end, 10) : 0;
    return text && *text && !*end && n >= 1 && n <= MOVE_CONNECTIONS_MAX ? (int)n : 0;
}

static ParseResult parseArguments(int argc, char **argv, Arguments *a) {
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        int value, *setting = optionSetting(arg, a, &value);
        if (!strcmp(arg, "--help") || !strcmp(arg, "-h")) return PARSE_HELP;
        if (!strcmp(arg, "--connections")) {
            a->connections = connectionCount(argv[++i]);  // argv[argc] is NULL
            if (!a->connections) return PARSE_BAD;
        } else if (setting) *setting = value;
        else if (arg[0] == '-' && arg[1]) return PARSE_BAD;
        else if (a->pathCount < 2) a->paths[a->pathCount++] = arg;
        else return PARSE_BAD;
    }
    return a->pathCount == 2 ? PARSE_OK : PARSE_BAD;
}

/* Prints the message of a refusal and returns the status. */
static int refuse(const std::string &message, int status) {
    printMessage(&progress, stderr, message.c_str());
    return status;
}

/* Copies text into a job's path field; 0 with a message when it is too long.
 * The path is printed as given: it is in the terminal's encoding already. */
static int setPath(char *field, const char *text) {
    if (snprintf(field, PATH_SIZE, "%s", text) < PATH_SIZE) return 1;
    writeText(stderr, "路径太长：");
    fprintf(stderr, "%s\n", text);
    return 0;
}

/* Fills the job's paths: the package as given, the folder made absolute
 * where it can be (as given otherwise, for the checks to judge), both with
 * the platform's own separators, since the folder goes into the links. */
static int setJobPaths(MoveJob *job, const Arguments &a) {
    if (!setPath(job->packagePath, a.paths[0])) return 0;
    if (!absoluteFolder(a.paths[1], job->targetFolder, PATH_SIZE) && !setPath(job->targetFolder, a.paths[1])) return 0;
    useNativeSeparators(job->packagePath);
    useNativeSeparators(job->targetFolder);
    if (programFolder(job->programDir, PATH_SIZE)) return 1;
    printMessage(&progress, stderr, "无法确定程序所在的文件夹");
    return 0;
}

static std::string choicesProblem(const MoveJob &job) {
    char desktop[PATH_SIZE];
    desktopFolder(desktop, sizeof desktop);
    return moveChoicesProblem(job.options, job.targetFolder, desktop);
}

/* The first page: the package path's check, then loading. Returns -1 when
 * the package is loaded, else the status to end with. */
static int loadJobPackage(const MoveJob &job, LoadedPackage *package) {
    std::string problem = packagePathProblem(job.packagePath);
    if (!problem.empty()) return refuse(problem, STATUS_REFUSED);
    openAppLog(job.programDir);
    uint16_t version;
    if (!netStartup(&version)) return refuse("WSAStartup() failed!", STATUS_REFUSED);
    initHostFailures();
    if (!package->items) return refuse("内存不足", STATUS_PACKAGE);
    fatalStatus = STATUS_PACKAGE;
    std::string found;
    int loaded = loadPackage(job.packagePath, package->items, &package->text, &found);
    return loaded == 1 ? -1 : refuse(loadFailureMessage(loaded, job.packagePath, found), STATUS_PACKAGE);
}

/* Acts on the stop signals until the job is over: the first is told with
 * what the stop waits for, a second cuts the downloads at once. Meanwhile
 * it redraws the progress bar, at once and then every tick, so that the
 * bar moves while one slow image holds the walk. */
static void watchStops(const std::atomic<int> *jobOver) {
    for (int handled = 0, sinceTick = 0; !*jobOver; sinceTick = (sinceTick + STOP_WATCH_MS) % PROGRESS_TICK_MS) {
        if (sinceTick == 0) tickProgress(&progress);
        int signals = stopSignalCount();
        if (handled < 1 && signals >= 1) {
            std::string notice = formatText("正在停止搬家：等待正在下载的 %d 张图片下载完（每张最长约 3 分钟），之后写入数据包。"
                                            "再按一次 Ctrl-C 立即停止。",
                                            downloadsRunning());
            printMessage(&progress, stderr, notice.c_str());
        }
        if (handled < 2 && signals >= 2) {
            printMessage(&progress, stderr, "立即停止：放弃正在下载的图片，已下载完的图片写入数据包。");
            requestCut();
        }
        handled = signals < 2 ? signals : 2;
        std::this_thread::sleep_for(std::chrono::milliseconds(STOP_WATCH_MS));
    }
}

/* Runs the job with the display that the arguments and standard error ask
 * for, reports the failures, and returns the status. */
static int runJob(MoveJob *job, const Arguments &a, LoadedPackage *package) {
    ProgressStyle style = a.quiet ? PROGRESS_NONE : stderrIsTerminal() ? PROGRESS_BAR : PROGRESS_LINES;
    startProgress(&progress, style, a.options, package->items);
    MoveView view = consoleView(&progress);
    FailureReasons reasons;
    SharedPictures shared;
    job->view = &view;
    job->reasons = &reasons;
    job->shared = &shared;
    job->items = package->items;
    job->packageText = package->text;
    package->text = NULL;
    fatalStatus = STATUS_ABORTED;
    catchStopSignals();
    std::atomic<int> jobOver{0};
    std::thread watch(watchStops, &jobOver);
    int outcome = runMoveJob(job);
    jobOver = 1;
    watch.join();
    poolCloseAll();  // no other job follows: end the kept sessions
    if (outcome != MOVE_FINISHED) printMessage(&progress, stderr, "搬家已中止，已搬好的图片地址已写入数据包。");
    endProgressLine(&progress);
    // a stopped move writes no report: one on disk is an earlier move's
    const char *report = outcome == MOVE_FINISHED ? job->packagePath : NULL;
    int failedItems = printFailureReport(package->items, reasons, job->programDir, report);
    printSharedPictures(package->items, shared);
    if (outcome != MOVE_FINISHED) return STATUS_ABORTED;
    return failedItems > 0 ? STATUS_SOME_FAILED : STATUS_DONE;
}

int main(int argc, char **argv) {
    Arguments a;
    ParseResult parsed = parseArguments(argc, argv, &a);
    if (parsed != PARSE_OK) writeText(parsed == PARSE_HELP ? stdout : stderr, USAGE);
    if (parsed != PARSE_OK) return parsed == PARSE_HELP ? STATUS_DONE : STATUS_REFUSED;
    static const ProcessHooks HOOKS = {hookMessage, hookEnd};
    setProcessHooks(&HOOKS);
    MoveJob job{};
    job.options = a.options;
    job.connections = a.connections;
    if (!setJobPaths(&job, a)) return STATUS_REFUSED;
    LoadedPackage package;
    int status = loadJobPackage(job, &package);
    if (status >= 0) return status;
    std::string problem = choicesProblem(job);
    return problem.empty() ? runJob(&job, a, &package) : refuse(problem, STATUS_REFUSED);
}
