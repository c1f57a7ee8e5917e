/* The data package: link extraction (its forms in tests/data/links), the reader on
 * packages of every shape the seller assistant writes and on inputs cut short, backups and the write-back. */
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <filesystem>

#include "app_log.h"
#include "file_helpers.h"
#include "link_extract.h"
#include "package_builder.h"
#include "package_text.h"
#include "package_writer.h"
#include "paths.h"
#include "platform.h"
#include "test_support.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

typedef std::vector<std::string> Links;
typedef std::vector<PackageColumn> Columns;

// each field alone in a buffer of its size, so the address sanitizer sees a read past it
TEST(Links, EveryFormOrderRepeatsAndFilters) {
    for (Case c : readCases("links/extract.tsv")) {
        for (std::string &text : c) text = converted("utf-8", "GB18030", text);
        std::vector<char> field(c[1].begin(), c[1].end());
        PtrVector *list = ptrVectorCreate(4, 4);
        LinkPlaces places;
        EXPECT_EQ((c[0] == "pc" ? extractDescriptionLinks : extractMobileLinks)(field.data(), field.size(), 5, list, &places), 1);
        for (const LinkPlace &p : places) EXPECT_EQ(c[1].substr(p.start - 5, p.end - p.start), p.url);
        EXPECT_EQ(strings(list, true), Links(c.begin() + 2, c.end())) << c[1];
    }
}

static std::string bytes(const std::vector<PackageRow> &rows, const Columns &columns = standardColumns()) {
    return packageBytes(packageText(rows, columns));
}

