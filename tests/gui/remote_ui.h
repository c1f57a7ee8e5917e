/* Driving the windows of another process, as the window tests drive Lumora.exe. Nothing here may hang a
 * test run: messages go out through SendMessageTimeout, so a window whose thread sits in a modal loop fails
 * a call instead of blocking it; every wait polls against a deadline. Pointers that messages carry point into
 * memory allocated in the process; text is measured there too, since fonts mean nothing in another process. */
#ifndef LUMORA_TESTS_GUI_REMOTE_UI_H
#define LUMORA_TESTS_GUI_REMOTE_UI_H

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "package_builder.h"

enum { WAIT_MS = 15000, POLL_MS = 50, ANSWER_MS = 5000, REMOTE_SIZE = 4096, PAINT_MS = 300, SHOT_MS = 20000 };

inline bool waitUntil(const std::function<bool()> &done, int timeoutMs = WAIT_MS) {
    for (ULONGLONG deadline = GetTickCount64() + (ULONGLONG)timeoutMs; !done(); Sleep(POLL_MS))
        if (GetTickCount64() >= deadline) return false;
    return true;
}

/* The window's answer to the message; -1 when it does not answer in time. */
inline LONG_PTR ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, ANSWER_MS, &result) ? result : -1;
}

inline std::string textOf(HWND window) {
    char text[REMOTE_SIZE] = "";
    return ask(window, WM_GETTEXT, sizeof text, (LPARAM)text) >= 0 ? text : "";
}

inline HWND topWindowOf(DWORD pid, const char *windowClass) {
    DWORD owner = 0;
    for (HWND window = NULL; (window = FindWindowExA(NULL, window, windowClass, NULL)) != NULL;)
        if (GetWindowThreadProcessId(window, &owner) && owner == pid && IsWindowVisible(window)) return window;
    return NULL;
}

/* Sends a list-view item message with its LVITEMA, and the text after it, inside the process. */
inline LONG_PTR sendItem(HANDLE process, HWND list, UINT message, WPARAM row, LVITEMA item, std::string *text) {
    char *block = (char *)VirtualAllocEx(process, NULL, REMOTE_SIZE, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!block) return -1;
    item.pszText = block + sizeof item;
    item.cchTextMax = REMOTE_SIZE - sizeof item;
    LONG_PTR result = -1;
    if (WriteProcessMemory(process, block, &item, sizeof item, NULL)) result = ask(list, message, row, (LPARAM)block);
    char copy[REMOTE_SIZE] = "";
    if (text && result >= 0 && ReadProcessMemory(process, item.pszText, copy, item.cchTextMax - 1, NULL)) *text = copy;
    VirtualFreeEx(process, block, 0, MEM_RELEASE);
    return result;
}

inline std::vector<std::string> listColumn(HANDLE process, HWND list, int column) {
    std::vector<std::string> cells(std::max<LONG_PTR>(0, ask(list, LVM_GETITEMCOUNT)));
    LVITEMA item = {};
    item.iSubItem = column;
    for (size_t row = 0; row < cells.size(); row++) sendItem(process, list, LVM_GETITEMTEXTA, row, item, &cells[row]);
    return cells;
}

/* The width of the text in the list's font, which the labels share; INT_MAX when it cannot be measured. */
inline LONG_PTR stringWidth(HANDLE process, HWND list, const std::string &text) {
    char *block = (char *)VirtualAllocEx(process, NULL, text.size() + 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    bool copied = block && WriteProcessMemory(process, block, text.c_str(), text.size() + 1, NULL);
    LONG_PTR width = copied ? ask(list, LVM_GETSTRINGWIDTHA, 0, (LPARAM)block) : -1;
    if (block) VirtualFreeEx(process, block, 0, MEM_RELEASE);
    return width < 0 ? INT_MAX : width;
}

inline LONG_PTR textWidth(HANDLE process, HWND list, HWND control) { return stringWidth(process, list, textOf(control)); }

/* A visible top-level window whose title holds text, of any process; NULL when there is none. */
inline HWND windowTitled(const std::string &text) {
    for (HWND window = NULL; (window = FindWindowExA(NULL, window, NULL, NULL)) != NULL;)
        if (IsWindowVisible(window) && textOf(window).find(text) != std::string::npos) return window;
    return NULL;
}

inline bool selectRow(HANDLE process, HWND list, int row) {
    LVITEMA item = {};
    item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
    return sendItem(process, list, LVM_SETITEMSTATE, row, item, NULL) > 0;
}

inline bool dropFiles(HANDLE process, HWND window, const std::vector<std::string> &paths) {
    DROPFILES head = {sizeof head, {0, 0}, FALSE, FALSE};
    std::string block((const char *)&head, sizeof head);
    for (const std::string &path : paths) block += path + '\0';
    block += '\0';
    // DragQueryFile reads the block via GlobalLock, which in Wine takes any plain (non-handle) pointer as a fixed block
    void *remote = VirtualAllocEx(process, NULL, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    return remote && WriteProcessMemory(process, remote, block.data(), block.size(), NULL) &&
           PostMessageA(window, WM_DROPFILES, (WPARAM)remote, 0);
}

struct MessageBoxView {  // a standard message box
    HWND box = NULL, owner = NULL;
    std::string caption, text;
    std::vector<int> buttons;  // the visible ones, left to right
};

inline MessageBoxView readMessageBox(HWND box) {
    MessageBoxView view = {box, GetWindow(box, GW_OWNER), textOf(box), textOf(GetDlgItem(box, 0xFFFF)), {}};
    std::vector<std::pair<LONG, int>> buttons;
    RECT r;
    for (HWND b = NULL; (b = FindWindowExA(box, b, "Button", NULL)) != NULL;)
        if (IsWindowVisible(b) && GetWindowRect(b, &r)) buttons.push_back({r.left, GetDlgCtrlID(b)});
    std::sort(buttons.begin(), buttons.end());
    for (const auto &b : buttons) view.buttons.push_back(b.second);
    return view;
}

/* Answers as a click on the button would and waits until the box is gone. */
inline bool answerMessageBox(const MessageBoxView &view, int button) {
    PostMessageA(view.box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(view.box, button));
    return waitUntil([&] { return !IsWindow(view.box) || !IsWindowVisible(view.box); });
}

/* When LUMORA_GUI_SHOTS names a folder, writes NAME.want there, whole or not at all, with the window's place
 * (WIDTHxHEIGHT+X+Y) and waits for scripts/gui-test.sh to take the picture and write NAME.done. */
inline void screenshot(HWND window, const char *name) {
    const char *folder = getenv("LUMORA_GUI_SHOTS");
    RECT r;
    if (!folder || !folder[0] || !GetWindowRect(window, &r)) return;
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    Sleep(PAINT_MS);  // the program paints in its own time
    std::string geometry = std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + "+" +
                           std::to_string(r.left) + "+" + std::to_string(r.top) + "\n";
    std::string base = std::string(folder) + "\\" + name, ready = base + ".tmp", done = base + ".done";
    if (writeFile(ready, geometry) && MoveFileExA(ready.c_str(), (base + ".want").c_str(), MOVEFILE_REPLACE_EXISTING))
        waitUntil([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, SHOT_MS);
    DeleteFileA(done.c_str());
}

#endif
