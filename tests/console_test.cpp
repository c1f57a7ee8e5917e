/* lumora-move as a process, the way a seller or a script runs it: the exit
 * status of every way it ends, the messages it prints (the window's texts in
 * UTF-8), the options reaching the job, and what a move leaves behind.
 * Started with posix_spawn, output to files, every wait bounded; images come
 * from the scripted server on 127.0.0.1. POSIX only. */
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app_log.h"
#include "charset.h"
#include "deployment.h"
#include "move_checks.h"
#include "package_builder.h"
#include "platform.h"
#include "test_server.h"
#include "test_support.h"

extern char **environ;

namespace fs = std::filesystem;

typedef std::vector<std::string> Strings;

enum { RUN_LIMIT_MS = 30000, POLL_MS = 10, SLOW_REPLY_PAUSE_MS = 1500 };

static const std::string JPEG = std::string("\xFF\xD8\xFF\xE0", 4) + "jpeg body";
static const std::string IMAGE = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(JPEG.size()) + "\r\n\r\n" + JPEG;
static const std::string NOT_FOUND = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
static const char DONE[] = "图片搬家已完成，数据包(package.csv)已更新。";

/* A program text (GBK, as this file's literals are) as printed on Linux. */
static std::string utf8(const std::string &gbk) {
    std::string out(gbk.size() * 3 + 1, '\0');
    size_t written = 0;
    EXPECT_GE(convertCharset("gbk", "utf-8", gbk.data(), gbk.size(), &out[0], out.size(), &written), 0);
    out.resize(written);
    return out;
}

static bool contains(const std::string &text, const std::string &piece) {
    return text.find(piece) != std::string::npos;
}

static std::vector<char *> pointers(Strings &texts) {
    std::vector<char *> out;
    for (std::string &t : texts) out.push_back(&t[0]);
    out.push_back(nullptr);
    return out;
}

/* This process's environment with the NAME=value settings replacing theirs. */
static Strings environment(const Strings &settings) {
    Strings out = settings;
    for (char **e = environ; *e; e++) {
        bool replaced = false;
        for (const std::string &s : settings) replaced = replaced || strncmp(*e, s.c_str(), s.find('=') + 1) == 0;
        if (!replaced) out.push_back(*e);
    }
    return out;
}

/* lumora-move running with the arguments, output to files in the folder,
 * every signal at its default; killed if still running at the end. */
class MoveProcess {
public:
    MoveProcess(const ScratchDir &dir, Strings args, const Strings &settings = {})
        : outPath(dir.file("stdout.txt")), errPath(dir.file("stderr.txt")) {
        args.insert(args.begin(), {LUMORA_MOVE_PATH, "--connections", "1"});  // as the scripted connections expect
        Strings env = environment(settings);
        std::vector<char *> argv = pointers(args), envp = pointers(env);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        if (posix_spawn(&pid, LUMORA_MOVE_PATH, &files, &attributes, argv.data(), envp.data()) != 0) pid = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&files);
    }
    ~MoveProcess() {
        if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    }
    MoveProcess(const MoveProcess &) = delete;
    MoveProcess &operator=(const MoveProcess &) = delete;

    /* The exit status, or -1 when the program did not end in time. */
    int wait() {
        for (int waited = 0; pid > 0 && waited < RUN_LIMIT_MS; waited += POLL_MS) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(POLL_MS * 1000);
        }
        return -1;
    }
    void signal(int number) { kill(pid, number); }
    std::string out() const { return readFile(outPath); }
    std::string err() const { return readFile(errPath); }

private:
    pid_t pid = -1;
    std::string outPath, errPath;
};

/* The package loaded back: each item's links still to be moved, description
 * then mobile, and its text; the load's result. */
static int loadBack(const std::string &path, std::vector<Strings> *links, std::string *text) {
    PtrVector *items = ptrVectorCreateDefault();
    char *loaded = nullptr;
    int result = loadPackage(path.c_str(), items, &loaded);
    for (int32_t i = 0; i < items->count; i++) {
        const ItemRecord *item = (const ItemRecord *)items->items[i];
        links->emplace_back();
        for (const PtrVector *list : {item->descLinks, item->mobileLinks})
            for (int32_t k = 0; list && k < list->count; k++) links->back().push_back((const char *)list->items[k]);
    }
    *text = loaded ? loaded : "";
    free(loaded);
    itemListClear(items);
    ptrVectorDestroy(items, 0);
    return result;
}

struct Outcome {
    int status;
    std::string out, err;
};

class ConsoleMove : public testing::Test {
protected:
    ScratchDir dir;
    TestServer server;
    std::string package = dir.file("package.csv");
    std::string target = dir.file("target");

