/* Driving the windows of another process, as the window tests drive
 * Lumora.exe: finding windows by class, identifier or text, reading and
 * setting texts, clicking, reading and selecting list-view rows, and the
 * standard message boxes.
 *
 * Nothing here may hang a test run. Every message goes out through
 * SendMessageTimeout, so a window whose thread sits in a modal loop fails a
 * call instead of blocking it, and every wait polls against a deadline.
 * Clicks are posted (PostMessage BM_CLICK): a click that opens a message box
 * returns only when the box is gone, so the caller posts it and then waits
 * for what the click brings. The list view's item messages carry pointers,
 * which Windows does not carry across processes; their LVITEMA and text
 * live in memory allocated inside the program for the call. */
#ifndef LUMORA_TESTS_GUI_REMOTE_UI_H
#define LUMORA_TESTS_GUI_REMOTE_UI_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

/* How long a test waits for what a step should bring about. */
enum { WAIT_MS = 15000 };

/* Polls done() every 50 ms until it holds or timeoutMs have passed;
 * returns whether it held. */
bool waitUntil(const std::function<bool()> &done, int timeoutMs = WAIT_MS);

std::string classOf(HWND window);

/* The window's text by WM_GETTEXT; "" when the window does not answer. */
std::string textOf(HWND window);

/* Sets the window's text by WM_SETTEXT; false when the window did not answer. */
bool setTextOf(HWND window, const std::string &text);

/* Posts a click to a button. */
void postClick(HWND button);

bool isChecked(HWND box);

/* Every descendant of parent, in the order EnumChildWindows gives. */
std::vector<HWND> descendantsOf(HWND parent);

/* The first descendant of parent with the identifier and class (case does
 * not matter), or NULL. */
HWND findDescendant(HWND parent, int id, const char *windowClass);

/* The visible top-level windows of process pid with the class. */
std::vector<HWND> topWindowsOf(DWORD pid, const char *windowClass);

/* A list view of another process, read and driven through memory in that
 * process; process needs PROCESS_VM_OPERATION, _READ and _WRITE access. */
class RemoteListView {
public:
    RemoteListView(HANDLE process, HWND list) : process(process), list(list) {}
    /* The number of rows; -1 when the list does not answer. */
    int rowCount() const;
    /* The text of one cell; "" when it has none or cannot be read. */
    std::string cell(int row, int column) const;
    /* One column's texts, top to bottom. */
    std::vector<std::string> column(int column) const;
    /* Selects and focuses the row, as a click on it would; false on failure. */
    bool select(int row) const;

private:
    HANDLE process;
    HWND list;
};

/* A standard message box as the user sees it. */
struct MessageBoxView {
    HWND box = NULL;
    HWND owner = NULL;
    std::string caption;
    std::string text;
    std::vector<int> buttons;           // identifiers of the visible buttons, left to right
    std::vector<std::string> labels;    // their texts, in the same order
};

/* Reads a message box: its caption, its text (the static 0xFFFF) and its
 * visible buttons. */
MessageBoxView readMessageBox(HWND box);

/* The identifier of the box's button with the label; 0 when none has it. */
int buttonLabelled(const MessageBoxView &view, const std::string &label);

/* Answers the box as a click on the button would (WM_COMMAND, posted) and
 * waits until the box is gone; false when it stays. */
bool answerMessageBox(const MessageBoxView &view, int button);

#endif
