/* Fetch benchmark: downloads a list of image links one after another over
 * the pooled keep-alive connection, as the move job does.
 *
 *   fetch_bench generate DIR COUNT   writes COUNT 20 KB JPEG-like files,
 *                                    img1.jpg to imgCOUNT.jpg, into DIR
 *   fetch_bench port                 prints a free loopback port
 *   fetch_bench download LIST DIR    downloads every link of LIST (one a
 *                                    line) into DIR and prints the figures
 *   fetch_bench move LIST DIR [N]    runs the move job over a package whose
 *                                    items hold the links of LIST, 20 each,
 *                                    with DIR as the target folder and N
 *                                    connections (the job's default)
 *
 * bench/fetch.sh serves the generated files with nginx and compares the
 * download with wget fetching the same list in the same run, and the move
 * job with the bare download loop. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "app_log.h"
#include "bench_images.h"
#include "connect.h"
#include "download.h"
#include "host_failures.h"
#include "move_job.h"
#include "net.h"
#include "package_builder.h"
#include "package_reader.h"
#include "platform.h"

static int generate(const std::string &dir, int count) {
    for (int i = 1; i <= count; i++) {
        std::ofstream out(dir + "/img" + std::to_string(i) + ".jpg", std::ios::binary);
        out << benchImageBytes(i);
        if (!out) return 1;
    }
    return 0;
}

/* Asks the system for a free port on 127.0.0.1 and lets it go again, for a
 * server to be started on it right after. */
static int freePort(void) {
    int port = 0;
    SocketHandle listener = netListenLoopback(1, &port);
    if (!listener) return 1;
    netClose(listener);
    printf("%d\n", port);
    return 0;
}

static std::vector<std::string> readLinks(const char *path) {
    std::vector<std::string> links;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) links.push_back(line);
    return links;
}

static int download(const char *listPath, const std::string &dir) {
    std::vector<std::string> links = readLinks(listPath);
    initHostFailures();
    openAppLog(dir.c_str());
    int done = 0, failed = 0;
    auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < links.size(); i++) {
        char errMsg[ERR_MSG_SIZE] = {0};
        std::string path = dir + "/" + std::to_string(i + 1) + ".jpg";
        DownloadContext context = processContext();
        DownloadReport report = {};
        if (downloadImage(&context, links[i].c_str(), path.c_str(), errMsg, &report) == 1) done++;
        else if (failed++ == 0) fprintf(stderr, "first failure: %s: %s\n", links[i].c_str(), errMsg);
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("links %zu done %d seconds %.4f\n", links.size(), done, seconds);
    return done == (int)links.size() ? 0 : 1;
}

enum { LINKS_PER_ITEM = 20 };

/* A package whose items show the links in their descriptions. */
static std::string packageOf(const std::vector<std::string> &links) {
    std::vector<PackageRow> rows;
    for (size_t first = 0; first < links.size(); first += LINKS_PER_ITEM) {
        std::u16string html;
        for (size_t i = first; i < links.size() && i < first + LINKS_PER_ITEM; i++)
            html += u"<p><img src=\"" + std::u16string(links[i].begin(), links[i].end()) + u"\" /></p>";
        rows.push_back(itemRow(u"宝贝 " + std::u16string(1, (char16_t)(u'A' + first % 26)), html));
    }
    return packageBytes(packageText(rows));
}

static void quietPosition(void *, int) {}
static void quietItem(void *, int, const ItemRecord *, int) {}
static void quietText(void *, const char *) {}
static void quietMessage(void *, const char *, const char *, MessageIcon) {}
static void quietEnd(void *) {}

/* Runs the whole move job and prints the same figures as download. */
static int move(const char *listPath, const std::string &dir, int connections) {
    std::vector<std::string> links = readLinks(listPath);
    std::string package = dir + "/package.csv", images = dir + "/images";
    if (!writeFile(package, packageOf(links)) || !makeFolder(images.c_str())) return 1;
    initHostFailures();
    openAppLog(dir.c_str());
    static const MoveView view = {NULL, quietPosition, quietItem, quietText, quietPosition, quietMessage, quietEnd};
    MoveJob job = {};
    job.items = ptrVectorCreate(256, 64);
    snprintf(job.packagePath, sizeof job.packagePath, "%s", package.c_str());
    snprintf(job.targetFolder, sizeof job.targetFolder, "%s", images.c_str());
    snprintf(job.programDir, sizeof job.programDir, "%s", dir.c_str());
    job.options = {1, 1, 0};
    job.view = &view;
    job.connections = connections;
    if (loadPackage(package.c_str(), job.items, &job.packageText, NULL) != 1) return 1;
    auto start = std::chrono::steady_clock::now();  // the job's own time, as from "开始搬家"
    if (runMoveJob(&job) != MOVE_FINISHED) return 1;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int done = 0;
    for (int32_t i = 0; i < job.items->count; i++) {
        ItemRecord *item = (ItemRecord *)job.items->items[i];
        done += item->descLinks->count - (item->pcFailures ? item->pcFailures->count : 0);
    }
    printf("links %zu done %d seconds %.4f\n", links.size(), done, seconds);
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 4 && strcmp(argv[1], "generate") == 0) return generate(argv[2], atoi(argv[3]));
    if (argc == 2 && strcmp(argv[1], "port") == 0) return freePort();
    if (argc == 4 && strcmp(argv[1], "download") == 0) return download(argv[2], argv[3]);
    if ((argc == 4 || argc == 5) && strcmp(argv[1], "move") == 0) return move(argv[2], argv[3], argc == 5 ? atoi(argv[4]) : 0);
    fprintf(stderr, "usage: fetch_bench generate DIR COUNT | port | download LIST DIR | move LIST DIR [CONNECTIONS]\n");
    return 2;
}
