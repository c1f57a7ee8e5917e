/* The main window's layout: a fixed-pixel two-page wizard, drawn for 96 dpi
 * and a 19-pixel caption. The controls are one table, created in its order.
 * On a finer screen every length and the fonts grow by the screen's scale,
 * so that the window looks as drawn, only sharper; the height also follows
 * the caption. The layout also holds the window's state that shell_state.h
 * declares (the window, the controls it creates, the program's folder), so
 * that whatever links the shell's parts finds it here. */
#include <windows.h>
#include <commctrl.h>
#include <string.h>

#include <initializer_list>

#include "screen_scale.h"
#include "shell_state.h"
#include "window.h"

HWND mainWindow;
Controls controls;
char appDir[PATH_SIZE];

enum { WINDOW_WIDTH = 680, WINDOW_HEIGHT = 560, DESIGN_CAPTION = 19, ABOVE_CENTRE = 26 };

enum Parent { ON_WINDOW, ON_PAGE_ONE, ON_PAGE_TWO };

/* One control of the window. */
struct ControlSpec {
    HWND *handle;  // where its handle is kept (the plain labels share one)
    Parent parent;
    const char *windowClass;
    const char *text;
    DWORD exStyle, style;
    int x, y, width, height, id;
};

static HWND ignored;  // the labels nothing refers to later

static const DWORD LABEL = SS_NOTIFY | SS_LEFT, BUTTON = BS_PUSHBUTTON, READ_ONLY = ES_READONLY | ES_AUTOHSCROLL;

static const ControlSpec CONTROLS[] = {
    {&controls.stepOnePanel, ON_WINDOW, "static", "panel", 0, SS_BITMAP, 0, 0, 680, 483, ID_PANEL},
    {&controls.stepOneHeading, ON_PAGE_ONE, "static", "第一步：选择淘宝助理导出的数据包(CSV)文件", 0, LABEL, 21, 13, 500, 32, 0},
    {&ignored, ON_PAGE_ONE, "static", "选择淘宝助理(版本:5.x+)导出的CSV文件或别人提供给您的CSV文件。", 0, LABEL, 21, 43, 500, 28, 0},
    {&controls.csvPathBox, ON_PAGE_ONE, "edit", "", WS_EX_CLIENTEDGE, READ_ONLY, 20, 161, 442, 22, ID_CSV_PATH},
    {&controls.chooseCsvButton, ON_PAGE_ONE, "button", "选择CSV文件...", 0, BUTTON, 471, 160, 100, 24, ID_CHOOSE_CSV},
    {&controls.noticeBox, ON_PAGE_ONE, "edit", "", 0, ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE, 20, 211, 635, 263, ID_NOTICE},
    {&controls.stepTwoPanel, ON_WINDOW, "static", "panel", 0, SS_BITMAP, 0, 0, 680, 483, ID_PANEL},
    {&controls.stepTwoHeading, ON_PAGE_TWO, "static", "第二步：设置图片搬家选项，准备进行搬家", 0, LABEL, 21, 13, 500, 32, 0},
    {&ignored, ON_PAGE_TWO, "static", "如果搬家开始后中途关闭，再次对这个csv文件搬家时将自动从上次中断的地方继续搬家。", 0, LABEL, 21, 43, 500, 28, 0},
    {&controls.optImageSpace, ON_PAGE_TWO, "button", "搬来自淘宝图片空间里的图片", 0, BS_AUTOCHECKBOX, 17, 90, 182, 21, ID_OPT_IMAGE_SPACE},
    {&controls.optOtherAlbums, ON_PAGE_TWO, "button", "搬来自第三方相册里的图片", 0, BS_AUTOCHECKBOX, 216, 90, 172, 21, ID_OPT_OTHER_ALBUMS},
    {&controls.optBlankForFailed, ON_PAGE_TWO, "button", "将搬家失败的图片替换为空白图片", 0, BS_AUTOCHECKBOX, 403, 90, 211, 21, ID_OPT_BLANK},
    {&ignored, ON_PAGE_TWO, "static", "图片搬家到：", 0, LABEL, 16, 129, 78, 20, 0},
    {&controls.targetFolderBox, ON_PAGE_TWO, "edit", "", WS_EX_CLIENTEDGE, READ_ONLY, 93, 125, 475, 22, ID_TARGET_FOLDER},
    {&controls.chooseFolderButton, ON_PAGE_TWO, "button", "选择...", 0, BUTTON, 575, 124, 82, 24, ID_CHOOSE_FOLDER},
    {&controls.itemListView, ON_PAGE_TWO, WC_LISTVIEWA, "", WS_EX_CLIENTEDGE, LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 16, 167, 640, 144, 0},
    {&controls.openReportButton, ON_PAGE_TWO, "button", "打开失败清单", 0, BUTTON, 440, 314, 100, 23, ID_OPEN_REPORT},
    {&controls.openFolderButton, ON_PAGE_TWO, "button", "打开图片文件夹", 0, BUTTON, 547, 314, 110, 23, ID_OPEN_FOLDER},
    {&ignored, ON_PAGE_TWO, "static", "搬家失败的图片地址：", 0, LABEL, 17, 320, 223, 22, 0},
    {&controls.failureBox, ON_PAGE_TWO, "edit", "", WS_EX_CLIENTEDGE, WS_VSCROLL | ES_READONLY | ES_MULTILINE, 17, 339, 640, 89, ID_FAILURES},
    {&controls.progressBar, ON_PAGE_TWO, PROGRESS_CLASSA, "", 0, 0, 17, 435, 640, 21, 0},
    {&controls.progressLabel, ON_PAGE_TWO, "static", "搬家进度(宝贝数:0)", 0, LABEL, 17, 462, 640, 20, 0},
    {&controls.prevButton, ON_WINDOW, "button", "上一步", 0, BUTTON, 387, 499, 86, 25, ID_PREV},
    {&controls.nextButton, ON_WINDOW, "button", "下一步", 0, BUTTON, 482, 499, 86, 25, ID_NEXT},
    {&controls.closeButton, ON_WINDOW, "button", "关闭", 0, BUTTON, 577, 499, 86, 25, ID_CLOSE},
    {&controls.tutorialLink, ON_WINDOW, "static", "搬家教程与常见问题", 0, LABEL, 13, 504, 128, 17, ID_TUTORIAL_LINK},
    {&controls.homePageLink, ON_WINDOW, "static", "官方网站", 0, LABEL, 157, 504, 60, 17, ID_HOME_PAGE_LINK},
};

