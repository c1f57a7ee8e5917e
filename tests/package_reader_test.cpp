/* Data package reader: packages of every shape the seller assistant writes,
 * each refusal with its result, the end of the data, and inputs cut short
 * anywhere. */
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

/* The outcome of loading one file. */
struct Loaded {
    int result = -1;
    PtrVector *items = ptrVectorCreate(256, 64);
    char *text = nullptr;
    Loaded() = default;
    Loaded(const Loaded &) = delete;
    ~Loaded() {
        itemListClear(items);
        ptrVectorDestroy(items, 0);
        free(text);
    }
    ItemRecord *item(int i) const { return (ItemRecord *)ptrVectorGet(items, i); }
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
    void load(Loaded &out, const std::vector<PackageRow> &rows,
              const std::vector<PackageColumn> &columns = standardColumns()) {
        loadBytes(out, packageBytes(packageText(rows, columns)));
    }
};

static Links links(const PtrVector *list) {
    Links out;
    for (int32_t i = 0; list && i < list->count; i++) out.push_back((char *)list->items[i]);
    return out;
}

static const std::u16string DESCRIPTION =
    u"<p><img src=\"http://img.shop.example/a/1.jpg\" /><IMG class=\"x\" SRC='//img.shop.example/a/2.jpg_.webp'></p>"
    u"<table background=\"http://img.shop.example/a/bg.gif\"><tr><td style=\"background:url(http://img.shop.example/a/3.png)\">"
    u"纯棉面料</td></tr></table><img src=\"http://img01.taobaocdn.com/x.jpg\"><img src=\"http://img.tbcdn.cn/y.jpg\">"
    u"<img src=\"http://img.shop.example/a/1.jpg\">";
// in the order of the patterns that find them: double quotes first
static const Links DESCRIPTION_LINKS = {"http://img.shop.example/a/1.jpg", "http://img01.taobaocdn.com/x.jpg",
                                        "//img.shop.example/a/2.jpg", "http://img.shop.example/a/bg.gif",
                                        "http://img.shop.example/a/3.png"};
static const std::u16string MOBILE =
    u"<wapDesc><img size=\"750x1000\">http://img.shop.example/m/1.jpg</img><txt>夏季新款</txt>"
    u"<img>https://img.tbcdn.cn/m/2.jpg</img></wapDesc>";
static const Links MOBILE_LINKS = {"http://img.shop.example/m/1.jpg", "https://img.tbcdn.cn/m/2.jpg"};
static const std::u16string SELLING = u"透气\t舒适\r\n第二行\t\"包邮\"";

TEST_F(PackageReader, LoadsEveryItemWithItsLinks) {
    Loaded p;
    load(p, {itemRow(u"女装 连衣裙 \"显瘦\"", DESCRIPTION, MOBILE, SELLING),
             itemRow(u"男装_.webp 繽.webp T恤", u"<img src=\"http://img.shop.example/b/1.jpg\">", u"", SELLING),
             itemRow(u"空描述", u"")});
    ASSERT_EQ(p.result, 1);
    ASSERT_EQ(p.items->count, 3);
    EXPECT_STREQ(p.item(0)->title, "女装 连衣裙 \"\"显瘦\"\"");
    EXPECT_STREQ(p.item(1)->title, "男装 繽.webp T恤");  // "繽" ends in the byte "_"
    EXPECT_EQ(links(p.item(0)->descLinks), DESCRIPTION_LINKS);
    EXPECT_EQ(links(p.item(0)->mobileLinks), MOBILE_LINKS);
    EXPECT_EQ(links(p.item(1)->descLinks), Links{"http://img.shop.example/b/1.jpg"});
    EXPECT_EQ(links(p.item(1)->mobileLinks), Links{});
    EXPECT_EQ(links(p.item(2)->descLinks), Links{});
    EXPECT_EQ(p.item(0)->descLinks->capacity, 32);
    EXPECT_EQ(p.item(0)->mobileLinks->growBy, 8);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(p.item(i)->index, 0);
        EXPECT_EQ(p.item(i)->status, 0);
        EXPECT_EQ(p.item(i)->pcFailures, nullptr);
        for (const std::string &link : links(p.item(i)->descLinks)) EXPECT_NE(strstr(p.text, link.c_str()), nullptr);
    }
    EXPECT_EQ(strncmp(p.text, "version 1.00\r\ntitle\t", 20), 0);
    EXPECT_EQ(strstr(p.text, "jpg_.webp"), nullptr);
    EXPECT_NE(strstr(p.text, "透气\t舒适\r\n第二行"), nullptr);
}

