/* Lumora.exe as the window tests run it.
 *
 * Each test installs its own copy of the built program in a folder of its
 * own, since the program keeps its log, its backups and its markers beside
 * itself; the process is started with another working folder, so that a
 * file put by the working folder instead of the program's shows. The main
 * window is found by its class among the process's windows and the controls
 * by identifier (the item list and the progress label, which have none, by
 * class and by text). A process still running when the object goes is ended,
 * so a failed test leaves nothing behind. */
#ifndef LUMORA_TESTS_GUI_LUMORA_APP_H
#define LUMORA_TESTS_GUI_LUMORA_APP_H

#include <windows.h>

#include <string>

#include "remote_ui.h"

/* Copies the built program into folder (created if missing) as Lumora.exe;
 * its path, or "" on failure. */
std::string installLumora(const std::string &folder);

class Lumora {
public:
    /* Starts the program; running() tells whether it started. */
    Lumora(const std::string &program, const std::string &workingDir);
    ~Lumora();
    Lumora(const Lumora &) = delete;
    Lumora &operator=(const Lumora &) = delete;

    bool running() const;
    /* Waits for the main window; false when none came. */
    bool waitForWindow();
    HWND window() const { return main; }

    /* The control with the identifier, on either page or on the window. */
    HWND control(int id) const;
    std::string text(int id) const;
    bool setText(int id, const std::string &text) const;
    void click(int id) const;
    bool checked(int id) const;
    /* Clicks the check box when it is not in the state, and waits for it. */
    bool setChecked(int id, bool checked) const;
    bool enabled(int id) const;
    bool visible(int id) const;

    RemoteListView items() const;
    /* The progress label's text. */
    std::string progress() const;
    /* Whether page two (the item list) is showing. */
    bool onPageTwo() const;

    /* Waits for a message box of the program; false when none came before
     * the time was up or the program ended. */
    bool waitForMessage(MessageBoxView *view, int timeoutMs = WAIT_MS) const;
    /* Whether no message box comes up for ms milliseconds (or until the
     * program ends). */
    bool quietFor(int ms) const;
    /* Closes the main window as its close box would. */
    void postClose() const;
    /* Waits for the process to end: its exit code, or STILL_ACTIVE. */
    DWORD waitForExit(int timeoutMs = WAIT_MS) const;

private:
    PROCESS_INFORMATION process = {};
    HWND main = NULL;
    HWND list = NULL;
    HWND label = NULL;
};

#endif