    void SetUp() override {
        openAppLog(dir.path().c_str());
        fs::create_directory(target);
    }
    std::string url(const std::string &path) const {
        return "http://127.0.0.1:" + std::to_string(server.port()) + path;
    }
    std::u16string link(const std::string &path) const {
        std::string ascii = url(path);
        return std::u16string(ascii.begin(), ascii.end());
    }
    std::u16string img(const std::string &path) const { return u"<img src=\"" + link(path) + u"\">"; }
    std::u16string mobile(const std::string &path) const { return u"<wapDesc><img>" + link(path) + u"</img></wapDesc>"; }
    void writePackage(const std::vector<PackageRow> &rows) {
        ASSERT_TRUE(writeFile(package, packageBytes(packageText(rows))));
    }
    Outcome run(const Strings &args, const Strings &settings = {}) {
        MoveProcess move(dir, args, settings);
        int status = move.wait();
        return {status, move.out(), move.err()};
    }
    /* The images in the target folder, each checked to be the JPEG served. */
    size_t imagesMoved() const {
        size_t n = 0;
        for (const fs::directory_entry &e : fs::directory_iterator(target)) {
            EXPECT_EQ(readFile(e.path().string()), JPEG) << e.path();
            n++;
        }
        return n;
    }
    Strings urls(const Strings &paths) const {
        Strings out;
        for (const std::string &p : paths) out.push_back(url(p));
        return out;
    }
};

// ---- refusals: the status, the window's message, nothing touched ----

TEST_F(ConsoleMove, BadCommandLinesEndWithOneAndTheUsage) {
    writePackage({itemRow(u"a", u"")});
    for (const Strings &args : {Strings{}, Strings{package}, Strings{package, target, target},
                                Strings{"--blank", package, target}, Strings{"-q", package, target},
                                Strings{"--connections", "0", package, target},
                                Strings{"--connections", "65", package, target}, Strings{package, target, "--connections"}}) {
        Outcome o = run(args);
        EXPECT_EQ(o.status, 1) << args.size();
        EXPECT_TRUE(contains(o.err, utf8("用法：lumora-move"))) << o.err;
        EXPECT_EQ(o.out, "");
    }
    Outcome help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(contains(help.out, utf8("--blank-failed     将搬家失败的图片替换为空白图片")));
}

TEST_F(ConsoleMove, PackagesThatLoadingRefusesEndWithTwo) {
    struct Case {
        std::string bytes;
        int loadResult;
    } cases[] = {{"title\tdescription\r\nplain single-byte text\r\n", 0},
                 {packageBytes(packageText({itemRow(std::u16string(128, u'长'), img("/a.jpg"))})), LOAD_TITLE_TOO_LONG}};
    // the console prints the conversion guide's address where the window asks whether to open it
    const std::string question = "\n\n\n是否需要进入官网查看详细操作指南？";
    const std::string guide = std::string("\n\n详细操作指南：") + PRODUCT_SITE + "convert.html";
    for (const Case &c : cases) {
        ASSERT_TRUE(writeFile(package, c.bytes));
        Outcome o = run({package, target});
        EXPECT_EQ(o.status, 2);
        std::string message = loadFailureMessage(c.loadResult, package.c_str());
        size_t asked = message.find(question);
        EXPECT_EQ(asked == std::string::npos, c.loadResult == LOAD_TITLE_TOO_LONG);
        if (asked != std::string::npos) message.replace(asked, question.size(), guide);
        EXPECT_EQ(o.err, utf8(message + "\n"));
        EXPECT_EQ(readFile(package), c.bytes);
    }
    EXPECT_EQ(server.connections(), 0);
}

TEST_F(ConsoleMove, MissingPackageOrRefusedChoicesEndWithOneBeforeAnyDownload) {
    writePackage({itemRow(u"a", img("/a.jpg"))});
    const std::string bytes = readFile(package), missing = dir.file("none.csv");
    const std::string home = fs::canonical(dir.path()).string(), desktop = home + "/Desktop";
    const std::string korean = dir.file(u8"한국");
    fs::create_directory(desktop);
    fs::create_directory(korean);
    MoveOptions defaults = {1, 1, 0};
    struct Case {
        Strings args;
        std::string message;
    } cases[] = {
        {{missing, target}, packagePathProblem(missing.c_str())},
        {{"", target}, packagePathProblem("")},
        {{"--no-image-space", "--no-other-albums", package, target},
         "--no-image-space 与 --no-other-albums 不能同时使用，至少需搬其中一种来源的图片"},
        {{package, dir.file("missing")}, moveChoicesProblem(defaults, dir.file("missing").c_str(), "")},
        {{package, ""}, moveChoicesProblem(defaults, "", "")},
        // no GBK text names it, so no package could name its images
        {{package, korean}, moveChoicesProblem(defaults, korean.c_str(), "")},
        // the folder is compared with the desktop once made absolute
        {{package, dir.file("target/../Desktop/")}, moveChoicesProblem(defaults, desktop.c_str(), desktop.c_str())},
    };
    for (const Case &c : cases) {
        Outcome o = run(c.args, {"HOME=" + home, "XDG_DESKTOP_DIR="});
        EXPECT_EQ(o.status, 1) << c.args.back();
        EXPECT_EQ(o.err, utf8(c.message + "\n"));
        EXPECT_EQ(readFile(package), bytes);
    }
    EXPECT_EQ(server.connections(), 0);
}