TEST_F(PackageReader, OptionalColumnsMayBeMissing) {
    Loaded noMobile, noSelling;
    load(noMobile, {itemRow(u"a", DESCRIPTION, u"", SELLING)}, columnsWithout({u"无线详情"}));
    ASSERT_EQ(noMobile.result, 1);
    EXPECT_EQ(noMobile.item(0)->mobileLinks, nullptr);
    EXPECT_EQ(links(noMobile.item(0)->descLinks), DESCRIPTION_LINKS);
    load(noSelling, {itemRow(u"a", DESCRIPTION, MOBILE)}, columnsWithout({u"宝贝卖点"}));
    ASSERT_EQ(noSelling.result, 1);
    EXPECT_EQ(links(noSelling.item(0)->mobileLinks), MOBILE_LINKS);
}

TEST_F(PackageReader, HeaderWithoutUsableColumnsIsRefused) {
    std::vector<PackageColumn> descLast = columnsWithout({u"宝贝描述"});
    descLast.push_back({u"description", u"宝贝描述"});  // the last name carries the CR
    std::vector<PackageColumn> titleInside = standardColumns();
    titleInside.insert(titleInside.begin(), {u"note", u"宝贝名称说明"});
    for (const auto &columns : {columnsWithout({u"宝贝描述"}), descLast, titleInside}) {
        Loaded p;
        load(p, {itemRow(u"a", DESCRIPTION)}, columns);
        EXPECT_EQ(p.result, 0);
        EXPECT_EQ(p.text, nullptr);
    }
}

TEST_F(PackageReader, QuotedFieldsMustBeQuotedAndClosed) {
    PackageRow bare = itemRow(u"a", u"");
    bare[u"宝贝描述"] = u"<img src=http://x.example/1.jpg>";
    PackageRow bareMobile = itemRow(u"a", u"", u"");
    bareMobile[u"无线详情"] = u"none";
    Loaded a, b;
    load(a, {bare});
    load(b, {itemRow(u"a", u""), bareMobile});
    EXPECT_EQ(a.result, 0);
    EXPECT_EQ(b.result, 0);
    Loaded open;
    std::u16string text = packageText({itemRow(u"a", u"")}) + u"\"b\"\t0\t0";
    for (int i = 3; i < 21; i++) text += u"\t0";
    loadBytes(open, packageBytes(text + u"\t\"<img src=\"\"http://x.example/1.jpg\"\">"));
    EXPECT_EQ(open.result, 0);
}

TEST_F(PackageReader, FilesNotInTheExportFormAreRefused) {
    std::string good = packageBytes(packageText({itemRow(u"a", DESCRIPTION)}));
    std::string withNul = packageBytes(packageText({itemRow(std::u16string(u"a\0b", 3), DESCRIPTION)}));
    const std::string refused[] = {
        "",
        packageBytes(u"宝贝名称\t宝贝描述\tx\r\n\"a\"\t\"\"\t0\r\n"),  // title row right after the mark
        "version 1.00\r\n宝贝名称\t宝贝描述\r\n",                     // single-byte text
        good.substr(0, good.size() - 1),                              // odd length: broken encoding
        withNul,
    };
    for (const std::string &bytes : refused) {
        Loaded p;
        loadBytes(p, bytes);
        EXPECT_EQ(p.result, 0);
    }
    EXPECT_NE(readFile(dir.file("app.log")).find(" csv 文件编码存在问题, 无法正常的解析。\r\n"), std::string::npos);
    Loaded missing;
    missing.result = loadPackage(dir.file("absent.csv").c_str(), missing.items, &missing.text);
    EXPECT_EQ(missing.result, 0);
    Loaded folder;
    folder.result = loadPackage(dir.path().c_str(), folder.items, &folder.text);
    EXPECT_EQ(folder.result, 0);
}

TEST_F(PackageReader, TitlesOver255BytesAreRefusedInAnyRow) {
    Loaded fits, firstLong, laterLong;
    load(fits, {itemRow(std::u16string(255, u'a'), u"")});
    EXPECT_EQ(fits.result, 1);
    EXPECT_EQ(strlen(fits.item(0)->title), 255u);
    load(firstLong, {itemRow(std::u16string(256, u'a'), u"")});
    EXPECT_EQ(firstLong.result, LOAD_TITLE_TOO_LONG);
    load(laterLong, {itemRow(u"短", u""), itemRow(std::u16string(128, u'长'), u"")});  // 256 GBK bytes
    EXPECT_EQ(laterLong.result, LOAD_TITLE_TOO_LONG);
    EXPECT_EQ(laterLong.items->count, 1);  // records so far stay for the caller to discard
}

