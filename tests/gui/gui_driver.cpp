/* The window tests: the real Lumora.exe driven as a user drives it, through its controls, dropped files and
 * message boxes, against an image host on 127.0.0.1 and the update service on the build's update port. A start
 * costs seconds under Wine, so one start carries a whole path. Each test runs a copy of the program in a folder
 * of its own, for its log, backups, markers and the probe page "temp.html" that shows a page was opened. */
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "lumora_version.h"
#include "move_checks.h"
#include "remote_ui.h"
#include "shell_state.h"
#include "test_server.h"
#include "test_support.h"

namespace fs = std::filesystem;

enum { MOVE_WAIT_MS = 60000, QUIET_MS = 2000, END_MS = 5000 };

static const std::string JPEG = std::string("\xFF\xD8\xFF\xE0", 4) + "jpeg", PNG = std::string("\x89PNG", 4) + "png";
static const char MOVED[] = "图片搬家已完成，数据包(package.csv)已更新。";

static std::string ok(const std::string &body, const std::string &headers = "") {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body;
}

/* A reply in four pieces, pauseMs apart. */
static Reply slow(const std::string &whole, int pauseMs, bool close = false) {
    Reply r = {{}, pauseMs, close};
    for (size_t at = 0, size = whole.size() / 4 + 1; at < whole.size(); at += size)
        r.pieces.push_back(whole.substr(at, size));
    return r;
}

static Reply update(const std::string &body, int pauseMs = 0) {
    return slow(ok(body, "Connection: close\r\n"), pauseMs, true);
}

