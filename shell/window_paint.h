/* How the main window and its pages look beyond their controls: the
 * painted background and the colours of the labels. */
#ifndef LUMORA_WINDOW_PAINT_H
#define LUMORA_WINDOW_PAINT_H

#include <windows.h>

/* Paints the window or a page (WM_PAINT) from the background, which is
 * drawn once, for the whole window, by whichever paints first. */
void paintBackground(HWND window);

/* The colours of a label or read-only box (WM_CTLCOLORSTATIC): returns the
 * brush to paint it with. */
LRESULT labelColours(HWND window, HDC dc, HWND control, WPARAM wParam, LPARAM lParam);

#endif
