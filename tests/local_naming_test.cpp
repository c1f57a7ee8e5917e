/* Local names: the extension a link gives, and names that skip files already
 * there while the one counter moves on. */
#include <gtest/gtest.h>

#include <limits.h>

#include <string>

#include "file_helpers.h"
#include "local_naming.h"
#include "package_builder.h"
#include "platform.h"
#include "test_support.h"

TEST(LocalNaming, ExtensionComesFromTheLinkAlone) {
    struct Case { const char *url; const char *extension; };
    const Case cases[] = {{"http://h/a.JPG?x=1", "jpg"}, {"http://h/a.jpeg", "jpeg"}, {"http://h/a.png_400x400q90", "png"},
                          {"http://h/a.webp", "jpg"},     {"http://h/a", "jpg"},         {"http://h/a.jpeg_big", "jpg"},
                          {"http://h/img?x=a.b", "jpg"},  {"//h/a.GIF", "gif"},          {"http://h/a.bmp#x", "bmp"},
                          {"http://h/a.", "jpg"}};
    for (const Case &c : cases) EXPECT_STREQ(imageExtension(c.url), c.extension) << c.url;
}

TEST(LocalNaming, NamesSkipExistingFilesAndShareTheCounter) {
    ScratchDir dir;
    const JobStartTime start = {2026, 12, 5, 9, 7};
    const std::string sep(1, PATH_SEPARATOR);
    imageCounter = 1;
    for (const char *name : {"2026-12-5-9-7-1.jpg", "m-2026-12-5-9-7-3.gif", "2026-12-5-9-8-90.jpg", "x2026-12-5-9-7-80.jpg"})
        ASSERT_TRUE(writeFile(dir.file(name), "taken"));
    int taken = highestTakenNumber(dir.path().c_str(), start);
    EXPECT_EQ(taken, 3);  // another minute's names and other names are no concern
    char path[PATH_SIZE];
    ASSERT_EQ(freeLocalPath(dir.path().c_str(), DESCRIPTION_IMAGE, start, "jpg", taken, path, sizeof path), 1);
    EXPECT_EQ(std::string(path), dir.path() + sep + "2026-12-5-9-7-2.jpg");
    ASSERT_EQ(freeLocalPath(dir.path().c_str(), MOBILE_IMAGE, start, "gif", taken, path, sizeof path), 1);
    EXPECT_EQ(std::string(path), dir.path() + sep + "m-2026-12-5-9-7-4.gif");
    EXPECT_EQ(imageCounter, 5);
    char small[16];
    EXPECT_EQ(freeLocalPath(dir.path().c_str(), DESCRIPTION_IMAGE, start, "jpg", taken, small, sizeof small), 0);
    EXPECT_EQ(highestTakenNumber(dir.file("missing").c_str(), start), INT_MAX);  // then every name is looked for
}
