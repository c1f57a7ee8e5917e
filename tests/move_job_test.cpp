/* The move job end to end against the scripted loopback server, its view's
 * calls recorded: files, names, package, backup, log, messages, aborts. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app_log.h"
#include "conn_pool.h"
#include "deployment.h"
#include "local_naming.h"
#include "package_builder.h"
#include "test_server.h"
#include "test_support.h"
#include "view_recorder.h"

static const std::string JPEG = std::string("\xFF\xD8\xFF\xE0", 4) + "jpeg";
static const std::string PNG = std::string("\x89PNG", 4) + "png";
static const std::string NOT_FOUND = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";

static std::string ok(const std::string &body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}
static std::u16string wide(const std::string &s) { return std::u16string(s.begin(), s.end()); }

class MoveJobTest : public testing::Test {
protected:
    ScratchDir dir;
    TestServer server;
    std::string package = dir.file("package.csv"), images = dir.file("images");
    Recorder recorder;
    PtrVector *items = ptrVectorCreate(256, 64);

    void SetUp() override {
        openAppLog(dir.path().c_str());
        initConnTables();
        setNetTimeouts(1000, 1000);
        abortRequested = 0;
        imageCounter = 1;
        makeFolder(images.c_str());
    }
    void TearDown() override {
        itemListClear(items);
        ptrVectorDestroy(items, 0);
        poolCloseAll();
        setNetTimeouts(NET_TIMEOUT_MS, NET_TIMEOUT_MS);
        abortRequested = 0;
    }
    std::string url(const std::string &path) { return "http://127.0.0.1:" + std::to_string(server.port()) + path; }
    std::u16string img(const std::string &path) { return u"<img src=\"" + wide(url(path)) + u"\">"; }
    std::u16string mobile(const std::string &path) { return u"<img>" + wide(url(path)) + u"</img>"; }
    void writePackage(const std::vector<PackageRow> &rows) { ASSERT_TRUE(writeFile(package, packageBytes(packageText(rows)))); }
    /* One image at a time, as the scripted connections expect. */
    int run(MoveOptions options) { return runJob(package, images, dir.path(), options, 1, recorder, items); }
    std::string image(const std::string &name) { return readFile(images + PATH_SEPARATOR + name); }
    std::string finalMessage() { return recorder.events[recorder.events.size() - 2]; }
    std::string namePrefix() {
        JobStartTime t = jobStartNow();
        std::string out;
        for (int part : {t.year, t.month, t.day, t.hour, t.minute}) out += std::to_string(part) + "-";
        return out;
    }
};

TEST_F(MoveJobTest, MovesEachLinkOnceAndRewritesThePackage) {
    writePackage({itemRow(u"一", img("/a.jpg") + img("/b.PNG"), mobile("/m.jpg")), itemRow(u"二", img("/b.PNG") + img("/gone.jpg"))});
    std::string original = readFile(package), prefix = namePrefix(), gone = url("/gone.jpg");
    server.script({reply(ok(JPEG)), reply(ok(PNG)), reply(ok(JPEG)), reply(NOT_FOUND)});
    server.script({reply(NOT_FOUND, true)});  // the repetition without keep-alive
    ASSERT_EQ(run({1, 1, 0}), MOVE_FINISHED);

    EXPECT_EQ(image(prefix + "1.jpg"), JPEG);
    EXPECT_EQ(image(prefix + "2.png"), PNG);
    EXPECT_EQ(image("m-" + prefix + "3.jpg"), JPEG);
    EXPECT_EQ(remoteLinks(package), std::vector<std::string>{gone});
    EXPECT_EQ(readFile(dir.file("bak") + PATH_SEPARATOR + "package(1).csv"), original);
    EXPECT_NE(readFile(dir.file("app.log")).find("搬家失败：" + gone + "，返回的错误信息：\r\n404 Not Found - 文件不存在\r\n"),
              std::string::npos);
    ItemRecord *second = (ItemRecord *)items->items[1];
    ASSERT_NE(second->pcFailures, nullptr);
    EXPECT_STREQ((char *)second->pcFailures->items[0], gone.c_str());
    EXPECT_EQ(second->status, 2);

    const std::string done = "label 搬家进度(宝贝数:2, 已搬家宝贝数:2)", writing = done + ", 正在更新csv文件...";
    const std::vector<std::string> expected = {
        "start 0", "finish 0 pc - mobile - done 1", "label 搬家进度(宝贝数:2, 已搬家宝贝数:1)", "start 1",
        "finish 1 pc 1 mobile - done 2", done, "failures 1", writing, writing + "(25%)", writing + "(50%)",
        writing + "(75%)", writing + "(100%)", done};
    ASSERT_GE(recorder.events.size(), expected.size() + 2);
    EXPECT_EQ(std::vector<std::string>(recorder.events.begin(), recorder.events.begin() + (long)expected.size()), expected);
    EXPECT_EQ(recorder.events[expected.size()].rfind("message 提示 图片搬家已完成，数据包(package.csv)已更新。\n\n注意：有部分图片搬家失败！", 0), 0u);
    EXPECT_EQ(recorder.events.back(), "ended");
    EXPECT_EQ(jobRunning, 0);
}

