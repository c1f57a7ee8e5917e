/* The window tests: the real Lumora.exe driven as a user would drive it,
 * through its controls and its message boxes, against packages written for
 * each test and a scripted image host on 127.0.0.1.
 *
 * The groups follow the user's way through the program: page one (the
 * package), page two (the choices), a whole move, closing during one, the
 * update notice, and what happens at start (the shortcut offer, the refusal
 * to run from an archive viewer's folder). What a test expects of files is
 * read from the disk: the package is loaded back with the program's own
 * reader, the images, the backup, the log and the markers are looked for
 * beside the program. The texts compared are the program's GBK bytes; the
 * long messages that the window shares with the console are taken from the
 * shared checks so that both must say the same. */
#include <gtest/gtest.h>
#include <shlobj.h>
#include <stdlib.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "lumora_app.h"
#include "lumora_version.h"
#include "move_checks.h"
#include "package_builder.h"
#include "package_reader.h"
#include "screenshot.h"
#include "shell_state.h"
#include "test_server.h"
#include "test_support.h"

enum { MOVE_WAIT_MS = 60000, QUIET_MS = 2000 };

static const std::string JPEG = std::string("\xFF\xD8\xFF\xE0", 4) + "jpeg body";
static const std::string PNG = std::string("\x89PNG", 4) + "png body";
static const std::string NOT_FOUND = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
static const char FAILURES_HEADING[] = "[宝贝描述]图片搬家失败列表，可复制下列图片地址到浏览器中查看图片能否正常显示：";
static const char MOVED[] = "图片搬家已完成，数据包(package.csv)已更新。";

