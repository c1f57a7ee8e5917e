/* The wizard's choosers; see window_choosers.h. The folder browser takes
 * its starting folder through a callback, which reads it from a buffer
 * allocated once and kept for the process's life. */
#include "window_choosers.h"

#include <windows.h>
#include <shlobj.h>
#include <stdlib.h>

#include "shell_state.h"

enum { BROWSE_PATH_SIZE = 1024 };

static char *browseInitialPath;  // the folder browser's starting folder

void chooseCsv(void) {
    char path[PATH_SIZE] = "";
    static const char FILTER[] = "csv文件 (*.csv)\0*.csv\0";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = mainWindow;
    dialog.lpstrFilter = FILTER;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.lpstrTitle = "选择淘宝助理导出的数据包(CSV)文件";
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    if (GetOpenFileNameA(&dialog)) SetWindowTextA(controls.csvPathBox, path);
}

/* The folder dialog starts at the current folder and allows only folders
 * that have a file-system path. */
static int CALLBACK browseCallback(HWND dialog, UINT message, LPARAM lParam, LPARAM) {
    if (message == BFFM_INITIALIZED) SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, (LPARAM)browseInitialPath);
    if (message == BFFM_SELCHANGED) {
        char path[MAX_PATH] = "";
        SHGetPathFromIDListA((LPITEMIDLIST)lParam, path);
        SendMessageA(dialog, BFFM_ENABLEOK, 0, path[0] != '\0');
    }
    return 0;
}

void chooseFolder(void) {
    if (!browseInitialPath) browseInitialPath = (char *)calloc(BROWSE_PATH_SIZE, 1);
    if (!browseInitialPath) return;
    GetWindowTextA(controls.targetFolderBox, browseInitialPath, BROWSE_PATH_SIZE);
    BROWSEINFOA info = {};
    info.hwndOwner = mainWindow;
    info.lpszTitle = "图片搬家到：";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    info.lpfn = browseCallback;
    CoInitialize(NULL);
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    char path[MAX_PATH] = "";
    if (chosen && SHGetPathFromIDListA(chosen, path)) SetWindowTextA(controls.targetFolderBox, path);
    if (chosen) CoTaskMemFree(chosen);
    CoUninitialize();
}
