/* Image download against the scripted loopback server: the request bytes,
 * keep-alive and its repetition, statuses, redirects, size limits, chunked
 * bodies cut at every byte, and every refusal leaving no file behind. */
#include <gtest/gtest.h>

#include <string>

#include "app_log.h"
#include "conn_pool.h"
#include "download.h"
#include "file_helpers.h"
#include "test_server.h"
#include "test_support.h"

static const std::string JPEG = std::string("\xFF\xD8\xFF\xE0", 4) + "jpeg body";
static const std::string PNG = std::string("\x89PNG\r\n\x1A\n", 8) + "png body";

/* A 200 response with a Content-Length and the extra header lines. */
static std::string ok(const std::string &body, const std::string &extra = "") {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

class Download : public testing::Test {
protected:
    ScratchDir dir;
    TestServer server;
    std::string target = dir.file("image.jpg");
    char message[ERR_MSG_SIZE] = {0};

    void SetUp() override {
        openAppLog(dir.path().c_str());
        initConnTables();
        resetConnFailCounts();
        setNetTimeouts(1000, 1000);
    }
    void TearDown() override { setNetTimeouts(NET_TIMEOUT_MS, NET_TIMEOUT_MS); }
    std::string url(const std::string &path) { return "http://127.0.0.1:" + std::to_string(server.port()) + path; }
    int get(const std::string &path, int keepAlive) {
        message[0] = '\0';
        return downloadToFile(url(path).c_str(), target.c_str(), message, keepAlive, 0);
    }
    /* Serves one response on a fresh connection that closes after it. */
    void once(const std::string &response) { server.script({reply(response, true)}); }
    int logLines(const std::string &text) {
        std::string log = readFile(dir.file("app.log"));
        int n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) n++;
        return n;
    }
};

TEST_F(Download, RequestsTheLinkAsWrittenAndKeepsTheConnection) {
    server.script({reply(ok(JPEG)), reply(ok(PNG))});
    ASSERT_EQ(get("/a b.jpg?x=1&amp;y=2", 1), 1) << message;
    EXPECT_EQ(readFile(target), JPEG);
    ASSERT_EQ(get("/c.png", 1), 1) << message;
    EXPECT_EQ(readFile(target), PNG);
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(server.requests().at(0),
              "GET /a%20b.jpg?x=1&y=2 HTTP/1.1\r\nAccept: */*\r\nAccept-Language: zh-cn\r\nUser-Agent: Mozilla/4.0 "
              "(compatible; MSIE 8.0; Windows NT 5.2; Trident/4.0; CIBA)\r\nHost: 127.0.0.1:" +
                  std::to_string(server.port()) + "\r\nConnection: keep-alive\r\n\r\n");
    closePooled(url("/"));
}

TEST_F(Download, FailedKeepAliveAttemptIsRepeatedOnceWithoutIt) {
    const std::string notFound = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
    once(notFound);
    once(notFound);
    EXPECT_EQ(get("/x.jpg", 1), DOWNLOAD_FAILED);
    EXPECT_STREQ(message, "404 Not Found - 文件不存在");
    EXPECT_EQ(logLines("(useKeepAlive:1)，返回的错误信息：\r\n404 Not Found - 文件不存在\r\n"), 1);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].rfind("GET /x.jpg HTTP/1.0\r\n", 0), 0u);
    EXPECT_NE(server.requests()[1].find("\r\nConnection: close\r\n\r\n"), std::string::npos);
    EXPECT_EQ(fileExists(target.c_str()), 0);
}

TEST_F(Download, OnlyA200WithAReasonStartingOkIsTaken) {
    struct Case { std::string status; int result; };
    const Case cases[] = {{"HTTP/1.1 200 ok", 1}, {"HTTP/1.0 200 OKAY", 1}, {"HTTP/1.1 200", -1},
                          {"HTTP/1.1 500 Server Error", -1}, {"HTTP/1.1 302 Found", -1}};
    for (const Case &c : cases) {
        once(c.status + "\r\nContent-Length: " + std::to_string(JPEG.size()) + "\r\n\r\n" + JPEG);
        EXPECT_EQ(get("/s.jpg", 0), c.result) << c.status;
        if (c.result != 1) {
            EXPECT_EQ(std::string(message), "返回错误的http状态码:\n" + c.status + "\r\nContent-Length: 13\r\n\r\n" + JPEG);
        }
    }
}

TEST_F(Download, FollowsOneRedirectWithKeepAlive) {
    server.script({reply("HTTP/1.1 302 Found\r\nLocation: " + url("/b.jpg_.webp") +
                         "\r\nConnection: keep-alive\r\nContent-Length: 0\r\n\r\n"),
                   reply(ok(JPEG))});
    ASSERT_EQ(get("/a.jpg", 1), 1) << message;
    EXPECT_EQ(readFile(target), JPEG);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].rfind("GET /b.jpg HTTP/1.1\r\n", 0), 0u);
    closePooled(url("/"));

    const std::string again = "HTTP/1.1 302 Found\r\nLocation: " + url("/c.jpg") + "\r\n\r\n";
    for (int i = 0; i < 3; i++) once(again);  // first, its redirect, and that one's repetition
    EXPECT_EQ(get("/a.jpg", 0), DOWNLOAD_FAILED);
    EXPECT_EQ(std::string(message).rfind("返回错误的http状态码:\nHTTP/1.1 302 Found", 0), 0u);
}