// ---- moves that run to their final message: status 0, or 4 with failures ----

/* Each case: the flags, the package, the scripted connections, then the
 * status, the progress lines, what the final message says and must not say,
 * the requests made and the links each item has left to move. */
TEST_F(ConsoleMove, MovesReportAndWriteBackWhatTheyMoved) {
    const std::string heading = "图片搬家失败列表，可复制下列图片地址到浏览器中查看图片能否正常显示：\n";
    const std::string done = std::string(DONE) + "\n";
    // a 404 on the kept connection is asked again on a fresh one, then fails
    const std::vector<Reply> okThenGone = {reply(IMAGE), reply(NOT_FOUND)}, goneAgain = {reply(NOT_FOUND, true)};
    const std::u16string twoSources = img("/img.alicdn.com/i1/space.jpg") + img("/album/other.jpg");
    const std::u16string quoted = u"说\"好\"的";  // the quotes go in doubled
    struct Case {
        Strings flags;
        std::vector<PackageRow> rows;
        std::vector<std::vector<Reply>> connections;
        int status;
        size_t images;
        int localPaths;
        std::string err;
        Strings shown, notShown, asked;
        std::vector<Strings> left;
    } cases[] = {
        {{},
         {itemRow(u"第一件", img("/a.jpg") + img("/shared.jpg"), mobile("/m.jpg")),
          itemRow(u"第二件", img("/shared.jpg") + u"<p style=\"background:url(" + link("/b.png") + u")\"></p>")},
         {{reply(IMAGE), reply(IMAGE), reply(IMAGE), reply(IMAGE)}}, 0, 4, 5,
         "宝贝 1/2  已搬图片 3  失败 0  第一件\n宝贝 2/2  已搬图片 4  失败 0  第二件\n", {done}, {"注意"},
         {"GET /a.jpg", "GET /shared.jpg", "GET /m.jpg", "GET /b.png"}, {{}, {}}},
        {{"--quiet"}, {itemRow(u"无图", u"<p>纯文字描述</p>")}, {}, 0, 0, 0, "", {"没有找到需要搬家的图片。\n"}, {}, {}, {{}}},
        {{},
         {itemRow(u"好的", img("/ok.jpg")), itemRow(u"坏的", img("/gone.jpg"), mobile("/gone-m.jpg"))},
         {okThenGone, goneAgain, {reply(NOT_FOUND)}, goneAgain}, 4, 1, 1,
         "宝贝 1/2  已搬图片 1  失败 0  好的\n宝贝 2/2  已搬图片 1  失败 2  坏的\n",
         {done + "\n注意：有部分图片搬家失败！",
          "\n2. 坏的\n[宝贝描述]" + heading + url("/gone.jpg") + "\n\n[无线详情]" + heading + url("/gone-m.jpg") + "\n"},
         {"1. 好的"}, {"GET /ok.jpg", "GET /gone.jpg", "GET /gone.jpg", "GET /gone-m.jpg", "GET /gone-m.jpg"},
         {{}, {"/gone.jpg", "/gone-m.jpg"}}},
        // the console's words in place of the window's check boxes and item list
        {{}, {itemRow(quoted, img("/ok.jpg") + img("/gone.jpg"))}, {okThenGone, goneAgain}, 4, 1, 1,
         "宝贝 1/1  已搬图片 1  失败 1  说\"好\"的\n",
         {"复制下面列出的搬家失败的图片地址", "注意：搬家时加上 --blank-failed 选项。", "\n1. 说\"好\"的\n"},
         {"打上钩", "在宝贝列表中", "\"\""}, {"GET /ok.jpg", "GET /gone.jpg", "GET /gone.jpg"}, {{"/gone.jpg"}}},
        {{"--blank-failed"}, {itemRow(quoted, img("/ok.jpg") + img("/gone.jpg"))}, {okThenGone, goneAgain}, 4, 1, 1,
         "宝贝 1/1  已搬图片 1  失败 1  说\"好\"的\n", {done + "\n1. 说\"好\"的\n"}, {"注意"},
         {"GET /ok.jpg", "GET /gone.jpg", "GET /gone.jpg"}, {{}}},
        // the mobile link goes with the image space, whatever its host
        {{"--no-other-albums"}, {itemRow(u"两种相册", twoSources, mobile("/album/wap.jpg"))}, {{reply(IMAGE), reply(IMAGE)}}, 0, 2, 2,
         "宝贝 1/1  已搬图片 2  失败 0  两种相册\n", {done}, {}, {"GET /img.alicdn.com/i1/space.jpg", "GET /album/wap.jpg"},
         {{"/album/other.jpg"}}},
        {{"--no-image-space"}, {itemRow(u"两种相册", twoSources, mobile("/album/wap.jpg"))}, {{reply(IMAGE)}}, 0, 1, 1,
         "宝贝 1/1  已搬图片 1  失败 0  两种相册\n", {done}, {}, {"GET /album/other.jpg"},
         {{"/img.alicdn.com/i1/space.jpg", "/album/wap.jpg"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.asked.size() ? c.asked[0] : "no request");
        fs::remove_all(target);
        fs::create_directory(target);
        writePackage(c.rows);
        for (const std::vector<Reply> &connection : c.connections) server.script(connection);
        const size_t before = server.requests().size();
        Strings args = c.flags;
        // relative to the test's folder: the package must name the images from anywhere
        args.insert(args.end(), {package, fs::relative(target).string()});
        Outcome o = run(args);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.err, utf8(c.err));
        for (const std::string &piece : c.shown) EXPECT_TRUE(contains(o.out, utf8(piece))) << o.out;
        for (const std::string &piece : c.notShown) EXPECT_FALSE(contains(o.out + o.err, utf8(piece))) << piece;
        Strings all = server.requests(before + c.asked.size()), asked;
        for (size_t k = before; k < all.size(); k++) asked.push_back(all[k].substr(0, all[k].find(" HTTP/")));
        EXPECT_EQ(asked, c.asked);
        std::vector<Strings> links, left;
        std::string text;
        ASSERT_EQ(loadBack(package, &links, &text), 1);
        for (const Strings &paths : c.left) left.push_back(urls(paths));
        EXPECT_EQ(links, left);
        EXPECT_EQ(imagesMoved(), c.images);
        int paths = 0;
        const std::string folder = fs::canonical(target).string() + "/";
        for (size_t at = text.find(folder); at != std::string::npos; at = text.find(folder, at + 1)) paths++;
        EXPECT_EQ(paths, c.localPaths);
    }
}

// ---- moves that end early: status 3, the links moved so far written ----

/* Stopped while the second of three images is half received: that download
 * completes, the third is not asked for. */
TEST_F(ConsoleMove, InterruptOrTerminationEndsWithThreeAndWritesWhatMoved) {
    for (int number : {SIGINT, SIGTERM}) {
        fs::remove_all(target);
        fs::create_directory(target);
        writePackage({itemRow(u"一", img("/1.jpg")), itemRow(u"二", img("/2.jpg")), itemRow(u"三", img("/3.jpg"))});
        Reply slow;
        slow.pieces = {IMAGE.substr(0, IMAGE.size() - 4), IMAGE.substr(IMAGE.size() - 4)};
        slow.pauseMs = SLOW_REPLY_PAUSE_MS;
        server.script({reply(IMAGE), slow, reply(IMAGE)});
        const size_t before = server.requests().size();
        MoveProcess move(dir, {package, target});
        ASSERT_EQ(server.requests(before + 2).size(), before + 2);
        move.signal(number);
        EXPECT_EQ(move.wait(), 3) << number;
        EXPECT_TRUE(contains(move.err(), utf8("搬家已中止，已搬好的图片地址已写入数据包。\n"))) << move.err();
        EXPECT_EQ(move.out(), "");
        EXPECT_EQ(server.requests().size(), before + 2);
        EXPECT_EQ(imagesMoved(), 2u);
        std::vector<Strings> links;
        std::string text;
        EXPECT_EQ(loadBack(package, &links, &text), 1);
        EXPECT_EQ(links, (std::vector<Strings>{{}, {}, urls({"/3.jpg"})}));
    }
}

TEST_F(ConsoleMove, FileThatCannotBeCreatedEndsWithThree) {
    // a folder whose path just fits the platform's limit, and no image path in it
    const size_t length = PATH_SIZE - 8;
    std::string deep = dir.path();
    while (deep.size() + 203 <= length) deep += "/" + std::string(200, 'd');
    deep += "/" + std::string(length - deep.size() - 1, 'e');
    ASSERT_TRUE(fs::create_directories(deep));
    writePackage({itemRow(u"一", img("/1.jpg"))});
    const std::string bytes = readFile(package);
    Outcome o = run({package, deep});
    EXPECT_EQ(o.status, 3);
    EXPECT_TRUE(contains(o.err, utf8("图片搬家中断：无法创建新文件。"))) << o.err;
    EXPECT_EQ(server.connections(), 0);
    EXPECT_EQ(readFile(package), bytes);
}
