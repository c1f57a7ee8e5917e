/* The screen's resolution; see screen_scale.h. The desktop's resolution is
 * the system's, which a system-aware program keeps for its whole run. */
#include "screen_scale.h"

#include <windows.h>

int screenDpi(void) {
    static int dpi;
    if (dpi) return dpi;
    HDC dc = GetWindowDC(GetDesktopWindow());
    int found = dc ? GetDeviceCaps(dc, LOGPIXELSX) : DESIGN_DPI;
    if (dc) ReleaseDC(GetDesktopWindow(), dc);
    dpi = found > DESIGN_DPI ? found : DESIGN_DPI;
    return dpi;
}

int scaled(int pixels) {
    return MulDiv(pixels, screenDpi(), DESIGN_DPI);
}
