/* The move job with several connections against the same move made one image at a time, with the same answers per
 * link: everything a seller can see must match (files, package, failure lists, view calls, log). Cases are files in
 * tests/data/parallel plus generated ones of 2,000 links. */
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>

#include "download_pool.h"
#include "host_backoff.h"
#include "http_exchange.h"
#include "local_naming.h"
#include "move_case.h"

namespace fs = std::filesystem;

#ifdef _WIN32
enum { STRESS_SEEDS = 1 };  // under Wine, where each run of the stress case takes half a minute
#else
enum { STRESS_SEEDS = 2 };
#endif

/* Some links shared with earlier items or in the mobile details; failures,
 * redirects and delays drawn from the seed. */
static MoveCase stressCase(unsigned seed) {
    enum { HOSTS = 20, LINKS = 2000, PER_ITEM = 20 };
    std::mt19937 random(seed);
    MoveCase c;
    for (int h = 0; h < HOSTS; h++) c.hosts.push_back("h" + std::to_string(h));
    static const char *const KINDS[] = {"404", "html", "die", "chunked", "png"};
    Strings seen;
    for (int i = 0; i < LINKS; i++) {
        std::string link = c.hosts[random() % HOSTS] + "/" + std::to_string(i) + ".jpg";
        unsigned roll = random() % 100;
        if (roll < 10) c.replies[link] = KINDS[roll % 5];
        if (roll >= 10 && roll < 13) c.replies[link] = "redirect " + c.hosts[random() % HOSTS] + "/t" + link;
        if (random() % 4 == 0) c.delays[link] = (int)(random() % 4);
        if (i % PER_ITEM == 0) c.items.push_back({});
        c.items.back().desc.push_back(link);
        if (!seen.empty() && random() % 8 == 0) c.items.back().desc.push_back(seen[random() % seen.size()]);
        if (!seen.empty() && random() % 8 == 0) c.items.back().mobile.push_back(seen[random() % seen.size()]);
        seen.push_back(link);
    }
    return c;
}

class ParallelMove : public testing::Test {
protected:
    LoadedPackage moved;  // the items of the last job