static std::u16string widen(const std::string &ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

static std::u16string img(const std::string &url) {
    return u"<img src=\"" + widen(url) + u"\">";
}

static size_t filesIn(const std::string &folder) {
    return (size_t)std::distance(fs::directory_iterator(folder), fs::directory_iterator());
}

static std::string desktop() {
    char path[MAX_PATH] = "";
    SHGetFolderPathA(NULL, CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, NULL, SHGFP_TYPE_CURRENT, path);
    return path;
}

/* Whether the box's buttons sit side by side within it, the middle one (relabelled) wider than the first. */
static bool buttonsFit(const MessageBoxView &view) {
    std::vector<RECT> r(view.buttons.size());
    for (size_t i = 0; i < r.size(); i++) GetWindowRect(GetDlgItem(view.box, view.buttons[i]), &r[i]);
    RECT box;
    GetWindowRect(view.box, &box);
    return r.size() == 3 && r[0].left >= box.left && r[0].right <= r[1].left && r[1].right <= r[2].left &&
           r[2].right <= box.right && r[1].right - r[1].left > r[0].right - r[0].left;
}

class Window : public testing::Test {
protected:
    ScratchDir dir;
    std::string appFolder = dir.file("app"), images = dir.file("images"), package = dir.file("package.csv");
    std::string program = appFolder + "\\Lumora.exe", marker = beside("no_shortcut.txt"), page = beside("temp.html");
    std::string shortcut = desktop() + "\\Lumora.lnk";
    TestServer host;                         // the image host
    TestServer service{LUMORA_UPDATE_PORT};  // the update service: closes a connection it has no reply for
    PROCESS_INFORMATION process = {};
    HWND frame = NULL, list = NULL;
    std::atomic<bool> moving{false};

    void SetUp() override {
        if (!LUMORA_UPDATE_PORT) GTEST_SKIP() << "this build's update address is not on 127.0.0.1";
        ASSERT_TRUE(service.listening()) << "port " << LUMORA_UPDATE_PORT << " is taken";
        CreateDirectoryA(appFolder.c_str(), NULL);
        ASSERT_TRUE(CopyFileA("Z:" LUMORA_PROGRAM_PATH, program.c_str(), FALSE)) << program;  // drive Z: is /
        ASSERT_TRUE(writeFile(marker, "") && CreateDirectoryA(images.c_str(), NULL));
    }
    void TearDown() override {
        if (!process.hProcess) return;
        TerminateProcess(process.hProcess, 1);  // fails harmlessly once the program has ended
        WaitForSingleObject(process.hProcess, END_MS);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        process = PROCESS_INFORMATION();
    }
    /* Starts the program (ending one that runs) and waits for its window. */
    void start(bool window = true) {
        TearDown();
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        ASSERT_TRUE(CreateProcessA(program.c_str(), NULL, NULL, NULL, FALSE, 0, NULL, dir.path().c_str(),
                                   &startup, &process)) << program;
        frame = NULL;
        if (!window) return;
        waitUntil([&] { return (frame = topWindowOf(process.dwProcessId, MAIN_WINDOW_CLASS)) || !running(); });
        ASSERT_TRUE(frame) << "no main window";
        list = FindWindowExA(GetParent(control(ID_FAILURES)), NULL, WC_LISTVIEWA, NULL);
    }
    bool running() const { return waitForExit(0) == STILL_ACTIVE; }
    DWORD waitForExit(int timeoutMs = WAIT_MS) const {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process.hProcess, (DWORD)timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &code);
        return code;
    }
    std::string beside(const std::string &name) const { return appFolder + "\\" + name; }
    std::string link(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(host.port()) + path; }

    HWND control(int id) const {  // on the window or on one of its pages
        HWND found = GetDlgItem(frame, id);
        for (HWND panel = NULL; !found && (panel = FindWindowExA(frame, panel, "Static", NULL));)
            found = GetDlgItem(panel, id);
        return found;
    }
    std::string text(int id) const { return textOf(control(id)); }
    void click(int id) const { PostMessageA(control(id), BM_CLICK, 0, 0); }
    bool checked(int id) const { return ask(control(id), BM_GETCHECK) == BST_CHECKED; }
    void target(const std::string &path) const { ask(control(ID_TARGET_FOLDER), WM_SETTEXT, 0, (LPARAM)path.c_str()); }
    std::vector<std::string> column(int column) const { return listColumn(process.hProcess, list, column); }
    std::string progress() const {  // the label after the progress bar
        return textOf(GetWindow(FindWindowExA(GetParent(list), NULL, PROGRESS_CLASSA, NULL), GW_HWNDNEXT));
    }
    static bool writePackage(const std::string &path, const std::vector<PackageRow> &rows) {
        return writeFile(path, packageBytes(packageText(rows)));
    }
    void drop(const std::vector<std::string> &paths) const {
        ASSERT_TRUE(dropFiles(process.hProcess, frame, paths));
        ASSERT_TRUE(waitUntil([&] { return text(ID_CSV_PATH) == paths.back(); })) << text(ID_CSV_PATH);
    }
    MessageBoxView expectBox(const std::string &caption, const std::vector<int> &buttons, int timeoutMs = WAIT_MS) {
        HWND box = NULL;
        waitUntil([&] { return (box = topWindowOf(process.dwProcessId, "#32770")) || !running(); }, timeoutMs);
        MessageBoxView view = readMessageBox(box);
        EXPECT_TRUE(box && view.owner == frame && view.caption == caption && view.buttons == buttons)
            << (box ? view.caption + ": " + view.text : "no message box came");
        return view;
    }
    std::string answer(const std::string &caption, const std::vector<int> &buttons, int button, int ms = WAIT_MS) {
        MessageBoxView box = expectBox(caption, buttons, ms);
        EXPECT_TRUE(box.box && answerMessageBox(box, button)) << "the box stayed: " << box.text;
        return box.text;
    }
    std::string warningOnNext() {
        click(ID_NEXT);
        return answer("提示", {IDOK}, IDOK);
    }
    void load() const {
        click(ID_NEXT);
        ASSERT_TRUE(waitUntil([&] { return IsWindowVisible(list); })) << "page two did not come";
    }
    void startMove() const {
        ASSERT_NO_FATAL_FAILURE(drop({package}));
        ASSERT_NO_FATAL_FAILURE(load());
        target(images);
        click(ID_NEXT);
    }
    /* Whether the row (any row, for -1) shows the status before the program ends. */
    bool waitForStatus(int row, const std::string &status) const {
        auto shows = [&](const std::vector<std::string> &s) {
            return row < 0 ? std::count(s.begin(), s.end(), status) > 0 : (int)s.size() > row && s[row] == status;
        };
        return waitUntil([&] { return !running() || shows(column(1)); }, MOVE_WAIT_MS) && running();
    }
};

