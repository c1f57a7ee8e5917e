/* lumora-move.exe as a Windows console program (under Wine here): it moves a package end to end and refuses a
 * package that is no export. The thorough process tests of the console run on POSIX systems. */
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>

#include "deployment.h"
#include "move_case.h"
#include "platform.h"

/* Runs lumora-move (drive Z: is /) with the arguments, its output into out; the exit code. */
static int runMove(const std::string &arguments, const std::string &out) {
    std::string program = std::string("Z:") + LUMORA_MOVE_PATH;
    std::replace(program.begin(), program.end(), '/', '\\');
    return system(("\"\"" + program + "\" " + arguments + " > \"" + out + "\" 2>&1\"").c_str());
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
