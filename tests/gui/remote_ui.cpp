/* Driving another process's windows; see remote_ui.h. */
#include "remote_ui.h"

#include <commctrl.h>
#include <string.h>

#include <algorithm>

enum { POLL_MS = 50, ANSWER_MS = 5000, TEXT_SLACK = 16 };

bool waitUntil(const std::function<bool()> &done, int timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + (ULONGLONG)timeoutMs;
    while (!done()) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(POLL_MS);
    }
    return true;
}

/* Sends a message that must be answered within ANSWER_MS; false when the
 * window did not answer. */
static bool sendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR *result) {
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, ANSWER_MS, result) != 0;
}

std::string classOf(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string textOf(HWND window) {
    DWORD_PTR length = 0;
    if (!sendBounded(window, WM_GETTEXTLENGTH, 0, 0, &length)) return "";
    // the length may be counted in UTF-16 units on the way across; two bytes each is always enough
    std::string text(2 * length + TEXT_SLACK, '\0');
    DWORD_PTR copied = 0;
    if (!sendBounded(window, WM_GETTEXT, text.size(), (LPARAM)&text[0], &copied)) return "";
    text.resize(strlen(text.c_str()));
    return text;
}

bool setTextOf(HWND window, const std::string &text) {
    DWORD_PTR result = 0;
    return sendBounded(window, WM_SETTEXT, 0, (LPARAM)text.c_str(), &result) && result;
}

void postClick(HWND button) {
    PostMessageA(button, BM_CLICK, 0, 0);
}

bool isChecked(HWND box) {
    DWORD_PTR state = 0;
    return sendBounded(box, BM_GETCHECK, 0, 0, &state) && state == BST_CHECKED;
}

static BOOL CALLBACK collect(HWND window, LPARAM found) {
    ((std::vector<HWND> *)found)->push_back(window);
    return TRUE;
}

std::vector<HWND> descendantsOf(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(parent, collect, (LPARAM)&found);
    return found;
}

HWND findDescendant(HWND parent, int id, const char *windowClass) {
    for (HWND child : descendantsOf(parent))
        if (GetDlgCtrlID(child) == id && lstrcmpiA(classOf(child).c_str(), windowClass) == 0) return child;
    return NULL;
}

std::vector<HWND> topWindowsOf(DWORD pid, const char *windowClass) {
    std::vector<HWND> all, found;
    EnumWindows(collect, (LPARAM)&all);
    for (HWND window : all) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == pid && IsWindowVisible(window) && classOf(window) == windowClass) found.push_back(window);
    }
    return found;
}

namespace {

/* A block of memory inside another process, for one message's data. */
class RemoteBlock {
public:
    enum { SIZE = 4096, TEXT_OFFSET = 256, TEXT_SIZE = SIZE - TEXT_OFFSET };
    explicit RemoteBlock(HANDLE process)
        : process(process),
          base((char *)VirtualAllocEx(process, NULL, SIZE, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
    ~RemoteBlock() {
        if (base) VirtualFreeEx(process, base, 0, MEM_RELEASE);
    }
    RemoteBlock(const RemoteBlock &) = delete;
    RemoteBlock &operator=(const RemoteBlock &) = delete;

    char *item() const { return base; }
    char *text() const { return base + TEXT_OFFSET; }
    bool write(const LVITEMA &item) const {
        SIZE_T written = 0;
        return base && WriteProcessMemory(process, base, &item, sizeof item, &written) && written == sizeof item;
    }
    std::string readText(size_t length) const {
        std::string out(std::min(length, (size_t)TEXT_SIZE), '\0');
        SIZE_T read = 0;
        if (out.empty() || !ReadProcessMemory(process, text(), &out[0], out.size(), &read)) return "";
        out.resize(strnlen(out.c_str(), read));
        return out;
    }

private:
    HANDLE process;
    char *base;
};

}  // namespace

int RemoteListView::rowCount() const {
    DWORD_PTR count = 0;
    return sendBounded(list, LVM_GETITEMCOUNT, 0, 0, &count) ? (int)count : -1;
}

std::string RemoteListView::cell(int row, int column) const {
    RemoteBlock block(process);
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = block.text();
    item.cchTextMax = RemoteBlock::TEXT_SIZE;
    DWORD_PTR length = 0;
    if (!block.write(item) || !sendBounded(list, LVM_GETITEMTEXTA, (WPARAM)row, (LPARAM)block.item(), &length))
        return "";
    return block.readText(length);
}

std::vector<std::string> RemoteListView::column(int column) const {
    std::vector<std::string> texts;
    for (int row = 0, rows = rowCount(); row < rows; row++) texts.push_back(cell(row, column));
    return texts;
}

bool RemoteListView::select(int row) const {
    RemoteBlock block(process);
    LVITEMA item = {};
    item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
    DWORD_PTR done = 0;
    return block.write(item) && sendBounded(list, LVM_SETITEMSTATE, (WPARAM)row, (LPARAM)block.item(), &done) && done;
}

MessageBoxView readMessageBox(HWND box) {
    MessageBoxView view;
    view.box = box;
    view.owner = GetWindow(box, GW_OWNER);
    view.caption = textOf(box);
    view.text = textOf(GetDlgItem(box, 0xFFFF));
    std::vector<std::pair<LONG, HWND>> buttons;
    for (HWND child : descendantsOf(box)) {
        RECT r;
        if (lstrcmpiA(classOf(child).c_str(), "Button") == 0 && IsWindowVisible(child) && GetWindowRect(child, &r))
            buttons.push_back({r.left, child});
    }
    std::sort(buttons.begin(), buttons.end());
    for (const auto &b : buttons) {
        view.buttons.push_back(GetDlgCtrlID(b.second));
        view.labels.push_back(textOf(b.second));
    }
    return view;
}

int buttonLabelled(const MessageBoxView &view, const std::string &label) {
    for (size_t i = 0; i < view.labels.size(); i++)
        if (view.labels[i] == label) return view.buttons[i];
    return 0;
}

bool answerMessageBox(const MessageBoxView &view, int button) {
    PostMessageA(view.box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(view.box, button));
    return waitUntil([&] { return !IsWindow(view.box) || !IsWindowVisible(view.box); });
}
