/* The console's view of a move; see console_view.h.
 *
 * The bar line is rewritten after a carriage return and never gets shorter
 * (a shorter one is padded with spaces), so no terminal control sequence is
 * needed to clear it: the Windows console shows it the same way. It never
 * takes the terminal's last column either, where a line would wrap and
 * leave a stale copy at each redraw: fields are dropped from the right
 * until it fits the width the terminal has at that redraw. The job's
 * thread and the ticker both draw, so everything written to standard error
 * while a job runs goes through one lock, and a line never breaks into
 * another. Every write goes through writeText, which turns the GBK texts
 * into the terminal's encoding; a GBK character takes two bytes and two
 * columns, so the bar's length in bytes is its width. */
#include "console_view.h"

#include <mutex>
#include <vector>

#include "console_wording.h"
#include "failure_report.h"
#include "failure_words.h"
#include "move_checks.h"
#include "paths.h"
#include "platform.h"
#include "terminal.h"
#include "text_utils.h"

enum { BAR_WIDTH = 20 };

/* The width assumed of a terminal that does not tell its own. */
enum { USUAL_COLUMNS = 80 };

static std::mutex drawing;  // standard error, and the figures, while a job runs
typedef std::lock_guard<std::mutex> DrawLock;

void startProgress(ConsoleProgress *progress, ProgressStyle style, const MoveOptions &options, const PtrVector *items) {
    *progress = ConsoleProgress();
    progress->style = style;
    startTally(&progress->tally, options, items, style == PROGRESS_BAR);
}

/* The bar's filled cells: by images where the job fetches any, else by items. */
static int filledCells(const ProgressFigures &f) {
    long done = f.images > 0 ? f.imagesDone : f.itemsDone, total = f.images > 0 ? f.images : f.items;
    return total > 0 ? (int)((long long)done * BAR_WIDTH / total) : BAR_WIDTH;
}

/* The bar and the figures' fields, each with the blanks before it; the
 * first is dropped last. */
static std::vector<std::string> barFields(ConsoleProgress *p) {
    ProgressFigures figures = tallyFigures(&p->tally);
    int filled = filledCells(figures);
    std::vector<std::string> fields = figureFields(figures);
    fields[0] = " " + fields[0];
    fields.insert(fields.begin(), "[" + std::string((size_t)filled, '#') + std::string((size_t)(BAR_WIDTH - filled), '-') + "]");
    return fields;
}

/* As many fields from the left as fit in width columns. */
static std::string fittedFields(const std::vector<std::string> &fields, size_t width) {
    std::string line;
    for (const std::string &field : fields) {
        if (line.size() + field.size() > width) break;
        line += field;
    }
    return line;
}

/* Draws the bar over the line, padded to the last one drawn, short of the
 * terminal's last column. */
static void drawBar(ConsoleProgress *p) {
    int columns = terminalColumns();
    size_t width = (size_t)(columns > 0 ? columns - 1 : USUAL_COLUMNS - 1);
    std::string line = fittedFields(barFields(p), width);
    size_t padded = p->barLength < width ? p->barLength : width;
    if (line.size() < padded) line.append(padded - line.size(), ' ');
    p->barLength = line.size();
    writeText(stderr, ("\r" + line).c_str());
    p->barOpen = 1;
}

static void itemFinished(void *context, int, const ItemRecord *item, int doneCount) {
    ConsoleProgress *p = (ConsoleProgress *)context;
    DrawLock held(drawing);
    tallyItem(&p->tally, item, doneCount);
    if (p->style == PROGRESS_BAR) drawBar(p);
    if (p->style == PROGRESS_LINES)
        printText(stderr, "宝贝 %d/%d  已搬图片 %ld  失败 %ld  %s\n", doneCount, p->tally.itemCount, p->tally.moved,
                  p->tally.failed, shownTitle(item->title).c_str());
    fflush(stderr);
}

