/* Screenshots through the test script; see screenshot.h. */
#include "screenshot.h"

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "package_builder.h"
#include "remote_ui.h"

enum { PAINT_SETTLE_MS = 300, SHOT_WAIT_MS = 20000 };

void screenshot(HWND window, const char *name) {
    const char *folder = getenv("LUMORA_GUI_SHOTS");
    RECT r;
    if (!folder || !folder[0] || !GetWindowRect(window, &r)) return;
    std::string base = std::string(folder) + "\\" + name;
    RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    Sleep(PAINT_SETTLE_MS);  // the program paints in its own time
    char geometry[64];
    snprintf(geometry, sizeof geometry, "%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
    std::string ready = base + ".tmp", want = base + ".want", done = base + ".done";
    // renamed once written, so the script never reads half a request
    if (!writeFile(ready, geometry) || !MoveFileExA(ready.c_str(), want.c_str(), MOVEFILE_REPLACE_EXISTING)) return;
    waitUntil([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, SHOT_WAIT_MS);
    DeleteFileA(done.c_str());
}
