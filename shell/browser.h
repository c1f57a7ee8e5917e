/* Opening a web page in the user's browser. */
#ifndef LUMORA_BROWSER_H
#define LUMORA_BROWSER_H

/* Opens the address in the program that opens .html files (found through an
 * empty probe page "temp.html" in the program's folder), falling back to the
 * shell's own handling and to Internet Explorer. Failures are silent; the
 * result (1 when a launch succeeded) is for tests. */
int openWebPage(const char *address);

/* Opens a file or folder as a double click on it does (ShellExecute
 * "open"): a folder in Explorer, a file in the program that opens its kind.
 * Returns 1 when the shell accepted it. */
int openInShell(const char *path);

/* The two launches openWebPage tries in turn, given the program found for
 * .html files ("" when none): each names the program to run with the
 * address, or is NULL for the shell's own opening of the address. A found
 * program is pointed into, not copied. */
struct LaunchPlan {
    const char *first;
    const char *second;
};
LaunchPlan launchPlan(const char *handler);

#endif
