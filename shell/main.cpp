/* Lumora.exe: the program's entry. In this order it finds its folder,
 * refuses to run from an archive viewer's temporary folder, opens the log,
 * starts Windows Sockets, creates the main window, starts the update check
 * on a thread of its own, offers the desktop shortcut once, and runs the
 * message loop, in which the two link labels are handled. */
#include <process.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "app_log.h"
#include "browser.h"
#include "deployment.h"
#include "host_failures.h"
#include "net.h"
#include "shell_state.h"
#include "shortcut.h"
#include "update_notice.h"
#include "window.h"

enum { CLASS_ICON_RESOURCE = 101, BIG_ICON_RESOURCE = 102, EXIT_START_FAILED = -1 };

/* A message box without an owner, for the failures before the window. */
static void failStart(const char *message, const char *caption, int status) {
    MessageBoxA(NULL, message, caption, MB_OK | MB_ICONERROR);
    exit(status);
}

static void hookMessage(const char *text, const char *caption, MessageIcon icon) {
    showWindowMessage(text, caption, icon);
}

static void hookEnd(int status) {
    exit(status);
}

/* A program started straight from an archive viewer runs from a temporary
 * folder with "$" in a name: it is asked to be extracted first. */
static void refuseTemporaryFolder(void) {
    if (!strchr(appDir, '$') || !strstr(appDir, "\\Temp\\")) return;
    MessageBoxA(NULL, "请先对软件压缩包进行解压缩后再启动软件。\n\n点击[确定]按钮，查看正确的解压缩方式。", "提示",
                MB_OK | MB_ICONERROR);
    openWebPage((std::string(PRODUCT_SITE) + "unzip.html").c_str());
    exit(EXIT_START_FAILED);
}

/* Starts Windows Sockets 2.2; a failure ends the program. */
static void startSockets(void) {
    uint16_t version = 0;
    if (!netStartup(&version)) {
        appendLog("WSAStartup() failed!");
        failStart("WSAStartup() failed!", "错误", EXIT_START_FAILED);
    }
    if ((version & 0xFF) != 2 || (version >> 8) != 2) {
        appendLog("Invalid WinSock version!");
        netCleanup();
        failStart("Invalid WinSock version!", "错误", EXIT_START_FAILED);
    }
}

static ATOM registerWindowClass(HINSTANCE instance) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(CLASS_ICON_RESOURCE));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = MAIN_WINDOW_CLASS;
    return RegisterClassExA(&wc);
}

static unsigned __stdcall updateThread(void *) {
    checkForUpdate();
    return 0;
}

/* The show state the program was started with, if it was given one. */
static int startShowState(void) {
    STARTUPINFOA info = {};
    info.cb = sizeof info;
    GetStartupInfoA(&info);
    return info.dwFlags & STARTF_USESHOWWINDOW ? info.wShowWindow : SW_SHOWDEFAULT;
}

static int runMessageLoop(void) {
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        if (!handleLinkMessage(msg)) DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    static const ProcessHooks HOOKS = {hookMessage, hookEnd};
    setProcessHooks(&HOOKS);
    programFolder(appDir, sizeof appDir);
    refuseTemporaryFolder();
    openAppLog(appDir);
    startSockets();
    initHostFailures();
    INITCOMMONCONTROLSEX common = {sizeof common, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&common);
    char title[64];
    snprintf(title, sizeof title, "%s(V%0.1f)", PRODUCT_TITLE, PRODUCT_VERSION);
    if (!registerWindowClass(instance)) return 0;
    HWND window = CreateWindowExA(WS_EX_APPWINDOW | WS_EX_ACCEPTFILES, MAIN_WINDOW_CLASS, title,
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 680, 560, NULL, NULL, instance, NULL);
    if (!window) {
        appendLog("CreateWindowExA() failed!");
        failStart("CreateWindowExA() failed!", "错误", EXIT_START_FAILED);
    }
    sizeAndCentre(window);
    ShowWindow(window, startShowState());
    uintptr_t update = _beginthreadex(NULL, 0, updateThread, NULL, 0, NULL);
    if (update) CloseHandle((HANDLE)update);
    setBigIcon(instance, window, BIG_ICON_RESOURCE);
    offerDesktopShortcut(window);
    return runMessageLoop();
}
