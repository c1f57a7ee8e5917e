/* Screenshots of the window at chosen moments of the tests.
 *
 * The driver is a Windows program and cannot run the Linux screen grabber
 * itself, so it asks scripts/gui-test.sh for each picture through files:
 * when LUMORA_GUI_SHOTS names a folder (as Windows sees it, on Wine's drive
 * Z:), it writes NAME.want there holding the window's place on the screen
 * as WIDTHxHEIGHT+X+Y and waits, at most 20 seconds, for the script's
 * NAME.done. Without the variable nothing happens. */
#ifndef LUMORA_TESTS_GUI_SCREENSHOT_H
#define LUMORA_TESTS_GUI_SCREENSHOT_H

#include <windows.h>

/* Has the script take the picture NAME of the window, when it is asked for. */
void screenshot(HWND window, const char *name);

#endif
