/* Application log: line format, the size limit at opening, the refusal to
 * run without a log, and whole lines from concurrent writers. */
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "app_log.h"
#include "package_builder.h"
#include "test_support.h"

TEST(AppLog, LinesAreStampedAndWrittenUnchanged) {
    ScratchDir dir;
    openAppLog(dir.path().c_str());
    appendLog("hello");
    appendLog("");
    appendLog("two\nlines");
    std::string log = readFile(dir.file("app.log"));
    std::regex expected("\\d\\d:\\d\\d:\\d\\d hello\r\n\\d\\d:\\d\\d:\\d\\d \r\n\\d\\d:\\d\\d:\\d\\d two\nlines\r\n");
    EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

TEST(AppLog, OnlyALogOverTheLimitIsBegunAfresh) {
    ScratchDir dir;
    std::string atLimit(APP_LOG_MAX_BYTES, 'x');
    ASSERT_TRUE(writeFile(dir.file("app.log"), atLimit));
    openAppLog(dir.path().c_str());
    appendLog("kept");
    EXPECT_EQ(readFile(dir.file("app.log")).size(), atLimit.size() + 15);

    ASSERT_TRUE(writeFile(dir.file("app.log"), atLimit + "y"));
    openAppLog(dir.path().c_str());
    appendLog("fresh");
    EXPECT_EQ(readFile(dir.file("app.log")).size(), 16u);
}

/* A log past 2 GiB (a sparse file) is begun afresh too. */
TEST(AppLog, AHugeLogIsBegunAfresh) {
    ScratchDir dir;
    ASSERT_TRUE(writeFile(dir.file("app.log"), "x"));
    std::filesystem::resize_file(dir.file("app.log"), 3ull << 30);
    openAppLog(dir.path().c_str());
    appendLog("fresh");
    EXPECT_EQ(std::filesystem::file_size(dir.file("app.log")), 16u);
}

TEST(AppLogDeathTest, MissingLogEndsTheProgramWithItsMessage) {
    ScratchDir dir;
    std::string missing = dir.file("no-such-folder");
    EXPECT_EXIT(
        {
            installRecordingHooks();
            openAppLog(missing.c_str());
        },
        testing::ExitedWithCode(0), messageLine("错误", "无法打开应用日志文件：app.log"));
}

TEST(AppLog, ConcurrentWritersNeverInterleaveLines) {
    ScratchDir dir;
    openAppLog(dir.path().c_str());
    std::string a(300, 'a'), b(300, 'b');
    std::thread first([&] { for (int i = 0; i < 200; i++) appendLog(a.c_str()); });
    std::thread second([&] { for (int i = 0; i < 200; i++) appendLog(b.c_str()); });
    first.join();
    second.join();
    std::string log = readFile(dir.file("app.log"));
    std::regex line("\\d\\d:\\d\\d:\\d\\d (a{300}|b{300})\r\n");
    size_t lines = 0;
    for (size_t at = 0; at < log.size(); lines++) {
        size_t end = log.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        EXPECT_TRUE(std::regex_match(log.substr(at, end + 2 - at), line));
        at = end + 2;
    }
    EXPECT_EQ(lines, 400u);
}