class Package : public testing::Test {
protected:
    ScratchDir dir;
    void SetUp() override { openAppLog(dir.path().c_str()); }
    void loadBytes(LoadedPackage &out, const std::string &bytes) {
        ASSERT_TRUE(writeFile(dir.file("package.csv"), bytes));
        out.load(dir.file("package.csv"));
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

TEST_F(Package, LoadsEveryItemWithItsLinksWithOrWithoutOptionalColumns) {
    // unclosed tags and long runs of blanks once stalled the scan or ended the program
    std::u16string hostile = u"<img src=\"http://img.shop.example/a/1.jpg\">";
    for (int i = 0; i < 100; i++) hostile += u"<img" + std::u16string(2000, u' ') + (i % 2 ? u">" : u"");
    LoadedPackage p;
    loadBytes(p, bytes({itemRow(u"女装 连衣裙 \"显瘦\"", DESCRIPTION, MOBILE, SELLING),
                        itemRow(u"男装_.webp 繽.webp T恤", u"<img src=\"http://img.shop.example/b/1.jpg\">", u"", SELLING),
                        itemRow(u"空描述", u""), itemRow(u"a", hostile + u"<img" + std::u16string(5000, u' '))}));
    ASSERT_EQ(p.count(), 4);
    EXPECT_STREQ(p.item(0)->title, "女装 连衣裙 \"\"显瘦\"\"");
    EXPECT_STREQ(p.item(1)->title, "男装 繽.webp T恤");  // "繽" ends in the byte "_"
    EXPECT_EQ(strings(p.item(0)->descLinks), DESCRIPTION_LINKS);
    EXPECT_EQ(strings(p.item(0)->mobileLinks), MOBILE_LINKS);
    EXPECT_EQ(strings(p.item(1)->descLinks), Links{"http://img.shop.example/b/1.jpg"});
    EXPECT_TRUE(p.item(1)->mobileLinks && strings(p.item(1)->mobileLinks).empty() && strings(p.item(2)->descLinks).empty());
    EXPECT_EQ(strings(p.item(3)->descLinks), Links{"http://img.shop.example/a/1.jpg"});
    for (int i = 0; i < 4; i++) EXPECT_TRUE(p.item(i)->index == 0 && p.item(i)->status == 0 && !p.item(i)->pcFailures);
    EXPECT_EQ(strncmp(p.text, "version 1.00\r\ntitle\t", 20), 0);
    EXPECT_EQ(strstr(p.text, "jpg_.webp"), nullptr);
    EXPECT_NE(strstr(p.text, "透气\t舒适\r\n第二行"), nullptr);
    LoadedPackage noMobile, noSelling;  // optional columns may be missing
    loadBytes(noMobile, bytes({itemRow(u"a", DESCRIPTION, u"", SELLING)}, columnsWithout({u"无线详情"})));
    loadBytes(noSelling, bytes({itemRow(u"a", DESCRIPTION, MOBILE)}, columnsWithout({u"宝贝卖点"})));
    ASSERT_TRUE(noMobile.count() == 1 && noSelling.count() == 1);
    EXPECT_TRUE(!noMobile.item(0)->mobileLinks && strings(noMobile.item(0)->descLinks) == DESCRIPTION_LINKS);
    EXPECT_EQ(strings(noSelling.item(0)->mobileLinks), MOBILE_LINKS);
}

/* Refused: headers without usable columns or with a key name twice, unquoted or unclosed fields, files not in the
 * export's form, a NUL or a lone surrogate (what and where said). Titles over 255 bytes in any row; where the data
 * ends; a last row without its CR LF, or cut before its description or its mobile details. */
TEST_F(Package, MalformedRefusedTitleLimitAndTheEndOfTheData) {
    Columns descTwice = standardColumns(), titleInside = standardColumns();
    descTwice.push_back({u"description", u"宝贝描述"});
    titleInside.insert(titleInside.begin(), {u"note", u"宝贝名称说明"});
    std::string descColumn = std::to_string(std::find_if(descTwice.begin(), descTwice.end(), [](auto &c) { return c.name == u"宝贝描述"; }) - descTwice.begin() + 1);
    std::u16string lone = u"<p>";
    lone += (char16_t)0xD83D;
    PackageRow bare = itemRow(u"a", u""), bareMobile = itemRow(u"a", u"", u"");
    bare[u"宝贝描述"] = u"<img src=http://x.example/1.jpg>";
    bareMobile[u"无线详情"] = u"none";
    std::u16string open = packageText({itemRow(u"a", u"")}) + u"\"b\"";
    for (int i = 1; i < 21; i++) open += u"\t0";
    std::u16string text = packageText({itemRow(u"a", DESCRIPTION, MOBILE), itemRow(u"b", DESCRIPTION)});
    std::string good = packageBytes(text);
    struct Case { std::string bytes; int result, count; std::string problem = ""; };
    const Case cases[] = {
        {bytes({itemRow(u"a", DESCRIPTION)}, columnsWithout({u"宝贝描述"})), 0, -1},
        {bytes({itemRow(u"a", DESCRIPTION)}, descTwice), 0, -1,
         "表头中有两列都名为“宝贝描述”(第" + descColumn + "列和第" + std::to_string(descTwice.size()) + "列)，无法确定该读哪一列"},
        {bytes({itemRow(u"a", DESCRIPTION)}, titleInside), 0, -1},
        {bytes({bare}), 0, -1},
        {bytes({itemRow(u"a", u""), bareMobile}), 0, -1},
        {packageBytes(open + u"\t\"<img src=\"\"http://x.example/1.jpg\"\">"), 0, -1},
        {"", 0, -1},
        {packageBytes(u"宝贝名称\t宝贝描述\tx\r\n\"a\"\t\"\"\t0\r\n"), 0, -1},  // title row right after the mark
        {"version 1.00\r\n宝贝名称\t宝贝描述\r\n", 0, -1},                     // single-byte text
        {"\xFF\xFE\xB1\xA6\xB1\xD8\xC3\xFB", 0, -1},  // GBK read in pairs, a lone surrogate among them: no line said
        {good.substr(0, good.size() - 1), 0, -1},                              // odd length: broken encoding
        {bytes({itemRow(std::u16string(u"a\0b", 3), DESCRIPTION)}), 0, -1, "第4行：含有空字符(NUL)"},
        {bytes({itemRow(u"a", u""), itemRow(u"b", lone + u"</p>" + std::u16string(40, u'x'))}), 0, -1,
         "第5行：含有不成对的UTF-16代理项(D83D)，它不是一个完整的字符"},
        {packageBytes(text + u"\r\n" + lone), 0, -1, "第7行：含有不成对的UTF-16代理项(D83D)，它不是一个完整的字符"},
        {bytes({itemRow(u"a", u"\uE78D")}), 0, -1, "第4行：字符U+E78D无法转换"},  // a character GB18030 converters disagree on
        {packageBytes(text.substr(0, text.size() - 2)), 1, 2}, {packageBytes(text.substr(0, text.size() - 1)), 1, 2},
        {good, 1, 2}, {packageBytes(text + u"\r"), 1, 2}, {packageBytes(text + u"\r\n\r\n"), 1, 2},
        {packageBytes(text + u"x"), 0, -1}, {bytes({}), 1, 0}, {packageBytes(text + u"\"b\"\t0\t0"), 1, 2},
        {packageBytes(text.substr(0, text.rfind(u"\"SKU-001\""))), 1, 2},  // the last row's mobile details cut
        {bytes({itemRow(std::u16string(255, u'a'), u"")}), 1, 1},
        {bytes({itemRow(std::u16string(256, u'a'), u"")}), LOAD_TITLE_TOO_LONG, 0},
        // 256 GBK bytes; records so far stay for the caller to discard
        {bytes({itemRow(u"短", u""), itemRow(std::u16string(128, u'长'), u"")}), LOAD_TITLE_TOO_LONG, 1},
    };
    for (const Case &c : cases) {
        LoadedPackage p;
        loadBytes(p, c.bytes);
        EXPECT_EQ(p.result, c.result) << &c - cases;
        EXPECT_EQ(p.result == 0 ? -1 : p.items->count, c.count) << &c - cases;
        EXPECT_TRUE(p.result != 0 || !p.text) << &c - cases;
        EXPECT_EQ(p.problem, c.problem) << &c - cases;
        EXPECT_TRUE(&c != &cases[23] || (p.item(1)->mobileLinks && !p.item(1)->mobileLinks->count));
    }
    EXPECT_NE(readFile(dir.file("app.log")).find(" csv 文件编码存在问题, 无法正常的解析。\r\n"), std::string::npos);
    LoadedPackage absent(dir.file("absent.csv")), folder(dir.path());
    EXPECT_TRUE(absent.result == 0 && folder.result == 0);
}

// each key column may stand last, where its name once kept the row's CR: its field is read by its quotes
TEST_F(Package, KeyColumnsReadWhereverTheyStand) {
    for (const std::u16string name : {u"宝贝描述", u"无线详情", u"宝贝卖点"}) {
        Columns columns = columnsWithout({name});
        for (const PackageColumn &c : standardColumns())
            if (c.name == name) columns.push_back(c);
        LoadedPackage p;
        loadBytes(p, bytes({itemRow(u"一", DESCRIPTION, MOBILE, SELLING), itemRow(u"二", DESCRIPTION, MOBILE, SELLING)}, columns));
        ASSERT_EQ(p.count(), 2);
        EXPECT_STREQ(p.item(1)->title, "二");
        EXPECT_TRUE(strings(p.item(1)->descLinks) == DESCRIPTION_LINKS && strings(p.item(1)->mobileLinks) == MOBILE_LINKS);
    }
}

TEST_F(Package, InputCutAtABoundaryLoadsOrIsRefused) {
    std::u16string text = packageText({itemRow(u"一", DESCRIPTION, MOBILE, SELLING), itemRow(u"二", DESCRIPTION)});
    size_t rows = text.find(u"\"一\"");  // the header is cut at its line ends only
    for (size_t at = 0; at <= text.size(); at++) {
        if (at < text.size() && text[at] != u'\n' && (at < rows || text[at] != u'\t')) continue;
        for (size_t size : {at, at + 1}) {
            LoadedPackage p;
            loadBytes(p, packageBytes(text.substr(0, size)));
            ASSERT_TRUE(p.result == 0 || p.result == 1) << size;
            for (int32_t i = 0; i < p.count(); i++) {
                ASSERT_NE(p.item(i)->descLinks, nullptr);
                for (const std::string &link : strings(p.item(i)->descLinks)) EXPECT_NE(strstr(p.text, link.c_str()), nullptr);
            }
        }
    }
}

// the file's first piece ends at each byte of the tail in turn (inside a surrogate pair too), at odd bytes after a
// UTF-8 mark: the text is the one converted whole, "_.webp" cut where a character starts (after four bytes of one
// too); the text written back crosses a piece too
TEST_F(Package, PiecesMeetAnywhereInTheText) {
    const std::u16string tail = u"繽.webp\U0001F600_._.webpwebp", cut = u"繽.webp\U0001F600_.webp";
    size_t at = 2 + 2 * packageText({itemRow(u"a", u"", u"", tail)}).find(tail);
    for (size_t split = 1; split <= 2 * tail.size(); split++) {
        std::string mark = split % 2 ? "\xEF\xBB\xBF" : "";
        std::u16string filler((PACKAGE_PIECE_SIZE - split - mark.size() - at) / 2, u'x');
        LoadedPackage p;
        loadBytes(p, mark + packageBytes(packageText({itemRow(u"a", u"", u"", filler + tail)})));
        std::string whole = converted("UTF-16", "GB18030", packageBytes(packageText({itemRow(u"a", u"", u"", filler + cut)})));
        ASSERT_TRUE(p.text && p.text == whole) << split;  // not the megabyte of text
    }
    LoadedPackage p(dir.file("package.csv"));
    EXPECT_EQ(writePackage(dir.file("package.csv").c_str(), p.text), 1);
    EXPECT_EQ(readFile(dir.file("package.csv")), "\xFF\xFE" + converted("GB18030", "UTF-16LE", p.text));
}

TEST(QuotedField, LengthCountsDoubledQuotesAsText) {
    for (const Case &c : readCases("unit/quoted_field.tsv")) EXPECT_EQ(quotedFieldLength(c[0].c_str()), std::stoi(c[1])) << c[0];
}

TEST_F(Package, BackupTakesTheFirstFreeNumber) {
    std::string bak = dir.file("bak") + PATH_SEPARATOR, package = dir.file("商品.csv");
    ASSERT_TRUE(writeFile(package, std::string("\xFF\xFE" "a\0b\0", 6)));
    for (int i = 0; i < 2; i++) backupPackage(package.c_str(), dir.path().c_str());
    EXPECT_EQ(readFile(bak + "商品(1).csv"), readFile(package));
    EXPECT_EQ(fileExists((bak + "商品(2).csv").c_str()), 1);
    remove((bak + "商品(1).csv").c_str());
    char path[PATH_SIZE];
    for (std::string name : {"商品.csv", "a.b.csv", "data"}) {
        ASSERT_EQ(backupPath(dir.file("bak").c_str(), dir.file(name).c_str(), path, sizeof path), 1);
        EXPECT_EQ(path, bak + name.insert(std::min(name.rfind('.'), name.size()), "(1)"));  // the first free number again
    }
}

typedef Package PackageDeathTest;

/* A name at the limit (255 bytes, or what MAX_PATH leaves) leaves no room for a longer temporary name beside it. Every
 * character comes back as it was, those GBK lacks too, so many of them that the text outgrows the file. */
TEST_F(PackageDeathTest, WrittenBackItReadsAsTheSameTextAndAFailedWriteLeavesItWhole) {
    size_t longest = std::min<size_t>(255, PATH_SIZE - 2 - dir.path().size());
    std::string package = dir.file(std::string(longest - 4, 'p') + ".csv");
    const std::u16string scripts = u"Nike® ¥99 \U0001F600 © ™ • ♥ ✔ 한국어 Señor Garçon \U00020087";
    PackageRow row = itemRow(u"连衣裙 " + scripts, u"<img src=\"D:\\图片\\1.jpg\">" + scripts + std::u16string(5000, u'¥'), u"", scripts);
    row[u"宝贝价格"] = scripts;
    std::string original = bytes({row});
    ASSERT_TRUE(writeFile(package, original));
    LoadedPackage before(package);
    ASSERT_EQ(before.result, 1);
    EXPECT_EQ(writePackage(package.c_str(), before.text), 1);
    LoadedPackage after(package);
    std::string written = readFile(package);
    EXPECT_TRUE(after.result == 1 && strcmp(after.text, before.text) == 0 && written == original);
    char temporary[PATH_SIZE];
    ASSERT_EQ(temporaryPath(package.c_str(), temporary, sizeof temporary), 1);
    EXPECT_EQ(fileExists(temporary), 0);
    EXPECT_EQ(std::string(temporary, fileName(temporary) - temporary), dir.path() + PATH_SEPARATOR);
    std::string folder = dir.file("folder.csv");
    std::filesystem::create_directory(folder);  // the new contents cannot be put in place of a folder
    for (const std::string &path : {package, folder})
        EXPECT_EXIT(installRecordingHooks();
                    // nor written where the process's temporary name is taken
                    if (path == package && temporaryPath(path.c_str(), temporary, sizeof temporary))
                        std::filesystem::create_directory(temporary);
                    writePackage(path.c_str(), "new contents"), testing::ExitedWithCode(0),
                    messageLine("错误", "更新CSV文件失败：文件句柄无法打开。"));
    EXPECT_EQ(readFile(package), written);
    // so deep a folder that no temporary name fits: written in place, a text that does not convert (a lead byte
    // at its end) fails before the package is touched
    std::string deep = dir.path();
    while (deep.size() < PATH_SIZE - 10)
        std::filesystem::create_directory(deep += PATH_SEPARATOR + std::string(std::min<size_t>(200, PATH_SIZE - 11 - deep.size()), 'd'));
    std::string inPlace = deep + PATH_SEPARATOR + "a.csv";
    ASSERT_TRUE(writeFile(inPlace, written) && !temporaryPath(inPlace.c_str(), temporary, sizeof temporary));
    EXPECT_EXIT(installRecordingHooks(); writePackage(inPlace.c_str(), "a\x81"), testing::ExitedWithCode(0),
                messageLine("错误", "更新CSV文件失败：iconv()转码出错了。"));
    EXPECT_EQ(readFile(inPlace), written);
}

// the faults: a read-only package written back writable and owned by the mover; a symbolic link replaced by a plain
// file while the file it points at kept the remote links
TEST_F(Package, WriteBackKeepsTheSellersFileItsModeAndOwner) {
    namespace fs = std::filesystem;
    std::string real = dir.file("real.csv"), link = dir.file("link.csv");
    const fs::perms readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    ASSERT_TRUE(writeFile(real, "\xFF\xFE" "o\0l\0d\0"));
    fs::permissions(real, readOnly);
    std::error_code noLink;
    fs::create_symlink(real, link, noLink);  // where the platform lets the process make one
#ifndef _WIN32
    struct stat before;
    int owned = chown(real.c_str(), 4321, 8765) == 0 && stat(real.c_str(), &before) == 0;  // where the process may
#endif
    EXPECT_EQ(writePackage((noLink ? real : link).c_str(), "new"), 1);
    EXPECT_EQ(readFile(real), std::string("\xFF\xFE" "n\0e\0w\0", 8));
    EXPECT_TRUE(noLink || fs::is_symlink(link));
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, readOnly);
#ifndef _WIN32
    struct stat after;
    EXPECT_TRUE(!owned || (stat(real.c_str(), &after) == 0 && after.st_uid == before.st_uid && after.st_gid == before.st_gid));
#endif
    fs::permissions(real, fs::perms::owner_write, fs::perm_options::add);
}

#ifndef _WIN32
/* Makes every write past the first bytes of a file fail, as on a full disk, for this process alone. */
static void fillDiskAfter(rlim_t bytes) {
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = bytes;
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
}

// the faults: a backup cut by a full disk left under a backup's number, and an empty one after it; moves started at
// once failing to make the bak folder another had just made, or taking one number
TEST_F(PackageDeathTest, BackupIsWholeOrNoneAndMovesAtOnceTakeOneNumberEach) {
    enum { MOVES = 8, WAIT_LIMIT_MS = 30000, POLL_MS = 10 };
    std::string bak = dir.file("bak"), package = dir.file("package.csv");
    ASSERT_TRUE(writeFile(package, std::string(300000, 'p')));
    EXPECT_EXIT(installRecordingHooks(); fillDiskAfter(100000); backupPackage(package.c_str(), dir.path().c_str()),
                testing::ExitedWithCode(0), messageLine("错误", "备份csv文件时出错：写入文件失败"));
    EXPECT_TRUE(std::filesystem::is_empty(bak));
    std::filesystem::remove_all(bak);
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> moves;
    for (int i = 0; i < MOVES; i++) {
        pid_t pid = fork();
        char go;
        if (pid == 0 && close(gate[1]) == 0 && read(gate[0], &go, 1) == 0)  // all go when the gate closes
            _exit(backupPackage(package.c_str(), dir.path().c_str()) == 1 ? 7 : 1);
        if (pid == 0) _exit(1);
        moves.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t pid : moves) {
        int status = 0, waited = 0;
        for (; waited < WAIT_LIMIT_MS && waitpid(pid, &status, WNOHANG) == 0; waited += POLL_MS) usleep(POLL_MS * 1000);
        if (waited >= WAIT_LIMIT_MS) kill(pid, SIGKILL), waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
    }
    for (int n = 1; n <= MOVES; n++) EXPECT_EQ(readFile(bak + "/package(" + std::to_string(n) + ").csv"), readFile(package)) << n;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(bak), {}), MOVES);
}
#endif
