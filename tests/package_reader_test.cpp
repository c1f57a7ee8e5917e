/* Data package reader: packages of every shape the seller assistant writes,
 * each refusal with its result, the end of the data, and inputs cut short
 * at the field and line boundaries. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "app_log.h"
#include "package_builder.h"
#include "package_reader.h"
#include "test_support.h"

typedef std::vector<std::string> Links;
typedef std::vector<PackageColumn> Columns;

static Links links(const PtrVector *list) {
    Links out;
    for (int32_t i = 0; list && i < list->count; i++) out.push_back((char *)list->items[i]);
    return out;
}

struct Loaded {
    int result = -1;
    PtrVector *items = ptrVectorCreate(256, 64);
    char *text = nullptr;
    ~Loaded() { itemListClear(items); ptrVectorDestroy(items, 0); free(text); }
    ItemRecord *item(int i) const { return (ItemRecord *)ptrVectorGet(items, i); }
    int count() const { return result == 1 ? items->count : -1; }
};

class PackageReader : public testing::Test {
protected:
    ScratchDir dir;
    void SetUp() override { openAppLog(dir.path().c_str()); }
    void loadBytes(Loaded &out, const std::string &bytes) {
        std::string path = dir.file("package.csv");
        ASSERT_TRUE(writeFile(path, bytes));
        out.result = loadPackage(path.c_str(), out.items, &out.text);
    }
    void load(Loaded &out, const std::vector<PackageRow> &rows, const Columns &columns = standardColumns()) {
        loadBytes(out, packageBytes(packageText(rows, columns)));
    }
};

static const std::u16string DESCRIPTION =
    u"<p><img src=\"http://img.shop.example/a/1.jpg\" /><IMG class=\"x\" SRC='//img.shop.example/a/2.jpg_.webp'></p>"
    u"<table background=\"http://img.shop.example/a/bg.gif\"><tr><td style=\"background:url(http://img.shop.example/a/3.png)\">"
    u"纯棉面料</td></tr></table><img src=\"http://img01.taobaocdn.com/x.jpg\"><img src=\"http://img.tbcdn.cn/y.jpg\">"
    u"<img src=\"http://img.shop.example/a/1.jpg\">";
// in the order of the patterns that find them: double quotes first
static const Links DESCRIPTION_LINKS = {"http://img.shop.example/a/1.jpg", "http://img01.taobaocdn.com/x.jpg",
                                        "//img.shop.example/a/2.jpg", "http://img.shop.example/a/bg.gif",
                                        "http://img.shop.example/a/3.png"};
static const std::u16string MOBILE = u"<wapDesc><img size=\"750x1000\">http://img.shop.example/m/1.jpg</img>"
                                     u"<txt>夏季新款</txt><img>https://img.tbcdn.cn/m/2.jpg</img></wapDesc>";
static const Links MOBILE_LINKS = {"http://img.shop.example/m/1.jpg", "https://img.tbcdn.cn/m/2.jpg"};
static const std::u16string SELLING = u"透气\t舒适\r\n第二行\t\"包邮\"";

TEST_F(PackageReader, LoadsEveryItemWithItsLinks) {
    Loaded p;
    load(p, {itemRow(u"女装 连衣裙 \"显瘦\"", DESCRIPTION, MOBILE, SELLING),
             itemRow(u"男装_.webp 繽.webp T恤", u"<img src=\"http://img.shop.example/b/1.jpg\">", u"", SELLING),
             itemRow(u"空描述", u"")});
    ASSERT_EQ(p.count(), 3);
    EXPECT_STREQ(p.item(0)->title, "女装 连衣裙 \"\"显瘦\"\"");
    EXPECT_STREQ(p.item(1)->title, "男装 繽.webp T恤");  // "繽" ends in the byte "_"
    EXPECT_EQ(links(p.item(0)->descLinks), DESCRIPTION_LINKS);
    EXPECT_EQ(links(p.item(0)->mobileLinks), MOBILE_LINKS);
    EXPECT_EQ(links(p.item(1)->descLinks), Links{"http://img.shop.example/b/1.jpg"});
    EXPECT_TRUE(p.item(1)->mobileLinks && links(p.item(1)->mobileLinks).empty() && links(p.item(2)->descLinks).empty());
    for (int i = 0; i < 3; i++) EXPECT_TRUE(p.item(i)->index == 0 && p.item(i)->status == 0 && !p.item(i)->pcFailures);
    EXPECT_EQ(strncmp(p.text, "version 1.00\r\ntitle\t", 20), 0);
    EXPECT_EQ(strstr(p.text, "jpg_.webp"), nullptr);
    EXPECT_NE(strstr(p.text, "透气\t舒适\r\n第二行"), nullptr);
    itemRecordDestroy(nullptr);  // as free() takes NULL
}

TEST_F(PackageReader, OptionalColumnsMayBeMissing) {
    Loaded noMobile, noSelling;
    load(noMobile, {itemRow(u"a", DESCRIPTION, u"", SELLING)}, columnsWithout({u"无线详情"}));
    load(noSelling, {itemRow(u"a", DESCRIPTION, MOBILE)}, columnsWithout({u"宝贝卖点"}));
    ASSERT_TRUE(noMobile.count() == 1 && noSelling.count() == 1);
    EXPECT_TRUE(!noMobile.item(0)->mobileLinks && links(noMobile.item(0)->descLinks) == DESCRIPTION_LINKS);
    EXPECT_EQ(links(noSelling.item(0)->mobileLinks), MOBILE_LINKS);
}

/* Headers without usable columns, unquoted or unclosed fields, and files not
 * in the export's form. */