    void SetUp() override {
        initHostFailures();
        setNetTimeouts(1000, 2000);
        abortRequested = 0;
    }
    void TearDown() override {
        setNetTimeouts(NET_TIMEOUT_MS, NET_TIMEOUT_MS);
        setTransferLimits(LOW_SPEED_WINDOW_MS, IMAGE_DEADLINE_MS);
        setBackoffUnit(BACKOFF_UNIT_MS);
        abortRequested = 0;
    }
    /* What a move left (files, package, failures, view calls, log), the job's folder and start time taken out;
     * *skipped counts downloads refused because their host had failed five times. */
    Strings move(const CaseHosts &hosts, const MoveCase &c, int connections, int *skipped) {
        ScratchDir dir;
        hosts.writeJob(dir);
        Recorder recorder;
        imageCounter = 1;
        resetConnFailCounts();
        long finishedBefore = downloadsFinished();
        EXPECT_EQ(runJob(dir, c.options, connections, recorder, moved.items), MOVE_FINISHED);
        Strings files, log, o;
        std::string folder = dir.file("images"), prefix;
        for (auto &file : fs::directory_iterator(folder)) {
            std::string name = file.path().filename().string(), plain = name.substr(name.compare(0, 2, "m-") ? 0 : 2);
            prefix = plain.substr(0, plain.rfind('-') + 1);
            files.push_back(name + "=" + readFile(file.path().string()));
        }
        std::sort(files.begin(), files.end());
        std::istringstream in(readFile(dir.file("app.log")));
        for (std::string line; std::getline(in, line);) {
            int stamped = line.size() > 9 && line[2] == ':' && line[5] == ':' && line[8] == ' ';
            if (stamped && line.find(" --- new socket()") != std::string::npos) continue;  // kept connections differ
            if (stamped) log.push_back(line.substr(9));
            else if (!log.empty()) log.back() += "\n" + line;
        }
        *skipped += occurrences(readFile(dir.file("app.log")), "连接失败已连续发生5次+");
        std::sort(log.begin(), log.end());  // the lines of concurrent downloads interleave
        std::set<std::string> failed;
        for (int32_t i = 0; i < moved.items->count; i++) {
            const ItemRecord *item = moved.item(i);
            o.push_back("item " + std::to_string(item->status));
            for (const PtrVector *list : {item->pcFailures, item->mobileFailures})
                for (int32_t k = 0; list && k < list->count; k++) {
                    o.back() += " " + std::string((const char *)list->items[k]);
                    failed.insert((const char *)list->items[k]);
                }
        }
        // every distinct link downloaded counts once as finished, ahead of the walk or not
        EXPECT_EQ(downloadsFinished() - finishedBefore, (long)(files.size() + failed.size()));
        o.insert(o.end(), files.begin(), files.end());
        std::set<std::string> shared;  // in any order
        for (auto &link : recorder.shared) shared.insert("shared " + link.first + " " + std::to_string(link.second));
        o.insert(o.end(), shared.begin(), shared.end());
        o.insert(o.end(), recorder.events.begin(), recorder.events.end());
        o.insert(o.end(), log.begin(), log.end());
        o.push_back(loadedText(dir.file("package.csv")));
        for (std::string &line : o) {
            replaceEvery(line, folder, "<images>");
            replaceEvery(line, prefix, "T-");
        }
        EXPECT_FALSE(files.empty() || o.back().empty());
        return o;
    }
    /* connections unless the case says how many (a "connections" record). */
    void expectSameAsOneAtATime(const MoveCase &c, int connections) {
        CaseHosts hosts(c);
        int skipped = 0, skippedOne = 0;
        for (auto &r : c.more) {
            if (r.first == "timeouts") setNetTimeouts(atoi(r.second.c_str()), atoi(words(r.second)[1].c_str()));
            if (r.first == "limits") setTransferLimits(atoi(r.second.c_str()), atoi(words(r.second)[1].c_str()));
            if (r.first == "backoff") setBackoffUnit(atoi(r.second.c_str()));
            if (r.first == "connections") connections = atoi(r.second.c_str());
        }
        Strings one = move(hosts, c, 1, &skippedOne);
        std::map<std::string, size_t> asked;  // requests of the move made one image at a time, by host
        for (auto &r : c.more)
            if (r.first == "asks") {
                asked[words(r.second)[0]] = hosts.server(words(r.second)[0]).requests().size();
                EXPECT_EQ(asked[words(r.second)[0]], (size_t)atoi(words(r.second)[1].c_str())) << r.second;
            }
        EXPECT_EQ(move(hosts, c, connections, &skipped), one);
        for (auto &host : asked)  // fetching ahead costs a host about a tenth more requests at most
            EXPECT_LE(hosts.server(host.first).requests().size() - host.second, host.second + host.second / 10 + 1) << host.first;
        EXPECT_TRUE(c.refused.empty() || skipped > 0);  // with several downloads to it in flight
        for (auto &r : c.more)
            if (r.first == "most") {
                EXPECT_LE(hosts.server(words(r.second)[0]).mostAtOnce(), atoi(words(r.second)[1].c_str()));
            }
        for (auto &r : c.more)  // no image holds it
            for (const std::string &line : r.first == "never" ? one : Strings()) EXPECT_EQ(line.find(r.second), std::string::npos);
        Strings shared, listed;
        for (auto &r : c.more)  // the links kept and listed for the seller to check
            for (const std::string &link : r.first == "shared" ? words(r.second) : Strings()) shared.push_back("shared " + hosts.url(link));
        for (const std::string &line : one)
            if (line.rfind("shared ", 0) == 0) listed.push_back(line.substr(0, line.rfind(' ')));
        std::sort(shared.begin(), shared.end());
        EXPECT_EQ(listed, shared);
        for (auto &r : c.more)  // listed as failed by no item
            for (const std::string &link : r.first == "moves" ? words(r.second) : Strings())
                for (const std::string &line : one)
                    EXPECT_FALSE(line.rfind("item ", 0) == 0 && (line + " ").find(" " + hosts.url(link) + " ") != std::string::npos) << link;
    }
};

