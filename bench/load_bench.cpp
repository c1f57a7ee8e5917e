/* Load benchmark: generates a large data package and times its loading.
 *
 *   load_bench generate FILE [ITEMS]   writes a package of ITEMS items (5000)
 *   load_bench load FILE               loads it once and prints the figures
 *
 * Each item has a description of about 10 KB with 14 image links and mobile
 * details with 6, all on the marketplace's image hosts, so that a move with
 * --no-image-space skips every one of them. Loading runs in its own process
 * so that the peak resident size is the loader's alone; bench/load.sh runs
 * both steps and compares the load with iconv converting the same file. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include <chrono>
#include <string>

#include "package_builder.h"
#include "package_reader.h"

static std::u16string number(int n) {
    std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
}

/* About 19 KB of description HTML with 14 image links of every form. */
static std::u16string description(int item) {
    std::u16string host = u"http://img0" + number(item % 4 + 1) + u".taobaocdn.com/item" + number(item) + u"/";
    std::u16string html = u"<table background=\"" + host + u"bg.jpg\" width=\"750\"><tr><td>";
    for (int i = 0; i < 13; i++) {
        for (int k = 0; k < 3; k++)
            html += u"<p style=\"margin:0;padding:0;font-size:14px;color:#333333;line-height:24px\">"
                    u"本店所有商品均为实物拍摄，面料柔软亲肤，透气舒适，做工精细，尺码标准，"
                    u"欢迎新老顾客选购。洗涤说明：手洗或机洗，不可漂白，低温熨烫，平铺晾干。</p>";
        if (i % 5 == 4) html += u"<div style=\"background:url(" + host + u"d" + number(i) + u".png)\">&nbsp;</div>";
        else html += u"<p><img align=\"absmiddle\" src=\"" + host + u"p" + number(i) + u".jpg\" /></p>";
        html += u"<p><span style=\"font-family:microsoft yahei;font-size:12px\">Size chart, care notes and "
                u"shipping details for this item, kept with the photos.</span></p>";
    }
    return html + u"</td></tr></table>";
}

static std::u16string mobile(int item) {
    std::u16string details = u"<wapDesc><shortDesc>夏季新款</shortDesc>";
    for (int i = 0; i < 6; i++)
        details += u"<img size=\"750x1000\">https://img.alicdn.com/m" + number(item) + u"/" + number(i) +
                   u".jpg</img><txt>细节展示</txt>";
    return details + u"</wapDesc>";
}

static int generate(const char *path, int items) {
    std::vector<PackageRow> rows;
    for (int i = 0; i < items; i++)
        rows.push_back(itemRow(u"新款女装 连衣裙 " + number(i), description(i), mobile(i), u"卖点\t包邮"));
    return writeFile(path, packageBytes(packageText(rows))) ? 0 : 1;
}

static int load(const char *path) {
    PtrVector *items = ptrVectorCreate(256, 64);
    char *text = NULL;
    auto start = std::chrono::steady_clock::now();
    int result = loadPackage(path, items, &text, NULL);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long links = 0;
    for (int32_t i = 0; i < items->count; i++) {
        ItemRecord *item = (ItemRecord *)items->items[i];
        links += item->descLinks->count + (item->mobileLinks ? item->mobileLinks->count : 0);
    }
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("result %d items %d links %ld seconds %.3f peak_kib %ld\n", result, items->count, links, seconds,
           usage.ru_maxrss);
    itemListClear(items);
    ptrVectorDestroy(items, 0);
    free(text);
    return result == 1 ? 0 : 1;
}

int main(int argc, char **argv) {
    if (argc >= 3 && strcmp(argv[1], "generate") == 0) return generate(argv[2], argc > 3 ? atoi(argv[3]) : 5000);
    if (argc == 3 && strcmp(argv[1], "load") == 0) return load(argv[2]);
    fprintf(stderr, "usage: load_bench generate FILE [ITEMS] | load_bench load FILE\n");
    return 2;
}