TEST_F(MoveJobTest, OptionsChooseLinksByHost) {
    writePackage({itemRow(u"一", img("/img.alicdn.com/1.jpg") + img("/other/2.jpg"), mobile("/m/3.jpg"))});
    server.script({reply(ok(JPEG)), reply(ok(JPEG)), reply(ok(JPEG))});  // both jobs keep the connection
    ASSERT_EQ(run({1, 0, 0}), MOVE_FINISHED);  // the image space: its hosts, and every mobile image
    ASSERT_EQ(run({0, 1, 0}), MOVE_FINISHED);  // other albums: the rest, no mobile image
    const char *const order[] = {"GET /img.alicdn.com/1.jpg ", "GET /m/3.jpg ", "GET /other/2.jpg "};
    ASSERT_EQ(server.requests(3).size(), 3u);
    for (int i = 0; i < 3; i++) EXPECT_EQ(server.requests()[i].rfind(order[i], 0), 0u) << i;
    EXPECT_TRUE(remoteLinks(package).empty());
}

TEST_F(MoveJobTest, FinalMessagesTellWhatHappened) {
    struct Case { bool images; MoveOptions options; const char *message; bool untouched; };
    static const Case cases[] = {
        {false, {1, 1, 0}, "message 完成 没有找到需要搬家的图片。", true},
        {true, {1, 1, 0}, "message 提示 图片搬家失败，没有找到搬家成功的图片。", true},
        {true, {1, 1, 1}, "message 完成 图片搬家已完成，数据包(package.csv)已更新。", false},  // failed ones blanked
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        writePackage({c.images ? itemRow(u"一", img("/gone.jpg"), mobile("/gone.jpg")) : itemRow(u"一", u"没有图片")});
        std::string before = readFile(package);
        for (int i = 0; c.images && i < 2; i++) server.script({reply(NOT_FOUND, true)});
        ASSERT_EQ(run(c.options), MOVE_FINISHED);
        EXPECT_EQ(finalMessage(), c.message);
        EXPECT_EQ(readFile(package) == before, c.untouched);
    }
    std::string text = loadedText(package);
    EXPECT_NE(text.find(std::string("<img src=\"\"") + BLANK_IMAGE_URL + "\"\">"), std::string::npos);
    EXPECT_EQ(text.find("<img>"), std::string::npos);  // the mobile element is gone
}

/* The resuming job is also stopped by a close confirmed just before its final
 * message: no final message, and the process is to end. */
TEST_F(MoveJobTest, AnAbortWritesWhatMovedAndTheNextJobResumesAndHearsAStopAtTheEnd) {
    writePackage({itemRow(u"一", img("/1.jpg")), itemRow(u"二", img("/2.jpg"))});
    server.script({reply(ok(JPEG)), reply(ok(PNG))});
    recorder.abortAfterItem = 0;
    ASSERT_EQ(run({1, 1, 0}), MOVE_ABORTED);
    EXPECT_EQ(recorder.events.back(), "label 搬家进度(宝贝数:2, 已搬家宝贝数:1)");
    EXPECT_EQ(remoteLinks(package), std::vector<std::string>{url("/2.jpg")});

    abortRequested = 0;
    recorder.abortAfterItem = -1;
    recorder.abortAtLastLabel = true;
    ASSERT_EQ(run({1, 1, 0}), MOVE_ABORTED);
    EXPECT_EQ(recorder.events.back(), "label 搬家进度(宝贝数:2, 已搬家宝贝数:2)");
    EXPECT_TRUE(remoteLinks(package).empty());
    EXPECT_EQ(requestAbort(), 0);  // no job runs: the caller ends the process
    ASSERT_EQ(server.requests(2).size(), 2u);  // each image was fetched once over both jobs
    EXPECT_EQ(server.requests()[1].rfind("GET /2.jpg ", 0), 0u);
}

TEST_F(MoveJobTest, AFileThatCannotBeCreatedStopsTheJob) {
    writePackage({itemRow(u"一", img("/1.jpg")), itemRow(u"二", u"x")});
    images = dir.file("no-such-folder");
    server.script({reply(ok(JPEG)), reply(ok(JPEG))});
    ASSERT_EQ(run({1, 1, 0}), MOVE_ABORTED);
    EXPECT_EQ(recorder.events[1].rfind("message 错误 图片搬家中断：无法创建新文件。", 0), 0u);
    EXPECT_EQ(((ItemRecord *)items->items[0])->status, 0);  // the item stays unfinished
    EXPECT_EQ(remoteLinks(package).size(), 1u);
}

TEST_F(MoveJobTest, AFolderWithChineseNameIsWrittenInThePackageAsItsCharacters) {
    char folder[PATH_SIZE];
    ASSERT_EQ(textToPath((dir.path() + PATH_SEPARATOR + "搬家图片").c_str(), folder, sizeof folder), 1);
    images = folder;  // the file system's own form of the name
    ASSERT_EQ(makeFolder(folder), 1);
    writePackage({itemRow(u"一", img("/1.jpg"))});
    server.script({reply(ok(JPEG))});
    std::string name = namePrefix() + "1.jpg", sep(1, PATH_SEPARATOR);
    ASSERT_EQ(run({1, 1, 0}), MOVE_FINISHED);
    EXPECT_EQ(image(name), JPEG);
    EXPECT_NE(loadedText(package).find(sep + "搬家图片" + sep + name), std::string::npos);
}
