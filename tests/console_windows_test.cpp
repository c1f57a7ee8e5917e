/* lumora-move.exe as a Windows console program (under Wine here): it moves a package end to end and refuses a
 * package that is no export. The thorough process tests of the console run on POSIX systems. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>

#include "deployment.h"
#include "move_case.h"
#include "platform.h"

enum { RUN_LIMIT_MS = 60000 };

/* lumora-move's path as Windows names it (drive Z: is /). */
static std::string movePath() {
    std::string program = std::string("Z:") + LUMORA_MOVE_PATH;
    std::replace(program.begin(), program.end(), '/', '\\');
    return program;
}

/* Runs lumora-move with the arguments, its output into out; the exit code. */
static int runMove(const std::string &arguments, const std::string &out) {
    return system(("\"\"" + movePath() + "\" " + arguments + " > \"" + out + "\" 2>&1\"").c_str());
}

TEST(ConsoleOnWindows, MovesAPackageAndRefusesWhatIsNoPackage) {
    ScratchDir dir;
    MoveCase c;
    c.hosts = {"a"};
    c.items = {{"item", {"a/a.jpg"}, {}}};
    CaseHosts hosts(c);
    std::string package = dir.file("package.csv"), images = dir.file("images"), out = dir.file("out.txt");
    hosts.writePackage(package);
    ASSERT_EQ(makeFolder(images.c_str()), 1);
    // named with forward slashes, as Windows allows: the backup finds the file's name
    std::string forward = "\"" + package + "\" \"" + images + "\"";
    std::replace(forward.begin(), forward.end(), '\\', '/');
    ASSERT_EQ(runMove("--quiet " + forward, out), 0) << readFile(out);
    EXPECT_NE(readFile(out).find("图片搬家已完成，数据包(package.csv)已更新。"), std::string::npos) << readFile(out);
    EXPECT_TRUE(remoteLinks(package).empty());
    EXPECT_NE(loadedText(package).find(images + "\\"), std::string::npos);  // written with backslashes only
    ASSERT_TRUE(writeFile(package, "version 1.00\r\n"));
    EXPECT_EQ(runMove("\"" + package + "\" \"" + images + "\"", out), 2);
    EXPECT_NE(readFile(out).find(std::string("详细操作指南：") + PRODUCT_SITE + "convert.html"), std::string::npos);
}

// the fault: two moves into one folder at once took the same names and scratch files, so each package named some
// of the other's images or none, and the second to make bak/ failed; both must end right at any connection count
TEST(ConsoleOnWindows, TwoMovesIntoOneFolderAtOnceEachNameTheirOwnImages) {
    for (const char *connections : {"1", "16"}) {
        ScratchDir dir;
        std::string program = dir.file("lumora-move.exe"), target = dir.file("target");
        std::filesystem::copy_file(movePath(), program);  // a program folder without bak/ yet, which both make
        ASSERT_EQ(makeFolder(target.c_str()), 1);
        MoveCase cases[] = {sideBySideCase(0), sideBySideCase(1)};
        CaseHosts hosts[] = {CaseHosts(cases[0]), CaseHosts(cases[1])};
        PROCESS_INFORMATION moves[2];
        for (int m = 0; m < 2; m++) {
            std::string package = dir.file("p" + std::to_string(m) + ".csv");
            hosts[m].writePackage(package);
            std::string line = "\"" + program + "\" --quiet --connections " + connections + " \"" + package + "\" \"" + target + "\"";
            STARTUPINFOA start = {};  // no standard files: what it prints goes nowhere
            start.cb = sizeof start;
            start.dwFlags = STARTF_USESTDHANDLES;
            ASSERT_TRUE(CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &start, &moves[m]));
        }
        for (int m = 0; m < 2; m++) {
            std::string package = dir.file("p" + std::to_string(m) + ".csv"), original = dir.file("bak\\p" + std::to_string(m) + "(1).csv");
            DWORD status = 1;
            if (WaitForSingleObject(moves[m].hProcess, RUN_LIMIT_MS) != WAIT_OBJECT_0) TerminateProcess(moves[m].hProcess, 1);
            GetExitCodeProcess(moves[m].hProcess, &status);
            CloseHandle(moves[m].hProcess);
            CloseHandle(moves[m].hThread);
            EXPECT_EQ(status, 0u) << connections;
            EXPECT_EQ(linksPutBack(loadedText(package), target, hosts[m]), loadedText(original)) << connections;
        }
        int images = 0;
        for (const auto &e : std::filesystem::directory_iterator(target)) images += e.path().filename().string()[0] != '~';
        EXPECT_EQ(images, (int)(cases[0].items.size() + cases[1].items.size()) * 2);  // and no scratch file
    }
}
