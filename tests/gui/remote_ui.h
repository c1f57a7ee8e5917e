/* Driving the windows of another process, as the window tests drive
 * Lumora.exe: finding windows, reading texts, list-view cells passed through
 * memory inside the process (Windows carries no pointers across processes),
 * dropped files, the standard message boxes, and screenshots.
 *
 * Nothing here may hang a test run: every message goes out through
 * SendMessageTimeout, so a window whose thread sits in a modal loop fails a
 * call instead of blocking it, and every wait polls against a deadline.
 * Clicks are posted, since a click that opens a message box returns only
 * when the box is gone. */
#ifndef LUMORA_TESTS_GUI_REMOTE_UI_H
#define LUMORA_TESTS_GUI_REMOTE_UI_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

enum { WAIT_MS = 15000 };

/* Polls done() until it holds or timeoutMs have passed; whether it held. */
bool waitUntil(const std::function<bool()> &done, int timeoutMs = WAIT_MS);
std::string classOf(HWND window);
/* "" when the window does not answer. */
std::string textOf(HWND window);
bool setTextOf(HWND window, const std::string &text);
bool isChecked(HWND box);
std::vector<HWND> descendantsOf(HWND parent);
/* The visible top-level windows of process pid with the class. */
std::vector<HWND> topWindowsOf(DWORD pid, const char *windowClass);

/* One column of a list view of process, top to bottom; "" for a cell that cannot be read. */
std::vector<std::string> listColumn(HANDLE process, HWND list, int column);
/* Selects and focuses a row, as a click on it would. */
bool selectRow(HANDLE process, HWND list, int row);
/* Drops the files on the window, as the shell does after a drag. */
bool dropFiles(HANDLE process, HWND window, const std::vector<std::string> &paths);

/* A standard message box as the user sees it. */
struct MessageBoxView {
    HWND box = NULL, owner = NULL;
    std::string caption, text;
    std::vector<int> buttons;         // identifiers of the visible buttons, left to right
    std::vector<std::string> labels;  // their texts
};
MessageBoxView readMessageBox(HWND box);
/* Answers as a click on the button would and waits until the box is gone. */
bool answerMessageBox(const MessageBoxView &view, int button);

/* When LUMORA_GUI_SHOTS names a folder, writes NAME.want there with the
 * window's place as WIDTHxHEIGHT+X+Y and waits for scripts/gui-test.sh to
 * take the picture and write NAME.done. */
void screenshot(HWND window, const char *name);

#endif