/* n links on host a, perItem to an item, in descriptions or mobile details, each answered after delayMs. */
static MoveCase oneHost(int n, int perItem, bool mobile, int delayMs) {
    MoveCase c;
    c.hosts = {"a"};
    for (int i = 0; i < n; i++) {
        std::string link = "a/" + std::to_string(i) + ".jpg";
        if (i % perItem == 0) c.items.push_back({});
        (mobile ? c.items.back().mobile : c.items.back().desc).push_back(link);
        if (delayMs) c.delays[link] = delayMs;
    }
    return c;
}

class ParallelCase : public ParallelMove, public testing::WithParamInterface<std::string> {};
TEST_P(ParallelCase, EndsAsWhenMovedOneImageAtATime) {
    MoveCase c = readCase(GetParam());
    EXPECT_EQ(c.unknown, Strings());
    expectSameAsOneAtATime(c, 16);
}
INSTANTIATE_TEST_SUITE_P(ParallelMove, ParallelCase, testing::ValuesIn(caseFiles("parallel")),
                         CaseFileName());

TEST_F(ParallelMove, ThousandsOfLinksOverManyHostsEndAsOneAtATime) {
    for (unsigned seed = 1; seed <= STRESS_SEEDS; seed++) {
        SCOPED_TRACE(seed);
        expectSameAsOneAtATime(stressCase(seed), seed == 2 ? MOVE_CONNECTIONS_MAX : 0);
    }
}

/* The resuming job is stopped too, by a close confirmed just before its
 * final message: it shows none, and no job is left for the close to stop.
 * The host hands out a placeholder without the Referer. */
TEST_F(ParallelMove, AnAbortWithDownloadsInFlightThenTheResumeMoveTheWholePackage) {
    MoveCase c = oneHost(200, 10, false, 5);
    c.more.push_back({"guard", "a placeholder"});  // what arrived ahead of the walk is kept only once known real
    CaseHosts hosts(c);
    ScratchDir dir;
    hosts.writeJob(dir);
    Recorder recorder;
    recorder.abortAfterItem = 2;
    ASSERT_EQ(runJob(dir, c.options, 8, recorder, moved.items), MOVE_ABORTED);
    size_t left = remoteLinks(dir.file("package.csv")).size();
    EXPECT_GT(left, 0u);
    EXPECT_LE(left, 170u);  // three items were finished; downloads ahead of them are written back too
    abortRequested = 0;
    recorder.abortAfterItem = -1;
    recorder.abortAtLastLabel = true;
    ASSERT_EQ(runJob(dir, c.options, 8, recorder, moved.items), MOVE_ABORTED);
    EXPECT_EQ(recorder.events.back(), "label 搬家进度(宝贝数:20, 已搬家宝贝数:20)");
    EXPECT_EQ(requestAbort(), 0);
    EXPECT_TRUE(remoteLinks(dir.file("package.csv")).empty());
    // every link fetched once over both jobs, and each job's first asked again with the Referer, at most four at a
    // time over kept connections
    EXPECT_EQ(hosts.server("a").requests(202).size(), 202u);
    EXPECT_LE(hosts.server("a").connections(), 2 * CONNECTIONS_PER_HOST);
    // each file holds the image of the link it replaced
    std::string text = loadedText(dir.file("package.csv")), folder = dir.file("images");
    int i = 0;
    for (size_t at = text.find(folder); at != std::string::npos; at = text.find(folder, at + 1), i++)
        EXPECT_EQ(readFile(text.substr(at, text.find('"', at) - at)), "\xFF\xD8" "a/" + std::to_string(i) + ".jpg");
    EXPECT_EQ(i, 200);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 200);  // no name claimed ahead of the stop is left
}

TEST_F(ParallelMove, AFileThatCannotBeCreatedStopsNewDownloadsAtOnce) {
    MoveCase c = oneHost(40, 40, true, 0);
    CaseHosts hosts(c);
    ScratchDir dir;
    hosts.writePackage(dir.file("package.csv"));
    Recorder recorder;
    ASSERT_EQ(runJob(dir, c.options, 8, recorder, moved.items), MOVE_ABORTED);
    ASSERT_GE(recorder.events.size(), 2u);
    EXPECT_EQ(recorder.events[1], "message 错误 图片搬家失败：无法创建新文件。");
    EXPECT_LE(hosts.server("a").requests().size(), (size_t)CONNECTIONS_PER_HOST);
    EXPECT_EQ(remoteLinks(dir.file("package.csv")).size(), 40u);
}