static std::string ok(const std::string &body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

/* An image reply that takes a second and a half: four pieces, 500 ms apart. */
static Reply slowImage() {
    std::string whole = ok(JPEG);
    size_t piece = whole.size() / 4 + 1;
    Reply r;
    for (size_t at = 0; at < whole.size(); at += piece) r.pieces.push_back(whole.substr(at, piece));
    r.pauseMs = 500;
    return r;
}

static std::u16string widen(const std::string &ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

static std::u16string img(const std::u16string &url) {
    return u"<img src=\"" + url + u"\">";
}

static bool exists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

/* The names of the files in a folder. */
static std::vector<std::string> filesIn(const std::string &folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

/* The user's desktop folder, as Windows names it. */
static std::string desktop() {
    char path[MAX_PATH] = "";
    SHGetFolderPathA(NULL, CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, NULL, SHGFP_TYPE_CURRENT, path);
    return path;
}

class LumoraTest : public testing::Test {
protected:
    ScratchDir dir;
    std::string appFolder = dir.file("app"), images = dir.file("images"), package = dir.file("package.csv");
    std::string program;
    TestServer host;  // the image host
    std::unique_ptr<Lumora> app;  // declared last so that the program ends first

    void SetUp() override {
        program = installLumora(appFolder);
        ASSERT_FALSE(program.empty()) << "cannot copy the program into " << appFolder;
        ASSERT_TRUE(writeFile(beside("no_shortcut.txt"), ""));
        ASSERT_TRUE(CreateDirectoryA(images.c_str(), NULL));
    }

    /* A file beside the program. */
    std::string beside(const std::string &name) const { return appFolder + "\\" + name; }

    /* Starts the program (ending one that still runs) and waits for its window. */
    void start() {
        app.reset();
        app.reset(new Lumora(program, dir.path()));
        ASSERT_TRUE(app->running()) << "cannot start " << program;
        ASSERT_TRUE(app->waitForWindow()) << "no main window with its controls";
    }

    std::u16string link(const std::string &path) const {
        return widen("http://127.0.0.1:" + std::to_string(host.port()) + path);
    }

    void writePackage(const std::string &path, const std::vector<PackageRow> &rows) const {
        ASSERT_TRUE(writeFile(path, packageBytes(packageText(rows))));
    }

    /* Waits for a message box owned by the main window, checks its caption
     * and buttons, and answers it; its text. */
    std::string answer(const std::string &caption, const std::vector<int> &buttons, int button,
                       int timeoutMs = WAIT_MS) const {
        MessageBoxView box;
        if (!app->waitForMessage(&box, timeoutMs)) {
            ADD_FAILURE() << "no message box came";
            return "";
        }
        EXPECT_EQ(box.owner, app->window()) << box.text;
        EXPECT_EQ(box.caption, caption) << box.text;
        EXPECT_EQ(box.buttons, buttons) << box.text;
        EXPECT_TRUE(answerMessageBox(box, button)) << "the box stayed: " << box.text;
        return box.text;
    }

    /* Clicks the wizard's next button and answers the warning it brings; its text. */
    std::string warningOnNext() const {
        app->click(ID_NEXT);
        return answer("提示", {IDOK}, IDOK);
    }

    /* Page one with the path entered; the warning that next brings. */
    std::string refusalOf(const std::string &path) const {
        app->setText(ID_CSV_PATH, path);
        return warningOnNext();
    }

    /* Loads the package on page one; page two must follow. */
    void load(const std::string &path) const {
        ASSERT_TRUE(app->setText(ID_CSV_PATH, path));
        app->click(ID_NEXT);
        ASSERT_TRUE(waitUntil([&] { return app->onPageTwo(); })) << "page two did not come";
    }

    /* Loads the package and starts moving it into the images folder. */
    void startMove(const std::string &path) const {
        ASSERT_NO_FATAL_FAILURE(load(path));
        ASSERT_TRUE(app->setText(ID_TARGET_FOLDER, images));
        app->click(ID_NEXT);
    }

    /* Waits until the item list's row shows the status; false when it does
     * not come or the program ends. */
    bool waitForStatus(int row, const std::string &status) const {
        waitUntil([&] { return !app->running() || app->items().cell(row, 1) == status; }, MOVE_WAIT_MS);
        return app->running() && app->items().cell(row, 1) == status;
    }
};

/* ---- page one: the package ---- */

typedef LumoraTest PageOne;

TEST_F(PageOne, AsksForAPackageThatExists) {
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(app->text(ID_NEXT), "下一步");
    EXPECT_FALSE(app->visible(ID_PREV));
    EXPECT_EQ(refusalOf(""), "请选择一个淘宝数据包(csv)文件");
    EXPECT_EQ(refusalOf(dir.file("none.csv")), "选择的csv文件不存在，请重新选择");
    EXPECT_FALSE(app->onPageTwo());
}

TEST_F(PageOne, RefusesPackagesOutOfTheExportForm) {
    ASSERT_NO_FATAL_FAILURE(start());
    std::string singleByte = dir.file("x.csv");
    ASSERT_TRUE(writeFile(singleByte, "version 1.00\r\ntitle\tdescription\r\n"));
    app->setText(ID_CSV_PATH, singleByte);
    app->click(ID_NEXT);
    std::string text = answer("提示", {IDYES, IDNO}, IDNO);
    EXPECT_EQ(text.rfind("[x.csv]数据格式存在问题", 0), 0u) << text;
    EXPECT_EQ(text, loadFailureMessage(0, singleByte.c_str()));
    EXPECT_FALSE(exists(beside("temp.html"))) << "a browser was started although the answer was no";

    std::string longTitle = dir.file("long.csv");
    ASSERT_NO_FATAL_FAILURE(writePackage(longTitle, {itemRow(std::u16string(128, u'长'), u"")}));  // 256 GBK bytes
    EXPECT_EQ(refusalOf(longTitle), loadFailureMessage(2, longTitle.c_str()));
    EXPECT_FALSE(app->onPageTwo());
}

TEST_F(PageOne, LoadsAPackageIntoPageTwoAndGoesBack) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(
        writePackage(package, {itemRow(u"一号宝贝", u""), itemRow(u"二号宝贝", u""), itemRow(u"三号宝贝", u"")}));
    app->setText(ID_CSV_PATH, package);
    screenshot(app->window(), "page-one");
    ASSERT_NO_FATAL_FAILURE(load(package));
    EXPECT_EQ(app->items().column(0), (std::vector<std::string>{"一号宝贝", "二号宝贝", "三号宝贝"}));
    EXPECT_EQ(app->items().column(1), std::vector<std::string>(3, "等待"));
    EXPECT_EQ(app->progress(), "搬家进度(宝贝数:3)");
    EXPECT_EQ(app->text(ID_NEXT), "开始搬家");
    EXPECT_TRUE(app->visible(ID_PREV));

    app->click(ID_PREV);
    ASSERT_TRUE(waitUntil([&] { return !app->onPageTwo(); }));
    EXPECT_EQ(app->text(ID_NEXT), "下一步");
    std::string other = dir.file("other.csv");
    ASSERT_NO_FATAL_FAILURE(writePackage(other, {itemRow(u"另一个", u"")}));
    ASSERT_NO_FATAL_FAILURE(load(other));
    EXPECT_EQ(app->items().column(0), std::vector<std::string>{"另一个"});
    EXPECT_EQ(app->progress(), "搬家进度(宝贝数:1)");

    app->click(ID_CLOSE);
    EXPECT_EQ(app->waitForExit(), 0u) << "closing without a job ends the program at once";
}

/* ---- page two: the choices ---- */

typedef LumoraTest PageTwo;

TEST_F(PageTwo, RefusesChoicesAMoveCannotStartWith) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(writePackage(package, {itemRow(u"一", img(link("/a.jpg"))), itemRow(u"二", u"")}));
    ASSERT_NO_FATAL_FAILURE(load(package));
    EXPECT_TRUE(app->checked(ID_OPT_IMAGE_SPACE));
    EXPECT_TRUE(app->checked(ID_OPT_OTHER_ALBUMS));
    EXPECT_FALSE(app->checked(ID_OPT_BLANK));

    ASSERT_TRUE(app->setChecked(ID_OPT_IMAGE_SPACE, false));
    ASSERT_TRUE(app->setChecked(ID_OPT_OTHER_ALBUMS, false));
    app->setText(ID_TARGET_FOLDER, images);
    EXPECT_EQ(warningOnNext(), "[搬来自淘宝图片空间里的图片] 与 [搬来自第三方相册里的图片] 至少需选择其中一项");
    ASSERT_TRUE(app->setChecked(ID_OPT_OTHER_ALBUMS, true));
    app->setText(ID_TARGET_FOLDER, "");
    EXPECT_EQ(warningOnNext(), "请选择图片搬家后保存到哪一个文件夹中");
    app->setText(ID_TARGET_FOLDER, dir.file("none"));
    EXPECT_EQ(warningOnNext(), "选择的文件夹不存在，请重新选择");
    app->setText(ID_TARGET_FOLDER, desktop());
    std::string text = warningOnNext();
    EXPECT_EQ(text.rfind("不可以将图片搬家到[桌面]上", 0), 0u) << text;

    EXPECT_EQ(app->items().column(1), std::vector<std::string>(2, "等待"));
    EXPECT_TRUE(app->enabled(ID_NEXT));
    EXPECT_EQ(host.connections(), 0) << "a refused move fetched images";
}

/* ---- a whole move ---- */

typedef LumoraTest Move;

TEST_F(Move, MovesTheImagesAndListsTheFailures) {
    ASSERT_NO_FATAL_FAILURE(start());
    std::u16string gone = link("/gone.jpg");
    ASSERT_NO_FATAL_FAILURE(writePackage(package, {itemRow(u"一号", img(link("/a.jpg"))),
                                                   itemRow(u"二号", img(gone) + img(link("/b.png"))),
                                                   itemRow(u"三号", u"", u"<img>" + link("/m.jpg") + u"</img>")}));
    std::string original = readFile(package);
    host.answerBy([](const std::string &request) {  // whichever of the job's connections asks
        if (request.rfind("GET /gone.jpg ", 0) == 0) return reply(NOT_FOUND);
        return reply(ok(request.rfind("GET /b.png ", 0) == 0 ? PNG : JPEG));
    });
    ASSERT_NO_FATAL_FAILURE(startMove(package));

    MessageBoxView outcome;
    ASSERT_TRUE(app->waitForMessage(&outcome, MOVE_WAIT_MS)) << "the move did not end";
    RemoteListView items = app->items();
    EXPECT_EQ(items.column(1), std::vector<std::string>(3, "完成"));
    EXPECT_EQ(items.column(2), (std::vector<std::string>{"", "1", ""}));
    EXPECT_EQ(items.column(3), std::vector<std::string>(3, ""));
    EXPECT_EQ(app->progress(), "搬家进度(宝贝数:3, 已搬家宝贝数:3)");
    std::string text = answer("提示", {IDOK}, IDOK);
    EXPECT_EQ(text.rfind(std::string(MOVED) + "\n\n注意：有部分图片搬家失败！", 0), 0u) << text;
    // the job thread, which showed the message, lets the user go back or close
    EXPECT_TRUE(waitUntil([&] { return app->enabled(ID_PREV) && app->enabled(ID_CLOSE); }));

    std::string goneUrl(gone.begin(), gone.end());
    ASSERT_TRUE(items.select(1));
    EXPECT_EQ(app->text(ID_FAILURES), FAILURES_HEADING + std::string("\r\n") + goneUrl);
    screenshot(app->window(), "failures");
    ASSERT_TRUE(items.select(0));
    EXPECT_EQ(app->text(ID_FAILURES), "");

    EXPECT_EQ(remoteLinks(package), std::vector<std::string>{goneUrl});
    EXPECT_EQ(filesIn(images).size(), 3u);
    EXPECT_EQ(readFile(beside("bak") + "\\package(1).csv"), original);
    EXPECT_NE(readFile(beside("app.log")).find("搬家失败：" + goneUrl), std::string::npos);
}

TEST_F(Move, ClosingAsksAndStopsNewDownloads) {
    ASSERT_NO_FATAL_FAILURE(start());
    std::vector<std::string> paths, links;
    std::vector<PackageRow> rows;
    for (int i = 1; i <= 20; i++) {
        paths.push_back("/" + std::to_string(i) + ".jpg");
        links.push_back("http://127.0.0.1:" + std::to_string(host.port()) + paths.back());
        rows.push_back(itemRow(u"宝贝" + widen(std::to_string(i)), img(widen(links.back()))));
    }
    ASSERT_NO_FATAL_FAILURE(writePackage(package, rows));
    host.answerBy([](const std::string &) { return slowImage(); });
    ASSERT_NO_FATAL_FAILURE(startMove(package));
    ASSERT_TRUE(waitForStatus(0, "完成"));
    screenshot(app->window(), "moving");

    app->postClose();
    EXPECT_EQ(answer("确认", {IDOK, IDCANCEL}, IDCANCEL), "正在搬家，确定要关闭吗？");
    ASSERT_TRUE(waitForStatus(1, "完成")) << "the move stopped although the user kept it";
    app->postClose();
    MessageBoxView confirm;
    ASSERT_TRUE(app->waitForMessage(&confirm));
    std::vector<std::string> statuses = app->items().column(1);
    size_t inHand = std::find(statuses.begin(), statuses.end(), "搬家中") - statuses.begin();
    EXPECT_EQ(answer("确认", {IDOK, IDCANCEL}, IDOK), "正在搬家，确定要关闭吗？");
    ASSERT_EQ(app->waitForExit(MOVE_WAIT_MS), 0u);

    // the downloads in flight were finished and kept, in link order; no new one began
    std::vector<std::string> left = remoteLinks(package);
    size_t moved = links.size() - left.size();
    EXPECT_GE(moved, inHand + 1);
    ASSERT_LT(moved, links.size()) << "the move went on to the end";
    EXPECT_EQ(left, std::vector<std::string>(links.begin() + moved, links.end()));
    EXPECT_EQ(filesIn(images).size(), moved);

    // moving the package again fetches only the rest
    size_t asked = host.requests().size();
    host.answerBy([](const std::string &) { return reply(ok(JPEG)); });
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(startMove(package));
    EXPECT_EQ(answer("完成", {IDOK}, IDOK, MOVE_WAIT_MS), MOVED);
    std::vector<std::string> requests = host.requests(asked + left.size()), asks, rest;
    ASSERT_EQ(requests.size(), asked + left.size());
    for (size_t i = 0; i < left.size(); i++) {
        asks.push_back(requests[asked + i].substr(0, requests[asked + i].find(' ', 4)));
        rest.push_back("GET " + paths[moved + i]);
    }
    std::sort(asks.begin(), asks.end());
    std::sort(rest.begin(), rest.end());
    EXPECT_EQ(asks, rest);  // several at once, in any order
    EXPECT_TRUE(remoteLinks(package).empty());
    EXPECT_EQ(filesIn(images).size(), links.size());
}

/* ---- the update notice ---- */

class UpdateNotice : public LumoraTest {
protected:
    std::unique_ptr<TestServer> service;

    void SetUp() override {
        if (LUMORA_UPDATE_PORT == 0) GTEST_SKIP() << "this build's update address is not on 127.0.0.1";
        LumoraTest::SetUp();
    }
    /* Starts the program with the update service answering body. */
    void startAnswering(const std::string &body) {
        service.reset(new TestServer(LUMORA_UPDATE_PORT));
        ASSERT_TRUE(service->listening()) << "port " << LUMORA_UPDATE_PORT << " is taken";
        service->script({reply("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                   "\r\nConnection: close\r\n\r\n" + body,
                               true)});
        ASSERT_NO_FATAL_FAILURE(start());
    }
};

TEST_F(UpdateNotice, ShowsTheNoticeItIsSent) {
    ASSERT_NO_FATAL_FAILURE(startAnswering(std::string("false^") + u8"新版本下周发布，敬请期待！(V8.2)"));
    EXPECT_TRUE(waitUntil([&] { return app->text(ID_NOTICE) == "新版本下周发布，敬请期待！(V8.2)"; }))
        << app->text(ID_NOTICE);
    EXPECT_TRUE(app->quietFor(QUIET_MS));
    std::vector<std::string> requests = service->requests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("GET /check?version=" LUMORA_VERSION " HTTP/1.", 0), 0u) << requests[0];
}