TEST_F(Window, OneStartFromTheDroppedPackageToAMoveWithFailuresShownAsTheyCome) {
    DeleteFileA(marker.c_str());
    DeleteFileA(shortcut.c_str());  // one that an earlier run made would stop the offer
    service.script({update(std::string("false^") + u8"新版本下周发布，敬请期待！(V8.2)")});
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(answer("询问", {IDYES, IDNO, IDCANCEL}, IDCANCEL), "需要在桌面上创建一个软件打开的快捷方式吗？");
    EXPECT_TRUE(waitUntil([&] { return text(ID_NOTICE) == "新版本下周发布，敬请期待！(V8.2)"; })) << text(ID_NOTICE);
    EXPECT_EQ(service.requests(1).at(0).rfind("GET /check?version=" LUMORA_VERSION " HTTP/1.", 0), 0u);

    std::string singleByte = dir.file("x.csv"), longTitle = dir.file("long.csv"), gone = link("/gone.jpg");
    ASSERT_TRUE(writeFile(singleByte, "version 1.00\r\ntitle\tdescription\r\n"));
    ASSERT_TRUE(writePackage(longTitle, {itemRow(std::u16string(128, u'长'), u"")}));  // 256 GBK bytes
    const struct {
        std::string path, text;
        std::vector<int> buttons;
    } refusals[] = {{"", "请选择一个淘宝数据包(csv)文件", {IDOK}},
                    {dir.file("none.csv"), "选择的csv文件不存在，请重新选择", {IDOK}},
                    {singleByte, loadFailureMessage(0, singleByte.c_str()), {IDYES, IDNO}},  // open the guide?
                    {longTitle, loadFailureMessage(2, longTitle.c_str()), {IDOK}}};
    for (const auto &r : refusals) {
        if (!r.path.empty()) drop({r.path});
        click(ID_NEXT);
        EXPECT_EQ(answer("提示", r.buttons, r.buttons.back()), r.text);
    }
    EXPECT_EQ(refusals[2].text.rfind("[x.csv]数据格式存在问题", 0), 0u) << refusals[2].text;
    EXPECT_FALSE(fs::exists(page)) << "a page was opened although the answer was no";

    ASSERT_TRUE(writePackage(package, {itemRow(u"一号宝贝", img(link("/a.jpg"))),
                                       itemRow(u"二号宝贝", img(gone) + img(link("/b.png"))),
                                       itemRow(u"三号宝贝", u"", u"<img>" + widen(link("/m.jpg")) + u"</img>")}));
    std::string original = readFile(package);
    ASSERT_NO_FATAL_FAILURE(drop({dir.file("notes.txt"), package}));  // only a package is taken
    screenshot(frame, "page-one");
    ASSERT_NO_FATAL_FAILURE(load());
    EXPECT_TRUE(text(ID_NEXT) == "开始搬家" && IsWindowVisible(control(ID_PREV)));
    click(ID_OPT_IMAGE_SPACE);
    click(ID_OPT_OTHER_ALBUMS);  // both cleared before the next click is taken
    target(images);
    EXPECT_EQ(warningOnNext(), "[搬来自淘宝图片空间里的图片] 与 [搬来自第三方相册里的图片] 至少需选择其中一项");
    click(ID_PREV);
    ASSERT_TRUE(waitUntil([&] { return !IsWindowVisible(list); }));
    EXPECT_TRUE(text(ID_NEXT) == "下一步" && !IsWindowVisible(control(ID_PREV)));
    ASSERT_NO_FATAL_FAILURE(load());  // again: page two as it starts, the list not doubled
    EXPECT_EQ(column(0), (std::vector<std::string>{"一号宝贝", "二号宝贝", "三号宝贝"}));
    EXPECT_EQ(progress(), "搬家进度(宝贝数:3)");
    EXPECT_TRUE(checked(ID_OPT_IMAGE_SPACE) && checked(ID_OPT_OTHER_ALBUMS) && !checked(ID_OPT_BLANK));
    EXPECT_EQ(warningOnNext(), "请选择图片搬家后保存到哪一个文件夹中");
    target(dir.file("none"));
    EXPECT_EQ(warningOnNext(), "选择的文件夹不存在，请重新选择");
    target(desktop());
    EXPECT_EQ(warningOnNext().rfind("不可以将图片搬家到[桌面]上", 0), 0u);
    EXPECT_EQ(host.connections(), 0) << "a refused move fetched images";

    for (int label : {ID_TUTORIAL_LINK, ID_HOME_PAGE_LINK}) {
        DeleteFileA(page.c_str());
        PostMessageA(control(label), WM_LBUTTONDOWN, MK_LBUTTON, 0);
        EXPECT_TRUE(waitUntil([&] { return fs::exists(page); })) << "link " << label << " opened no page";
    }

    host.answerBy([](const std::string &request) {  // whichever of the job's connections asks
        if (request.rfind("GET /gone", 0) == 0) return reply("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        return request.rfind("GET /b.png ", 0) == 0 ? slow(ok(PNG), 1000) : reply(ok(JPEG));
    });
    target(images);
    click(ID_NEXT);
    ASSERT_TRUE(waitForStatus(1, "搬家中"));
    ASSERT_TRUE(selectRow(process.hProcess, list, 1));
    EXPECT_EQ(text(ID_FAILURES), "") << "failures shown before the item was finished";
    MessageBoxView outcome = expectBox("提示", {IDOK}, MOVE_WAIT_MS);
    EXPECT_EQ(text(ID_FAILURES),
              "[宝贝描述]图片搬家失败列表，可复制下列图片地址到浏览器中查看图片能否正常显示：\r\n" + gone);
    EXPECT_EQ(column(1), std::vector<std::string>(3, "完成"));
    EXPECT_EQ(column(2), (std::vector<std::string>{"", "1", ""}));
    EXPECT_EQ(column(3), std::vector<std::string>(3, ""));
    EXPECT_EQ(progress(), "搬家进度(宝贝数:3, 已搬家宝贝数:3)");
    EXPECT_EQ(outcome.text.rfind(std::string(MOVED) + "\n\n注意：有部分图片搬家失败！", 0), 0u) << outcome.text;
    ASSERT_TRUE(answerMessageBox(outcome, IDOK));
    // the job thread, which showed the message, lets the user go back or close
    EXPECT_TRUE(waitUntil([&] { return IsWindowEnabled(control(ID_PREV)) && IsWindowEnabled(control(ID_CLOSE)); }));
    screenshot(frame, "failures");
    ASSERT_TRUE(selectRow(process.hProcess, list, 0));
    EXPECT_EQ(text(ID_FAILURES), "");

    EXPECT_EQ(remoteLinks(package), std::vector<std::string>{gone});
    EXPECT_EQ(filesIn(images), 3u);
    EXPECT_EQ(readFile(beside("bak\\package(1).csv")), original);
    EXPECT_NE(readFile(beside("app.log")).find("搬家失败：" + gone), std::string::npos);
    EXPECT_FALSE(fs::exists(marker)) << "否 declined the shortcut for good";
    click(ID_CLOSE);
    EXPECT_EQ(waitForExit(), 0u) << "closing without a job ends the program at once";
}

/* A move closed by the user, then one ended by "must" from the update service, keep what they moved, named
 * in the package; the third fetches only the rest. The other two starts are offered a new version: yes, no. */
TEST_F(Window, StoppedMovesKeepTheirImagesAndTheNextMoveFetchesOnlyTheRest) {
    std::vector<std::string> links;
    std::vector<PackageRow> rows;
    for (int i = 1; i <= 20; i++) {
        links.push_back(link("/" + std::to_string(i) + ".jpg"));
        rows.push_back(itemRow(u"宝贝" + widen(std::to_string(i)), img(links.back())));
    }
    ASSERT_TRUE(writePackage(package, rows));
    host.answerBy([](const std::string &) { return slow(ok(JPEG), 500); });
    service.script({update("true")});
    // the second start's reply, "must", comes once its move runs
    service.answerBy([&](const std::string &) { waitUntil([&] { return moving.load(); }); return update("must"); });
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(answer("提示", {IDYES, IDNO}, IDYES), "检查到新的版本，是否需要进入官网下载新版本？");
    EXPECT_TRUE(waitUntil([&] { return fs::exists(page); })) << "yes opened no page";
    ASSERT_NO_FATAL_FAILURE(startMove());
    ASSERT_TRUE(waitForStatus(0, "完成"));
    screenshot(frame, "moving");
    PostMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(answer("确认", {IDOK, IDCANCEL}, IDCANCEL), "正在搬家，确定要关闭吗？");
    ASSERT_TRUE(waitForStatus(1, "完成")) << "the move stopped although the user kept it";
    PostMessageA(frame, WM_CLOSE, 0, 0);
    MessageBoxView confirm = expectBox("确认", {IDOK, IDCANCEL});
    std::vector<std::string> statuses = column(1);
    size_t inHand = std::find(statuses.begin(), statuses.end(), "搬家中") - statuses.begin();
    ASSERT_TRUE(answerMessageBox(confirm, IDOK));
    ASSERT_EQ(waitForExit(MOVE_WAIT_MS), 0u);
    // the downloads in flight were finished and kept, in link order; no new one began
    std::vector<std::string> left = remoteLinks(package);
    size_t moved = links.size() - left.size();
    EXPECT_GE(moved, inHand + 1);
    ASSERT_LT(moved, links.size()) << "the move went on to the end";
    EXPECT_EQ(left, std::vector<std::string>(links.begin() + moved, links.end()));
    EXPECT_EQ(filesIn(images), moved);

    DeleteFileA(page.c_str());
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(startMove());
    EXPECT_TRUE(moving = waitForStatus(-1, "搬家中"));
    EXPECT_EQ(answer("提示", {IDOK}, IDOK, MOVE_WAIT_MS), "软件最近有重要升级，请到官网下载最新版使用！");
    ASSERT_EQ(waitForExit(MOVE_WAIT_MS), 0u);
    EXPECT_TRUE(fs::exists(page)) << "the download page was not opened";
    left = remoteLinks(package);
    EXPECT_GT(links.size() - left.size(), moved);
    ASSERT_GT(left.size(), 0u) << "the move went on to the end";
    EXPECT_EQ(filesIn(images), links.size() - left.size());

    size_t asked = host.requests().size();
    host.answerBy([](const std::string &) { return reply(ok(JPEG)); });
    DeleteFileA(page.c_str());
    service.script({update("true")});
    ASSERT_NO_FATAL_FAILURE(start());
    answer("提示", {IDYES, IDNO}, IDNO);
    ASSERT_NO_FATAL_FAILURE(startMove());
    EXPECT_EQ(answer("完成", {IDOK}, IDOK, MOVE_WAIT_MS), MOVED);
    EXPECT_EQ(host.requests(asked + left.size()).size(), asked + left.size()) << "not only the rest was fetched";
    EXPECT_TRUE(remoteLinks(package).empty());
    EXPECT_EQ(filesIn(images), links.size());
    EXPECT_FALSE(fs::exists(page)) << "a page was opened although the answer was no";
}

TEST_F(Window, ARequiredUpdateEndsAnIdleProgramAndAnUnknownReplyIsShownAsReceived) {
    service.script({update("must")});
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(answer("提示", {IDOK}, IDOK), "软件最近有重要升级，请到官网下载最新版使用！");
    EXPECT_EQ(waitForExit(), 0u);
    service.script({update("<html>502</html>")});
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(answer("提示", {IDOK}, IDOK), "检查软件新版本时返回无法识别的数据：\n\n<html>502</html>");
    EXPECT_TRUE(running());
}

/* The next start, whose update check gets no reply, says nothing. */
TEST_F(Window, DecliningTheShortcutForGoodStopsTheOffer) {
    DeleteFileA(marker.c_str());
    DeleteFileA(shortcut.c_str());
    ASSERT_NO_FATAL_FAILURE(start());
    MessageBoxView offer = expectBox("询问", {IDYES, IDNO, IDCANCEL});
    EXPECT_EQ(textOf(GetDlgItem(offer.box, IDNO)) + "|" + textOf(GetDlgItem(offer.box, IDCANCEL)), "不用再提示|否(&N)");
    EXPECT_TRUE(waitUntil([&] { return buttonsFit(offer); }, QUIET_MS));  // fitted once the box is laid out
    ASSERT_TRUE(answerMessageBox(offer, IDNO));
    EXPECT_TRUE(waitUntil([&] { return fs::exists(marker); }) && !fs::exists(shortcut));
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_FALSE(waitUntil([&] { return topWindowOf(process.dwProcessId, "#32770"); }, QUIET_MS));
    EXPECT_EQ(text(ID_NOTICE), "");
}

TEST_F(Window, RefusesToRunFromAnArchiveViewersFolder) {
    std::string folder = dir.file("Temp\\Rar$EXa1.512");
    ASSERT_TRUE(fs::create_directories(folder) && fs::copy_file(program, folder + "\\Lumora.exe"));
    program = folder + "\\Lumora.exe";
    ASSERT_NO_FATAL_FAILURE(start(false));
    MessageBoxView box = expectBox("提示", {IDOK});  // before the window: owned by none
    EXPECT_EQ(box.text.rfind("请先对软件压缩包进行解压缩后再启动软件。", 0), 0u) << box.text;
    EXPECT_TRUE(answerMessageBox(box, IDOK));
    EXPECT_EQ(waitForExit(), 0xFFFFFFFFu);
}

/* The installed program run in place, with only the system's folders on the PATH so that it must find its
 * DLL beside itself; its move leaves a backup and a log for the uninstaller to keep. */
typedef Window Installed;

TEST_F(Installed, MovesAPackageFromItsOwnFolder) {
    const char *installed = getenv("LUMORA_INSTALLED_PROGRAM");
    if (!installed) GTEST_SKIP() << "no installed program named";
    program = installed;
    appFolder = program.substr(0, program.rfind('\\'));
    ASSERT_TRUE(writeFile(beside("no_shortcut.txt"), ""));
    std::string windows = getenv("SystemRoot") ? getenv("SystemRoot") : "C:\\windows";
    SetEnvironmentVariableA("PATH", (windows + "\\system32;" + windows).c_str());
    std::vector<char> data(GetFileVersionInfoSizeA(program.c_str(), NULL) + 1);
    VS_FIXEDFILEINFO *v = NULL;
    UINT length = 0;
    ASSERT_TRUE(GetFileVersionInfoA(program.c_str(), 0, data.size() - 1, data.data()) &&
                VerQueryValueA(data.data(), "\\", (void **)&v, &length));
    EXPECT_EQ(std::to_string(HIWORD(v->dwFileVersionMS)) + "." + std::to_string(LOWORD(v->dwFileVersionMS)) + "." +
                  std::to_string(HIWORD(v->dwFileVersionLS)), LUMORA_VERSION_FULL);
    ASSERT_TRUE(writePackage(package, {itemRow(u"安装版", img(link("/a.jpg")))}));
    host.script({reply(ok(JPEG))});
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(textOf(frame), "Lumora(V" LUMORA_VERSION ")");
    ASSERT_NO_FATAL_FAILURE(startMove());
    EXPECT_EQ(answer("完成", {IDOK}, IDOK, MOVE_WAIT_MS), MOVED);
    EXPECT_EQ(filesIn(images), 1u);
    EXPECT_TRUE(fs::exists(beside("bak\\package(1).csv")) && fs::exists(beside("app.log")));
    click(ID_CLOSE);
    EXPECT_EQ(waitForExit(), 0u);
}