void tickProgress(ConsoleProgress *progress) {
    DrawLock held(drawing);
    if (progress->style != PROGRESS_BAR || progress->tally.doneCount >= progress->tally.itemCount) return;
    drawBar(progress);
    fflush(stderr);
}

/* Ends the bar's line; the caller holds the lock. */
static void endLine(ConsoleProgress *progress) {
    if (progress->barOpen) fputc('\n', stderr);
    progress->barOpen = 0;
}

void endProgressLine(ConsoleProgress *progress) {
    DrawLock held(drawing);
    endLine(progress);
}

void printMessage(ConsoleProgress *progress, FILE *stream, const char *text) {
    DrawLock held(drawing);
    endLine(progress);
    writeText(stream, consoleWording(text).c_str());
    fputc('\n', stream);
    fflush(stream);
}

/* Errors of the run go with the progress on standard error; the final
 * message is the command's result and goes to standard output. */
static void showJobMessage(void *context, const char *text, const char *, MessageIcon icon) {
    printMessage((ConsoleProgress *)context, icon == MESSAGE_ERROR ? stderr : stdout, text);
}

static void ignoreItem(void *, int) {}
static void ignoreText(void *, const char *) {}
static void ignoreEnd(void *) {}

MoveView consoleView(ConsoleProgress *progress) {
    return MoveView{progress, ignoreItem, itemFinished, ignoreText, ignoreItem, showJobMessage, ignoreEnd};
}

/* Prints "\nlabel path\n" when the path converts to text. */
static void printPath(const char *label, const char *path) {
    char text[PATH_SIZE];
    if (pathToText(path, text, sizeof text)) writeText(stdout, formatText("\n%s%s\n", label, text).c_str());
}

int printFailureReport(const PtrVector *items, const FailureReasons &reasons, const char *logFolder,
                       const char *packagePath) {
    int listed = 0;
    for (int32_t i = 0; i < items->count; i++) {
        const ItemRecord *item = (const ItemRecord *)items->items[i];
        std::string failures =
            failureListText(*item, "\n", [&reasons](const char *link) { return failureNote(reasons, link); });
        if (failures.empty()) continue;
        printText(stdout, "\n%d. %s\n", i + 1, shownTitle(item->title).c_str());
        writeText(stdout, (failures + "\n").c_str());
        listed++;
    }
    char path[PATH_SIZE];
    if (listed && joinPath(path, sizeof path, logFolder, "app.log")) printPath("每张图片失败的详细信息见日志：", path);
    if (listed && packagePath && failureReportExists(packagePath, path, sizeof path))
        printPath("失败清单：", path);
    fflush(stdout);
    return listed;
}

/* The item's links that share their picture, one a line, each once. */
static std::string sharedLines(const ItemRecord &item, const SharedPictures &shared) {
    std::string lines;
    for (const PtrVector *list : {item.descLinks, item.mobileLinks})
        for (int32_t k = 0; list && k < list->count; k++) {
            auto found = shared.find((const char *)list->items[k]);
            std::string line = found == shared.end() ? "" : formatText("%s  （%d 个图片地址是同一张图片）\n", found->first.c_str(), found->second);
            if (!line.empty() && lines.find(line) == std::string::npos) lines += line;
        }
    return lines;
}

void printSharedPictures(const PtrVector *items, const SharedPictures &shared) {
    if (shared.empty()) return;
    writeText(stdout, "\n以下图片与同一网站其他图片地址下载到的图片完全相同，可能是该网站的防盗链图片，请检查：\n");
    for (int32_t i = 0; i < items->count; i++) {
        const ItemRecord *item = (const ItemRecord *)items->items[i];
        std::string lines = sharedLines(*item, shared);
        if (!lines.empty()) printText(stdout, "\n%d. %s\n", i + 1, shownTitle(item->title).c_str());
        writeText(stdout, lines.c_str());
    }
    fflush(stdout);
}
