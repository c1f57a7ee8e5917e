/* The desktop shortcut; see shortcut.h.
 *
 * The link is made through the shell's IShellLinkA and saved through its
 * IPersistFile, which takes a UTF-16 path. The question offers three
 * answers in a standard message box whose buttons are relabelled, by a CBT
 * hook on this thread, when the box becomes active: "yes", "don't ask
 * again" (the box's "no", widened to its longer text) and "no" (its
 * "cancel", which closing the box answers too). Every path lives in a
 * MAX_PATH buffer; a path that would not fit means no offer rather than a
 * cut path. */
#include "shortcut.h"

#include <stdio.h>
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include "file_helpers.h"
#include "paths.h"
#include "platform.h"
#include "screen_scale.h"
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

/* Room beside a button's text, in 96-dpi pixels on each side. */
enum { BUTTON_TEXT_MARGIN = 10 };

/* The width a button needs for its text in its own font. */
static int textWidth(HWND button) {
    char text[64];
    int length = GetWindowTextA(button, text, sizeof text);
    HDC dc = GetDC(button);
    if (!dc) return 0;
    HGDIOBJ previous = SelectObject(dc, (HFONT)SendMessageA(button, WM_GETFONT, 0, 0));
    SIZE size = {0, 0};
    GetTextExtentPoint32A(dc, text, length, &size);
    SelectObject(dc, previous);
    ReleaseDC(button, dc);
    return size.cx + 2 * scaled(BUTTON_TEXT_MARGIN);
}

/* A window's rectangle in its parent's client coordinates. */
static RECT rectInParent(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(NULL, GetParent(window), (POINT *)&r, 2);
    return r;
}

struct ButtonShift {
    HWND widened;
    LONG rightEdge;  /* the widened button's right edge before */
    int grow;
};

/* Moves a button of the box: those right of the widened one by all it
 * grew, every one by half of that, so the row stays centred. */
static BOOL CALLBACK shiftButton(HWND child, LPARAM context) {
    const ButtonShift *shift = (const ButtonShift *)context;
    char name[16];
    if (child == shift->widened || !GetClassNameA(child, name, sizeof name) || lstrcmpiA(name, "Button") != 0)
        return TRUE;
    RECT r = rectInParent(child);
    int dx = shift->grow / 2 + (r.left >= shift->rightEdge ? shift->grow : 0);
    SetWindowPos(child, NULL, r.left + dx, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

/* Widens the box's button to its text where the box made it too narrow,
 * and the box with it. */
static void fitButtonToText(HWND box, int id) {
    HWND button = GetDlgItem(box, id);
    if (!button) return;
    RECT r = rectInParent(button);
    int grow = textWidth(button) - (r.right - r.left);
    if (grow <= 0) return;
    ButtonShift shift = {button, r.right, grow};
    EnumChildWindows(box, shiftButton, (LPARAM)&shift);
    SetWindowPos(button, NULL, r.left + grow / 2, r.top, r.right - r.left + grow, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    RECT b;
    GetWindowRect(box, &b);
    SetWindowPos(box, NULL, b.left - grow / 2, b.top, b.right - b.left + grow, b.bottom - b.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

/* Relabels the question's buttons as its box becomes active, then removes
 * itself: the box is the first window this thread activates after the hook
 * goes in. */
static HWND questionBox;

/* Fits the relabelled button once the box has laid itself out, which some
 * systems do only after its activation. */
static void CALLBACK fitWhenShown(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(NULL, timer);
    if (IsWindow(questionBox)) fitButtonToText(questionBox, IDNO);
}

static LRESULT CALLBACK relabelButtons(int code, WPARAM wParam, LPARAM lParam) {
    LRESULT next = CallNextHookEx(relabelHook, code, wParam, lParam);
    if (code == HCBT_ACTIVATE) {
        questionBox = (HWND)wParam;
        SetDlgItemTextA(questionBox, IDNO, "不用再提示");
        SetDlgItemTextA(questionBox, IDCANCEL, "否(&N)");
        SetTimer(NULL, 0, 0, fitWhenShown);  // the box's own message loop runs it
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
