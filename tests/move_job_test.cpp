/* The move job end to end against the scripted loopback server, with a
 * view that records what the job showed: rows, texts and counts in order,
 * the files and names, the rewritten package read back, the backup, the log,
 * every final message, an abort and the resume after it. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "app_log.h"
#include "conn_pool.h"
#include "deployment.h"
#include "file_helpers.h"
#include "local_naming.h"
#include "move_job.h"
#include "package_builder.h"
#include "package_reader.h"
#include "paths.h"
#include "test_server.h"
#include "test_support.h"
#include "view_recorder.h"

static const std::string JPEG = std::string("\xFF\xD8\xFF\xE0", 4) + "jpeg";
static const std::string PNG = std::string("\x89PNG", 4) + "png";

static std::string ok(const std::string &body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}
static const std::string NOT_FOUND = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";

class MoveJobTest : public testing::Test {
protected:
    ScratchDir dir;
    TestServer server;
    std::string package = dir.file("package.csv"), images = dir.file("images");
    Recorder recorder;
    PtrVector *items = ptrVectorCreate(256, 64);
    int connections = 1;  // one image at a time, as the scripted connections expect

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
    std::u16string link(const std::string &path) {
        std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + path;
        return std::u16string(url.begin(), url.end());
    }
    void writePackage(const std::vector<PackageRow> &rows) { ASSERT_TRUE(writeFile(package, packageBytes(packageText(rows)))); }
    /* Loads the package afresh and runs a job on it. */
    int run(MoveOptions options) {
        itemListClear(items);
        MoveJob job = {};
        if (loadPackage(package.c_str(), items, &job.packageText) != 1) return -1;
        snprintf(job.packagePath, sizeof job.packagePath, "%s", package.c_str());
        snprintf(job.targetFolder, sizeof job.targetFolder, "%s", images.c_str());
        snprintf(job.programDir, sizeof job.programDir, "%s", dir.path().c_str());
        job.items = items;
        job.options = options;
        job.view = &recorder.view;
        job.connections = connections;
        return runMoveJob(&job);
    }
    std::vector<std::string> remoteLinks() { return ::remoteLinks(package); }
    std::string image(const std::string &name) { return readFile(images + PATH_SEPARATOR + name); }
    std::string namePrefix() {
        JobStartTime t = jobStartNow();
        char prefix[64];
        snprintf(prefix, sizeof prefix, "%d-%d-%d-%d-%d-", t.year, t.month, t.day, t.hour, t.minute);
        return prefix;
    }
};

TEST_F(MoveJobTest, MovesEachLinkOnceAndRewritesThePackage) {
    std::u16string a = link("/a.jpg"), shared = link("/b.PNG"), gone = link("/gone.jpg"), m = link("/m.jpg");
    writePackage({itemRow(u"一", u"<img src=\"" + a + u"\"><img src=\"" + shared + u"\">", u"<img>" + m + u"</img>"),
                  itemRow(u"二", u"<img src=\"" + shared + u"\"><img src=\"" + gone + u"\">")});
    std::string original = readFile(package);
    server.script({reply(ok(JPEG)), reply(ok(PNG)), reply(ok(JPEG)), reply(NOT_FOUND)});
    server.script({reply(NOT_FOUND, true)});  // the repetition without keep-alive
    std::string prefix = namePrefix();
    ASSERT_EQ(run({1, 1, 0}), MOVE_FINISHED);

    EXPECT_EQ(image(prefix + "1.jpg"), JPEG);
    EXPECT_EQ(image(prefix + "2.png"), PNG);
    EXPECT_EQ(image("m-" + prefix + "3.jpg"), JPEG);
    std::string goneUrl(gone.begin(), gone.end());
    EXPECT_EQ(remoteLinks(), std::vector<std::string>{goneUrl});
    EXPECT_EQ(readFile(dir.file("bak") + PATH_SEPARATOR + "package(1).csv"), original);
    EXPECT_NE(readFile(dir.file("app.log")).find("搬家失败：" + goneUrl + "，返回的错误信息：\r\n404 Not Found - 文件不存在\r\n"),
              std::string::npos);
    ItemRecord *second = (ItemRecord *)items->items[1];
    ASSERT_NE(second->pcFailures, nullptr);
    EXPECT_STREQ((char *)second->pcFailures->items[0], goneUrl.c_str());
    EXPECT_EQ(second->status, 2);

    const std::vector<std::string> expected = {
        "start 0", "finish 0 pc - mobile - done 1", "label 搬家进度(宝贝数:2, 已搬家宝贝数:1)",
        "start 1", "finish 1 pc 1 mobile - done 2", "label 搬家进度(宝贝数:2, 已搬家宝贝数:2)", "failures 1",
        "label 搬家进度(宝贝数:2, 已搬家宝贝数:2), 正在更新csv文件...",
        "label 搬家进度(宝贝数:2, 已搬家宝贝数:2), 正在更新csv文件...(25%)",
        "label 搬家进度(宝贝数:2, 已搬家宝贝数:2), 正在更新csv文件...(50%)",
        "label 搬家进度(宝贝数:2, 已搬家宝贝数:2), 正在更新csv文件...(75%)",
        "label 搬家进度(宝贝数:2, 已搬家宝贝数:2), 正在更新csv文件...(100%)",
        "label 搬家进度(宝贝数:2, 已搬家宝贝数:2)"};
    ASSERT_GE(recorder.events.size(), expected.size() + 2);
    EXPECT_EQ(std::vector<std::string>(recorder.events.begin(), recorder.events.begin() + (long)expected.size()), expected);
    EXPECT_EQ(recorder.events[expected.size()].rfind("message 提示 图片搬家已完成，数据包(package.csv)已更新。\n\n注意：有部分图片搬家失败！", 0), 0u);
    EXPECT_EQ(recorder.events.back(), "ended");
    EXPECT_EQ(jobRunning, 0);
}

