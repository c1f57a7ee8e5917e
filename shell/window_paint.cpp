/* The main window's painting; see window_paint.h. The background is one
 * bitmap drawn once and copied on every paint, so the pages, which paint
 * their own part of it, match the window around them. */
#include "window_paint.h"

#include "screen_scale.h"
#include "shell_state.h"

static HDC backgroundCache;  // the drawn background; kept for the process's life

/* Draws the background once: the white header band, the etched rule above
 * the buttons and the divider between the two links, placed by the screen's
 * scale and drawn one pixel thin. */
static void renderBackground(HDC target, int width, int height) {
    backgroundCache = CreateCompatibleDC(target);
    SelectObject(backgroundCache, CreateCompatibleBitmap(target, width, height));
    RECT all = {0, 0, width, height};
    FillRect(backgroundCache, &all, GetSysColorBrush(COLOR_BTNFACE));
    HPEN shadow = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW));
    HPEN dark = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_3DDKSHADOW));
    HGDIOBJ oldPen = SelectObject(backgroundCache, shadow);
    HGDIOBJ oldBrush = SelectObject(backgroundCache, GetSysColorBrush(COLOR_WINDOW));
    int right = scaled(680), rule = scaled(484), divider = scaled(147);
    Rectangle(backgroundCache, -1, -1, right, scaled(72));
    MoveToEx(backgroundCache, 0, rule, NULL);
    LineTo(backgroundCache, right, rule);
    MoveToEx(backgroundCache, divider, scaled(505), NULL);
    LineTo(backgroundCache, divider, scaled(516));
    SelectObject(backgroundCache, dark);
    MoveToEx(backgroundCache, 0, rule + 1, NULL);
    LineTo(backgroundCache, right, rule + 1);
    SelectObject(backgroundCache, oldPen);
    SelectObject(backgroundCache, oldBrush);
    DeleteObject(shadow);
    DeleteObject(dark);
}

void paintBackground(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    if (!backgroundCache) {
        RECT whole;
        GetClientRect(mainWindow, &whole);  // the whole window, whichever part paints first
        renderBackground(dc, whole.right, whole.bottom);
    }
    BitBlt(dc, 0, 0, client.right, client.bottom, backgroundCache, 0, 0, SRCCOPY);
    EndPaint(window, &paint);
}

/* Blue links, white read-only boxes, transparent labels on the painted
 * background. */
LRESULT labelColours(HWND window, HDC dc, HWND control, WPARAM wParam, LPARAM lParam) {
    if (control == controls.tutorialLink || control == controls.homePageLink) SetTextColor(dc, RGB(0, 0, 255));
    if (control == controls.csvPathBox || control == controls.targetFolderBox || control == controls.failureBox)
        return (LRESULT)GetStockObject(WHITE_BRUSH);
    if (control == controls.optImageSpace || control == controls.optOtherAlbums || control == controls.optBlankForFailed ||
        control == controls.progressLabel || control == controls.noticeBox) {
        SetBkMode(dc, OPAQUE);
        return DefWindowProcA(window, WM_CTLCOLORSTATIC, wParam, lParam);
    }
    SetBkMode(dc, TRANSPARENT);
    return (LRESULT)GetStockObject(NULL_BRUSH);
}
