/* The move job end to end against the scripted loopback server, its view's calls recorded: the files and their
 * names, the package and its backup, the log, the item's failures, and every call of the view in order. */
#include <gtest/gtest.h>

#include "file_helpers.h"
#include "local_naming.h"
#include "move_case.h"

TEST(MoveJob, MovesEachLinkOnceRewritesThePackageAndTellsTheView) {
    ScratchDir dir;
    MoveCase c;
    c.hosts = {"a"};
    c.items = {{"one", {"a/a.jpg", "a/b.PNG"}, {"a/m.jpg"}}, {"two", {"a/b.PNG", "a/gone.jpg"}, {}}};
    c.replies = {{"a/b.PNG", "png"}, {"a/gone.jpg", "404"}};
    CaseHosts hosts(c);
    std::string package = dir.file("package.csv"), images = dir.file("images"), gone = hosts.url("a/gone.jpg");
    hosts.writePackage(package);
    makeFolder(images.c_str());
    initHostFailures();
    imageCounter = 1;
    JobStartTime t = jobStartNow();
    std::string stamp, original = readFile(package);
    for (int part : {t.year, t.month, t.day, t.hour, t.minute}) stamp += std::to_string(part) + "-";
    auto image = [&](const std::string &name) { return readFile(images + PATH_SEPARATOR + name); };
    Recorder recorder;
    LoadedPackage moved;
    ASSERT_EQ(runJob(dir, {1, 1, 0}, 1, recorder, moved.items), MOVE_FINISHED);

    EXPECT_EQ(image(stamp + "1.jpg"), "\xFF\xD8" "a/a.jpg");
    EXPECT_EQ(image(stamp + "2.png"), "\x89P" "a/b.PNG");
    EXPECT_EQ(image("m-" + stamp + "3.jpg"), "\xFF\xD8" "a/m.jpg");
    EXPECT_EQ(remoteLinks(package), Strings{gone});
    EXPECT_EQ(readFile(package).substr(0, 4), std::string("\xFF\xFEv\0", 4));  // written back as it came, mark and all
    EXPECT_EQ(readFile(dir.file("bak") + PATH_SEPARATOR + "package(1).csv"), original);
    EXPECT_NE(readFile(dir.file("app.log")).find("搬家失败：" + gone + "，返回的错误信息：\r\n404 Not Found - 文件不存在\r\n"),
              std::string::npos);
    const ItemRecord *second = moved.item(1);
    ASSERT_NE(second->pcFailures, nullptr);
    EXPECT_STREQ((const char *)second->pcFailures->items[0], gone.c_str());
    EXPECT_EQ(second->status, 2);
    const std::string done = "label 搬家进度(宝贝数:2, 已搬家宝贝数:2)", writing = done + ", 正在更新csv文件...";
    const Strings expected = {
        "start 0", "finish 0 pc - mobile - done 1", "label 搬家进度(宝贝数:2, 已搬家宝贝数:1)", "start 1",
        "finish 1 pc 1 mobile - done 2", done, "failures 1", writing, writing + "(20%)", writing + "(40%)",
        writing + "(60%)", writing + "(80%)", writing + "(100%)", done};  // five places of links
    ASSERT_EQ(recorder.events.size(), expected.size() + 2);
    EXPECT_EQ(Strings(recorder.events.begin(), recorder.events.begin() + (long)expected.size()), expected);
    EXPECT_EQ(recorder.events[expected.size()].rfind("message 提示 图片搬家已完成，数据包(package.csv)已更新。\n\n注意：有部分图片搬家失败！", 0), 0u);
    EXPECT_EQ(recorder.events.back(), "ended");
    EXPECT_EQ(jobRunning, 0);
}

// the fault: within one minute, a second move gave a new image the name of one the seller had deleted, which the
// package still named, so that item showed another item's picture
TEST(MoveJob, ANameThePackageStillNamesIsNeverGivenAgain) {
    MoveCase c;
    c.hosts = {"a"};
    c.items = {{"one", {"a/1.jpg"}, {}}, {"two", {"a/2.jpg"}, {}}, {"three", {"a/x.alicdn.com/3.jpg"}, {}}};
    CaseHosts hosts(c);
    initHostFailures();
    for (int tries = 0; tries < 3; tries++) {
        ScratchDir dir;
        hosts.writeJob(dir);
        JobStartTime t = jobStartNow();
        std::string stamp = dir.file("images") + PATH_SEPARATOR;
        for (int part : {t.year, t.month, t.day, t.hour, t.minute}) stamp += std::to_string(part) + "-";
        Recorder first, second;
        LoadedPackage moved;
        imageCounter = 1;
        ASSERT_EQ(runJob(dir, {0, 1, 0}, 1, first, moved.items), MOVE_FINISHED);  // the third item's host is not moved
        remove((stamp + "1.jpg").c_str());                                          // the seller deletes the first image
        imageCounter = 1;                                                           // a new run of the program
        ASSERT_EQ(runJob(dir, {1, 1, 0}, 1, second, moved.items), MOVE_FINISHED);
        if (jobStartNow().minute != t.minute) continue;  // the moves were not both in that minute: once more
        EXPECT_EQ(fileExists((stamp + "1.jpg").c_str()), 0);
        EXPECT_EQ(readFile(stamp + "3.jpg"), "\xFF\xD8" "a/x.alicdn.com/3.jpg");
        EXPECT_NE(loadedText(dir.file("package.csv")).find(stamp + "1.jpg"), std::string::npos);
        break;
    }
}
