/* lumora-move as a process, the way a seller or a script runs it: each file in tests/data/console is a case
 * (format: tests/data/MOVE-CASES.md) of arguments, package, image hosts, exit status, output and files left.
 * Run as a process (move_process.h). POSIX only. */
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include "deployment.h"
#include "move_case.h"
#include "move_process.h"
#include "platform.h"
#include "progress_figures.h"

namespace fs = std::filesystem;

// the fault: two moves into one folder at once took the same names and scratch files, so each package named some
// of the other's images or none, and the second to make bak/ failed; both must end right at any connection count
TEST(MovesAtOnce, IntoOneFolderEachPackageNamesItsOwnImages) {
    for (const char *connections : {"1", "16"}) {
        ScratchDir dir;
        std::string program = dir.file("lumora-move"), target = dir.file("target");
        fs::copy_file(LUMORA_MOVE_PATH, program);  // a program folder without bak/ yet, which both make
        fs::create_directory(target);
        MoveCase cases[] = {sideBySideCase(0), sideBySideCase(1)};
        CaseHosts hosts[] = {CaseHosts(cases[0]), CaseHosts(cases[1])};
        std::vector<pid_t> moves;
        for (int m = 0; m < 2; m++) {
            std::string package = dir.file("p" + std::to_string(m) + ".csv");
            hosts[m].writePackage(package);
            Strings args = {program, "--quiet", "--connections", connections, package, target};
            std::vector<char *> argv = pointers(args);
            int files[] = {open("/dev/null", O_RDONLY), open("/dev/null", O_WRONLY), open("/dev/null", O_WRONLY)};
            moves.push_back(startMove(program.c_str(), argv.data(), environ, files));
        }
        for (int m = 0; m < 2; m++) {
            std::string package = dir.file("p" + std::to_string(m) + ".csv"), original = dir.file("bak/p" + std::to_string(m) + "(1).csv");
            EXPECT_EQ(waitMove(moves[m], [] {}), 0) << connections;
            EXPECT_EQ(linksPutBack(loadedText(package), target, hosts[m]), loadedText(original)) << connections;
        }
        int images = 0;
        for (const fs::directory_entry &e : fs::directory_iterator(target)) images += e.path().filename().string()[0] != '~';
        EXPECT_EQ(images, (int)(cases[0].items.size() + cases[1].items.size()) * 2);  // and no scratch file
    }
}

/* One run of a case in a fresh folder. */
class ConsoleRun {
public:
    explicit ConsoleRun(const MoveCase &moveCase) : c(moveCase), hosts(c) {
        while (deep.size() + 203 <= PATH_SIZE - 8) deep += "/" + std::string(200, 'd');
        deep += "/" + std::string(PATH_SIZE - 9 - deep.size(), 'e');  // the path just fits the platform's limit
    }

