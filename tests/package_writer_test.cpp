/* Backups and write-back: numbering, byte-for-byte copies, a round trip
 * through the reader, and a failed write that leaves the package whole. */
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "file_helpers.h"
#include "package_builder.h"
#include "package_reader.h"
#include "package_writer.h"
#include "paths.h"
#include "platform.h"
#include "test_support.h"

TEST(PackageBackup, TakesTheFirstFreeNumber) {
    ScratchDir dir;
    std::string bak = dir.file("bak") + PATH_SEPARATOR, package = dir.file("商品.csv");
    ASSERT_TRUE(writeFile(package, std::string("\xFF\xFE" "a\0b\0", 6)));
    backupPackage(package.c_str(), dir.path().c_str());
    backupPackage(package.c_str(), dir.path().c_str());
    EXPECT_EQ(readFile(bak + "商品(1).csv"), readFile(package));
    EXPECT_EQ(fileExists((bak + "商品(2).csv").c_str()), 1);
    remove((bak + "商品(1).csv").c_str());
    char path[PATH_SIZE];
    for (std::string name : {"商品.csv", "a.b.csv", "data"}) {
        ASSERT_EQ(backupPath(dir.file("bak").c_str(), dir.file(name).c_str(), path, sizeof path), 1);
        size_t dot = std::min(name.rfind('.'), name.size());
        EXPECT_EQ(path, bak + name.insert(dot, "(1)"));  // the first free number again
    }
}

/* A name at the limit (255 bytes, or what MAX_PATH leaves) leaves no room
 * for a longer temporary name beside it. */
TEST(PackageWrite, ReadsBackAsTheSameText) {
    ScratchDir dir;
    size_t longest = std::min<size_t>(255, PATH_SIZE - 2 - dir.path().size());
    std::string package = dir.file(std::string(longest - 4, 'p') + ".csv");
    ASSERT_TRUE(writeFile(package, packageBytes(packageText({itemRow(u"连衣裙", u"<img src=\"D:\\图片\\1.jpg\">")}))));
    PtrVector *items = ptrVectorCreate(256, 64);
    char *text = NULL, *again = NULL, temporary[PATH_SIZE];
    ASSERT_EQ(loadPackage(package.c_str(), items, &text), 1);
    writePackage(package.c_str(), text);
    itemListClear(items);
    ASSERT_EQ(loadPackage(package.c_str(), items, &again), 1);
    EXPECT_STREQ(again, text);
    EXPECT_EQ(readFile(package).substr(0, 2), "\xFF\xFE");
    ASSERT_EQ(temporaryPath(package.c_str(), temporary, sizeof temporary), 1);
    EXPECT_EQ(fileExists(temporary), 0);
    EXPECT_EQ(std::string(temporary, fileName(temporary) - temporary), dir.path() + PATH_SEPARATOR);
    free(text);
    free(again);
    itemListClear(items);
    ptrVectorDestroy(items, 0);
}

TEST(PackageWriteDeathTest, AFailedWriteLeavesThePackageWhole) {
    ScratchDir dir;
    std::string package = dir.file("package.csv");
    ASSERT_TRUE(writeFile(package, "old contents"));
    char temporary[PATH_SIZE];
    ASSERT_EQ(temporaryPath(package.c_str(), temporary, sizeof temporary), 1);
    std::filesystem::create_directory(temporary);  // the new contents cannot be written
    EXPECT_EXIT(installRecordingHooks(); writePackage(package.c_str(), "new contents"), testing::ExitedWithCode(0),
                messageLine("错误", "更新CSV文件失败：文件句柄无法打开。"));
    EXPECT_EQ(readFile(package), "old contents");
}
