/* Connections and the pool: counted connect failures (time-outs and
 * refusals) against loopback listeners, and the idle connections pooled per
 * scheme, host and port. Waits are shortened; the program waits 10 s. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app_log.h"
#include "conn_pool.h"
#include "test_server.h"
#include "test_support.h"

class ConnPool : public testing::Test {
protected:
    ScratchDir dir;
    char message[ERR_MSG_SIZE] = {0};
    void SetUp() override {
        uint16_t version;
        netStartup(&version);
        openAppLog(dir.path().c_str());
        initConnTables();
        resetConnFailCounts();
        setNetTimeouts(300, 2000);
    }
    void TearDown() override { setNetTimeouts(NET_TIMEOUT_MS, NET_TIMEOUT_MS); }
    /* Connects to 127.0.0.1 at port; returns the message, "" on success. */
    std::string attempt(int port) {
        message[0] = '\0';
        SocketHandle s = connectHost(0, "127.0.0.1", port, message);
        netClose(s);
        return s ? "" : message;
    }
    /* How often a new pooled connection to port was logged. */
    int newSockets(int port) {
        std::string log = readFile(dir.file("app.log")), line = " 127.0.0.1:" + std::to_string(port) + " --- new socket()\r\n";
        int n = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) n++;
        return n;
    }
};

/* A listener whose accept queue is full, so that connects to it hang. */
struct FullListener {
    SocketHandle listener = 0;
    int port = 0;
    std::vector<SocketHandle> fillers;
    FullListener() {
        listener = netListenLoopback(0, &port);
        for (int i = 0; i < 16; i++) {
            SocketHandle s = netSocket();
            netSetNonBlocking(s, 1);
            int detail = 0;
            int started = netConnect(s, htonLoopback(), port);
            fillers.push_back(s);
            if (started == 0 && netWaitConnected(s, 300, &detail) == 0) break;  // the queue is full
        }
    }
    ~FullListener() {
        for (SocketHandle s : fillers) netClose(s);
        netClose(listener);
    }
    static uint32_t htonLoopback() {
        uint32_t address = 0;
        netResolve("127.0.0.1", &address);
        return address;
    }
};

TEST_F(ConnPool, FiveTimeOutsStopTheAttemptsUntilReset) {
    FullListener full;
    const std::string timeOut = "使用非阻塞方式连接超时。";
    for (int i = 0; i < 5; i++) EXPECT_EQ(attempt(full.port), timeOut);
    std::string refused = "127.0.0.1:" + std::to_string(full.port) + " - 连接失败已连续发生5次+";
    EXPECT_EQ(attempt(full.port), refused);
    EXPECT_EQ(attempt(full.port), refused);
    resetConnFailCounts();
    EXPECT_EQ(attempt(full.port), timeOut);
}

TEST_F(ConnPool, AnAnswerStartsTheCountAgain) {
    FullListener full;
    EXPECT_NE(attempt(full.port), "");
    UrlParts link = {(char *)"127.0.0.1", (char *)"/", full.port, 0};
    countHostFailure(&link);  // a silent host counts as well
    netClose(netAccept(full.listener, 1000));  // room for one more
    EXPECT_EQ(attempt(full.port), "");
    hostAnswered(&link);
    for (int i = 0; i < 4; i++) EXPECT_EQ(attempt(full.port), "使用非阻塞方式连接超时。");
    EXPECT_EQ(attempt(full.port), "使用非阻塞方式连接超时。");  // the fifth in a row is still tried
    hostAnswered(&link);  // a download begun before the fifth failure
    EXPECT_EQ(attempt(full.port), "127.0.0.1:" + std::to_string(full.port) + " - 连接失败已连续发生5次+");
}