TEST_F(Download, BodiesUpTo10MBAreTaken) {
    std::string body = JPEG + std::string(10485760 - JPEG.size(), 'x');
    once(ok(body));
    EXPECT_EQ(get("/big.jpg", 0), 1) << message;
    EXPECT_EQ(fileLength(target.c_str()), 10485760);
    once("HTTP/1.1 200 OK\r\nContent-Length: 10485761\r\n\r\n" + JPEG);
    EXPECT_EQ(get("/bigger.jpg", 0), 0);
    EXPECT_STREQ(message, "fileSize=0, header.contentLength: 10485761, 大于10M");
    EXPECT_EQ(fileExists(target.c_str()), 0);
}

TEST_F(Download, RefusalsLeaveNoFile) {
    struct Case { std::string response; int result; std::string message; };
    const Case cases[] = {
        {ok(JPEG, "Content-Encoding: gzip\r\n"), -1, "header.contentEncoding:gzip"},
        {ok("<html>"), 0, "下载的图片格式不受支持"},
        {ok("\xFF"), 0, "下载的图片格式不受支持"},
        {"HTTP/1.1 200 OK\r\nX-Big: " + std::string(8200, 'a') + "\r\n\r\n", -1,
         "读取 HTTP_BUFFER_SIZE 字节, 还没有读取完整个 HTTP Head."},
        {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n" + JPEG, 0,
         "readTotal > fileSize, 当前下载的文件数据大小:13, fileSize:3"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n" + JPEG, 0, "图片大小:20, 实际接收到的文件大小:13, ret:0, errno:"},
    };
    for (const Case &c : cases) {
        once(c.response);
        EXPECT_EQ(get("/r.jpg", 0), c.result) << c.message;
        EXPECT_EQ(std::string(message).rfind(c.message, 0), 0u) << message;
        EXPECT_EQ(fileExists(target.c_str()), 0);
    }
    message[0] = '\0';
    std::string nowhere = dir.file("missing") + "/x.jpg";
    server.script({reply(ok(JPEG))});
    EXPECT_EQ(downloadToFile(url("/c.jpg").c_str(), nowhere.c_str(), message, 1, 0), DOWNLOAD_CREATE_ERROR);
    EXPECT_STREQ(message, "图片搬家失败：无法创建新文件。");
    EXPECT_EQ(server.requests(7).size(), 7u);  // not repeated
}

/* A chunked response: sizes as hex with "0x", an extension, a chunk larger
 * than the buffer; and the body it decodes to. */
static const std::string BIG(20000, 'b');
static const std::string CHUNKED = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n\xFF\xD8" "abc\r\n"
                                   "1a;name=value\r\nabcdefghijklmnopqrstuvwxyz\r\n0x3\r\nxyz\r\n4e20\r\n" + BIG + "\r\n0\r\n\r\n";
static const std::string DECODED = "\xFF\xD8" "abcabcdefghijklmnopqrstuvwxyzxyz" + BIG;

TEST_F(Download, ChunkedBodyCutAtAnyByteDecodesTheSame) {
    size_t bodyStart = CHUNKED.find("\r\n\r\n") + 4, tail = CHUNKED.size() - 12;
    for (size_t cut = bodyStart - 2; cut < CHUNKED.size(); cut = cut == bodyStart + 70 ? tail : cut + 1) {
        Reply split;
        split.pieces = {CHUNKED.substr(0, cut), CHUNKED.substr(cut)};
        split.pauseMs = 5;
        server.script({split});
        ASSERT_EQ(get("/chunked.jpg", 1), 1) << "cut at " << cut << ": " << message;
        ASSERT_EQ(readFile(target), DECODED) << "cut at " << cut;
        closePooled(url("/"));
    }
}

TEST_F(Download, ChunkedBodyIsWholeOnlyWithItsLastChunk) {
    once(CHUNKED.substr(0, CHUNKED.size() - 5000));  // the server closes inside the last data chunk
    EXPECT_EQ(get("/cut.jpg", 0), 0);
    EXPECT_EQ(std::string(message).rfind("图片大小:4294967295, 实际接收到的文件大小:15041, ret:0", 0), 0u) << message;
    EXPECT_EQ(fileExists(target.c_str()), 0);
    once("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nfffffffff\r\n\xFF\xD8");
    EXPECT_EQ(get("/huge.jpg", 0), DOWNLOAD_FAILED);
    EXPECT_STREQ(message, "不正常: 这里就有问题了, chunksize:-1");
}

TEST_F(Download, KeepAliveResponseWithoutLengthIsFetchedAgain) {
    const std::string unsized = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + JPEG;
    once(unsized);
    once(unsized);
    EXPECT_EQ(get("/u.jpg", 1), 1) << message;
    EXPECT_EQ(readFile(target), JPEG);
    EXPECT_EQ(logLines("(fileSize:未定义, readTotal:13), (header.isChunked:0, isChunkReceiveCompleted:0)"), 1);
}

TEST_F(Download, ConnectionClosedByTheServerIsReplaced) {
    server.script({reply(ok(JPEG), true)});  // answers with keep-alive, then closes
    server.script({reply(ok(PNG), true)});
    server.script({reply(ok(JPEG))});
    EXPECT_EQ(get("/1.jpg", 1), 1) << message;
    EXPECT_EQ(get("/2.png", 1), 1) << message;
    EXPECT_EQ(readFile(target), PNG);
    EXPECT_EQ(get("/3.jpg", 1), 1) << message;
    EXPECT_EQ(server.connections(), 3);
    EXPECT_EQ(logLines("/2.png(useKeepAlive:1)"), 1);
    EXPECT_EQ(logLines(" --- new socket()"), 2);
    closePooled(url("/"));
}
