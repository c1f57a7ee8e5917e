/* Image download against the scripted loopback server: the cases are files
 * under data/download run by one engine here, and a chunked body is cut at
 * many bytes.
 *
 * A case file has a server part and a client part; "#" lines are comments,
 * the first of them names the case. Texts take \r \n \t \\ \xHH, \{N:C} for
 * N copies of C, and {port} for the server's port; expected messages and log
 * texts are written in UTF-8 and compared in GBK.
 *   server:  listen PORT | timeouts CONNECT_MS IO_MS | limits WINDOW_MS DEADLINE_MS
 *            connection (starts the next connection's steps) | request |
 *            send TEXT | pause MS | drip MS TEXT | flood MS TEXT | close | reset
 *   client:  get keep-alive|close PATH-OR-LINK, then what that download must
 *            give: result N | message TEXT | message-starts TEXT |
 *            target NAME (the file to write, before get) | file none | file TEXT | size N | pooled N | connections N |
 *            requests N | request I TEXT (request I holds TEXT) | log N TEXT */
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app_log.h"
#include "charset.h"
#include "conn_pool.h"
#include "download.h"
#include "file_helpers.h"
#include "http_exchange.h"
#include "test_server.h"
#include "test_support.h"

/* The bytes a case text stands for. */
static std::string unescape(const std::string &text, int port) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text.compare(i, 6, "{port}") == 0) {
            out += std::to_string(port);
            i += 5;
        } else if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
        } else if (text[++i] == 'x') {
            out += (char)std::stoi(text.substr(i + 1, 2), nullptr, 16);
            i += 2;
        } else if (text[i] == '{') {
            size_t colon = text.find(':', i), close = text.find('}', colon + 2);
            out += std::string(std::stoul(text.substr(i + 1, colon - i - 1)), text[colon + 1]);
            i = close;
        } else {
            out += text[i] == 'r' ? '\r' : text[i] == 'n' ? '\n' : text[i] == 't' ? '\t' : text[i];
        }
    }
    return out;
}

static std::string gbk(const std::string &utf8) {
    std::string out(utf8.size() * 2 + 1, '\0');
    size_t written = 0;
    convertCharset("utf-8", "GBK", utf8.data(), utf8.size(), &out[0], out.size(), &written);
    out.resize(written);
    return out;
}

static int occurrences(const std::string &text, const std::string &part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
    return n;
}

/* One line of a case: its word and the rest. */
struct CaseLine {
    int number;
    std::string word, rest;
};

/* The case's lines, comments and blank lines left out; name gets the first
 * comment. */
static std::vector<CaseLine> readCase(const std::string &path, std::string *name) {
    std::ifstream in(path);
    std::vector<CaseLine> lines;
    std::string line;
    for (int number = 1; std::getline(in, line); number++) {
        if (line.empty()) continue;
        if (line[0] == '#') {
            if (name->empty()) *name = line.substr(line.find_first_not_of("# "));
            continue;
        }
        size_t space = line.find(' ');
        lines.push_back({number, line.substr(0, space), space == std::string::npos ? "" : line.substr(space + 1)});
    }
    return lines;
}

/* The step words in the order of Step::Kind. */
static const char *const STEP_WORDS[] = {"request", "send", "pause", "drip", "flood", "close", "reset"};

/* The server part: its settings and connection scripts. Returns the
 * position of the client part. */
static size_t readServer(const std::vector<CaseLine> &lines, int *listenPort, std::vector<std::vector<Step>> *scripts) {
    int connectMs = 1000, ioMs = 1000, windowMs = LOW_SPEED_WINDOW_MS, deadlineMs = IMAGE_DEADLINE_MS;
    size_t i = 0;
    for (; i < lines.size() && lines[i].word != "client"; i++) {
        const CaseLine &l = lines[i];
        std::istringstream args(l.rest);
        const char *const *kind = std::find(std::begin(STEP_WORDS), std::end(STEP_WORDS), l.word);
        if (l.word == "listen") args >> *listenPort;
        else if (l.word == "timeouts") args >> connectMs >> ioMs;
        else if (l.word == "limits") args >> windowMs >> deadlineMs;
        else if (l.word == "connection") scripts->push_back({});
        else if (l.word == "server") continue;
        else if (scripts->empty()) ADD_FAILURE() << "line " << l.number << ": a step before any connection";
        else if (kind == std::end(STEP_WORDS)) ADD_FAILURE() << "line " << l.number << ": unknown step " << l.word;
        else {
            bool timed = *kind == std::string("pause") || *kind == std::string("drip") || *kind == std::string("flood");
            size_t space = l.rest.find(' ');
            std::string bytes = !timed ? l.rest : space == std::string::npos ? "" : l.rest.substr(space + 1);
            scripts->back().push_back({(Step::Kind)(kind - STEP_WORDS), bytes, timed ? std::stoi(l.rest) : 0});
        }
    }
    setNetTimeouts(connectMs, ioMs);
    setTransferLimits(windowMs, deadlineMs);
    return i + 1;
}

class Download : public testing::Test {
protected:
    ScratchDir dir;
    std::string target;
    char message[ERR_MSG_SIZE] = {0};
    size_t logStart = 0;  // where the case in hand began in app.log