TEST_F(UpdateNotice, OffersANewVersion) {
    ASSERT_NO_FATAL_FAILURE(startAnswering("true"));
    EXPECT_EQ(answer("提示", {IDYES, IDNO}, IDNO), "检查到新的版本，是否需要进入官网下载新版本？");
    EXPECT_TRUE(app->quietFor(QUIET_MS));
    EXPECT_TRUE(app->running());
    EXPECT_FALSE(exists(beside("temp.html"))) << "a browser was started although the answer was no";
}

TEST_F(UpdateNotice, EndsTheProgramWhenANewVersionIsRequired) {
    ASSERT_NO_FATAL_FAILURE(startAnswering("must"));
    EXPECT_FALSE(answer("提示", {IDOK}, IDOK).empty());
    EXPECT_EQ(app->waitForExit(), 0u);
}

/* "must" during a move: the program ends once the job has written the links
 * it moved, so every image on disk is named in the package. */
TEST_F(UpdateNotice, ARequiredUpdateDuringAMoveEndsAfterTheWriteBack) {
    std::vector<PackageRow> rows;  // four at a time, the move outlasts the reply below
    for (int i = 1; i <= 32; i++)
        rows.push_back(itemRow(u"宝贝" + widen(std::to_string(i)), img(link("/" + std::to_string(i) + ".jpg"))));
    ASSERT_NO_FATAL_FAILURE(writePackage(package, rows));
    host.answerBy([](const std::string &) { return slowImage(); });
    service.reset(new TestServer(LUMORA_UPDATE_PORT));
    ASSERT_TRUE(service->listening()) << "port " << LUMORA_UPDATE_PORT << " is taken";
    Reply late;  // a byte every 100 ms: the reply is complete once the move runs
    for (char c : std::string("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nmust"))
        late.pieces.push_back(std::string(1, c));
    late.pauseMs = 100;
    late.close = true;
    service->script({late});
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(startMove(package));
    EXPECT_EQ(answer("提示", {IDOK}, IDOK, MOVE_WAIT_MS), "软件最近有重要升级，请到官网下载最新版使用！");
    ASSERT_EQ(app->waitForExit(MOVE_WAIT_MS), 0u);
    size_t moved = rows.size() - remoteLinks(package).size();
    EXPECT_GT(moved, 0u);
    EXPECT_LT(moved, rows.size());
    EXPECT_EQ(filesIn(images).size(), moved);
}