TEST_F(ConnPool, RefusedConnectsAreFailuresButLookupsAreNot) {
    int port = 0;
    netClose(netListenLoopback(1, &port));  // a port with nobody listening
    for (int i = 0; i < 5; i++) EXPECT_EQ(attempt(port).rfind("使用非阻塞方式连接发生错误，错误码:", 0), 0u);
    EXPECT_EQ(attempt(port), "127.0.0.1:" + std::to_string(port) + " - 连接失败已连续发生5次+");
    EXPECT_EQ(connectHost(1, "127.0.0.1", port, message), 0u);  // https is counted apart: still tried
    EXPECT_EQ(std::string(message).rfind("使用非阻塞方式连接发生错误，错误码:", 0), 0u);
    for (int i = 0; i < 6; i++) EXPECT_EQ(connectHost(0, "", port, message), 0u);
    EXPECT_STREQ(message, "无法解析域名: ");
    EXPECT_EQ(connectHost(0, NULL, port, message), 0u);
    EXPECT_STREQ(message, "域名 = null");
}

TEST_F(ConnPool, PooledSocketsServeOneCallerAtATime) {
    TestServer a, b;
    UrlParts atA = {(char *)"127.0.0.1", (char *)"/", a.port(), 0};
    UrlParts atB = {(char *)"127.0.0.1", (char *)"/", b.port(), 0};
    Transport *first = poolAcquire(&atA, message);
    Transport *second = poolAcquire(&atA, message);  // the first is in use
    Transport *other = poolAcquire(&atB, message);
    ASSERT_TRUE(first && second && other);
    EXPECT_NE(first, second);
    poolKeep(&atA, first);
    EXPECT_EQ(poolAcquire(&atA, message), first);
    std::vector<Transport *> kept = {first, second};
    for (int i = 2; i <= CONNECTIONS_PER_HOST; i++) kept.push_back(poolAcquire(&atA, message));
    for (Transport *t : kept) poolKeep(&atA, t);  // one more than the pool keeps: closed
    for (int i = 0; i < CONNECTIONS_PER_HOST; i++) kept[(size_t)i] = poolAcquire(&atA, message);
    for (int i = 0; i < CONNECTIONS_PER_HOST; i++) poolKeep(&atA, kept[(size_t)i]);
    poolRelease(&atA);  // closes the idle ones: the next acquire connects anew
    transportClose(poolAcquire(&atA, message));
    transportClose(other);
    EXPECT_EQ(newSockets(a.port()), CONNECTIONS_PER_HOST + 2);
    EXPECT_EQ(newSockets(b.port()), 1);
}

TEST_F(ConnPool, ThePoolClosesItsLeastRecentlyUsedConnectionBeyondItsLimit) {
    std::vector<SocketHandle> listeners;
    std::vector<UrlParts> links;
    for (int i = 0; i <= POOL_CONNECTION_LIMIT; i++) {
        int port = 0;
        listeners.push_back(netListenLoopback(1, &port));
        links.push_back({(char *)"127.0.0.1", (char *)"/", port, 0});
    }
    std::vector<Transport *> idle;
    for (int i = 0; i < POOL_CONNECTION_LIMIT; i++) idle.push_back(poolAcquire(&links[i], message));
    for (int i = 0; i < POOL_CONNECTION_LIMIT; i++) poolKeep(&links[i], idle[(size_t)i]);
    poolKeep(&links[0], poolAcquire(&links[0], message));  // now the second is the oldest
    poolKeep(&links[POOL_CONNECTION_LIMIT], poolAcquire(&links[POOL_CONNECTION_LIMIT], message));
    EXPECT_EQ(poolSize(), (int)POOL_CONNECTION_LIMIT);
    transportClose(poolAcquire(&links[0], message));
    transportClose(poolAcquire(&links[1], message));  // it was closed, so it is connected anew
    EXPECT_EQ(newSockets(links[0].port), 1);
    EXPECT_EQ(newSockets(links[1].port), 2);
    poolCloseAll();
    for (SocketHandle l : listeners) netClose(l);
}
