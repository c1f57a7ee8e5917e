/* Path helpers and the program's folder, with the platform's separator. */
#include <gtest/gtest.h>

#include <string>

#include "file_helpers.h"
#include "paths.h"
#include "platform.h"

static const std::string SEP(1, PATH_SEPARATOR);

TEST(Paths, FileNameIsTheLastComponent) {
    EXPECT_STREQ(fileName(("dir" + SEP + "a.jpg").c_str()), "a.jpg");
    EXPECT_STREQ(fileName(("dir" + SEP).c_str()), "");
    EXPECT_STREQ(fileName("a.jpg"), "a.jpg");
    // a GBK character whose second byte is 0x5C is not a separator
    std::string gbk = "d" + SEP + "\x95\x5C" + ".jpg";
    EXPECT_STREQ(fileName(gbk.c_str()), "\x95\x5C.jpg");
}

#ifdef _WIN32
TEST(Paths, WindowsTakesForwardSlashesForSeparators) {
    EXPECT_STREQ(fileName("Z:/data/pkg.csv"), "pkg.csv");
    EXPECT_STREQ(fileName("Z:\\data/sub\\pkg.csv"), "pkg.csv");
    char mixed[] = "Z:/data\\sub/\x95/x";  // no GBK character ends in "/"
    useNativeSeparators(mixed);
    EXPECT_STREQ(mixed, "Z:\\data\\sub\\\x95\\x");
    char out[16];
    EXPECT_EQ(joinPath(out, sizeof out, "C:/dir/", "a"), 1);
    EXPECT_STREQ(out, "C:/dir/a");
}
#endif

TEST(Paths, CuttingTheFileKeepsARootSeparator) {
    std::string file = "x" + SEP + "bin" + SEP + "lumora";
    cutAtLastSeparator(&file[0]);
    EXPECT_STREQ(file.c_str(), ("x" + SEP + "bin").c_str());
    std::string atRoot = SEP + "lumora";
    cutAtLastSeparator(&atRoot[0]);
    EXPECT_STREQ(atRoot.c_str(), SEP.c_str());
    std::string drive = "C:" + SEP + "lumora.exe";
    cutAtLastSeparator(&drive[0]);
    EXPECT_STREQ(drive.c_str(), ("C:" + SEP).c_str());
    std::string bare = "lumora";
    cutAtLastSeparator(&bare[0]);
    EXPECT_STREQ(bare.c_str(), "lumora");
}

TEST(Paths, JoinAddsOneSeparatorAndRefusesWhatDoesNotFit) {
    char out[16];
    EXPECT_EQ(joinPath(out, sizeof out, "dir", "app.log"), 1);
    EXPECT_EQ(std::string(out), "dir" + SEP + "app.log");
    EXPECT_EQ(joinPath(out, sizeof out, ("C:" + SEP).c_str(), "app.log"), 1);
    EXPECT_EQ(std::string(out), "C:" + SEP + "app.log");
    EXPECT_EQ(joinPath(out, sizeof out, "a-long-folder", "app.log"), 0);
    EXPECT_STREQ(out, "");
}

TEST(Paths, ProgramFolderIsAnExistingFolder) {
    char dir[PATH_SIZE];
    ASSERT_EQ(programFolder(dir, sizeof dir), 1);
    EXPECT_EQ(isDirectory(dir), 1);
    EXPECT_EQ(fileExists(dir), 0);  // a folder is not a file
    std::string d = dir;
    EXPECT_TRUE(d.size() == 1 || d.back() != PATH_SEPARATOR || d[d.size() - 2] == ':');
}