TEST_F(UpdateNotice, ShowsAnUnrecognisedReplyAsReceived) {
    std::string body;
    for (int i = 0; i < 1000; i++) body += (char)('a' + i % 26);
    ASSERT_NO_FATAL_FAILURE(startAnswering(body));
    EXPECT_EQ(answer("提示", {IDOK}, IDOK), "检查软件新版本时返回无法识别的数据：\n\n" + body.substr(0, 386));
    EXPECT_TRUE(app->running());
}

TEST_F(UpdateNotice, SaysNothingWithoutAService) {
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_TRUE(app->quietFor(QUIET_MS));
    EXPECT_TRUE(app->running());
    EXPECT_EQ(app->text(ID_NOTICE), "");
}

/* ---- at start ---- */

/* The width of text in the system's message-box font. */
static int messageTextWidth(const std::string &text) {
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    HFONT font = CreateFontIndirectA(&metrics.lfMessageFont);
    HDC dc = CreateCompatibleDC(NULL);
    HGDIOBJ previous = SelectObject(dc, font);
    SIZE size = {0, 0};
    GetTextExtentPoint32A(dc, text.c_str(), (int)text.size(), &size);
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(font);
    return size.cx;
}

/* The problem of a box's buttons: one narrower than its text, overlapping
 * the one before it, or reaching out of the box; "" when there is none. */
