/* The console's view of a move; see console_view.h.
 *
 * The bar line is rewritten after a carriage return and never gets shorter
 * (its figures only grow), so no terminal control sequence is needed to
 * clear it: the Windows console shows it the same way. Every write goes
 * through writeText, which turns the GBK texts into the terminal's
 * encoding. */
#include "console_view.h"

#include <string.h>

#include "console_wording.h"
#include "move_checks.h"
#include "paths.h"
#include "platform.h"
#include "terminal.h"
#include "text_utils.h"

enum { BAR_WIDTH = 24 };

static int listCount(const PtrVector *list) {
    return list ? list->count : 0;
}

/* Counts the links of the list that the job took (description links by
 * their host, mobile-details links with the image space) and has not met
 * before, as moved or as failed by the failure list. */
static void countLinks(ConsoleProgress *p, const PtrVector *list, int mobile, const PtrVector *failures) {
    const MoveOptions &o = p->options;
    for (int32_t i = 0; i < listCount(list); i++) {
        const char *url = (const char *)list->items[i];
        int taken = linkSelected(o, url, mobile ? MOBILE_IMAGE : DESCRIPTION_IMAGE);
        int moved = !(failures && ptrVectorContains(failures, url, stringEquals));
        if (!taken || !p->links.emplace(url, moved).second) continue;
        (moved ? p->moved : p->failed)++;
    }
}

void startProgress(ConsoleProgress *progress, ProgressStyle style, const MoveOptions &options, int itemCount) {
    *progress = ConsoleProgress();
    progress->style = style;
    progress->options = options;
    progress->itemCount = itemCount;
}

static void drawBar(const ConsoleProgress *p) {
    char bar[BAR_WIDTH + 1];
    int filled = p->itemCount > 0 ? (int)((long long)p->doneCount * BAR_WIDTH / p->itemCount) : BAR_WIDTH;
    memset(bar, '#', (size_t)filled);
    memset(bar + filled, '-', (size_t)(BAR_WIDTH - filled));
    bar[BAR_WIDTH] = '\0';
    printText(stderr, "\r[%s] 宝贝 %d/%d  已搬图片 %ld  失败 %ld", bar, p->doneCount, p->itemCount, p->moved, p->failed);
}

static void itemFinished(void *context, int, const ItemRecord *item, int doneCount) {
    ConsoleProgress *p = (ConsoleProgress *)context;
    countLinks(p, item->descLinks, 0, item->pcFailures);
    countLinks(p, item->mobileLinks, 1, item->mobileFailures);
    p->doneCount = doneCount;
    if (p->style == PROGRESS_BAR) drawBar(p);
    if (p->style == PROGRESS_LINES)
        printText(stderr, "宝贝 %d/%d  已搬图片 %ld  失败 %ld  %s\n", doneCount, p->itemCount, p->moved, p->failed,
                  shownTitle(item->title).c_str());
    fflush(stderr);
    p->barOpen = p->style == PROGRESS_BAR;
}

void endProgressLine(ConsoleProgress *progress) {
    if (progress->barOpen) fputc('\n', stderr);
    progress->barOpen = 0;
}

void printMessage(ConsoleProgress *progress, FILE *stream, const char *text) {
    endProgressLine(progress);
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