/* The item list's columns. */
static const struct {
    const char *header;
    int format, width;
} COLUMNS[] = {{"宝贝标题", LVCFMT_LEFT, 340}, {"状态", LVCFMT_CENTER, 80}, {"电脑端失败数", LVCFMT_CENTER, 96},
               {"手机端失败数", LVCFMT_CENTER, 96}};

static HWND parentOf(Parent parent, HWND window) {
    return parent == ON_PAGE_ONE ? controls.stepOnePanel : parent == ON_PAGE_TWO ? controls.stepTwoPanel : window;
}

/* The stock GUI font in 宋体 at the size the layout was drawn for, grown
 * with the layout: the stock font already follows the screen, so its height
 * goes back to the 96-dpi size first. Created once. */
static HFONT defaultUiFont(void) {
    static HFONT font;
    if (font) return font;
    LOGFONTA lf;
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    strcpy(lf.lfFaceName, "宋体");
    lf.lfWeight = FW_NORMAL;
    int dpi = screenDpi();
    if (dpi > DESIGN_DPI) lf.lfHeight = (LONG)(lf.lfHeight / ((float)(dpi - DESIGN_DPI) * 1.041666f / 100 + 1));
    lf.lfHeight = scaled(lf.lfHeight);
    font = CreateFontIndirectA(&lf);
    return font;
}

/* A 宋体 font of the given 96-dpi height, weight and underline. */
static HFONT labelFont(int height, int weight, BOOL underline) {
    LOGFONTA lf;
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    strcpy(lf.lfFaceName, "宋体");
    lf.lfHeight = scaled(height);
    lf.lfWidth = 0;
    lf.lfWeight = weight;
    lf.lfUnderline = (BYTE)underline;
    lf.lfItalic = FALSE;
    return CreateFontIndirectA(&lf);
}