static std::string buttonProblem(const MessageBoxView &view) {
    RECT client, previous = {0, 0, 0, 0};
    GetClientRect(view.box, &client);
    for (size_t i = 0; i < view.buttons.size(); i++) {
        RECT r;
        GetWindowRect(GetDlgItem(view.box, view.buttons[i]), &r);
        MapWindowPoints(NULL, view.box, (POINT *)&r, 2);
        int width = r.right - r.left, needed = messageTextWidth(view.labels[i]);
        if (width <= needed)
            return view.labels[i] + ": " + std::to_string(width) + " wide for " + std::to_string(needed);
        if (r.left < previous.right) return view.labels[i] + " overlaps the button before it";
        if (r.right > client.right) return view.labels[i] + " reaches out of the box";
        previous = r;
    }
    return "";
}

/* Every button of the box holds its text, side by side within the box,
 * soon after the box shows (the program may fit them once it is laid out). */
static void expectButtonsFitTheirTexts(const MessageBoxView &view) {
    waitUntil([&] { return buttonProblem(view).empty(); }, QUIET_MS);
    EXPECT_EQ(buttonProblem(view), "");
}

class Start : public LumoraTest {
protected:
    /* Starts the program, which must offer the shortcut; answers with the
     * button labelled so and closes the program. */
    void answerShortcutOffer(const std::string &label) {
        ASSERT_NO_FATAL_FAILURE(start());
        MessageBoxView box;
        ASSERT_TRUE(app->waitForMessage(&box)) << "no shortcut offer";
        EXPECT_EQ(box.owner, app->window());
        EXPECT_EQ(box.caption, "询问");
        EXPECT_EQ(box.text, "需要在桌面上创建一个软件打开的快捷方式吗？");
        ASSERT_EQ(box.labels.size(), 3u);
        EXPECT_EQ(box.labels[1], "不用再提示");
        EXPECT_EQ(box.labels[2], "否(&N)");
        expectButtonsFitTheirTexts(box);
        ASSERT_TRUE(answerMessageBox(box, buttonLabelled(box, label)));
        app->postClose();
        EXPECT_EQ(app->waitForExit(), 0u);
    }
};

