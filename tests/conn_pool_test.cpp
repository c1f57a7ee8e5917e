/* Connections and the pool: counted connect failures against loopback
 * listeners, and the idle connections pooled per scheme, host and port. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app_log.h"
#include "conn_pool.h"
#include "host_failures.h"
#include "test_server.h"
#include "tls_hosts.h"
#include "test_support.h"

class ConnPool : public testing::Test {
protected:
    ScratchDir dir;
    char message[ERR_MSG_SIZE] = {0};
    DownloadContext context = processContext();
    void SetUp() override {
        uint16_t version;
        netStartup(&version);
        openAppLog(dir.path().c_str());
        initHostFailures();
        resetConnFailCounts();
        setNetTimeouts(300, 2000);
    }
    void TearDown() override { setNetTimeouts(NET_TIMEOUT_MS, NET_TIMEOUT_MS); }
    /* Connects to host at port; returns the message, "" on success. */
    std::string attempt(int port, const char *host = "127.0.0.1", int https = 0) {
        message[0] = '\0';
        UrlParts link = {(char *)host, (char *)"/", port, https};
        Transport *t = connectLink(&context, &link, message, NULL);
        connectionClose(t);
        return t ? "" : message;
    }
    /* How often a new pooled connection to port was logged. */
    int newSockets(int port) {
        return occurrences(readFile(dir.file("app.log")), " 127.0.0.1:" + std::to_string(port) + " --- new socket()\r\n");
    }
};

static const std::string CONNECT_ERROR = "使用非阻塞方式连接发生错误，错误码:";
static std::string givenUp(int port) { return "127.0.0.1:" + std::to_string(port) + " - 连接失败已连续发生5次+"; }

/* A listener whose accept queue is full, so that connects to it hang. */
struct FullListener {
    SocketHandle listener = 0;
    int port = 0;
    std::vector<SocketHandle> fillers;
    FullListener() {
        listener = netListenLoopback(0, &port);
        NetAddress loopback = {};
        netResolve("127.0.0.1", &loopback, 1);
        for (int i = 0, detail = 0; i < 16; i++) {
            fillers.push_back(netSocket(0));
            netSetNonBlocking(fillers.back(), 1);
            if (netConnect(fillers.back(), &loopback, port) == 0 && netWaitConnected(fillers.back(), 300, &detail) == 0) break;
        }
    }
    ~FullListener() {
        for (SocketHandle s : fillers) netClose(s);
        netClose(listener);
    }
};

/* Steps against a listener that never answers: t an attempt that times out, g one given up without trying, o one
 * that connects; R counts reset, F a silent host counted, X room for one connection, A the host answered (as a
 * download begun before the fifth failure does). Against a port nobody listens at: r a refused attempt, G one
 * given up, s an https one at a host known to speak TLS, so not tried over http (counted apart) and n a host that
 * cannot be looked up (never counted). */
TEST_F(ConnPool, FiveFailuresInARowStopTheAttemptsUntilAnAnswerOrAReset) {
    FullListener full;
    int refused = 0;
    netClose(netListenLoopback(1, &refused));
    UrlParts link = {(char *)"127.0.0.1", (char *)"/", full.port, 0};
    const std::string steps = "tttttggRtFXoAtttttAg" "rrrrrGsnnnnnn";
    for (size_t i = 0; i < steps.size(); i++) {
        const char c = steps[i];
        if (c == 's') tlsHostAgreed("127.0.0.1");
        if (c == 'R') resetConnFailCounts();
        else if (c == 'F') countHostFailure(processFailureCounts(), &link);
        else if (c == 'X') netClose(netAccept(full.listener, 1000));
        else if (c == 'A') hostAnswered(processFailureCounts(), &link);
        else if (c == 'G') EXPECT_EQ(attempt(refused), givenUp(refused));
        else if (c == 'r' || c == 's') EXPECT_EQ(attempt(refused, "127.0.0.1", c == 's').rfind(CONNECT_ERROR, 0), 0u) << i;
        else if (c == 'n') EXPECT_EQ(attempt(refused, ""), "无法解析域名: ");
        else EXPECT_EQ(attempt(full.port), c == 't' ? "使用非阻塞方式连接超时。" : c == 'g' ? givenUp(full.port) : "") << i;
    }
}

TEST_F(ConnPool, PooledSocketsServeOneCallerAtATime) {
    TestServer a, b;
    UrlParts atA = {(char *)"127.0.0.1", (char *)"/", a.port(), 0};
    UrlParts atB = {(char *)"127.0.0.1", (char *)"/", b.port(), 0};
    Transport *first = poolAcquire(&context, &atA, message, NULL), *second = poolAcquire(&context, &atA, message, NULL),
              *other = poolAcquire(&context, &atB, message, NULL);
    ASSERT_TRUE(first && second && other);
    EXPECT_NE(first, second);  // the first is in use
    poolKeep(&atA, first);
    EXPECT_EQ(poolAcquire(&context, &atA, message, NULL), first);
    std::vector<Transport *> kept = {first, second};
    for (int i = 2; i < CONNECTIONS_PER_HOST; i++) kept.push_back(poolAcquire(&context, &atA, message, NULL));
    for (Transport *t : kept) poolKeep(&atA, t);
    for (int i = 0; i < CONNECTIONS_PER_HOST; i++) kept[(size_t)i] = poolAcquire(&context, &atA, message, NULL);
    for (int i = 0; i < CONNECTIONS_PER_HOST; i++) poolKeep(&atA, kept[(size_t)i]);
    poolCloseAll();  // closes the idle ones: the next acquire connects anew
    connectionClose(poolAcquire(&context, &atA, message, NULL));
    connectionClose(other);
    EXPECT_EQ(newSockets(a.port()), CONNECTIONS_PER_HOST + 1);
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
    for (int i = 0; i < POOL_CONNECTION_LIMIT; i++) poolKeep(&links[i], poolAcquire(&context, &links[i], message, NULL));
    poolKeep(&links[0], poolAcquire(&context, &links[0], message, NULL));  // now the second is the oldest
    poolKeep(&links[POOL_CONNECTION_LIMIT], poolAcquire(&context, &links[POOL_CONNECTION_LIMIT], message, NULL));
    // every other one is still pooled: it is not connected anew
    for (int i = 0; i <= POOL_CONNECTION_LIMIT; i++) connectionClose(poolAcquire(&context, &links[i], message, NULL));
    for (int i = 0; i <= POOL_CONNECTION_LIMIT; i++) EXPECT_EQ(newSockets(links[i].port), i == 1 ? 2 : 1) << i;
    poolCloseAll();
    for (SocketHandle l : listeners) netClose(l);
}