static BOOL CALLBACK setFont(HWND child, LPARAM font) {
    SendMessageA(child, WM_SETFONT, (WPARAM)font, TRUE);
    return TRUE;
}

/* Columns, grid lines, full-row selection and 19-pixel rows (an empty image
 * list of that height sets it). */
static void setUpItemList(void) {
    HWND list = controls.itemListView;
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP);
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, (LPARAM)ImageList_Create(1, scaled(19), ILC_COLOR24 | ILC_MASK, 3, 1));
    for (int i = 0; i < 4; i++) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH | LVCF_SUBITEM;
        column.fmt = COLUMNS[i].format;
        column.cx = scaled(COLUMNS[i].width);
        column.pszText = (char *)COLUMNS[i].header;
        column.iSubItem = i;
        SendMessageA(list, LVM_INSERTCOLUMNA, (WPARAM)i, (LPARAM)&column);
    }
}

/* Creates the control with its rectangle's edges scaled, so that controls
 * that meet in the layout still meet. */
static HWND createControl(const ControlSpec &c, HWND window, HINSTANCE instance) {
    int left = scaled(c.x), top = scaled(c.y), right = scaled(c.x + c.width), bottom = scaled(c.y + c.height);
    return CreateWindowExA(c.exStyle, c.windowClass, c.text, WS_CHILD | WS_VISIBLE | c.style, left, top, right - left,
                           bottom - top, parentOf(c.parent, window), (HMENU)(INT_PTR)c.id, instance, NULL);
}

void createControls(HWND window, HINSTANCE instance, WNDPROC pageProc) {
    for (const ControlSpec &c : CONTROLS) *c.handle = createControl(c, window, instance);
    EnumChildWindows(window, setFont, (LPARAM)defaultUiFont());
    SetWindowLongPtrA(controls.stepOnePanel, GWLP_WNDPROC, (LONG_PTR)pageProc);
    SetWindowLongPtrA(controls.stepTwoPanel, GWLP_WNDPROC, (LONG_PTR)pageProc);
    for (HWND heading : {controls.stepOneHeading, controls.stepTwoHeading})
        SendMessageA(heading, WM_SETFONT, (WPARAM)labelFont(20, FW_BOLD, TRUE), TRUE);
    for (HWND link : {controls.tutorialLink, controls.homePageLink})
        SendMessageA(link, WM_SETFONT, (WPARAM)labelFont(14, 0, FALSE), TRUE);
    setUpItemList();
    ShowWindow(controls.stepTwoPanel, SW_HIDE);
    ShowWindow(controls.openReportButton, SW_HIDE);  // offered after a move
    ShowWindow(controls.openFolderButton, SW_HIDE);
    SendMessageA(controls.optImageSpace, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageA(controls.optOtherAlbums, BM_SETCHECK, BST_CHECKED, 0);
    ShowWindow(controls.prevButton, SW_HIDE);
}

void sizeAndCentre(HWND window) {
    int caption = GetSystemMetrics(SM_CYCAPTION);
    if (caption != DESIGN_CAPTION || screenDpi() != DESIGN_DPI)
        SetWindowPos(window, NULL, 0, 0, scaled(WINDOW_WIDTH), scaled(WINDOW_HEIGHT - DESIGN_CAPTION) + caption,
                     SWP_NOMOVE | SWP_NOZORDER);
    RECT client;
    GetClientRect(window, &client);
    int x = (GetSystemMetrics(SM_CXSCREEN) - client.right) / 2;
    int y = (GetSystemMetrics(SM_CYMAXIMIZED) - client.bottom) / 2 - scaled(ABOVE_CENTRE);
    SetWindowPos(window, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void setBigIcon(HINSTANCE instance, HWND window, int resource) {
    SendMessageA(window, WM_SETICON, ICON_BIG, (LPARAM)LoadIconA(instance, MAKEINTRESOURCEA(resource)));
}