TEST_F(MoveJobTest, OptionsChooseLinksByHost) {
    std::u16string market = link("/img.alicdn.com/1.jpg"), other = link("/other/2.jpg"), m = link("/m/3.jpg");
    writePackage({itemRow(u"一", u"<img src=\"" + market + u"\"><img src=\"" + other + u"\">", u"<img>" + m + u"</img>")});
    server.script({reply(ok(JPEG)), reply(ok(JPEG)), reply(ok(JPEG))});  // both jobs keep the connection
    ASSERT_EQ(run({1, 0, 0}), MOVE_FINISHED);  // the image space: its hosts, and every mobile image
    ASSERT_EQ(server.requests(2).size(), 2u);
    EXPECT_EQ(server.requests()[0].rfind("GET /img.alicdn.com/1.jpg ", 0), 0u);
    EXPECT_EQ(server.requests()[1].rfind("GET /m/3.jpg ", 0), 0u);
    ASSERT_EQ(run({0, 1, 0}), MOVE_FINISHED);  // other albums: the rest, no mobile image
    ASSERT_EQ(server.requests(3).size(), 3u);
    EXPECT_EQ(server.requests()[2].rfind("GET /other/2.jpg ", 0), 0u);
    EXPECT_TRUE(remoteLinks().empty());
}

TEST_F(MoveJobTest, FinalMessagesTellWhatHappened) {
    writePackage({itemRow(u"一", u"没有图片")});
    std::string untouched = readFile(package);
    ASSERT_EQ(run({1, 1, 0}), MOVE_FINISHED);
    EXPECT_EQ(recorder.events[recorder.events.size() - 2], "message 完成 没有找到需要搬家的图片。");
    EXPECT_EQ(readFile(package), untouched);

    std::u16string gone = link("/gone.jpg");
    writePackage({itemRow(u"一", u"<img src=\"" + gone + u"\">", u"<img>" + gone + u"</img>")});
    untouched = readFile(package);
    for (int i = 0; i < 2; i++) server.script({reply(NOT_FOUND, true)});
    ASSERT_EQ(run({1, 1, 0}), MOVE_FINISHED);
    EXPECT_EQ(recorder.events[recorder.events.size() - 2], "message 提示 图片搬家失败，没有找到搬家成功的图片。");
    EXPECT_EQ(readFile(package), untouched);

    for (int i = 0; i < 2; i++) server.script({reply(NOT_FOUND, true)});
    ASSERT_EQ(run({1, 1, 1}), MOVE_FINISHED);
    EXPECT_EQ(recorder.events[recorder.events.size() - 2], "message 完成 图片搬家已完成，数据包(package.csv)已更新。");
    std::string text;
    PtrVector *again = ptrVectorCreate(4, 4);
    char *loaded = NULL;
    ASSERT_EQ(loadPackage(package.c_str(), again, &loaded), 1);
    EXPECT_NE(strstr(loaded, (std::string("<img src=\"\"") + BLANK_IMAGE_URL + "\"\">").c_str()), nullptr);
    EXPECT_EQ(strstr(loaded, "<img>"), nullptr);  // the mobile element is gone
    free(loaded);
    itemListClear(again);
    ptrVectorDestroy(again, 0);
}

