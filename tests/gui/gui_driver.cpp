/* The window tests: the real Lumora.exe driven as a user drives it, through its controls, dropped files and
 * message boxes, against an image host on 127.0.0.1 and the update service on the build's update port. A start
 * costs seconds under Wine, so one start carries a whole path. Each test runs a copy of the program in a folder
 * of its own, for its log, backups, markers and the probe page "temp.html" that shows a page was opened. */
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "lumora_version.h"
#include "move_checks.h"
#include "progress_figures.h"
#include "remote_ui.h"
#include "shell_state.h"
#include "test_server.h"
#include "test_support.h"

namespace fs = std::filesystem;

enum { MOVE_WAIT_MS = 60000, QUIET_MS = 2000, END_MS = 5000 };

static const std::string JPEG = std::string("\xFF\xD8\xFF\xE0", 4) + "jpeg", PNG = std::string("\x89PNG", 4) + "png";
static const char MOVED[] = "图片搬家已完成，数据包(package.csv)已更新。", BOM[] = "\xEF\xBB\xBF";

static std::string ok(const std::string &body, const std::string &headers = "") {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body;
}

static Reply slow(const std::string &whole, int pauseMs) {  // its second half after the pause
    return {{whole.substr(0, whole.size() / 2), whole.substr(whole.size() / 2)}, pauseMs, false};
}

/* A JPEG of the requested link's own: different links come back different, as images do. */
static std::string jpegFor(const std::string &request) { return ok(JPEG + request.substr(0, request.find(" HTTP"))); }
static Reply update(const std::string &body) { return reply(ok(body, "Connection: close\r\n"), true); }
static std::u16string widen(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }
static std::u16string img(const std::string &url) { return u"<img src=\"" + widen(url) + u"\">"; }

static size_t filesIn(const std::string &d) { return std::distance(fs::directory_iterator(d), {}); }

/* Makes the command the shell's "open" of a .csv file (in the test prefix's classes: Wine reads no user's own);
 * "" takes it away again. */
static bool openCsvWith(const std::string &command) {
    static const char CLASS[] = "LumoraTest.csv";
    if (command.empty())
        return RegDeleteTreeA(HKEY_CLASSES_ROOT, CLASS) == ERROR_SUCCESS && RegDeleteKeyA(HKEY_CLASSES_ROOT, ".csv") == ERROR_SUCCESS;
    return RegSetValueA(HKEY_CLASSES_ROOT, ".csv", REG_SZ, CLASS, 0) == ERROR_SUCCESS &&
           RegSetValueA(HKEY_CLASSES_ROOT, (std::string(CLASS) + "\\shell\\open\\command").c_str(), REG_SZ,
                        command.c_str(), 0) == ERROR_SUCCESS;
}

static std::string desktop() {
    char path[MAX_PATH] = "";
    return SUCCEEDED(SHGetFolderPathA(NULL, CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, NULL, 0, path)) ? path : "";
}

