/* The main window's behaviour: a two-page wizard. Page one takes a package
 * and loads it; page two takes the options and the target folder and starts
 * the move job on a worker thread, which then reports into the page through
 * the window view. The procedure only dispatches; each message has its
 * handler below, or in window_paint.cpp for painting and in
 * window_choosers.cpp for the two choosers' dialogs. */
#include <windows.h>
#include <commctrl.h>
#include <process.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "browser.h"
#include "deployment.h"
#include "download_pool.h"
#include "file_helpers.h"
#include "move_checks.h"
#include "move_job.h"
#include "shell_state.h"
#include "text_utils.h"
#include "window.h"
#include "window_choosers.h"
#include "window_paint.h"
#include "window_progress.h"

static int wizardStep = 1;
static PtrVector *itemList;
static char packagePath[PATH_SIZE];
static char *packageText;
static MoveJob job;
static FailureReasons jobReasons;  // the job's to write while it runs
static SharedPictures jobShared;    // likewise

/* A notice with the warning icon, then the focus on the control. */
static void warn(const std::string &text, HWND focus) {
    MessageBoxA(mainWindow, text.c_str(), "提示", MB_OK | MB_ICONWARNING);
    SetFocus(focus);
}

static std::string windowText(HWND control) {
    char text[PATH_SIZE] = "";
    GetWindowTextA(control, text, sizeof text);
    return text;
}

