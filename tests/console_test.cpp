/* lumora-move as a process, the way a seller or a script runs it: each file in tests/data/console is a case
 * (format: tests/data/MOVE-CASES.md) of arguments, package, image hosts, exit status, output and files left.
 * Started with fork and execve, output to files, every wait bounded. POSIX only. */
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include "deployment.h"
#include "move_case.h"
#include "platform.h"
#include "progress_figures.h"

extern char **environ;
namespace fs = std::filesystem;

enum { RUN_LIMIT_MS = 30000, POLL_MS = 10 };

static std::vector<char *> pointers(Strings &texts) {
    std::vector<char *> out;
    for (std::string &t : texts) out.push_back(&t[0]);
    out.push_back(nullptr);
    return out;
}

/* Appends what the terminal's master side holds to text. */
static void drain(int master, std::string *text) {
    char chunk[4096];
    for (ssize_t n; master >= 0 && (n = read(master, chunk, sizeof chunk)) > 0;) text->append(chunk, (size_t)n);
}

/* Runs lumora-move with the arguments and with home at dir, output to files in dir (standard error through a
 * pseudo-terminal with terminal, of that many columns when above 0), stop signals at their default; stop() may
 * signal it. The exit status, or -1 when it had to be killed. */
static int runMove(const std::string &dir, Strings args, const std::function<void(pid_t)> &stop, bool terminal = false,
                   int columns = 0) {
    args.insert(args.begin(), {LUMORA_MOVE_PATH, "--connections", "1"});
    Strings env = {"HOME=" + fs::canonical(dir).string(), "XDG_DESKTOP_DIR="};
    for (char **e = environ; *e; e++)
        if (strncmp(*e, "HOME=", 5) && strncmp(*e, "XDG_DESKTOP_DIR=", 16)) env.push_back(*e);
    std::vector<char *> argv = pointers(args), envp = pointers(env);
    int files[] = {open("/dev/null", O_RDONLY), open((dir + "/out").c_str(), O_WRONLY | O_CREAT, 0644),
                   open((dir + "/err").c_str(), O_WRONLY | O_CREAT, 0644)};
    int master = terminal ? posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK) : -1;
    int slave = master >= 0 && !grantpt(master) && !unlockpt(master) ? open(ptsname(master), O_RDWR | O_NOCTTY) : -1;
    struct winsize size = {24, (unsigned short)columns, 0, 0};
    if (slave >= 0 && columns > 0) ioctl(slave, TIOCSWINSZ, &size);
    if (slave >= 0 && dup2(slave, files[2]) >= 0) close(slave);
    std::string shown;
    sigset_t none;
    sigemptyset(&none);
    pid_t pid = fork();
    if (pid == 0) {  // only calls that are safe in the child of a process with threads
        for (int fd = 0; fd < 3; fd++) dup2(files[fd], fd);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        execve(LUMORA_MOVE_PATH, argv.data(), envp.data());
        _exit(127);
    }
    for (int fd : files) close(fd);
    stop(pid);
    int status = 0, ended = 0;
    for (int waited = 0; waited < RUN_LIMIT_MS && !(ended = waitpid(pid, &status, WNOHANG)); waited += POLL_MS) {
        drain(master, &shown);
        usleep(POLL_MS * 1000);
    }
    drain(master, &shown);
    if (master >= 0 && close(master) == 0) writeFile(dir + "/err", shown);
    if (ended == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
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
        else hosts.writePackage(package);
        const std::string bytes = readFile(package);
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
        std::string out = readFile(dir.file("out")), err = readFile(dir.file("err")), exactErr;
        expectNarrowerThanTerminal(err);
        for (auto &r : c.more) {
            const std::string &key = r.first, want = expand(r.second), text = loadedText(package);
            if (key == "err") exactErr += want + "\n";
            EXPECT_TRUE(key != "errhas" || occurrences(err, want)) << err;
            EXPECT_TRUE(key != "out" || occurrences(out, want)) << out;
            EXPECT_TRUE(key != "hides" || !occurrences(out, want)) << want;
            EXPECT_TRUE(key != "text" || occurrences(text, converted("utf-8", "gbk", want))) << want;
            EXPECT_TRUE(key != "lacks" || !occurrences(text, converted("utf-8", "gbk", want))) << want;
        }
        EXPECT_EQ(err, has("errhas") ? err : exactErr);
        if (!c.hosts.empty()) hosts.server("a").requests(asked.size());  // waits for them
        EXPECT_EQ(hosts.asked(), asked);
        EXPECT_TRUE(!has("untouched") || readFile(package) == bytes);
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
                                        {"{SITE}", PRODUCT_SITE}};
        for (auto &p : pairs) replaceEvery(text, p[0], p[1]);
        return text;
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
            std::string asked;
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