/* Whether the box's buttons sit side by side within it, the middle one (relabelled) wider than the first. */
static bool buttonsFit(const MessageBoxView &view) {
    RECT box, r[3];
    for (int i = 0; i < 3; i++) GetWindowRect(GetDlgItem(view.box, view.buttons.at(i)), &r[i]);
    return GetWindowRect(view.box, &box) && r[0].left >= box.left && r[0].right <= r[1].left &&
           r[1].right <= r[2].left && r[2].right <= box.right && r[1].right - r[1].left > r[0].right - r[0].left;
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
        SetProcessDPIAware();  // the program's places and sizes as they are, not as a 96-dpi program would see them
        if (!LUMORA_UPDATE_PORT) GTEST_SKIP() << "this build's update address is not on 127.0.0.1";
        ASSERT_TRUE(service.listening()) << "port " << LUMORA_UPDATE_PORT << " is taken";
        ASSERT_TRUE(fs::create_directory(appFolder) && fs::create_directory(images) && writeFile(marker, ""));
        ASSERT_TRUE(CopyFileA("Z:" LUMORA_PROGRAM_PATH, program.c_str(), FALSE)) << program;  // drive Z: is /
        DeleteFileA(shortcut.c_str());  // one that an earlier run made would stop the offer
    }
    void TearDown() override {
        if (!process.hProcess) return;
        TerminateProcess(process.hProcess, 1);  // fails harmlessly once the program has ended
        WaitForSingleObject(process.hProcess, END_MS);
        for (HANDLE handle : {process.hThread, process.hProcess}) CloseHandle(handle);
        process = PROCESS_INFORMATION();
    }
    void start(bool window = true) {  // ending the one that runs
        TearDown();
        DeleteFileA(page.c_str());
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        ASSERT_TRUE(CreateProcessA(program.c_str(), NULL, NULL, NULL, FALSE, 0, NULL, dir.path().c_str(),
                                   &startup, &process)) << program;
        if (!window) return;
        ASSERT_TRUE(waitUntil([&] { return frame = topWindowOf(process.dwProcessId, MAIN_WINDOW_CLASS); }));
        list = FindWindowExA(GetParent(control(ID_FAILURES)), NULL, WC_LISTVIEWA, NULL);
    }
    bool running() const { return waitForExit(0) == STILL_ACTIVE; }
    DWORD waitForExit(int ms = WAIT_MS) const {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process.hProcess, ms) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
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
    HWND progressLabel() const { return GetWindow(FindWindowExA(GetParent(list), NULL, PROGRESS_CLASSA, NULL), GW_HWNDNEXT); }
    std::string progress() const { return textOf(progressLabel()); }
    static bool writePackage(const std::string &path, const std::vector<PackageRow> &rows) {
        return writeFile(path, packageBytes(packageText(rows)));
    }
    void drop(const std::vector<std::string> &paths) const {
        ASSERT_TRUE(dropFiles(process.hProcess, frame, paths));
        ASSERT_TRUE(waitUntil([&] { return text(ID_CSV_PATH) == paths.back(); })) << text(ID_CSV_PATH);
    }
    /* The message box that comes, answered with button unless it is 0. */
    MessageBoxView box(const std::string &caption, const std::vector<int> &buttons, int button, int ms = WAIT_MS) {
        HWND found = NULL;
        waitUntil([&] { return (found = topWindowOf(process.dwProcessId, "#32770")) || !running(); }, ms);
        MessageBoxView view = readMessageBox(found);
        EXPECT_TRUE(found && view.owner == frame && view.caption == caption && view.buttons == buttons)
            << (found ? view.caption + ": " + view.text : "no message box came");
        EXPECT_TRUE(!found || !button || answerMessageBox(view, button)) << "the box stayed: " << view.text;
        return view;
    }
    std::string warningOnNext(const std::string &folder = "") {  // the folder typed first, unless ""
        if (!folder.empty()) target(folder);
        click(ID_NEXT);
        return box("提示", {IDOK}, IDOK).text;
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
    bool waitForStatus(size_t row, const std::string &status) const {  // false once the program ended
        auto shows = [&] { return column(1).size() > row && column(1)[row] == status; };
        return waitUntil([&] { return !running() || shows(); }, MOVE_WAIT_MS) && running();
    }
    /* Writes a package of n items, item i linking to /i.jpg on the host; returns the links. */
    std::vector<std::string> linkedPackage(int n) const {
        std::vector<std::string> links;
        std::vector<PackageRow> rows;
        for (int i = 1; i <= n; i++) links.push_back(link("/" + std::to_string(i) + ".jpg"));
        for (const std::string &l : links) rows.push_back(itemRow(u"宝贝" + widen(l.substr(l.rfind('/') + 1)), img(l)));
        EXPECT_TRUE(writePackage(package, rows));
        return links;
    }
    /* How many links the moves kept: the first ones, each in a file; the rest stay in the package. */
    size_t keptOf(const std::vector<std::string> &links) const {
        std::vector<std::string> left = remoteLinks(package);
        size_t kept = links.size() - std::min(left.size(), links.size());
        EXPECT_EQ(left, std::vector<std::string>(links.begin() + kept, links.end()));
        EXPECT_EQ(filesIn(images), kept);
        return kept;
    }
};