    void run(const std::string &argsText) {
        fs::create_directory(target);
        for (auto &r : c.more)
            if (r.first == "mkdir") fs::create_directories(expand(r.second));
        if (has("raw")) writeFile(package, expand(record("raw")));
        else if (has("package")) writeFile(package, packageBytes(utf16(expand(record("package")))));
        else hosts.writePackage(package);
        const std::string bytes = readFile(package);
        if (has("stalereport")) writeFile(report, BOM + "stale\r\n");
        Strings args = words(expand(argsText)), stop = words(record("stop")), asked = words(record("asked")), left;
        std::replace(args.begin(), args.end(), std::string("\"\""), std::string());
        EXPECT_EQ(runMove(dir.path(), args, [&](pid_t pid) {
                      if (stop.empty()) return;
                      size_t n = (size_t)atoi(stop[1].c_str());
                      EXPECT_EQ(hosts.server("a").requests(n).size(), n);
                      kill(pid, atoi(stop[0].c_str()));
                      // a second signal once the first is told, so that the two are not taken for one
                      for (int waited = 0; stop.size() > 2 && waited < RUN_LIMIT_MS && !occurrences(readFile(dir.file("err")), converted("gbk", "utf-8", "正在停止")); waited += POLL_MS) usleep(POLL_MS * 1000);
                      if (stop.size() > 2) kill(pid, atoi(stop[2].c_str()));
                  }, has("terminal"), columns()),
                  atoi(record("status", "0").c_str()));
        std::string out = readFile(dir.file("out")), err = readFile(dir.file("err")), exactErr, rows;
        expectNarrowerThanTerminal(err);
        for (auto &r : c.more) {
            const std::string &key = r.first, want = expand(r.second), text = loadedText(package);
            if (key == "err") exactErr += want + "\n";
            if (key == "report") rows += want + "\r\n";
            EXPECT_TRUE(key != "errhas" || occurrences(err, want)) << err;
            EXPECT_TRUE(key != "out" || occurrences(out, want)) << out;
            EXPECT_TRUE(key != "hides" || !occurrences(out, want)) << want;
            EXPECT_TRUE(key != "text" || occurrences(text, converted("utf-8", "GB18030", want))) << want;
            EXPECT_TRUE(key != "lacks" || !occurrences(text, converted("utf-8", "GB18030", want))) << want;
        }
        EXPECT_EQ(err, has("errhas") ? err : exactErr);
        EXPECT_EQ(has("report") ? readFile(report) : "", has("report") ? BOM + rows : "");
        EXPECT_TRUE(!has("noreport") || !fs::exists(report)) << "a stale failure report was left";
        if (!c.hosts.empty()) hosts.server("a").requests(asked.size());  // waits for them
        EXPECT_EQ(hosts.asked(), asked);
        EXPECT_TRUE(!has("untouched") || readFile(package) == bytes);
        for (const fs::directory_entry &e : fs::directory_iterator(target))  // no image holds a "never" text
            for (auto &r : c.more) EXPECT_FALSE(r.first == "never" && occurrences(readFile(e.path().string()), r.second)) << e.path();
        EXPECT_FALSE(has("never") && occurrences(loadedText(package) + out, record("never")));
        EXPECT_TRUE(!has("restores") || restored() == bytes);
        for (const std::string &link : words(record("left"))) left.push_back(hosts.url(link));
        EXPECT_EQ(has("left") ? remoteLinks(package) : left, left);
        EXPECT_EQ(has("files") ? files(asked) : Strings(), words(record("files")));
        if (!has("again")) return;
        std::string moved = readFile(package);
        EXPECT_EQ(runMove(dir.path(), args, [](pid_t) {}), 0);  // the same move again, in the same folder
        Strings again = words(record("again"));
        asked.insert(asked.end(), again.begin(), again.end());
        if (!again.empty()) hosts.server("a").requests(asked.size());
        EXPECT_EQ(hosts.asked(), asked);
        EXPECT_EQ(remoteLinks(package), Strings());
        if (again.empty()) EXPECT_EQ(readFile(package), moved);  // nothing asked for, nothing changed
        else EXPECT_EQ(files(asked).size(), std::set<std::string>(asked.begin(), asked.end()).size());  // each whole
    }

private:
    const MoveCase &c;
    CaseHosts hosts;
    ScratchDir dir;
    std::string package = dir.file("package.csv"), target = dir.file("target"), deep = dir.path();
    std::string report = dir.file(converted("gbk", "utf-8", "package-失败清单.csv")), BOM = "\xEF\xBB\xBF";

