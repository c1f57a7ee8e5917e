/* The main window's parts, as the program's entry uses them: the layout
 * builds the controls, the window procedure carries the wizard, and the
 * view lets the move job report into the window. */
#ifndef LUMORA_WINDOW_H
#define LUMORA_WINDOW_H

#include <windows.h>

#include "lumora_version.h"
#include "move_view.h"

/* The product's title and version, which form the window title. */
#define PRODUCT_TITLE "Lumora"
static const double PRODUCT_VERSION = LUMORA_VERSION_MAJOR + LUMORA_VERSION_MINOR / 10.0;

/* Creates every control of the window, in their order (on WM_CREATE); the
 * two page panels are given pageProc, so that their controls report to it. */
void createControls(HWND window, HINSTANCE instance, WNDPROC pageProc);

/* Adjusts the window's height to the caption and centres it on the screen. */
void sizeAndCentre(HWND window);

/* Sets the window's big icon from an icon resource. */
void setBigIcon(HINSTANCE instance, HWND window, int resource);

/* The procedure of the main window and of both page panels. */
LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

/* Handles the link labels for a message of the loop; 1 when the message is
 * taken and must not be dispatched. */
int handleLinkMessage(const MSG &msg);

/* What the job's view asks of the window's thread (window_progress.h):
 * for an item finished wParam is the count of items done and lParam the
 * item; for failures changed wParam is the item's index; for the job's
 * text lParam is the text. */
enum {
    WM_ITEM_FINISHED = WM_APP + 1,
    WM_FAILURES_CHANGED,
    WM_JOB_TEXT,
    WM_MOVE_ENDED,
};

/* The move job's view onto the window's controls. */
const MoveView *windowView(void);

/* Shows a message box owned by the main window (none before it exists). */
void showWindowMessage(const char *text, const char *caption, MessageIcon icon);

#endif
