/* Rewrite benchmark: a package of 5,000 items with 100,000 distinct image
 * links (about 100 MB of GBK text) has every link replaced by a local path,
 * timed against the GBK to UCS-2LE conversion of the same text that writing
 * the package back does anyway.
 *
 *   rewrite_bench [ITEMS] [LINKS_PER_ITEM] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <string>

#include "charset.h"
#include "link_rewrite.h"
#include "str_map.h"
#include "text_utils.h"

static double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/* One item's row: its description holds its links among about 20 KB of
 * text; every third link is also in its mobile details. */
static void appendItem(std::string &text, int item, int links) {
    text += "\"女装连衣裙 " + std::to_string(item) + "\"\t\"<p>";
    std::string mobile = "<wapDesc>";
    for (int i = 0; i < links; i++) {
        std::string url = "http://img" + std::to_string(item % 9) + ".shop.example/" + std::to_string(item) + "/" +
                          std::to_string(i) + ".jpg";
        text += "<p style=\"\"font-size:14px;color:#333\"\">面料柔软亲肤，透气舒适，做工精细，欢迎选购。"
                "Size chart and care notes for this item, kept with the photos of it.</p>";
        text += std::string(800, ' ') + "<img src=\"\"" + url + "\"\" />";
        if (i % 3 == 0) mobile += "<img>" + url + "</img>";
    }
    text += "</p>\"\t\"" + mobile + "</wapDesc>\"\r\n";
}

static StrMap *movedImages(int items, int links) {
    StrMap *map = strMapCreate(strMapHash, strMapKeyEquals, items * 32, 0.75f);
    for (int item = 0; item < items; item++) {
        for (int i = 0; i < links; i++) {
            std::string url = "http://img" + std::to_string(item % 9) + ".shop.example/" + std::to_string(item) + "/" +
                              std::to_string(i) + ".jpg";
            std::string path = "D:\\搬家图片\\2026-12-6-20-1-" + std::to_string(item * links + i + 1) + ".jpg";
            strMapPut(map, copyBytes(url.data(), url.size()), copyBytes(path.data(), path.size()));
        }
    }
    return map;
}

int main(int argc, char **argv) {
    int items = argc > 1 ? atoi(argv[1]) : 5000, links = argc > 2 ? atoi(argv[2]) : 20;
    std::string built = "version 1.00\r\n宝贝名称\t宝贝描述\t无线详情\r\n";
    for (int item = 0; item < items; item++) appendItem(built, item, links);
    char *text = copyBytes(built.data(), built.size());
    StrMap *map = movedImages(items, links);

    auto start = std::chrono::steady_clock::now();
    int changed = rewriteLinks(&text, map, 0, {NULL, NULL});
    double rewrite = secondsSince(start);

    size_t n = strlen(text), written = 0;
    char *converted = (char *)malloc(2 * n + 2);
    start = std::chrono::steady_clock::now();
    long result = convertCharset("gbk", "UCS-2LE", text, n, converted, 2 * n + 2, &written);
    double conversion = secondsSince(start);

    printf("package          %.1f MB of GBK text, %d items, %d distinct links%s\n", built.size() / 1e6, items,
           items * links, changed && result != -1 && !strstr(text, "http://img") ? "" : " (REWRITE INCOMPLETE)");
    printf("rewrite          %.3f s  (%.0f MB/s)\n", rewrite, built.size() / 1e6 / rewrite);
    printf("conversion       %.3f s  (gbk to UCS-2LE of the same text, as the write-back does)\n", conversion);
    printf("rewrite / conv.  %.2f  (target at most 2)\n", rewrite / conversion);
    free(converted);
    free(text);
    strMapDestroy(map, 1);
    return 0;
}