    void SetUp() override {
        openAppLog(dir.path().c_str());
        initConnTables();
        setNetTimeouts(1000, 1000);
    }
    void TearDown() override {
        setNetTimeouts(NET_TIMEOUT_MS, NET_TIMEOUT_MS);
        setTransferLimits(LOW_SPEED_WINDOW_MS, IMAGE_DEADLINE_MS);
    }
    void check(const CaseLine &l, TestServer &server, int result);
    void runCase(const std::string &path);
};

/* Checks one expectation of the download just made. */
void Download::check(const CaseLine &l, TestServer &server, int result) {
    SCOPED_TRACE("line " + std::to_string(l.number));
    std::string text = unescape(l.rest, server.port());
    std::istringstream args(l.rest);
    int n = -1;
    args >> n;
    std::string after = text.substr(text.find(' ') + 1);
    if (l.word == "result") EXPECT_EQ(result, n) << message;
    else if (l.word == "message") EXPECT_EQ(std::string(message), gbk(text));
    else if (l.word == "message-starts") EXPECT_EQ(std::string(message).rfind(gbk(text), 0), 0u) << message;
    else if (l.word == "target") target = dir.file(l.rest);
    else if (l.word == "file" && l.rest == "none") EXPECT_EQ(fileExists(target.c_str()), 0);
    else if (l.word == "file") EXPECT_EQ(readFile(target), text);
    else if (l.word == "size") EXPECT_EQ(fileLength(target.c_str()), n);
    else if (l.word == "pooled") EXPECT_EQ(poolSize(), n);
    else if (l.word == "connections") EXPECT_EQ(server.connections(), n);
    else if (l.word == "requests") EXPECT_EQ(server.requests((size_t)n).size(), (size_t)n);
    else if (l.word == "request") EXPECT_NE(server.requests((size_t)n + 1).at((size_t)n).find(after), std::string::npos);
    else if (l.word == "log") EXPECT_EQ(occurrences(readFile(dir.file("app.log")).substr(logStart), gbk(after)), n) << after;
    else ADD_FAILURE() << "unknown expectation " << l.word;
}

void Download::runCase(const std::string &path) {
    std::string name;
    std::vector<CaseLine> lines = readCase(path, &name);
    SCOPED_TRACE(path + ": " + name);
    int listenPort = 0;
    std::vector<std::vector<Step>> scripts;
    size_t client = readServer(lines, &listenPort, &scripts);
    TestServer server(listenPort);
    if (!server.listening()) {
        printf("skipped %s: port %d cannot be had here\n", path.c_str(), listenPort);
        return;
    }
    for (std::vector<Step> &steps : scripts) {
        for (Step &step : steps) step.bytes = unescape(step.bytes, server.port());
        server.scriptSteps(steps);
    }
    int result = 0;
    target = dir.file("image.jpg");
    logStart = readFile(dir.file("app.log")).size();
    for (size_t i = client; i < lines.size(); i++) {
        const CaseLine &l = lines[i];
        if (l.word != "get") {
            check(l, server, result);
            continue;
        }
        std::string link = l.rest.substr(l.rest.find(' ') + 1);
        if (link[0] == '/') link = "http://127.0.0.1:{port}" + link;
        message[0] = '\0';
        result = downloadToFile(unescape(link, server.port()).c_str(), target.c_str(), message,
                                l.rest.rfind("keep-alive", 0) == 0, 0);
    }
    poolCloseAll();
    resetConnFailCounts();
}

TEST_F(Download, HostileServerCases) {
    std::istringstream names(LUMORA_DOWNLOAD_CASES);
    for (std::string name; std::getline(names, name, ',');) runCase(std::string(LUMORA_DOWNLOAD_CASE_DIR "/") + name);
}

/* A chunked response: sizes as hex with "0x", an extension, a chunk larger
 * than the buffer; and the body it decodes to. */
static const std::string BIG(20000, 'b');
static const std::string CHUNKED = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n\xFF\xD8" "abc\r\n"
                                   "1a;name=value\r\nabcdefghijklmnopqrstuvwxyz\r\n0x3\r\nxyz\r\n4e20\r\n" + BIG + "\r\n0\r\n\r\n";
static const std::string DECODED = "\xFF\xD8" "abcabcdefghijklmnopqrstuvwxyzxyz" + BIG;

TEST_F(Download, ChunkedBodyCutAtAnyByteDecodesTheSame) {
    TestServer server;
    target = dir.file("image.jpg");
    std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/chunked.jpg";
    size_t bodyStart = CHUNKED.find("\r\n\r\n") + 4, tail = CHUNKED.size() - 12;
    for (size_t cut = bodyStart - 2; cut < CHUNKED.size(); cut = cut == bodyStart + 70 ? tail : cut + 1) {
        Reply split;
        split.pieces = {CHUNKED.substr(0, cut), CHUNKED.substr(cut)};
        split.pauseMs = 5;
        server.script({split});
        ASSERT_EQ(downloadToFile(url.c_str(), target.c_str(), message, 1, 0), 1) << "cut at " << cut << ": " << message;
        ASSERT_EQ(readFile(target), DECODED) << "cut at " << cut;
        poolCloseAll();
    }
}
