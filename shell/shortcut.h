/* The desktop shortcut that the program offers once per start, until the
 * user declines for good (the marker "no_shortcut.txt" in the program's
 * folder) or the shortcut exists. */
#ifndef LUMORA_SHORTCUT_H
#define LUMORA_SHORTCUT_H

#include <windows.h>

/* Creates a shell link at linkPath; the COM result (negative on failure). */
HRESULT createShellLink(const char *target, const char *arguments, const char *linkPath, const char *description,
                        int showCommand, const char *workingDir, const char *iconPath, int iconIndex);

/* Asks whether to put the shortcut "Lumora" on the desktop (owner: the main
 * window) unless it exists or the marker does, and acts on the answer. */
void offerDesktopShortcut(HWND owner);

#endif
