/* lumora-move.exe as a Windows console program (under Wine here): it moves
 * a generated package end to end and refuses a package that is no export.
 * The thorough process tests of the console run on POSIX systems. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "deployment.h"
#include "package_builder.h"
#include "package_reader.h"
#include "platform.h"
#include "test_server.h"
#include "test_support.h"

static const std::string JPEG = std::string("\xFF\xD8\xFF\xE0", 4) + "jpeg body";

/* Runs lumora-move (drive Z: is /) with the arguments, its output into out;
 * the exit code. */
static int runMove(const std::string &arguments, const std::string &out) {
    std::string program = std::string("Z:") + LUMORA_MOVE_PATH;
    std::replace(program.begin(), program.end(), '/', '\\');
    return system(("\"\"" + program + "\" " + arguments + " > \"" + out + "\" 2>&1\"").c_str());
}

TEST(ConsoleOnWindows, MovesAPackageAndRefusesWhatIsNoPackage) {
    ScratchDir dir;
    TestServer server;
    std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/a.jpg";
    std::string package = dir.file("package.csv"), images = dir.file("images"), out = dir.file("out.txt");
    ASSERT_TRUE(writeFile(package, packageBytes(packageText({itemRow(u"一", u"<img src=\"" +
                                                                          std::u16string(url.begin(), url.end()) + u"\">")}))));
    ASSERT_EQ(makeFolder(images.c_str()), 1);
    server.script({reply("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(JPEG.size()) + "\r\n\r\n" + JPEG)});
    // named with forward slashes, as Windows allows: the backup finds the file's name
    std::string forward = "\"" + package + "\" \"" + images + "\"";
    std::replace(forward.begin(), forward.end(), '\\', '/');
    ASSERT_EQ(runMove("--quiet " + forward, out), 0) << readFile(out);
    EXPECT_NE(readFile(out).find("图片搬家已完成，数据包(package.csv)已更新。"), std::string::npos) << readFile(out);
    PtrVector *items = ptrVectorCreate(4, 4);
    char *text = NULL;
    ASSERT_EQ(loadPackage(package.c_str(), items, &text), 1);
    EXPECT_EQ(((ItemRecord *)items->items[0])->descLinks->count, 0);  // the link is a local path now
    EXPECT_NE(strstr(text, (images + "\\").c_str()), nullptr) << text;  // written with backslashes only
    free(text);
    itemListClear(items);
    ptrVectorDestroy(items, 0);
    ASSERT_TRUE(writeFile(package, "version 1.00\r\n"));
    EXPECT_EQ(runMove("\"" + package + "\" \"" + images + "\"", out), 2);
    EXPECT_NE(readFile(out).find(std::string("详细操作指南：") + PRODUCT_SITE + "convert.html"), std::string::npos);
}
