/* Driving the windows of another process, as the window tests drive
 * Lumora.exe. Nothing here may hang a test run: every message goes out
 * through SendMessageTimeout, so a window whose thread sits in a modal loop
 * fails a call instead of blocking it, and every wait polls against a
 * deadline. Messages that carry pointers (list-view items, dropped files)
 * carry them into memory allocated inside the process for the call. */
#ifndef LUMORA_TESTS_GUI_REMOTE_UI_H
#define LUMORA_TESTS_GUI_REMOTE_UI_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

enum { WAIT_MS = 15000 };

bool waitUntil(const std::function<bool()> &done, int timeoutMs = WAIT_MS);
/* The window's answer to the message; -1 when it does not answer in time. */
LONG_PTR ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
std::string textOf(HWND window);
std::vector<HWND> descendantsOf(HWND parent);
/* The first visible top-level window of process pid with the class, or NULL. */
HWND topWindowOf(DWORD pid, const char *windowClass);

/* One column of a list view, top to bottom. */
std::vector<std::string> listColumn(HANDLE process, HWND list, int column);
/* Selects and focuses a row, as a click on it would. */
bool selectRow(HANDLE process, HWND list, int row);
/* Drops the files on the window, as the shell does after a drag. */
bool dropFiles(HANDLE process, HWND window, const std::vector<std::string> &paths);

/* A standard message box: its text is the static 0xFFFF; its visible
 * buttons' identifiers and labels are listed left to right. */
struct MessageBoxView {
    HWND box = NULL, owner = NULL;
    std::string caption, text;
    std::vector<int> buttons;
    std::vector<std::string> labels;
};
MessageBoxView readMessageBox(HWND box);
/* Answers as a click on the button would and waits until the box is gone. */
bool answerMessageBox(const MessageBoxView &view, int button);

/* When LUMORA_GUI_SHOTS names a folder, writes NAME.want there with the
 * window's place as WIDTHxHEIGHT+X+Y and waits for scripts/gui-test.sh to
 * take the picture and write NAME.done. */
void screenshot(HWND window, const char *name);

#endif
