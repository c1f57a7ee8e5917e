/* Fetch into memory against the scripted loopback server: what is taken,
 * what is refused, and how the body is assembled. */
#include <gtest/gtest.h>

#include <string>

#include "app_log.h"
#include "conn_pool.h"
#include "fetch_memory.h"
#include "test_server.h"
#include "test_support.h"

class FetchMemory : public testing::Test {
protected:
    ScratchDir dir;
    TestServer server;
    void SetUp() override {
        openAppLog(dir.path().c_str());
        initConnTables();
    }
    FetchResult *fetch(const Reply &r) {
        server.script({r});
        return fetchToMemory(("http://127.0.0.1:" + std::to_string(server.port()) + "/notice").c_str());
    }
};

TEST_F(FetchMemory, AssemblesTheBodyAcrossReads) {
    std::string body(20000, 'n');
    Reply split;
    split.pieces = {"HTTP/1.0 200 OK\r\nContent-Length: 20000\r\n\r\n" + body.substr(0, 100), body.substr(100)};
    split.pauseMs = 5;
    FetchResult *r = fetch(split);
    ASSERT_EQ(r->ok, 1) << r->data;
    EXPECT_EQ(r->length, 20000);
    EXPECT_EQ(std::string(r->data), body);
    EXPECT_STREQ(r->header, "HTTP/1.0 200 OK\r\nContent-Length: 20000");
    freeFetchResult(r);

    r = fetch(reply("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", true));
    EXPECT_TRUE(r->ok == 1 && r->length == 0 && r->data[0] == '\0');
    freeFetchResult(r);
}

TEST_F(FetchMemory, RefusesWhatItCannotTakeWhole) {
    std::string moved = "HTTP/1.1 301 Moved Permanently\r\nLocation: http://h/x\r\n" + std::string(300, 'p');
    struct Case { std::string response; std::string data; bool header; };
    const Case cases[] = {
        {"http/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx", "返回错误的http状态码:\nhttp/1.1 200 OK\r\nContent-Length: 1", false},
        {moved + "\r\n\r\n", "返回错误的http状态码:\n" + moved.substr(0, 256), false},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nx\r\n0\r\n\r\n", "http header 中没找到 Content-Length 字段", true},
        {"HTTP/1.1 200 OK\r\nContent-Length: 10485761\r\n\r\n", "fileSize=0, header.contentLength: 10485761, 大于10M", true},
        {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nabc", "图片大小:2, http header 返回的 Content-Length:2", true},
        {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhalf", "图片大小:10, 实际接收到的文件大小:4, ret:0, errno:", true},
        {"HTTP/1.1 200 OK\r\n", "图片大小:4294967295, 实际接收到的文件大小:17, ret:0, errno:", false},
    };
    for (const Case &c : cases) {
        FetchResult *r = fetch(reply(c.response, true));
        EXPECT_TRUE(r->ok == 0 && r->failKind == FETCH_REFUSED) << c.data;
        EXPECT_EQ(std::string(r->data).rfind(c.data, 0), 0u) << r->data;
        EXPECT_EQ(r->header != nullptr, c.header) << c.data;
        freeFetchResult(r);
    }
}

TEST_F(FetchMemory, NoExchangeWithoutALinkOrAHost) {
    for (auto c : {std::make_pair("ftp://h/x", "无法parse下载图片地址"), std::make_pair("http:///notice", "无法解析域名: ")}) {
        FetchResult *r = fetchToMemory(c.first);
        EXPECT_EQ(r->failKind, FETCH_NO_EXCHANGE);
        EXPECT_STREQ(r->data, c.second);
        freeFetchResult(r);
    }
}
