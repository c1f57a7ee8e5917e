/* Link rewrite: longest links first, the blank-image rule, the progress
 * steps, and the one-pass rewrite against one replacement per link on
 * texts made to trip it. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "deployment.h"
#include "link_rewrite.h"

/* A map from link to local path ("" for a failed link). */
class Moved {
public:
    Moved() : map(strMapCreate(strMapHash, strMapKeyEquals, 32, 0.75f)) {}
    ~Moved() { strMapDestroy(map, 1); }
    Moved &add(const std::string &url, const std::string &path) {
        char *value = strdup(path.c_str());
        free(strMapPut(map, strdup(url.c_str()), value));
        return *this;
    }
    StrMap *map;
};

struct Rewritten {
    std::string text;
    int changed;
    std::vector<int> percents;
};

static void record(void *context, int percent) { ((std::vector<int> *)context)->push_back(percent); }

static Rewritten rewrite(const std::string &text, const Moved &moved, int blank, bool oneByOne = false) {
    Rewritten r;
    char *t = strdup(text.c_str());
    RewriteProgress progress = {record, &r.percents};
    r.changed = oneByOne ? rewriteLinksSequential(&t, moved.map, blank, progress)
                         : rewriteLinks(&t, moved.map, blank, progress);
    r.text = t;
    free(t);
    return r;
}

TEST(LinkRewrite, LongerLinksGoFirstSoNoneIsHalfRewritten) {
    Moved moved;
    moved.add("http://a.example/x.jpg", "/out/1.jpg").add("http://a.example/x.jpg?v=2", "/out/2.jpg");
    moved.add("//a.example/x.jpg", "/out/3.jpg");
    Rewritten r = rewrite("<img src=\"\"http://a.example/x.jpg?v=2\"\"><img src='//a.example/x.jpg'>"
                          "<img src=http://a.example/x.jpg>",
                          moved, 0);
    EXPECT_EQ(r.text, "<img src=\"\"/out/2.jpg\"\"><img src='/out/3.jpg'><img src=/out/1.jpg>");
    EXPECT_EQ(r.changed, 1);
    EXPECT_EQ(r.percents, (std::vector<int>{33, 66, 100}));
}

TEST(LinkRewrite, FailedLinksAreBlankedOnlyWhenAsked) {
    Moved moved;
    moved.add("http://b.example/gone.jpg", "");
    const std::string text = "\"<img src=\"\"http://b.example/gone.jpg\"\">\"\t\"<wapDesc><img>http://b.example/gone.jpg"
                             "</img><txt>x</txt></wapDesc>\"";
    Rewritten kept = rewrite(text, moved, 0);
    EXPECT_EQ(kept.text, text);
    EXPECT_EQ(kept.changed, 0);
    Rewritten blanked = rewrite(text, moved, 1);
    EXPECT_EQ(blanked.text, std::string("\"<img src=\"\"") + BLANK_IMAGE_URL +
                                "\"\">\"\t\"<wapDesc><txt>x</txt></wapDesc>\"");
    EXPECT_EQ(blanked.changed, 1);
    EXPECT_EQ(blanked.percents, std::vector<int>{100});
    EXPECT_EQ(rewrite("no links here", moved, 1).changed, 1);  // a blanked link changes the package
}

/* Texts and maps built at random from pieces that overlap, nest, wrap in
 * elements and resemble the local paths, so that every interaction between
 * the links shows. */
struct RandomCase {
    std::string text;
    Moved moved;
    int blank;
};

static unsigned nextRandom(unsigned &seed) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
}

static void randomCase(unsigned &seed, RandomCase &c) {
    static const char *links[] = {"http://a.example/x.jpg", "http://a.example/x.jpg?v=2", "//a.example/x.jpg",
                                  "https://a.example/x.jpg", "//a.example/x", "http://c.example/y//z.png",
                                  "http://a.example/x.jpg</img>", BLANK_IMAGE_URL, "//out/p1.jpg"};
    static const char *pieces[] = {"<img>", "</img>", "\"\"", " ", "//", "http:", "<im", "g>", "x", "/out/", "宝"};
    static const char *paths[] = {"/out/p1.jpg", "/out/p2.jpg", "/out/p3.jpg", "//out/p1.jpg", "/o<img>/p.jpg",
                                  "/out/x.jpg?v=2"};
    const size_t linkCount = sizeof links / sizeof *links - (nextRandom(seed) % 4 ? 1 : 0);
    for (int i = 0, n = 4 + (int)(nextRandom(seed) % 30); i < n; i++) {
        unsigned r = nextRandom(seed);
        c.text += r % 2 ? links[r / 2 % linkCount] : pieces[r / 2 % (sizeof pieces / sizeof *pieces)];
    }
    const bool tricky = nextRandom(seed) % 4 == 0;  // paths that look like links or tags
    for (size_t i = 0; i < linkCount; i++) {
        unsigned r = nextRandom(seed) % 8;
        if (r < 2) continue;  // not in the map
        c.moved.add(links[i], r < 4 ? "" : paths[tricky ? r % 6 : r % 3]);
    }
    c.blank = (int)(nextRandom(seed) % 2);
}

TEST(LinkRewrite, OnePassEqualsOneReplacementPerLink) {
    unsigned seed = 7;
    for (int n = 0; n < 20000; n++) {
        RandomCase c;
        randomCase(seed, c);
        Rewritten fast = rewrite(c.text, c.moved, c.blank), reference = rewrite(c.text, c.moved, c.blank, true);
        ASSERT_EQ(fast.text, reference.text) << "case " << n << ": " << c.text;
        ASSERT_EQ(fast.changed, reference.changed) << "case " << n;
        ASSERT_EQ(fast.percents, reference.percents) << "case " << n;
    }
}
