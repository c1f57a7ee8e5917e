/* Application log: line format, the size limit at opening, the refusal to
 * run without a log, and whole lines from concurrent writers. */
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "app_log.h"
#include "package_builder.h"
#include "test_support.h"

/* A log over 2 MiB, or past 2 GiB (a sparse file), is begun afresh. */
TEST(AppLog, OnlyALogOverTheLimitIsBegunAfresh) {
    ScratchDir dir;
    std::string log = dir.file("app.log");
    const std::pair<uint64_t, uint64_t> cases[] = {{2097152, 2097152 + 15}, {2097153, 15}, {3ull << 30, 15}};
    for (const auto &c : cases) {
        ASSERT_TRUE(writeFile(log, "x"));
        std::filesystem::resize_file(log, c.first);
        openAppLog(dir.path().c_str());
        appendLog("kept");
        EXPECT_EQ(std::filesystem::file_size(log), c.second) << c.first;
    }
}

TEST(AppLogDeathTest, MissingLogEndsTheProgramWithItsMessage) {
    ScratchDir dir;
    std::string missing = dir.file("no-such-folder");
    EXPECT_EXIT(installRecordingHooks(); openAppLog(missing.c_str()), testing::ExitedWithCode(0),
                messageLine("错误", "无法打开应用日志文件：app.log"));
}

/* Lines from two writers at once never interleave. */
TEST(AppLog, LinesAreStampedWholeAndUnchanged) {
    ScratchDir dir;
    openAppLog(dir.path().c_str());
    for (const char *line : {"hello", "", "two\nlines"}) appendLog(line);
    auto writer = [](const std::string line) { for (int i = 0; i < 200; i++) appendLog(line.c_str()); };
    std::thread first(writer, std::string(300, 'a')), second(writer, std::string(300, 'b'));
    first.join();
    second.join();
    std::string log = readFile(dir.file("app.log"));
    ASSERT_EQ(log.size(), 47 + 400u * 311);
    EXPECT_TRUE(std::regex_match(log.substr(0, 47), std::regex("\\d{2}:\\d{2}:\\d{2} hello\r\n.{9}\r\n.{9}two\nlines\r\n"))) << log.substr(0, 47);
    for (size_t at = 47; at < log.size(); at += 311)
        EXPECT_TRUE(std::regex_match(log.substr(at, 311), std::regex("\\d\\d:\\d\\d:\\d\\d (a{300}|b{300})\r\n"))) << at;
}