TEST_F(PackageReader, DataEndsAfterTheLastRow) {
    std::u16string text = packageText({itemRow(u"a", DESCRIPTION, MOBILE), itemRow(u"b", u"")});
    struct Case { std::u16string tail; int result; };
    const Case cases[] = {{u"", 1}, {u"\r", 1}, {u"\r\n", 1}, {u"\r\n\r\n", 1}, {u"x", 0}};
    for (const Case &c : cases) {
        Loaded p;
        loadBytes(p, packageBytes(text + c.tail));
        EXPECT_EQ(p.result, c.result);
        if (c.result == 1) {
            EXPECT_EQ(p.items->count, 2);  // a blank line starts no item
        }
    }
    Loaded none;
    loadBytes(none, packageBytes(packageText({})));
    EXPECT_EQ(none.result, 1);
    EXPECT_EQ(none.items->count, 0);
}

TEST_F(PackageReader, LastRowCutShortLeavesUsableRecords) {
    std::u16string text = packageText({itemRow(u"a", DESCRIPTION, MOBILE)});
    Loaded beforeDesc, beforeMobile;
    loadBytes(beforeDesc, packageBytes(text + u"\"b\"\t0\t0"));
    ASSERT_EQ(beforeDesc.result, 1);
    EXPECT_EQ(beforeDesc.items->count, 1);  // nothing to move in a row without its description
    std::u16string cut = packageText({itemRow(u"a", DESCRIPTION, MOBILE), itemRow(u"b", DESCRIPTION)});
    cut = cut.substr(0, cut.rfind(u"\"SKU-001\""));  // the last row ends before its mobile details
    loadBytes(beforeMobile, packageBytes(cut));
    ASSERT_EQ(beforeMobile.result, 1);
    ASSERT_EQ(beforeMobile.items->count, 2);
    EXPECT_EQ(links(beforeMobile.item(1)->descLinks), DESCRIPTION_LINKS);
    ASSERT_NE(beforeMobile.item(1)->mobileLinks, nullptr);
    EXPECT_EQ(beforeMobile.item(1)->mobileLinks->count, 0);
}

TEST_F(PackageReader, InputCutAnywhereLoadsOrIsRefused) {
    std::u16string text = packageText({itemRow(u"一", DESCRIPTION, MOBILE, SELLING), itemRow(u"二", DESCRIPTION)});
    std::string bytes = packageBytes(text);
    for (size_t size = 0; size <= bytes.size(); size += 2) {
        Loaded p;
        loadBytes(p, bytes.substr(0, size));
        ASSERT_TRUE(p.result == 0 || p.result == 1) << size;
        for (int32_t i = 0; p.result == 1 && i < p.items->count; i++) {
            ASSERT_NE(p.item(i)->descLinks, nullptr);
            for (const std::string &link : links(p.item(i)->descLinks)) EXPECT_NE(strstr(p.text, link.c_str()), nullptr);
        }
    }
}

TEST(QuotedField, LengthCountsDoubledQuotesAsText) {
    EXPECT_EQ(quotedFieldLength("\"abc\"\tx"), 5);
    EXPECT_EQ(quotedFieldLength("\"a\"\"b\"\t"), 6);
    EXPECT_EQ(quotedFieldLength("\"\"\"\""), 4);
    EXPECT_EQ(quotedFieldLength("\"\""), 2);
    EXPECT_EQ(quotedFieldLength("\"abc"), 0);
    EXPECT_EQ(quotedFieldLength("\"ab\"\""), 0);
}

/* Unclosed tags and long runs of blanks once stalled the scan or ended the
 * program; they read in time linear in the field. */
TEST_F(PackageReader, HostileDescriptionsLoad) {
    std::u16string hostile = u"<img src=\"http://img.shop.example/a/1.jpg\">";
    for (int i = 0; i < 100; i++) hostile += u"<img" + std::u16string(2000, u' ') + (i % 2 ? u">" : u"");
    std::string bytes = packageBytes(packageText({itemRow(u"a", hostile + u"<img" + std::u16string(5000, u' '))}));
    std::string path = dir.file("package.csv");
    ASSERT_TRUE(writeFile(path, bytes));
    Loaded p;
    ASSERT_EQ(loadPackage(path.c_str(), p.items, &p.text), 1);
    EXPECT_EQ(links(p.item(0)->descLinks), std::vector<std::string>{"http://img.shop.example/a/1.jpg"});
}
