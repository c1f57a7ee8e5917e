/* Page two during and after a move; see window_progress.h.
 *
 * The label is drawn by a timer twice a second while the walk runs, not at
 * every item, so a move of many small items costs the window no more than
 * a slow one; the job's own texts are drawn at once only once the walk is
 * over (its last item, the rewrite's percentage). The failure texts are
 * formed when the job says an item's lists changed, while the job waits,
 * because the reasons they quote are the job's to change meanwhile: a
 * click on a row reads only the texts formed. */
#include "window_progress.h"

#include <windows.h>
#include <string.h>

#include <vector>

#include "browser.h"
#include "failure_report.h"
#include "failure_words.h"
#include "move_checks.h"
#include "progress_figures.h"
#include "shell_state.h"

enum { PROGRESS_TIMER = 1, PROGRESS_TICK_MS = 500 };

static ProgressTally tally;
static std::vector<std::string> failureTexts;  // by item, as the move left them
static const MoveJob *shownJob;                 // the move whose progress is shown; NULL before the first
static std::string jobSuffix;                   // what the job's last text added to its counts

/* Whether the walk over the items still runs: the timer then draws. */
static int walking(void) {
    return shownJob && tally.doneCount < tally.itemCount && !abortRequested;
}

static void drawFigures(void) {
    SetWindowTextA(controls.progressLabel, (figuresText(tallyFigures(&tally)) + jobSuffix).c_str());
}

void startMoveProgress(const MoveJob &job) {
    shownJob = &job;
    startTally(&tally, job.options, job.items, 1);
    failureTexts.assign((size_t)job.items->count, std::string());
    jobSuffix.clear();
    ShowWindow(controls.openReportButton, SW_HIDE);
    ShowWindow(controls.openFolderButton, SW_HIDE);
    drawFigures();
    SetTimer(mainWindow, PROGRESS_TIMER, PROGRESS_TICK_MS, NULL);
}

void onItemFinished(const ItemRecord *item, int doneCount) {
    tallyItem(&tally, item, doneCount);
}

void onFailuresChanged(int index, const ItemRecord *item) {
    if (!shownJob || index < 0 || (size_t)index >= failureTexts.size()) return;
    const FailureReasons *reasons = shownJob->reasons;
    failureTexts[(size_t)index] = failureListText(*item, "\r\n", [reasons](const char *link) {
        return reasons ? failureNote(*reasons, link) : std::string();
    });
}

void onJobText(const char *text) {
    // the job's counts end at the first ')', a byte that no GBK character holds inside it
    const char *counts = strchr(text, ')');
    jobSuffix = counts ? counts + 1 : "";
    if (!walking() || !jobSuffix.empty()) drawFigures();
}

void onProgressTick(void) {
    if (walking()) drawFigures();
}

/* The move's failure report, when it wrote one; 0 otherwise. */
static int reportPath(char *path) {
    return shownJob && tally.failed > 0 && failureReportExists(shownJob->packagePath, path, PATH_SIZE);
}

void onMoveEnded(void) {
    KillTimer(mainWindow, PROGRESS_TIMER);
    char path[PATH_SIZE];
    ShowWindow(controls.openReportButton, reportPath(path) ? SW_SHOW : SW_HIDE);
    ShowWindow(controls.openFolderButton, tally.moved > 0 ? SW_SHOW : SW_HIDE);
}

std::string itemFailureText(int index) {
    return index >= 0 && (size_t)index < failureTexts.size() ? failureTexts[(size_t)index] : "";
}

void clearMoveProgress(void) {
    KillTimer(mainWindow, PROGRESS_TIMER);
    shownJob = NULL;
    failureTexts.clear();
    ShowWindow(controls.openReportButton, SW_HIDE);
    ShowWindow(controls.openFolderButton, SW_HIDE);
}

/* Opens the path as a double click would; says so when the shell cannot. */
static void openOrSay(const char *path) {
    if (openInShell(path)) return;
    std::string text = std::string("无法打开：") + path;
    MessageBoxA(mainWindow, text.c_str(), "提示", MB_OK | MB_ICONWARNING);
}

void openFailureReport(void) {
    char path[PATH_SIZE];
    if (reportPath(path)) openOrSay(path);
}

void openImageFolder(void) {
    if (shownJob) openOrSay(shownJob->targetFolder);
}
