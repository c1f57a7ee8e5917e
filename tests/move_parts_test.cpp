/* The move's parts: local names (the extension a link gives, names that skip files already there while the one
 * counter moves on), and the link rewrite: links replaced only where they stand whole, the blank-image rule, the
 * progress steps, and the rewrite against a plain reference (one pass through the text per link, longest first) on
 * generated packages. */
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <regex>

#include "deployment.h"
#include "link_rewrite.h"
#include "local_naming.h"
#include "package_builder.h"
#include "platform.h"
#include "test_support.h"

TEST(LocalNaming, ExtensionFromTheLinkAloneNamesSkipExistingFilesAndShareTheCounter) {
    for (const Case &c : readCases("unit/image_extension.tsv")) EXPECT_STREQ(imageExtension(c[0].c_str()), c[1].c_str()) << c[0];
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

typedef std::vector<std::pair<std::string, std::string>> Moves;  // link -> local path ("" for a failed link)

struct Rewritten { std::string text; int changed; std::vector<int> percents; };

static void record(void *context, int percent) { ((std::vector<int> *)context)->push_back(percent); }

static Rewritten rewrite(const std::string &text, const Moves &moves, int blank) {
    StrMap *map = strMapCreate(strMapHash, strMapKeyEquals, 32, 0.75f);
    for (const auto &m : moves) free(strMapPut(map, strdup(m.first.c_str()), strdup(m.second.c_str())));
    Rewritten r;
    char *t = strdup(text.c_str());
    r.changed = rewriteLinks(&t, map, blank, {record, &r.percents});
    r.text = t;
    free(t);
    strMapDestroy(map, 1);
    return r;
}

// the reference: a link stands whole if the byte before may open one (or is an attribute's "=") and the byte after close one
static bool wholeAt(const std::string &t, size_t at, size_t n) {
    static const std::string OPEN = " \t\r\n\"'>(", CLOSE = " \t\r\n\"'|><)";
    if (at + n < t.size() && CLOSE.find(t[at + n]) == std::string::npos) return false;
    if (at == 0 || OPEN.find(t[at - 1]) != std::string::npos) return true;
    if (t[at - 1] != '=') return false;
    size_t from = at - 1 > 33 ? at - 1 - 33 : 0;
    static const std::regex FIRST("(^|[ \\t\\r\\n\"'])[A-Za-z0-9_-]+ *$"), LATER("[ \\t\\r\\n\"'][A-Za-z0-9_-]+ *$");
    return std::regex_search(t.substr(from, at - 1 - from), from == 0 ? FIRST : LATER);
}

static int replaceWhole(std::string &t, const std::string &u, const std::string &by) {
    int found = 0;
    for (size_t at = t.find(u); at != std::string::npos; at = t.find(u, at)) {
        if (!wholeAt(t, at, u.size())) at++;
        else t.replace(at, u.size(), by), at += by.size(), found = 1;
    }
    return found;
}

static Rewritten reference(std::string t, Moves links, int blank) {
    std::stable_sort(links.begin(), links.end(), [](const auto &a, const auto &b) { return a.first.size() > b.first.size(); });
    int changed = 0;
    for (const auto &link : links) {
        if (!link.second.empty()) changed |= replaceWhole(t, link.first, link.second);
        else if (blank) {
            std::string element = "<img>" + link.first + "</img>";
            for (size_t at = t.find(element); at != std::string::npos; at = t.find(element, at)) t.erase(at, element.size());
            replaceWhole(t, link.first, BLANK_IMAGE_URL);
            changed = 1;
        }
    }
    return {t, changed, {}};
}

// faults once seen in real packages; the generated packages below cover the other link forms
TEST(LinkRewrite, OnlyWholeLinksAreReplacedLongestFirst) {
    for (const Case &c : readCases("links/rewrite.tsv")) {
        Moves moves;
        for (size_t i = 3; i + 1 < c.size(); i += 2) moves.push_back({c[i], c[i + 1]});
        EXPECT_EQ(rewrite(c[1], moves, c[0] == "1").text, c[2]) << c[1];
    }
    Moves moves = {{"http://h/a.jpg", "D:\\p\\1.jpg"}, {"http://h/b.jpg", ""}};
    EXPECT_EQ(rewrite("x", moves, 0).percents, (std::vector<int>{50, 100}));
    EXPECT_EQ(rewrite("no links here", {moves[1]}, 0).changed, 0);
    EXPECT_EQ(rewrite("no links here", {moves[1]}, 1).changed, 1);  // with the blank image a failed link changes it
}

// the links of a few images: prefixes, "_400x400" extensions, scheme-relative twins, links inside links
static std::vector<std::string> linkSet(unsigned &seed) {
    std::vector<std::string> links;
    for (int image = 0, n = 1 + (int)(nextRandom(seed) % 3); image < n; image++) {
        std::string host = "//img" + std::to_string(nextRandom(seed) % 2) + ".example/", name = image % 2 ? "图" : "a";
        for (const std::string &l : {host + name + ".jpg", host + name + ".jpg_400x400.jpg", host + name,
                                     host + name + ".jpg?v=2", "http:" + host + name + ".jpg", "HTTPS:" + host + name})
            links.push_back(l);
        links.push_back("http://p.example/?u=" + links[links.size() - 2]);
    }
    std::sort(links.begin(), links.end());
    links.erase(std::unique(links.begin(), links.end()), links.end());
    return links;
}

// packages built at random from those links in a description's and mobile details' forms, amid GBK text
TEST(LinkRewrite, EqualsOneWholeLinkReplacementPerLink) {
    static const char *forms[] = {"<img src=\"\"%\"\" />", "<img src='%'>", "<img src=%>", "<td background=%|",
                                  "background:url(%)",     "<img>%</img>", "<img size=\"\"1\"\">%</img>",
                                  "见 % 图",                "宝贝%描述",    "<a href=\"\"%\"\">"};
    static const char *fillers[] = {"<p>", " ", "面料柔软", "</p>\r\n", "\"\t\"<wapDesc>", "</wapDesc>\"\t\""};
    unsigned seed = 7;
    for (int n = 0; n < 3000; n++) {
        std::vector<std::string> links = linkSet(seed);
        std::string text;
        for (int i = 0, count = 2 + (int)(nextRandom(seed) % 20); i < count; i++) {
            std::string form = forms[nextRandom(seed) % (sizeof forms / sizeof *forms)];
            text += form.replace(form.find('%'), 1, links[nextRandom(seed) % links.size()]);
            text += fillers[nextRandom(seed) % (sizeof fillers / sizeof *fillers)];
        }
        Moves moves;
        for (size_t i = 0; i < links.size(); i++) {
            unsigned r = nextRandom(seed) % 4;  // 0: not reached
            if (r) moves.push_back({links[i], r == 1 ? "" : (r == 2 ? "D:\\搬家\\2026-12-6-9-7-" : "/tmp/搬家/m-2026-12-6-9-7-") +
                                                             std::to_string(i) + ".jpg"});
        }
        int blank = (int)(nextRandom(seed) % 2);
        Rewritten fast = rewrite(text, moves, blank), slow = reference(text, moves, blank);
        ASSERT_EQ(std::make_pair(fast.text, fast.changed), std::make_pair(slow.text, slow.changed)) << "case " << n << ": " << text;
    }
}
