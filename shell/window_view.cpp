/* The move job's view onto the main window. The job runs on its own
 * thread; every control update here is a synchronous message, which the
 * window's thread carries out while the job waits, so the controls are only
 * ever changed on the window's thread. The job's message boxes, like every
 * box showWindowMessage shows, run on the thread that asks, owned by the
 * main window, and hold the job until answered. */
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>

#include "shell_state.h"
#include "window.h"

/* Sets the text of a cell of the item list. */
static void setCell(int row, int column, const char *text) {
    LVITEMA cell = {};
    cell.iSubItem = column;
    cell.pszText = (char *)text;
    SendMessageA(controls.itemListView, LVM_SETITEMTEXTA, (WPARAM)row, (LPARAM)&cell);
}

static void setCount(int row, int column, const PtrVector *list) {
    char count[16];
    snprintf(count, sizeof count, "%d", list->count);
    setCell(row, column, count);
}

static void itemStarted(void *, int index) {
    SendMessageA(controls.itemListView, LVM_ENSUREVISIBLE, (WPARAM)index, TRUE);
    setCell(index, 1, "搬家中");
}

static void itemFinished(void *, int index, const ItemRecord *item, int doneCount) {
    setCell(index, 1, "完成");
    if (item->pcFailures) setCount(index, 2, item->pcFailures);
    if (item->mobileFailures) setCount(index, 3, item->mobileFailures);
    SendMessageA(controls.progressBar, PBM_SETPOS, (WPARAM)doneCount, 0);
    SendMessageA(mainWindow, WM_ITEM_FINISHED, (WPARAM)doneCount, (LPARAM)item);
}

static void progressText(void *, const char *text) {
    SendMessageA(mainWindow, WM_JOB_TEXT, 0, (LPARAM)text);
}

/* The item's failure text is formed afresh, and shown at once when its row
 * is selected. */
static void failuresChanged(void *, int index) {
    SendMessageA(mainWindow, WM_FAILURES_CHANGED, (WPARAM)index, 0);
    UINT state = (UINT)SendMessageA(controls.itemListView, LVM_GETITEMSTATE, (WPARAM)index, LVIS_SELECTED);
    if (!(state & LVIS_SELECTED)) return;
    NMHDR header = {controls.itemListView, 0, (UINT)LVN_ITEMCHANGED};
    SendMessageA(mainWindow, WM_NOTIFY, 0, (LPARAM)&header);
}

void showWindowMessage(const char *text, const char *caption, MessageIcon icon) {
    static const UINT ICONS[] = {MB_ICONERROR, MB_ICONWARNING, MB_ICONINFORMATION, MB_ICONQUESTION};
    MessageBoxA(mainWindow, text, caption, MB_OK | ICONS[icon]);
}

static void message(void *, const char *text, const char *caption, MessageIcon icon) {
    showWindowMessage(text, caption, icon);
}

static void jobEnded(void *) {
    SendMessageA(mainWindow, WM_MOVE_ENDED, 0, 0);
    EnableWindow(controls.prevButton, TRUE);
    EnableWindow(controls.closeButton, TRUE);
    EnableMenuItem(GetSystemMenu(mainWindow, FALSE), SC_CLOSE, MF_ENABLED);
}

const MoveView *windowView(void) {
    static const MoveView view = {NULL, itemStarted, itemFinished, progressText, failuresChanged, message, jobEnded};
    return &view;
}