TEST_F(PackageReader, MalformedPackagesAreRefused) {
    Columns descLast = columnsWithout({u"宝贝描述"}), titleInside = standardColumns();
    descLast.push_back({u"description", u"宝贝描述"});  // the last name carries the CR
    titleInside.insert(titleInside.begin(), {u"note", u"宝贝名称说明"});
    PackageRow bare = itemRow(u"a", u""), bareMobile = itemRow(u"a", u"", u"");
    bare[u"宝贝描述"] = u"<img src=http://x.example/1.jpg>";
    bareMobile[u"无线详情"] = u"none";
    std::u16string open = packageText({itemRow(u"a", u"")}) + u"\"b\"";
    for (int i = 1; i < 21; i++) open += u"\t0";
    auto bytes = [](const std::vector<PackageRow> &rows, const Columns &columns = standardColumns()) {
        return packageBytes(packageText(rows, columns));
    };
    std::string good = bytes({itemRow(u"a", DESCRIPTION)});
    const std::string refused[] = {
        bytes({itemRow(u"a", DESCRIPTION)}, columnsWithout({u"宝贝描述"})),
        bytes({itemRow(u"a", DESCRIPTION)}, descLast),
        bytes({itemRow(u"a", DESCRIPTION)}, titleInside),
        bytes({bare}),
        bytes({itemRow(u"a", u""), bareMobile}),
        packageBytes(open + u"\t\"<img src=\"\"http://x.example/1.jpg\"\">"),
        "",
        packageBytes(u"宝贝名称\t宝贝描述\tx\r\n\"a\"\t\"\"\t0\r\n"),  // title row right after the mark
        "version 1.00\r\n宝贝名称\t宝贝描述\r\n",                     // single-byte text
        good.substr(0, good.size() - 1),                              // odd length: broken encoding
        bytes({itemRow(std::u16string(u"a\0b", 3), DESCRIPTION)}),
    };
    for (const std::string &b : refused) {
        Loaded p;
        loadBytes(p, b);
        EXPECT_TRUE(p.result == 0 && !p.text) << &b - refused;
    }
    EXPECT_NE(readFile(dir.file("app.log")).find(" csv 文件编码存在问题, 无法正常的解析。\r\n"), std::string::npos);
    Loaded absent, folder;
    EXPECT_EQ(loadPackage(dir.file("absent.csv").c_str(), absent.items, &absent.text), 0);
    EXPECT_EQ(loadPackage(dir.path().c_str(), folder.items, &folder.text), 0);
}

