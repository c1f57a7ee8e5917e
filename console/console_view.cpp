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
#include <unordered_set>
#include <vector>

#include "console_wording.h"
#include "download_pool.h"
#include "move_checks.h"
#include "paths.h"
#include "platform.h"
#include "progress_figures.h"
#include "terminal.h"
#include "text_utils.h"

enum { BAR_WIDTH = 20 };

/* The width assumed of a terminal that does not tell its own. */
enum { USUAL_COLUMNS = 80 };

/* The stretch of the run the rate and the time left are taken over. */
enum { RECENT_SECONDS = 30 };

static std::mutex drawing;  // standard error, and the figures, while a job runs
typedef std::lock_guard<std::mutex> DrawLock;

/* Calls visit(url, failures) on each link of the item that the job takes
 * (description links by their host, mobile-details links with the image
 * space), with the item's failure list of the link's kind. */
template <typename Visit> static void eachSelectedLink(const MoveOptions &o, const ItemRecord *item, Visit visit) {
    for (int mobile = 0; mobile < 2; mobile++) {
        const PtrVector *list = mobile ? item->mobileLinks : item->descLinks;
        for (int32_t i = 0; list && i < list->count; i++) {
            const char *url = (const char *)list->items[i];
            if (linkSelected(o, url, mobile ? MOBILE_IMAGE : DESCRIPTION_IMAGE))
                visit(url, mobile ? item->mobileFailures : item->pcFailures);
        }
    }
}

/* Counts the item's links that the job took and has not met before, as
 * moved or as failed by the failure list. */
static void countLinks(ConsoleProgress *p, const ItemRecord *item) {
    eachSelectedLink(p->options, item, [p](const char *url, const PtrVector *failures) {
        int moved = !(failures && ptrVectorContains(failures, url, stringEquals));
        if (p->links.emplace(url, moved).second) (moved ? p->moved : p->failed)++;
    });
}

/* The distinct links the job will fetch. */
static long selectedLinks(const MoveOptions &options, const PtrVector *items) {
    std::unordered_set<std::string> links;
    for (int32_t i = 0; i < items->count; i++)
        eachSelectedLink(options, (const ItemRecord *)items->items[i],
                         [&links](const char *url, const PtrVector *) { links.insert(url); });
    return (long)links.size();
}

void startProgress(ConsoleProgress *progress, ProgressStyle style, const MoveOptions &options, const PtrVector *items) {
    *progress = ConsoleProgress();
    progress->style = style;
    progress->options = options;
    progress->itemCount = items->count;
    if (style == PROGRESS_BAR) progress->images = selectedLinks(options, items);
    progress->started = std::chrono::steady_clock::now();
    progress->recent.push_back({0.0, 0});
}

/* Images done: the downloads finished, or the links the walk has counted
 * where more (one that failed without a download). */
static long imagesDone(const ConsoleProgress *p) {
    long done = downloadsFinished(), walked = p->moved + p->failed;
    done = done > walked ? done : walked;
    return done < p->images ? done : p->images;
}

/* The bar's filled cells: by images where the job fetches any, else by items. */
static int filledCells(const ConsoleProgress *p, long images) {
    long done = p->images > 0 ? images : p->doneCount, total = p->images > 0 ? p->images : p->itemCount;
    return total > 0 ? (int)((long long)done * BAR_WIDTH / total) : BAR_WIDTH;
}

/* The rate and the time left over the recent stretch, noting images done now. */
static RateFigures recentFigures(ConsoleProgress *p, long images) {
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - p->started;
    double now = elapsed.count();
    p->recent.push_back({now, images});
    // the oldest kept is the last one at or before the stretch's start
    while (p->recent.size() > 2 && p->recent[1].first <= now - RECENT_SECONDS) p->recent.pop_front();
    const std::pair<double, long> &from = p->recent.front();
    return rateFigures(images, p->images, images - from.second, now - from.first);
}

/* The bar's fields, each with the blanks before it; the first is dropped last. */
static std::vector<std::string> barFields(ConsoleProgress *p) {
    long images = imagesDone(p);
    int filled = filledCells(p, images);
    std::string bar = "[" + std::string((size_t)filled, '#') + std::string((size_t)(BAR_WIDTH - filled), '-') + "]";
    RateFigures figures = recentFigures(p, images);
    return {bar, formatText(" 宝贝 %d/%d", p->doneCount, p->itemCount), formatText("  图片 %ld/%ld", images, p->images),
            formatText("  失败 %ld", p->failed), "  " + figures.rate, "  " + figures.left};
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
    countLinks(p, item);
    p->doneCount = doneCount;
    if (p->style == PROGRESS_BAR) drawBar(p);
    if (p->style == PROGRESS_LINES)
        printText(stderr, "宝贝 %d/%d  已搬图片 %ld  失败 %ld  %s\n", doneCount, p->itemCount, p->moved, p->failed,
                  shownTitle(item->title).c_str());
    fflush(stderr);
}

void tickProgress(ConsoleProgress *progress) {
    DrawLock held(drawing);
    if (progress->style != PROGRESS_BAR || progress->doneCount >= progress->itemCount) return;
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

/* A failed link's reason, as its line ends. */
static std::string reasonNote(const FailureReasons &reasons, const char *link) {
    auto found = reasons.find(link);
    std::string words = found == reasons.end() ? "" : failureReasonText(found->second);
    return words.empty() ? "" : "  （" + words + "）";
}

int printFailureReport(const PtrVector *items, const FailureReasons &reasons, const char *logFolder) {
    int listed = 0;
    for (int32_t i = 0; i < items->count; i++) {
        const ItemRecord *item = (const ItemRecord *)items->items[i];
        std::string failures =
            failureListText(*item, "\n", [&reasons](const char *link) { return reasonNote(reasons, link); });
        if (failures.empty()) continue;
        printText(stdout, "\n%d. %s\n", i + 1, shownTitle(item->title).c_str());
        writeText(stdout, (failures + "\n").c_str());
        listed++;
    }
    char log[PATH_SIZE], text[PATH_SIZE];
    if (listed && joinPath(log, sizeof log, logFolder, "app.log") && pathToText(log, text, sizeof text))
        writeText(stdout, formatText("\n每张图片失败的详细信息见日志：%s\n", text).c_str());
    fflush(stdout);
    return listed;
}