static int isChecked(HWND box) {
    return SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

static void setChecked(HWND box, int checked) {
    SendMessageA(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

/* Shows page one or page two with the buttons that go with it. */
static void showPage(int step) {
    ShowWindow(controls.stepOnePanel, step == 1 ? SW_SHOW : SW_HIDE);
    ShowWindow(controls.stepTwoPanel, step == 2 ? SW_SHOW : SW_HIDE);
    SetWindowTextA(controls.nextButton, step == 1 ? "下一步" : "开始搬家");
    ShowWindow(controls.prevButton, step == 2 ? SW_SHOW : SW_HIDE);
    LONG_PTR style = GetWindowLongPtrA(mainWindow, GWL_EXSTYLE);
    SetWindowLongPtrA(mainWindow, GWL_EXSTYLE, step == 1 ? style | WS_EX_ACCEPTFILES : style & ~WS_EX_ACCEPTFILES);
    wizardStep = step;
}

/* Releases the previous package and puts page two back as it starts. */
static void resetPageTwo(void) {
    itemListClear(itemList);
    free(packageText);  // a package loaded but never moved
    packageText = NULL;
    SendMessageA(controls.itemListView, LVM_DELETEALLITEMS, 0, 0);
    clearMoveProgress();
    for (HWND c : {controls.nextButton, controls.optImageSpace, controls.optOtherAlbums, controls.optBlankForFailed,
                   controls.chooseFolderButton, controls.prevButton})
        EnableWindow(c, TRUE);
    setChecked(controls.optImageSpace, 1);
    setChecked(controls.optOtherAlbums, 1);
    setChecked(controls.optBlankForFailed, 0);
    SetWindowTextA(controls.targetFolderBox, "");
}

/* Lists the loaded items, each "等待", and sets the progress to none of them. */
static void listItems(void) {
    for (int32_t i = 0; i < itemList->count; i++) {
        ItemRecord *item = (ItemRecord *)itemList->items[i];
        item->index = i;
        LVITEMA row = {};
        row.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
        row.iItem = i;
        row.pszText = item->title;
        row.lParam = (LPARAM)item;
        SendMessageA(controls.itemListView, LVM_INSERTITEMA, 0, (LPARAM)&row);
        LVITEMA status = {};
        status.iSubItem = 1;
        status.pszText = (char *)"等待";
        SendMessageA(controls.itemListView, LVM_SETITEMTEXTA, (WPARAM)i, (LPARAM)&status);
    }
    SetWindowTextA(controls.progressLabel, formatText("搬家进度(宝贝数:%d)", itemList->count).c_str());
    // the 32-bit range, so that packages of more than 65,535 items show right
    SendMessageA(controls.progressBar, PBM_SETRANGE32, 0, itemList->count);
    SendMessageA(controls.progressBar, PBM_SETPOS, 0, 0);
}

/* Page one's "下一步": checks the path, loads the package, shows page two. */
static void onLoad(void) {
    GetWindowTextA(controls.csvPathBox, packagePath, sizeof packagePath);
    std::string problem = packagePathProblem(packagePath);
    if (!problem.empty()) return warn(problem, controls.chooseCsvButton);
    if (itemList) resetPageTwo();
    else itemList = ptrVectorCreate(256, 64);
    SetCursor(LoadCursorA(NULL, IDC_WAIT));
    std::string found;
    int result = loadPackage(packagePath, itemList, &packageText, &found);
    SetCursor(LoadCursorA(NULL, IDC_ARROW));
    if (result == 1) {
        listItems();
        showPage(2);
        SetWindowTextA(controls.failureBox, "");
    } else if (result == 2) {
        warn(loadFailureMessage(result, packagePath, found), controls.chooseCsvButton);
    } else {
        std::string text = loadFailureMessage(result, packagePath, found);
        if (MessageBoxA(mainWindow, text.c_str(), "提示", MB_YESNO | MB_ICONQUESTION) == IDYES)
            openWebPage((std::string(PRODUCT_SITE) + "convert.html").c_str());
        SetFocus(controls.chooseCsvButton);
    }
}

static unsigned __stdcall runJob(void *) {
    if (runMoveJob(&job) == MOVE_ABORTED) exit(0);
    return 0;
}

/* Page two's "开始搬家": checks the choices and starts the job. */
static void onStart(void) {
    MoveOptions options = {isChecked(controls.optImageSpace), isChecked(controls.optOtherAlbums),
                           isChecked(controls.optBlankForFailed)};
    std::string folder = windowText(controls.targetFolderBox);
    char desktop[PATH_SIZE];
    desktopFolder(desktop, sizeof desktop);
    std::string problem = moveChoicesProblem(options, folder.c_str(), desktop);
    if (!problem.empty()) {
        HWND focus = problem[0] == '[' ? controls.optImageSpace : controls.chooseFolderButton;
        return warn(problem, focus);
    }
    for (HWND c : {controls.optImageSpace, controls.optOtherAlbums, controls.optBlankForFailed,
                   controls.chooseFolderButton, controls.prevButton, controls.nextButton})
        EnableWindow(c, FALSE);
    job = MoveJob();
    strcpy(job.packagePath, packagePath);
    strcpy(job.targetFolder, folder.c_str());
    strcpy(job.programDir, appDir);
    job.packageText = packageText;
    packageText = NULL;  // the job frees it
    job.items = itemList;
    job.options = options;
    job.view = windowView();
    jobReasons.clear();
    job.reasons = &jobReasons;
    jobShared.clear();
    job.shared = &jobShared;
    startMoveProgress(job);
    abortRequested = 0;  // each job starts with no stop asked for
    uintptr_t thread = _beginthreadex(NULL, 0, runJob, NULL, 0, NULL);
    if (thread == 0) {
        MessageBoxA(mainWindow, "启动图片搬家线程失败", "提示", MB_OK | MB_ICONERROR);
        exit(-1);
    }
    CloseHandle((HANDLE)thread);
}

static void onBack(void) {
    showPage(1);
    EnableWindow(controls.nextButton, TRUE);
}

/* Shows the selected item's failures; the text grows with the lists. */
static void refreshFailures(void) {
    std::string text;
    int row = -1;
    while ((row = (int)SendMessageA(controls.itemListView, LVM_GETNEXTITEM, (WPARAM)row, LVNI_SELECTED)) >= 0) {
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        const ItemRecord *record = SendMessageA(controls.itemListView, LVM_GETITEMA, 0, (LPARAM)&item)
                                       ? (const ItemRecord *)item.lParam : NULL;
        // an item's lists show once the job has finished it
        if (record) text = record->status == 2 ? itemFailureText(record->index) : "";
    }
    SetWindowTextA(controls.failureBox, text.c_str());
}

static void onCommand(int id) {
    switch (id) {
    case ID_CHOOSE_CSV: chooseCsv(); break;
    case ID_CHOOSE_FOLDER: chooseFolder(); break;
    case ID_PREV: onBack(); break;
    case ID_NEXT: wizardStep == 1 ? onLoad() : onStart(); break;
    case ID_CLOSE: SendMessageA(mainWindow, WM_CLOSE, 0, 0); break;
    case ID_OPEN_REPORT: openFailureReport(); break;
    case ID_OPEN_FOLDER: openImageFolder(); break;
    default: break;
    }
}

/* Closing: at once without a job; during one, after the user confirms, by
 * asking the job to stop after the downloads in hand (it ends the process
 * once it has written), which the label says. A second close cuts those
 * downloads at once; what arrived whole is still written. */
static void onClose(void) {
    if (!jobRunning) exit(0);
    if (abortRequested) {
        requestCut();
        SetWindowTextA(controls.progressLabel, "正在停止搬家：已放弃正在下载的图片，正在写入数据包...");
        EnableWindow(controls.closeButton, FALSE);
        EnableMenuItem(GetSystemMenu(mainWindow, FALSE), SC_CLOSE, MF_GRAYED);
        return;
    }
    if (MessageBoxA(mainWindow, "正在搬家，确定要关闭吗？", "确认", MB_OKCANCEL | MB_ICONQUESTION) != IDOK) return;
    if (!requestAbort()) exit(0);
    std::string waiting = formatText("正在停止搬家：等待正在下载的 %d 张图片下载完，之后写入数据包。再次点击关闭可立即停止。",
                                     downloadsRunning());
    SetWindowTextA(controls.progressLabel, waiting.c_str());
}

/* Takes the first dropped file whose name ends in ".csv". */
static void onDropFiles(HDROP drop) {
    SetWindowPos(mainWindow, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(mainWindow);
    SetCursor(LoadCursorA(NULL, IDC_WAIT));
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, NULL, 0);
    for (UINT i = 0; i < count; i++) {
        char path[PATH_SIZE] = "";
        DragQueryFileA(drop, i, path, sizeof path);
        if (!endsWithNoCase(path, ".csv")) continue;
        SetWindowTextA(controls.csvPathBox, path);
        break;
    }
    DragFinish(drop);
    SetCursor(LoadCursorA(NULL, IDC_ARROW));
    SetWindowPos(mainWindow, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

/* What the job's view asks of the window's thread (window.h). */
static void onJobMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    int index = (int)wParam;
    switch (message) {
    case WM_ITEM_FINISHED: onItemFinished((const ItemRecord *)lParam, (int)wParam); break;
    case WM_FAILURES_CHANGED:
        if (itemList && index >= 0 && index < itemList->count)
            onFailuresChanged(index, (const ItemRecord *)itemList->items[index]);
        break;
    case WM_JOB_TEXT: onJobText((const char *)lParam); break;
    default: onMoveEnded(); break;
    }
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ITEM_FINISHED:
    case WM_FAILURES_CHANGED:
    case WM_JOB_TEXT:
    case WM_MOVE_ENDED: onJobMessage(message, wParam, lParam); return 0;
    case WM_TIMER: onProgressTick(); return 0;
    case WM_CREATE:
        if (mainWindow) return 0;
        mainWindow = window;
        createControls(window, ((CREATESTRUCTA *)lParam)->hInstance, windowProc);
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_ACTIVE) InvalidateRect(window, NULL, FALSE);
        return 0;
    case WM_PAINT: paintBackground(window); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_CTLCOLORSTATIC: return labelColours(window, (HDC)wParam, (HWND)lParam, wParam, lParam);
    case WM_DROPFILES: onDropFiles((HDROP)wParam); return 0;
    case WM_NOTIFY: {
        const NMHDR *header = (const NMHDR *)lParam;
        if (header->hwndFrom == controls.itemListView && header->code == (UINT)LVN_ITEMCHANGED) refreshFailures();
        return 0;
    }
    case WM_COMMAND:
        if (lParam) onCommand(LOWORD(wParam));
        return 0;
    case WM_CLOSE: onClose(); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

int handleLinkMessage(const MSG &msg) {
    int onLink = msg.hwnd == controls.tutorialLink || msg.hwnd == controls.homePageLink;
    if (msg.message == WM_MOUSEMOVE && controls.tutorialLink)
        SetClassLongPtrA(controls.tutorialLink, GCLP_HCURSOR, (LONG_PTR)LoadCursorA(NULL, onLink ? IDC_HAND : IDC_ARROW));
    if (msg.message != WM_LBUTTONDOWN || !onLink) return 0;
    std::string page = std::string(PRODUCT_SITE) + (msg.hwnd == controls.tutorialLink ? "help.html" : "");
    openWebPage(page.c_str());
    return 1;
}