/* Titles over 255 bytes in any row; where the data ends; a last row cut
 * before its description (nothing to move) or its mobile details. */
TEST_F(PackageReader, TitleLimitAndTheEndOfTheData) {
    std::u16string text = packageText({itemRow(u"a", DESCRIPTION, MOBILE), itemRow(u"b", DESCRIPTION)});
    std::u16string beforeMobile = text.substr(0, text.rfind(u"\"SKU-001\""));
    struct Case { std::u16string text; int result, count; };
    const Case cases[] = {
        {text, 1, 2}, {text + u"\r", 1, 2}, {text + u"\r\n\r\n", 1, 2}, {text + u"x", 0, -1},
        {packageText({}), 1, 0}, {text + u"\"b\"\t0\t0", 1, 2}, {beforeMobile, 1, 2},
        {packageText({itemRow(std::u16string(255, u'a'), u"")}), 1, 1},
        {packageText({itemRow(std::u16string(256, u'a'), u"")}), LOAD_TITLE_TOO_LONG, 0},
        // 256 GBK bytes; records so far stay for the caller to discard
        {packageText({itemRow(u"短", u""), itemRow(std::u16string(128, u'长'), u"")}), LOAD_TITLE_TOO_LONG, 1},
    };
    for (const Case &c : cases) {
        Loaded p;
        loadBytes(p, packageBytes(c.text));
        EXPECT_EQ(p.result, c.result) << &c - cases;
        EXPECT_EQ(p.result == 0 ? -1 : p.items->count, c.count) << &c - cases;
        if (&c == &cases[6]) {
            EXPECT_TRUE(p.item(1)->mobileLinks && !p.item(1)->mobileLinks->count);
        }
    }
}

TEST_F(PackageReader, InputCutAtABoundaryLoadsOrIsRefused) {
    std::u16string text = packageText({itemRow(u"一", DESCRIPTION, MOBILE, SELLING), itemRow(u"二", DESCRIPTION)});
    size_t rows = text.find(u"\"一\"");  // the header is cut at its line ends only
    for (size_t at = 0; at <= text.size(); at++) {
        if (at < text.size() && text[at] != u'\n' && (at < rows || text[at] != u'\t')) continue;
        for (size_t size : {at, at + 1}) {
            Loaded p;
            loadBytes(p, packageBytes(text.substr(0, size)));
            ASSERT_TRUE(p.result == 0 || p.result == 1) << size;
            for (int32_t i = 0; i < p.count(); i++) {
                ASSERT_NE(p.item(i)->descLinks, nullptr);
                for (const std::string &link : links(p.item(i)->descLinks)) EXPECT_NE(strstr(p.text, link.c_str()), nullptr);
            }
        }
    }
}

TEST(QuotedField, LengthCountsDoubledQuotesAsText) {
    const std::pair<const char *, int> cases[] = {
        {"\"abc\"\tx", 5}, {"\"a\"\"b\"\t", 6}, {"\"\"\"\"", 4}, {"\"\"", 2}, {"\"abc", 0}, {"\"ab\"\"", 0}};
    for (const auto &c : cases) EXPECT_EQ(quotedFieldLength(c.first), c.second) << c.first;
}

/* Unclosed tags and long runs of blanks once stalled the scan or ended the
 * program; they read in time linear in the field. */
TEST_F(PackageReader, HostileDescriptionsLoad) {
    std::u16string hostile = u"<img src=\"http://img.shop.example/a/1.jpg\">";
    for (int i = 0; i < 100; i++) hostile += u"<img" + std::u16string(2000, u' ') + (i % 2 ? u">" : u"");
    Loaded p;
    load(p, {itemRow(u"a", hostile + u"<img" + std::u16string(5000, u' '))});
    ASSERT_EQ(p.count(), 1);
    EXPECT_EQ(links(p.item(0)->descLinks), Links{"http://img.shop.example/a/1.jpg"});
}