TEST_F(Window, OneStartFromTheDroppedPackageToAMoveWithFailuresShownAsTheyCome) {
    DeleteFileA(marker.c_str());
    service.script({update(std::string("false^") + u8"新版本下周发布，敬请期待！(V8.2)")});
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(box("询问", {IDYES, IDNO, IDCANCEL}, IDCANCEL).text, "需要在桌面上创建一个软件打开的快捷方式吗？");
    EXPECT_TRUE(waitUntil([&] { return text(ID_NOTICE) == "新版本下周发布，敬请期待！(V8.2)"; })) << text(ID_NOTICE);
    RECT r;  // every label and button of the window and its pages fits its text
    for (HWND parent : {frame, GetParent(list), GetParent(control(ID_CSV_PATH))})
        for (HWND c = NULL; (c = FindWindowExA(parent, c, NULL, NULL));)
            EXPECT_TRUE(GetClientRect(c, &r) && textWidth(process.hProcess, list, c) <= r.right) << textOf(c);
    // the progress label fits a 100,000-image move's longest figures: the fastest rate, the longest time left
    const std::string rewriting = ", 正在更新csv文件...(100%)";
    for (long done : {99999L, 1L}) {
        std::string figures = figuresText({99999, 100000, done, 100000, 100000, done, done == 1 ? 1e9 : 10.0}) + rewriting;
        EXPECT_TRUE(GetClientRect(progressLabel(), &r) && stringWidth(process.hProcess, list, figures) <= r.right) << figures;
    }
    EXPECT_EQ(service.requests(1).at(0).rfind("GET /check?version=" LUMORA_VERSION " HTTP/1.", 0), 0u);

    std::string singleByte = dir.file("x.csv"), longTitle = dir.file("long.csv"), twice = dir.file("twice.csv"), gone = link("/gone.jpg");
    std::string webPage = link("/page.jpg"), drawing = link("/draw.jpg"), report = dir.file("package-失败清单.csv");
    ASSERT_TRUE(writeFile(singleByte, "version 1.00\r\ntitle\tdescription\r\n"));
    ASSERT_TRUE(writeFile(twice, packageBytes(u"version 1.00\r\n宝贝名称\t宝贝描述\t无线详情\t无线详情\r\n\"一\"\t\"\"\t\"\"\t\"\"\r\n")));
    ASSERT_TRUE(writePackage(longTitle, {itemRow(std::u16string(128, u'长'), u"")}));  // 256 GBK bytes
    const struct { std::string path, text; std::vector<int> buttons; } refusals[] = {{"", "请选择一个淘宝数据包(csv)文件", {IDOK}},
        {dir.file("none.csv"), "选择的csv文件不存在，请重新选择", {IDOK}},
        {singleByte, loadFailureMessage(0, singleByte.c_str(), ""), {IDYES, IDNO}},  // open the guide?
        {longTitle, loadFailureMessage(2, longTitle.c_str(), ""), {IDOK}},
        {twice, loadFailureMessage(0, twice.c_str(), "表头中有两列都名为“无线详情”(第3列和第4列)，无法确定该读哪一列"), {IDYES, IDNO}}};
    for (const auto &r : refusals) {
        if (!r.path.empty()) drop({r.path});
        click(ID_NEXT);
        EXPECT_EQ(box("提示", r.buttons, r.buttons.back()).text, r.text);
    }
    EXPECT_EQ(refusals[2].text.rfind("[x.csv]数据格式存在问题", 0), 0u) << refusals[2].text;
    EXPECT_FALSE(fs::exists(page)) << "a page was opened although the answer was no";

    ASSERT_TRUE(writePackage(package, {itemRow(u"一号宝贝", img(link("/a.jpg"))),
                                       itemRow(u"二号宝贝", img(gone) + img(link("/b.png")) + img(webPage) + img(drawing)),
                                       itemRow(u"三号宝贝", u"", u"<img>" + widen(link("/m.jpg")) + u"</img>")}));
    std::string original = readFile(package);
    ASSERT_NO_FATAL_FAILURE(drop({dir.file("notes.txt"), package}));  // only a package is taken
    screenshot(frame, "page-one");
    ASSERT_NO_FATAL_FAILURE(load());
    EXPECT_TRUE(text(ID_NEXT) == "开始搬家" && IsWindowVisible(control(ID_PREV)));
    for (int option : {ID_OPT_IMAGE_SPACE, ID_OPT_OTHER_ALBUMS}) click(option);  // both cleared before Next is taken
    EXPECT_EQ(warningOnNext(images), "[搬来自淘宝图片空间里的图片] 与 [搬来自第三方相册里的图片] 至少需选择其中一项");
    click(ID_PREV);
    ASSERT_TRUE(waitUntil([&] { return !IsWindowVisible(list); }));
    EXPECT_TRUE(text(ID_NEXT) == "下一步" && !IsWindowVisible(control(ID_PREV)));
    ASSERT_NO_FATAL_FAILURE(load());  // again: page two as it starts, the list not doubled
    EXPECT_EQ(column(0), (std::vector<std::string>{"一号宝贝", "二号宝贝", "三号宝贝"}));
    EXPECT_EQ(progress(), "搬家进度(宝贝数:3)");
    EXPECT_TRUE(checked(ID_OPT_IMAGE_SPACE) && checked(ID_OPT_OTHER_ALBUMS) && !checked(ID_OPT_BLANK));
    EXPECT_EQ(warningOnNext(), "请选择图片搬家后保存到哪一个文件夹中");
    EXPECT_EQ(warningOnNext(dir.file("none")), "选择的文件夹不存在，请重新选择");
    EXPECT_EQ(warningOnNext(desktop()).rfind("不可以将图片搬家到[桌面]上", 0), 0u);
    EXPECT_EQ(host.connections(), 0) << "a refused move fetched images";

    for (int label : {ID_TUTORIAL_LINK, ID_HOME_PAGE_LINK}) {
        DeleteFileA(page.c_str());
        PostMessageA(control(label), WM_LBUTTONDOWN, MK_LBUTTON, 0);
        EXPECT_TRUE(waitUntil([&] { return fs::exists(page); })) << "link " << label << " opened no page";
    }

    host.answerBy([](const std::string &request) {  // whichever of the job's connections asks
        if (request.rfind("GET /gone", 0) == 0) return reply("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        if (request.rfind("GET /page", 0) == 0) return reply(ok("<!DOCTYPE html><html>"));
        if (request.rfind("GET /draw", 0) == 0) return reply(ok("<?xml version=\"1.0\"?><svg></svg>"));
        return request.rfind("GET /b.png ", 0) == 0 ? slow(ok(PNG), 3000) : reply(jpegFor(request));
    });
    target(images);
    click(ID_NEXT);
    ASSERT_TRUE(waitForStatus(1, "搬家中"));
    EXPECT_TRUE(!IsWindowVisible(control(ID_OPEN_REPORT)) && !IsWindowVisible(control(ID_OPEN_FOLDER)));
    EXPECT_EQ(progress().rfind("宝贝 ", 0), 0u) << progress();  // the figures from the start
    ASSERT_TRUE(selectRow(process.hProcess, list, 1));
    EXPECT_EQ(text(ID_FAILURES), "") << "failures shown before the item was finished";
    MessageBoxView outcome = box("提示", {IDOK}, 0, MOVE_WAIT_MS);
    EXPECT_EQ(text(ID_FAILURES), "[宝贝描述]图片搬家失败列表，可复制下列图片地址到浏览器中查看图片能否正常显示：\r\n" + gone +
                                     "  （HTTP 404，图片不存在）\r\n" + webPage + "  （不是图片：是一个网页）\r\n" + drawing +
                                     "  （不是图片：SVG 矢量图，淘宝不支持）");
    EXPECT_EQ((std::vector<std::vector<std::string>>{column(1), column(2), column(3)}),
              (std::vector<std::vector<std::string>>{{"完成", "完成", "完成"}, {"", "3", ""}, {"", "", ""}}));
    EXPECT_EQ(progress().rfind("宝贝 3/3  图片 6/6  失败 3  ", 0), 0u) << progress();  // the totals
    EXPECT_EQ(outcome.text.rfind(std::string(MOVED) + "\n\n注意：有部分图片搬家失败！", 0), 0u) << outcome.text;
    EXPECT_NE(outcome.text.find("package-失败清单.csv"), std::string::npos) << outcome.text;
    std::string row = "\"二号宝贝\",\"宝贝描述\",\"";
    EXPECT_EQ(readFile(report), BOM + converted("gbk", "utf-8", "\"宝贝标题\",\"位置\",\"图片地址\",\"失败原因\",\"再次搬家可能成功\"\r\n" +
                                  row + gone + "\",\"HTTP 404，图片不存在\",\"否\"\r\n" + row + webPage +
                                  "\",\"不是图片：是一个网页\",\"否\"\r\n" + row + drawing + "\",\"不是图片：SVG 矢量图，淘宝不支持\",\"否\"\r\n"));
    ASSERT_TRUE(answerMessageBox(outcome, IDOK));
    // the job thread, which showed the message, lets the user go back or close, and offers the report and the images
    EXPECT_TRUE(waitUntil([&] { return IsWindowEnabled(control(ID_PREV)) && IsWindowEnabled(control(ID_CLOSE)); }));
    EXPECT_TRUE(waitUntil([&] { return IsWindowVisible(control(ID_OPEN_REPORT)) && IsWindowVisible(control(ID_OPEN_FOLDER)); }));
    screenshot(frame, "failures");
    ASSERT_TRUE(selectRow(process.hProcess, list, 0));
    EXPECT_EQ(text(ID_FAILURES), "");

    EXPECT_EQ(remoteLinks(package), (std::vector<std::string>{gone, webPage, drawing}));
    EXPECT_EQ(filesIn(images), 3u);
    EXPECT_EQ(readFile(beside("bak\\package(1).csv")), original);
    EXPECT_NE(readFile(beside("app.log")).find("搬家失败：" + gone), std::string::npos);

    // the two buttons open the report in the program for .csv files (or say they cannot), and the folder in the file manager
    click(ID_OPEN_REPORT);
    EXPECT_EQ(box("提示", {IDOK}, IDOK).text, "无法打开：" + report);
    std::string opened = dir.file("opened.csv");
    ASSERT_TRUE(openCsvWith("C:\\windows\\system32\\cmd.exe /c copy \"%1\" \"" + opened + "\""));
    click(ID_OPEN_REPORT);
    EXPECT_TRUE(waitUntil([&] { return fs::exists(opened); })) << "the report was not opened";
    EXPECT_TRUE(openCsvWith(""));
    EXPECT_EQ(readFile(opened), readFile(report));
    click(ID_OPEN_FOLDER);
    HWND folder = NULL;
    EXPECT_TRUE(waitUntil([&] { return folder = windowTitled("images"); })) << "no window shows the image folder";
    if (folder) PostMessageA(folder, WM_CLOSE, 0, 0);
    EXPECT_FALSE(fs::exists(marker)) << "否 declined the shortcut for good";
    click(ID_CLOSE);
    EXPECT_EQ(waitForExit(), 0u) << "closing without a job ends the program at once";
}

/* A move closed by the user, then one ended by "must" from the update service, keep what they moved, named
 * in the package; the third fetches only the rest. The other two starts are offered a new version: yes, no. */
TEST_F(Window, StoppedMovesKeepTheirImagesAndTheNextMoveFetchesOnlyTheRest) {
    std::vector<std::string> links = linkedPackage(20);
    host.answerBy([](const std::string &r) { return slow(jpegFor(r), 1500); });
    service.script({update("true")});
    // the second start's reply, "must", comes once its move runs
    service.answerBy([&](const std::string &) { waitUntil([&] { return moving.load(); }); return update("must"); });
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(box("提示", {IDYES, IDNO}, IDYES).text, "检查到新的版本，是否需要进入官网下载新版本？");
    EXPECT_TRUE(waitUntil([&] { return fs::exists(page); })) << "yes opened no page";
    ASSERT_NO_FATAL_FAILURE(startMove());
    ASSERT_TRUE(waitForStatus(0, "完成"));
    screenshot(frame, "moving");
    PostMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(box("确认", {IDOK, IDCANCEL}, IDCANCEL).text, "正在搬家，确定要关闭吗？");
    ASSERT_TRUE(waitForStatus(1, "完成")) << "the move stopped although the user kept it";
    PostMessageA(frame, WM_CLOSE, 0, 0);
    MessageBoxView confirm = box("确认", {IDOK, IDCANCEL}, 0);
    std::vector<std::string> statuses = column(1);
    size_t inHand = std::find(statuses.begin(), statuses.end(), "搬家中") - statuses.begin();
    ASSERT_TRUE(answerMessageBox(confirm, IDOK));
    ASSERT_EQ(waitForExit(MOVE_WAIT_MS), 0u);
    size_t moved = keptOf(links);  // the downloads in flight finished and kept, no new one begun
    EXPECT_TRUE(moved > inHand && moved < links.size()) << moved << " kept, row " << inHand << " in flight";

    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(startMove());
    EXPECT_TRUE(moving = waitForStatus(moved, "搬家中"));
    EXPECT_EQ(box("提示", {IDOK}, IDOK, MOVE_WAIT_MS).text, "软件最近有重要升级，请到官网下载最新版使用！");
    ASSERT_EQ(waitForExit(MOVE_WAIT_MS), 0u);
    EXPECT_TRUE(fs::exists(page)) << "the download page was not opened";
    size_t movedAgain = keptOf(links);
    EXPECT_TRUE(movedAgain > moved && movedAgain < links.size()) << movedAgain << " kept, " << moved << " before";

    size_t asked = host.requests().size() + links.size() - movedAgain + 1;  // the rest, the first twice (with the Referer)
    host.answerBy([](const std::string &r) { return reply(jpegFor(r)); });
    service.script({update("true")});
    ASSERT_NO_FATAL_FAILURE(start());
    box("提示", {IDYES, IDNO}, IDNO);
    ASSERT_NO_FATAL_FAILURE(startMove());
    EXPECT_EQ(box("完成", {IDOK}, IDOK, MOVE_WAIT_MS).text, MOVED);
    EXPECT_EQ(host.requests(asked).size(), asked) << "not only the rest was fetched";
    EXPECT_EQ(keptOf(links), links.size());
    EXPECT_FALSE(fs::exists(page)) << "a page was opened although the answer was no";
}

/* A second close cuts the downloads in flight at once: what arrived whole is linked, no cut image is left. */
TEST_F(Window, ASecondCloseCutsTheDownloadsInFlight) {
    std::vector<std::string> links = linkedPackage(6);
    host.answerBy([](const std::string &r) { return r.rfind("GET /1.jpg ", 0) == 0 ? reply(ok(JPEG)) : slow(ok(JPEG), MOVE_WAIT_MS); });
    service.script({update("false^")});
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(startMove());
    ASSERT_TRUE(waitForStatus(0, "完成"));
    PostMessageA(frame, WM_CLOSE, 0, 0);
    ASSERT_TRUE(answerMessageBox(box("确认", {IDOK, IDCANCEL}, 0), IDOK));
    PostMessageA(frame, WM_CLOSE, 0, 0);
    ASSERT_EQ(waitForExit(), 0u) << "the downloads in flight were awaited";
    EXPECT_EQ(keptOf(links), 1u);
}

TEST_F(Window, ARequiredUpdateEndsAnIdleProgramAndAnUnknownReplyIsShownAsReceived) {
    service.script({update("must")});
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(box("提示", {IDOK}, IDOK).text, "软件最近有重要升级，请到官网下载最新版使用！");
    EXPECT_EQ(waitForExit(), 0u);
    service.script({update("<html>502</html>")});
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(box("提示", {IDOK}, IDOK).text, "检查软件新版本时返回无法识别的数据：\n\n<html>502</html>");
    EXPECT_TRUE(running());
}

/* The next start, whose update check gets no reply, says nothing. */
TEST_F(Window, DecliningTheShortcutForGoodStopsTheOffer) {
    DeleteFileA(marker.c_str());
    ASSERT_NO_FATAL_FAILURE(start());
    MessageBoxView offer = box("询问", {IDYES, IDNO, IDCANCEL}, 0);
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
    std::string refusal = box("提示", {IDOK}, IDOK).text;  // before the window: owned by none
    EXPECT_EQ(refusal.rfind("请先对软件压缩包进行解压缩后再启动软件。", 0), 0u) << refusal;
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
    SetEnvironmentVariableA("PATH", "C:\\windows\\system32;C:\\windows");
    std::vector<char> data(GetFileVersionInfoSizeA(program.c_str(), NULL) + 1);
    VS_FIXEDFILEINFO *v = NULL;
    UINT length = 0;
    ASSERT_TRUE(GetFileVersionInfoA(program.c_str(), 0, data.size() - 1, data.data()) &&
                VerQueryValueA(data.data(), "\\", (void **)&v, &length));
    EXPECT_EQ(std::to_string(HIWORD(v->dwFileVersionMS)) + "." + std::to_string(LOWORD(v->dwFileVersionMS)) + "." +
                  std::to_string(HIWORD(v->dwFileVersionLS)), LUMORA_VERSION_FULL);
    ASSERT_TRUE(writePackage(package, {itemRow(u"安装版", img(link("/a.jpg")))}));
    host.script({reply(ok(JPEG)), reply(ok(JPEG))});  // the image, and again with the Referer
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(textOf(frame), "Lumora(V" LUMORA_VERSION ")");
    ASSERT_NO_FATAL_FAILURE(startMove());
    EXPECT_EQ(box("完成", {IDOK}, IDOK, MOVE_WAIT_MS).text, MOVED);
    EXPECT_EQ(filesIn(images), 1u);
    EXPECT_TRUE(fs::exists(beside("bak\\package(1).csv")) && fs::exists(beside("app.log")));
    click(ID_CLOSE);
    EXPECT_EQ(waitForExit(), 0u);
}