    int columns() const { return atoi(record("terminal").c_str()); }
    /* No line drawn takes the terminal's last column, where it would wrap. */
    void expectNarrowerThanTerminal(const std::string &err) const {
        size_t widest = 0;
        for (size_t start = 0, end; start < err.size(); start = end + 1) {
            end = std::min(err.find('\r', start), err.find('\n', start));
            if (end == std::string::npos) end = err.size();
            widest = std::max(widest, converted("utf-8", "gbk", err.substr(start, end - start)).size());  // a column a byte
        }
        EXPECT_TRUE(columns() <= 0 || widest < (size_t)columns()) << widest;
    }
    bool has(const std::string &key) const {
        return std::any_of(c.more.begin(), c.more.end(), [&](const auto &r) { return r.first == key; });
    }
    std::string record(const std::string &key, const std::string &otherwise = "") const {
        for (auto &r : c.more)
            if (r.first == key) return r.second;
        return otherwise;
    }
    std::string expand(std::string text) {
        const std::string pairs[][2] = {{"\\t", "\t"}, {"\\r", "\r"}, {"\\n", "\n"}, {"{a}/", c.hosts.empty() ? "" : hosts.url("a/")},
                                        {"{PACKAGE}", package}, {"{TARGET}", target}, {"{RTARGET}", fs::relative(target).string()},
                                        {"{DEEP}", deep}, {"{LONG}", std::string(PATH_SIZE, 'x')}, {"{DIR}", dir.path()},
                                        {"{SITE}", PRODUCT_SITE}, {"\\0", std::string(1, '\0')}};
        for (auto &p : pairs) replaceEvery(text, p[0], p[1]);
        return text;
    }
    /* The package's bytes with every image path in it put back as the link whose image its file holds (as asked
     * for, its %XX decoded). */
    std::string restored() {
        std::string text = converted("utf-16le", "utf-8", readFile(package).substr(2));
        for (const fs::directory_entry &e : fs::directory_iterator(target)) {
            std::string asked = readFile(e.path().string()).substr(2), link;
            for (size_t i = 0; i < asked.size(); i++) {
                bool escaped = asked[i] == '%' && i + 2 < asked.size();
                link += escaped ? (char)std::stoi(asked.substr(i + 1, 2), nullptr, 16) : asked[i];
                if (escaped) i += 2;
            }
            replaceEvery(text, fs::canonical(e.path()).string(), hosts.url(link));
        }
        return packageBytes(utf16(text));
    }
    /* The names without their time prefix, each file checked to hold the image of a link that was asked for. */
    Strings files(const Strings &asked) const {
        Strings names;
        for (const fs::directory_entry &e : fs::directory_iterator(target)) {
            std::string name = e.path().filename().string(), image = readFile(e.path().string());
            EXPECT_TRUE(std::find(asked.begin(), asked.end(), image.substr(2)) != asked.end()) << name;
            names.push_back((name.compare(0, 2, "m-") ? "" : "m-") + name.substr(name.rfind('-') + 1));
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

class Console : public testing::TestWithParam<std::string> {};
/* The items of a "many N" record: N items of one link each, a/0.jpg on, asked for in order. */
static void addManyItems(MoveCase &c) {
    for (auto &r : c.more)
        if (r.first == "many") {
            std::string asked = " a/0.jpg";  // the host's first image is looked at twice
            for (int i = 0; i < atoi(r.second.c_str()); i++) {
                c.items.push_back({"item", {"a/" + std::to_string(i) + ".jpg"}, {}});
                asked += " a/" + std::to_string(i) + ".jpg";
            }
            c.more.push_back({"asked", asked});
            return;
        }
}

TEST_P(Console, EndsWithItsStatusOutputAndPackage) {
    MoveCase c = readCase(GetParam());
    EXPECT_EQ(c.unknown, Strings());
    addManyItems(c);
    Strings runs;
    for (auto &r : c.more)
        if (r.first == "args") runs.push_back(r.second);
    if (runs.empty()) runs.push_back("{PACKAGE} {RTARGET}");
    for (const std::string &args : runs) {
        SCOPED_TRACE(args);
        ConsoleRun(c).run(args);
    }
}
INSTANTIATE_TEST_SUITE_P(Cases, Console, testing::ValuesIn(caseFiles("console")), CaseFileName());

TEST(ProgressFigures, RateAndTimeLeft) {
    for (const Case &c : readCases("unit/rate_figures.tsv")) {
        RateFigures f = rateFigures(std::stol(c[0]), std::stol(c[1]), std::stol(c[2]), std::stod(c[3]));
        EXPECT_EQ(converted("gbk", "utf-8", f.rate + "  " + f.left), c[4]) << c[0];
    }
}
