/* Lumora.exe under test; see lumora_app.h. */
#include "lumora_app.h"

#include <commctrl.h>

#include "shell_state.h"

enum { END_MS = 5000 };

static const char PROGRESS_PREFIX[] = "搬家进度";

/* The program's path as Windows sees the build folder (drive Z: is /). */
static std::string builtProgram() {
    std::string path = std::string("Z:") + LUMORA_PROGRAM_PATH;
    for (char &c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string installLumora(const std::string &folder) {
    CreateDirectoryA(folder.c_str(), NULL);
    std::string program = folder + "\\Lumora.exe";
    return CopyFileA(builtProgram().c_str(), program.c_str(), FALSE) ? program : "";
}

Lumora::Lumora(const std::string &program, const std::string &workingDir) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + program + "\"";
    if (!CreateProcessA(program.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, workingDir.c_str(), &startup,
                        &process))
        process = PROCESS_INFORMATION();
}

Lumora::~Lumora() {
    if (!process.hProcess) return;
    if (running()) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, END_MS);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

bool Lumora::running() const {
    return process.hProcess && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
}

bool Lumora::waitForWindow() {
    waitUntil([&] {
        std::vector<HWND> windows = topWindowsOf(process.dwProcessId, MAIN_WINDOW_CLASS);
        main = windows.empty() ? NULL : windows[0];
        return main || !running();
    });
    if (!main) return false;
    for (HWND child : descendantsOf(main)) {
        if (classOf(child) == WC_LISTVIEWA) list = child;
        if (lstrcmpiA(classOf(child).c_str(), "Static") == 0 && textOf(child).rfind(PROGRESS_PREFIX, 0) == 0)
            label = child;
    }
    return list && label;
}

HWND Lumora::control(int id) const {
    for (HWND child : descendantsOf(main))
        if (GetDlgCtrlID(child) == id) return child;
    return NULL;
}

std::string Lumora::text(int id) const {
    return textOf(control(id));
}

bool Lumora::setText(int id, const std::string &text) const {
    return setTextOf(control(id), text);
}

void Lumora::click(int id) const {
    postClick(control(id));
}

bool Lumora::checked(int id) const {
    return isChecked(control(id));
}

bool Lumora::setChecked(int id, bool checked) const {
    HWND box = control(id);
    if (isChecked(box) != checked) postClick(box);
    return waitUntil([&] { return isChecked(box) == checked; });
}

bool Lumora::enabled(int id) const {
    return IsWindowEnabled(control(id));
}

bool Lumora::visible(int id) const {
    return IsWindowVisible(control(id));
}

RemoteListView Lumora::items() const {
    return RemoteListView(process.hProcess, list);
}

std::string Lumora::progress() const {
    return textOf(label);
}

bool Lumora::onPageTwo() const {
    return IsWindowVisible(list);
}

bool Lumora::waitForMessage(MessageBoxView *view, int timeoutMs) const {
    HWND box = NULL;
    waitUntil(
        [&] {
            std::vector<HWND> boxes = topWindowsOf(process.dwProcessId, "#32770");
            box = boxes.empty() ? NULL : boxes[0];
            return box != NULL || !running();
        },
        timeoutMs);
    if (box) *view = readMessageBox(box);
    return box != NULL;
}

bool Lumora::quietFor(int ms) const {
    MessageBoxView ignored;
    return !waitForMessage(&ignored, ms);
}

void Lumora::postClose() const {
    PostMessageA(main, WM_CLOSE, 0, 0);
}

DWORD Lumora::waitForExit(int timeoutMs) const {
    DWORD code = STILL_ACTIVE;
    if (process.hProcess && WaitForSingleObject(process.hProcess, (DWORD)timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    return code;
}