TEST_F(Start, OffersTheShortcutUntilDeclinedForGood) {
    std::string marker = beside("no_shortcut.txt"), shortcut = desktop() + "\\Lumora.lnk";
    ASSERT_TRUE(DeleteFileA(marker.c_str()));
    DeleteFileA(shortcut.c_str());  // one that an earlier run made would stop the offer
    ASSERT_NO_FATAL_FAILURE(answerShortcutOffer("否(&N)"));
    EXPECT_FALSE(exists(marker));
    ASSERT_NO_FATAL_FAILURE(answerShortcutOffer("不用再提示"));
    EXPECT_TRUE(exists(marker));
    EXPECT_FALSE(exists(shortcut));
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_TRUE(app->quietFor(QUIET_MS)) << "offered again after 不用再提示";
    EXPECT_TRUE(app->running());
}

TEST_F(Start, RefusesToRunFromAnArchiveViewersFolder) {
    std::string temp = dir.file("Temp"), folder = temp + "\\Rar$EXa1.512";
    ASSERT_TRUE(CreateDirectoryA(temp.c_str(), NULL));
    std::string copy = installLumora(folder);
    ASSERT_FALSE(copy.empty());
    app.reset(new Lumora(copy, dir.path()));
    MessageBoxView box;
    ASSERT_TRUE(app->waitForMessage(&box)) << "no refusal";
    EXPECT_EQ(box.owner, (HWND)NULL) << "the refusal comes before the window";
    EXPECT_EQ(box.caption, "提示");
    EXPECT_EQ(box.text.rfind("请先对软件压缩包进行解压缩后再启动软件。", 0), 0u) << box.text;
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_TRUE(answerMessageBox(box, IDOK));
    EXPECT_EQ(app->waitForExit(), 0xFFFFFFFFu);
}