TEST_F(MoveJobTest, AnAbortWritesWhatMovedAndTheNextJobResumes) {
    std::u16string first = link("/1.jpg"), second = link("/2.jpg");
    writePackage({itemRow(u"一", u"<img src=\"" + first + u"\">"), itemRow(u"二", u"<img src=\"" + second + u"\">")});
    server.script({reply(ok(JPEG)), reply(ok(PNG))});
    recorder.abortAfterItem = 0;
    ASSERT_EQ(run({1, 1, 0}), MOVE_ABORTED);
    EXPECT_EQ(recorder.events.back(), "label 搬家进度(宝贝数:2, 已搬家宝贝数:1)");
    std::string secondUrl(second.begin(), second.end());
    EXPECT_EQ(remoteLinks(), std::vector<std::string>{secondUrl});

    abortRequested = 0;
    recorder.abortAfterItem = -1;
    ASSERT_EQ(run({1, 1, 0}), MOVE_FINISHED);
    EXPECT_TRUE(remoteLinks().empty());
    ASSERT_EQ(server.requests(2).size(), 2u);  // each image was fetched once over both jobs
    EXPECT_EQ(server.requests()[1].rfind("GET /2.jpg ", 0), 0u);
}

/* A close confirmed while the job still runs, just before it would show its
 * final message, is acted on: no final message, the process is to end. */
TEST_F(MoveJobTest, AStopAskedForAtTheVeryEndIsNotLost) {
    writePackage({itemRow(u"一", u"<img src=\"" + link("/1.jpg") + u"\">")});
    server.script({reply(ok(JPEG))});
    recorder.abortAtLastLabel = true;
    ASSERT_EQ(run({1, 1, 0}), MOVE_ABORTED);
    EXPECT_EQ(recorder.events.back(), "label 搬家进度(宝贝数:1, 已搬家宝贝数:1)");
    EXPECT_TRUE(remoteLinks().empty());
    EXPECT_EQ(requestAbort(), 0);  // no job runs: the caller ends the process
}

TEST_F(MoveJobTest, AFileThatCannotBeCreatedStopsTheJob) {
    writePackage({itemRow(u"一", u"<img src=\"" + link("/1.jpg") + u"\">"), itemRow(u"二", u"x")});
    images = dir.file("no-such-folder");
    server.script({reply(ok(JPEG)), reply(ok(JPEG))});
    ASSERT_EQ(run({1, 1, 0}), MOVE_ABORTED);
    EXPECT_EQ(recorder.events[1].rfind("message 错误 图片搬家中断：无法创建新文件。", 0), 0u);
    EXPECT_EQ(((ItemRecord *)items->items[0])->status, 0);  // the item stays unfinished
    EXPECT_EQ(remoteLinks().size(), 1u);
}

TEST_F(MoveJobTest, AFolderWithChineseNameIsWrittenInThePackageAsItsCharacters) {
    char folder[PATH_SIZE];
    ASSERT_EQ(textToPath((dir.path() + PATH_SEPARATOR + "搬家图片").c_str(), folder, sizeof folder), 1);
    images = folder;  // the file system's own form of the name
    ASSERT_EQ(makeFolder(folder), 1);
    writePackage({itemRow(u"一", u"<img src=\"" + link("/1.jpg") + u"\">")});
    server.script({reply(ok(JPEG))});
    std::string name = namePrefix() + "1.jpg";
    ASSERT_EQ(run({1, 1, 0}), MOVE_FINISHED);
    EXPECT_EQ(image(name), JPEG);
    PtrVector *again = ptrVectorCreate(4, 4);
    char *text = NULL;
    ASSERT_EQ(loadPackage(package.c_str(), again, &text), 1);
    const std::string sep(1, PATH_SEPARATOR);
    EXPECT_NE(strstr(text, (sep + "搬家图片" + sep + name).c_str()), nullptr);
    free(text);
    itemListClear(again);
    ptrVectorDestroy(again, 0);
}
