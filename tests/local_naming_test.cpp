/* Local names: the extension a link gives (tests/data/unit), and names that
 * skip files already there while the one counter moves on. */
#include <gtest/gtest.h>
#include <limits.h>

#include <string>

#include "local_naming.h"
#include "package_builder.h"
#include "platform.h"
#include "test_support.h"

TEST(LocalNaming, ExtensionComesFromTheLinkAlone) {
    for (const Case &c : readCases("unit/image_extension.tsv")) EXPECT_STREQ(imageExtension(c[0].c_str()), c[1].c_str()) << c[0];
}

TEST(LocalNaming, NamesSkipExistingFilesAndShareTheCounter) {
    ScratchDir dir;
    const JobStartTime start = {2026, 12, 5, 9, 7};
    imageCounter = 1;
    for (const char *name : {"2026-12-5-9-7-1.jpg", "m-2026-12-5-9-7-3.gif", "2026-12-5-9-8-90.jpg", "x2026-12-5-9-7-80.jpg"})
        ASSERT_TRUE(writeFile(dir.file(name), "taken"));
    int taken = highestTakenNumber(dir.path().c_str(), start);
    EXPECT_EQ(taken, 3);  // another minute's names and other names are no concern
    char path[PATH_SIZE], small[16];
    ASSERT_EQ(freeLocalPath(dir.path().c_str(), DESCRIPTION_IMAGE, start, "jpg", taken, path, sizeof path), 1);
    EXPECT_EQ(path, dir.file("2026-12-5-9-7-2.jpg"));
    ASSERT_EQ(freeLocalPath(dir.path().c_str(), MOBILE_IMAGE, start, "gif", taken, path, sizeof path), 1);
    EXPECT_EQ(path, dir.file("m-2026-12-5-9-7-4.gif"));
    EXPECT_EQ(imageCounter, 5);
    EXPECT_EQ(freeLocalPath(dir.path().c_str(), DESCRIPTION_IMAGE, start, "jpg", taken, small, sizeof small), 0);
    EXPECT_EQ(highestTakenNumber(dir.file("missing").c_str(), start), INT_MAX);  // then every name is looked for
}
