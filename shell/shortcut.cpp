/* The desktop shortcut; see shortcut.h.
 *
 * The link is made through the shell's IShellLinkA and saved through its
 * IPersistFile, which takes a UTF-16 path. The question offers three
 * answers in a standard message box whose buttons are relabelled, by a CBT
 * hook on this thread, when the box becomes active: "yes", "don't ask
 * again" (the box's "no") and "no" (its "cancel", which closing the box
 * answers too). Every path lives in a MAX_PATH buffer; a path that would
 * not fit means no offer rather than a cut path. */
#include "shortcut.h"

#include <stdio.h>
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include "file_helpers.h"
#include "paths.h"
#include "platform.h"
#include "shell_state.h"

static const char LINK_NAME[] = "Lumora.lnk";
static const char NO_SHORTCUT_MARKER[] = "no_shortcut.txt";

static int validLinkArguments(const char *target, const char *arguments, const char *linkPath,
                              const char *description, int showCommand, const char *workingDir,
                              const char *iconPath, int iconIndex) {
    return target && target[0] && linkPath && linkPath[0] && arguments && description && workingDir && iconPath &&
           showCommand >= 0 && iconIndex >= 0;
}

/* Saves the link at linkPath (ANSI code page); the COM result. */
static HRESULT saveLink(IShellLinkA *link, const char *linkPath) {
    IPersistFile *file = NULL;
    HRESULT result = link->QueryInterface(IID_IPersistFile, (void **)&file);
    if (FAILED(result)) return result;
    WCHAR widePath[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath, MAX_PATH) == 0)
        result = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);  // too long to be a path
    else
        result = file->Save(widePath, TRUE);
    file->Release();
    return result;
}

HRESULT createShellLink(const char *target, const char *arguments, const char *linkPath, const char *description,
                        int showCommand, const char *workingDir, const char *iconPath, int iconIndex) {
    if (!validLinkArguments(target, arguments, linkPath, description, showCommand, workingDir, iconPath, iconIndex))
        return E_INVALIDARG;
    IShellLinkA *link = NULL;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link);
    if (FAILED(result)) return result;
    link->SetPath(target);
    link->SetArguments(arguments);
    if (description[0]) link->SetDescription(description);
    if (showCommand != 0) link->SetShowCmd(showCommand);
    if (workingDir[0]) link->SetWorkingDirectory(workingDir);
    if (iconPath[0]) link->SetIconLocation(iconPath, iconIndex);
    result = saveLink(link, linkPath);
    link->Release();
    return result;
}

static HHOOK relabelHook;

/* Relabels the question's buttons as its box becomes active, then removes
 * itself: the box is the first window this thread activates after the hook
 * goes in. */
static LRESULT CALLBACK relabelButtons(int code, WPARAM wParam, LPARAM lParam) {
    LRESULT next = CallNextHookEx(relabelHook, code, wParam, lParam);
    if (code == HCBT_ACTIVATE) {
        HWND box = (HWND)wParam;
        SetDlgItemTextA(box, IDNO, "不用再提示");
        SetDlgItemTextA(box, IDCANCEL, "否(&N)");
        UnhookWindowsHookEx(relabelHook);
        relabelHook = NULL;
    }
    return next;
}

/* The answer to the question: IDYES, IDNO ("don't ask again") or IDCANCEL
 * ("no", or the box closed). */
static int askForShortcut(HWND owner) {
    relabelHook = SetWindowsHookExA(WH_CBT, relabelButtons, NULL, GetCurrentThreadId());
    int answer = MessageBoxA(owner, "需要在桌面上创建一个软件打开的快捷方式吗？", "询问", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (relabelHook) {  // a box that never came up left the hook in place
        UnhookWindowsHookEx(relabelHook);
        relabelHook = NULL;
    }
    return answer;
}

static void createDesktopShortcut(HWND owner, const char *program, const char *linkPath) {
    CoInitialize(NULL);
    if (createShellLink(program, "", linkPath, "", SW_SHOW, appDir, program, 0) >= 0)
        MessageBoxA(owner, "在桌面上成功创建了一个快捷方式", "提示", MB_ICONINFORMATION);
    else
        MessageBoxA(owner, "在桌面上创建快捷方式失败", "提示", MB_ICONERROR);
    CoUninitialize();
}

/* The marker is an empty file; when it cannot be written, the question
 * simply comes again next time. */
static void declineForGood(const char *marker) {
    FILE *f = fopen(marker, "w");
    if (f) fclose(f);
}

void offerDesktopShortcut(HWND owner) {
    char desktop[PATH_SIZE], linkPath[PATH_SIZE], marker[PATH_SIZE], program[PATH_SIZE];
    desktopFolder(desktop, sizeof desktop);  // empty when there is none
    if (!joinPath(linkPath, sizeof linkPath, desktop, LINK_NAME) || fileExists(linkPath)) return;
    if (!joinPath(marker, sizeof marker, appDir, NO_SHORTCUT_MARKER) || fileExists(marker)) return;
    DWORD n = GetModuleFileNameA(NULL, program, sizeof program);
    if (n == 0 || n >= sizeof program) return;
    switch (askForShortcut(owner)) {
    case IDYES:
        createDesktopShortcut(owner, program, linkPath);
        break;
    case IDNO:
        declineForGood(marker);
        break;
    default:
        break;
    }
}
