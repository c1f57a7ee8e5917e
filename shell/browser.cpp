/* Opening a web page; see browser.h.
 *
 * FindExecutableA answers for an existing file only, so an empty probe page
 * is kept in the program's folder, the one folder the program writes to
 * anyway; an existing probe page is left as it is. What the lookup finds
 * decides the order of two launches: a real browser first, the shell's own
 * opening of the address when nothing useful was found ("Open with" is the
 * system asking the user, no browser), and Internet Explorer as the last
 * resort. A failed launch is not reported: the page is a convenience. */
#include "browser.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <shellapi.h>

#include "paths.h"
#include "platform.h"
#include "text_utils.h"

static const char PROBE_PAGE[] = "temp.html";
static const char FALLBACK_BROWSER[] = "iexplore.exe";

/* The program file's folder; empty until it is known. */
static char launchDir[PATH_SIZE];

static void findLaunchDir(void) {
    if (launchDir[0]) return;
    DWORD n = GetModuleFileNameA(NULL, launchDir, sizeof launchDir);
    if (n == 0 || n >= sizeof launchDir) {
        launchDir[0] = '\0';  // a truncated path may not even be terminated
        return;
    }
    cutAtLastSeparator(launchDir);
}

/* Names the probe page in out (PATH_SIZE bytes) and makes sure it exists.
 * Returns 0 when its path does not fit. */
static int prepareProbePage(char *out) {
    findLaunchDir();
    if (!launchDir[0]) strcpy(out, PROBE_PAGE);
    else if (!joinPath(out, PATH_SIZE, launchDir, PROBE_PAGE)) return 0;
    FILE *f = fopen(out, "a");
    if (f) fclose(f);
    return 1;
}

/* Fills found (PATH_SIZE bytes) with the program that opens the probe page;
 * empty when there is none. */
static void findPageHandler(char *found) {
    char probe[PATH_SIZE];
    memset(found, 0, PATH_SIZE);
    if (!prepareProbePage(probe)) return;
    if ((INT_PTR)FindExecutableA(probe, NULL, found) <= 32) found[0] = '\0';
}

LaunchPlan launchPlan(const char *handler) {
    if (!handler[0] || endsWithNoCase(handler, "OpenWith.exe")) return {NULL, FALLBACK_BROWSER};
    if (endsWithNoCase(handler, FALLBACK_BROWSER)) return {handler, NULL};
    return {handler, FALLBACK_BROWSER};
}

int openInShell(const char *path) {
    return (INT_PTR)ShellExecuteA(NULL, "open", path, NULL, NULL, SW_SHOW) > 31;
}

/* One launch as the plan names it; 1 when the shell accepted it. */
static int launch(const char *program, const char *address) {
    if (!program) return openInShell(address);
    return (INT_PTR)ShellExecuteA(NULL, "open", program, address, NULL, SW_SHOW) > 31;
}

int openWebPage(const char *address) {
    char handler[PATH_SIZE];
    findPageHandler(handler);
    LaunchPlan plan = launchPlan(handler);
    return launch(plan.first, address) || launch(plan.second, address);
}