/* ---- the installed program ---- */

/* The program where the installer put it (LUMORA_INSTALLED_PROGRAM, a
 * Windows path; skipped without one), run in place with only the system's
 * folders on the PATH, so that it must find its DLL beside itself. It moves
 * a package, which leaves a backup and a log for the uninstaller to keep. */
class Installed : public LumoraTest {
protected:
    void SetUp() override {
        const char *installed = getenv("LUMORA_INSTALLED_PROGRAM");
        if (!installed) GTEST_SKIP() << "no installed program named";
        program = installed;
        appFolder = program.substr(0, program.rfind('\\'));
        ASSERT_TRUE(writeFile(beside("no_shortcut.txt"), ""));
        ASSERT_TRUE(CreateDirectoryA(images.c_str(), NULL));
        char system[MAX_PATH], windows[MAX_PATH];
        GetSystemDirectoryA(system, sizeof system);
        GetWindowsDirectoryA(windows, sizeof windows);
        SetEnvironmentVariableA("PATH", (std::string(system) + ";" + windows).c_str());
    }
};

/* The version record's file version, as "major.minor.patch". */
static std::string fileVersion(const std::string &path) {
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    std::vector<char> data(size);
    VS_FIXEDFILEINFO *info = NULL;
    UINT length = 0;
    if (!size || !GetFileVersionInfoA(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueA(data.data(), "\\", (void **)&info, &length))
        return "";
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS));
}

TEST_F(Installed, MovesAPackageFromItsOwnFolder) {
    EXPECT_EQ(fileVersion(program), LUMORA_VERSION_FULL);
    ASSERT_NO_FATAL_FAILURE(writePackage(package, {itemRow(u"安装版", img(link("/a.jpg")))}));
    host.script({reply(ok(JPEG))});
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(textOf(app->window()), "Lumora(V" LUMORA_VERSION ")");
    ASSERT_NO_FATAL_FAILURE(startMove(package));
    EXPECT_EQ(answer("完成", {IDOK}, IDOK, MOVE_WAIT_MS), MOVED);
    EXPECT_EQ(filesIn(images).size(), 1u);
    EXPECT_TRUE(exists(beside("bak") + "\\package(1).csv"));
    EXPECT_TRUE(exists(beside("app.log")));
    app->click(ID_CLOSE);
    EXPECT_EQ(app->waitForExit(), 0u);
}
