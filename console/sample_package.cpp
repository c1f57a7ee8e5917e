/* lumora-sample: the demo's sample, a small shop whose package is moved by
 * scripts/run.sh.
 *
 *   lumora-sample port              prints a free loopback port
 *   lumora-sample write DIR BASE    writes DIR/package.csv and the images it
 *                                   links to under DIR/images (making DIR
 *                                   when needed), the links
 *                                   pointing at BASE (http://127.0.0.1:PORT)
 *
 * Twelve items with about forty image links between them, in every form
 * the descriptions use: a banner and a notice shared by many items, mobile
 * details on three, one link that nothing answers (a 404) and one whose
 * path holds the marketplace's image host marker, so that it counts as the
 * image space. The images are a JPEG or PNG signature followed by a few
 * kilobytes that differ from file to file: enough for the job's check. */
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "net.h"
#include "package_builder.h"

enum { ITEM_COUNT = 12, MISSING_ITEM = 5, MARKET_ITEM = 7 };

static const char16_t *const TITLES[ITEM_COUNT] = {
    u"夏季新款纯棉短袖T恤 男女同款", u"真皮男士钱包 短款横版",        u"不锈钢保温杯 500ml 大容量",
    u"儿童卡通雨伞 自动开合",        u"北欧风陶瓷餐具套装 16件",      u"运动速干毛巾 \"加长款\"",
    u"手工编织草帽 遮阳防晒",        u"无线蓝牙耳机 降噪长续航",      u"实木桌面收纳盒 三层",
    u"加厚珊瑚绒毛毯 冬季",          u"便携折叠小风扇 USB充电",       u"宠物猫抓板 瓦楞纸",
};

/* The path part of every image link, with the file served for it. */
struct SampleImage {
    std::string path;
    bool served;
};

static std::u16string widen(const std::string &ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

static std::string number(int n) {
    return std::to_string(n);
}

/* A few kilobytes behind the signature that the link's extension asks for. */
static std::string imageBytes(const std::string &path) {
    bool png = path.size() > 4 && path.compare(path.size() - 4, 4, ".png") == 0;
    std::string bytes = png ? std::string("\x89PNG\r\n\x1A\n", 8) : std::string("\xFF\xD8\xFF\xE0", 4);
    uint32_t state = 2166136261u;
    for (char c : path) state = (state ^ (unsigned char)c) * 16777619u;
    bytes.resize(2048 + state % 6144);
    for (size_t i = png ? 8 : 4; i < bytes.size(); i++) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = (char)(state >> 24);
    }
    return bytes;
}

/* Collects the links of one item and the images behind them. */
struct LinkMaker {
    std::u16string base;
    std::vector<SampleImage> *images;
    std::u16string operator()(const std::string &path, bool served = true) {
        images->push_back({path, served});
        return base + u"/" + widen(path);
    }
};

static std::u16string description(int item, LinkMaker &link) {
    std::string own = "shop/item" + number(item + 1) + "-";
    std::u16string html = u"<p><img src=\"" + link("shop/banner.jpg") + u"\" /></p>"
                          u"<p style=\"font-size:14px\">本店商品均为实物拍摄，欢迎选购。</p>"
                          u"<p><img align=\"absmiddle\" src=\"" + link(own + "1.jpg") + u"\"></p>"
                          u"<div style=\"background:url(" + link(own + "2.jpg") + u")\">&nbsp;</div>";
    if (item % 3 == 0)
        html += u"<table background='" + link("shop/notice.png") + u"'><tr><td>发货须知</td></tr></table>";
    if (item == MISSING_ITEM) html += u"<p><img src=" + link("shop/missing.jpg", false) + u" ></p>";
    if (item == MARKET_ITEM) html += u"<p><img src=\"" + link("img.alicdn.com/imgextra/i1/market.jpg") + u"\"></p>";
    return html;
}

/* Mobile details for every fourth item, none for the others. */
static std::u16string mobile(int item, LinkMaker &link) {
    if (item % 4) return u"";
    std::string own = "wap/item" + number(item + 1) + "-";
    return u"<wapDesc><img size=\"750x1000\">" + link(own + "1.jpg") + u"</img><txt>细节展示</txt><img>" +
           link(own + "2.jpg") + u"</img></wapDesc>";
}

static int writeImages(const std::string &dir, const std::vector<SampleImage> &images) {
    for (const SampleImage &image : images) {
        if (!image.served) continue;
        std::filesystem::path file = std::filesystem::path(dir) / "images" / image.path;
        std::error_code error;
        std::filesystem::create_directories(file.parent_path(), error);
        if (!writeFile(file.string(), imageBytes(image.path))) return 0;
    }
    return 1;
}

static int writeSample(const std::string &dir, const std::string &base) {
    std::vector<SampleImage> images;
    LinkMaker link{widen(base), &images};
    std::vector<PackageRow> rows;
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    for (int item = 0; item < ITEM_COUNT; item++)
        rows.push_back(itemRow(TITLES[item], description(item, link), mobile(item, link)));
    if (!writeFile(dir + "/package.csv", packageBytes(packageText(rows))) || !writeImages(dir, images)) {
        fprintf(stderr, "cannot write the sample into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}

/* Asks the system for a free port on 127.0.0.1 and lets it go again, for the
 * demo's server to be started on it right after. */
static int freePort(void) {
    uint16_t version;
    int port = 0;
    netStartup(&version);
    SocketHandle listener = netListenLoopback(1, &port);
    if (!listener) return 1;
    netClose(listener);
    printf("%d\n", port);
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 2 && strcmp(argv[1], "port") == 0) return freePort();
    if (argc == 4 && strcmp(argv[1], "write") == 0) return writeSample(argv[2], argv[3]);
    fprintf(stderr, "usage: lumora-sample port | lumora-sample write DIR BASE_URL\n");
    return 2;
}
